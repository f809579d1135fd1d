// The header walked again as each piece comes until it is whole; then the
// data converted into the sound a piece at a time.
#include "sound/wavStream.h"

#include <bit>
#include <cstring>

#include "platform/wav_header.h"

namespace kalimbro {
namespace {

// A header longer than this is no header of a program's output.
constexpr size_t kLongestHeader = 1 << 20;

}  // namespace

bool WavStreamLoader::take(std::span<const uint8_t> bytes) {
  if (failed_) return false;
  if (started_) return takeData(bytes);
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  if (!takeHeader()) failed_ = true;
  return !failed_;
}

bool WavStreamLoader::takeHeader() {
  MemorySource source(pending_);
  WavLayout layout;
  const WavWalk walked = walkWavHeader(source, layout);
  if (walked == WavWalk::cutShort) return pending_.size() < kLongestHeader;
  if (walked != WavWalk::ok) return false;
  const WavFormat& f = layout.format;
  if (f.formatTag != kWavFormatPcm || (f.channels != 1 && f.channels != 2) ||
      (f.bitsPerSample != 8 && f.bitsPerSample != 16) || f.sampleRate == 0 ||
      f.sampleRate > static_cast<uint32_t>(INT32_MAX))
    return false;
  into_.createSized(f.channels, static_cast<int32_t>(f.sampleRate), f.bitsPerSample, 0);
  // Room made fresh costs nothing until the frames come; growing a store
  // as they come would clear its headroom, a fifth of the sound.
  if (expectedFrames_ > 0) into_.reserveFrames(expectedFrames_ + expectedFrames_ / 4);
  bytesPerValue_ = f.bitsPerSample / 8;
  started_ = true;
  std::vector<uint8_t> data(pending_.begin() + static_cast<ptrdiff_t>(layout.dataOffset), pending_.end());
  pending_.clear();
  return takeData(data);
}

bool WavStreamLoader::takeData(std::span<const uint8_t> bytes) {
  // What was left of a frame comes first.
  std::vector<uint8_t> joined;
  if (!pending_.empty()) {
    joined = std::move(pending_);
    joined.insert(joined.end(), bytes.begin(), bytes.end());
    bytes = joined;
    pending_.clear();
  }
  const size_t frameBytes = static_cast<size_t>(bytesPerValue_ * into_.channels());
  const size_t whole = bytes.size() - bytes.size() % frameBytes;
  const size_t n = whole / static_cast<size_t>(bytesPerValue_);
  pending_.assign(bytes.begin() + static_cast<ptrdiff_t>(whole), bytes.end());
  if (n == 0) return true;
  values_.resize(n);
  if (bytesPerValue_ == 1) {
    for (size_t i = 0; i < n; ++i) values_[i] = sampleFrom8Bit(bytes[i]);
  } else if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(values_.data(), bytes.data(), whole);
  } else {
    for (size_t i = 0; i < n; ++i) values_[i] = static_cast<int16_t>(readLe16(bytes.data() + 2 * i));
  }
  if (!into_.appendValues(values_)) failed_ = true;
  return !failed_;
}

}  // namespace kalimbro
