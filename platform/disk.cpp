// The kernel's disk calls, and the table that tests may swap (see disk.h).
#include "platform/disk.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/fd.h"

namespace kalimbro {
namespace {

ssize_t kernelWriteAt(int fd, const void* data, size_t n, int64_t offset) {
  return ::pwrite(fd, data, n, static_cast<off_t>(offset));
}

int kernelSyncFolder(const char* nativeFolder) {
  const UniqueFd dir(::open(nativeFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return dir.valid() ? ::fsync(dir.get()) : -1;
}

int kernelRename(const char* nativeFrom, const char* nativeTo, unsigned flags) {
  return ::renameat2(AT_FDCWD, nativeFrom, AT_FDCWD, nativeTo, flags);
}

int kernelTruncate(int fd, int64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)); }

constexpr DiskCalls kKernel{kernelWriteAt, ::fdatasync, ::fsync, kernelSyncFolder, kernelRename, kernelTruncate};

}  // namespace

namespace detail {
DiskCalls currentDisk = kKernel;
}

const DiskCalls& realDisk() { return kKernel; }

DiskSwap::DiskSwap(const DiskCalls& calls) : before_(detail::currentDisk) { detail::currentDisk = calls; }

DiskSwap::~DiskSwap() { detail::currentDisk = before_; }

bool flushFolder(const std::string& nativeFolder) {
  return disk().syncFolder(nativeFolder.empty() ? "." : nativeFolder.c_str()) == 0;
}

bool writeWholeAt(int fd, const uint8_t* data, size_t n, uint64_t offset) {
  while (n > 0) {
    const ssize_t put = disk().writeAt(fd, data, std::min<size_t>(n, size_t{1} << 30), static_cast<int64_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno == EINVAL) {
      const int flags = fcntl(fd, F_GETFL);
      if (flags < 0 || !(flags & O_DIRECT) || fcntl(fd, F_SETFL, flags & ~O_DIRECT) != 0) return false;
      continue;
    }
    if (put <= 0) return false;
    data += put;
    n -= static_cast<size_t>(put);
    offset += static_cast<uint64_t>(put);
  }
  return true;
}

}  // namespace kalimbro
