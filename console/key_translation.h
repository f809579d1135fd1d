// key_translation: how a key or a click from the terminal becomes the
// bytes of the console's key queue, as the keyboard messages of the
// family's console window do: plain characters as they are, extended keys
// as 0 and a code (with other codes under Control), Alt only with Control
// or on Left and Right, the keys of the braille modes, and the letters and
// space bar that make braille chords. Free of the console's state, so it
// is tested alone; VrCrt applies what it gives.
#pragma once

#include <cstdint>

#include "console/keys.h"
#include "platform/terminal.h"

namespace kalimbro {

struct KeyAction {
  enum class Kind : uint8_t {
    ignore,         // nothing reaches the program (F10, Alt without Control ...)
    queueByte,      // `code` is queued
    queueExtended,  // 0 and `code` are queued
    closeConsole,   // Control+Break ends the program
    brailleOff,     // Control+Alt+F12
    brailleNext,    // Control+Alt+F11: the next braille mode
    chordPress,     // a dot key went down: `code` is its chord bit
    chordRelease,   // the space bar or a letter went up: `code` is its chord bit (0: no dot key)
    otherRelease,   // any other key went up
  };
  Kind kind = Kind::ignore;
  uint8_t code = 0;
  bool operator==(const KeyAction&) const = default;
};

// What `event` asks of the console. `chordsFromKeys`: a braille mode is on
// and the terminal reports the press and release of every key, so letters
// and the space bar make chords instead of typing. Key and character
// events, clicks and the wheel are translated; focus changes, pastes and
// the terminal's keyboard flags are the console's own business and give
// `ignore` here.
KeyAction translateKey(const InputEvent& event, bool chordsFromKeys);

}  // namespace kalimbro
