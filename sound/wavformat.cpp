// The RIFF/WAVE PCM layout: header writer, chunk walk and safe file replacing.
#include "sound/wavformat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/paths.h"
#include "platform/text.h"

namespace kalimbro {

void fillWavHeader(std::span<uint8_t, kWavHeaderBytes> header, uint32_t dataBytes,
                   uint32_t sampleRate, uint16_t channels, uint16_t bitsPerSample) {
  uint8_t* h = header.data();
  const uint16_t blockAlign = static_cast<uint16_t>(channels * (bitsPerSample / 8));
  std::memcpy(h + 0, "RIFF", 4);
  writeLe32(h + 4, dataBytes + 36);
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  writeLe32(h + 16, 16);
  writeLe16(h + 20, kWavFormatPcm);
  writeLe16(h + 22, channels);
  writeLe32(h + 24, sampleRate);
  writeLe32(h + 28, static_cast<uint32_t>(blockAlign) * sampleRate);
  writeLe16(h + 32, blockAlign);
  writeLe16(h + 34, bitsPerSample);
  std::memcpy(h + 36, "data", 4);
  writeLe32(h + 40, dataBytes);
}

std::array<uint8_t, kWavHeaderBytes> makeWavHeader(uint32_t dataBytes, uint32_t sampleRate,
                                                   uint16_t channels, uint16_t bitsPerSample) {
  std::array<uint8_t, kWavHeaderBytes> header{};
  fillWavHeader(header, dataBytes, sampleRate, channels, bitsPerSample);
  return header;
}

bool chunkIdIs(const uint8_t* id, std::string_view fourcc) {
  if (fourcc.size() != 4) return false;
  for (size_t i = 0; i < 4; ++i) {
    if (upperAscii(id[i]) != upperAscii(static_cast<uint8_t>(fourcc[i]))) return false;
  }
  return true;
}

// ---- Byte sources --------------------------------------------------------------

bool ByteSource::readExact(void* dst, size_t n) {
  const size_t got = n == 0 ? 0 : readSome(dst, n);
  position_ += got;
  return got == n;
}

bool ByteSource::skipExact(uint64_t n) {
  if (n == 0) return true;
  if (!skipBytes(n)) return false;
  position_ += n;
  return true;
}

bool ByteSource::peekExact(void*, size_t) const { return false; }

bool ByteSource::skipBytes(uint64_t n) {
  uint8_t scratch[8192];
  while (n > 0) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(n, sizeof scratch));
    if (readSome(scratch, piece) != piece) return false;
    n -= piece;
  }
  return true;
}

FdSource::FdSource(int fd) : fd_(fd) {
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<uint64_t>(st.st_size);
}

bool FdSource::peekExact(void* dst, size_t n) const {
  if (!size_) return false;
  const off_t at = lseek(fd_, 0, SEEK_CUR);
  return at >= 0 && readAllAt(fd_, at, static_cast<uint8_t*>(dst), n);
}

std::optional<uint64_t> FdSource::remaining() const {
  if (!size_) return std::nullopt;
  const off_t at = lseek(fd_, 0, SEEK_CUR);
  if (at < 0) return std::nullopt;
  return *size_ > static_cast<uint64_t>(at) ? *size_ - static_cast<uint64_t>(at) : 0;
}

size_t FdSource::readSome(void* dst, size_t n) {
  auto* out = static_cast<uint8_t*>(dst);
  size_t done = 0;
  while (done < n) {
    // One read call is kept below 1 GiB; Linux stops a single read near 2 GiB.
    const size_t ask = std::min<size_t>(n - done, size_t{1} << 30);
    const ssize_t got = ::read(fd_, out + done, ask);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

bool FdSource::skipBytes(uint64_t n) {
  const std::optional<uint64_t> left = remaining();
  if (!left) return ByteSource::skipBytes(n);
  if (n > *left) return false;
  return lseek(fd_, static_cast<off_t>(n), SEEK_CUR) >= 0;
}

std::optional<uint64_t> MemorySource::remaining() const { return bytes_.size() - next_; }

bool MemorySource::peekExact(void* dst, size_t n) const {
  if (n > bytes_.size() - next_) return false;
  if (n > 0) std::memcpy(dst, bytes_.data() + next_, n);
  return true;
}

size_t MemorySource::readSome(void* dst, size_t n) {
  const size_t got = std::min(n, bytes_.size() - next_);
  if (got > 0) std::memcpy(dst, bytes_.data() + next_, got);
  next_ += got;
  return got;
}

bool MemorySource::skipBytes(uint64_t n) {
  if (n > bytes_.size() - next_) return false;
  next_ += static_cast<size_t>(n);
  return true;
}

// ---- The header walk -----------------------------------------------------------

namespace {

// An extensible format chunk: the 16 common fields, the extension's size,
// valid bits, channel mask and the subformat's GUID.
constexpr size_t kExtensibleFormatBytes = 40;
constexpr size_t kSubformatOffset = 24;
constexpr uint8_t kPcmSubformat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint32_t kUnsetDataSize = 0xFFFFFFFF;

// The next chunk's 8-byte header. After an odd-sized chunk a pad byte
// belongs, which older writers leave out; a chunk id never begins with
// byte 0, so a 0 there is the pad.
bool readChunkHeader(ByteSource& source, bool afterOddChunk, uint8_t (&header)[8]) {
  if (!source.readExact(header, sizeof header)) return false;
  if (!afterOddChunk || header[0] != 0) return true;
  std::memmove(header, header + 1, sizeof header - 1);
  return source.readExact(header + sizeof header - 1, 1);
}

WavWalk readFormat(ByteSource& source, uint32_t size, WavFormat& format) {
  if (size < kWavFormatBytes) return WavWalk::formatTooSmall;
  uint8_t f[kExtensibleFormatBytes];
  const size_t kept = std::min<size_t>(size, sizeof f);
  if (!source.readExact(f, kept) || !source.skipExact(size - kept)) return WavWalk::cutShort;
  format.formatTag = readLe16(f + 0);
  format.channels = readLe16(f + 2);
  format.sampleRate = readLe32(f + 4);
  format.byteRate = readLe32(f + 8);
  format.blockAlign = readLe16(f + 12);
  format.bitsPerSample = readLe16(f + 14);
  if (format.formatTag == kWavFormatExtensible && kept == kExtensibleFormatBytes &&
      std::memcmp(f + kSubformatOffset, kPcmSubformat, sizeof kPcmSubformat) == 0)
    format.formatTag = kWavFormatPcm;
  return WavWalk::ok;
}

// True when a data size of 0 is a chunk that is really empty: the RIFF
// size was filled in and counts, within the file, a whole chunk right
// after the data chunk's header (a list of tags a later writer added). A
// writer that streams leaves the sizes as placeholders, or fills in only
// the RIFF size, and its data run to the end of the file.
bool emptyDataChunk(const ByteSource& source, uint32_t riffSize, uint64_t left) {
  if (riffSize == 0 || riffSize == kUnsetDataSize) return false;
  const uint64_t riffEnd = uint64_t{riffSize} + 8;
  const uint64_t dataOffset = source.position();
  constexpr uint64_t kChunkHeaderBytes = 8;
  if (riffEnd < dataOffset + kChunkHeaderBytes || riffEnd > dataOffset + left) return false;
  uint8_t next[kChunkHeaderBytes];
  if (!source.peekExact(next, sizeof next)) return false;
  // A chunk id is four printable characters.
  for (size_t i = 0; i < 4; ++i)
    if (next[i] < 0x20 || next[i] > 0x7E) return false;
  return dataOffset + kChunkHeaderBytes + readLe32(next + 4) <= riffEnd;
}

// The data bytes really there; see walkWavHeader.
uint64_t presentDataBytes(const ByteSource& source, uint32_t stored, uint32_t riffSize, const WavFormat& format) {
  const std::optional<uint64_t> left = source.remaining();
  if (!left) return stored;
  if (stored != 0 && stored != kUnsetDataSize && stored <= *left) return stored;
  if (stored == 0 && emptyDataChunk(source, riffSize, *left)) return 0;
  const uint64_t frameBytes = uint64_t{format.channels} * ((format.bitsPerSample + 7u) / 8u);
  return frameBytes == 0 ? *left : *left - *left % frameBytes;
}

}  // namespace

WavWalk walkWavHeader(ByteSource& source, WavLayout& layout) {
  layout = WavLayout{};
  uint8_t riff[12];
  if (!source.readExact(riff, sizeof riff)) return WavWalk::cutShort;
  if (!chunkIdIs(riff, "RIFF")) return WavWalk::notRiff;

  bool haveFormat = false;
  bool afterOddChunk = false;
  for (;;) {
    uint8_t chunk[8];
    if (!readChunkHeader(source, afterOddChunk, chunk)) return WavWalk::cutShort;
    const uint32_t size = readLe32(chunk + 4);
    if (chunkIdIs(chunk, "data")) {
      if (!haveFormat) return WavWalk::noFormat;
      layout.dataOffset = source.position();
      layout.dataBytes = presentDataBytes(source, size, readLe32(riff + 4), layout.format);
      return WavWalk::ok;
    }
    if (chunkIdIs(chunk, "fmt ") && !haveFormat) {
      if (const WavWalk read = readFormat(source, size, layout.format); read != WavWalk::ok) return read;
      haveFormat = true;
    } else if (!source.skipExact(size)) {
      return WavWalk::cutShort;
    }
    afterOddChunk = size % 2 != 0;
  }
}

UniqueFd openSoundFile(std::string_view fileName) {
  UniqueFd fd(::open(nativePath(fileName).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd();
  return fd;
}

// ---- FileReplacer ----------------------------------------------------------------

FileReplacer::~FileReplacer() { discard(); }

void FileReplacer::discard() {
  writer_.reset();
  staged_ = 0;
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
  offset_ = sentToDisk_ = 0;
  direct_ = false;
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

// A direct write needs whole blocks from aligned memory at aligned file
// offsets: the bytes gather in staging areas of whole blocks, and what is
// left at the end goes through the cache.
constexpr size_t kStagingBytes = size_t{8} << 20;
constexpr size_t kDirectAlignment = 4096;

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

bool FileReplacer::sendStaged() {
  if (!writer_) writer_ = std::make_unique<PieceWriter>(fd_);
  if (!writer_->send(staging_[filling_].get(), staged_, offset_)) failed_ = true;
  offset_ += staged_;
  staged_ = 0;
  filling_ ^= 1;
  return !failed_;
}

bool FileReplacer::put(const void* data, size_t n) {
  if (failed_ || !writeWholeAt(fd_, static_cast<const uint8_t*>(data), n, offset_)) {
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
    sentToDisk_ = offset_;
  }
  return true;
}

bool FileReplacer::commit() {
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
  if (fd_ < 0 || failed_) {
    discard();
    return false;
  }
  // Some file systems only report a lost write when the data reach the disk.
  bool ok = flush_ == FlushToDisk::no || fsync(fd_) == 0 || errno == EINVAL;
  ok = (::close(fd_) == 0) && ok;
  fd_ = -1;
  if (ok) ok = std::rename(temp_.c_str(), target_.c_str()) == 0;
  if (!ok) {
    discard();
    return false;
  }
  temp_.clear();
  tempOnSignal_.clear();
  tempLock_.reset();
  if (flush_ == FlushToDisk::no) return true;
  // Make the rename itself durable.
  const size_t slash = target_.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : target_.substr(0, slash + 1);
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace kalimbro
