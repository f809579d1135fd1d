// What the fuzz targets that go through files share: a failed property
// stops the run where libFuzzer sees it, and the input becomes a file.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/paths.h"

namespace kalimbro {

inline void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Writes `size` bytes as the file `name` (Windows-1252), replacing it.
inline bool writeFile(const std::string& name, const uint8_t* data, size_t size) {
  const int fd = open(nativePath(name).c_str(), O_WRONLY | O_TRUNC | O_CREAT, 0600);
  if (fd < 0) return false;
  const bool ok = size == 0 || write(fd, data, size) == static_cast<ssize_t>(size);
  close(fd);
  return ok;
}

}  // namespace kalimbro
