// The arithmetic of the built-in effects.
#include "edit/klEfeitoCalc.h"

#include <algorithm>
#include <memory>
#include <span>
#include <vector>

#include "sound/gramost.h"

namespace kalimbro {
namespace {

// trunc(factor x v) for every 16-bit value v, computed once in extended
// precision and kept to its low 16 bits (all the sum keeps). The loop over
// the frames then adds two table entries per value instead of converting
// four extended products.
class ScaledValues {
 public:
  explicit ScaledValues(long double factor) {
    constexpr long double kLimit = 9.2e18L;  // inside int64_t
    for (int32_t v = -32768; v <= 32767; ++v) {
      const long double product = factor * v;
      const int64_t whole = product > -kLimit && product < kLimit ? static_cast<int64_t>(product) : 0;
      table_[static_cast<size_t>(v + 32768)] = static_cast<uint16_t>(whole);
    }
  }
  uint32_t operator()(int16_t v) const { return table_[static_cast<size_t>(v + 32768)]; }

 private:
  std::array<uint16_t, 65536> table_;
};

// Frames first..last of a gain ramp: those inside the sound are told and
// worked (a ramp here never lengthens the sound).
EffectWork gainRampWork(TAmostras& s, int64_t first, int64_t last, long double startGain, long double endGain) {
  if (last <= first) return {};
  const int64_t begin = std::max<int64_t>(first, 0);
  const int64_t inside = std::max(begin, std::min<int64_t>(last + 1, s.count()));
  const std::span<int16_t> values = s.samplesToChange(begin, inside);
  const int32_t channels = s.channels();
  return {begin, inside, [=](int64_t from, int64_t to) {
            rampFrames(values, channels, first, last, startGain, endGain, from, to);
          }};
}

// One delayed copy per frame: the sound is lengthened by the delay (once,
// before the work; with no delay this writes silence on the last frame;
// when the store cannot grow, the tail is cut), then each channel on its
// own: value j meets value j - lag, the frame one delay earlier (silence
// before the start), either as it was (echo) or as already worked
// (reverberation). Each product truncated toward zero; the sum wraps to
// 16 bits.
EffectWork delayedCopyWork(TAmostras& s, int32_t percent, int32_t units, bool recirculating) {
  const long double p = static_cast<long double>(percent) / 100.0L;
  const std::shared_ptr<const ScaledValues> own = std::make_shared<ScaledValues>(p);
  const std::shared_ptr<const ScaledValues> earlier = std::make_shared<ScaledValues>(1.0L - p);
  const int64_t delay = std::max<int64_t>(effectDelayFrames(s.sampleRate(), units), 0);
  s.setFrame(int64_t{s.count()} + delay - 1, 0);
  int16_t* const v = s.samplesToChange().data();
  const int64_t ch = s.channels();
  const int64_t n = int64_t{s.count()} * ch;
  const int64_t lag = delay * ch;
  const auto mix = [own, earlier](int16_t value, int16_t earlierValue) {
    return static_cast<int16_t>((*own)(value) + (*earlier)(earlierValue));
  };
  EffectWork work{0, s.count(), {}};
  if (recirculating) {
    work.run = [=](int64_t from, int64_t to) {
      for (int64_t j = from * ch; j < to * ch; ++j) v[j] = mix(v[j], j >= lag ? v[j - lag] : int16_t{0});
    };
  } else if (lag == 0 || lag >= n) {
    // Each value meets itself, or only the silence before the start.
    work.run = [=](int64_t from, int64_t to) {
      for (int64_t j = from * ch; j < to * ch; ++j) v[j] = mix(v[j], lag == 0 ? v[j] : int16_t{0});
    };
  } else {
    // Upward, each value's original kept in a ring for the value one lag
    // later, which finds it in the same slot.
    const auto ring = std::make_shared<std::vector<int16_t>>(static_cast<size_t>(lag), int16_t{0});
    work.run = [=](int64_t from, int64_t to) {
      int16_t* kept = ring->data();
      for (int64_t j = from * ch, slot = j % lag; j < to * ch; slot = 0) {
        const int64_t run = std::min(to * ch - j, lag - slot);
        for (int64_t k = 0; k < run; ++k) {
          const int16_t original = v[j + k];
          v[j + k] = mix(original, kept[slot + k]);
          kept[slot + k] = original;
        }
        j += run;
      }
    };
  }
  return work;
}

}  // namespace

EffectWork volumeWork(TAmostras& s, long double gain) { return gainRampWork(s, 0, int64_t{s.count()} - 1, gain, gain); }

void raiseVolume(TAmostras& s) { workWhole(volumeWork(s, 1.25L)); }

void lowerVolume(TAmostras& s) { workWhole(volumeWork(s, 0.75L)); }

EffectWork fadeInWork(TAmostras& s, int64_t position) { return gainRampWork(s, 0, position, 0.0L, 1.0L); }

void fadeInTo(TAmostras& s, int64_t position) { workWhole(fadeInWork(s, position)); }

EffectWork fadeOutWork(TAmostras& s, int64_t position) {
  return gainRampWork(s, position, int64_t{s.count()} - 1, 1.0L, 0.0L);
}

void fadeOutFrom(TAmostras& s, int64_t position) { workWhole(fadeOutWork(s, position)); }

int64_t effectDelayFrames(int32_t sampleRate, int32_t units) {
  return int64_t{sampleRate / 11025} * units;
}

EffectWork echoWork(TAmostras& s, int32_t percent, int32_t units) { return delayedCopyWork(s, percent, units, false); }

void addEcho(TAmostras& s, int32_t percent, int32_t units) { workWhole(echoWork(s, percent, units)); }

EffectWork reverbWork(TAmostras& s, int32_t percent, int32_t units) { return delayedCopyWork(s, percent, units, true); }

void addReverb(TAmostras& s, int32_t percent, int32_t units) { workWhole(reverbWork(s, percent, units)); }

int32_t passwordValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  uint32_t base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  uint32_t value = 0;  // wraps like the 32-bit integer it stands for
  bool anyDigit = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<uint32_t>(c - 'A' + 10);
    else break;
    value = value * base + digit;
    anyDigit = true;
  }
  const bool whole = anyDigit && i == text.size();
  if (whole && negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

std::array<uint8_t, 256> passwordKeyStream(int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  std::array<uint8_t, 256> k{};
  k[0] = static_cast<uint8_t>((v & 255) ^ ((v >> 5) & 255) ^ 17);
  for (size_t i = 1; i < k.size(); ++i) k[i] = static_cast<uint8_t>((k[i - 1] * 13 + 89) % 255);
  return k;
}

void codeFrames(TAmostras& s, int32_t value) {
  const std::array<uint8_t, 256> k = passwordKeyStream(value);
  // Frame i takes k[i mod 256] in the high byte of each of its values: one
  // pattern of 256 frames, laid over the sound again and again.
  const size_t channels = static_cast<size_t>(s.channels());
  std::vector<uint16_t> pattern(k.size() * channels);
  for (size_t j = 0; j < pattern.size(); ++j) pattern[j] = static_cast<uint16_t>(k[j / channels] << 8);
  const std::span<int16_t> v = s.samplesToChange();
  static_assert(kWorkBlockValues % 512 == 0, "blocks start on a whole pattern");
  const int64_t patternValues = static_cast<int64_t>(pattern.size());
  inBlocks(0, static_cast<int64_t>(v.size()), [&](int64_t begin, int64_t end) {
    for (int64_t at = begin; at < end; at += patternValues) {
      int16_t* values = v.data() + at;
      const int64_t n = std::min(patternValues, end - at);
      for (int64_t j = 0; j < n; ++j) values[j] = static_cast<int16_t>(values[j] ^ pattern[static_cast<size_t>(j)]);
    }
  });
}

}  // namespace kalimbro
