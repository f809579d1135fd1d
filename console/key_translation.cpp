// The console's key translation tables: extended keys, Alt codes, the
// second keys of Control+Alt and the mouse.
#include "console/key_translation.h"

#include <array>

#include "console/braille_chords.h"
#include "platform/text.h"

namespace kalimbro {
namespace {

// The keys that queue 0 and a code; Shift changes only Insert.
struct ExtendedKey {
  Key key;
  uint8_t code;
  uint8_t withControl;
};
constexpr std::array<ExtendedKey, 22> kExtendedKeys = {{
    {Key::F1, kF1, kCtrlF1},                   {Key::F2, kF2, kCtrlF2},
    {Key::F3, kF3, kCtrlF3},                   {Key::F4, kF4, kCtrlF4},
    {Key::F5, kF5, kCtrlF5},                   {Key::F6, kF6, kCtrlF6},
    {Key::F7, kF7, kCtrlF7},                   {Key::F8, kF8, kCtrlF8},
    {Key::F9, kF9, kCtrlF9},                   {Key::F10, kF10, kCtrlF10},
    {Key::F11, kF11, kCtrlF11},                {Key::F12, kF12, kCtrlF12},
    {Key::Insert, kInsert, kCtrlInsert},       {Key::Delete, kDelete, kDelete},
    {Key::Home, kHome, kCtrlHome},             {Key::End, kEnd, kCtrlEnd},
    {Key::PageUp, kPageUp, kCtrlPageUp},       {Key::PageDown, kPageDown, kCtrlPageDown},
    {Key::Up, kUp, kCtrlUp},                   {Key::Down, kDown, kCtrlDown},
    {Key::Left, kLeft, kCtrlLeft},             {Key::Right, kRight, kCtrlRight},
}};

// Control+Alt+F9 (review), F11 and F12 (the braille modes) switch virtual
// terminals on the Linux text console and on most desktops; each also
// answers to a Control+Alt+letter, which reaches the program everywhere.
struct SecondKey {
  uint8_t letter;
  Key key;
};
constexpr std::array<SecondKey, 3> kSecondKeys = {{
    {'R', Key::F9}, {'B', Key::F11}, {'N', Key::F12},
}};

constexpr KeyAction kIgnore{};

KeyAction queueByte(uint8_t b) { return {KeyAction::Kind::queueByte, b}; }
KeyAction queueExtended(uint8_t code) { return {KeyAction::Kind::queueExtended, code}; }

bool isAsciiLetter(uint8_t ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); }

// Alt+letter and Alt+digit codes; 0 for other keys.
uint8_t altCode(uint8_t ch) {
  ch = upperAscii(ch);
  if (ch >= 'A' && ch <= 'Z') return kAltLetterCodes[ch - 'A'];
  if (ch >= '1' && ch <= '9') return static_cast<uint8_t>(kAlt1 + (ch - '1'));
  if (ch == '0') return kAlt0;
  return 0;
}

Key secondKeyOf(uint8_t ch) {
  for (const SecondKey& k : kSecondKeys)
    if (k.letter == upperAscii(ch)) return k.key;
  return Key::None;
}

KeyAction translateChar(const InputEvent& ev, bool chordsFromKeys) {
  // Alt without Control makes a system character, which the console never
  // sees; Control+Alt is AltGr on many keyboards and types normally.
  if (ev.mods.alt && !ev.mods.ctrl) return kIgnore;
  uint8_t ch = ev.ch;
  if (chordsFromKeys && (ch == ' ' || isAsciiLetter(ch))) return kIgnore;  // they make chords
  if (ch == kBackspace && ev.mods.ctrl) ch = kCtrlBackspace;
  else if (ch == kEnter && ev.mods.ctrl) ch = kCtrlEnter;
  return queueByte(ch);
}

KeyAction translateKeyDown(const InputEvent& ev, bool chordsFromKeys) {
  const bool ctrl = ev.mods.ctrl, alt = ev.mods.alt;
  // F10 and Alt without Control belong to the window system; only
  // Alt+Left and Alt+Right come through.
  if (ev.key == Key::F10) return kIgnore;
  if (alt && !ctrl && ev.key != Key::Left && ev.key != Key::Right) return kIgnore;
  if (ev.key == Key::Break) return ctrl ? KeyAction{KeyAction::Kind::closeConsole} : kIgnore;
  if (alt) {
    if (ctrl && ev.key == Key::F12) return {KeyAction::Kind::brailleOff};
    if (ctrl && ev.key == Key::F11) return {KeyAction::Kind::brailleNext};
    if (ev.key == Key::Character) {
      if (const Key key = secondKeyOf(ev.ch); ctrl && key != Key::None) {
        return translateKeyDown(keyDown(key, ev.mods), chordsFromKeys);
      }
      if (const uint8_t code = altCode(ev.ch)) return queueExtended(code);
      return kIgnore;
    }
  }
  if (ev.key == Key::Character) {
    const uint8_t bit = chordBit(ev.ch);
    if (!ctrl && chordsFromKeys && bit != 0) return {KeyAction::Kind::chordPress, bit};
    return kIgnore;
  }
  for (const ExtendedKey& k : kExtendedKeys) {
    if (k.key != ev.key) continue;
    uint8_t code = ctrl ? k.withControl : k.code;
    if (ev.key == Key::Insert && ev.mods.shift && !ctrl) code = kShiftInsert;
    return queueExtended(code);
  }
  return kIgnore;
}

KeyAction translateKeyUp(const InputEvent& ev) {
  const bool chordKey =
      ev.key == Key::Character && (ev.ch == ' ' || isAsciiLetter(ev.ch)) && !ev.mods.ctrl;
  if (!chordKey) return {KeyAction::Kind::otherRelease};
  return {KeyAction::Kind::chordRelease, chordBit(ev.ch)};
}

}  // namespace

KeyAction translateKey(const InputEvent& event, bool chordsFromKeys) {
  switch (event.kind) {
    case InputEvent::Kind::Char: return translateChar(event, chordsFromKeys);
    case InputEvent::Kind::KeyDown: return translateKeyDown(event, chordsFromKeys);
    case InputEvent::Kind::KeyUp: return translateKeyUp(event);
    case InputEvent::Kind::MouseLeft: return queueByte(kEnter);
    case InputEvent::Kind::MouseRight: return queueByte(kEsc);
    case InputEvent::Kind::MouseMiddle: return queueExtended(kF9);
    case InputEvent::Kind::WheelUp: return queueExtended(kUp);
    case InputEvent::Kind::WheelDown: return queueExtended(kDown);
    default: return kIgnore;
  }
}

}  // namespace kalimbro
