// The RIFF/WAVE PCM layout: header writer and chunk walk.
#include "platform/wav_header.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

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
// A subformat GUID is a plain format tag in its first two bytes, then
// these fourteen.
constexpr size_t kSubformatTagBytes = 2;
constexpr uint8_t kSubformatRest[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint32_t kUnsetDataSize = 0xFFFFFFFF;

// A chunk's id and size.
constexpr size_t kChunkHeaderBytes = 8;

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
      std::memcmp(f + kSubformatOffset + kSubformatTagBytes, kSubformatRest, sizeof kSubformatRest) == 0)
    format.formatTag = readLe16(f + kSubformatOffset);
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

constexpr size_t kCuePointBytes = 24;
// More points than any editor makes: a larger chunk is passed over.
constexpr uint32_t kMostCuePoints = 65536;

// The points of a "cue " chunk of `size` bytes (its first four are the
// count). False when the source ends inside it.
bool readCueChunk(ByteSource& source, uint32_t size, std::vector<WavCuePoint>& cues) {
  if (size < 4 || size > 4 + kCuePointBytes * kMostCuePoints) return source.skipExact(size);
  std::vector<uint8_t> bytes(size);
  if (!source.readExact(bytes.data(), bytes.size())) return false;
  const size_t points = std::min<size_t>(readLe32(bytes.data()), (size - 4) / kCuePointBytes);
  for (size_t i = 0; i < points; ++i) {
    const uint8_t* point = bytes.data() + 4 + i * kCuePointBytes;
    // The id, then the place in the play order, the chunk, its start, the
    // block's start and the frame within the chunk: the last one counts.
    cues.push_back({readLe32(point), readLe32(point + 20)});
  }
  return true;
}

// Larger label lists are passed over: no editor writes so many names.
constexpr uint32_t kMostLabelListBytes = 1 << 20;

// The "labl" entries of a LIST chunk of `size` bytes whose type is "adtl":
// a cue id, then its text up to the first 0. Other lists are skipped.
// False when the source ends inside it.
bool readLabelList(ByteSource& source, uint32_t size, std::map<uint32_t, std::string>& labels) {
  if (size < 4 || size > kMostLabelListBytes) return source.skipExact(size);
  std::vector<uint8_t> bytes(size);
  if (!source.readExact(bytes.data(), bytes.size())) return false;
  if (!chunkIdIs(bytes.data(), "adtl")) return true;
  for (size_t at = 4; at + kChunkHeaderBytes <= bytes.size();) {
    const uint8_t* entry = bytes.data() + at;
    const size_t entrySize = readLe32(entry + 4);
    const size_t textAt = at + kChunkHeaderBytes + 4;
    if (entrySize > bytes.size() - at - kChunkHeaderBytes) break;
    if (chunkIdIs(entry, "labl") && entrySize >= 4) {
      const auto* text = reinterpret_cast<const char*>(bytes.data() + textAt);
      const std::string_view whole(text, entrySize - 4);
      labels[readLe32(entry + kChunkHeaderBytes)] = std::string(whole.substr(0, whole.find('\0')));
    }
    at += kChunkHeaderBytes + entrySize + entrySize % 2;
  }
  return true;
}

void appendLe32(std::string& bytes, uint32_t v) {
  uint8_t le[4];
  writeLe32(le, v);
  bytes.append(reinterpret_cast<const char*>(le), sizeof le);
}

}  // namespace

void readCuesAfterData(ByteSource& source, WavLayout& layout) {
  bool afterOddChunk = layout.dataBytes % 2 != 0;
  for (;;) {
    uint8_t chunk[8];
    if (!readChunkHeader(source, afterOddChunk, chunk)) return;
    const uint32_t size = readLe32(chunk + 4);
    const bool read = chunkIdIs(chunk, "cue ")   ? readCueChunk(source, size, layout.cues)
                      : chunkIdIs(chunk, "LIST") ? readLabelList(source, size, layout.cueLabels)
                                                 : source.skipExact(size);
    if (!read) return;
    afterOddChunk = size % 2 != 0;
  }
}

std::vector<WavCuePoint> labelledCues(const WavLayout& layout) {
  std::vector<WavCuePoint> cues = layout.cues;
  for (WavCuePoint& cue : cues)
    if (const auto label = layout.cueLabels.find(cue.id); label != layout.cueLabels.end()) cue.label = label->second;
  return cues;
}

std::vector<uint8_t> cueChunks(std::span<const WavCuePoint> cues, uint64_t precedingBytes) {
  if (cues.empty()) return {};
  std::string bytes;
  if (precedingBytes % 2 != 0) bytes.push_back('\0');
  bytes += "cue ";
  appendLe32(bytes, static_cast<uint32_t>(4 + kCuePointBytes * cues.size()));
  appendLe32(bytes, static_cast<uint32_t>(cues.size()));
  for (const WavCuePoint& cue : cues) {
    appendLe32(bytes, cue.id);
    appendLe32(bytes, cue.frame);
    bytes += "data";
    appendLe32(bytes, 0);
    appendLe32(bytes, 0);
    appendLe32(bytes, cue.frame);
  }
  std::string labels = "adtl";
  for (const WavCuePoint& cue : cues) {
    std::string text = cue.label;
    text.push_back('\0');
    labels += "labl";
    appendLe32(labels, static_cast<uint32_t>(4 + text.size()));
    appendLe32(labels, cue.id);
    labels += text;
    if (text.size() % 2 != 0) labels.push_back('\0');
  }
  bytes += "LIST";
  appendLe32(bytes, static_cast<uint32_t>(labels.size()));
  bytes += labels;
  return {bytes.begin(), bytes.end()};
}

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
      const std::optional<uint64_t> left = source.remaining();
      layout.dataCutShort = left && size != 0 && size != kUnsetDataSize && size > *left;
      return WavWalk::ok;
    }
    if (chunkIdIs(chunk, "fmt ") && !haveFormat) {
      if (const WavWalk read = readFormat(source, size, layout.format); read != WavWalk::ok) return read;
      haveFormat = true;
    } else if (chunkIdIs(chunk, "cue ")) {
      if (!readCueChunk(source, size, layout.cues)) return WavWalk::cutShort;
    } else if (chunkIdIs(chunk, "LIST")) {
      if (!readLabelList(source, size, layout.cueLabels)) return WavWalk::cutShort;
    } else if (!source.skipExact(size)) {
      return WavWalk::cutShort;
    }
    afterOddChunk = size % 2 != 0;
  }
}

UniqueFd openRegularFile(std::string_view fileName) {
  UniqueFd fd(::open(nativePath(fileName).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd();
  return fd;
}

}  // namespace kalimbro
