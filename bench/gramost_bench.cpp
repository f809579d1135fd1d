// Speed of the sample buffer on a 10-minute 44100 Hz 16-bit stereo sound:
// loading and saving it, walking it frame by frame as the effects do, a gain
// ramp over all of it and a conversion to 22050 Hz.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/paths.h"
#include "sound/gramost.h"

namespace kalimbro {
namespace {

constexpr int64_t kFrames = 44100 * 600;
constexpr int64_t kBytes = kFrames * 4;

// The sound is built once and saved once; every benchmark starts from it.
const TAmostras& tenMinutes() {
  static TAmostras* sound = [] {
    static TAmostras s;
    s.createSized(2, 44100, 16, kFrames);
    for (int64_t i = 0; i < kFrames; ++i) {
      const int v = static_cast<int>(12000 * std::sin(i * 0.0627));
      s.setFrame(i, packFrame(v, -v / 2));
    }
    return &s;
  }();
  return *sound;
}

const std::string& tenMinutesFile() {
  static const std::string name = [] {
    std::atexit(removeTempDirectory);
    std::string n = makeTempFile("WAV");
    if (!tenMinutes().saveWav(n)) std::abort();
    return n;
  }();
  return name;
}

void BM_LoadWav(benchmark::State& state) {
  const std::string& file = tenMinutesFile();
  TAmostras s;
  for (auto _ : state) {
    if (!s.loadWav(file)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(s.count());
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_LoadWav)->Unit(benchmark::kMillisecond);

// Includes writing a temporary file beside the target, flushing it to disk
// and renaming it over the target.
void BM_SaveWav(benchmark::State& state) {
  const TAmostras& s = tenMinutes();
  const std::string out = makeTempFile("WAV");
  for (auto _ : state) {
    if (!s.saveWav(out)) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
  removeFile(out);
}
BENCHMARK(BM_SaveWav)->Unit(benchmark::kMillisecond);

void BM_GetFrameEveryFrame(benchmark::State& state) {
  const TAmostras& s = tenMinutes();
  for (auto _ : state) {
    uint32_t sum = 0;
    for (int64_t i = 0; i < s.count(); ++i) sum += s.getFrame(i);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_GetFrameEveryFrame)->Unit(benchmark::kMillisecond);

void BM_SetFrameEveryFrame(benchmark::State& state) {
  TAmostras s;
  s.createCopy(tenMinutes());
  for (auto _ : state) {
    for (int64_t i = 0; i < s.count(); ++i) s.setFrame(i, static_cast<PackedFrame>(i));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_SetFrameEveryFrame)->Unit(benchmark::kMillisecond);

// An effect's inner loop: read a frame, change it, write it back.
void BM_GetSetFrameEveryFrame(benchmark::State& state) {
  TAmostras s;
  s.createCopy(tenMinutes());
  for (auto _ : state) {
    for (int64_t i = 0; i < s.count(); ++i) {
      const FrameValues v = unpackFrame(s.getFrame(i));
      s.setFrame(i, packFrame(v.right, v.left));
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_GetSetFrameEveryFrame)->Unit(benchmark::kMillisecond);

// Frame by frame into an empty buffer, growing the store as it goes.
void BM_CreateCopy(benchmark::State& state) {
  for (auto _ : state) {
    TAmostras s;
    s.createCopy(tenMinutes());
    benchmark::DoNotOptimize(s.count());
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_CreateCopy)->Unit(benchmark::kMillisecond);

void BM_ApplyGainRamp(benchmark::State& state) {
  TAmostras s;
  s.createCopy(tenMinutes());
  for (auto _ : state) {
    s.applyGainRamp(0, s.count() - 1, 1.0L, 1.25L);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_ApplyGainRamp)->Unit(benchmark::kMillisecond);

void BM_ConvertFrom44100To22050(benchmark::State& state) {
  const TAmostras& source = tenMinutes();
  TAmostras s;
  for (auto _ : state) {
    s.convertFrom(source, 22050);
    benchmark::DoNotOptimize(s.count());
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_ConvertFrom44100To22050)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kalimbro
