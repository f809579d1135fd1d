// wavStream: a WAV file read as it arrives, piece by piece (a program's
// standard output), into a sound: the header first, then every byte after
// it to the end of the stream as data, whatever size the header gives (a
// writer on a pipe cannot go back to fill it in). It takes what loadWav
// takes (PCM of 8 or 16 bits, mono or stereo) as it is, and 32-bit floating
// point of any number of channels reduced as a file read through
// libsndfile is (see sampleReduction): a converter's output.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "formats/sampleReduction.h"
#include "sound/gramost.h"

namespace kalimbro {

class WavStreamLoader {
 public:
  // `into` becomes the sound as it arrives; its memory limit holds.
  // `expectedFrames`: about how long the sound will be (0: not known).
  explicit WavStreamLoader(TAmostras& into, int64_t expectedFrames = 0)
      : into_(into), expectedFrames_(expectedFrames) {}
  // The next bytes; false once they cannot be a sound the program edits
  // or memory is refused (what follows is then of no use).
  bool take(std::span<const uint8_t> bytes);
  // The end of the stream: floating point is reduced a block at a time,
  // and the last block is held until now. False when memory is refused.
  bool finish();
  // True once the header has come whole: the sound has its format.
  bool started() const { return started_; }
  // True when the header came whole and every frame was kept (for floating
  // point, once finished); a piece of a frame at the end is dropped.
  bool complete() const { return started_ && !failed_ && heldFloats_.empty(); }
  // The bytes could not be a sound the program edits, or memory was refused.
  bool refused() const { return failed_; }
  // The stream's channels when there were more than two, mixed to stereo;
  // 0 otherwise.
  int32_t channelsMixed() const { return fileChannels_ > 2 ? fileChannels_ : 0; }

 private:
  bool takeHeader();
  bool takeData(std::span<const uint8_t> bytes);
  bool takeFloats(std::span<const uint8_t> bytes);
  bool reduceFloats(std::span<float> values);

  TAmostras& into_;
  int64_t expectedFrames_;
  bool started_ = false;
  bool failed_ = false;
  int bytesPerValue_ = 2;
  int32_t fileChannels_ = 0;
  // The header so far, then the piece of a value or frame left over.
  std::vector<uint8_t> pending_;
  std::vector<int16_t> values_;
  // Floating point: the reduction, and the frames not yet a whole block.
  std::optional<SampleReducer> reducer_;
  std::vector<float> heldFloats_;
};

}  // namespace kalimbro
