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

// (The same two steps as io/atomic_output.cpp.)

// The file `path` finally names: every symbolic link of a chain is followed,
// a relative link from its own folder. The result is not a link; it need not
// exist. False with errno ELOOP for a chain of more than 40 links.
bool follow_links(const std::string& path, std::string* out) {
  std::string at = path;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    if (hops == 40) {
      errno = ELOOP;
      return false;
    }
    std::vector<char> text(static_cast<size_t>(st.st_size) + 64);
    ssize_t n;
    while ((n = readlink(at.c_str(), text.data(), text.size())) >= 0 &&
           static_cast<size_t>(n) == text.size())
      text.resize(text.size() * 2);
    if (n < 0) return false;
    std::string link(text.data(), static_cast<size_t>(n));
    const size_t slash = at.rfind('/');
    at = (link[0] == '/' || slash == std::string::npos) ? link : at.substr(0, slash + 1) + link;
  }
  *out = at;
  return true;
}

// The permission bits of the file being replaced, or for a new file 0666
// less the umask.
mode_t mode_for(const std::string& file) {
  struct stat st;
  if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void write_file_atomically(const std::string& path, const void* data, std::size_t size) {
  if (path.empty()) throw WriteError("cannot write an empty file name");
  std::string target;
  if (!follow_links(path, &target)) fail(path, "following symbolic links", errno);
  std::string tmpl = target + ".tmp.XXXXXX";
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
  // mkstemp makes the file private to its owner.
  if (::fchmod(fd, mode_for(target)) != 0) abandon("setting permissions");
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
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    fail(path, "renaming temporary file", err);
  }
}

void write_file_atomically(const std::string& path, const std::string& data) {
  write_file_atomically(path, data.data(), data.size());
}

}  // namespace gen
