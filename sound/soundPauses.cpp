// Pauses: found from the power of short windows, their edges then placed on
// the frame.
#include "sound/soundPauses.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kalimbro {
namespace {

constexpr double kFullScalePower = 32768.0 * 32768.0;
// Windows quieter than this never count toward the sound's level.
constexpr double kAbsoluteGateDb = -70.0;
// Of the rest, those this far below their mean are left out too, so that
// long quiet parts do not pull the level down.
constexpr double kRelativeGateDb = -10.0;

double powerOfDb(double db) { return kFullScalePower * std::pow(10.0, db / 10.0); }

// The mean square value of the frames of each window of a hundredth of a
// second (the last one may be shorter).
struct WindowPowers {
  int64_t windowFrames = 1;
  std::vector<float> power;
};

WindowPowers measureWindows(const TAmostras& sound) {
  WindowPowers w;
  w.windowFrames = std::max<int64_t>(1, sound.sampleRate() / 100);
  const int64_t channels = sound.channels();
  const int64_t count = sound.count();
  const std::span<const int16_t> values = sound.samples();
  w.power.resize(static_cast<size_t>((count + w.windowFrames - 1) / w.windowFrames));
  const int64_t windowValues = w.windowFrames * channels;
  // Blocks of whole windows, so that the click of long work comes between them.
  const int64_t blockValues = std::max<int64_t>(1, kWorkBlockValues / windowValues) * windowValues;
  WorkClicker clicker;
  for (int64_t begin = 0; begin < count * channels; begin += blockValues) {
    const int64_t blockEnd = std::min(count * channels, begin + blockValues);
    for (int64_t from = begin; from < blockEnd; from += windowValues) {
      const int64_t to = std::min(blockEnd, from + windowValues);
      int64_t sum = 0;
      for (int64_t i = from; i < to; ++i) {
        const int64_t v = values[static_cast<size_t>(i)];
        sum += v * v;
      }
      w.power[static_cast<size_t>(from / windowValues)] = static_cast<float>(static_cast<double>(sum) / static_cast<double>(to - from));
    }
    clicker.blockDone();
  }
  return w;
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
        loudest_(std::sqrt(quietPower)) {}

  bool quiet(int64_t frame) const {
    for (int64_t c = 0; c < channels_; ++c) {
      if (std::abs(static_cast<double>(values_[static_cast<size_t>(frame * channels_ + c)])) > loudest_) return false;
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
  double loudest_;
};

}  // namespace

std::vector<Stretch> findPauses(const TAmostras& sound, int64_t minFrames) {
  const WindowPowers w = measureWindows(sound);
  const double quiet = quietPower(w.power);
  const FrameEdges edges(sound, quiet);
  const int64_t count = sound.count();
  std::vector<Stretch> pauses;
  const size_t windows = w.power.size();
  for (size_t i = 0; i < windows;) {
    if (w.power[i] > quiet) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < windows && w.power[j] <= quiet) ++j;
    const int64_t from = static_cast<int64_t>(i) * w.windowFrames;
    const int64_t to = std::min(count, static_cast<int64_t>(j) * w.windowFrames);
    const Stretch pause = edges.placed(from, to, w.windowFrames);
    if (pause.frames() >= std::max<int64_t>(minFrames, 1)) pauses.push_back(pause);
    i = j;
  }
  return pauses;
}

const std::vector<Stretch>& playPauses(const TAmostras& sound) {
  struct Known {
    const TAmostras* sound = nullptr;
    uint64_t changes = 0;
    std::vector<Stretch> pauses;
  };
  static Known known;
  if (known.sound != &sound || known.changes != sound.changeCount()) {
    known.pauses = findPauses(sound, std::llround(kShortestPauseSeconds * sound.sampleRate()));
    known.sound = &sound;
    known.changes = sound.changeCount();
  }
  return known.pauses;
}

void removeStretches(TAmostras& sound, std::span<const Stretch> cuts) {
  if (cuts.empty()) return;
  const int64_t channels = sound.channels();
  const int64_t count = sound.count();
  // The markers follow their frames; those in a stretch go with it.
  std::vector<SoundMarker> markers;
  for (const SoundMarker& m : sound.markers()) {
    if (std::none_of(cuts.begin(), cuts.end(), [&](const Stretch& cut) { return m.frame >= cut.first && m.frame < cut.end; }))
      markers.push_back({m.number, positionAfterCuts(m.frame, cuts)});
  }
  const std::span<int16_t> values = sound.samplesToChange();
  int64_t kept = cuts.front().first;
  for (size_t i = 0; i < cuts.size(); ++i) {
    const int64_t from = cuts[i].end;
    const int64_t to = i + 1 < cuts.size() ? cuts[i + 1].first : count;
    std::memmove(values.data() + kept * channels, values.data() + from * channels,
                 static_cast<size_t>((to - from) * channels) * sizeof(int16_t));
    kept += to - from;
  }
  sound.deleteRange(kept, count - kept);
  sound.setMarkers(std::move(markers));
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
