#pragma once

#include <unistd.h>

namespace platform {

// Owns one file descriptor and closes it when it goes out of scope. Close is
// never retried: on Linux the descriptor is gone even when close reports
// EINTR.
class ScopedFd {
 public:
  ScopedFd() noexcept = default;
  explicit ScopedFd(int fd) noexcept : _fd(fd) {}
  ~ScopedFd() { reset(); }

  ScopedFd(ScopedFd&& other) noexcept : _fd(other.release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const noexcept { return _fd; }
  bool valid() const noexcept { return _fd >= 0; }

  // Gives up ownership; the caller must close the descriptor.
  [[nodiscard]] int release() noexcept {
    int fd = _fd;
    _fd = -1;
    return fd;
  }

  void reset(int fd = -1) noexcept {
    if (_fd >= 0) ::close(_fd);
    _fd = fd;
  }

 private:
  int _fd = -1;
};

}  // namespace platform
