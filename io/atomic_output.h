// Files that are either complete or absent.
//
// An AtomicOutput writes to a temporary file beside its target; commit()
// flushes it to the disk and renames it over the target, so that a reader (or
// a crash, or a kill) sees either the old file or the complete new one, never
// a half-written one. A file not committed is removed when the object goes.
//
// What is replaced is the file the target finally names: a target that is a
// symbolic link (or a chain of them) stays a link, and the file at its end is
// written (created when the link dangles); the temporary file lies beside
// that file, so that the rename stays within one file system. The new file
// keeps the permission bits of the file it replaces; a new file gets 0666
// less the umask, as any file a program creates.
//
// A target that is not a regular file is written in place, with no
// temporary file and no rename: a device, a FIFO or a terminal (the file at
// the end of its links), and a name of one of the process's open
// descriptors ("/dev/stdout", "/dev/stderr", "/dev/fd/N", "/proc/self/fd/N"),
// which is written through that descriptor. Such a target sees the data as
// it is written; nothing of it is atomic. A folder is refused.
//
// A writer killed (by any signal) or stopped by a crash or a power cut before
// commit() leaves its temporary file behind, named "<file>.tmp.XXXXXX" (the
// final file's name, ".tmp." and six random letters and digits). The target
// itself is untouched. No later run reads, reuses or removes such a file:
// each run makes a temporary of its own, so a leftover is harmless and is
// left for the user to delete.
#ifndef TI_ATOMIC_OUTPUT_H
#define TI_ATOMIC_OUTPUT_H

#include <cstdio>
#include <string>

class AtomicOutput {
 public:
  // Creates the temporary file; raises a DataError naming `target` when it
  // cannot.
  explicit AtomicOutput(const std::string& target);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  // The stream to write to.
  FILE* stream() const { return stream_; }

  // Flushes, syncs and renames into place. Raises a DataError naming the
  // target on any write error (a full disk, no permission), after removing
  // the temporary file; the previous target is then untouched.
  void commit();

 private:
  std::string target_;  // as given, for messages
  std::string final_;   // the file replaced: target_ with its links followed
  std::string temp_;
  FILE* stream_ = nullptr;
  bool done_ = false;
  bool in_place_ = false;  // written straight into a device, FIFO or descriptor
};

// Writes `data` as the whole content of `path` through an AtomicOutput.
// Raises a DataError naming `path` when it cannot.
void write_file_atomically(const std::string& path, const std::string& data);

#endif
