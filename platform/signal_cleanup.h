// signal_cleanup: what must still happen when a signal (a closed terminal,
// SIGTERM, Control+C from outside, a crash) ends the program. The private
// temporary directory and the hidden files being written go, a running
// helper program (sox, lame) is ended, and the recording engine gets to
// write its header. The terminal's signal handler calls cleanupOnSignal;
// the units that own such things register them here while they exist.
//
// Everything the handler does is async-signal-safe: names are kept in fixed
// buffers, directories are emptied with getdents64 and unlinkat.
#pragma once

#include <sys/types.h>

#include <string_view>

namespace kalimbro {

// Runs from a signal handler: the hook, then the child, then the files and
// the directory.
void cleanupOnSignal();

// A file (native name) removed if a signal ends the program while this
// object lives. Only a few can be registered at once; a registration that
// finds no free slot is silently not made.
class SignalRemovedFile {
 public:
  SignalRemovedFile() = default;
  explicit SignalRemovedFile(std::string_view nativeName) { set(nativeName); }
  ~SignalRemovedFile() { clear(); }
  SignalRemovedFile(const SignalRemovedFile&) = delete;
  SignalRemovedFile& operator=(const SignalRemovedFile&) = delete;

  void set(std::string_view nativeName);
  void clear();

 private:
  int slot_ = -1;
};

// The directory (native name) removed with everything in it; empty: none.
void setSignalRemovedDirectory(std::string_view nativeName);
// The helper program killed (with its process group) and reaped; 0: none.
void setSignalEndedChild(pid_t pid);
// One function run first by the handler; it must itself be
// async-signal-safe. nullptr: none.
void setSignalHook(void (*hook)());

// Empties the directory open as `dirFd` (files, and directories a few
// levels down) and closes the descriptor, with system calls only. The
// handler uses it, and so does the start's removal of leftovers.
void emptyDirectoryAndClose(int dirFd);

}  // namespace kalimbro
