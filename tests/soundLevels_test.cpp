// Peak, loudness and clipping against values worked out by hand and the
// EBU R128 reference (a 997 Hz sine at full scale in one channel is -3.01
// LUFS); the pauses found in sounds built with known quiet stretches; the
// limited gain against its true peak, measured by the reference.
#include "levels/soundLevels.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "levels/peakLimiter.h"
#include "levels/soundPauses.h"

namespace kalimbro {
namespace {

// Five seconds of a 997 Hz sine of `amplitude` (of full scale) in every
// channel, at 48 kHz.
void sine(TAmostras& s, int32_t channels, double amplitude) {
  constexpr int32_t kRate = 48000;
  s.createSized(channels, kRate, 16, 5 * kRate);
  std::span<int16_t> v = s.samplesToChange();
  for (size_t i = 0; i < v.size(); ++i) {
    const double t = static_cast<double>(i / static_cast<size_t>(channels)) / kRate;
    v[i] = static_cast<int16_t>(std::lround(amplitude * 32767.0 * std::sin(2 * std::numbers::pi * 997.0 * t)));
  }
}

TEST(SoundLevels, ASineGivesItsPeakAndTheReferenceLoudness) {
  TAmostras s;
  sine(s, 1, 0.5);
  std::optional<SoundLevels> l = measureLevels(s, 0, s.count());
  ASSERT_TRUE(l && l->peakDbfs && l->loudnessLufs);
  EXPECT_NEAR(*l->peakDbfs, -6.02, 0.01);
  EXPECT_NEAR(*l->loudnessLufs, -3.01 - 6.02, 0.1);
  EXPECT_EQ(l->clippedRuns, 0);
  // The same in both channels is twice the power.
  sine(s, 2, 0.5);
  l = measureLevels(s, 0, s.count());
  ASSERT_TRUE(l && l->loudnessLufs);
  EXPECT_NEAR(*l->loudnessLufs, -6.02, 0.1);
}

TEST(SoundLevels, ClippedPlacesAreRunsAndAStretchIsMeasuredAlone) {
  TAmostras s;
  s.createSized(2, 8000, 16, 8000);
  std::span<int16_t> v = s.samplesToChange();
  v[2 * 100] = v[2 * 101] = v[2 * 102] = 32767;  // a run of three frames, left
  v[2 * 300 + 1] = -32768;                        // one sample alone: no clipping
  v[2 * 500 + 1] = -32768;                        // two frames, one channel each
  v[2 * 501] = 32767;
  std::optional<SoundLevels> l = measureLevels(s, 0, s.count());
  ASSERT_TRUE(l && l->peakDbfs);
  EXPECT_EQ(l->clippedRuns, 2);
  EXPECT_NEAR(*l->peakDbfs, 0.0, 1e-9);
  // Only frames 200..299: silence.
  l = measureLevels(s, 200, 300);
  ASSERT_TRUE(l.has_value());
  EXPECT_FALSE(l->peakDbfs.has_value());
  EXPECT_EQ(l->clippedRuns, 0);
  // A run cut by the stretch's start still counts when two frames are inside.
  l = measureLevels(s, 101, 200);
  EXPECT_EQ(l->clippedRuns, 1);
}

void expectSameLevels(const std::optional<SoundLevels>& got, const std::optional<SoundLevels>& whole) {
  ASSERT_TRUE(got && whole);
  EXPECT_EQ(got->peakDbfs, whole->peakDbfs);
  EXPECT_EQ(got->clippedRuns, whole->clippedRuns);
  ASSERT_TRUE(got->loudnessLufs && whole->loudnessLufs);
  // Only the 400 ms blocks across the pieces' edges are left out.
  EXPECT_NEAR(*got->loudnessLufs, *whole->loudnessLufs, 0.05);
}

TEST(LevelsCache, PiecesAddUpToTheWholeAndOnlyWhatAChangeTouchedIsMeasuredAgain) {
  // 100 seconds at 8 kHz, each ten louder than the last; clipped runs
  // across the edges of the half-minute pieces (frames 240000 and 480000).
  TAmostras s;
  s.createSized(1, 8000, 16, 800000);
  std::span<int16_t> v = s.samplesToChange();
  for (size_t i = 0; i < v.size(); ++i)
    v[i] = static_cast<int16_t>(std::lround((1 + i / 80000) * 2500.0 * std::sin(i * 0.4)));
  for (const size_t i : {239999, 240000, 240001, 479999, 480000, 650000, 650001}) v[i] = 32767;
  LevelsCache cache;
  int measured = 0;
  while (cache.measureSome(s)) ++measured;
  EXPECT_EQ(measured, 3);  // the last piece takes the 20 seconds left
  expectSameLevels(cache.levels(s, 0, s.count()), measureLevels(s, 0, s.count()));
  EXPECT_EQ(cache.levels(s, 0, s.count())->clippedRuns, 3);
  expectSameLevels(cache.levels(s, 100000, 700000), measureLevels(s, 100000, 700000));

  s.applyGainRamp(300000, 310000, 0.5L, 0.5L);
  measured = 0;
  while (cache.measureSome(s)) ++measured;
  EXPECT_EQ(measured, 1) << "only the piece the change touched";
  expectSameLevels(cache.levels(s, 0, s.count()), measureLevels(s, 0, s.count()));

  // A removal and an insertion move the pieces after them with their
  // frames, the piece that starts where the removal ends too: a run of
  // clipped frames right at the start of a stretch asked for is in it, one
  // frame before it is not.
  s.deleteRange(210000, 30000);
  s.insertSilence(600000, 12345);
  const int64_t run = 650000 - 30000 + 12345;
  EXPECT_EQ(cache.levels(s, run, s.count())->clippedRuns, 1);
  EXPECT_EQ(cache.levels(s, run + 1, s.count())->clippedRuns, 0);
  expectSameLevels(cache.levels(s, 0, s.count()), measureLevels(s, 0, s.count()));
  expectSameLevels(cache.levels(s, 200000, 700000), measureLevels(s, 200000, 700000));
  // Asked while a key waits, it gives up before measuring what is not known.
  s.applyGainRamp(0, 10, 0.5L, 0.5L);
  EXPECT_FALSE(cache.levels(s, 0, s.count(), [] { return true; }).has_value());
}

// A square wave of `amplitude` (never 0, so that the edges of a stretch are
// exact to the frame) over frames first..end-1 of a mono 8 kHz sound.
void square(TAmostras& s, int64_t first, int64_t end, int16_t amplitude) {
  std::span<int16_t> v = s.samplesToChange(first, end);
  for (int64_t i = first; i < end; ++i) v[static_cast<size_t>(i)] = (i / 10) % 2 ? amplitude : static_cast<int16_t>(-amplitude);
}

TEST(SoundPauses, QuietStretchesAreFoundToTheFrameBelowTheSoundsOwnLevel) {
  for (const int16_t scale : {1, 10}) {
    TAmostras s;
    s.createSized(1, 8000, 16, 16000);
    square(s, 1234, 5000, static_cast<int16_t>(8000 / scale));
    // A hum 44 dB under the sound is still a pause, at either loudness.
    square(s, 5000, 9000, static_cast<int16_t>(50 / scale));
    square(s, 9000, 15000, static_cast<int16_t>(8000 / scale));
    EXPECT_EQ(findPauses(s, 1), (std::vector<Stretch>{{0, 1234}, {5000, 9000}, {15000, 16000}})) << scale;
    EXPECT_EQ(findPauses(s, 4000), (std::vector<Stretch>{{5000, 9000}}));
    EXPECT_TRUE(findPauses(s, 4001).empty());
    PauseFinder finder;
    EXPECT_EQ(finder.silenceAtTheEnds(s), (std::vector<Stretch>{{0, 1234}, {15000, 16000}}));
    // Played at once: the same pauses, of half a second or more.
    EXPECT_EQ(finder.playPauses(s), (std::vector<Stretch>{{5000, 9000}}));
    // Talking 12 dB under the rest is no pause.
    square(s, 5000, 9000, static_cast<int16_t>(2000 / scale));
    EXPECT_EQ(findPauses(s, 1), (std::vector<Stretch>{{0, 1234}, {15000, 16000}}));
    EXPECT_EQ(finder.playPauses(s), std::vector<Stretch>{}) << "a changed sound has its pauses found again";
  }
  TAmostras silent;
  silent.createSized(1, 8000, 16, 800);
  EXPECT_EQ(findPauses(silent, 1), (std::vector<Stretch>{{0, 800}}));
  EXPECT_EQ(PauseFinder().silenceAtTheEnds(silent), (std::vector<Stretch>{{0, 800}}));

  // Kept between searches, the windows before a change stay and the others
  // are measured again: the pauses are those found afresh.
  TAmostras s;
  s.createSized(1, 8000, 16, 16000);
  square(s, 0, 16000, 8000);
  square(s, 3000, 7000, 10);
  PauseFinder finder;
  while (finder.measureSome(s)) {
  }
  EXPECT_EQ(finder.find(s, 1), (std::vector<Stretch>{{3000, 7000}}));
  EXPECT_TRUE(finder.silenceAtTheEnds(s).empty());
  // A click inside a window of the pause splits it, and once gone the pause
  // is whole again.
  square(s, 5045, 5055, 8000);
  EXPECT_EQ(finder.find(s, 1), (std::vector<Stretch>{{3000, 5045}, {5055, 7000}}));
  square(s, 5045, 5055, 10);
  EXPECT_EQ(finder.find(s, 1), (std::vector<Stretch>{{3000, 7000}}));
  square(s, 12000, 14000, 10);
  EXPECT_EQ(finder.find(s, 1), findPauses(s, 1));
  s.deleteRange(100, 333);
  s.insertSilence(s.count(), 500);
  EXPECT_EQ(finder.find(s, 1), findPauses(s, 1));
  EXPECT_EQ(finder.find(s, 1).size(), 3u);
}

TEST(SoundPauses, RemovedStretchesCloseUpAndPositionsFollow) {
  const std::vector<Stretch> cuts = {{2, 4}, {7, 8}};
  const std::vector<int16_t> left = {0, 1, 4, 5, 6, 8, 9};
  // At once, and in pieces of one and of three frames as a demonstration
  // takes them: the sound is short at once, every frame before a piece's
  // end is in place after it, and the frames past the end are silent.
  for (const int64_t piece : {0, 1, 3}) {
    TAmostras s;
    s.createSized(2, 8000, 16, 10);
    std::span<int16_t> v = s.samplesToChange();
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>(i % 2 ? -int(i / 2) : int(i / 2));
    auto inPlace = [&](int64_t frames) {
      for (int64_t f = 0; f < frames; ++f) {
        ASSERT_EQ(s.samples()[static_cast<size_t>(2 * f)], left[static_cast<size_t>(f)]) << piece << " frame " << f;
        ASSERT_EQ(s.samples()[static_cast<size_t>(2 * f + 1)], -left[static_cast<size_t>(f)]);
      }
    };
    // A marker in a cut goes with it; one after it moves, name and all, the
    // one on the first frame after a cut to where the cut began.
    s.placeMarker(3);
    s.placeMarker(5);
    s.placeMarker(4);
    ASSERT_TRUE(s.nameMarker(2, "Fim"));
    if (piece == 0) {
      removeStretches(s, cuts);
    } else {
      StretchRemoval removal(s, cuts);
      ASSERT_EQ(s.count(), 7);
      for (int64_t end = piece; end < 7 + piece; end += piece) {
        removal.moveUntil(end);
        ASSERT_NO_FATAL_FAILURE(inPlace(std::min<int64_t>(end, 7)));
      }
    }
    ASSERT_EQ(s.count(), 7);
    ASSERT_NO_FATAL_FAILURE(inPlace(7));
    EXPECT_EQ(s.markers(), (std::vector<SoundMarker>{{3, 2}, {2, 3, "Fim"}})) << piece;
    s.setFrame(9, 0);
    EXPECT_EQ(s.getFrame(7), 0);
    EXPECT_EQ(s.getFrame(8), 0);
  }
  EXPECT_EQ(positionAfterCuts(1, cuts), 1);
  EXPECT_EQ(positionAfterCuts(3, cuts), 2);
  EXPECT_EQ(positionAfterCuts(5, cuts), 3);
  EXPECT_EQ(positionAfterCuts(10, cuts), 7);
}

double truePeakDb(const TAmostras& s) {
  ebur128_state* meter = ebur128_init(static_cast<unsigned>(s.channels()), static_cast<unsigned long>(s.sampleRate()),
                                      EBUR128_MODE_TRUE_PEAK);
  ebur128_add_frames_short(meter, s.samples().data(), static_cast<size_t>(s.count()));
  double peak = 0;
  for (unsigned c = 0; c < static_cast<unsigned>(s.channels()); ++c) {
    double p = 0;
    ebur128_true_peak(meter, c, &p);
    peak = std::max(peak, p);
  }
  ebur128_destroy(&meter);
  return 20 * std::log10(peak);
}

TEST(PeakLimiter, AGainIsExactWhereNoPeakReachesTheCeilingAndHeldDownWhereOneWould) {
  TAmostras s, before;
  sine(s, 2, 0.1);
  before.createCopy(s);
  EXPECT_EQ(applyGainWithPeakLimit(s, 6.0, -1.0), 0);
  const double gain = std::pow(10.0, 6.0 / 20.0);
  for (size_t i = 0; i < s.samples().size(); i += 7)
    ASSERT_EQ(s.samples()[i], std::llround(before.samples()[i] * gain)) << i;

  // A loud burst in the middle of the same quiet sine, a quarter of the
  // rate whose peaks fall between the samples, 3 dB over them: held down to
  // the ceiling, true peaks included, and the sine a second away keeps the
  // gain.
  sine(s, 2, 0.1);
  std::span<int16_t> v = s.samplesToChange();
  for (size_t i = 2 * 100000; i < 2 * 104000; ++i)
    v[i] = static_cast<int16_t>(std::lround(16000 * std::sin(std::numbers::pi / 2 * static_cast<double>(i / 2) + std::numbers::pi / 4)));
  before.createCopy(s);
  const int64_t held = applyGainWithPeakLimit(s, 12.0, -1.0);
  EXPECT_GT(held, 4000);
  EXPECT_LE(truePeakDb(s), -1.0 + 0.05);
  const double gain12 = std::pow(10.0, 12.0 / 20.0);
  for (const size_t frame : {size_t{1000}, size_t{50000}, size_t{160000}})
    EXPECT_EQ(s.samples()[2 * frame], std::llround(before.samples()[2 * frame] * gain12)) << frame;

  // Worked in pieces, as while the start is heard: the same values.
  TAmostras pieces;
  pieces.createCopy(before);
  PeakLimiter limiter(pieces, 12.0, -1.0);
  for (int64_t end = 777; end < pieces.count() + 777; end += 777) {
    const int64_t frame = std::min<int64_t>(end, pieces.count());
    limiter.workUntil(frame);
    // The frame just before is what it ends as: it may be heard now.
    const size_t lastWritten = static_cast<size_t>(2 * (frame - 1));
    ASSERT_EQ(pieces.samples()[lastWritten], s.samples()[lastWritten]) << frame;
  }
  EXPECT_EQ(limiter.held(), held);
  EXPECT_TRUE(std::ranges::equal(pieces.samples(), s.samples()));
}

}  // namespace
}  // namespace kalimbro
