// The cleanup a signal's handler still does before the program dies.
#include "platform/signal_cleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace kalimbro {
namespace {

constexpr int kFileSlots = 8;
// The temporary directory holds files and, for aliases, one level of
// directories; a little more depth costs nothing.
constexpr int kDeepestDirectory = 4;

// A name the handler may read at any moment: `used` is raised only after the
// name is complete and lowered before it changes.
struct NameSlot {
  volatile sig_atomic_t used = 0;
  char name[PATH_MAX] = {};
};

NameSlot gFiles[kFileSlots];
NameSlot gDirectory;
volatile pid_t gChild = 0;
void (*volatile gHook)() = nullptr;

bool fill(NameSlot& slot, std::string_view name) {
  slot.used = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (name.empty() || name.size() >= sizeof slot.name) return false;
  std::memcpy(slot.name, name.data(), name.size());
  slot.name[name.size()] = '\0';
  std::atomic_signal_fence(std::memory_order_seq_cst);
  slot.used = 1;
  return true;
}

struct LinuxDirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Empties the directory open as `dirFd` (closing it) with system calls only.
void emptyDirectory(int dirFd, int depth) {
  alignas(LinuxDirent64) char buffer[2048];
  for (;;) {
    const long n = syscall(SYS_getdents64, dirFd, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + at);
      at += entry->d_reclen;
      if (isDotOrDotDot(entry->d_name)) continue;
      if (unlinkat(dirFd, entry->d_name, 0) == 0 || errno != EISDIR) continue;
      if (depth < kDeepestDirectory) {
        const int sub = openat(dirFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0) emptyDirectory(sub, depth + 1);
      }
      unlinkat(dirFd, entry->d_name, AT_REMOVEDIR);
    }
  }
  close(dirFd);
}

}  // namespace

void SignalRemovedFile::set(std::string_view nativeName) {
  clear();
  for (int i = 0; i < kFileSlots; ++i) {
    if (gFiles[i].used) continue;
    if (fill(gFiles[i], nativeName)) slot_ = i;
    return;
  }
}

void SignalRemovedFile::clear() {
  if (slot_ >= 0) gFiles[slot_].used = 0;
  slot_ = -1;
}

void setSignalRemovedDirectory(std::string_view nativeName) { fill(gDirectory, nativeName); }

void setSignalEndedChild(pid_t pid) { gChild = pid; }

void setSignalHook(void (*hook)()) { gHook = hook; }

void emptyDirectoryAndClose(int dirFd) {
  if (dirFd >= 0) emptyDirectory(dirFd, 0);
}

void cleanupOnSignal() {
  const int savedErrno = errno;
  if (void (*hook)() = gHook) hook();
  if (const pid_t child = gChild; child > 0) {
    gChild = 0;
    // The runner starts each helper as the leader of its own process group.
    kill(-child, SIGKILL);
    kill(child, SIGKILL);
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  for (NameSlot& slot : gFiles) {
    if (slot.used) unlink(slot.name);
  }
  if (gDirectory.used) {
    gDirectory.used = 0;
    const int dirFd = open(gDirectory.name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd >= 0) emptyDirectory(dirFd, 0);
    rmdir(gDirectory.name);
  }
  errno = savedErrno;
}

}  // namespace kalimbro
