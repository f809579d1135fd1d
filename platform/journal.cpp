#include "platform/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>

#include "platform/disk.h"

namespace kalimbro {
namespace {

constexpr size_t kFrameBytes = 8;  // the length before a record and the checksum after it

void putLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (8 * i));
}

uint32_t getLe32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

uint32_t frameChecksum(const uint8_t* lengthBytes, const uint8_t* record, uint32_t length) {
  uLong crc = crc32(0L, lengthBytes, 4);
  crc = crc32(crc, record, length);
  return uint32_t(crc);
}

// The whole records of an open journal. Sizes come from fstat first, so that
// a read that fails inside the file is an error and not a torn tail.
std::optional<JournalContents> readRecords(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  const uint64_t fileSize = uint64_t(st.st_size);
  JournalContents contents;
  uint64_t at = 0;
  while (fileSize - at >= kFrameBytes) {
    std::array<uint8_t, 4> lengthBytes{};
    if (!readAllAt(fd, int64_t(at), lengthBytes.data(), 4)) return std::nullopt;
    const uint32_t length = getLe32(lengthBytes.data());
    if (length > kJournalMaxRecord) {
      contents.damagedTail = true;
      break;
    }
    if (fileSize - at - kFrameBytes < length) break;
    std::vector<uint8_t> record(size_t(length) + 4);
    if (!readAllAt(fd, int64_t(at + 4), record.data(), record.size())) return std::nullopt;
    if (getLe32(record.data() + length) != frameChecksum(lengthBytes.data(), record.data(), length)) {
      contents.damagedTail = true;
      break;
    }
    record.resize(length);
    contents.records.push_back(std::move(record));
    at += kFrameBytes + length;
  }
  contents.wholeBytes = at;
  contents.tornTail = at < fileSize;
  return contents;
}

// A new file's name reaches the disk only with its folder's.
bool flushFolderOf(const std::string& nativePath) {
  const size_t slash = nativePath.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : slash == 0 ? "/" : nativePath.substr(0, slash);
  return flushFolder(folder);
}

}  // namespace

std::optional<JournalContents> readJournal(const std::string& nativePath) {
  UniqueFd fd(::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT) return JournalContents{};
    return std::nullopt;
  }
  return readRecords(fd.get());
}

bool JournalWriter::open(const std::string& nativePath) {
  fd_.reset();
  end_ = 0;
  broken_ = false;
  atOpen_ = {};
  bool created = true;
  UniqueFd fd(::open(nativePath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd.valid() && errno == EEXIST) {
    created = false;
    fd = UniqueFd(::open(nativePath.c_str(), O_RDWR | O_CLOEXEC));
  }
  if (!fd.valid()) return false;
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
  if (created && !flushFolderOf(nativePath)) return false;
  std::optional<JournalContents> contents = readRecords(fd.get());
  if (!contents) return false;
  if (contents->tornTail &&
      (disk().truncate(fd.get(), int64_t(contents->wholeBytes)) != 0 || disk().syncData(fd.get()) != 0))
    return false;
  end_ = contents->wholeBytes;
  atOpen_ = std::move(*contents);
  fd_ = std::move(fd);
  return true;
}

bool JournalWriter::append(std::span<const uint8_t> record) {
  if (!fd_.valid() || broken_ || record.size() > kJournalMaxRecord) return false;
  const auto length = uint32_t(record.size());
  // One write of the whole frame: a crash leaves at most one torn record.
  std::vector<uint8_t> frame(kFrameBytes + record.size());
  putLe32(frame.data(), length);
  std::copy(record.begin(), record.end(), frame.begin() + 4);
  putLe32(frame.data() + 4 + length, frameChecksum(frame.data(), frame.data() + 4, length));
  if (writeWholeAt(fd_.get(), frame.data(), frame.size(), end_) && disk().syncData(fd_.get()) == 0) {
    end_ += frame.size();
    return true;
  }
  if (disk().truncate(fd_.get(), int64_t(end_)) != 0 || disk().syncData(fd_.get()) != 0) broken_ = true;
  return false;
}

}  // namespace kalimbro
