// disk: the few calls by which the journal, the file replacer, the take
// store and the edit history's step files put bytes and names on the disk.
// The program goes to the kernel through them; a test puts in its own, for
// the length of a scope, to count the calls, fail any one of them as a full
// or broken disk would, or see what was synced when.
//
// Each call does what the system call of the same kind does and reports the
// same way: 0 (or the bytes written), else -1 with errno set.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kalimbro {

struct DiskCalls {
  ssize_t (*writeAt)(int fd, const void* data, size_t n, int64_t offset);  // pwrite
  int (*syncData)(int fd);  // fdatasync: the bytes and what reading them needs
  int (*syncAll)(int fd);   // fsync: also the times
  // The names a folder (native) holds: a new or renamed name in it is
  // found there after a crash.
  int (*syncFolder)(const char* nativeFolder);
  int (*rename)(const char* nativeFrom, const char* nativeTo, unsigned flags);  // renameat2
  int (*truncate)(int fd, int64_t size);  // ftruncate
};

namespace detail {
extern DiskCalls currentDisk;
}

// The calls in use: the kernel's unless a DiskSwap lives. One table held by
// value: a call costs one load of its pointer.
inline const DiskCalls& disk() { return detail::currentDisk; }
// The kernel's own calls.
const DiskCalls& realDisk();

// While it lives, `calls` take the place of those in use. Only tests make
// one, before the work they watch starts its threads.
class DiskSwap {
 public:
  explicit DiskSwap(const DiskCalls& calls);
  ~DiskSwap();
  DiskSwap(const DiskSwap&) = delete;
  DiskSwap& operator=(const DiskSwap&) = delete;

 private:
  DiskCalls before_;
};

// syncFolder as a yes or no; "" is the current folder.
bool flushFolder(const std::string& nativeFolder);

// Writes all of `n` bytes at `offset` through disk(); false on failure. A
// descriptor in direct mode (O_DIRECT) that refuses a piece (a file system
// that takes the flag but not the write, or a remainder left unaligned by a
// short write) leaves direct mode and writes it through the page cache.
bool writeWholeAt(int fd, const uint8_t* data, size_t n, uint64_t offset);

}  // namespace kalimbro
