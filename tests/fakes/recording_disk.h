// A disk for tests, put in place of the kernel's (platform/disk.h) while it
// lives, the way SQLite tests its I/O errors: every call goes on to the
// kernel and is counted, and the call chosen fails instead, as a full or
// broken disk would. It also remembers, for every file, whether what was
// written to it was synced since, and for every folder whether it was
// synced since a rename put a name in it or took one out.
#pragma once

#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/disk.h"

namespace kalimbro {

enum class DiskCall : uint8_t { writeAt, syncData, syncAll, syncFolder, rename, truncate };

// A call as the disk sees it: its kind and the native name of the file or
// folder it works on (a rename: the name it takes away).
struct DiskCallSeen {
  DiskCall kind;
  std::string name;
};

class RecordingDisk {
 public:
  RecordingDisk();
  ~RecordingDisk();
  RecordingDisk(const RecordingDisk&) = delete;
  RecordingDisk& operator=(const RecordingDisk&) = delete;

  using CallFilter = std::function<bool(const DiskCallSeen&)>;
  // Counting and watching start again: from now on the `nth` call (from 1)
  // that `counted` accepts (none given: every call) fails with `error` and
  // does nothing, and so does every later one when `onwards` (a disk gone
  // for good); 0 fails none.
  void failCall(int nth, int error = EIO, CallFilter counted = {}, bool onwards = false);
  // The calls counted since failCall.
  int calls() const;
  // True once the chosen call was reached, and so failed.
  bool hit() const;
  // The files (native names) written or cut and not synced since.
  std::vector<std::string> unsyncedFiles() const;
  // The folders a rename changed and that were not synced since.
  std::vector<std::string> unsyncedFolders() const;
  // True when `nativeFolder` was synced since failCall.
  bool folderSynced(const std::string& nativeFolder) const;

 private:
  using Id = std::pair<uint64_t, uint64_t>;  // device and inode
  // The call is counted; false when it is the one to fail.
  bool goesThrough(DiskCall kind, const std::string& name);
  void written(int fd);
  void synced(int fd);
  void renamed(const std::string& from, const std::string& to);
  void folderSyncedNow(const std::string& folder);

  static ssize_t writeAt(int fd, const void* data, size_t n, int64_t offset);
  static int syncData(int fd);
  static int syncAll(int fd);
  static int syncFolder(const char* folder);
  static int rename(const char* from, const char* to, unsigned flags);
  static int truncate(int fd, int64_t size);

  // The writer thread of a replacement calls too.
  mutable std::mutex mutex_;
  CallFilter counted_;
  int nth_ = 0;
  bool onwards_ = false;
  int error_ = EIO;
  int seen_ = 0;
  bool hit_ = false;
  std::map<Id, std::string> unsyncedFiles_, unsyncedFolders_;
  std::set<Id> syncedFolders_;
  DiskSwap swap_;
};

}  // namespace kalimbro
