#include "atomic_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "data_error.h"

namespace {

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

AtomicOutput::AtomicOutput(const std::string& target) : target_(target) {
  if (!follow_links(target_, &final_))
    data_error(target_, 0, "cannot write the file", std::strerror(errno));
  temp_ = final_ + ".tmp.XXXXXX";
  int fd = mkstemp(&temp_[0]);
  if (fd < 0) data_error(target_, 0, "cannot write the file", std::strerror(errno));
  // mkstemp makes the file private to its owner.
  if (fchmod(fd, mode_for(final_)) != 0 || !(stream_ = fdopen(fd, "w"))) {
    int e = errno;
    close(fd);
    unlink(temp_.c_str());
    data_error(target_, 0, "cannot write the file", std::strerror(e));
  }
}

AtomicOutput::~AtomicOutput() {
  if (!done_) {
    if (stream_) std::fclose(stream_);
    unlink(temp_.c_str());
  }
}

void AtomicOutput::commit() {
  bool ok = std::fflush(stream_) == 0 && !std::ferror(stream_);
  int e = ok ? 0 : (errno ? errno : EIO);
  if (ok && fsync(fileno(stream_)) != 0) {
    ok = false;
    e = errno;
  }
  int closed = std::fclose(stream_);
  stream_ = nullptr;
  if (ok && closed != 0) {
    ok = false;
    e = errno;
  }
  if (ok && std::rename(temp_.c_str(), final_.c_str()) != 0) {
    ok = false;
    e = errno;
  }
  done_ = true;
  if (!ok) {
    unlink(temp_.c_str());
    data_error(target_, 0, "cannot write the file", std::strerror(e));
  }
}

void write_file_atomically(const std::string& path, const std::string& data) {
  if (path.empty()) data_error_text("cannot write a file with an empty name");
  AtomicOutput out(path);
  // A short write leaves the stream's error set; commit() reports it.
  std::fwrite(data.data(), 1, data.size(), out.stream());
  out.commit();
}
