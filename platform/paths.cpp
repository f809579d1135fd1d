// Linux places and file helpers.
#include "platform/paths.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/codec.h"
#include "platform/signal_cleanup.h"

namespace kalimbro {
namespace {

std::string& tempDirectoryName() {
  static std::string name;
  return name;
}

}  // namespace

std::string programDirectory() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string dir = directoryPart(fromUtf8(std::string_view(buf, n)));
  if (dir.size() > 1) dir.pop_back();  // no trailing '/'
  return dir;
}

std::string systemSettingsDirectory() { return "/etc/varelu"; }

std::string userConfigDirectory() {
  if (const char* xdg = getenv("XDG_CONFIG_HOME"); xdg && *xdg) return fromUtf8(xdg);
  if (const char* home = getenv("HOME"); home && *home) return fromUtf8(home) + "/.config";
  return "/tmp";
}

std::string tempDirectory() {
  std::string& name = tempDirectoryName();
  if (!name.empty()) return name;
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/kalimbro.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return {};
  setSignalRemovedDirectory(pattern);
  name = fromUtf8(pattern) + "/";
  return name;
}

void removeTempDirectory() {
  std::string& name = tempDirectoryName();
  if (name.empty()) return;
  setSignalRemovedDirectory({});
  std::error_code ec;
  std::filesystem::remove_all(nativePath(name), ec);
  name.clear();
}

std::string makeTempFile(std::string_view prefix) {
  const std::string dir = tempDirectory();
  if (dir.empty()) return {};
  std::string pattern = nativePath(dir + std::string(prefix) + "XXXXXX");
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return {};
  close(fd);
  return fromUtf8(pattern);
}

namespace {

// 64-bit FNV-1a: a short, stable folder name for a path.
uint64_t pathHash(std::string_view path) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (const char c : path) {
    h ^= static_cast<uint8_t>(c);
    h *= 0x100000001b3ull;
  }
  return h;
}

// The absolute native path of the file a name reaches: symbolic links
// followed, the directory resolved when it exists.
std::string absoluteTarget(std::string_view cp1252) {
  std::string path = replacedFile(nativePath(cp1252));
  if (!path.starts_with('/')) {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) != nullptr) path = std::string(cwd) + "/" + path;
  }
  const std::string dir = directoryPart(path);
  if (char* real = realpath(dir.c_str(), nullptr)) {
    std::string resolved = real;
    std::free(real);
    if (resolved.back() != '/') resolved += '/';
    path = resolved + fileNamePart(path);
  }
  return path;
}

bool makePrivateDirectory(const std::string& native) {
  if (mkdir(native.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  return lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(native.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string stateDirectory() {
  std::string base;
  if (const char* xdg = getenv("XDG_STATE_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else if (const char* home = getenv("HOME"); home && *home) {
    base = std::string(home) + "/.local/state";
  } else {
    return {};
  }
  std::error_code ec;
  std::filesystem::create_directories(base, ec);
  const std::string dir = base + "/kalimbro";
  if (!makePrivateDirectory(dir)) return {};
  return fromUtf8(dir) + "/";
}

std::string soundStateDirectory(std::string_view soundFile) {
  const std::string state = stateDirectory();
  if (state.empty() || soundFile.empty()) return {};
  const std::string path = absoluteTarget(soundFile);
  char folder[17];
  std::snprintf(folder, sizeof folder, "%016llx", static_cast<unsigned long long>(pathHash(path)));
  const std::string dir = nativePath(state) + folder;
  if (!makePrivateDirectory(dir)) return {};
  // Which sound the folder belongs to, for whoever looks into it.
  const std::string record = dir + "/som";
  if (access(record.c_str(), F_OK) != 0) {
    if (std::FILE* f = std::fopen(record.c_str(), "we")) {
      std::fputs((path + "\n").c_str(), f);
      std::fclose(f);
    }
  }
  return fromUtf8(dir) + "/";
}

std::string aliasFor(std::string_view nativeTarget, std::string_view shownName) {
  const std::string temp = tempDirectory();
  if (temp.empty()) return {};
  std::string dir = nativePath(temp) + "nome.XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) return {};
  const std::string link = dir + "/" + toUtf8(shownName);
  if (symlink(std::string(nativeTarget).c_str(), link.c_str()) != 0) return {};
  return fromUtf8(link);
}

std::string nativePath(std::string_view cp1252) { return toUtf8(cp1252); }

bool fileExists(std::string_view cp1252) {
  struct stat st;
  return stat(nativePath(cp1252).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool directoryExists(std::string_view cp1252) {
  struct stat st;
  return stat(nativePath(cp1252).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFile(std::string_view cp1252) { return unlink(nativePath(cp1252).c_str()) == 0; }

std::optional<uint64_t> fileSize(std::string_view cp1252) {
  struct stat st;
  if (stat(nativePath(cp1252).c_str(), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

std::string replacedFile(const std::string& nativeName) {
  struct stat st;
  if (lstat(nativeName.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return nativeName;
  if (char* real = realpath(nativeName.c_str(), nullptr)) {
    std::string target = real;
    std::free(real);
    return target;
  }
  // A link to a file not written yet: the name it holds.
  char target[PATH_MAX];
  const ssize_t n = readlink(nativeName.c_str(), target, sizeof target - 1);
  if (n <= 0) return nativeName;
  const std::string held(target, static_cast<size_t>(n));
  return held.front() == '/' ? held : directoryPart(nativeName) + held;
}

void extendAlias(std::string_view alias, std::string_view suffix) {
  const std::string native = nativePath(alias);
  const std::string target = replacedFile(native);
  if (target == native) return;
  // Already there from an earlier choice of the same file: nothing to do.
  [[maybe_unused]] const int rc = symlink((target + toUtf8(suffix)).c_str(), (native + toUtf8(suffix)).c_str());
}

bool removeFileAndAlias(std::string_view cp1252) {
  const std::string native = nativePath(cp1252);
  const std::string target = replacedFile(native);
  const bool removed = unlink(target.c_str()) == 0;
  if (target != native) unlink(native.c_str());
  return removed;
}

std::optional<FileStamp> fileStamp(std::string_view cp1252) {
  struct stat st;
  if (stat(nativePath(cp1252).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileStamp{static_cast<uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

bool renameWithoutReplacing(const std::string& nativeFrom, const std::string& nativeTo) {
  if (renameat2(AT_FDCWD, nativeFrom.c_str(), AT_FDCWD, nativeTo.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace rename: a second link cannot
  // replace a file either.
  if (link(nativeFrom.c_str(), nativeTo.c_str()) != 0) return false;
  unlink(nativeFrom.c_str());
  return true;
}

std::string fileNamePart(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string directoryPart(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

}  // namespace kalimbro
