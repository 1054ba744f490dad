// Writing a file so that readers see either the old file or the complete new
// one: the data go to a temporary file beside the target, are flushed to
// disk, and the temporary file is renamed over the target.
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
