// The folders that keep recording takes until their command ends.
#include "platform/take_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/codec.h"
#include "platform/disk.h"
#include "platform/paths.h"

namespace kalimbro {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTakesFolder = "gravacoes";
constexpr std::string_view kLockFile = "em-uso";
// The sound folder of the state folder that holds a sound's record.
constexpr std::string_view kSoundRecord = "som";

std::string runName() {
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  char name[64];
  std::snprintf(name, sizeof name, "%04d%02d%02d-%02d%02d%02d-%d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(getpid()));
  return name;
}

// A fresh run folder in `takes` (native), locked; empty when none can be made.
std::string makeRunFolder(const std::string& takes, UniqueFd& lock) {
  if (!makePrivateDirectory(takes)) return {};
  const std::string name = takes + "/" + runName();
  for (int n = 1; n < 100; ++n) {
    const std::string folder = n == 1 ? name : name + "-" + std::to_string(n);
    if (mkdir(folder.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      return {};
    }
    lock = takeLockFile(folder + "/" + std::string(kLockFile));
    if (!lock.valid()) {
      std::error_code ec;
      fs::remove_all(folder, ec);
      return {};
    }
    return folder + "/";
  }
  return {};
}

// The lock of a run whose command is gone; invalid while its command lives.
UniqueFd lockOfLeftRun(const fs::path& run) { return takeLockFile(run / kLockFile); }

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// Removes a run's folder (native) with its takes, then the takes folder
// and the sound's state folder when that leaves them empty.
void removeRunFolder(const std::string& folder) {
  const std::string run = withoutTrailingSlash(folder);
  std::error_code ec;
  fs::remove_all(run, ec);
  const fs::path takes = fs::path(run).parent_path();
  if (rmdir(takes.c_str()) == 0) removeUnusedSoundStateDirectory(fromUtf8(takes.parent_path().string()));
}

std::vector<fs::path> sortedEntries(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) entries.push_back(entry.path());
  std::sort(entries.begin(), entries.end());
  return entries;
}

}  // namespace

TakeRun::TakeRun(std::string_view soundFile) {
  const std::string sound = soundStateDirectory(soundFile);
  if (!sound.empty()) folder_ = makeRunFolder(nativePath(sound) + std::string(kTakesFolder), lock_);
  inState_ = !folder_.empty();
  if (inState_) return;
  // No state folder: the takes live as long as the program does.
  if (const std::string temp = tempDirectory(); !temp.empty()) {
    std::string pattern = nativePath(temp) + "gravacoes.XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) folder_ = pattern + "/";
  }
}

TakeRun::~TakeRun() {
  if (inState_) {
    removeRunFolder(folder_);
  } else if (!folder_.empty()) {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
}

std::string TakeRun::nextTakeFile() {
  if (folder_.empty()) return {};
  char name[16];
  std::snprintf(name, sizeof name, "%03d.wav", ++takes_);
  const std::string file = folder_ + name;
  UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd.valid()) return {};
  if (inState_ && !namesOnDisk(takes_ == 1)) {
    ::unlink(file.c_str());
    return {};
  }
  return fromUtf8(file);
}

// The take's name, and with the first take the run folder's and its takes
// folder's, reach the disk: a take outlives a power cut only if its name does.
bool TakeRun::namesOnDisk(bool firstTake) const {
  if (!flushFolder(folder_)) return false;
  if (!firstTake) return true;
  const fs::path takes = fs::path(withoutTrailingSlash(folder_)).parent_path();
  return flushFolder(takes.string()) && flushFolder(takes.parent_path().string());
}

std::vector<LeftTakeRun> findLeftTakeRuns() {
  std::vector<LeftTakeRun> runs;
  const std::string state = stateDirectory();
  if (state.empty()) return runs;
  for (const fs::path& sound : sortedEntries(nativePath(state))) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(sound, ec))) continue;
    for (const fs::path& run : sortedEntries(sound / kTakesFolder)) {
      if (!fs::is_directory(fs::symlink_status(run, ec))) continue;
      UniqueFd lock = lockOfLeftRun(run);
      if (!lock.valid()) continue;
      LeftTakeRun left;
      for (const fs::path& file : sortedEntries(run)) {
        struct stat st;
        if (file.extension() != ".wav" || lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        left.takeFiles.push_back(fromUtf8(file.string()));
        left.lastWritten = std::max<int64_t>(left.lastWritten, st.st_mtim.tv_sec);
      }
      if (left.takeFiles.empty()) {
        fs::remove_all(run, ec);
        continue;
      }
      left.folder = fromUtf8(run.string()) + "/";
      left.soundFile = fromUtf8(firstLine(sound / kSoundRecord));
      left.lock = std::move(lock);
      runs.push_back(std::move(left));
    }
  }
  // Run folders are named by their start time.
  std::sort(runs.begin(), runs.end(), [](const LeftTakeRun& a, const LeftTakeRun& b) {
    return fileNamePart(a.folder.substr(0, a.folder.size() - 1)) < fileNamePart(b.folder.substr(0, b.folder.size() - 1));
  });
  return runs;
}

bool isTakeRunOf(const LeftTakeRun& run, std::string_view soundFile) {
  return !run.soundFile.empty() && !soundFile.empty() && run.soundFile == soundFilePath(soundFile);
}

void removeTakeRun(LeftTakeRun& run) {
  removeRunFolder(nativePath(run.folder));
  run.lock.reset();
}

}  // namespace kalimbro
