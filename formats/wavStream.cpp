// The header walked again as each piece comes until it is whole; then the
// data converted into the sound a piece at a time (floating point a block
// at a time, counted from the first frame, as a file is read).
#include "formats/wavStream.h"

#include <bit>
#include <cstring>

#include "platform/wav_header.h"

namespace kalimbro {
namespace {

// A header longer than this is no header of a program's output.
constexpr size_t kLongestHeader = 1 << 20;

bool isFloat(const WavFormat& f) {
  return f.formatTag == kWavFormatFloat && f.bitsPerSample == 32 && f.channels >= 1;
}

}  // namespace

bool WavStreamLoader::take(std::span<const uint8_t> bytes) {
  if (failed_) return false;
  if (started_) return takeData(bytes);
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  if (!takeHeader()) failed_ = true;
  return !failed_;
}

bool WavStreamLoader::finish() {
  if (failed_ || heldFloats_.empty()) return !failed_;
  const bool reduced = reduceFloats(heldFloats_);
  heldFloats_.clear();
  return reduced;
}

bool WavStreamLoader::takeHeader() {
  MemorySource source(pending_);
  WavLayout layout;
  const WavWalk walked = walkWavHeader(source, layout);
  if (walked == WavWalk::cutShort) return pending_.size() < kLongestHeader;
  if (walked != WavWalk::ok) return false;
  const WavFormat& f = layout.format;
  if ((!isPlainPcm(f) && !isFloat(f)) || f.sampleRate == 0 || f.sampleRate > static_cast<uint32_t>(INT32_MAX))
    return false;
  fileChannels_ = f.channels;
  bytesPerValue_ = f.bitsPerSample / 8;
  if (isFloat(f)) reducer_.emplace(fileChannels_);
  into_.createSized(std::min<int32_t>(fileChannels_, 2), static_cast<int32_t>(f.sampleRate),
                    f.bitsPerSample == 8 ? 8 : 16, 0);
  // Room made fresh costs nothing until the frames come; growing a store
  // as they come would clear its headroom, a fifth of the sound.
  if (expectedFrames_ > 0) into_.reserveFrames(expectedFrames_ + expectedFrames_ / 4);
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
  const size_t frameBytes = static_cast<size_t>(bytesPerValue_ * fileChannels_);
  const size_t whole = bytes.size() - bytes.size() % frameBytes;
  pending_.assign(bytes.begin() + static_cast<ptrdiff_t>(whole), bytes.end());
  if (whole == 0) return true;
  if (reducer_) return takeFloats(bytes.first(whole));
  const size_t n = whole / static_cast<size_t>(bytesPerValue_);
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

bool WavStreamLoader::takeFloats(std::span<const uint8_t> bytes) {
  const size_t n = bytes.size() / sizeof(float);
  const size_t at = heldFloats_.size();
  heldFloats_.resize(at + n);
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(heldFloats_.data() + at, bytes.data(), bytes.size());
  } else {
    for (size_t i = 0; i < n; ++i) heldFloats_[at + i] = std::bit_cast<float>(readLe32(bytes.data() + 4 * i));
  }
  const auto block = static_cast<size_t>(readBlockFrames(fileChannels_) * fileChannels_);
  size_t done = 0;
  for (; heldFloats_.size() - done >= block; done += block)
    if (!reduceFloats({heldFloats_.data() + done, block})) return false;
  heldFloats_.erase(heldFloats_.begin(), heldFloats_.begin() + static_cast<ptrdiff_t>(done));
  return true;
}

bool WavStreamLoader::reduceFloats(std::span<float> values) {
  values_.resize(values.size() / static_cast<size_t>(fileChannels_) * static_cast<size_t>(reducer_->channels()));
  reducer_->floats(values, values_.data());
  if (!into_.appendValues(values_)) failed_ = true;
  return !failed_;
}

}  // namespace kalimbro
