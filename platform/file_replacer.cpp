// Writing a new version of a file beside it and renaming it over the old one.
#include "platform/file_replacer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/codec.h"
#include "platform/disk.h"
#include "platform/paths.h"

namespace kalimbro {
namespace {

// A direct write needs whole blocks from aligned memory at aligned file
// offsets: the bytes gather in staging areas of whole blocks, and what is
// left at the end goes through the cache.
constexpr size_t kStagingBytes = size_t{8} << 20;
constexpr size_t kDirectAlignment = 4096;

}  // namespace

FileReplacer::~FileReplacer() { discard(); }

void FileReplacer::discard() {
  writer_.reset();
  staged_ = 0;
  rewrites_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  tempOnSignal_.clear();
  tempLock_.reset();
}

bool FileReplacer::open(std::string_view fileName, FlushToDisk flush) {
  discard();
  failed_ = false;
  flush_ = flush;
  offset_ = sentToDisk_ = onDisk_ = 0;
  direct_ = false;
  shownName_ = fileName;
  // A symbolic link keeps pointing at the file it named.
  target_ = replacedFile(nativePath(fileName));
  if (target_.empty()) return false;

  struct stat st;
  const bool exists = stat(target_.c_str(), &st) == 0;
  if (exists && (!S_ISREG(st.st_mode) || access(target_.c_str(), W_OK) != 0)) return false;

  HiddenSibling sibling = createHiddenSibling(target_);
  if (sibling.name.empty()) return false;
  fd_ = sibling.fd.release();
  tempLock_ = std::move(sibling.lock);
  temp_ = std::move(sibling.name);
  tempOnSignal_.set(temp_);
  direct_ = flush == FlushToDisk::yes && fcntl(fd_, F_SETFL, O_DIRECT) == 0;
  if (exists) {
    // The new version keeps the old one's permissions and, where allowed, owner.
    if (fchmod(fd_, st.st_mode & 07777) != 0) failed_ = true;
    if (fchown(fd_, st.st_uid, st.st_gid) != 0) {
      // Only the superuser may give a file away; anyone else keeps their own.
    }
  }
  return !failed_;
}

std::string FileReplacer::newFileName() const {
  if (temp_.empty()) return {};
  // Every name the program hands to another program is Windows-1252.
  return utf8FitsCp1252(temp_) ? fromUtf8(temp_) : aliasFor(temp_, fileNamePart(shownName_));
}

bool FileReplacer::write(const void* data, size_t n) {
  if (fd_ < 0 || failed_) return false;
  if (direct_ && !staging_[0]) {
    for (auto& area : staging_) area.reset(static_cast<uint8_t*>(std::aligned_alloc(kDirectAlignment, kStagingBytes)));
    if (!staging_[0] || !staging_[1]) direct_ = false;
  }
  if (!direct_) return put(data, n);
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    const size_t taken = std::min(n, kStagingBytes - staged_);
    std::memcpy(staging_[filling_].get() + staged_, p, taken);
    staged_ += taken;
    p += taken;
    n -= taken;
    if (staged_ == kStagingBytes && !sendStaged()) return false;
  }
  return true;
}

bool FileReplacer::rewrite(uint64_t offset, const void* data, size_t n) {
  if (fd_ < 0 || failed_ || offset > size() || n > size() - offset) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  rewrites_.emplace_back(offset, std::vector<uint8_t>(p, p + n));
  return true;
}

bool FileReplacer::sendStaged() {
  if (!writer_) writer_ = std::make_unique<PieceWriter>(fd_);
  if (!writer_->send(staging_[filling_].get(), staged_, offset_)) failed_ = true;
  offset_ += staged_;
  staged_ = 0;
  filling_ ^= 1;
  return !failed_;
}

bool FileReplacer::put(const void* data, size_t n) {
  if (failed_) return false;
  if (n == 0) return true;
  if (!writeWholeAt(fd_, static_cast<const uint8_t*>(data), n, offset_)) {
    failed_ = true;
    return false;
  }
  offset_ += n;
  // What goes through the cache starts on its way to the disk at once: a
  // large scratch copy left dirty in memory would hold back the writing of
  // whatever comes next (SoX's output) until the disk had taken it.
  if (offset_ - sentToDisk_ >= kStagingBytes) {
    sync_file_range(fd_, static_cast<off_t>(sentToDisk_), static_cast<off_t>(offset_ - sentToDisk_),
                    SYNC_FILE_RANGE_WRITE);
    // The piece before this one is waited for: one piece at a time on its way.
    if (flush_ == FlushToDisk::yesThroughCache && sentToDisk_ > onDisk_) {
      sync_file_range(fd_, static_cast<off_t>(onDisk_), static_cast<off_t>(sentToDisk_ - onDisk_),
                      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
      onDisk_ = sentToDisk_;
    }
    sentToDisk_ = offset_;
  }
  return true;
}

bool FileReplacer::flushWritten() {
  if (fd_ < 0 || failed_) return false;
  if (disk().syncData(fd_) != 0 && errno != EINVAL) failed_ = true;
  onDisk_ = sentToDisk_ = offset_;
  return !failed_;
}

bool FileReplacer::commit(const FinishNewFile& finish) {
  if (fd_ >= 0 && writer_ && !writer_->finish()) failed_ = true;
  writer_.reset();
  if (fd_ >= 0 && direct_) {
    // The whole blocks of what is left go directly; the last part of a
    // block through the cache.
    const size_t blocks = staged_ & ~(kDirectAlignment - 1);
    put(staging_[filling_].get(), blocks);
    direct_ = false;
    if (fcntl(fd_, F_SETFL, 0) != 0) failed_ = true;
    put(staging_[filling_].get() + blocks, staged_ - blocks);
  }
  // Through the cache: the bytes rewritten are few and lie anywhere.
  for (const auto& [offset, bytes] : rewrites_) {
    if (failed_ || fd_ < 0) break;
    if (!writeWholeAt(fd_, bytes.data(), bytes.size(), offset)) failed_ = true;
  }
  rewrites_.clear();
  if (fd_ < 0 || failed_ || (finish && !finish(temp_))) {
    discard();
    return false;
  }
  // Some file systems only report a lost write when the data reach the disk.
  bool ok = flush_ == FlushToDisk::no || disk().syncAll(fd_) == 0 || errno == EINVAL;
  ok = (::close(fd_) == 0) && ok;
  fd_ = -1;
  if (ok) ok = disk().rename(temp_.c_str(), target_.c_str(), 0) == 0;
  if (!ok) {
    discard();
    return false;
  }
  temp_.clear();
  tempOnSignal_.clear();
  tempLock_.reset();
  // The rename itself reaches the disk before the save is reported done.
  // Should that fail, the name holds the whole new version or, after a
  // crash, the whole old one: the save is told as failed all the same.
  return flush_ == FlushToDisk::no || flushFolder(directoryPart(target_)) || errno == EINVAL;
}

}  // namespace kalimbro
