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
    {Key::F1, 59, 94},      {Key::F2, 60, 95},       {Key::F3, 61, 96},
    {Key::F4, 62, 97},      {Key::F5, 63, 98},       {Key::F6, 64, 99},
    {Key::F7, 65, 100},     {Key::F8, 66, 101},      {Key::F9, 67, 102},
    {Key::F10, 68, 103},    {Key::F11, 69, 104},     {Key::F12, 70, 105},
    {Key::Insert, 82, 255}, {Key::Delete, 83, 83},   {Key::Home, 71, 119},
    {Key::End, 79, 117},    {Key::PageUp, 73, 132},  {Key::PageDown, 81, 118},
    {Key::Up, 72, 113},     {Key::Down, 80, 114},    {Key::Left, 75, 115},
    {Key::Right, 77, 116},
}};

// Alt+letter gives 0 and the letter's scan code, A to Z.
constexpr std::array<uint8_t, 26> kLetterScanCodes = {
    30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
    49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
// Alt+digit: 1-9 give 120-128, 0 gives 129.
constexpr uint8_t kFirstDigitCode = 120;
constexpr uint8_t kDigitZeroCode = 129;

// The extended codes of the middle click and the wheel.
constexpr uint8_t kF9 = 67, kUp = 72, kDown = 80;

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
  if (ch >= 'A' && ch <= 'Z') return kLetterScanCodes[ch - 'A'];
  if (ch >= '1' && ch <= '9') return static_cast<uint8_t>(kFirstDigitCode + (ch - '1'));
  if (ch == '0') return kDigitZeroCode;
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
  if (ch == 8 && ev.mods.ctrl) ch = 127;
  else if (ch == 13 && ev.mods.ctrl) ch = 10;
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
