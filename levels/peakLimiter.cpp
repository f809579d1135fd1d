// The gain and its limiter, worked out frame by frame in one pass over the
// sound, in place: each frame is written a lookahead behind the frame whose
// peak is being measured, so that only frames already measured are changed.
// The pass can stop at any frame and go on later from there. The passes
// that bring a limited sound nearer its target loudness each start from
// the sound as the last one left it.
#include "levels/peakLimiter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <memory>
#include <numbers>
#include <vector>

namespace kalimbro {
namespace {

// True peaks are looked for at three points between each two samples
// (four times oversampling), each interpolated from the twelve samples
// around it.
constexpr int kPhases = 4;
constexpr int kTapsBefore = 5, kTaps = 12;
constexpr double kLookaheadSeconds = 0.005;
constexpr double kReleaseSeconds = 0.1;
// Frames per block whose loudest neighbourhood decides whether the points
// between samples need working out at all.
constexpr int64_t kCheckBlock = 64;
// Nearer the target than this, or brought nearer by less, a sound is
// given no further pass; each pass costs as much as the first, and a
// measurement more.
constexpr double kCloseEnoughLu = 0.1;
constexpr int kMostCorrections = 3;

struct Interpolator {
  // taps[phase][j] weighs sample n - kTapsBefore + j for the point n + phase / 4.
  std::array<std::array<double, kTaps>, kPhases> taps{};
  // The most a point between samples can exceed the loudest of its samples by.
  double mostGain = 1;

  Interpolator() {
    constexpr double halfWidth = kTaps / 2.0 + 0.5;
    for (int phase = 1; phase < kPhases; ++phase) {
      double sumAbs = 0;
      for (int j = 0; j < kTaps; ++j) {
        const double d = static_cast<double>(phase) / kPhases - (j - kTapsBefore);
        const double x = std::numbers::pi * d;
        const double sinc = d == 0 ? 1.0 : std::sin(x) / x;
        const double window = 0.42 + 0.5 * std::cos(std::numbers::pi * d / halfWidth) +
                              0.08 * std::cos(2 * std::numbers::pi * d / halfWidth);
        taps[phase][j] = sinc * window;
        sumAbs += std::abs(taps[phase][j]);
      }
      mostGain = std::max(mostGain, sumAbs);
    }
  }
};

const Interpolator& interpolator() {
  static const Interpolator i;
  return i;
}

// The values of the sound as they were before any write, silence outside it.
class Original {
 public:
  explicit Original(std::span<const int16_t> values, int64_t channels)
      : values_(values), channels_(channels), count_(static_cast<int64_t>(values.size()) / channels) {}
  int64_t channels() const { return channels_; }
  int64_t count() const { return count_; }
  double at(int64_t frame, int64_t channel) const {
    if (frame < 0 || frame >= count_) return 0;
    return values_[static_cast<size_t>(frame * channels_ + channel)];
  }
  double loudestAround(int64_t first, int64_t end) const {
    int32_t loudest = 0;
    for (int64_t i = std::max<int64_t>(first, 0) * channels_; i < std::min(end, count_) * channels_; ++i)
      loudest = std::max(loudest, std::abs(int32_t{values_[static_cast<size_t>(i)]}));
    return loudest;
  }

 private:
  std::span<const int16_t> values_;
  int64_t channels_;
  int64_t count_;
};

// The largest gain (at most 1) that keeps frame n's true peak, times
// `gain`, at or under `ceiling`.
class NeededGain {
 public:
  NeededGain(const Original& original, double gain, double ceiling)
      : original_(original), gain_(gain), ceiling_(ceiling) {}

  // True when no frame of the block of n needs the gain lowered; to be
  // asked before any frame read for it has been written.
  bool blockIsLow(int64_t n) {
    if (n / kCheckBlock != checkedBlock_) {
      checkedBlock_ = n / kCheckBlock;
      const int64_t first = checkedBlock_ * kCheckBlock;
      blockIsLow_ = original_.loudestAround(first - kTapsBefore, first + kCheckBlock + kTaps) * gain_ *
                        interpolator().mostGain <=
                    ceiling_;
    }
    return blockIsLow_;
  }

  double at(int64_t n) {
    if (n >= original_.count() || blockIsLow(n)) return 1;
    double peak = 0;
    const Interpolator& in = interpolator();
    for (int64_t c = 0; c < original_.channels(); ++c) {
      peak = std::max(peak, std::abs(original_.at(n, c)));
      for (int phase = 1; phase < kPhases; ++phase) {
        double point = 0;
        for (int j = 0; j < kTaps; ++j) point += in.taps[phase][j] * original_.at(n - kTapsBefore + j, c);
        peak = std::max(peak, std::abs(point));
      }
    }
    peak *= gain_;
    return peak <= ceiling_ ? 1.0 : ceiling_ / peak;
  }

 private:
  const Original& original_;
  double gain_;
  double ceiling_;
  int64_t checkedBlock_ = -1;
  bool blockIsLow_ = false;
};

// The gain of each frame from the gains its peaks need: the least of them
// over the lookahead, released slowly, then averaged over the lookahead, so
// that the gain is already down when the peak comes and never jumps.
class GainCurve {
 public:
  GainCurve(int64_t lookahead, double release)
      : lookahead_(lookahead), release_(release), recent_(static_cast<size_t>(lookahead), 1.0),
        sum_(static_cast<double>(lookahead)) {}

  // Takes the need of frame j; gives the gain of frame j - lookahead + 1.
  double next(int64_t j, double need) {
    while (!least_.empty() && least_.back().second >= need) least_.pop_back();
    least_.emplace_back(j, need);
    while (least_.front().first <= j - lookahead_) least_.pop_front();
    held_ = std::min(least_.front().second, 1.0 - (1.0 - held_) * release_);
    double& oldest = recent_[static_cast<size_t>(j % lookahead_)];
    sum_ += held_ - oldest;
    oldest = held_;
    onesInRow_ = held_ == 1.0 ? onesInRow_ + 1 : 0;
    // Every gain over the lookahead is exactly 1 again: so is the average,
    // whatever rounding the running sum gathered.
    if (onesInRow_ >= lookahead_) sum_ = static_cast<double>(lookahead_);
    return sum_ / static_cast<double>(lookahead_);
  }

  // Every gain the curve holds is 1: needs of 1 keep it so and give 1.
  bool atRest() const { return onesInRow_ >= lookahead_; }
  // The same as next(j, 1) for frames up to j, at rest.
  void restUntil(int64_t j) {
    least_.assign(1, {j, 1.0});
    onesInRow_ += 1;
  }

 private:
  int64_t lookahead_;
  double release_;
  std::deque<std::pair<int64_t, double>> least_;
  double held_ = 1;
  std::vector<double> recent_;
  double sum_;
  int64_t onesInRow_ = 0;
};

}  // namespace

struct PeakLimiter::State {
  State(std::span<int16_t> values, int64_t channels, int32_t sampleRate, double gainDb, double ceilingDb)
      : values(values), channels(channels), count(static_cast<int64_t>(values.size()) / channels),
        original(values, channels), gain(std::pow(10.0, gainDb / 20.0)),
        need(original, gain, 32768.0 * std::pow(10.0, ceilingDb / 20.0)),
        // Longer than the interpolation reaches back, so that no frame it
        // reads has been written yet.
        lookahead(std::max<int64_t>(kTaps, std::llround(kLookaheadSeconds * sampleRate))),
        curve(lookahead, std::exp(-1.0 / (kReleaseSeconds * sampleRate))) {}

  void scale(int64_t first, int64_t end, double by) {
    for (int64_t i = std::max<int64_t>(first, 0) * channels; i < end * channels; ++i) {
      const double v = values[static_cast<size_t>(i)] * by;
      values[static_cast<size_t>(i)] = clampSample(static_cast<int64_t>(v + std::copysign(0.5, v)));
    }
  }

  std::span<int16_t> values;
  int64_t channels;
  int64_t count;
  Original original;
  double gain;
  NeededGain need;
  int64_t lookahead;
  GainCurve curve;
  // The next frame whose peak is measured; the frame a lookahead behind it
  // is the next one written.
  int64_t j = 0;
  int64_t held = 0;
};

PeakLimiter::PeakLimiter(TAmostras& sound, double gainDb, double ceilingDb)
    : state_(std::make_unique<State>(sound.samplesToChange(), sound.channels(), sound.sampleRate(), gainDb,
                                     ceilingDb)) {}

PeakLimiter::~PeakLimiter() = default;

int64_t PeakLimiter::held() const { return state_->held; }

void PeakLimiter::workUntil(int64_t frame) {
  State& s = *state_;
  const int64_t last = s.count + s.lookahead - 1;
  while (s.j < last && s.j - s.lookahead + 1 < frame) {
    // Whole blocks of quiet frames while the curve rests: the plain gain.
    if (s.j % kCheckBlock == 0 && s.j + kCheckBlock <= s.count && s.curve.atRest() && s.need.blockIsLow(s.j)) {
      s.scale(s.j - s.lookahead + 1, s.j + kCheckBlock - s.lookahead + 1, s.gain);
      s.j += kCheckBlock;
      s.curve.restUntil(s.j - 1);
    } else {
      const double frameGain = s.curve.next(s.j, s.need.at(s.j));
      const int64_t n = s.j - s.lookahead + 1;
      if (frameGain < 1.0 - 1e-9) ++s.held;
      s.scale(n, n + 1, s.gain * frameGain);
      ++s.j;
    }
  }
}

int64_t applyGainWithPeakLimit(TAmostras& sound, double gainDb, double ceilingDb) {
  if (sound.count() == 0) return 0;
  PeakLimiter limiter(sound, gainDb, ceilingDb);
  inBlocks(0, sound.count(), [&](int64_t, int64_t to) { limiter.workUntil(to); });
  return limiter.held();
}

std::optional<double> reachLoudnessUnderLimit(TAmostras& sound, LevelsCache& levels, double targetLufs,
                                              double ceilingDb) {
  std::optional<double> reached;
  for (int corrections = 0;; ++corrections) {
    const std::optional<SoundLevels> now = levels.levels(sound, 0, sound.count());
    if (!now || !now->loudnessLufs) return std::nullopt;
    const double lufs = *now->loudnessLufs;
    const bool moved = !reached || std::abs(lufs - *reached) >= kCloseEnoughLu;
    reached = lufs;
    if (corrections == kMostCorrections || targetLufs - lufs < kCloseEnoughLu || !moved) return reached;
    applyGainWithPeakLimit(sound, targetLufs - lufs, ceilingDb);
  }
}

}  // namespace kalimbro
