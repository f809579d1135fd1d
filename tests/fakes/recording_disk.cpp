#include "tests/fakes/recording_disk.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <filesystem>
#include <optional>

namespace kalimbro {
namespace {

RecordingDisk* active = nullptr;

std::string nameOf(int fd) {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string();
}

std::optional<std::pair<uint64_t, uint64_t>> idOf(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return std::nullopt;
  return std::pair<uint64_t, uint64_t>{st.st_dev, st.st_ino};
}

std::string folderOf(const std::string& name) {
  const std::string folder = std::filesystem::path(name).parent_path().string();
  return folder.empty() ? "." : folder;
}

}  // namespace

RecordingDisk::RecordingDisk()
    : swap_(DiskCalls{&RecordingDisk::writeAt, &RecordingDisk::syncData, &RecordingDisk::syncAll,
                      &RecordingDisk::syncFolder, &RecordingDisk::rename, &RecordingDisk::truncate}) {
  assert(active == nullptr);
  active = this;
}

RecordingDisk::~RecordingDisk() { active = nullptr; }

void RecordingDisk::failCall(int nth, int error, CallFilter counted, bool onwards) {
  const std::lock_guard lock(mutex_);
  nth_ = nth;
  onwards_ = onwards;
  error_ = error;
  counted_ = std::move(counted);
  seen_ = 0;
  hit_ = false;
  unsyncedFiles_.clear();
  unsyncedFolders_.clear();
  syncedFolders_.clear();
}

int RecordingDisk::calls() const {
  const std::lock_guard lock(mutex_);
  return seen_;
}

bool RecordingDisk::hit() const {
  const std::lock_guard lock(mutex_);
  return hit_;
}

std::vector<std::string> RecordingDisk::unsyncedFiles() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  // A file removed since is nothing to lose.
  for (const auto& [id, name] : unsyncedFiles_)
    if (idOf(name) == id) names.push_back(name);
  return names;
}

std::vector<std::string> RecordingDisk::unsyncedFolders() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& [id, name] : unsyncedFolders_) names.push_back(name);
  return names;
}

bool RecordingDisk::folderSynced(const std::string& nativeFolder) const {
  const std::optional<Id> id = idOf(nativeFolder);
  const std::lock_guard lock(mutex_);
  return id && syncedFolders_.contains(*id);
}

bool RecordingDisk::goesThrough(DiskCall kind, const std::string& name) {
  const std::lock_guard lock(mutex_);
  if (counted_ && !counted_({kind, name})) return true;
  ++seen_;
  if (nth_ == 0 || seen_ < nth_ || (seen_ > nth_ && !onwards_)) return true;
  hit_ = true;
  errno = error_;
  return false;
}

void RecordingDisk::written(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return;
  const std::lock_guard lock(mutex_);
  unsyncedFiles_[{st.st_dev, st.st_ino}] = nameOf(fd);
}

void RecordingDisk::synced(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return;
  const std::lock_guard lock(mutex_);
  unsyncedFiles_.erase({st.st_dev, st.st_ino});
}

void RecordingDisk::renamed(const std::string& from, const std::string& to) {
  const std::lock_guard lock(mutex_);
  for (const std::string& folder : {folderOf(from), folderOf(to)})
    if (const std::optional<Id> id = idOf(folder)) unsyncedFolders_[*id] = folder;
  if (const std::optional<Id> id = idOf(to); id && unsyncedFiles_.contains(*id)) unsyncedFiles_[*id] = to;
}

void RecordingDisk::folderSyncedNow(const std::string& folder) {
  const std::optional<Id> id = idOf(folder);
  if (!id) return;
  const std::lock_guard lock(mutex_);
  unsyncedFolders_.erase(*id);
  syncedFolders_.insert(*id);
}

ssize_t RecordingDisk::writeAt(int fd, const void* data, size_t n, int64_t offset) {
  if (!active->goesThrough(DiskCall::writeAt, nameOf(fd))) return -1;
  const ssize_t put = realDisk().writeAt(fd, data, n, offset);
  if (put > 0) active->written(fd);
  return put;
}

int RecordingDisk::syncData(int fd) {
  if (!active->goesThrough(DiskCall::syncData, nameOf(fd))) return -1;
  const int rc = realDisk().syncData(fd);
  if (rc == 0) active->synced(fd);
  return rc;
}

int RecordingDisk::syncAll(int fd) {
  if (!active->goesThrough(DiskCall::syncAll, nameOf(fd))) return -1;
  const int rc = realDisk().syncAll(fd);
  if (rc == 0) active->synced(fd);
  return rc;
}

int RecordingDisk::syncFolder(const char* folder) {
  if (!active->goesThrough(DiskCall::syncFolder, folder)) return -1;
  const int rc = realDisk().syncFolder(folder);
  if (rc == 0) active->folderSyncedNow(folder);
  return rc;
}

int RecordingDisk::rename(const char* from, const char* to, unsigned flags) {
  if (!active->goesThrough(DiskCall::rename, from)) return -1;
  const int rc = realDisk().rename(from, to, flags);
  if (rc == 0) active->renamed(from, to);
  return rc;
}

int RecordingDisk::truncate(int fd, int64_t size) {
  if (!active->goesThrough(DiskCall::truncate, nameOf(fd))) return -1;
  const int rc = realDisk().truncate(fd, size);
  if (rc == 0) active->written(fd);
  return rc;
}

}  // namespace kalimbro
