// Peak, loudness and clipping of a stretch of the sound.
#include "sound/soundLevels.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace kalimbro {
namespace {

struct FreeMeter {
  void operator()(ebur128_state* meter) const { ebur128_destroy(&meter); }
};

constexpr bool fullScale(int16_t v) { return v == 32767 || v == -32768; }

}  // namespace

std::optional<SoundLevels> measureLevels(const TAmostras& sound, int64_t first, int64_t end) {
  first = std::clamp<int64_t>(first, 0, sound.count());
  end = std::clamp<int64_t>(end, first, sound.count());
  const int64_t channels = sound.channels();
  const std::unique_ptr<ebur128_state, FreeMeter> meter(
      ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sound.sampleRate()), EBUR128_MODE_I));
  if (!meter) return std::nullopt;
  const std::span<const int16_t> values = sound.samples();
  SoundLevels levels;
  int32_t peak = 0;
  int64_t clippedInRow = 0;
  inBlocks(first * channels, end * channels, [&](int64_t from, int64_t to) {
    for (int64_t i = from; i < to; i += channels) {
      bool clipped = false;
      for (int64_t c = 0; c < channels; ++c) {
        const int16_t v = values[static_cast<size_t>(i + c)];
        peak = std::max(peak, std::abs(int32_t{v}));
        clipped = clipped || fullScale(v);
      }
      clippedInRow = clipped ? clippedInRow + 1 : 0;
      if (clippedInRow == 2) ++levels.clippedRuns;
    }
    ebur128_add_frames_short(meter.get(), values.data() + from, static_cast<size_t>((to - from) / channels));
  });
  if (peak > 0) levels.peakDbfs = 20.0 * std::log10(peak / 32768.0);
  double loudness = 0;
  if (ebur128_loudness_global(meter.get(), &loudness) == EBUR128_SUCCESS && std::isfinite(loudness))
    levels.loudnessLufs = loudness;
  return levels;
}

}  // namespace kalimbro
