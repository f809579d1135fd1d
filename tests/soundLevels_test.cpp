// Peak, loudness and clipping against values worked out by hand and the
// EBU R128 reference: a 997 Hz sine at full scale in one channel is -3.01
// LUFS.
#include "sound/soundLevels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

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

}  // namespace
}  // namespace kalimbro
