// Pauses: found from the power of short windows, their edges then placed on
// the frame.
#include "levels/soundPauses.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace kalimbro {
namespace {

constexpr double kFullScalePower = 32768.0 * 32768.0;
// Windows quieter than this never count toward the sound's level.
constexpr double kAbsoluteGateDb = -70.0;
// Of the rest, those this far below their mean are left out too, so that
// long quiet parts do not pull the level down.
constexpr double kRelativeGateDb = -10.0;

double powerOfDb(double db) { return kFullScalePower * std::pow(10.0, db / 10.0); }

int64_t windowFrames(const TAmostras& sound) { return std::max<int64_t>(1, sound.sampleRate() / 100); }

// The mean square value of the frames of each window of a hundredth of a
// second (the last one may be shorter), for windows power.size() up to
// `windows`.
void measureWindows(const TAmostras& sound, std::vector<float>& power, size_t windows) {
  const int64_t channels = sound.channels();
  const int64_t values = sound.count() * channels;
  const int64_t windowValues = windowFrames(sound) * channels;
  const std::span<const int16_t> v = sound.samples();
  size_t w = power.size();
  power.resize(windows);
  for (; w < windows; ++w) {
    const int64_t from = static_cast<int64_t>(w) * windowValues;
    const int64_t to = std::min(values, from + windowValues);
    int64_t sum = 0;
    for (int64_t i = from; i < to; ++i) {
      const int64_t x = v[static_cast<size_t>(i)];
      sum += x * x;
    }
    power[w] = static_cast<float>(static_cast<double>(sum) / static_cast<double>(to - from));
  }
}

double meanPowerAbove(const std::vector<float>& power, double gate) {
  double sum = 0;
  int64_t n = 0;
  for (const float p : power) {
    if (p > gate) {
      sum += p;
      ++n;
    }
  }
  return n == 0 ? 0.0 : sum / static_cast<double>(n);
}

// The power at or below which a window is quiet.
double quietPower(const std::vector<float>& power) {
  const double absoluteGate = powerOfDb(kAbsoluteGateDb);
  const double sounding = meanPowerAbove(power, absoluteGate);
  if (sounding == 0) return absoluteGate;
  const double level = meanPowerAbove(power, sounding * std::pow(10.0, kRelativeGateDb / 10.0));
  return level * std::pow(10.0, -kPauseBelowLevelDb / 10.0);
}

class FrameEdges {
 public:
  FrameEdges(const TAmostras& sound, double quietPower)
      : values_(sound.samples()), channels_(sound.channels()), count_(sound.count()),
        // A whole value is above the root exactly when it is above its floor.
        loudest_(static_cast<int32_t>(std::min(32768.0, std::floor(std::sqrt(quietPower))))) {}

  bool quiet(int64_t frame) const {
    for (int64_t c = 0; c < channels_; ++c) {
      if (std::abs(int32_t{values_[static_cast<size_t>(frame * channels_ + c)]}) > loudest_) return false;
    }
    return true;
  }

  // The stretch of quiet windows from..to-1 (in frames) with its edges on
  // the frame: the start goes past the loud frames at the head of its
  // first window or back over the quiet ones before it; the end likewise.
  Stretch placed(int64_t from, int64_t to, int64_t windowFrames) const {
    int64_t first = from;
    const int64_t headEnd = std::min(from + windowFrames, to);
    for (int64_t f = headEnd; f-- > from;) {
      if (!quiet(f)) {
        first = f + 1;
        break;
      }
    }
    if (first == from)
      while (first > 0 && quiet(first - 1)) --first;
    int64_t end = to;
    const int64_t tailStart = std::max(to - windowFrames, first);
    for (int64_t f = tailStart; f < to; ++f) {
      if (!quiet(f)) {
        end = f;
        break;
      }
    }
    if (end == to)
      while (end < count_ && quiet(end)) ++end;
    return {first, std::max(first, end)};
  }

 private:
  std::span<const int16_t> values_;
  int64_t channels_;
  int64_t count_;
  int32_t loudest_;
};

// The runs of quiet windows of a sound, in frames, and how to place their
// edges on the frame.
struct QuietRuns {
  QuietRuns(const TAmostras& sound, const std::vector<float>& power)
      : window(windowFrames(sound)), quiet(quietPower(power)), edges(sound, quiet) {
    const int64_t count = sound.count();
    for (size_t i = 0; i < power.size();) {
      if (power[i] > quiet) {
        ++i;
        continue;
      }
      size_t j = i;
      while (j < power.size() && power[j] <= quiet) ++j;
      runs.push_back({static_cast<int64_t>(i) * window, std::min(count, static_cast<int64_t>(j) * window)});
      i = j;
    }
  }
  Stretch placed(const Stretch& run) const { return edges.placed(run.first, run.end, window); }

  int64_t window;
  double quiet;
  FrameEdges edges;
  std::vector<Stretch> runs;
};

}  // namespace

std::vector<Stretch> findPauses(const TAmostras& sound, int64_t minFrames) {
  PauseFinder finder;
  return finder.find(sound, minFrames);
}

// ---- Kept between searches ---------------------------------------------------------------

void PauseFinder::follow(const TAmostras& sound) {
  std::optional<std::vector<FrameChange>> changes;
  if (&sound == sound_ && sound.sampleRate() == rate_ && sound.channels() == channels_)
    changes = sound.changesSince(seen_);
  if (!changes) power_.clear();
  // The windows wholly before every changed frame are as they were.
  for (const FrameChange& change : changes.value_or(std::vector<FrameChange>{}))
    power_.resize(std::min(power_.size(), static_cast<size_t>(change.first / windowFrames(sound))));
  sound_ = &sound;
  seen_ = sound.changeCount();
  rate_ = sound.sampleRate();
  channels_ = sound.channels();
}

bool PauseFinder::measureBlock(const TAmostras& sound) {
  const int64_t window = windowFrames(sound);
  const auto windows = static_cast<size_t>((int64_t{sound.count()} + window - 1) / window);
  if (power_.size() >= windows) return false;
  const auto block = static_cast<size_t>(std::max<int64_t>(1, kWorkBlockValues / (window * sound.channels())));
  measureWindows(sound, power_, std::min(windows, power_.size() + block));
  return true;
}

bool PauseFinder::measureSome(const TAmostras& sound) {
  follow(sound);
  return measureBlock(sound);
}

void PauseFinder::measureAll(const TAmostras& sound) {
  follow(sound);
  WorkClicker clicker;
  while (measureBlock(sound)) clicker.blockDone();
}

std::vector<Stretch> PauseFinder::find(const TAmostras& sound, int64_t minFrames) {
  measureAll(sound);
  const QuietRuns quiet(sound, power_);
  std::vector<Stretch> pauses;
  for (const Stretch& run : quiet.runs) {
    // Placed, a run gains less than a window at either edge: one too short
    // even so is not placed at all.
    if (run.frames() + 2 * quiet.window < minFrames) continue;
    const Stretch pause = quiet.placed(run);
    if (pause.frames() >= std::max<int64_t>(minFrames, 1)) pauses.push_back(pause);
  }
  return pauses;
}

std::vector<Stretch> PauseFinder::silenceAtTheEnds(const TAmostras& sound) {
  measureAll(sound);
  const QuietRuns quiet(sound, power_);
  std::vector<Stretch> cuts;
  if (quiet.runs.empty()) return cuts;
  // Only the first run can reach the start and only the last the end: the
  // loud window after any other holds a loud frame.
  if (const Stretch first = quiet.placed(quiet.runs.front()); first.first == 0 && first.frames() > 0)
    cuts.push_back(first);
  if (const Stretch last = quiet.placed(quiet.runs.back()); last.end == sound.count() && last.first > 0 && last.frames() > 0)
    cuts.push_back(last);
  return cuts;
}

const std::vector<Stretch>& PauseFinder::playPauses(const TAmostras& sound) {
  if (playPausesOf_ != &sound || playPausesAt_ != sound.changeCount()) {
    playPauses_ = find(sound, std::llround(kShortestPauseSeconds * sound.sampleRate()));
    playPausesOf_ = &sound;
    playPausesAt_ = sound.changeCount();
  }
  return playPauses_;
}

std::vector<Stretch> middlesOfPauses(std::span<const Stretch> pauses, int64_t longest) {
  std::vector<Stretch> cuts;
  for (const Stretch& pause : pauses) cuts.push_back({pause.first + longest / 2, pause.end - (longest - longest / 2)});
  return cuts;
}

// ---- Removal ------------------------------------------------------------------------------

StretchRemoval::StretchRemoval(TAmostras& sound, std::span<const Stretch> cuts) : channels_(sound.channels()) {
  const int64_t count = sound.count();
  // The markers follow their frames; those in a stretch go with it.
  std::vector<SoundMarker> markers;
  for (const SoundMarker& m : sound.markers()) {
    if (std::none_of(cuts.begin(), cuts.end(), [&](const Stretch& cut) { return m.frame >= cut.first && m.frame < cut.end; }))
      markers.push_back({m.number, positionAfterCuts(m.frame, cuts), m.name});
  }
  int64_t to = 0, from = 0;
  for (const Stretch& cut : cuts) {
    runs_.push_back({to, from, cut.first - from});
    to += cut.first - from;
    from = cut.end;
  }
  runs_.push_back({to, from, count - from});
  newCount_ = to + count - from;
  values_ = sound.samplesToShorten(newCount_);
  sound.setMarkers(std::move(markers));
  moveUntil(0);  // when nothing is kept, only the silencing is left
}

void StretchRemoval::moveUntil(int64_t end) {
  end = std::min(end, newCount_);
  while (moved_ < end) {
    const KeptRun& run = runs_[next_];
    if (moved_ >= run.to + run.frames) {
      ++next_;
      continue;
    }
    // The kept frames only move down: those still to come lie at or after
    // the frames being written.
    const int64_t upTo = std::min(end, run.to + run.frames);
    if (run.to != run.from)
      std::memmove(values_.data() + moved_ * channels_, values_.data() + (run.from + moved_ - run.to) * channels_,
                   static_cast<size_t>((upTo - moved_) * channels_) * sizeof(int16_t));
    moved_ = upTo;
  }
  if (moved_ == newCount_ && !tailSilenced_) {
    std::fill(values_.begin() + newCount_ * channels_, values_.end(), int16_t{0});
    tailSilenced_ = true;
  }
}

void removeStretches(TAmostras& sound, std::span<const Stretch> cuts) {
  if (cuts.empty()) return;
  StretchRemoval removal(sound, cuts);
  removal.moveUntil(sound.count());
  sound.fitStore();
}

int64_t positionAfterCuts(int64_t frame, std::span<const Stretch> cuts) {
  int64_t removed = 0;
  for (const Stretch& cut : cuts) {
    if (frame <= cut.first) break;
    removed += std::min(frame, cut.end) - cut.first;
  }
  return frame - removed;
}

}  // namespace kalimbro
