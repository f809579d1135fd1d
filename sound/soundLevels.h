// soundLevels: what a sighted editor reads off the waveform, as numbers: the
// peak, the loudness (EBU R128 integrated loudness, through libebur128) and
// the places where the sound clips.
#pragma once

#include <cstdint>
#include <optional>

#include "sound/gramost.h"

namespace kalimbro {

struct SoundLevels {
  std::optional<double> peakDbfs;      // none: silence
  std::optional<double> loudnessLufs;  // none: too short or too quiet to measure
  // Runs of two or more frames in a row with a value at full scale (32767
  // or -32768) in either channel.
  int64_t clippedRuns = 0;
};

// The levels of frames first..end-1 (clipped to the sound). Nothing when
// the loudness meter cannot be made (memory).
std::optional<SoundLevels> measureLevels(const TAmostras& sound, int64_t first, int64_t end);

}  // namespace kalimbro
