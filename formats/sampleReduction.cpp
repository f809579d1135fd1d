// Dither, reduction and mixing down, vectorised where the processor allows.
#include "formats/sampleReduction.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "sound/gramost.h"

namespace kalimbro {
namespace {

constexpr std::array<uint32_t, 8> kSeeds = {0x9E3779B9u, 0x85EBCA6Bu, 0xC2B2AE35u, 0x27D4EB2Fu,
                                            0x165667B1u, 0xD3A2646Cu, 0xFD7046C5u, 0xB55A4F09u};

// Triangular dither of one 16-bit step, one offset per value: the
// difference of two uniform values, in (-65536, 65536), sixty-five-
// thousandths of a step.
[[gnu::target_clones("avx2", "default")]]
void fillDither(std::array<uint32_t, 8>& state, std::span<int32_t> offsets) {
  constexpr size_t kLanes = 8;
  std::array<uint32_t, kLanes> s = state;
  for (size_t i = 0; i < offsets.size(); i += kLanes) {
    std::array<int32_t, kLanes> run;
    for (size_t k = 0; k < kLanes; ++k) {
      s[k] ^= s[k] << 13;
      s[k] ^= s[k] >> 17;
      s[k] ^= s[k] << 5;
      run[k] = static_cast<int32_t>(s[k] & 0xFFFF) - static_cast<int32_t>(s[k] >> 16);
    }
    std::copy_n(run.begin(), std::min(kLanes, offsets.size() - i), offsets.begin() + static_cast<ptrdiff_t>(i));
  }
  state = s;
}

// 32-bit values to 16 bits, rounded to the nearest after the dither is
// added. A run whose values 16 bits hold exactly is taken as it is. The
// whole part and the fraction are kept apart so that nothing leaves 32 bits.
[[gnu::target_clones("avx2", "default")]]
void reduceInts(const int32_t* in, size_t n, int16_t* out, const int32_t* dither) {
  int32_t lowBits = 0;
  for (size_t i = 0; i < n; ++i) lowBits |= in[i] & 0xFFFF;
  if (lowBits == 0) {
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<int16_t>(in[i] >> 16);
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    const int32_t rounded = (in[i] >> 16) + (((in[i] & 0xFFFF) + dither[i] + 0x8000) >> 16);
    out[i] = static_cast<int16_t>(std::min(std::max(rounded, -32768), 32767));
  }
}

// Floating-point values to 16 bits, alike; values past full scale are
// clipped, not a reason to dither; NaN is silence.
[[gnu::target_clones("avx2", "default")]]
void reduceFloats(const float* in, size_t n, int16_t* out, const int32_t* dither) {
  int32_t fractions = 0;
  for (size_t i = 0; i < n; ++i) {
    const float v = in[i] * 32768.0f;
    fractions |= v != std::floor(v);
  }
  const float ditherScale = fractions != 0 ? 1.0f / 65536.0f : 0.0f;
  for (size_t i = 0; i < n; ++i) {
    float v = std::floor(in[i] * 32768.0f + static_cast<float>(dither[i]) * ditherScale + 0.5f);
    v = v == v ? v : 0.0f;
    out[i] = static_cast<int16_t>(static_cast<int32_t>(std::min(std::max(v, -32768.0f), 32767.0f)));
  }
}

// Frames of more than two channels into stereo, in place, averaged (an
// average of values of a type fits the type).
template <typename T, typename Sum>
void mixToStereo(T* values, int32_t fileChannels, int64_t frames) {
  const int32_t right = fileChannels / 2, left = fileChannels - right;
  const bool shared = fileChannels % 2 == 1;
  for (int64_t f = 0; f < frames; ++f) {
    const T* frame = values + f * fileChannels;
    Sum l = 0, r = 0;
    for (int32_t c = 0; c + 1 < fileChannels; c += 2) {
      l += frame[c];
      r += frame[c + 1];
    }
    if (shared) {
      l += frame[fileChannels - 1];
      r += frame[fileChannels - 1];
    }
    // Frame f's first two values are behind what is still to be read.
    values[2 * f] = static_cast<T>(l / left);
    values[2 * f + 1] = static_cast<T>(r / (shared ? right + 1 : right));
  }
}

}  // namespace

int64_t readBlockFrames(int32_t fileChannels) { return std::max<int64_t>(kWorkBlockValues / fileChannels / 4, 1); }

SampleReducer::SampleReducer(int32_t fileChannels, uint32_t ditherStream)
    : fileChannels_(fileChannels), channels_(std::min(fileChannels, 2)), state_(kSeeds) {
  for (uint32_t& s : state_) {
    s ^= ditherStream * 0x9E3779B9u;
    if (s == 0) s = 1;  // xorshift stays at zero
  }
}

std::span<int32_t> SampleReducer::ditherFor(size_t values) {
  if (offsets_.size() < values) offsets_.resize(values);
  const std::span<int32_t> offsets(offsets_.data(), values);
  fillDither(state_, offsets);
  return offsets;
}

void SampleReducer::floats(std::span<float> values, int16_t* out) {
  const int64_t frames = static_cast<int64_t>(values.size()) / fileChannels_;
  if (fileChannels_ > 2) mixToStereo<float, double>(values.data(), fileChannels_, frames);
  const auto n = static_cast<size_t>(frames * channels_);
  reduceFloats(values.data(), n, out, ditherFor(n).data());
}

void SampleReducer::ints(std::span<int32_t> values, int16_t* out) {
  const int64_t frames = static_cast<int64_t>(values.size()) / fileChannels_;
  if (fileChannels_ > 2) mixToStereo<int32_t, int64_t>(values.data(), fileChannels_, frames);
  const auto n = static_cast<size_t>(frames * channels_);
  reduceInts(values.data(), n, out, ditherFor(n).data());
}

}  // namespace kalimbro
