// braille_chords: the six-key braille chord keyboard of the console. The
// keys F D S J K L are dots 1 to 6 and the space bar joins them; a chord is
// complete when every key of it is up again and gives one character of the
// braille table, in mode 2 read with the number and capital signs of
// written text. Cells typed on a braille display's own keys are read the
// same way. Free of the console and the terminal: VrCrt hands it the
// presses and releases of the keys and queues what it gives.
#pragma once

#include <cstdint>
#include <optional>

namespace kalimbro {

// The bit of the space bar in a chord; dot n is bit n - 1.
inline constexpr uint8_t kChordSpaceBit = 64;

// The chord bit of a key: the dots for F D S J K L (either case), the
// space bit for the space bar, 0 for any other key.
uint8_t chordBit(uint8_t ch);

class BrailleChords {
 public:
  // 0 off, 1 the table as it is, 2 with the signs of written text. Off
  // forgets the chord being typed and ends capitals and numbers.
  void setMode(int mode);
  int mode() const { return mode_; }

  // A key of the chord keyboard went down; `bit` is its chordBit (0: no
  // dot key, nothing happens).
  void press(uint8_t bit);
  // The space bar or a letter went up (`bit` as for press). Once every key
  // of the chord is up, its character; nothing for a chord that only
  // changed a sign, or while keys are still held.
  std::optional<uint8_t> release(uint8_t bit);
  // A whole cell typed on a braille display: dots 1-6 as bits 0-5, with
  // kChordSpaceBit for its space bar. A chord being typed on the keyboard
  // meanwhile is kept.
  std::optional<uint8_t> cell(uint8_t dots);
  // Any other key went up: the capital and number signs end.
  void endCapitalAndNumber();
  // The terminal stopped reporting the releases a chord needs: the chord
  // being typed is forgotten.
  void dropChord();

 private:
  std::optional<uint8_t> complete();
  uint8_t readAsText(uint8_t ch);

  int mode_ = 0;
  uint8_t chord_ = 0;  // dots pressed since the chord began
  uint8_t held_ = 0;   // dot keys still down
  bool capital_ = false, capitalWord_ = false, numberMode_ = false;
};

}  // namespace kalimbro
