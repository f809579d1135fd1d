// soundLevels: what a sighted editor reads off the waveform, as numbers: the
// peak, the loudness (EBU R128 integrated loudness, through libebur128) and
// the places where the sound clips.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

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

// The clipped runs of frames first..end-1 alone, as SoundLevels counts
// them: what an effect's result is told to clip before it is kept.
int64_t countClippedRuns(const TAmostras& sound, int64_t first, int64_t end);

// The levels of a sound kept piece by piece (half a minute each), so that
// asking again costs little: the pieces are measured while the program
// waits for keys, and after a change only the pieces it touched are
// measured again, the others moving with their frames. A loudness put
// together from pieces leaves out the few 400 ms blocks that would straddle
// their edges.
struct MeasuredStretch;

class LevelsCache {
 public:
  LevelsCache();
  ~LevelsCache();
  LevelsCache(const LevelsCache&) = delete;
  LevelsCache& operator=(const LevelsCache&) = delete;

  // As measureLevels, from the pieces known and those measured now.
  // Nothing also when `giveUp` says so between two pieces (what was
  // measured stays known).
  std::optional<SoundLevels> levels(const TAmostras& sound, int64_t first, int64_t end,
                                    const std::function<bool()>& giveUp = {});
  // Measures one piece of the sound not known yet; false when none is left.
  bool measureSome(const TAmostras& sound);

 private:
  void follow(const TAmostras& sound);
  // The first stretch of first..end that no piece covers, as the piece to
  // measure there; nothing when all of it is covered.
  std::optional<std::pair<int64_t, int64_t>> nextGap(int64_t first, int64_t end) const;
  bool fill(const TAmostras& sound, int64_t first, int64_t end);
  // Measures every piece of first..end not known yet; false when memory
  // was refused or `giveUp` said so.
  bool fillGaps(const TAmostras& sound, int64_t first, int64_t end, const std::function<bool()>& giveUp);

  const TAmostras* sound_ = nullptr;
  uint64_t seen_ = 0;
  int32_t rate_ = 0, channels_ = 0;
  std::vector<std::unique_ptr<MeasuredStretch>> pieces_;  // in order, apart
};

}  // namespace kalimbro
