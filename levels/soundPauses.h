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

// The power of a sound's hundredth-of-a-second windows kept between
// searches, so that finding the pauses of a long sound costs little: the
// windows are measured while the program waits for keys, and after a
// change only those from the first changed frame on are measured again.
class PauseFinder {
 public:
  // Measures a block of the windows not known yet; false when all are.
  bool measureSome(const TAmostras& sound);
  // As findPauses, from the windows known and the others measured now.
  std::vector<Stretch> find(const TAmostras& sound, int64_t minFrames);
  // What trimming the silence removes: the pause the sound starts with and
  // the one it ends with, as find gives them.
  std::vector<Stretch> silenceAtTheEnds(const TAmostras& sound);
  // The pauses the play command jumps to, worked out again only when the
  // sound has changed since the last call.
  const std::vector<Stretch>& playPauses(const TAmostras& sound);

 private:
  void follow(const TAmostras& sound);
  void measureAll(const TAmostras& sound);
  // False when every window is known.
  bool measureBlock(const TAmostras& sound);

  const TAmostras* sound_ = nullptr;
  uint64_t seen_ = 0;
  int32_t rate_ = 0, channels_ = 0;
  std::vector<float> power_;  // the windows known, from the sound's start
  // The play command's pauses and the sound and change they were found for.
  const TAmostras* playPausesOf_ = nullptr;
  uint64_t playPausesAt_ = 0;
  std::vector<Stretch> playPauses_;
};

// What shortening pauses (ascending, each longer than `longest` frames) to
// `longest` removes: the middle of each, so that the words around it keep
// their breath.
std::vector<Stretch> middlesOfPauses(std::span<const Stretch> pauses, int64_t longest);

// Removing stretches (ascending, apart, within the sound) in ascending
// pieces, so that the start of the result can be heard while the rest
// moves. Once made, the sound has its new length and its markers their new
// places; moveUntil then moves the kept frames into place, each run once.
class StretchRemoval {
 public:
  StretchRemoval(TAmostras& sound, std::span<const Stretch> cuts);
  // Every frame before `end` (of the shortened sound) in its place; called
  // with ascending ends. The store past the sound is silenced once the
  // last frame is in place.
  void moveUntil(int64_t end);

 private:
  // Frames from..from+frames-1 of the sound before go to frame `to`.
  struct KeptRun {
    int64_t to = 0;
    int64_t from = 0;
    int64_t frames = 0;
  };
  std::span<int16_t> values_;
  int64_t channels_ = 1;
  int64_t newCount_ = 0;
  std::vector<KeptRun> runs_;
  size_t next_ = 0;
  int64_t moved_ = 0;
  bool tailSilenced_ = false;
};

// Removes the stretches at once.
void removeStretches(TAmostras& sound, std::span<const Stretch> cuts);

// Where a frame of the sound lies once the stretches are removed; a frame
// inside one goes to where the stretch was.
int64_t positionAfterCuts(int64_t frame, std::span<const Stretch> cuts);

}  // namespace kalimbro
