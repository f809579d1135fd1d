// espeak-ng in synchronous mode with a synth callback: synthesis runs far
// faster than real time, straight into memory.
#include "console/vrsintese.h"

#include <espeak-ng/speak_lib.h>

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/codec.h"

namespace kalimbro {
namespace {

constexpr const char* kVoice = "pt-br";
// Words per minute for speed levels 1..5.
constexpr int kRateForLevel[] = {130, 155, 175, 210, 260};

struct Synth {
  // espeak-ng cannot be initialised again once terminated (the second
  // termination never returns), so it is initialised once for the life of
  // the process; starting and releasing only take the voice and let it go.
  bool initialized = false;
  bool started = false;
  int sampleRate = 0;
  std::vector<int16_t> pending;
  const std::function<bool()>* shouldStop = nullptr;
};

Synth& synth() {
  static Synth s;
  return s;
}

int onSynthesized(short* wav, int count, espeak_EVENT*) {
  Synth& s = synth();
  if (wav && count > 0) s.pending.insert(s.pending.end(), wav, wav + count);
  // Returning 1 is the only way to stop synthesis in this mode.
  return (s.shouldStop && *s.shouldStop && (*s.shouldStop)()) ? 1 : 0;
}

// Linear interpolation from the synthesizer's rate to 11025 Hz, then the
// 8-bit encoding: the high byte with its sign bit flipped.
std::vector<uint8_t> toLetterFormat(const std::vector<int16_t>& in, int rate) {
  std::vector<uint8_t> out;
  if (in.empty() || rate <= 0) return out;
  const size_t frames = static_cast<size_t>(static_cast<uint64_t>(in.size()) * kSynthSampleRate / rate);
  out.reserve(frames);
  for (size_t i = 0; i < frames; ++i) {
    const double pos = static_cast<double>(i) * rate / kSynthSampleRate;
    const size_t j = static_cast<size_t>(pos);
    const double frac = pos - static_cast<double>(j);
    const double a = in[j];
    const double b = j + 1 < in.size() ? in[j + 1] : a;
    const int v = static_cast<int>(std::lround(a + (b - a) * frac));
    out.push_back(static_cast<uint8_t>((std::clamp(v, -32768, 32767) >> 8) + 128));
  }
  return out;
}

// espeak-ng probes the sound server when it starts, even though it never
// plays here. Left alone, the probe may start a server or make a runtime
// directory in the shared temporary directory; aimed at an address where
// nothing listens, it fails at once and leaves nothing behind.
class QuietSoundServerProbe {
 public:
  QuietSoundServerProbe() {
    if (const char* old = getenv(kVariable)) previous_ = old;
    setenv(kVariable, "unix:/dev/null", 1);
  }
  ~QuietSoundServerProbe() {
    if (previous_) setenv(kVariable, previous_->c_str(), 1);
    else unsetenv(kVariable);
  }
  QuietSoundServerProbe(const QuietSoundServerProbe&) = delete;
  QuietSoundServerProbe& operator=(const QuietSoundServerProbe&) = delete;

 private:
  static constexpr const char* kVariable = "PULSE_SERVER";
  std::optional<std::string> previous_;
};

}  // namespace

int synthStart() {
  Synth& s = synth();
  if (s.started) return 0;
  if (!s.initialized) {
    int rate;
    {
      const QuietSoundServerProbe quiet;
      rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    }
    if (rate <= 0) return 1;
    espeak_SetSynthCallback(onSynthesized);
    s.sampleRate = rate;
    s.initialized = true;
  }
  if (espeak_SetVoiceByName(kVoice) != EE_OK) return 2;
  s.started = true;
  synthSetSpeedLevel(3);
  return 0;
}

void synthRelease() { synth().started = false; }

std::string synthVoiceName() { return kVoice; }

void synthSetSpeedLevel(int level) {
  if (!synth().started) return;
  level = std::clamp(level, 1, 5);
  espeak_SetParameter(espeakRATE, kRateForLevel[level - 1], 0);
}

std::vector<uint8_t> synthesizeWord(std::string_view word,
                                    const std::function<bool()>& shouldStop) {
  Synth& s = synth();
  if (!s.started || word.empty()) return {};
  const std::string text = toUtf8(word);
  s.pending.clear();
  s.shouldStop = &shouldStop;
  espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8,
               nullptr, nullptr);
  s.shouldStop = nullptr;
  return toLetterFormat(s.pending, s.sampleRate);
}

}  // namespace kalimbro
