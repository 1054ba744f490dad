// Writing a file so that readers see either the old file or the complete new
// one: the data go to a temporary file beside the target, are flushed to
// disk, and the temporary file is renamed over the target.
//
// What is replaced is the file the target finally names: a target that is a
// symbolic link (or a chain of them) stays a link, and the file at its end is
// written (created when the link dangles); the temporary file lies beside
// that file, so that the rename stays within one file system. The new file
// keeps the permission bits of the file it replaces; a new file gets 0666
// less the umask, as any file a program creates.
//
// A writer killed (by any signal) or stopped by a crash or a power cut before
// the rename leaves its temporary file behind, named "<file>.tmp.XXXXXX" (the
// final file's name, ".tmp." and six random letters and digits). The target
// itself is untouched. No later run reads, reuses or removes such a file:
// each run makes a temporary of its own, so a leftover is harmless and is
// left for the user to delete.
//
// (io/atomic_output.h writes the database the same way.)
#pragma once

#include <stdexcept>
#include <string>

namespace gen {

// Thrown with a one-line message naming the file and the reason.
class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void write_file_atomically(const std::string& path, const void* data, std::size_t size);
void write_file_atomically(const std::string& path, const std::string& data);

}  // namespace gen
