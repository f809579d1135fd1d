// The braille chord keyboard: the dot keys, the braille table and the
// signs of written text.
#include "console/braille_chords.h"

#include <array>
#include <string_view>
#include <utility>

#include "platform/text.h"

namespace kalimbro {
namespace {

// The table is indexed by the dot bits (dot n is bit n-1).
constexpr std::string_view kDotKeys = "FDSJKL";
constexpr std::array<uint8_t, 64> kBrailleTable = {
    // dots from 1-4 only
    ' ', 'a', ',', 'b', '\'', 'k', ';', 'l', '^', 'c', 'i', 'f', 0xED, 'm', 's', 'p',
    // ... with dot 5
    '~', 'e', ':', 'h', '*', 'o', '!', 'r', 0xAC, 'd', 'j', 'g', 0xE3, 'n', 't', 'q',
    // ... with dot 6
    0xFD, 0xE2, '?', 0xEA, '-', 'u', '"', 'v', '{', 0xEE, 0xF5, 0xE0, 0xF3, 'x', 0xE8, 0xE7,
    // ... with dots 5 and 6
    '$', 0xFB, 0xFF, 0xFC, '}', 'z', '=', 0xE1, '_', 0xF4, 'w', 0xEF, '#', 'y', 0xFA, 0xE9};
constexpr uint8_t kNothing = 254;  // a chord that yields no character
constexpr uint8_t kCapitalSign = '{', kNumberSign = '#';

}  // namespace

uint8_t chordBit(uint8_t ch) {
  if (ch == ' ') return kChordSpaceBit;
  const size_t at = kDotKeys.find(static_cast<char>(upperAscii(ch)));
  return at == std::string_view::npos ? 0 : static_cast<uint8_t>(1u << at);
}

void BrailleChords::setMode(int mode) {
  mode_ = mode;
  if (mode == 0) {
    chord_ = held_ = 0;
    endCapitalAndNumber();
  }
}

void BrailleChords::press(uint8_t bit) {
  chord_ |= bit;
  held_ |= bit;
}

std::optional<uint8_t> BrailleChords::release(uint8_t bit) {
  held_ &= static_cast<uint8_t>(~bit);
  if (held_ != 0 || chord_ == 0) return std::nullopt;
  return complete();
}

std::optional<uint8_t> BrailleChords::cell(uint8_t dots) {
  if (dots == 0) return std::nullopt;
  const uint8_t typing = std::exchange(chord_, dots);
  const std::optional<uint8_t> ch = complete();
  chord_ = typing;
  return ch;
}

void BrailleChords::endCapitalAndNumber() { capital_ = capitalWord_ = numberMode_ = false; }

void BrailleChords::dropChord() { chord_ = held_ = 0; }

// The second braille mode reads text conventions: number and capital
// signs, full stop and at sign.
uint8_t BrailleChords::readAsText(uint8_t ch) {
  if (ch == '\'') ch = '.';
  else if (ch == 0xFB) ch = '@';
  if (numberMode_) {
    if (ch == '\'') ch = '.';
    else if (ch >= 'a' && ch <= 'i') ch = static_cast<uint8_t>('1' + (ch - 'a'));
    else if (ch == 'j') ch = '0';
    else if (ch == '~') numberMode_ = false;
  }
  if ((capital_ || capitalWord_) && ch >= 'a' && ch <= 'z') ch -= 32;
  if (ch == kNumberSign) {
    numberMode_ = true;
    return kNothing;
  }
  if (ch == kCapitalSign) {
    if (capital_) capitalWord_ = true;
    else capital_ = true;
    return kNothing;
  }
  capital_ = false;
  return ch;
}

std::optional<uint8_t> BrailleChords::complete() {
  uint8_t ch;
  if (chord_ & kChordSpaceBit) {
    // The space bar alone is a blank; with dots, a control character.
    ch = chord_ == kChordSpaceBit ? ' ' : (kBrailleTable[chord_ & 63] & 31);
    endCapitalAndNumber();
  } else {
    ch = kBrailleTable[chord_ & 63];
    if (mode_ == 2) ch = readAsText(ch);
  }
  chord_ = 0;
  if (ch == kNothing) return std::nullopt;
  return ch;
}

}  // namespace kalimbro
