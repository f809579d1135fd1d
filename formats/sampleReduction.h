// sampleReduction: wide sound brought to what memory holds, 16-bit values
// in one or two channels. Used by soundFiles for files read through
// libsndfile and by wavStream for a converter's floating-point output, so
// that a sound reduces alike whichever way it comes in.
//
//   - more than 16 bits, or floating point, is reduced to 16 bits with TPDF
//     dither (fixed-seed generators, so that a file always loads alike); a
//     block of values that 16 bits hold exactly (a 16-bit sound saved at 24
//     bits, digital silence) is taken as it is, so that saving and opening
//     again never adds noise;
//   - more than two channels are mixed to stereo: channels 0, 2, 4 ... are
//     averaged into the left, channels 1, 3, 5 ... into the right, and the
//     last channel of an odd count into both.
// The decision to dither is taken a block at a time, so a sound is
// reduced in blocks of readBlockFrames counted from its first frame.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kalimbro {

// Frames per block of reading and reducing: a quarter of a million values.
int64_t readBlockFrames(int32_t fileChannels);

class SampleReducer {
 public:
  // `ditherStream` 0 is the dither of a sound read from its start; another
  // stream gives another sequence, for a part read at the same time.
  explicit SampleReducer(int32_t fileChannels, uint32_t ditherStream = 0);
  // The channels in memory: 1 or 2.
  int32_t channels() const { return channels_; }

  // A block of whole frames of the file's values (overwritten when more
  // than two channels are mixed down) into channels() values a frame at
  // `out`. Floats have full scale 1.0; ints are libsndfile's scale (16-bit
  // values times 65536).
  void floats(std::span<float> values, int16_t* out);
  void ints(std::span<int32_t> values, int16_t* out);

 private:
  // Eight xorshift generators side by side, one per value of a run of
  // eight, so that the loops vectorise.
  static constexpr size_t kLanes = 8;
  std::span<int32_t> ditherFor(size_t values);

  int32_t fileChannels_;
  int32_t channels_;
  std::array<uint32_t, kLanes> state_;
  std::vector<int32_t> offsets_;
};

}  // namespace kalimbro
