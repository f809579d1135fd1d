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

// One delayed copy per frame, the earlier frame read before (echo, loop
// downward) or after (reverberation, loop upward) it was itself changed.
void addDelayedCopy(TAmostras& s, int32_t percent, int32_t units, bool recirculating) {
  const long double p = static_cast<long double>(percent) / 100.0L;
  const auto own = std::make_unique<ScaledValues>(p);
  const auto earlier = std::make_unique<ScaledValues>(1.0L - p);
  int64_t delay = effectDelayFrames(s.sampleRate(), units);
  if (delay < 0) delay = 0;
  // Lengthened once, before the loop. With no delay this writes silence on
  // the last frame; when the store cannot grow, the tail is cut.
  s.setFrame(int64_t{s.count()} + delay - 1, 0);
  // Each channel on its own: value j meets value j - lag, the frame one
  // delay earlier (silence before the start). Each product truncated toward
  // zero; the sum wraps to 16 bits.
  const std::span<int16_t> v = s.samplesToChange();
  const int64_t n = static_cast<int64_t>(v.size());
  const int64_t lag = delay * s.channels();
  const auto mixed = [&](int64_t j) {
    const int16_t earlierValue = j >= lag ? v[static_cast<size_t>(j - lag)] : int16_t{0};
    v[static_cast<size_t>(j)] = static_cast<int16_t>((*own)(v[static_cast<size_t>(j)]) + (*earlier)(earlierValue));
  };
  if (recirculating) {
    inBlocks(0, n, [&](int64_t begin, int64_t end) {
      for (int64_t j = begin; j < end; ++j) mixed(j);
    });
  } else {
    // Downward, so that the earlier value is still the original one.
    inBlocks(0, n, [&](int64_t begin, int64_t end) {
      for (int64_t j = n - 1 - begin; j >= n - end; --j) mixed(j);
    });
  }
}

}  // namespace

void raiseVolume(TAmostras& s) { s.applyGainRamp(0, int64_t{s.count()} - 1, 1.25L, 1.25L); }

void lowerVolume(TAmostras& s) { s.applyGainRamp(0, int64_t{s.count()} - 1, 0.75L, 0.75L); }

void fadeInTo(TAmostras& s, int64_t position) {
  const int32_t before = s.count();
  s.applyGainRamp(0, position, 0.0L, 1.0L);
  // A cursor past the end keeps the slope but must not lengthen the sound.
  if (s.count() > before) s.deleteRange(before, int64_t{s.count()} - before);
}

void fadeOutFrom(TAmostras& s, int64_t position) {
  s.applyGainRamp(position, int64_t{s.count()} - 1, 1.0L, 0.0L);
}

int64_t effectDelayFrames(int32_t sampleRate, int32_t units) {
  return int64_t{sampleRate / 11025} * units;
}

void addEcho(TAmostras& s, int32_t percent, int32_t units) { addDelayedCopy(s, percent, units, false); }

void addReverb(TAmostras& s, int32_t percent, int32_t units) { addDelayedCopy(s, percent, units, true); }

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
