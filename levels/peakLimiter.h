// peakLimiter: a gain applied to the whole sound with a limit on its true
// peaks (the peaks between the samples too, as a player's converter makes
// them), so that a sound made louder never clips. The loudness effect uses
// it, and brings the limited sound to the loudness it was asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "levels/soundLevels.h"
#include "sound/gramost.h"

namespace kalimbro {

// The gain below worked on a sound in ascending pieces, so that the start
// of a long sound can be heard while the rest is at work. The sound's
// witness is told when the limiter is made; the sound must not change
// otherwise until the work is done. Another thread may do the work.
class PeakLimiter {
 public:
  PeakLimiter(TAmostras& sound, double gainDb, double ceilingDb);
  ~PeakLimiter();
  PeakLimiter(const PeakLimiter&) = delete;
  PeakLimiter& operator=(const PeakLimiter&) = delete;

  // Every frame before `frame` is written when it returns (a few after it
  // may be too).
  void workUntil(int64_t frame);
  // Frames held down so far.
  int64_t held() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Every value times `gainDb`, rounded; where that would take the true peak
// over `ceilingDb` (dB below full scale) the gain is lowered just enough,
// smoothly, a few milliseconds ahead and released over a tenth of a second.
// The number of frames that were held down.
int64_t applyGainWithPeakLimit(TAmostras& sound, double gainDb, double ceilingDb);

// Peaks held down leave a sound short of the loudness its gain was meant
// to give. The loudness of a sound just given a limited gain, measured
// through `levels`, with the gain still missing to `targetLufs` given
// under the same ceiling while the target is not reached and each pass
// brings it nearer, a few passes at most. Nothing when the loudness cannot
// be measured (memory).
std::optional<double> reachLoudnessUnderLimit(TAmostras& sound, LevelsCache& levels, double targetLufs,
                                              double ceilingDb);

}  // namespace kalimbro
