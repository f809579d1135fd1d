// The console: screen grid, cursor, colours, key queue, tones, title and
// clipboard. Keys are translated by console/key_translation and chords read
// by console/braille_chords; this unit applies what they give. It draws
// through the Terminal seam and is fed input events by the terminal
// backend; waiting goes through the event loop, so the whole unit runs in
// tests without a terminal.
#include "console/VrCrt.h"

#include <errno.h>  // program_invocation_short_name

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <utility>

#include "console/braille_chords.h"
#include "console/key_translation.h"
#include "console/keys.h"
#include "console/vrini.h"
#include "platform/eventloop.h"
#include "platform/number_text.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/wav_header.h"

namespace kalimbro {
namespace {

// ---------------------------------------------------------------- tables

constexpr std::array<Rgb, 16> kColourRgb = {{
    {0, 0, 0},       {0, 0, 255},     {0, 255, 0},     {0, 255, 255},
    {255, 0, 0},     {142, 0, 142},   {68, 34, 34},    {192, 192, 192},
    {40, 40, 40},    {128, 128, 255}, {128, 255, 128}, {128, 255, 255},
    {255, 128, 128}, {255, 128, 255}, {255, 255, 0},   {255, 255, 255},
}};

// Tones: 8-bit mono at 11025 Hz, one second at most.
constexpr int kToneRate = 11025;
constexpr uint8_t kToneLow = 96, kToneHigh = 160, kToneEnd = 128;

constexpr size_t kTitleLimit = 140;

// ---------------------------------------------------------------- state

struct QueuedKey {
  uint8_t byte;
  Modifiers mods;
};

struct Console {
  Terminal* terminal = nullptr;
  bool created = false;
  bool (*idleWork)() = nullptr;
  void (*beforeKeyCheck)(bool keyQueued) = nullptr;

  std::array<std::array<uint8_t, kScreenColumns>, kScreenRows> chars{};
  std::array<std::array<uint8_t, kScreenColumns>, kScreenRows> attrs{};
  int col = 0;  // 0..80: 80 after writing the last column, until the wrap
  int row = 0;
  uint8_t attr = 0x0F;
  // Columns of each row still to be drawn: [dirtyFrom, dirtyTo).
  std::array<int, kScreenRows> dirtyFrom{}, dirtyTo{};
  bool needFlush = false;

  std::array<QueuedKey, kKeyQueueSize> queue{};
  int queueHead = 0;
  int queueCount = 0;
  Modifiers lastMods;

  std::array<uint8_t, 16> palette{};
  bool fixedColours = false;

  BrailleChords chords;
  // What the terminal says it reports of the keys (kitty flags), and
  // whether it was asked to report every key for the chords.
  uint8_t keyboardFlags = 0;
  bool everyKeyAsked = false;

  // What the braille display shows: the cells and the cursor cell.
  std::string displayed;
  int displayedCursor = -1;

  // The first grid row and column a smaller terminal shows.
  int viewTop = 0, viewLeft = 0;

  bool focused = true;
  // When the window last gained the focus, while the click that gave it
  // may still be on its way; -1 once a key or a click has come since.
  int64_t focusGainedAtMs = -1;
  bool caretShown = false;
  std::string title;
  std::string clipboard;
  bool tonePlaying = false;
};

Console& con() {
  static Console c;
  return c;
}

TonePlayer* tonePlayer = nullptr;
BrailleDisplay* brailleDisplay = nullptr;
bool closing = false;

std::vector<std::function<void()>>& closeActions() {
  static std::vector<std::function<void()>> actions;
  return actions;
}

// ---------------------------------------------------------------- settings

bool beginsWithS(std::string_view s) { return !s.empty() && (s.front() == 'S' || s.front() == 's'); }

int colourSetting(std::string_view key, int fallback) {
  const auto v = wholeNumber32(iniRead("VIDEO", key));
  return v && *v >= 0 && *v <= 15 ? *v : fallback;
}

void readSettings(Console& c) {
  for (int i = 0; i < 16; ++i) c.palette[i] = static_cast<uint8_t>(i);
  // Up to 16 entries; the first one that is not a colour number ends the
  // list and the later colours keep their own place.
  const std::string tableSetting = iniRead("VIDEO", "TABCORES");
  std::string_view table = tableSetting;
  for (int i = 0; i < 16 && !table.empty(); ++i) {
    const size_t comma = table.find(',');
    const auto v = wholeNumber32(table.substr(0, comma));
    if (!v || *v < 0 || *v > 15) break;
    c.palette[i] = static_cast<uint8_t>(*v);
    if (comma == std::string_view::npos) break;
    table.remove_prefix(comma + 1);
  }
  c.fixedColours = beginsWithS(iniRead("VIDEO", "CORESFIXAS"));
  const int background = colourSetting("CORFUNDO", 0);
  const int foreground = colourSetting("CORLETRA", 15);
  c.attr = static_cast<uint8_t>(background << 4 | foreground);
}

// ---------------------------------------------------------------- drawing

Rgb rgbOf(const Console& c, int colour) { return kColourRgb[c.palette[colour & 15] & 15]; }

void markDirty(Console& c, int row, int from, int to) {
  if (c.dirtyFrom[row] >= c.dirtyTo[row]) {
    c.dirtyFrom[row] = from;
    c.dirtyTo[row] = to;
  } else {
    c.dirtyFrom[row] = std::min(c.dirtyFrom[row], from);
    c.dirtyTo[row] = std::max(c.dirtyTo[row], to);
  }
}

void markAllDirty(Console& c) {
  for (int r = 0; r < kScreenRows; ++r) markDirty(c, r, 0, kScreenColumns);
}

// A terminal smaller than the grid shows the part that holds the cursor,
// moving only when the cursor leaves it: the newest lines stay in view.
void followCursor(Console& c) {
  if (!c.terminal) return;
  const CellSize size = c.terminal->size();
  const auto follow = [](int& first, int shown, int at, int whole) {
    shown = shown > 0 ? std::min(shown, whole) : whole;
    at = std::min(at, whole - 1);
    int wanted = first;
    if (at < wanted) wanted = at;
    if (at >= wanted + shown) wanted = at - shown + 1;
    wanted = std::clamp(wanted, 0, whole - shown);
    const bool moved = wanted != first;
    first = wanted;
    return moved;
  };
  const bool rowsMoved = follow(c.viewTop, size.rows, c.row, kScreenRows);
  const bool columnsMoved = follow(c.viewLeft, size.columns, c.col, kScreenColumns);
  if (rowsMoved || columnsMoved) markAllDirty(c);
}

// The braille display shows the part of the cursor's row that holds the
// cursor, and is written only when that changed.
void showCursorRowOnDisplay(Console& c) {
  if (!brailleDisplay) return;
  const int width = std::max(1, brailleDisplay->width());
  const int col = std::min(c.col, kScreenColumns - 1);
  const int first = col / width * width;
  const std::string cells(reinterpret_cast<const char*>(&c.chars[c.row][first]),
                          static_cast<size_t>(std::min(width, kScreenColumns - first)));
  if (cells == c.displayed && col - first == c.displayedCursor) return;
  c.displayed = cells;
  c.displayedCursor = col - first;
  brailleDisplay->show(cells, c.displayedCursor);
}

// Draws what changed, one terminal call per run of cells of one attribute,
// and sends it.
void paint(Console& c) {
  followCursor(c);
  for (int r = 0; r < kScreenRows; ++r) {
    int from = std::max(c.dirtyFrom[r], c.viewLeft);
    const int to = c.dirtyTo[r];
    c.dirtyFrom[r] = c.dirtyTo[r] = 0;
    if (!c.terminal || r < c.viewTop) continue;
    while (from < to) {
      const uint8_t a = c.attrs[r][from];
      int end = from + 1;
      while (end < to && c.attrs[r][end] == a) ++end;
      const std::string_view cells(reinterpret_cast<const char*>(&c.chars[r][from]),
                                   static_cast<size_t>(end - from));
      c.terminal->drawRun(r - c.viewTop, from - c.viewLeft, cells, rgbOf(c, a & 15), rgbOf(c, a >> 4));
      c.needFlush = true;
      from = end;
    }
  }
  if (c.needFlush && c.terminal) c.terminal->flush();
  c.needFlush = false;
  showCursorRowOnDisplay(c);
}

void placeCaret(Console& c, bool visible) {
  c.caretShown = visible;
  if (!c.terminal) return;
  followCursor(c);
  paint(c);
  c.terminal->placeCursor(c.row - c.viewTop, std::min(c.col, kScreenColumns - 1) - c.viewLeft, visible);
  c.terminal->flush();
}

void blankCells(Console& c, int row, int from, int to) {
  for (int x = from; x < to; ++x) {
    c.chars[row][x] = ' ';
    c.attrs[row][x] = c.attr;
  }
  if (from < to) markDirty(c, row, from, to);
}

void scrollUp(Console& c) {
  for (int r = 1; r < kScreenRows; ++r) {
    c.chars[r - 1] = c.chars[r];
    c.attrs[r - 1] = c.attrs[r];
  }
  blankCells(c, kScreenRows - 1, 0, kScreenColumns);
  markAllDirty(c);
}

void newLine(Console& c) {
  c.col = 0;
  if (++c.row >= kScreenRows) {
    scrollUp(c);
    c.row = kScreenRows - 1;
  }
}

void writeBytes(Console& c, std::string_view bytes) {
  for (const char ch : bytes) {
    const auto b = static_cast<uint8_t>(ch);
    switch (b) {
      case 7:
        if (c.terminal) c.terminal->beep();
        c.needFlush = true;
        break;
      case 8:
        if (c.col > 0) {
          --c.col;
          if (c.col < kScreenColumns) blankCells(c, c.row, c.col, c.col + 1);
        }
        break;
      case 10:
        newLine(c);
        break;
      case 13:
        c.col = 0;
        break;
      default:
        if (b < 32) break;  // tabs and other control bytes are not shown
        if (c.col >= kScreenColumns) newLine(c);
        c.chars[c.row][c.col] = b;
        c.attrs[c.row][c.col] = c.attr;
        markDirty(c, c.row, c.col, c.col + 1);
        ++c.col;
        break;
    }
  }
}

// ---------------------------------------------------------------- window

// The console comes into being with its first use: settings, colours, the
// whole screen drawn, the title and the braille mode of the settings.
Console& ensureCreated() {
  Console& c = con();
  if (c.created) return c;
  c.created = true;
  readSettings(c);
  for (int r = 0; r < kScreenRows; ++r) blankCells(c, r, 0, kScreenColumns);
  c.title = program_invocation_short_name;
  if (c.terminal) c.terminal->setTitle(c.title);
  c.needFlush = true;
  paint(c);
  const std::string mode = iniRead("BRAILLE", "MODO");
  setBrailleMode(mode.empty() ? 0 : (static_cast<uint8_t>(mode.front()) & 3));
  return c;
}

// ---------------------------------------------------------------- keys

bool pushKey(Console& c, std::string_view bytes, Modifiers mods) {
  if (c.queueCount + static_cast<int>(bytes.size()) > kKeyQueueSize) return false;
  for (const char b : bytes) {
    c.queue[(c.queueHead + c.queueCount) % kKeyQueueSize] = {static_cast<uint8_t>(b), mods};
    ++c.queueCount;
  }
  return true;
}

bool pushByte(Console& c, uint8_t b, Modifiers mods) {
  const char ch = static_cast<char>(b);
  return pushKey(c, std::string_view(&ch, 1), mods);
}

bool pushExtended(Console& c, uint8_t code, Modifiers mods) {
  const char bytes[2] = {0, static_cast<char>(code)};
  return pushKey(c, std::string_view(bytes, 2), mods);
}

// Chords need the press and release of the letters and the space bar; a
// terminal that does not report them leaves plain typing alone.
bool chordsFromKeys(const Console& c) {
  return c.chords.mode() != 0 && (c.keyboardFlags & kKittyEventTypes) && (c.keyboardFlags & kKittyEveryKey);
}

// A braille mode asks a terminal that reports releases to report every
// key; without a braille mode text keys come back as text.
void askForKeyReports(Console& c) {
  const bool wanted = c.chords.mode() != 0 && (c.keyboardFlags & kKittyEventTypes);
  if (wanted == c.everyKeyAsked || !c.terminal) return;
  c.everyKeyAsked = wanted;
  c.terminal->reportEveryKey(wanted);
}

// Does what a translated key asks; a key is dropped when the queue has no
// room for all of its bytes.
void applyKeyAction(Console& c, const KeyAction& action, Modifiers mods) {
  switch (action.kind) {
    case KeyAction::Kind::ignore:
      break;
    case KeyAction::Kind::queueByte:
      pushByte(c, action.code, mods);
      break;
    case KeyAction::Kind::queueExtended:
      pushExtended(c, action.code, mods);
      break;
    case KeyAction::Kind::closeConsole:
      closeConsole();
    case KeyAction::Kind::brailleOff:
      setBrailleMode(0);
      break;
    case KeyAction::Kind::brailleNext:
      setBrailleMode(c.chords.mode() + 1);
      break;
    case KeyAction::Kind::chordPress:
      c.chords.press(action.code);
      break;
    case KeyAction::Kind::chordRelease:
      if (const auto ch = c.chords.release(action.code)) pushByte(c, *ch, mods);
      break;
    case KeyAction::Kind::otherRelease:
      c.chords.endCapitalAndNumber();
      break;
  }
}

// ---------------------------------------------------------------- tones

void playTone(int frequency, int ms) {
  toneOn(frequency);
  delay(ms);
  toneOff();
}

}  // namespace

// ---------------------------------------------------------------- public

void crtInit(Terminal* terminal) {
  toneOff();
  Console& c = con();
  c = Console{};
  c.terminal = terminal;
}

void crtSetTonePlayer(TonePlayer* player) {
  toneOff();
  tonePlayer = player;
}

void crtSetBrailleDisplay(BrailleDisplay* display) {
  brailleDisplay = display;
  Console& c = con();
  c.displayed.clear();
  c.displayedCursor = -1;
  if (c.created) showCursorRowOnDisplay(c);
}

void crtHandleBrailleKey(const BrailleKey& key) {
  Console& c = ensureCreated();
  switch (key.kind) {
    case BrailleKey::Kind::Character:
      pushByte(c, static_cast<uint8_t>(key.value), {});
      break;
    case BrailleKey::Kind::Extended:
      pushExtended(c, static_cast<uint8_t>(key.value), {});
      break;
    case BrailleKey::Kind::Dots: {
      // Six dots, the space bar as on the chord keyboard; a chord being
      // typed on the keyboard meanwhile is kept.
      const auto cell =
          static_cast<uint8_t>((key.value & 63) | (key.value & BrailleKey::kSpaceBar ? kChordSpaceBit : 0));
      if (const auto ch = c.chords.cell(cell)) pushByte(c, *ch, {});
      break;
    }
  }
}

// A click that comes right after the window gained the focus is the one
// that gave it: it is no Enter (or ESC) of the user's.
bool clickGaveTheFocus(Console& c) {
  constexpr int64_t kFocusClickMs = 500;
  const bool gave = c.focusGainedAtMs >= 0 && eventLoop().clock().nowMs() - c.focusGainedAtMs <= kFocusClickMs;
  c.focusGainedAtMs = -1;
  return gave;
}

bool isClick(InputEvent::Kind kind) {
  return kind == InputEvent::Kind::MouseLeft || kind == InputEvent::Kind::MouseRight ||
         kind == InputEvent::Kind::MouseMiddle;
}

void crtHandleInput(const InputEvent& event) {
  Console& c = ensureCreated();
  if (isClick(event.kind) && clickGaveTheFocus(c)) return;
  switch (event.kind) {
    case InputEvent::Kind::Char:
    case InputEvent::Kind::KeyDown:
      c.focusGainedAtMs = -1;
      [[fallthrough]];
    case InputEvent::Kind::KeyUp:
    case InputEvent::Kind::MouseLeft:
    case InputEvent::Kind::MouseRight:
    case InputEvent::Kind::MouseMiddle:
    case InputEvent::Kind::WheelUp:
    case InputEvent::Kind::WheelDown:
      applyKeyAction(c, translateKey(event, chordsFromKeys(c)), event.mods);
      break;
    case InputEvent::Kind::FocusIn:
      c.focused = true;
      c.focusGainedAtMs = eventLoop().clock().nowMs();
      pushByte(c, kFocusGained, event.mods);
      break;
    case InputEvent::Kind::FocusOut:
      c.focused = false;
      pushByte(c, kFocusLost, event.mods);
      break;
    case InputEvent::Kind::Paste:
      c.clipboard = event.text;
      pushExtended(c, kShiftInsert, Modifiers{.shift = true});
      break;
    case InputEvent::Kind::KeyboardFlags:
      c.keyboardFlags = event.ch;
      if (!chordsFromKeys(c)) c.chords.dropChord();
      askForKeyReports(c);
      break;
  }
}

bool crtQueueKey(std::string_view bytes, Modifiers mods) { return pushKey(ensureCreated(), bytes, mods); }

void crtRepaint() {
  Console& c = ensureCreated();
  markAllDirty(c);
  paint(c);
  if (c.caretShown) placeCaret(c, true);
}

bool crtTerminalSmallerThanGrid() {
  const Console& c = ensureCreated();
  if (!c.terminal) return false;
  const CellSize size = c.terminal->size();
  return (size.rows > 0 && size.rows < kScreenRows) || (size.columns > 0 && size.columns < kScreenColumns);
}

bool keyPressed() {
  Console& c = ensureCreated();
  eventLoop().processPending();
  if (c.beforeKeyCheck) c.beforeKeyCheck(c.queueCount > 0);
  return c.queueCount > 0;
}

uint8_t readKey() {
  Console& c = ensureCreated();
  if (c.beforeKeyCheck) c.beforeKeyCheck(c.queueCount > 0);
  if (c.queueCount == 0) {
    placeCaret(c, c.focused);
    for (bool more = c.idleWork != nullptr; more && c.queueCount == 0; eventLoop().processPending()) more = c.idleWork();
    while (c.queueCount == 0) {
      eventLoop().waitForMessage();
      if (c.caretShown != c.focused) placeCaret(c, c.focused);
    }
    placeCaret(c, false);
  }
  const QueuedKey k = c.queue[c.queueHead];
  c.queueHead = (c.queueHead + 1) % kKeyQueueSize;
  --c.queueCount;
  c.lastMods = k.mods;
  return k.byte;
}

std::optional<uint8_t> nextQueuedKey() {
  if (!keyPressed()) return std::nullopt;
  const Console& c = con();
  return c.queue[c.queueHead].byte;
}

void setIdleWork(bool (*work)()) { ensureCreated().idleWork = work; }

void setBeforeKeyCheck(void (*check)(bool keyQueued)) { ensureCreated().beforeKeyCheck = check; }

Modifiers lastKeyModifiers() { return con().lastMods; }

bool escapeTyped() {
  bool escape = false;
  while (keyPressed()) {
    const uint8_t key = readKey();
    if (key == 0) {
      if (keyPressed()) readKey();  // an extended key's code is no ESC
    } else if (key == kEsc) {
      escape = true;
    }
  }
  return escape;
}

void gotoXY(int x, int y) {
  Console& c = ensureCreated();
  c.col = std::clamp(x, 1, kScreenColumns) - 1;
  c.row = std::clamp(y, 1, kScreenRows) - 1;
}

int whereX() { return ensureCreated().col + 1; }
int whereY() { return ensureCreated().row + 1; }

uint8_t screenCharAt(int x, int y) {
  const Console& c = ensureCreated();
  if (x < 1 || x > kScreenColumns || y < 1 || y > kScreenRows) return 0;
  return c.chars[y - 1][x - 1];
}

uint8_t screenAttrAt(int x, int y) {
  const Console& c = ensureCreated();
  if (x < 1 || x > kScreenColumns || y < 1 || y > kScreenRows) return 0;
  return c.attrs[y - 1][x - 1];
}

void clearScreen() {
  Console& c = ensureCreated();
  for (int r = 0; r < kScreenRows; ++r) blankCells(c, r, 0, kScreenColumns);
  c.col = c.row = 0;
  paint(c);
}

void clearToEndOfLine() {
  Console& c = ensureCreated();
  blankCells(c, c.row, std::min(c.col, kScreenColumns), kScreenColumns);
  paint(c);
}

void clearToEndOfScreen(int row) {
  Console& c = ensureCreated();
  const int first = row == -1 ? c.row : std::clamp(row, 1, kScreenRows) - 1;
  for (int r = first; r < kScreenRows; ++r) blankCells(c, r, 0, kScreenColumns);
  c.col = 0;
  c.row = first;
  paint(c);
}

void reserveLines(int n) {
  Console& c = ensureCreated();
  if (n <= 0) return;
  const int column = c.col + 1;
  writeBytes(c, std::string(static_cast<size_t>(std::min(n, kScreenRows)), '\n'));
  paint(c);
  gotoXY(column, c.row + 1 - n);
}

void textColor(int colour) {
  Console& c = ensureCreated();
  if (c.fixedColours) return;
  c.attr = static_cast<uint8_t>((c.attr & 0xF0) | (colour & 15));
}

void textBackground(int colour) {
  Console& c = ensureCreated();
  if (c.fixedColours) return;
  c.attr = static_cast<uint8_t>((c.attr & 0x0F) | (colour & 15) << 4);
}

uint8_t currentAttribute() { return ensureCreated().attr; }

void crtWrite(std::string_view bytes) {
  Console& c = ensureCreated();
  writeBytes(c, bytes);
  paint(c);
}

void crtWriteln(std::string_view bytes) {
  Console& c = ensureCreated();
  writeBytes(c, bytes);
  writeBytes(c, "\r\n");
  paint(c);
}

namespace {

// The line typed up to Enter; with `mayGiveUp`, ESC and F1 end it too.
std::string readTypedLine(size_t bufferSize, bool mayGiveUp, TypedLineEnd& end) {
  const size_t room = bufferSize > 2 ? bufferSize - 2 : 0;
  std::string line;
  for (;;) {
    const uint8_t key = readKey();
    if (key == 0) {
      // An extended key has no place in a line; F1 may ask for help.
      if (readKey() != kF1 || !mayGiveUp) continue;
      end = TypedLineEnd::f1;
      return {};
    }
    if (key == kEsc && mayGiveUp) {
      end = TypedLineEnd::escape;
      return {};
    }
    if (key == kEnter) {
      crtWriteln();
      end = TypedLineEnd::enter;
      return line;
    }
    if (key == kBackspace) {
      if (!line.empty()) {
        line.pop_back();
        crtWrite("\b");
      }
    } else if (key >= 32 && key != kFocusGained && key != kFocusLost && line.size() < room) {
      line += static_cast<char>(key);
      crtWrite(std::string_view(&line.back(), 1));
    }
  }
}

}  // namespace

std::string crtReadLine(size_t bufferSize) {
  TypedLineEnd end = TypedLineEnd::enter;
  return readTypedLine(bufferSize, false, end) + "\r\n";
}

std::string crtReadLineOrGiveUp(TypedLineEnd& end, size_t bufferSize) {
  return readTypedLine(bufferSize, true, end);
}

void delay(int ms) {
  ensureCreated();
  if (ms > 0) eventLoop().clock().sleepMs(std::min(ms, 0xFFFF));
  eventLoop().processPending();
}

std::vector<uint8_t> toneImage(int frequency) {
  const int f = std::clamp(frequency, 1, kToneRate);
  const int period = kToneRate / f;
  std::vector<uint8_t> data;
  data.reserve(kToneRate);
  // Period k starts at (k * 11025) div f: the low half first, then high
  // up to the start of the next one.
  int64_t k = 0;
  int start = 0;
  for (;; ++k) {
    start = static_cast<int>(k * kToneRate / f);
    if (start > kToneRate - period) break;
    const int next = static_cast<int>((k + 1) * kToneRate / f);
    data.resize(static_cast<size_t>(next), kToneHigh);
    std::fill(data.begin() + start, data.begin() + start + period / 2, kToneLow);
  }
  data.resize(static_cast<size_t>(start));
  if (!data.empty()) data.back() = kToneEnd;

  std::vector<uint8_t> image(kWavHeaderBytes + data.size());
  fillWavHeader(std::span<uint8_t, kWavHeaderBytes>(image.data(), kWavHeaderBytes),
                static_cast<uint32_t>(data.size()), kToneRate, 1, 8);
  std::copy(data.begin(), data.end(), image.begin() + kWavHeaderBytes);
  return image;
}

void toneOn(int frequency) {
  toneOff();
  if (!tonePlayer) return;
  tonePlayer->playLooping(toneImage(frequency));
  con().tonePlaying = true;
}

void toneOff() {
  Console& c = con();
  if (!c.tonePlaying) return;
  c.tonePlaying = false;
  if (tonePlayer) tonePlayer->stop();
}

void setWindowTitle(std::string_view text) {
  Console& c = ensureCreated();
  while (!text.empty() && static_cast<uint8_t>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<uint8_t>(text.back()) <= ' ') text.remove_suffix(1);
  c.title = text.size() > kTitleLimit ? std::string(text.substr(0, kTitleLimit)) + "..."
                                      : std::string(text);
  if (!c.terminal) return;
  c.terminal->setTitle(c.title);
  c.terminal->flush();
}

std::string windowTitle() { return ensureCreated().title; }

void copyToClipboard(std::string_view text) {
  Console& c = ensureCreated();
  // The text ends at its first zero, as a text handed to the clipboard does.
  text = text.substr(0, text.find('\0'));
  c.clipboard = std::string(text);
  if (!c.terminal) return;
  c.terminal->copyToClipboard(text);
  c.terminal->flush();
}

void pasteFromClipboard(std::string& buffer, size_t size) {
  const Console& c = ensureCreated();
  if (size == 0) return;
  buffer = c.clipboard.substr(0, size - 1);
}

int brailleMode() { return ensureCreated().chords.mode(); }

void setBrailleMode(int mode) {
  Console& c = ensureCreated();
  if (mode > 2) mode = 1;
  if (mode < 0) mode = 0;
  if (mode == 0) {
    const bool wasOn = c.chords.mode() != 0;
    c.chords.setMode(0);
    askForKeyReports(c);
    if (wasOn) playTone(100, 200);
    return;
  }
  c.chords.setMode(mode);
  askForKeyReports(c);
  playTone(800, 200);
  playTone(mode == 1 ? 1600 : 400, 200);
}

Rgb paletteColor(int colour) { return rgbOf(ensureCreated(), colour); }

void closeConsole() {
  if (closing) std::exit(0);  // a close action that closes again
  closing = true;
  Console& c = con();
  if (c.caretShown) placeCaret(c, false);
  toneOff();
  c.queueHead = c.queueCount = 0;
  auto& actions = closeActions();
  while (!actions.empty()) {
    std::function<void()> action = std::move(actions.back());
    actions.pop_back();
    if (action) action();
  }
  std::exit(0);
}

void crtAtClose(std::function<void()> fn) { closeActions().push_back(std::move(fn)); }

std::string familyIniDirectory() {
  const std::string user = userConfigDirectory() + "/Varelu";
  if (!fileExists(user + "/Varelu.ini") && fileExists(systemSettingsDirectory() + "/Varelu.ini")) {
    return systemSettingsDirectory();
  }
  return user;
}

}  // namespace kalimbro
