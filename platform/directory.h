// directory: what a folder holds, read without changing the process's
// current directory. Names are the file system's own (native); the file
// selector converts them. Used by console/vrarq.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kalimbro {

struct DirectoryEntry {
  std::string name;  // as the file system has it
  bool directory = false;
  uint64_t size = 0;
  int64_t modified = 0;  // seconds since the epoch
};

// The regular files and directories in `nativeFolder` (absolute, or
// relative to the current directory; empty is the current directory),
// symbolic links followed, in the order the file system gives them. "."
// and "..", anything else (a FIFO, a device, a link that leads nowhere) and
// what cannot be examined are left out. Nothing when the folder cannot be
// read.
std::optional<std::vector<DirectoryEntry>> listDirectory(const std::string& nativeFolder);

// The absolute path of `nativeFolder` (as above) through every link, as the
// system reports the current directory; empty when it cannot be had (a
// folder removed meanwhile).
std::string absoluteDirectory(const std::string& nativeFolder);

}  // namespace kalimbro
