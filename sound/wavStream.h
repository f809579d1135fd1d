// wavStream: a WAV file read as it arrives, piece by piece (a program's
// standard output), into a sound: the header first, then every byte after
// it to the end of the stream as data, whatever size the header gives (a
// writer on a pipe cannot go back to fill it in). The formats are those
// loadWav takes: PCM of 8 or 16 bits, mono or stereo.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

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
  // True once the header has come whole: the sound has its format.
  bool started() const { return started_; }
  // True when the header came whole and every frame was kept; a piece of
  // a frame at the end is dropped.
  bool complete() const { return started_ && !failed_; }
  // The bytes could not be a sound the program edits, or memory was refused.
  bool refused() const { return failed_; }

 private:
  bool takeHeader();
  bool takeData(std::span<const uint8_t> bytes);

  TAmostras& into_;
  int64_t expectedFrames_;
  bool started_ = false;
  bool failed_ = false;
  int bytesPerValue_ = 2;
  // The header so far, then the piece of a value or frame left over.
  std::vector<uint8_t> pending_;
  std::vector<int16_t> values_;
};

}  // namespace kalimbro
