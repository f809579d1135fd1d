// UniqueFd: a file descriptor closed when its owner goes away, so that no
// early return leaks one; and whole reads and writes at a file offset.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
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
  // Gives the descriptor up to the caller, who closes it.
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

// Every byte at `offset`, retrying short transfers and interruptions; false
// on an error or when the file ends first.
inline bool readAllAt(int fd, int64_t offset, uint8_t* into, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, into + done, size - done, offset + static_cast<int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

inline bool writeAllAt(int fd, int64_t offset, const uint8_t* from, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, from + done, size - done, offset + static_cast<int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The lock file `nativeFile` (made, mode 0600, when missing), locked by
// this descriptor; invalid when another holder has it: nothing waits.
// A holder may remove the file before it lets go (its folder goes with
// it): the lock then won was on a file no one else will find, and is
// taken again on the file of that name now.
inline UniqueFd takeLockFile(const std::string& nativeFile) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    UniqueFd lock(::open(nativeFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock.valid() || ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) return UniqueFd();
    struct stat held {}, named {};
    if (::fstat(lock.get(), &held) == 0 && ::stat(nativeFile.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino)
      return lock;
  }
  return UniqueFd();
}

}  // namespace kalimbro
