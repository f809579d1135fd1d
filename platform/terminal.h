// The terminal seam: what the console needs from the user's terminal.
// Output is a grid of Windows-1252 cells drawn in runs; input arrives as
// InputEvents, the terminal's counterpart of the key-down, key-up and
// character messages of a desktop window. The real backend is
// platform/tty_terminal; tests use a fake or none at all.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kalimbro {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// Keys that arrive as key-down (and, on terminals that report releases,
// key-up) events. Letters and digits carry their upper-case character in
// InputEvent::ch; they arrive as key-downs only with Alt held, or when the
// terminal reports key releases (the braille chord keyboard needs both).
enum class Key : uint8_t {
  None,
  F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
  Insert, Delete, Home, End, PageUp, PageDown, Up, Down, Left, Right,
  Character,  // a letter, digit or the space bar; see InputEvent::ch
  Break,
};

// The kitty keyboard protocol's enhancement flags. With event types the
// terminal reports releases, but only of keys it sends as escape codes;
// letters and the space bar come as escape codes (and so with releases)
// only while every key is reported.
constexpr uint8_t kKittyDisambiguate = 1, kKittyEventTypes = 2, kKittyEveryKey = 8,
                  kKittyKeyText = 16;

struct Modifiers {
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
  bool operator==(const Modifiers&) const = default;
};

struct InputEvent {
  enum class Kind : uint8_t {
    Char,        // a typed character or control byte (ch): 13 Enter, 27 ESC,
                 // 9 Tab, 8 Backspace, 1..26 Control+letter. Control+Backspace
                 // is 8 and Control+Enter 13, each with mods.ctrl set: the
                 // console's translation turns them into 127 and 10.
    KeyDown,     // key (and ch for Key::Character)
    KeyUp,       // key released, only from terminals that report it
    MouseLeft,
    MouseRight,
    MouseMiddle,
    WheelUp,     // turned away from the user
    WheelDown,   // turned towards the user
    FocusIn,
    FocusOut,
    Paste,       // bracketed paste; text holds it in Windows-1252
    KeyboardFlags,  // the terminal's answer to the keyboard mode query: ch
                    // holds the kitty keyboard flags now in force
  };
  Kind kind = Kind::Char;
  uint8_t ch = 0;
  Key key = Key::None;
  Modifiers mods;
  std::string text;
};

// A terminal's size in cells; 0 when it does not say.
struct CellSize {
  int rows = 0;
  int columns = 0;
};

class Terminal {
 public:
  virtual ~Terminal() = default;

  // The cells the terminal shows; a smaller terminal than the console's
  // grid shows the part of it the console chooses.
  virtual CellSize size() const { return {}; }

  // Draws `cells` (Windows-1252) from column `col` of row `row`, both
  // 0-based, in one foreground and background colour.
  virtual void drawRun(int row, int col, std::string_view cells, Rgb fg, Rgb bg) = 0;
  // The text cursor (the caret): position, 0-based, and visibility.
  virtual void placeCursor(int row, int col, bool visible) = 0;
  virtual void setTitle(std::string_view cp1252) = 0;
  // A copy for the terminal's own clipboard (OSC 52); the program keeps its
  // clipboard itself.
  virtual void copyToClipboard(std::string_view cp1252) = 0;
  virtual void beep() = 0;
  // Sends everything drawn so far.
  virtual void flush() = 0;
  // Asks a terminal that reports key releases to report every key, letters
  // and the space bar included, with its press and release (the braille
  // chords are built from them), or to go back to reporting text as text.
  // The terminal answers with a KeyboardFlags event.
  virtual void reportEveryKey(bool /*on*/) {}
};

using InputSink = std::function<void(const InputEvent&)>;

// Building events, for the decoder and for tests that feed the console.
inline InputEvent simpleEvent(InputEvent::Kind kind) {
  InputEvent e;
  e.kind = kind;
  return e;
}

inline InputEvent charEvent(uint8_t ch, Modifiers mods = {}) {
  InputEvent e = simpleEvent(InputEvent::Kind::Char);
  e.ch = ch;
  e.mods = mods;
  return e;
}

inline InputEvent keyDown(Key key, Modifiers mods = {}) {
  InputEvent e = simpleEvent(InputEvent::Kind::KeyDown);
  e.key = key;
  e.mods = mods;
  return e;
}

// A letter, digit or the space bar as a key; `upper` is its upper-case
// character.
inline InputEvent keyDownChar(uint8_t upper, Modifiers mods = {}) {
  InputEvent e = keyDown(Key::Character, mods);
  e.ch = upper;
  return e;
}

inline InputEvent keyUpChar(uint8_t upper, Modifiers mods = {}) {
  InputEvent e = keyDownChar(upper, mods);
  e.kind = InputEvent::Kind::KeyUp;
  return e;
}

inline InputEvent keyboardFlagsEvent(uint8_t kittyFlags) {
  InputEvent e = simpleEvent(InputEvent::Kind::KeyboardFlags);
  e.ch = kittyFlags;
  return e;
}

}  // namespace kalimbro
