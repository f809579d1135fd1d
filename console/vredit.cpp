// The talking line editor. One field at a screen position, edited in place:
// every key is looked up in one of two tables (ordinary keys, extended
// keys) and handled by one small action; the editor ends on the keys whose
// action says so and returns that key.
#include "console/vredit.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrfala.h"
#include "console/vrfala_tempo.h"
#include "console/vrini.h"
#include "console/vrrevisa.h"
#include "platform/number_text.h"
#include "platform/process.h"
#include "platform/text.h"

namespace kalimbro {
namespace {

constexpr int kLongestField = 2048;
constexpr uint8_t kSelectionBackground = 8;

// Alt+F1 ends the field with this code.
constexpr uint8_t kAltF1Result = 104;

int lastPosition = 1;
bool echoOn = true;

// ------------------------------------------------ playback engine switches

// `playAsync`: on while editing, so that letter sounds never hold up
// typing. Returns the value it had.
bool setTypingLatency(bool playAsync) {
  SpeechPlayer& player = speechPlayer();
  const bool was = player.playAsync();
  player.setPlayAsync(playAsync);
  return was;
}
// `speedUp`: off while the field is dialled as telephone tones.
bool setDialSpeedUp(bool speedUp) {
  SpeechPlayer& player = speechPlayer();
  const bool was = player.speedUp();
  player.setSpeedUp(speedUp);
  return was;
}
// Plays "dtmf_" + c + ".wav" of the letters directory.
void playDialTone(char c) {
  speechPlayer().playFile(speechLettersDir() + "dtmf_" + std::string(1, c) + ".wav");
}

// ------------------------------------------------------------ the field

struct Editor {
  std::string text;     // always maxLen characters, padded with blanks
  std::string atEntry;  // for Control+U
  int x = 1, y = 1, width = 1, maxLen = 1;
  bool editable = true;
  bool f1Helps = false;  // F1 with nothing left to read ends the field
  int position = 1;      // 1-based cursor index; maxLen + 1 is past the end
  int firstVisible = 1;  // index shown at column x
  bool fresh = true;
  int selStart = 0, selEnd = 0;  // 0: no selection
  Modifiers mods;                // Shift/Control/Alt of the key being handled
  uint8_t result = 0;            // what the editor returns when a key ends it
};

enum class Outcome { Continue, End };

uint8_t charAt(const Editor& e, int i) {
  return i >= 1 && i <= e.maxLen ? static_cast<uint8_t>(e.text[static_cast<size_t>(i - 1)]) : ' ';
}

bool isBlank(uint8_t c) { return c == ' '; }
bool isAsciiLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// The index just after the last non-blank character (1 for a blank field).
int textEnd(const Editor& e) {
  const size_t last = e.text.find_last_not_of(' ');
  return last == std::string::npos ? 1 : static_cast<int>(last) + 2;
}

std::string trimmedText(const Editor& e) {
  return e.text.substr(0, static_cast<size_t>(textEnd(e) - 1));
}

bool hasSelection(const Editor& e) { return e.selStart != 0 && e.selStart != e.selEnd; }
int selectionLow(const Editor& e) { return std::min(e.selStart, e.selEnd); }
int selectionHigh(const Editor& e) { return std::max(e.selStart, e.selEnd); }  // exclusive
void clearSelection(Editor& e) { e.selStart = e.selEnd = 0; }

void setAttribute(uint8_t attr) {
  textColor(attr & 15);
  textBackground(attr >> 4);
}

// Keeps the cursor in view, writes the visible part (the selection on its
// own background) and puts the console cursor on the editing position.
void drawField(Editor& e) {
  if (e.position < e.firstVisible) e.firstVisible = e.position;
  if (e.position > e.firstVisible + e.width) e.firstVisible = e.position - e.width;
  gotoXY(e.x, e.y);
  const uint8_t normal = currentAttribute();
  const int last = std::min(e.firstVisible + e.width, e.maxLen + 1);  // exclusive
  int i = e.firstVisible;
  while (i < last) {
    const bool selected = hasSelection(e) && i >= selectionLow(e) && i < selectionHigh(e);
    int end = i + 1;
    while (end < last &&
           (hasSelection(e) && end >= selectionLow(e) && end < selectionHigh(e)) == selected) {
      ++end;
    }
    if (selected) textBackground(kSelectionBackground);
    crtWrite(
        std::string_view(e.text).substr(static_cast<size_t>(i - 1), static_cast<size_t>(end - i)));
    setAttribute(normal);
    i = end;
  }
  if (last - e.firstVisible < kScreenColumns) clearToEndOfLine();
  gotoXY(e.x + e.position - e.firstVisible, e.y);
}

// Removes the characters [from, to) and pads the end; returns them.
std::string removeRange(Editor& e, int from, int to) {
  if (to <= from) return {};
  const auto at = static_cast<size_t>(from - 1), count = static_cast<size_t>(to - from);
  std::string removed = e.text.substr(at, count);
  e.text.erase(at, count);
  e.text.append(count, ' ');
  return removed;
}

// Inserts at `index`; what no longer fits falls off the end.
void insertAt(Editor& e, int index, std::string_view s) {
  e.text.insert(static_cast<size_t>(index - 1), s);
  e.text.resize(static_cast<size_t>(e.maxLen));
}

// "_DEL" once, then each deleted character (trailing blanks are not worth
// hearing).
void sayDeleted(std::string_view removed) {
  speakSound("_DEL");
  const size_t last = removed.find_last_not_of(' ');
  if (last == std::string_view::npos) return;
  for (const char c : removed.substr(0, last + 1)) speakLetter(static_cast<uint8_t>(c));
}

// The first key typed into a field that shows a value replaces it: two
// clicks, and the value goes when `blank` says so and the field may change.
void freshClicks(Editor& e, bool blank) {
  if (!e.fresh) return;
  bool shown = false;
  for (int i = e.position; i <= e.maxLen && !shown; ++i) shown = !isBlank(charAt(e, i));
  if (!shown) return;
  clickSound();
  clickSound();
  if (blank && e.editable) e.text.assign(static_cast<size_t>(e.maxLen), ' ');
}

// ------------------------------------------------------------ actions

Outcome ends(Editor&) { return Outcome::End; }
Outcome nothing(Editor&) { return Outcome::Continue; }

Outcome otherControl(Editor& e) {
  freshClicks(e, false);
  return Outcome::Continue;
}

Outcome typeCharacter(Editor& e) {
  const uint8_t c = e.result;
  freshClicks(e, true);
  if (!e.editable) return Outcome::Continue;
  if (e.position > e.maxLen) {
    beepSound();
    return Outcome::Continue;
  }
  const char ch = static_cast<char>(c);
  insertAt(e, e.position, std::string_view(&ch, 1));
  ++e.position;
  drawField(e);
  if (echoOn) speakLetter(c);
  return Outcome::Continue;
}

// A read-only field refuses every key that would change it.
bool refuseReadOnly(const Editor& e) {
  if (e.editable) return false;
  beepSound();
  return true;
}

Outcome backspace(Editor& e) {
  if (refuseReadOnly(e)) return Outcome::Continue;
  if (e.position == 1) {
    beepSound();
    return Outcome::Continue;
  }
  --e.position;
  const std::string removed = removeRange(e, e.position, e.position + 1);
  drawField(e);
  sayDeleted(removed);
  return Outcome::Continue;
}

// From the start of the word under or before the cursor to the start of
// the next word.
Outcome deleteWord(Editor& e) {
  if (refuseReadOnly(e)) return Outcome::Continue;
  int from = std::min(e.position, e.maxLen);
  while (from > 1 && !isWordCharacter(charAt(e, from))) --from;
  while (from > 1 && isWordCharacter(charAt(e, from - 1))) --from;
  if (!isWordCharacter(charAt(e, from))) from = e.position;  // no word at or before the cursor
  int to = from;
  while (to <= e.maxLen && isWordCharacter(charAt(e, to))) ++to;
  while (to <= e.maxLen && !isWordCharacter(charAt(e, to))) ++to;
  const std::string removed = removeRange(e, from, to);
  e.position = from;
  drawField(e);
  sayDeleted(removed);
  return Outcome::Continue;
}

Outcome blankToEnd(Editor& e) {
  if (!e.editable) return Outcome::Continue;
  if (e.position <= e.maxLen) {
    const auto at = static_cast<size_t>(e.position - 1);
    e.text.replace(at, e.text.size() - at, e.text.size() - at, ' ');
  }
  speakSound("_APFCPO");
  return Outcome::Continue;
}

Outcome deleteToStart(Editor& e) {
  if (!e.editable) return Outcome::Continue;
  removeRange(e, 1, e.position);
  e.position = 1;
  speakSound("_APICPO");
  return Outcome::Continue;
}

Outcome blankAll(Editor& e) {
  if (!e.editable) return Outcome::Continue;
  e.text.assign(static_cast<size_t>(e.maxLen), ' ');
  e.position = 1;
  speakSound("_CPOAPA");
  return Outcome::Continue;
}

Outcome restoreEntry(Editor& e) {
  if (!e.editable) return Outcome::Continue;
  e.text = e.atEntry;
  e.position = 1;
  beepSound();
  beepSound();
  beepSound();
  return Outcome::Continue;
}

Outcome sayPosition(Editor& e) {
  speak(std::to_string(e.position));
  return Outcome::Continue;
}

// Telephone tones for the digits, "#" and "*"; a comma is a pause of a
// second. A key stops the dialling.
Outcome dial(Editor& e) {
  constexpr int kAfterTone = 100, kCommaPause = 1000;
  const bool speedUp = setDialSpeedUp(false);
  for (const char c : trimmedText(e)) {
    if (isDigit(static_cast<uint8_t>(c)) || c == '#' || c == '*') {
      playDialTone(c == '*' ? 'X' : c);
      waitSpeechEnd();
      delay(kAfterTone);
    } else if (c == ',') {
      delay(kCommaPause);
    }
    if (keyPressed()) break;
  }
  setDialSpeedUp(speedUp);
  return Outcome::Continue;
}

Outcome copy(Editor& e) {
  if (hasSelection(e)) {
    copyToClipboard(e.text.substr(static_cast<size_t>(selectionLow(e) - 1),
                                  static_cast<size_t>(selectionHigh(e) - selectionLow(e))));
  } else {
    copyToClipboard(trimmedText(e) + "\r\n");
  }
  return Outcome::Continue;
}

Outcome paste(Editor& e) {
  if (refuseReadOnly(e)) return Outcome::Continue;
  std::string pasted;
  pasteFromClipboard(pasted, static_cast<size_t>(e.maxLen) + 1);
  pasted = pasted.substr(0, pasted.find_first_of("\r\n"));
  if (e.fresh) {
    clickSound();
    clickSound();
    e.text.assign(static_cast<size_t>(e.maxLen), ' ');
  }
  if (hasSelection(e)) {
    e.position = selectionLow(e);
    removeRange(e, selectionLow(e), selectionHigh(e));
    clearSelection(e);
  }
  if (e.position <= e.maxLen) insertAt(e, e.position, pasted);
  return Outcome::Continue;
}

Outcome speakField(Editor& e) {
  speak(trimmedText(e));
  return Outcome::Continue;
}

Outcome focusGained(Editor& e) {
  waitSpeechEnd();
  return speakField(e);
}

Outcome home(Editor& e) {
  e.position = 1;
  return Outcome::Continue;
}

Outcome end(Editor& e) {
  e.position = textEnd(e);
  return Outcome::Continue;
}

Outcome left(Editor& e) {
  if (e.position == 1) {
    beepSound();
    return Outcome::Continue;
  }
  --e.position;
  speakLetter(charAt(e, e.position));
  return Outcome::Continue;
}

Outcome right(Editor& e) {
  if (e.position > e.maxLen) {
    beepSound();
    return Outcome::Continue;
  }
  const uint8_t c = charAt(e, e.position);
  if (e.mods.alt && isAsciiLetter(c)) speakSound("_FON" + std::to_string(c));
  else speakLetter(c);
  ++e.position;
  return Outcome::Continue;
}

Outcome previousWord(Editor& e) {
  int p = e.position - 1;
  while (p >= 1 && !isWordCharacter(charAt(e, p))) --p;
  if (p < 1) {
    beepSound();
    e.position = 1;
    return Outcome::Continue;
  }
  while (p > 1 && isWordCharacter(charAt(e, p - 1))) --p;
  if (p != e.position) clickSound();
  e.position = p;
  return Outcome::Continue;
}

Outcome nextWord(Editor& e) {
  int p = e.position;
  while (p <= e.maxLen && isWordCharacter(charAt(e, p))) ++p;
  while (p <= e.maxLen && !isWordCharacter(charAt(e, p))) ++p;
  if (p > e.maxLen) {
    beepSound();
    e.position = textEnd(e);
    return Outcome::Continue;
  }
  if (p != e.position) clickSound();
  e.position = p;
  return Outcome::Continue;
}

// Removes the selected text; the cursor goes where it began.
std::string deleteSelection(Editor& e) {
  const int from = selectionLow(e), to = selectionHigh(e);
  e.position = from;
  clearSelection(e);
  return removeRange(e, from, to);
}

Outcome deleteKey(Editor& e) {
  if (refuseReadOnly(e)) return Outcome::Continue;
  if (hasSelection(e)) {
    const std::string removed = deleteSelection(e);
    drawField(e);
    sayDeleted(removed);
    return Outcome::Continue;
  }
  if (e.position > e.maxLen) {
    beepSound();
    return Outcome::Continue;
  }
  const std::string removed = removeRange(e, e.position, e.position + 1);
  drawField(e);
  sayDeleted(removed);
  return Outcome::Continue;
}

// Only consonants: B C D F G H J K L M N P Q R S T V X Z.
bool onlyConsonants(std::string_view upper) {
  constexpr std::string_view kConsonants = "BCDFGHJKLMNPQRSTVXZ";
  return std::all_of(upper.begin(), upper.end(),
                     [&](char c) { return kConsonants.find(c) != std::string_view::npos; });
}

// F1 speaks the next item after the blanks and moves past it; Alt+F1 ends.
Outcome readNextItem(Editor& e) {
  if (e.mods.alt) {
    e.result = kAltF1Result;
    return Outcome::End;
  }
  int p = e.position;
  while (p <= e.maxLen && isBlank(charAt(e, p))) ++p;
  if (p > e.maxLen) {
    if (e.f1Helps) return Outcome::End;
    beepSound();
    return Outcome::Continue;
  }
  const uint8_t first = charAt(e, p);
  int end = p + 1;
  if (isDigit(first) || (first == '-' && isDigit(charAt(e, p + 1)))) {
    while (end <= e.maxLen && isDigit(charAt(e, end))) ++end;
    speak(e.text.substr(static_cast<size_t>(p - 1), static_cast<size_t>(end - p)));
  } else if (isAsciiLetter(first) || first >= 128) {
    while (end <= e.maxLen && (isAsciiLetter(charAt(e, end)) || charAt(e, end) >= 128)) ++end;
    const std::string word =
        e.text.substr(static_cast<size_t>(p - 1), static_cast<size_t>(end - p));
    if (onlyConsonants(upperCaseAccented(word))) spellText(word);
    else speak(word);
  } else {
    spellText(e.text.substr(static_cast<size_t>(p - 1), 1));
  }
  e.position = end;
  return Outcome::Continue;
}

Outcome toggleEcho(Editor&) {
  echoOn = !echoOn;
  speakSound(echoOn ? "_FALACI" : "_FALDLG");
  return Outcome::Continue;
}

// The speed is the digit typed after "_VELOC"; ESC or Enter keeps it.
Outcome changeSpeed(Editor&) {
  speakSound("_VELOC");
  uint8_t key;
  do {
    key = readKeySpeak();
  } while (keyPressed());
  if (key == kEsc || key == kEnter) return Outcome::Continue;
  const std::string soundDir = speechSoundDir();
  endSpeech();
  initSpeech(key - '0', soundDir);
  return Outcome::Continue;
}

Outcome sayTime(Editor&) {
  speakTime();
  return Outcome::Continue;
}

Outcome sayDate(Editor&) {
  speakDate();
  return Outcome::Continue;
}

Outcome sayBattery(Editor&) {
  batteryReport();
  return Outcome::Continue;
}

// ------------------------------------------------ opening the word (F12)

// Starts `program` with the word as its one argument, without a shell and
// without waiting for it.
bool startWordOpener(std::string_view program, std::string_view word) {
  const std::string args[] = {std::string(program), std::string(word)};
  return startProgram(args);
}

std::string programSetting(std::string_view key) {
  std::string program = iniRead("VARELU", key);
  if (program.size() >= 2 && program.front() == '"' && program.back() == '"') {
    program = program.substr(1, program.size() - 2);
  }
  return program;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() &&
         upperCaseAccented(s.substr(0, prefix.size())) == upperCaseAccented(prefix);
}

// The run of non-blank characters around the cursor (or just before it),
// without the punctuation that often wraps a name.
std::string wordUnderCursor(const Editor& e) {
  constexpr std::string_view kWrapping = "(*-.<=>[_{\"";
  int p = std::min(e.position, e.maxLen);
  if (isBlank(charAt(e, p)) && p > 1 && !isBlank(charAt(e, p - 1))) --p;
  if (isBlank(charAt(e, p))) return {};
  int from = p, to = p;
  while (from > 1 && !isBlank(charAt(e, from - 1))) --from;
  while (to < e.maxLen && !isBlank(charAt(e, to + 1))) ++to;
  std::string_view word = std::string_view(e.text).substr(static_cast<size_t>(from - 1),
                                                          static_cast<size_t>(to - from + 1));
  while (!word.empty() && kWrapping.find(word.front()) != std::string_view::npos)
    word.remove_prefix(1);
  while (!word.empty() && kWrapping.find(word.back()) != std::string_view::npos)
    word.remove_suffix(1);
  return std::string(word);
}

// Web addresses go to the browser of the settings; other words to the
// program named for their extension, else to the desktop's opener.
// Programs ("EXE", "COM") are never run.
Outcome openWord(Editor& e) {
  const std::string word = wordUnderCursor(e);
  if (word.empty()) {
    beepSound();
    return Outcome::Continue;
  }
  std::string program;
  if (startsWithNoCase(word, "http://") || startsWithNoCase(word, "https://") ||
      startsWithNoCase(word, "www.")) {
    program = programSetting("PROG.HTM");
  } else {
    const size_t dot = word.find('.');
    const std::string extension =
        dot == std::string::npos ? std::string() : upperCaseAccented(word.substr(dot + 1, 3));
    if (extension == "EXE" || extension == "COM") {
      beepSound();
      return Outcome::Continue;
    }
    program = programSetting("PROG." + extension);
  }
  if (program.empty()) program = "xdg-open";
  waitSpeechEnd();
  const bool started = startWordOpener(program, word);
  waitSpeechEnd();
  if (!started) beepSound();
  return Outcome::Continue;
}

Outcome reviewOrEnd(Editor& e) {
  if (!e.mods.alt) return Outcome::End;
  reviewScreen();
  return Outcome::Continue;
}

// ------------------------------------------------------------ key tables

using Action = Outcome (*)(Editor&);
struct KeyRule {
  uint8_t first, last;  // the codes the rule covers
  Action action;
};

// The first rule that covers a code wins.
constexpr std::array kOrdinaryKeys = {
    KeyRule{kEnter, kEnter, ends},
    KeyRule{kEsc, kEsc, ends},
    KeyRule{kTab, kTab, ends},
    KeyRule{kCtrlB, kCtrlB, ends},
    KeyRule{kCtrlEnter, kCtrlEnter, ends},
    KeyRule{kBackspace, kBackspace, backspace},
    KeyRule{kCtrlBackspace, kCtrlBackspace, deleteWord},
    KeyRule{kCtrlD, kCtrlD, blankToEnd},
    KeyRule{kCtrlS, kCtrlS, deleteToStart},
    KeyRule{kCtrlY, kCtrlY, blankAll},
    KeyRule{kCtrlU, kCtrlU, restoreEntry},
    KeyRule{kCtrlK, kCtrlK, sayPosition},
    KeyRule{kCtrlBackslash, kCtrlBackslash, dial},
    KeyRule{kCtrlC, kCtrlC, copy},
    KeyRule{kCtrlV, kCtrlV, paste},
    KeyRule{kFocusGained, kFocusGained, focusGained},
    KeyRule{kFocusLost, kFocusLost, nothing},
    KeyRule{32, 255, typeCharacter},
    KeyRule{0, 31, otherControl},
};

// Extended keys not listed end the field.
constexpr std::array kExtendedKeys = {
    KeyRule{kHome, kHome, home},
    KeyRule{kEnd, kEnd, end},
    KeyRule{kLeft, kLeft, left},
    KeyRule{kRight, kRight, right},
    KeyRule{kCtrlLeft, kCtrlLeft, previousWord},
    KeyRule{kCtrlRight, kCtrlRight, nextWord},
    KeyRule{kDelete, kDelete, deleteKey},
    KeyRule{kF1, kF1, readNextItem},
    KeyRule{kCtrlF1, kCtrlF1, speakField},
    KeyRule{kF4, kF4, toggleEcho},
    KeyRule{kCtrlF4, kCtrlF4, changeSpeed},
    KeyRule{kF8, kF8, sayTime},
    KeyRule{kCtrlF8, kCtrlF8, sayDate},
    KeyRule{kCtrlF11, kCtrlF11, sayBattery},
    KeyRule{kF12, kF12, openWord},
    KeyRule{kCtrlF9, kCtrlF9, reviewOrEnd},
    KeyRule{kAlt1, kAlt0, nothing},  // every Alt+digit
    KeyRule{kCtrlInsert, kCtrlInsert, copy},
    KeyRule{kShiftInsert, kShiftInsert, paste},
};

template <size_t N>
Action actionFor(const std::array<KeyRule, N>& table, uint8_t code, Action otherwise) {
  for (const KeyRule& rule : table) {
    if (code >= rule.first && code <= rule.last) return rule.action;
  }
  return otherwise;
}

// One key from the queue: its code and whether it was extended. The Alt+Q,
// Alt+W and Alt+E prefixes stand for the key that follows them.
void readEditorKey(uint8_t& code, bool& extended) {
  uint8_t key = readKey();
  stopSpeech();
  extended = false;
  code = key;
  if (key != 0) return;
  extended = true;
  code = readKey();
  if (code < kAltQ || code > kAltE) return;
  key = readKey();
  extended = key == 0;
  code = extended ? readKey() : key;
}

// Handles one key; true when it ends the field.
bool handleKey(Editor& e) {
  uint8_t code;
  bool extended;
  readEditorKey(code, extended);
  e.mods = lastKeyModifiers();
  e.result = code;

  // Shift with an extended key stretches the selection; other keys drop
  // it, except the clipboard keys, Delete (which deletes it) and the focus
  // markers. A typed character replaces it.
  bool stretch = false;
  if (extended) {
    if (code != kCtrlInsert && code != kShiftInsert && !(code == kDelete && !e.mods.shift)) {
      if (e.mods.shift) {
        if (e.selStart == 0) e.selStart = e.selEnd = e.position;
        stretch = true;
      } else {
        clearSelection(e);
      }
    }
  } else if (code != kCtrlC && code != kCtrlV && code != kFocusGained && code != kFocusLost) {
    if (code >= 32 && e.editable && hasSelection(e)) deleteSelection(e);
    clearSelection(e);
  }

  const Action action = extended ? actionFor(kExtendedKeys, code, ends)
                                 : actionFor(kOrdinaryKeys, code, otherControl);
  const Outcome outcome = action(e);
  if (stretch) e.selEnd = e.position;
  e.fresh = false;
  return outcome == Outcome::End;
}

}  // namespace

uint8_t editFieldWidth(std::string& text, int x, int y, bool editable, int width, int maxLen, bool f1Helps) {
  Editor e;
  e.f1Helps = f1Helps;
  e.x = std::clamp(x, 1, kScreenColumns);
  e.y = std::clamp(y, 1, kScreenRows);
  e.editable = editable;
  e.maxLen = std::clamp(maxLen, 1, kLongestField);
  e.width = std::min(width, e.maxLen);
  // On the last row a field that reached the last column would scroll the
  // screen.
  if (e.y == kScreenRows && e.x + e.width - 1 >= kScreenColumns) --e.width;
  e.width = std::clamp(e.width, 1, kScreenColumns + 1 - e.x);
  e.text = text.substr(0, static_cast<size_t>(e.maxLen));
  e.text.resize(static_cast<size_t>(e.maxLen), ' ');
  e.atEntry = e.text;

  const bool playAsync = setTypingLatency(true);
  for (;;) {
    drawField(e);
    if (handleKey(e)) break;
  }

  lastPosition = e.position;
  crtRepaint();
  gotoXY(e.x, e.y);
  crtWrite(std::string_view(e.text).substr(0, static_cast<size_t>(e.width)));
  text = trimmedText(e);
  setTypingLatency(false);
  stopSpeech();
  setTypingLatency(playAsync);
  collectStartedPrograms();
  return e.result;
}

uint8_t editField(std::string& text, int x, int y, bool editable, int maxLen, bool f1Helps) {
  return editFieldWidth(text, x, y, editable, 79 - x, maxLen, f1Helps);
}

LineEnd readLine(std::string& text, bool f1Helps, int maxLength) {
  text.clear();
  const int x = whereX(), y = whereY();
  const uint8_t end = editField(text, x, y, true, maxLength, f1Helps);
  if (end == kEsc) {
    // What was typed goes from the screen too.
    const int column = std::min(x, kScreenColumns);
    gotoXY(column, y);
    crtWrite(
        std::string(std::min(text.size(), static_cast<size_t>(kScreenColumns + 1 - column)), ' '));
    text.clear();
  }
  crtWriteln();
  if (end == kEsc) return LineEnd::gaveUp;
  // Only F1 as an extended key ends a field with this code: typed, ';' is
  // inserted.
  return f1Helps && end == kF1 ? LineEnd::help : LineEnd::entered;
}

void readInt(int64_t& n) {
  std::string text;
  readLine(text);
  takeTypedInt(text, n);
}

void takeTypedInt(std::string_view typed, int64_t& n) {
  if (typed.find_first_not_of(kNumberBlanks) == std::string_view::npos) return;
  n = leadingWholeNumber(typed);
}

int lastEditPosition() { return lastPosition; }

bool echoTyping() { return echoOn; }
void setEchoTyping(bool on) { echoOn = on; }

}  // namespace kalimbro
