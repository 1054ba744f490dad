// Shared pieces of the reader harnesses.
//
// The readers take a path, so each harness keeps one private in-memory file
// (memfd) and rewrites it with every input; the readers open it through
// /proc/self/fd/N, where fstat sees a regular file of the input's size, just
// as with a file on disk, and nothing is written to the disk per execution.
#ifndef TI_FUZZ_SUPPORT_H
#define TI_FUZZ_SUPPORT_H

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Ends the run with a report: libFuzzer keeps the input as a crash.
[[noreturn]] inline void fuzz_fail(const char* what) {
  std::fprintf(stderr, "fuzz harness: %s\n", what);
  std::abort();
}

#define FUZZ_CHECK(cond)                                                                        \
  do {                                                                                          \
    if (!(cond)) fuzz_fail("check failed: " #cond " (" __FILE__ ":" TI_FUZZ_STR(__LINE__) ")"); \
  } while (0)
#define TI_FUZZ_STR2(x) #x
#define TI_FUZZ_STR(x) TI_FUZZ_STR2(x)

// One private file whose whole content is replaced by write().
class MemoryFile {
 public:
  explicit MemoryFile(const char* name) {
    fd_ = memfd_create(name, 0);
    if (fd_ < 0) fuzz_fail("memfd_create failed");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  void write(const uint8_t* data, size_t size) {
    if (ftruncate(fd_, 0) != 0) fuzz_fail("ftruncate failed");
    size_t done = 0;
    while (done < size) {
      ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) fuzz_fail("pwrite failed");
      done += static_cast<size_t>(n);
    }
  }
  void write(const std::string& text) {
    write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
  const char* path() const { return path_.c_str(); }

 private:
  int fd_;
  std::string path_;
};

#endif
