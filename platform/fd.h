// UniqueFd: a file descriptor closed when its owner goes away, so that no
// early return leaks one.
#pragma once

#include <unistd.h>

#include <utility>

namespace kalimbro {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and reports the result (a late write error shows here).
  bool close() {
    if (fd_ < 0) return true;
    const int rc = ::close(std::exchange(fd_, -1));
    return rc == 0;
  }
  void reset() { close(); }

 private:
  int fd_ = -1;
};

}  // namespace kalimbro
