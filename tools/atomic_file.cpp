#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace gen {

namespace {

[[noreturn]] void fail(const std::string& path, const char* what, int err) {
  throw WriteError("cannot write " + path + ": " + what + ": " + std::strerror(err));
}

}  // namespace

void write_file_atomically(const std::string& path, const void* data, std::size_t size) {
  if (path.empty()) throw WriteError("cannot write an empty file name");
  std::string tmpl = path + ".tmp.XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) fail(path, "creating temporary file", errno);
  const std::string tmp(name.data());
  auto abandon = [&](const char* what) {
    const int err = errno;
    ::close(fd);
    ::unlink(tmp.c_str());
    fail(path, what, err);
  };
  // mkstemp creates the file readable by the owner only; data files are
  // meant to be shared like any other output.
  if (::fchmod(fd, 0644) != 0) abandon("setting permissions");
  const char* p = static_cast<const char*>(data);
  std::size_t left = size;
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      abandon("writing");
    }
    if (n == 0) {
      errno = EIO;
      abandon("writing");
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) abandon("flushing to disk");
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    fail(path, "closing", err);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    fail(path, "renaming temporary file", err);
  }
}

void write_file_atomically(const std::string& path, const std::string& data) {
  write_file_atomically(path, data.data(), data.size());
}

}  // namespace gen
