#include "atomic_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "data_error.h"

AtomicOutput::AtomicOutput(const std::string& target) : target_(target), temp_(target + ".XXXXXX") {
  int fd = mkstemp(&temp_[0]);
  if (fd < 0) data_error(target_, 0, "cannot write the file", std::strerror(errno));
  stream_ = fdopen(fd, "w");
  if (!stream_) {
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
  if (ok) {
    // mkstemp makes the file private to its owner; the result is an ordinary
    // file, with the permissions the user's umask gives.
    mode_t mask = umask(0);
    umask(mask);
    chmod(temp_.c_str(), 0666 & ~mask);
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
      ok = false;
      e = errno;
    }
  }
  done_ = true;
  if (!ok) {
    unlink(temp_.c_str());
    data_error(target_, 0, "cannot write the file", std::strerror(e));
  }
}
