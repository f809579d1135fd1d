// Peak, loudness and clipping of a stretch of the sound, measured in
// pieces that are put together: peaks by the largest, loudness by
// libebur128 over the pieces' meters, clipped runs joined across the edges.
#include "levels/soundLevels.h"

#include <ebur128.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/worker_thread.h"

namespace kalimbro {

struct FreeMeter {
  void operator()(ebur128_state* meter) const { ebur128_destroy(&meter); }
};

// Frames first..end-1 measured.
struct MeasuredStretch {
  int64_t first = 0;
  int64_t end = 0;
  std::unique_ptr<ebur128_state, FreeMeter> meter;
  int32_t peak = 0;
  // Clipped runs of two frames or more that touch neither edge, and the
  // clipped frames in a row at the start and at the end (all of them for
  // a stretch clipped throughout).
  int64_t runsInside = 0;
  int64_t head = 0;
  int64_t tail = 0;
  bool allClipped = true;
};

namespace {

// A piece of the cache: half a minute, or up to half as much again rather
// than leave a small remainder.
constexpr int64_t kPieceSeconds = 30;

constexpr bool fullScale(int16_t v) { return v == 32767 || v == -32768; }

// Counts a stretch's clipped runs frame by frame into its MeasuredStretch.
class ClippedRuns {
 public:
  explicit ClippedRuns(MeasuredStretch& m) : m_(m) {}
  void frame(bool clipped) {
    if (clipped) {
      ++run_;
      return;
    }
    if (m_.allClipped) {
      m_.head = run_;
      m_.allClipped = false;
    } else if (run_ >= 2) {
      ++m_.runsInside;
    }
    run_ = 0;
  }
  void end() {
    m_.tail = run_;
    if (m_.allClipped) m_.head = run_;
  }

 private:
  MeasuredStretch& m_;
  int64_t run_ = 0;
};

std::unique_ptr<MeasuredStretch> measureStretch(const TAmostras& sound, int64_t first, int64_t end) {
  auto m = std::make_unique<MeasuredStretch>();
  m->first = first;
  m->end = end;
  const int64_t channels = sound.channels();
  m->meter.reset(ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sound.sampleRate()),
                              EBUR128_MODE_I));
  if (!m->meter) return nullptr;
  const std::span<const int16_t> values = sound.samples();
  ClippedRuns runs(*m);
  inBlocks(first * channels, end * channels, [&](int64_t from, int64_t to) {
    for (int64_t i = from; i < to; i += channels) {
      bool clipped = false;
      for (int64_t c = 0; c < channels; ++c) {
        const int16_t v = values[static_cast<size_t>(i + c)];
        m->peak = std::max(m->peak, std::abs(int32_t{v}));
        clipped = clipped || fullScale(v);
      }
      runs.frame(clipped);
    }
    ebur128_add_frames_short(m->meter.get(), values.data() + from, static_cast<size_t>((to - from) / channels));
  });
  runs.end();
  return m;
}

// The clipped runs of stretches that follow one another, joined across
// their edges.
int64_t clippedRunsOf(const std::vector<const MeasuredStretch*>& parts) {
  int64_t runs = 0;
  int64_t open = 0;  // the clipped run reaching the end of the parts so far
  for (const MeasuredStretch* part : parts) {
    if (part->allClipped) {
      open += part->tail;
      continue;
    }
    if (open + part->head >= 2) ++runs;
    runs += part->runsInside;
    open = part->tail;
  }
  return runs + (open >= 2 ? 1 : 0);
}

// The levels of stretches that follow one another.
SoundLevels combine(const std::vector<const MeasuredStretch*>& parts) {
  SoundLevels levels;
  int32_t peak = 0;
  std::vector<ebur128_state*> meters;
  for (const MeasuredStretch* part : parts) {
    peak = std::max(peak, part->peak);
    meters.push_back(part->meter.get());
  }
  levels.clippedRuns = clippedRunsOf(parts);
  if (peak > 0) levels.peakDbfs = 20.0 * std::log10(peak / 32768.0);
  double loudness = 0;
  if (!meters.empty() &&
      ebur128_loudness_global_multiple(meters.data(), meters.size(), &loudness) == EBUR128_SUCCESS &&
      std::isfinite(loudness))
    levels.loudnessLufs = loudness;
  return levels;
}

}  // namespace

std::optional<SoundLevels> measureLevels(const TAmostras& sound, int64_t first, int64_t end) {
  first = std::clamp<int64_t>(first, 0, sound.count());
  end = std::clamp<int64_t>(end, first, sound.count());
  const std::unique_ptr<MeasuredStretch> measured = measureStretch(sound, first, end);
  if (!measured) return std::nullopt;
  return combine({measured.get()});
}

int64_t countClippedRuns(const TAmostras& sound, int64_t first, int64_t end) {
  first = std::clamp<int64_t>(first, 0, sound.count());
  end = std::clamp<int64_t>(end, first, sound.count());
  MeasuredStretch m;
  ClippedRuns runs(m);
  const int64_t channels = sound.channels();
  const std::span<const int16_t> values = sound.samples();
  inBlocks(first * channels, end * channels, [&](int64_t from, int64_t to) {
    for (int64_t i = from; i < to; i += channels)
      runs.frame(std::any_of(values.begin() + i, values.begin() + i + channels, fullScale));
  });
  runs.end();
  return clippedRunsOf({&m});
}

// ---- The cache --------------------------------------------------------------------------

LevelsCache::LevelsCache() = default;
LevelsCache::~LevelsCache() = default;

void LevelsCache::follow(const TAmostras& sound) {
  std::optional<std::vector<FrameChange>> changes;
  if (&sound == sound_ && sound.sampleRate() == rate_ && sound.channels() == channels_)
    changes = sound.changesSince(seen_);
  if (!changes) {
    pieces_.clear();
  } else {
    for (size_t i = 0; i < changes->size(); ++i) {
      const FrameChange& c = (*changes)[i];
      const int64_t countAfter = i + 1 < changes->size() ? (*changes)[i + 1].countBefore : sound.count();
      std::erase_if(pieces_, [&](const auto& p) { return p->end > c.first && p->first < c.end; });
      for (const auto& p : pieces_) {
        if (p->first >= c.end) {
          p->first += countAfter - c.countBefore;
          p->end += countAfter - c.countBefore;
        }
      }
    }
  }
  sound_ = &sound;
  seen_ = sound.changeCount();
  rate_ = sound.sampleRate();
  channels_ = sound.channels();
}

std::optional<std::pair<int64_t, int64_t>> LevelsCache::nextGap(int64_t first, int64_t end) const {
  int64_t at = first;
  int64_t gapEnd = end;
  for (const auto& p : pieces_) {
    if (p->end <= at) continue;
    if (p->first > at) {
      gapEnd = std::min(p->first, end);
      break;
    }
    at = p->end;
    if (at >= end) return std::nullopt;
  }
  if (at >= gapEnd) return std::nullopt;
  const int64_t piece = kPieceSeconds * std::max(1, rate_);
  return std::pair{at, gapEnd - at > piece + piece / 2 ? at + piece : gapEnd};
}

bool LevelsCache::fill(const TAmostras& sound, int64_t first, int64_t end) {
  std::unique_ptr<MeasuredStretch> measured = measureStretch(sound, first, end);
  if (!measured) return false;
  const auto after = std::find_if(pieces_.begin(), pieces_.end(), [&](const auto& p) { return p->first >= end; });
  pieces_.insert(after, std::move(measured));
  return true;
}

bool LevelsCache::fillGaps(const TAmostras& sound, int64_t first, int64_t end, const std::function<bool()>& giveUp) {
  std::vector<std::pair<int64_t, int64_t>> gaps;
  for (auto gap = nextGap(first, end); gap; gap = nextGap(gap->second, end)) gaps.push_back(*gap);
  if (gaps.empty()) return true;
  // The pieces are measured on every core; this thread takes its share
  // too, clicking and asking `giveUp` between two of them.
  std::vector<std::unique_ptr<MeasuredStretch>> measured(gaps.size());
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  const auto measureNext = [&] {
    const size_t i = next++;
    if (i >= gaps.size()) return false;
    measured[i] = measureStretch(sound, gaps[i].first, gaps[i].second);
    if (!measured[i]) stop = true;
    return !stop;
  };
  {
    // A helper that cannot be started leaves its share to the others.
    std::vector<std::thread> helpers;
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    for (size_t h = 1; h < std::min(cores, gaps.size()); ++h)
      helpers.push_back(startWorkerThread([&] {
        while (!stop && measureNext()) {
        }
      }));
    WorkClicker clicker;
    while (!stop) {
      if (giveUp && giveUp()) stop = true;
      if (stop || !measureNext()) break;
      clicker.blockDone();
    }
    for (std::thread& helper : helpers)
      if (helper.joinable()) helper.join();
  }
  // What was measured stays known, even when the rest was given up.
  for (std::unique_ptr<MeasuredStretch>& m : measured)
    if (m) pieces_.push_back(std::move(m));
  std::sort(pieces_.begin(), pieces_.end(), [](const auto& a, const auto& b) { return a->first < b->first; });
  return !stop;
}

bool LevelsCache::measureSome(const TAmostras& sound) {
  follow(sound);
  const std::optional<std::pair<int64_t, int64_t>> gap = nextGap(0, sound.count());
  return gap && fill(sound, gap->first, gap->second);
}

std::optional<SoundLevels> LevelsCache::levels(const TAmostras& sound, int64_t first, int64_t end,
                                                const std::function<bool()>& giveUp) {
  first = std::clamp<int64_t>(first, 0, sound.count());
  end = std::clamp<int64_t>(end, first, sound.count());
  follow(sound);
  if (!fillGaps(sound, first, end, giveUp)) return std::nullopt;
  // The pieces now cover the stretch; those it cuts are measured for the
  // part inside it.
  std::vector<const MeasuredStretch*> parts;
  std::vector<std::unique_ptr<MeasuredStretch>> cut;
  for (const auto& p : pieces_) {
    if (p->end <= first || p->first >= end) continue;
    if (p->first >= first && p->end <= end) {
      parts.push_back(p.get());
      continue;
    }
    cut.push_back(measureStretch(sound, std::max(first, p->first), std::min(end, p->end)));
    if (!cut.back()) return std::nullopt;
    parts.push_back(cut.back().get());
  }
  return combine(parts);
}

}  // namespace kalimbro
