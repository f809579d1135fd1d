// The editing operations work on whole runs of the store; their results
// must be, sample for sample, those of the frame-by-frame forms kept here
// as the reference, on random sounds of both layouts, lengths that cross
// the work blocks, and every kind of cursor position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "edit/klEfeitoCalc.h"
#include "sound/gramost.h"

namespace kalimbro {
namespace {

// ---- The frame-by-frame reference -----------------------------------------------

void referenceGainRamp(TAmostras& s, int64_t first, int64_t last, long double startGain, long double endGain) {
  if (last <= first) return;
  const long double step = (endGain - startGain) / (static_cast<long double>(last) - static_cast<long double>(first));
  for (int64_t i = std::max<int64_t>(first, 0); i <= last; ++i) {
    const long double gain = startGain + (static_cast<long double>(i) - static_cast<long double>(first)) * step;
    const FrameValues v = unpackFrame(s.getFrame(i));
    s.setFrame(i, packFrame(clampTruncated(v.left * gain), clampTruncated(v.right * gain)));
  }
}

void referenceMix(TAmostras& s, const TAmostras& other, int64_t offset, long double ownGain, long double otherGain) {
  const int64_t otherCount = other.count();  // the other sound may be this one, growing
  for (int64_t i = 0; i < otherCount; ++i) {
    const FrameValues a = unpackFrame(s.getFrame(offset + i));
    const FrameValues b = unpackFrame(other.getFrame(i));
    s.setFrame(offset + i, packFrame(clampTruncated(a.left * ownGain + b.left * otherGain),
                                     clampTruncated(a.right * ownGain + b.right * otherGain)));
  }
}

// Each product truncated toward zero, the sum wrapped to 16 bits; the echo
// runs downward over the original frames, the reverberation upward over
// its own output.
void referenceDelayedCopy(TAmostras& s, int32_t percent, int32_t units, bool recirculating) {
  const long double p = percent / 100.0L, q = 1.0L - p;
  const int64_t delay = effectDelayFrames(s.sampleRate(), units);
  s.setFrame(int64_t{s.count()} + delay - 1, 0);
  const int64_t n = s.count();
  const auto mixed = [&](int64_t i) {
    const FrameValues x = unpackFrame(s.getFrame(i));
    const FrameValues y = unpackFrame(s.getFrame(i - delay));
    const auto wrapped = [&](int16_t own, int16_t earlier) {
      return static_cast<int32_t>(static_cast<int64_t>(p * own) + static_cast<int64_t>(q * earlier));
    };
    s.setFrame(i, packFrame(wrapped(x.left, y.left), wrapped(x.right, y.right)));
  };
  if (recirculating) {
    for (int64_t i = 0; i < n; ++i) mixed(i);
  } else {
    for (int64_t i = n - 1; i >= 0; --i) mixed(i);
  }
}

void referenceCoding(TAmostras& s, int32_t value) {
  const std::array<uint8_t, 256> k = passwordKeyStream(value);
  for (int64_t i = 0; i < s.count(); ++i) {
    const int32_t m = k[static_cast<size_t>(i % 256)] * 256;
    const FrameValues v = unpackFrame(s.getFrame(i));
    s.setFrame(i, packFrame(v.left ^ m, v.right ^ m));
  }
}

// Linear interpolation frame by frame, the position added up frame by frame.
void referenceConvert(TAmostras& s, int32_t newRate) {
  TAmostras source;
  source.createCopy(s);
  s.createSized(source.channels(), newRate, source.bitsPerSample(), 0);
  const long double step = static_cast<long double>(source.sampleRate()) / newRate;
  const auto n = static_cast<int64_t>(std::trunc(static_cast<long double>(source.count()) / step));
  s.setFrame(n - 1, 0);
  long double pos = 0;
  for (int64_t j = 0; j + 1 < n; ++j, pos += step) {
    const auto k = static_cast<int64_t>(pos);
    const long double f = pos - static_cast<long double>(k);
    const FrameValues a = unpackFrame(source.getFrame(k));
    const FrameValues b = unpackFrame(source.getFrame(k + 1));
    s.setFrame(j, f == 0 ? source.getFrame(k)
                         : packFrame(clampTruncated(f * (b.left - a.left) + a.left),
                                     clampTruncated(f * (b.right - a.right) + a.right)));
  }
}

// ---- Sounds ---------------------------------------------------------------------------

// Random values over the whole range, with runs of silence and the values
// where truncation and clipping turn: the extremes and multiples of 4.
void fillRandom(TAmostras& s, int32_t channels, int64_t frames, uint32_t seed) {
  s.createSized(channels, 44100, 16, frames);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> value(-32768, 32767), kind(0, 9);
  for (int16_t& v : s.samplesToChange()) {
    switch (kind(random)) {
      case 0: v = 0; break;
      case 1: v = kind(random) < 5 ? int16_t{-32768} : int16_t{32767}; break;
      case 2: v = static_cast<int16_t>(value(random) & ~3); break;
      default: v = static_cast<int16_t>(value(random));
    }
  }
}

std::vector<int16_t> valuesOf(const TAmostras& s) { return {s.samples().begin(), s.samples().end()}; }

// Crossing the work blocks (2^20 values) and ending inside one.
constexpr int64_t kLengths[] = {1, 2, 7, 1000, (int64_t{1} << 20) + 333};

// An effect's work on a thread of its own in small pieces, as the
// demonstration runs it: the first half, read as soon as it is said to be
// worked, is already what it ends as.
template <typename Prepare>
auto onWorker(Prepare prepare) {
  return [prepare](TAmostras& s) {
    EffectWorker worker(prepare(s), 777);
    const int64_t half = s.count() / 2;
    worker.waitUntilWorked(half);
    const std::vector<int16_t> seen(s.samples().begin(), s.samples().begin() + half * s.channels());
    worker.finish();
    ASSERT_TRUE(std::equal(seen.begin(), seen.end(), s.samples().begin()));
  };
}

template <typename Edit, typename Reference>
void expectSameAsReference(const char* what, Edit edit, Reference reference) {
  uint32_t seed = 1;
  for (const int32_t channels : {1, 2}) {
    for (const int64_t frames : kLengths) {
      SCOPED_TRACE(::testing::Message() << what << ", " << channels << " channel(s), " << frames << " frames");
      TAmostras expected, actual;
      fillRandom(expected, channels, frames, seed);
      fillRandom(actual, channels, frames, seed++);
      reference(expected);
      edit(actual);
      ASSERT_EQ(actual.count(), expected.count());
      ASSERT_TRUE(valuesOf(actual) == valuesOf(expected));
    }
  }
}

TEST(BlockArithmetic, VolumeAndFadesGiveTheFrameByFrameSamples) {
  expectSameAsReference("volume up", raiseVolume,
                        [](TAmostras& s) { referenceGainRamp(s, 0, int64_t{s.count()} - 1, 1.25L, 1.25L); });
  expectSameAsReference("volume down", lowerVolume,
                        [](TAmostras& s) { referenceGainRamp(s, 0, int64_t{s.count()} - 1, 0.75L, 0.75L); });
  expectSameAsReference("volume up on a worker", onWorker([](TAmostras& s) { return volumeWork(s, 1.25L); }),
                        [](TAmostras& s) { referenceGainRamp(s, 0, int64_t{s.count()} - 1, 1.25L, 1.25L); });
  // Cursors at the start, just after it, inside, on the last frame and past the end.
  for (const double where : {0.0, 0.001, 0.37, 1.0, 1.5}) {
    const auto cursor = [where](const TAmostras& s) { return static_cast<int64_t>(where * (s.count() - 1)) + (where > 1 ? 3 : 0); };
    expectSameAsReference(
        "fade in", [&](TAmostras& s) { fadeInTo(s, cursor(s)); },
        [&](TAmostras& s) {
          const int32_t before = s.count();
          referenceGainRamp(s, 0, cursor(s), 0.0L, 1.0L);
          if (s.count() > before) s.deleteRange(before, s.count() - before);
        });
    expectSameAsReference(
        "fade out", [&](TAmostras& s) { fadeOutFrom(s, cursor(s)); },
        [&](TAmostras& s) { referenceGainRamp(s, cursor(s), int64_t{s.count()} - 1, 1.0L, 0.0L); });
    expectSameAsReference(
        "fade out on a worker", onWorker([&](TAmostras& s) { return fadeOutWork(s, cursor(s)); }),
        [&](TAmostras& s) { referenceGainRamp(s, cursor(s), int64_t{s.count()} - 1, 1.0L, 0.0L); });
  }
  // Ramps of other gains, one of them too large for the double-precision
  // route, and a ramp that starts before the sound and ends past it.
  for (const auto& [from, to] : {std::pair{0.3L, 1.7L}, std::pair{-2.0L, 0.1L}, std::pair{100.0L, 0.5L}}) {
    expectSameAsReference(
        "ramp", [&](TAmostras& s) { s.applyGainRamp(-5, int64_t{s.count()} + 2, from, to); },
        [&](TAmostras& s) { referenceGainRamp(s, -5, int64_t{s.count()} + 2, from, to); });
  }
}

TEST(BlockArithmetic, EchoReverberationAndCodingGiveTheFrameByFrameSamples) {
  // No delay, a delay longer than the worker's pieces and one shorter.
  for (const int32_t units : {0, 3000, 7}) {
    expectSameAsReference(
        "echo", [&](TAmostras& s) { addEcho(s, 75, units); },
        [&](TAmostras& s) { referenceDelayedCopy(s, 75, units, false); });
    expectSameAsReference(
        "reverberation", [&](TAmostras& s) { addReverb(s, 80, units); },
        [&](TAmostras& s) { referenceDelayedCopy(s, 80, units, true); });
    expectSameAsReference(
        "echo on a worker", onWorker([&](TAmostras& s) { return echoWork(s, 75, units); }),
        [&](TAmostras& s) { referenceDelayedCopy(s, 75, units, false); });
    expectSameAsReference(
        "reverberation on a worker", onWorker([&](TAmostras& s) { return reverbWork(s, 80, units); }),
        [&](TAmostras& s) { referenceDelayedCopy(s, 80, units, true); });
  }
  expectSameAsReference(
      "coding", [](TAmostras& s) { codeFrames(s, 12345678); }, [](TAmostras& s) { referenceCoding(s, 12345678); });
}

TEST(BlockArithmetic, MixingGivesTheFrameByFrameSamples) {
  // Plain mixing, the suggested background levels, an inverted phase and a
  // gain too large for the double-precision route.
  const std::pair<long double, long double> gains[] = {{1.0L, 1.0L}, {0.7L, 0.3L}, {-0.5L, 1.5L}, {100.0L, 0.25L}};
  for (const auto& [own, added] : gains) {
    for (const int32_t otherChannels : {1, 2}) {
      for (const double where : {0.0, 0.5, 1.0}) {
        TAmostras other;
        fillRandom(other, otherChannels, 4000, 99);
        const auto offset = [where](const TAmostras& s) { return static_cast<int64_t>(where * s.count()); };
        expectSameAsReference(
            "mix", [&](TAmostras& s) { s.mixAt(other, offset(s), own, added); },
            [&](TAmostras& s) { referenceMix(s, other, offset(s), own, added); });
      }
    }
  }
  // A sound mixed into itself reads frames it has already written.
  expectSameAsReference(
      "mix into itself", [](TAmostras& s) { s.mixAt(s, s.count() / 3, 1.0L, 0.7L); },
      [](TAmostras& s) { referenceMix(s, s, s.count() / 3, 1.0L, 0.7L); });
}

TEST(BlockArithmetic, RateConversionGivesTheFrameByFrameSamples) {
  const std::pair<int32_t, int32_t> rates[] = {{44100, 22050}, {22050, 44100}, {44100, 48000}, {8000, 44100}, {48000, 11025}};
  for (const auto& [from, to] : rates) {
    expectSameAsReference(
        "rate", [&](TAmostras& s) { s.setSampleRate(from); s.convertFrom(s, to); },
        [&](TAmostras& s) { s.setSampleRate(from); referenceConvert(s, to); });
  }
}

}  // namespace
}  // namespace kalimbro
