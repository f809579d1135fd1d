// Linux places and file helpers.
#include "platform/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/codec.h"
#include "platform/disk.h"
#include "platform/signal_cleanup.h"

namespace kalimbro {
namespace {

// The private temporary directory of this run, and the descriptor that
// holds its lock.
struct TempDirectoryState {
  std::string name;
  UniqueFd lock;
};

TempDirectoryState& tempDirectoryState() {
  static TempDirectoryState state;
  return state;
}

constexpr std::string_view kTempDirectoryPrefix = "kalimbro.";
// The mark inside a temporary directory of this program: a directory of
// that name without it was not made by this program (or not by a version
// that locks it), and is never removed at start.
constexpr const char* kTempDirectoryMark = ".kalimbro-em-uso";
constexpr std::string_view kSiblingMark = ".kalimbro-";
constexpr size_t kSiblingSuffixBytes = 10;
constexpr std::string_view kSiblingDigits = "0123456789abcdefghijklmnopqrstuvwxyz";

std::vector<std::string>& systemTempPlaces() {
  static std::vector<std::string> places{"/tmp", "/var/tmp"};
  return places;
}

// Where private temporary directories are made, in order of preference:
// $TMPDIR when it names an absolute place the program can name, then the
// system's places.
std::vector<std::string> tempBases() {
  std::vector<std::string> bases;
  if (const char* tmpdir = getenv("TMPDIR"); tmpdir && *tmpdir == '/' && utf8FitsCp1252(tmpdir)) {
    bases.push_back(withoutTrailingSlash(tmpdir));
  }
  for (const std::string& system : systemTempPlaces()) {
    if (std::find(bases.begin(), bases.end(), system) == bases.end()) bases.push_back(system);
  }
  return bases;
}

bool isTempDirectoryName(std::string_view name) {
  return name.size() == kTempDirectoryPrefix.size() + 6 && name.starts_with(kTempDirectoryPrefix);
}

// A directory made with mkdtemp under `base`, locked and marked; empty when
// it cannot be made there.
std::string makeLockedDirectory(const std::string& base, UniqueFd& lock) {
  std::string pattern = base + "/" + std::string(kTempDirectoryPrefix) + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return {};
  UniqueFd dir(open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  // The lock comes before the mark: a directory with the mark and without
  // the lock is always a leftover. Where the file system has no locks the
  // directory goes unmarked, and is never taken for one.
  if (dir.valid() && flock(dir.get(), LOCK_EX | LOCK_NB) == 0) {
    const UniqueFd mark(openat(dir.get(), kTempDirectoryMark, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  }
  lock = std::move(dir);
  return pattern;
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
  TempDirectoryState& state = tempDirectoryState();
  if (!state.name.empty()) return state.name;
  for (const std::string& base : tempBases()) {
    UniqueFd lock;
    const std::string made = makeLockedDirectory(base, lock);
    if (made.empty()) continue;
    setSignalRemovedDirectory(made);
    state.name = fromUtf8(made) + "/";
    state.lock = std::move(lock);
    // Whatever way the process ends normally, the directory goes with it.
    [[maybe_unused]] static const bool removedAtExit = std::atexit(removeTempDirectory) == 0;
    return state.name;
  }
  return {};
}

void removeTempDirectory() {
  TempDirectoryState& state = tempDirectoryState();
  if (state.name.empty()) return;
  setSignalRemovedDirectory({});
  std::error_code ec;
  std::filesystem::remove_all(nativePath(state.name), ec);
  state.name.clear();
  state.lock.reset();
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

// The names in the directory open as `dirFd` that `wanted` accepts.
std::vector<std::string> namesIn(int dirFd, bool (*wanted)(std::string_view)) {
  std::vector<std::string> names;
  DIR* listing = fdopendir(fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
  if (listing == nullptr) return names;
  while (const dirent* entry = readdir(listing)) {
    if (wanted(entry->d_name)) names.emplace_back(entry->d_name);
  }
  closedir(listing);
  return names;
}

}  // namespace

void setSystemTempPlaces(std::vector<std::string> places) { systemTempPlaces() = std::move(places); }

void removeLeftoverTempDirectories() {
  for (const std::string& base : tempBases()) {
    const UniqueFd baseFd(open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!baseFd.valid()) continue;
    for (const std::string& name : namesIn(baseFd.get(), isTempDirectoryName)) {
      const UniqueFd dir(openat(baseFd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      struct stat st;
      if (!dir.valid() || fstat(dir.get(), &st) != 0 || st.st_uid != geteuid()) continue;
      if (faccessat(dir.get(), kTempDirectoryMark, F_OK, AT_SYMLINK_NOFOLLOW) != 0) continue;
      // Taken only when its run is gone; held until the directory is.
      if (flock(dir.get(), LOCK_EX | LOCK_NB) != 0) continue;
      emptyDirectoryAndClose(fcntl(dir.get(), F_DUPFD_CLOEXEC, 0));
      unlinkat(baseFd.get(), name.c_str(), AT_REMOVEDIR);
    }
  }
}

// ---- Hidden siblings -----------------------------------------------------------

namespace {

std::string siblingSuffix() {
  static uint64_t counter = 0;
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t x = static_cast<uint64_t>(ts.tv_nsec) ^ (static_cast<uint64_t>(ts.tv_sec) << 30) ^
               (static_cast<uint64_t>(getpid()) << 16) ^ (++counter * 0x9E3779B97F4A7C15ull);
  std::string s;
  for (size_t i = 0; i < kSiblingSuffixBytes; ++i) {
    s += kSiblingDigits[x % kSiblingDigits.size()];
    x /= kSiblingDigits.size();
  }
  return s;
}

// True for a name createHiddenSibling gives (the file-name part only).
bool isHiddenSiblingName(std::string_view fileName) {
  const size_t tail = kSiblingMark.size() + kSiblingSuffixBytes;
  // A dot, at least one byte of the name, the mark and the suffix.
  if (fileName.size() < 2 + tail || fileName.front() != '.') return false;
  const std::string_view end = fileName.substr(fileName.size() - tail);
  return end.starts_with(kSiblingMark) &&
         end.substr(kSiblingMark.size()).find_first_not_of(kSiblingDigits) == std::string_view::npos;
}

void removeLeftoverSiblings(const std::string& nativeDirectory) {
  const char* dir = nativeDirectory.empty() ? "." : nativeDirectory.c_str();
  const UniqueFd dirFd(open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd.valid()) return;
  for (const std::string& name : namesIn(dirFd.get(), isHiddenSiblingName)) {
    const UniqueFd file(openat(dirFd.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st, now;
    if (!file.valid() || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) continue;
    if (flock(file.get(), LOCK_EX | LOCK_NB) != 0) continue;
    // Still the same file under that name.
    if (fstatat(dirFd.get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != st.st_dev ||
        now.st_ino != st.st_ino)
      continue;
    unlinkat(dirFd.get(), name.c_str(), 0);
  }
}

}  // namespace

HiddenSibling createHiddenSibling(const std::string& nativeTarget, mode_t mode) {
  HiddenSibling sibling;
  const std::string dir = directoryPart(nativeTarget);
  const std::string base = nativeTarget.substr(dir.size(), 200);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = dir + "." + base + std::string(kSiblingMark) + siblingSuffix();
    UniqueFd fd(open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!fd.valid()) {
      if (errno == EEXIST) continue;
      return sibling;
    }
    UniqueFd lock(fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
    // A file system without locks still gets its saves; only a leftover
    // there would stay.
    if (lock.valid()) flock(lock.get(), LOCK_EX | LOCK_NB);
    sibling.name = std::move(name);
    sibling.fd = std::move(fd);
    sibling.lock = std::move(lock);
    return sibling;
  }
  return sibling;
}

void removeLeftoversBeside(std::string_view cp1252File) {
  const std::string native = nativePath(cp1252File);
  const std::string dir = directoryPart(native);
  removeLeftoverSiblings(dir);
  const std::string target = replacedFile(native);
  if (!target.empty() && directoryPart(target) != dir) removeLeftoverSiblings(directoryPart(target));
}

namespace {

// The file of a sound's state folder that names the sound.
constexpr std::string_view kSoundRecord = "som";

void writeSoundRecord(const std::string& record, const std::string& path) {
  if (std::FILE* f = std::fopen(record.c_str(), "wxe")) {
    std::fputs((path + "\n").c_str(), f);
    std::fclose(f);
  }
}

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
  if (path.empty()) path = nativePath(cp1252);
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

}  // namespace

bool makePrivateDirectory(const std::string& native) {
  if (mkdir(native.c_str(), 0700) == 0) {
    // What is kept in it later is found again only if its name is on the disk.
    if (!flushFolder(directoryPart(native))) return false;
  } else if (errno != EEXIST) {
    return false;
  }
  struct stat st;
  return lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(native.c_str(), W_OK | X_OK) == 0;
}

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
  if (state.empty()) return {};
  if (soundFile.empty()) {
    const std::string folder = nativePath(state) + "sem-nome";
    return makePrivateDirectory(folder) ? fromUtf8(folder) + "/" : std::string();
  }
  const std::string path = absoluteTarget(soundFile);
  char folder[17];
  std::snprintf(folder, sizeof folder, "%016llx", static_cast<unsigned long long>(pathHash(path)));
  const std::string dir = nativePath(state) + folder;
  if (!makePrivateDirectory(dir)) return {};
  // Which sound the folder belongs to, for whoever looks into it.
  const std::string record = dir + "/" + std::string(kSoundRecord);
  if (access(record.c_str(), F_OK) != 0) writeSoundRecord(record, path);
  return fromUtf8(dir) + "/";
}

std::string soundFilePath(std::string_view soundFile) { return fromUtf8(absoluteTarget(soundFile)); }

void removeUnusedSoundStateDirectory(std::string_view folder) {
  const std::string native = withoutTrailingSlash(nativePath(folder));
  // Nothing but the program's own state goes.
  const std::string state = stateDirectory();
  if (state.empty() || directoryPart(native) != nativePath(state)) return;
  std::error_code ec;
  for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(native, ec))
    if (entry.path().filename().string() != kSoundRecord) return;
  if (ec) return;
  const std::string record = native + "/" + std::string(kSoundRecord);
  std::string path;
  if (std::FILE* f = std::fopen(record.c_str(), "re")) {
    char line[PATH_MAX + 2];
    if (std::fgets(line, sizeof line, f) != nullptr) path = line;
    std::fclose(f);
  }
  unlink(record.c_str());
  // Something came in meanwhile (another run of the program opened the
  // sound): the folder stays, and says again whose it is.
  if (rmdir(native.c_str()) != 0 && !path.empty()) {
    if (path.back() == '\n') path.pop_back();
    writeSoundRecord(record, path);
  }
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
  // Links to a file not written yet: the name the last of them holds. The
  // bound is the kernel's own for following links.
  constexpr int kMostLinks = 40;
  std::string link = nativeName;
  for (int followed = 0; followed < kMostLinks; ++followed) {
    char held[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), held, sizeof held - 1);
    if (n <= 0) return {};
    const std::string next(held, static_cast<size_t>(n));
    link = next.front() == '/' ? next : directoryPart(link) + next;
    if (lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return link;
  }
  return {};
}

void extendAlias(std::string_view alias, std::string_view suffix) {
  const std::string native = nativePath(alias);
  const std::string target = replacedFile(native);
  if (target.empty() || target == native) return;
  // Already there from an earlier choice of the same file: nothing to do.
  [[maybe_unused]] const int rc = symlink((target + toUtf8(suffix)).c_str(), (native + toUtf8(suffix)).c_str());
}

bool removeFileAndAlias(std::string_view cp1252) {
  const std::string native = nativePath(cp1252);
  const std::string target = replacedFile(native);
  if (target.empty()) return false;
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
  if (disk().rename(nativeFrom.c_str(), nativeTo.c_str(), RENAME_NOREPLACE) == 0) return true;
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

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string directoryPart(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

}  // namespace kalimbro
