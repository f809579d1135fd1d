// Reading a folder through its descriptor: the entries are examined
// relative to it, so the current directory stays where it is.
#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>

namespace kalimbro {
namespace {

const char* folderName(const std::string& nativeFolder) { return nativeFolder.empty() ? "." : nativeFolder.c_str(); }

struct CloseDir {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::optional<std::vector<DirectoryEntry>> listDirectory(const std::string& nativeFolder) {
  const std::unique_ptr<DIR, CloseDir> dir(opendir(folderName(nativeFolder)));
  if (!dir) return std::nullopt;
  std::vector<DirectoryEntry> entries;
  while (const dirent* d = readdir(dir.get())) {
    const std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (fstatat(dirfd(dir.get()), name.c_str(), &st, 0) != 0) continue;
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;
    entries.push_back({name, S_ISDIR(st.st_mode), static_cast<uint64_t>(st.st_size),
                       static_cast<int64_t>(st.st_mtime)});
  }
  return entries;
}

std::string absoluteDirectory(const std::string& nativeFolder) {
  const std::unique_ptr<char, decltype(&free)> path(realpath(folderName(nativeFolder), nullptr), &free);
  return path ? std::string(path.get()) : std::string();
}

}  // namespace kalimbro
