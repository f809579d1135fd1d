// KeyDecoder: turns the bytes a terminal sends (UTF-8 text, control bytes
// and xterm/VT220 escape sequences) into InputEvents. Platform-free: the
// terminal backend (platform/tty_terminal) feeds it what it reads, and
// tests feed it byte strings.
//
// Bytes may arrive in pieces of any size; an unfinished sequence is kept
// until the rest comes. A lone ESC cannot be told from the start of a
// sequence until some time passes without more bytes: the caller asks
// `waitingForMore`, waits about 30 ms and then calls `flushPending`.
//
// What the decoder yields:
//   printable text        Char, the Windows-1252 byte; characters without a
//                         Windows-1252 form are dropped
//   127                   Char 8 (Backspace)
//   8                     Char 8 with ctrl (Control+Backspace)
//   9, 13                 Char 9 (Tab), Char 13 (Enter)
//   0                     Char 32 with ctrl (Control+Space)
//   other 1..31           Char with ctrl (Control+letter and friends)
//   ESC alone             Char 27
//   ESC letter/digit      KeyDown Key::Character, upper-case ch, alt
//   ESC space             KeyDown Key::Character ' ', alt
//   ESC 1..26             KeyDown Key::Character 'A'.., alt and ctrl
//   ESC 127               Char 8 with alt
//   CSI Z                 Char 9 with shift (Shift+Tab)
//   cursor, editing and function keys, plain or with the xterm modifier
//                         parameter: KeyDown with the key and its mods
//   SGR and X10 mouse     MouseLeft/Right/Middle on press, WheelUp/Down;
//                         releases and motion are ignored
//   CSI I, CSI O          FocusIn, FocusOut
//   CSI 200~ .. CSI 201~  one Paste, the text in Windows-1252 (characters
//                         without a Windows-1252 form become '?')
//   CSI 27;m;c~, CSI c;m u  keys reported by modifyOtherKeys / CSI u
//   kitty protocol        CSI c;m:e;t u and the key forms above with m:e:
//                         e 1 or 2 (press, repeat) a KeyDown, 3 a KeyUp;
//                         a letter, digit or space pressed is KeyDown
//                         Key::Character and then Char of the text t;
//                         keypad keys as the keys they stand for
//   CSI ? f u             KeyboardFlags f (the keyboard mode in force)
// Anything else that starts with ESC (ESC with punctuation, unknown or
// malformed sequences) is swallowed whole.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/terminal.h"

namespace kalimbro {

class KeyDecoder {
 public:
  // Decodes `bytes` after whatever was kept from earlier calls.
  std::vector<InputEvent> feed(std::string_view bytes);

  // True when the decoder holds the start of an escape sequence (or a lone
  // ESC) that only a timeout can settle. A paste in progress never times
  // out: it waits for its end marker.
  bool waitingForMore() const;

  // The timeout passed: a lone ESC becomes Char 27, ESC O becomes Alt+O,
  // an unfinished sequence or UTF-8 character is dropped.
  std::vector<InputEvent> flushPending();

  // Longest paste kept, in bytes as received; the rest is dropped.
  static constexpr size_t kMaxPasteBytes = 1 << 20;

 private:
  enum class Step { Done, NeedMore };
  Step decodeOne(std::string_view in, size_t& used, std::vector<InputEvent>& out);
  void continuePaste(std::vector<InputEvent>& out);

  std::string pending_;
  bool skippingSequence_ = false;
  bool inPaste_ = false;
  std::string paste_;  // UTF-8 as received
};

}  // namespace kalimbro
