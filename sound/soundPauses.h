// soundPauses: where the sound goes quiet. A pause is a stretch quieter
// than a threshold set below the sound's own level, so that a soft voice
// and a loud one have their pauses found alike; the play command jumps to
// them and the pause effects trim and shorten them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sound/gramost.h"

namespace kalimbro {

// Frames first..end-1.
struct Stretch {
  int64_t first = 0;
  int64_t end = 0;
  int64_t frames() const { return end - first; }
  bool operator==(const Stretch&) const = default;
};

// How far below the sound's level (the mean power of its sounding parts)
// a stretch counts as quiet; a sound with no sounding part is all quiet.
inline constexpr double kPauseBelowLevelDb = 25.0;
// The shortest pause the play command jumps to.
inline constexpr double kShortestPauseSeconds = 0.5;

// The quiet stretches of at least `minFrames` frames, ascending. Their
// edges are exact to the frame: a stretch reaches every quiet frame next
// to it.
std::vector<Stretch> findPauses(const TAmostras& sound, int64_t minFrames);

// The pauses the play command jumps to, worked out again only when the
// sound has changed since the last call.
const std::vector<Stretch>& playPauses(const TAmostras& sound);

// Removes the stretches (ascending, apart, within the sound), moving each
// kept run of frames once.
void removeStretches(TAmostras& sound, std::span<const Stretch> cuts);

// Where a frame of the sound lies once the stretches are removed; a frame
// inside one goes to where the stretch was.
int64_t positionAfterCuts(int64_t frame, std::span<const Stretch> cuts);

}  // namespace kalimbro
