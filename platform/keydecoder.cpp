// Terminal input decoding: UTF-8 and escape sequences to InputEvents.
#include "platform/keydecoder.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/codec.h"

namespace kalimbro {
namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr std::string_view kPasteEnd = "\x1b[201~";
// A sequence still without its final byte after this many bytes is junk.
constexpr size_t kMaxSequence = 64;
constexpr size_t kMaxParams = 4;

struct NumberedKey {
  int number;
  Key key;
};

// CSI n ~ and CSI n ; m ~: editing keys and function keys. 1/4 and 7/8 are
// the Home/End of the VT220 and rxvt families; 11-14 are F1-F4 of old xterm
// and rxvt.
constexpr NumberedKey kTildeKeys[] = {
    {1, Key::Home},    {2, Key::Insert}, {3, Key::Delete},    {4, Key::End},
    {5, Key::PageUp},  {6, Key::PageDown}, {7, Key::Home},    {8, Key::End},
    {11, Key::F1},     {12, Key::F2},    {13, Key::F3},       {14, Key::F4},
    {15, Key::F5},     {17, Key::F6},    {18, Key::F7},       {19, Key::F8},
    {20, Key::F9},     {21, Key::F10},   {23, Key::F11},      {24, Key::F12},
};

struct LetterKey {
  char letter;
  Key key;
};

// CSI X, CSI 1 ; m X and SS3 X.
constexpr LetterKey kLetterKeys[] = {
    {'A', Key::Up},   {'B', Key::Down}, {'C', Key::Right}, {'D', Key::Left},
    {'H', Key::Home}, {'F', Key::End},  {'P', Key::F1},    {'Q', Key::F2},
    {'R', Key::F3},   {'S', Key::F4},
};

// The Linux text console's F1-F5: ESC [ [ A .. ESC [ [ E.
constexpr LetterKey kLinuxConsoleKeys[] = {
    {'A', Key::F1}, {'B', Key::F2}, {'C', Key::F3}, {'D', Key::F4}, {'E', Key::F5},
};

// The keypad as the kitty protocol reports it while every key is: its
// navigation keys, and the keys that type (when no text comes with them).
struct KeypadKey {
  uint32_t code;
  Key key;
  uint8_t types;
};
constexpr KeypadKey kKeypadKeys[] = {
    {57399, Key::None, '0'},     {57400, Key::None, '1'},     {57401, Key::None, '2'},
    {57402, Key::None, '3'},     {57403, Key::None, '4'},     {57404, Key::None, '5'},
    {57405, Key::None, '6'},     {57406, Key::None, '7'},     {57407, Key::None, '8'},
    {57408, Key::None, '9'},     {57409, Key::None, '.'},     {57410, Key::None, '/'},
    {57411, Key::None, '*'},     {57412, Key::None, '-'},     {57413, Key::None, '+'},
    {57414, Key::None, 13},      {57415, Key::None, '='},     {57416, Key::None, ','},
    {57417, Key::Left, 0},       {57418, Key::Right, 0},      {57419, Key::Up, 0},
    {57420, Key::Down, 0},       {57421, Key::PageUp, 0},     {57422, Key::PageDown, 0},
    {57423, Key::Home, 0},       {57424, Key::End, 0},        {57425, Key::Insert, 0},
    {57426, Key::Delete, 0},
};

// The event types of the kitty protocol; a key without one is pressed.
enum class KeyAction { Press = 1, Repeat = 2, Release = 3 };

// rxvt: CSI a..d are Shift+arrows, SS3 a..d Control+arrows.
constexpr LetterKey kRxvtArrows[] = {
    {'a', Key::Up}, {'b', Key::Down}, {'c', Key::Right}, {'d', Key::Left},
};

template <typename Table, typename Code>
Key lookUp(const Table& table, Code code) {
  for (const auto& entry : table) {
    if constexpr (requires { entry.number; }) {
      if (entry.number == code) return entry.key;
    } else {
      if (entry.letter == code) return entry.key;
    }
  }
  return Key::None;
}

// The xterm modifier parameter: 1 + Shift 1 + Alt 2 + Control 4 (+ Meta 8,
// taken as Alt). Missing or nonsense values mean no modifier.
Modifiers xtermModifiers(int m) {
  Modifiers mods;
  if (m < 2) return mods;
  const int bits = m - 1;
  mods.shift = bits & 1;
  mods.alt = (bits & 2) || (bits & 8);
  mods.ctrl = bits & 4;
  return mods;
}

Modifiers operator|(Modifiers a, Modifiers b) {
  return {a.shift || b.shift, a.ctrl || b.ctrl, a.alt || b.alt};
}

bool isLetterOrDigit(uint32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

uint8_t upper(uint32_t c) {
  return static_cast<uint8_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
}

// A control byte typed alone.
InputEvent controlByteEvent(uint8_t b) {
  switch (b) {
    case 0x7F: return charEvent(8);                      // Backspace
    case 8: return charEvent(8, {.ctrl = true});         // Control+Backspace
    case 9:
    case 13: return charEvent(b);                        // Tab, Enter
    case 0: return charEvent(' ', {.ctrl = true});       // Control+Space
    default: return charEvent(b, {.ctrl = true});        // Control+letter
  }
}

// A key-down, or a key-up when the terminal reports a release.
void keyEvent(Key key, Modifiers mods, KeyAction action, std::vector<InputEvent>& out) {
  InputEvent e = keyDown(key, mods);
  if (action == KeyAction::Release) e.kind = InputEvent::Kind::KeyUp;
  out.push_back(e);
}

// Letters, digits and the space bar are keys of their own as well as
// characters: the braille chords are made of them.
bool isCharacterKey(uint32_t code) { return isLetterOrDigit(code) || code == ' '; }

// A key given by its code point, as modifyOtherKeys (CSI 27;m;c~) and the
// kitty protocol (CSI c;m:e;t u) report it: its action, and the text it
// types (0 when the terminal does not say). A press of a letter, digit or
// the space bar without Control or Alt is a key-down followed by the
// character it types; a release is a key-up. Appends nothing for a
// character without a Windows-1252 form.
void codedKey(uint32_t code, Modifiers mods, KeyAction action, uint32_t text,
              std::vector<InputEvent>& out) {
  for (const KeypadKey& pad : kKeypadKeys) {
    if (pad.code != code) continue;
    if (pad.key != Key::None || action == KeyAction::Release) {
      keyEvent(pad.key, mods, action, out);
    } else {
      const auto typed = codePointToCp1252(text);
      out.push_back(charEvent(typed && *typed >= 0x20 ? *typed : pad.types, mods));
    }
    return;
  }
  if (action == KeyAction::Release) {
    InputEvent e = keyUpChar(upper(code), mods);
    if (!isCharacterKey(code)) {
      e.key = Key::None;
      e.ch = 0;
    }
    out.push_back(e);
    return;
  }
  switch (code) {
    case 13: out.push_back(charEvent(13, mods)); return;
    case 8:
    case 127: out.push_back(charEvent(8, mods)); return;
    case 9: out.push_back(charEvent(9, mods)); return;
    case 27: out.push_back(charEvent(27, mods)); return;
    default: break;
  }
  if (mods.alt && isCharacterKey(code)) {
    out.push_back(keyDownChar(upper(code), mods));
  } else if (mods.ctrl && ((upper(code) >= 'A' && upper(code) <= 'Z') || (code >= '@' && code <= '_'))) {
    out.push_back(charEvent(upper(code) & 0x1F, mods));  // Control+\ is 28, as typed alone
  } else if (mods.ctrl && code == ' ') {
    out.push_back(charEvent(' ', mods));
  } else {
    if (isCharacterKey(code)) out.push_back(keyDownChar(upper(code), mods));
    const uint32_t typed = text != 0 ? text : mods.shift ? upper(code) : code;
    if (const auto byte = codePointToCp1252(typed); byte && *byte >= 0x20) out.push_back(charEvent(*byte, mods));
  }
}

// Length of the UTF-8 character that starts with `lead`, 0 if it cannot
// start one.
size_t utf8Length(uint8_t lead) {
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

// The parts of a control sequence (CSI or SS3) that begins at `start` of
// `in` (just after ESC [ or ESC O).
struct Sequence {
  size_t length = 0;       // bytes from the start of `in`, ESC included
  bool malformed = false;  // swallowed without meaning
  bool overlong = false;   // cut off before its final byte
  char privateMark = 0;    // '<', '?', '>' or '='
  bool intermediate = false;
  char final = 0;
  size_t paramCount = 0;
  std::array<int, kMaxParams> params{};  // -1: left out
  std::array<int, kMaxParams> subParams{};  // the first after ':'; -1: none

  int param(size_t i, int fallback) const {
    return i < paramCount && params[i] >= 0 ? params[i] : fallback;
  }
  // The kitty protocol puts the event type after the modifiers: 5:3.
  KeyAction action() const {
    const int type = 1 < paramCount ? subParams[1] : -1;
    return type == 2 ? KeyAction::Repeat : type == 3 ? KeyAction::Release : KeyAction::Press;
  }
};

// Scans ECMA-48 parameter, intermediate and final bytes. A byte that may
// not appear in a sequence ends it as malformed, and is itself left to be
// decoded on its own. Returns false when the sequence is unfinished.
bool scanSequence(std::string_view in, size_t start, Sequence& seq) {
  size_t i = start;
  for (;; ++i) {
    if (i >= kMaxSequence) {
      seq.malformed = seq.overlong = true;
      seq.length = i;
      return true;
    }
    if (i >= in.size()) return false;
    const auto b = static_cast<uint8_t>(in[i]);
    if (b >= 0x30 && b <= 0x3F) {
      if (seq.intermediate || (b >= '<' && i != start)) seq.malformed = true;
    } else if (b >= 0x20 && b <= 0x2F) {
      seq.intermediate = true;
    } else if (b >= 0x40 && b <= 0x7E) {
      seq.final = static_cast<char>(b);
      seq.length = i + 1;
      break;
    } else {
      seq.malformed = true;  // a control byte, DEL or a non-ASCII byte
      seq.length = i;
      return true;
    }
  }
  std::string_view params = in.substr(start, seq.length - 1 - start);
  if (!params.empty() && params[0] >= '<') {
    seq.privateMark = params[0];
    params.remove_prefix(1);
  }
  while (!params.empty() && params.back() >= 0x20 && params.back() <= 0x2F) params.remove_suffix(1);
  if (params.empty()) return true;
  // Parameters are separated by ';', sub-parameters by ':'; of these only
  // the first counts.
  for (;;) {
    const size_t semicolon = params.find(';');
    const std::string_view field = params.substr(0, semicolon);
    int value = -1, sub = -1;
    int* digitsOf = &value;
    for (char c : field) {
      if (c == ':') {
        if (digitsOf == &sub) break;
        digitsOf = &sub;
        continue;
      }
      if (c < '0' || c > '9') {
        seq.malformed = true;
        return true;
      }
      int& v = *digitsOf;
      v = v < 0 ? c - '0' : std::min(v * 10 + (c - '0'), 999999);
    }
    if (seq.paramCount < kMaxParams) {
      seq.subParams[seq.paramCount] = sub;
      seq.params[seq.paramCount++] = value;
    }
    if (semicolon == std::string_view::npos) break;
    params.remove_prefix(semicolon + 1);
  }
  return true;
}

void mouseButton(int b, bool press, Modifiers mods, std::vector<InputEvent>& out) {
  if (!press || (b & 32) || (b & 128)) return;  // release, motion, extra buttons
  InputEvent::Kind kind;
  if (b & 64) {
    switch (b & 3) {
      case 0: kind = InputEvent::Kind::WheelUp; break;
      case 1: kind = InputEvent::Kind::WheelDown; break;
      default: return;  // horizontal wheel
    }
  } else {
    switch (b & 3) {
      case 0: kind = InputEvent::Kind::MouseLeft; break;
      case 1: kind = InputEvent::Kind::MouseMiddle; break;
      case 2: kind = InputEvent::Kind::MouseRight; break;
      default: return;  // X10 release
    }
  }
  InputEvent e = simpleEvent(kind);
  e.mods = mods | Modifiers{.shift = (b & 4) != 0, .ctrl = (b & 16) != 0, .alt = (b & 8) != 0};
  out.push_back(e);
}

}  // namespace

std::vector<InputEvent> KeyDecoder::feed(std::string_view bytes) {
  pending_.append(bytes);
  std::vector<InputEvent> out;
  size_t pos = 0;
  while (pos < pending_.size()) {
    if (inPaste_) {
      const size_t end = pending_.find(kPasteEnd, pos);
      if (end == std::string::npos) {
        // Keep a tail that may be the start of the end marker.
        size_t keep = std::min(kPasteEnd.size() - 1, pending_.size() - pos);
        while (keep > 0 && !kPasteEnd.starts_with(std::string_view(pending_).substr(pending_.size() - keep)))
          --keep;
        const size_t take = pending_.size() - pos - keep;
        paste_.append(pending_, pos, std::min(take, kMaxPasteBytes - std::min(kMaxPasteBytes, paste_.size())));
        pos += take;
        break;
      }
      paste_.append(pending_, pos, std::min(end - pos, kMaxPasteBytes - std::min(kMaxPasteBytes, paste_.size())));
      pos = end + kPasteEnd.size();
      InputEvent e = simpleEvent(InputEvent::Kind::Paste);
      e.text = fromUtf8(paste_);
      out.push_back(std::move(e));
      paste_.clear();
      inPaste_ = false;
      continue;
    }
    if (skippingSequence_) {
      // The rest of an overlong sequence, up to its final byte.
      const auto b = static_cast<uint8_t>(pending_[pos]);
      if (b >= 0x20 && b <= 0x7E) {
        ++pos;
        skippingSequence_ = b < 0x40;
        continue;
      }
      skippingSequence_ = false;
    }
    size_t used = 0;
    if (decodeOne(std::string_view(pending_).substr(pos), used, out) == Step::NeedMore) break;
    pos += used;
  }
  pending_.erase(0, pos);
  return out;
}

bool KeyDecoder::waitingForMore() const { return !inPaste_ && !pending_.empty(); }

std::vector<InputEvent> KeyDecoder::flushPending() {
  std::vector<InputEvent> out;
  if (inPaste_) return out;
  std::string_view p = pending_;
  while (p.size() >= 2 && p[0] == kEsc && p[1] == kEsc) {
    out.push_back(charEvent(27));
    p.remove_prefix(1);
  }
  if (p == "\x1b") {
    out.push_back(charEvent(27));
  } else if (p == "\x1bO") {
    out.push_back(keyDownChar('O', {.alt = true}));
  }
  // Anything else is an unfinished sequence or character: dropped.
  pending_.clear();
  return out;
}

KeyDecoder::Step KeyDecoder::decodeOne(std::string_view in, size_t& used,
                                       std::vector<InputEvent>& out) {
  const auto b0 = static_cast<uint8_t>(in[0]);
  if (b0 < 0x20 && b0 != kEsc) {
    out.push_back(controlByteEvent(b0));
    used = 1;
    return Step::Done;
  }
  if (b0 == 0x7F) {
    out.push_back(controlByteEvent(b0));
    used = 1;
    return Step::Done;
  }
  if (b0 < 0x80 && b0 != kEsc) {
    out.push_back(charEvent(b0));
    used = 1;
    return Step::Done;
  }
  if (b0 >= 0x80) {
    const size_t len = utf8Length(b0);
    used = 1;  // a malformed character is dropped one byte at a time
    if (len == 0) return Step::Done;
    for (size_t i = 1; i < len; ++i) {
      if (i >= in.size()) return Step::NeedMore;
      if ((static_cast<uint8_t>(in[i]) & 0xC0) != 0x80) return Step::Done;
    }
    const std::string_view character = in.substr(0, len);
    used = len;
    // Characters without a Windows-1252 form are dropped, and so are the
    // C1 controls that stand for the code page's five unused bytes.
    if (utf8FitsCp1252(character)) {
      const auto byte = static_cast<uint8_t>(fromUtf8(character)[0]);
      if (cp1252ToCodePoint(byte) >= 0xA0) out.push_back(charEvent(byte));
    }
    return Step::Done;
  }

  // ESC ...
  if (in.size() < 2) return Step::NeedMore;
  const auto b1 = static_cast<uint8_t>(in[1]);
  Modifiers alt{.alt = true};
  size_t start = 1;  // index of '[' or 'O'
  if (b1 == kEsc) {
    // ESC ESC [ / ESC ESC O: a key sent with Alt by rxvt-like terminals.
    if (in.size() < 3) return Step::NeedMore;
    if (in[2] != '[' && in[2] != 'O') {
      out.push_back(charEvent(27));
      used = 1;
      return Step::Done;
    }
    start = 2;
  } else {
    alt = {};
  }
  const char introducer = in[start];
  if (introducer != '[' && introducer != 'O') {
    // ESC followed by a key typed with Alt.
    used = 2;
    if (isLetterOrDigit(b1) || b1 == ' ') {
      out.push_back(keyDownChar(upper(b1), {.alt = true}));
    } else if (b1 >= 1 && b1 <= 26) {
      out.push_back(keyDownChar('A' + b1 - 1, {.ctrl = true, .alt = true}));
    } else if (b1 == 0x7F) {
      out.push_back(charEvent(8, {.alt = true}));
    } else if (b1 < 0x20) {
      out.push_back(charEvent(27));  // ESC, then the control byte on its own
      used = 1;
    } else if (b1 >= 0x80) {
      // Alt with a non-ASCII character: swallowed with the character.
      std::vector<InputEvent> ignored;
      size_t charUsed = 0;
      if (decodeOne(in.substr(1), charUsed, ignored) == Step::NeedMore) return Step::NeedMore;
      used = 1 + charUsed;
    }
    // Alt with punctuation: swallowed, as a desktop window keeps it.
    return Step::Done;
  }

  Sequence seq;
  if (!scanSequence(in, start + 1, seq)) return Step::NeedMore;
  used = seq.length;
  skippingSequence_ = seq.overlong;
  if (seq.malformed) return Step::Done;

  if (introducer == 'O') {
    if (seq.intermediate || seq.privateMark) return Step::Done;
    // Old xterms put the modifier alone: ESC O 5 P.
    const int m = seq.paramCount >= 2 ? seq.param(1, 1) : seq.param(0, 1);
    if (Key key = lookUp(kLetterKeys, seq.final); key != Key::None) {
      out.push_back(keyDown(key, xtermModifiers(m) | alt));
    } else if (Key arrow = lookUp(kRxvtArrows, seq.final); arrow != Key::None) {
      out.push_back(keyDown(arrow, Modifiers{.ctrl = true} | alt));
    }
    return Step::Done;
  }

  // CSI
  if (seq.privateMark == '<' && (seq.final == 'M' || seq.final == 'm') && !seq.intermediate) {
    mouseButton(seq.param(0, 0), seq.final == 'M', alt, out);
    return Step::Done;
  }
  if (seq.privateMark == '?' && seq.final == 'u' && !seq.intermediate) {
    out.push_back(keyboardFlagsEvent(static_cast<uint8_t>(seq.param(0, 0))));
    return Step::Done;
  }
  if (seq.privateMark || seq.intermediate) return Step::Done;  // other replies and reports

  if (seq.paramCount == 0 && seq.final == '[') {
    // Linux console function keys: one more letter follows.
    const size_t at = seq.length;
    if (at >= in.size()) return Step::NeedMore;
    used = at + 1;
    if (Key key = lookUp(kLinuxConsoleKeys, in[at]); key != Key::None)
      out.push_back(keyDown(key, alt));
    return Step::Done;
  }
  if (seq.paramCount == 0 && seq.final == 'M') {
    // X10 mouse report: three raw bytes follow (button, column, row).
    const size_t at = seq.length;
    if (at + 3 > in.size()) return Step::NeedMore;
    used = at + 3;
    mouseButton(static_cast<uint8_t>(in[at]) - 32, true, alt, out);
    return Step::Done;
  }

  switch (seq.final) {
    case 'I':
      out.push_back(simpleEvent(InputEvent::Kind::FocusIn));
      return Step::Done;
    case 'O':
      out.push_back(simpleEvent(InputEvent::Kind::FocusOut));
      return Step::Done;
    case 'Z':
      out.push_back(charEvent(9, Modifiers{.shift = true} | xtermModifiers(seq.param(1, 1)) | alt));
      return Step::Done;
    case 'u':
      codedKey(static_cast<uint32_t>(seq.param(0, 0)), xtermModifiers(seq.param(1, 1)), seq.action(),
               static_cast<uint32_t>(seq.param(2, 0)), out);
      return Step::Done;
    case '~': {
      const int number = seq.param(0, 0);
      if (number == 200) {
        inPaste_ = true;
      } else if (number == 27) {
        codedKey(static_cast<uint32_t>(seq.param(2, 0)), xtermModifiers(seq.param(1, 1)), KeyAction::Press, 0,
                 out);
      } else if (Key key = lookUp(kTildeKeys, number); key != Key::None) {
        keyEvent(key, xtermModifiers(seq.param(1, 1)) | alt, seq.action(), out);
      }
      return Step::Done;  // 201 without a paste, unknown numbers: ignored
    }
    default:
      break;
  }
  // Keys end in a letter after nothing or "1;m"; other numbers there are
  // reports (CSI row;col R) that nobody asked for.
  if (seq.param(0, 1) != 1) return Step::Done;
  if (Key key = lookUp(kLetterKeys, seq.final); key != Key::None) {
    keyEvent(key, xtermModifiers(seq.param(1, 1)) | alt, seq.action(), out);
  } else if (Key arrow = lookUp(kRxvtArrows, seq.final); arrow != Key::None) {
    out.push_back(keyDown(arrow, Modifiers{.shift = true} | alt));
  }
  return Step::Done;
}

}  // namespace kalimbro
