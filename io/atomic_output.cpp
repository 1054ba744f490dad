#include "atomic_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "data_error.h"

namespace {

// The descriptor a path names as the system's aliases do ("/dev/stdout",
// "/dev/fd/3", "/proc/self/fd/3"), or -1.
int descriptor_named(const std::string& path) {
  if (path == "/dev/stdin") return 0;
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const size_t n = std::strlen(prefix);
    if (path.compare(0, n, prefix) != 0 || path.size() == n || path.size() > n + 9) continue;
    int fd = 0;
    for (size_t k = n; k < path.size(); k++) {
      if (path[k] < '0' || path[k] > '9') return -1;
      fd = fd * 10 + (path[k] - '0');
    }
    return fd;
  }
  return -1;
}

// The file `path` finally names: every symbolic link of a chain is followed,
// a relative link from its own folder. The result is not a link; it need not
// exist. False with errno ELOOP for a chain of more than 40 links. When a
// link of the chain is one of the process's descriptors (descriptor_named),
// *fd receives it and the walk stops there.
bool follow_links(const std::string& path, std::string* out, int* fd) {
  std::string at = path;
  *fd = -1;
  for (int hops = 0;; ++hops) {
    if ((*fd = descriptor_named(at)) >= 0) break;
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

AtomicOutput::AtomicOutput(const std::string& target) : target_(target) {
  int descriptor = -1;
  if (!follow_links(target_, &final_, &descriptor))
    file_error(target_, "cannot write the file", errno);
  // A descriptor of the process, or a file that is not a regular one (a
  // device, a FIFO, a terminal), is written in place: renaming over it would
  // replace a device node or a pipe's name with a regular file.
  struct stat st;
  const bool exists = descriptor < 0 && stat(final_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) file_error(target_, "cannot write the file", EISDIR);
  if (descriptor >= 0 || (exists && !S_ISREG(st.st_mode))) {
    const int fd = descriptor >= 0 ? fcntl(descriptor, F_DUPFD_CLOEXEC, 3)
                                   : open(final_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || !(stream_ = fdopen(fd, "w"))) {
      const int e = errno;
      if (fd >= 0) close(fd);
      file_error(target_, "cannot write the file", e);
    }
    in_place_ = true;
    return;
  }
  temp_ = final_ + ".tmp.XXXXXX";
  int fd = mkstemp(&temp_[0]);
  if (fd < 0) file_error(target_, "cannot write the file", errno);
  // mkstemp makes the file private to its owner.
  if (fchmod(fd, mode_for(final_)) != 0 || !(stream_ = fdopen(fd, "w"))) {
    int e = errno;
    close(fd);
    unlink(temp_.c_str());
    file_error(target_, "cannot write the file", e);
  }
}

AtomicOutput::~AtomicOutput() {
  if (!done_) {
    if (stream_) std::fclose(stream_);
    if (!in_place_) unlink(temp_.c_str());
  }
}

void AtomicOutput::commit() {
  bool ok = std::fflush(stream_) == 0 && !std::ferror(stream_);
  int e = ok ? 0 : (errno ? errno : EIO);
  // (A device or a pipe has nothing to sync, and nothing to rename.)
  if (ok && !in_place_ && fsync(fileno(stream_)) != 0) {
    ok = false;
    e = errno;
  }
  int closed = std::fclose(stream_);
  stream_ = nullptr;
  if (ok && closed != 0) {
    ok = false;
    e = errno;
  }
  if (ok && !in_place_ && std::rename(temp_.c_str(), final_.c_str()) != 0) {
    ok = false;
    e = errno;
  }
  done_ = true;
  if (!ok) {
    if (!in_place_) unlink(temp_.c_str());
    file_error(target_, "cannot write the file", e);
  }
}

void write_file_atomically(const std::string& path, const std::string& data) {
  if (path.empty()) data_error_text("cannot write a file with an empty name");
  AtomicOutput out(path);
  // A short write leaves the stream's error set; commit() reports it.
  std::fwrite(data.data(), 1, data.size(), out.stream());
  out.commit();
}
