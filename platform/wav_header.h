// wav_header: the RIFF/WAVE PCM layout that every reader and writer of
// sound files in the program shares. It holds the one writer of the
// canonical 44-byte header, the 8- and 16-bit sample encodings, the
// little-endian field access and the walk over a file's chunks up to its
// data (used by the sample buffer's loader, the playback engine's file
// readers, the divide command, speech's sound images and the arquivo:
// device). It lives with the platform because it reads through file
// descriptors and needs nothing above them: every layer may use it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fd.h"

namespace kalimbro {

inline constexpr size_t kWavHeaderBytes = 44;
// The part of a format chunk every reader uses: tag, channels, rate, byte
// rate, block align and bits per sample.
inline constexpr size_t kWavFormatBytes = 16;
inline constexpr uint16_t kWavFormatPcm = 1;
inline constexpr uint16_t kWavFormatFloat = 3;
inline constexpr uint16_t kWavFormatExtensible = 0xFFFE;

// ---- Little-endian fields ------------------------------------------------

constexpr uint16_t readLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
constexpr uint32_t readLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
constexpr void writeLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
constexpr void writeLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// ---- The canonical header --------------------------------------------------

// Fills the 44 bytes of a PCM header: RIFF size = dataBytes + 36, format
// chunk of 16 bytes, block align = channels x (bits div 8) kept to 16 bits,
// byte rate = block align x sample rate, then the data chunk's header.
void fillWavHeader(std::span<uint8_t, kWavHeaderBytes> header, uint32_t dataBytes,
                   uint32_t sampleRate, uint16_t channels, uint16_t bitsPerSample);
std::array<uint8_t, kWavHeaderBytes> makeWavHeader(uint32_t dataBytes, uint32_t sampleRate,
                                                   uint16_t channels, uint16_t bitsPerSample);

// ---- Sample encodings ------------------------------------------------------

// 8-bit data are unsigned with 128 as silence: 0, 128 and 255 read as
// -32768, 0 and 32512.
constexpr int16_t sampleFrom8Bit(uint8_t b) { return static_cast<int16_t>((b - 128) * 256); }
// Mono 8-bit saving divides (truncating toward zero), stereo shifts (rounding
// toward minus infinity): -1 becomes 128 in a mono file and 127 in a stereo
// one. Files already written this way are what users have on disk.
constexpr uint8_t monoSampleTo8Bit(int16_t v) { return static_cast<uint8_t>(v / 256 + 128); }
constexpr uint8_t stereoSampleTo8Bit(int16_t v) { return static_cast<uint8_t>((v >> 8) + 128); }

// True when the four bytes at `id` spell `fourcc` without regard to case.
bool chunkIdIs(const uint8_t* id, std::string_view fourcc);

// ---- Walking a file's chunks -------------------------------------------------

// Bytes read in order from a file or from memory. Reads never run ahead of
// what was asked, so after a header walk the next byte is the first data byte.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // All `n` bytes, or false when the source ends (or fails) first.
  bool readExact(void* dst, size_t n);
  // Passes over `n` bytes; false when fewer were there.
  bool skipExact(uint64_t n);
  // Bytes consumed from the start of the source.
  uint64_t position() const { return position_; }
  // Bytes left, when the source knows (a regular file, memory).
  virtual std::optional<uint64_t> remaining() const = 0;
  // The next `n` bytes without passing over them, where the source can go
  // back (a regular file, memory); false otherwise or when fewer are left.
  virtual bool peekExact(void* dst, size_t n) const;

 protected:
  // Up to `n` bytes; fewer only at the end of the source or on an error.
  virtual size_t readSome(void* dst, size_t n) = 0;
  // Default: reads and discards.
  virtual bool skipBytes(uint64_t n);

 private:
  uint64_t position_ = 0;
};

// Reads an open descriptor from its current position; does not own it.
class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd);
  std::optional<uint64_t> remaining() const override;
  bool peekExact(void* dst, size_t n) const override;

 protected:
  size_t readSome(void* dst, size_t n) override;
  bool skipBytes(uint64_t n) override;

 private:
  int fd_;
  std::optional<uint64_t> size_;  // regular files only
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  std::optional<uint64_t> remaining() const override;
  bool peekExact(void* dst, size_t n) const override;

 protected:
  size_t readSome(void* dst, size_t n) override;
  bool skipBytes(uint64_t n) override;

 private:
  std::span<const uint8_t> bytes_;
  size_t next_ = 0;
};

// The first 16 bytes of a format chunk.
struct WavFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint32_t byteRate = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
};

// A place in the data, in frames, with the number its cue chunk gives it
// and the text of its label (other editors show these as named markers).
struct WavCuePoint {
  uint32_t id = 0;
  uint32_t frame = 0;
  std::string label = {};  // as the file has it (Windows-1252 here); empty when it has none
  bool operator==(const WavCuePoint&) const = default;
};

// The PCM the program edits as it is: 8 or 16 bits, mono or stereo.
inline bool isPlainPcm(const WavFormat& f) {
  return f.formatTag == kWavFormatPcm && (f.channels == 1 || f.channels == 2) &&
         (f.bitsPerSample == 8 || f.bitsPerSample == 16);
}

struct WavLayout {
  // An extensible format whose subformat is one of the plain tags (PCM,
  // float) has that tag here: its data are laid out the same way.
  WavFormat format;
  uint64_t dataBytes = 0;   // the data really there (see walkWavHeader)
  uint64_t dataOffset = 0;  // position of the first data byte
  // The data size was filled in and reaches past the end of the source:
  // the file was cut short, and dataBytes is what is left of it.
  bool dataCutShort = false;
  // From a "cue " chunk before the data, and later from those after it.
  std::vector<WavCuePoint> cues;
  // The labels of a LIST "adtl" chunk by cue id, before or after the data.
  std::map<uint32_t, std::string> cueLabels;
};

enum class WavWalk {
  ok,
  cutShort,        // the source ended inside the header or a chunk before the data
  notRiff,         // the first four bytes are not "RIFF"
  noFormat,        // the data chunk came before any "fmt " chunk
  formatTooSmall,  // the format chunk is shorter than its 16 fields
};

// Walks a RIFF/WAVE header: 12 bytes whose first four are "RIFF" (the size
// and form type are not examined), then chunks up to "data", of which the
// first "fmt " gives the format and the others are skipped. Chunk ids are
// compared without regard to case. The pad byte after an odd-sized chunk is
// skipped when it is there (a 0 where a chunk id would begin). The format
// tag is not examined: each reader decides what it accepts.
//
// When the source knows its length, a data size that was never filled in
// (0xFFFFFFFF, or 0: a recording or a stream cut off) or that reaches past
// the end (a file cut short: `dataCutShort`) becomes the rest of the
// source, in whole frames. A data size of 0 stays 0 where the RIFF size was filled in and
// counts a whole chunk right after the data chunk's header: an empty data
// chunk with tags after it. On `ok` the source stands at the first data
// byte.
WavWalk walkWavHeader(ByteSource& source, WavLayout& layout);

// With the source standing right after the layout's data bytes: walks the
// chunks that follow to the end of the source and adds the points of a
// "cue " chunk and the labels of a LIST "adtl" chunk among them to the
// layout. A chunk cut short ends the walk quietly.
void readCuesAfterData(ByteSource& source, WavLayout& layout);
// The layout's cue points, each with its label.
std::vector<WavCuePoint> labelledCues(const WavLayout& layout);

// The chunks written after `precedingBytes` of a RIFF body (the data, or
// a whole file less its first 8 bytes) for cue points: "cue ", then a LIST
// of type "adtl" with each point's label; a pad byte first when the
// preceding bytes are of odd size, and one after each label of odd size.
// Nothing for no points.
std::vector<uint8_t> cueChunks(std::span<const WavCuePoint> cues, uint64_t precedingBytes);

// Opens a sound file for reading, only when it is a regular file: a FIFO or
// a device could hold the program forever. Invalid on any failure.
UniqueFd openRegularFile(std::string_view fileName);

}  // namespace kalimbro
