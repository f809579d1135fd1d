// Speed of the built-in effects on a 10-minute 44100 Hz 16-bit stereo
// sound, the whole sound each time, as the effects command applies them.
// scripts/bench times the matching SoX commands on a file of the same size.
#include <benchmark/benchmark.h>

#include <cmath>

#include "edit/klEfeitoCalc.h"
#include "sound/gramost.h"

namespace kalimbro {
namespace {

constexpr int64_t kFrames = 44100 * 600;

const TAmostras& original() {
  static const TAmostras* sound = [] {
    static TAmostras s;
    s.createSized(2, 44100, 16, kFrames);
    for (int64_t i = 0; i < kFrames; ++i) {
      const int v = static_cast<int>(16000 * std::sin(static_cast<double>(i) * 0.0627));
      s.setFrame(i, packFrame(v, -v / 2));
    }
    return &s;
  }();
  return *sound;
}

// Every iteration starts from a fresh copy of the sound (not timed).
template <typename Effect>
void runEffect(benchmark::State& state, Effect effect) {
  TAmostras s;
  for (auto _ : state) {
    state.PauseTiming();
    s.createCopy(original());
    state.ResumeTiming();
    effect(s);
    benchmark::DoNotOptimize(s.getFrame(1000));
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_VolumeUp(benchmark::State& state) { runEffect(state, raiseVolume); }
void BM_VolumeDown(benchmark::State& state) { runEffect(state, lowerVolume); }
// The cursor at the end: the ramp covers the whole sound.
void BM_FadeIn(benchmark::State& state) {
  runEffect(state, [](TAmostras& s) { fadeInTo(s, s.count() - 1); });
}
void BM_FadeOut(benchmark::State& state) {
  runEffect(state, [](TAmostras& s) { fadeOutFrom(s, 0); });
}
// The default settings: 75 % and 300 ms for the echo, 80 % and 200 ms for
// the reverberation.
void BM_Echo(benchmark::State& state) {
  runEffect(state, [](TAmostras& s) { addEcho(s, 75, 3000); });
}
void BM_Reverb(benchmark::State& state) {
  runEffect(state, [](TAmostras& s) { addReverb(s, 80, 2000); });
}
void BM_CodeWithPassword(benchmark::State& state) {
  runEffect(state, [](TAmostras& s) { codeFrames(s, 12345678); });
}

BENCHMARK(BM_VolumeUp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VolumeDown)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FadeIn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FadeOut)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Echo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reverb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CodeWithPassword)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kalimbro
