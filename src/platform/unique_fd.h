// A file descriptor owned by one object: closed when it goes, or closed
// early by Close(), which reports the close's own failure (a delayed write
// error surfaces there).
#pragma once

#include <unistd.h>

namespace velmora::platform {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd& operator=(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
    return *this;
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; false (with errno) when the close failed.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace velmora::platform
