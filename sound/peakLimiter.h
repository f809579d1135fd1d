// peakLimiter: a gain applied to the whole sound with a limit on its true
// peaks (the peaks between the samples too, as a player's converter makes
// them), so that a sound made louder never clips. The loudness effect uses
// it.
#pragma once

#include <cstdint>

#include "sound/gramost.h"

namespace kalimbro {

// Every value times `gainDb`, rounded; where that would take the true peak
// over `ceilingDb` (dB below full scale) the gain is lowered just enough,
// smoothly, a few milliseconds ahead and released over a tenth of a second.
// The number of frames that were held down.
int64_t applyGainWithPeakLimit(TAmostras& sound, double gainDb, double ceilingDb);

}  // namespace kalimbro
