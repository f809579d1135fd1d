// The screen review mode. A review position walks the console's grid;
// keys are looked up in two tables (ordinary, extended), and the reading
// commands of two letters in a third. Nothing on the screen changes.
#include "console/vrrevisa.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrfala.h"
#include "platform/text.h"

namespace kalimbro {
namespace {

constexpr int kPastRowEnd = kScreenColumns + 1;  // the review column may stand just past a row

constexpr int kMaxCopies = 3;  // of a repeated sign read by F1

std::string searchText;

struct Review {
  int row = 1, col = 1;
};

enum class Outcome { Stay, Leave };

uint8_t cellAt(int x, int y) {
  const uint8_t c = screenCharAt(x, y);
  return c == 0 ? ' ' : c;
}

std::string rowText(int y) {
  std::string text;
  for (int x = 1; x <= kScreenColumns; ++x) text += static_cast<char>(cellAt(x, y));
  return text;
}

bool isLetter(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}

// A few signs split blocks of one colour; letters, accented ones included,
// never do.
bool isSeparator(uint8_t c) { return c == '!' || c == ':' || c == '?' || c == '|'; }

bool onlyConsonants(std::string_view word) {
  constexpr std::string_view kConsonants = "BCDFGHJKLMNPQRSTVWXYZ";
  return std::all_of(word.begin(), word.end(), [&](char c) {
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return kConsonants.find(upper) != std::string_view::npos;
  });
}

// The column after the last non-blank character of a row, 1 when blank.
int rowEnd(int y) {
  for (int x = kScreenColumns; x >= 1; --x) {
    if (cellAt(x, y) != ' ') return x + 1;
  }
  return 1;
}

// The run of cells around (x, y) with the attribute of (x, y), separators
// excluded; first > last when the position holds no block.
std::pair<int, int> blockAround(int x, int y) {
  if (x > kScreenColumns || isSeparator(cellAt(x, y))) return {x, x - 1};
  const uint8_t attr = screenAttrAt(x, y);
  auto inBlock = [&](int c) { return screenAttrAt(c, y) == attr && !isSeparator(cellAt(c, y)); };
  int first = x, last = x;
  while (first > 1 && inBlock(first - 1)) --first;
  while (last < kScreenColumns && inBlock(last + 1)) ++last;
  return {first, last};
}

void invalidKey() {
  beepSound();
  clickSound();
  beepSound();
}

// Speaks the word at the position, no further than column lastCol, and
// moves past it. A sign is heard with its repetitions, three at most.
void speakWordAt(Review& r, int lastCol) {
  while (r.col <= lastCol && cellAt(r.col, r.row) == ' ') ++r.col;
  if (r.col > lastCol) return;
  const uint8_t first = cellAt(r.col, r.row);
  std::string word(1, static_cast<char>(first));
  ++r.col;
  while (r.col <= lastCol && isWordCharacter(cellAt(r.col, r.row))) {
    word += static_cast<char>(cellAt(r.col, r.row));
    ++r.col;
  }
  if (word.size() == 1 && !isWordCharacter(first)) {
    while (r.col <= lastCol && cellAt(r.col, r.row) == first) {
      if (word.size() < kMaxCopies) word += static_cast<char>(first);
      ++r.col;
    }
    speak(word);
  } else if (onlyConsonants(word)) {
    spellText(word);
  } else {
    speak(word);
  }
}

// Reads from (fromRow, fromCol) to (toRow, toCol) word by word, a click
// after each row, until a key is queued. The position follows the reading.
void readRange(Review& r, int fromRow, int fromCol, int toRow, int toCol) {
  if (fromRow == toRow && toCol < fromCol) {
    beepSound();
    return;
  }
  for (int y = fromRow; y <= toRow; ++y) {
    if (keyPressed()) return;
    const int first = y == fromRow ? fromCol : 1;
    const int last = y == toRow ? std::min(toCol, kScreenColumns) : kScreenColumns;
    r.row = y;
    r.col = first;
    if (first > last) continue;
    while (r.col <= last && !keyPressed()) speakWordAt(r, last);
    if (r.col <= last) return;  // a key stopped the reading
    clickSound();
    if (last == kScreenColumns) r.col = rowEnd(y);
  }
}

void readRow(Review& r) {
  const Review at = r;
  readRange(r, r.row, 1, r.row, kScreenColumns);
  r = at;
}

void readBlock(Review& r) {
  const Review at = r;
  const auto [first, last] = blockAround(r.col, r.row);
  if (first > last) beepSound();
  else readRange(r, r.row, first, r.row, last);
  r = at;
}

// ------------------------------------------------ two-letter commands

// Where a reading starts and ends, for the unit the second letter names.
enum class From { UnitStart, Position };
enum class To { BeforePosition, Position, UnitEnd };

struct ReadingCommand {
  char first, second;  // upper case; a first L reads as T
  From from;
  To to;
};

constexpr std::array kReadingCommands = {
    ReadingCommand{'I', 'T', From::UnitStart, To::BeforePosition},
    ReadingCommand{'I', 'L', From::UnitStart, To::BeforePosition},
    ReadingCommand{'I', 'C', From::UnitStart, To::Position},
    ReadingCommand{'T', 'T', From::UnitStart, To::UnitEnd},
    ReadingCommand{'T', 'L', From::UnitStart, To::UnitEnd},
    ReadingCommand{'T', 'C', From::UnitStart, To::UnitEnd},
    ReadingCommand{'F', 'T', From::Position, To::UnitEnd},
    ReadingCommand{'F', 'L', From::Position, To::UnitEnd},
    ReadingCommand{'F', 'C', From::Position, To::UnitEnd},
};

void runReadingCommand(Review& r, uint8_t firstKey) {
  const uint8_t secondKey = readKey();
  if (secondKey == 0) readKey();  // an extended key is no second letter
  char first = static_cast<char>(upperAscii(firstKey));
  if (first == 'L') first = 'T';
  const char second = static_cast<char>(upperAscii(secondKey));
  const auto command =
      std::find_if(kReadingCommands.begin(), kReadingCommands.end(),
                   [&](const ReadingCommand& c) { return c.first == first && c.second == second; });
  if (secondKey == 0 || command == kReadingCommands.end()) {
    invalidKey();
    return;
  }

  // The unit: the screen, the review row or the block under the position.
  int unitStartRow = r.row, unitStartCol = 1, unitEndRow = r.row, unitEndCol = kScreenColumns;
  if (second == 'T') {
    unitStartRow = 1;
    unitEndRow = kScreenRows;
  } else if (second == 'C') {
    std::tie(unitStartCol, unitEndCol) = blockAround(r.col, r.row);
    if (unitStartCol > unitEndCol) {
      beepSound();
      return;
    }
  }
  const int col = std::min(r.col, kScreenColumns);
  const int fromRow = command->from == From::UnitStart ? unitStartRow : r.row;
  const int fromCol = command->from == From::UnitStart ? unitStartCol : col;
  int toRow = unitEndRow, toCol = unitEndCol;
  if (command->to != To::UnitEnd) {
    toRow = r.row;
    toCol = command->to == To::Position ? col : r.col - 1;
  }

  const Review at = r;
  readRange(r, fromRow, fromCol, toRow, toCol);
  if (second != 'T') r = at;  // only the screen readings leave the position where they stopped
}

// ------------------------------------------------ actions

Outcome leave(Review&) { return Outcome::Leave; }

Outcome readReviewRow(Review& r) {
  readRow(r);
  return Outcome::Stay;
}

Outcome nextRowStart(Review& r) {
  ++r.row;
  r.col = 1;
  clickSound();
  return Outcome::Stay;
}

Outcome toRowEnd(Review& r) {
  r.col = rowEnd(r.row);
  return Outcome::Stay;
}

Outcome toRowStart(Review& r) {
  r.col = 1;
  return Outcome::Stay;
}

Outcome moveLeft(Review& r) {
  if (r.col <= 1) {
    beepSound();
    return Outcome::Stay;
  }
  --r.col;
  speakLetter(cellAt(std::min(r.col, kScreenColumns), r.row));
  return Outcome::Stay;
}

Outcome moveRight(Review& r) {
  speakLetter(r.col <= kScreenColumns ? cellAt(r.col, r.row) : ' ');
  ++r.col;
  return Outcome::Stay;
}

Outcome pastBlock(Review& r) {
  if (r.col > kScreenColumns) return toRowEnd(r);
  const auto [first, last] = blockAround(r.col, r.row);
  const int target = (first <= last ? last : r.col - 1) + 2;
  if (target > kScreenColumns) return toRowEnd(r);
  r.col = target;
  clickSound();
  return Outcome::Stay;
}

Outcome sayPosition(Review& r) {
  speak(std::to_string(r.row) + " " + std::to_string(r.col));
  return Outcome::Stay;
}

Outcome copyScreen(Review&) {
  std::string screen;
  for (int y = 1; y <= kScreenRows; ++y) screen += rowText(y) + "\r\n";
  copyToClipboard(screen);
  return Outcome::Stay;
}

Outcome previousRow(Review& r) {
  if (r.row == 1) {
    beepSound();
    return Outcome::Stay;
  }
  --r.row;
  r.col = 1;
  readRow(r);
  return Outcome::Stay;
}

Outcome nextRow(Review& r) {
  if (r.row == kScreenRows) {
    beepSound();
    return Outcome::Stay;
  }
  nextRowStart(r);
  readRow(r);
  return Outcome::Stay;
}

Outcome firstRow(Review& r) {
  r.row = 1;
  r.col = 1;
  readRow(r);
  return Outcome::Stay;
}

Outcome lastRow(Review& r) {
  r.row = kScreenRows;
  r.col = 1;
  readRow(r);
  return Outcome::Stay;
}

Outcome previousWord(Review& r) {
  int p = std::min(r.col, kPastRowEnd) - 1;
  while (p >= 1 && cellAt(p, r.row) == ' ') --p;
  if (p < 1) {
    beepSound();
    return Outcome::Stay;
  }
  while (p > 1 && cellAt(p - 1, r.row) != ' ') --p;
  if (p != r.col) clickSound();
  r.col = p;
  return Outcome::Stay;
}

Outcome nextWord(Review& r) {
  int p = r.col;
  while (p <= kScreenColumns && cellAt(p, r.row) != ' ') ++p;
  while (p <= kScreenColumns && cellAt(p, r.row) == ' ') ++p;
  if (p > kScreenColumns) {
    beepSound();
    return toRowEnd(r);
  }
  if (p != r.col) clickSound();
  r.col = p;
  return Outcome::Stay;
}

Outcome firstLetter(Review& r) {
  for (int y = 1; y <= kScreenRows; ++y) {
    for (int x = 1; x <= kScreenColumns; ++x) {
      if (!isLetter(cellAt(x, y))) continue;
      r = {y, x};
      readRow(r);
      return Outcome::Stay;
    }
  }
  beepSound();
  return Outcome::Stay;
}

Outcome lastLetter(Review& r) {
  for (int y = kScreenRows; y >= 1; --y) {
    for (int x = kScreenColumns; x >= 1; --x) {
      if (!isLetter(cellAt(x, y))) continue;
      r = {y, x};
      readRow(r);
      return Outcome::Stay;
    }
  }
  beepSound();
  return Outcome::Stay;
}

Outcome readWord(Review& r) {
  if (r.col >= kScreenColumns) {
    clickSound();
    return toRowEnd(r);
  }
  speakWordAt(r, kScreenColumns);
  return Outcome::Stay;
}

Outcome readCurrentBlock(Review& r) {
  readBlock(r);
  return Outcome::Stay;
}

// From the review row down: on the review row only after the review
// column, so that searching again finds the next one. Case counts.
Outcome searchAgain(Review& r) {
  if (!searchText.empty()) {
    for (int y = r.row; y <= kScreenRows; ++y) {
      const size_t from = y == r.row ? static_cast<size_t>(std::min(r.col, kScreenColumns)) : 0;
      const size_t at = rowText(y).find(searchText, from);
      if (at == std::string::npos) continue;
      r = {y, static_cast<int>(at) + 1};
      clickSound();
      return Outcome::Stay;
    }
  }
  beepSound();
  beepSound();
  return Outcome::Stay;
}

Outcome search(Review& r) {
  speak("Qual texto");
  std::string typed;
  for (;;) {
    const uint8_t key = readKey();
    if (key == 0) {
      readKey();
      continue;
    }
    if (key == kEsc) return Outcome::Stay;
    if (key == kEnter) break;
    if (key == kBackspace) {
      if (typed.empty()) continue;
      const auto removed = static_cast<uint8_t>(typed.back());
      typed.pop_back();
      speakSound("_DEL");
      speakLetter(removed);
      continue;
    }
    if (key < 32 || key == kFocusGained || key == kFocusLost) continue;
    typed += static_cast<char>(key);
    speakLetter(key);
  }
  searchText = typed;
  return searchAgain(r);
}

// Four digits: two of the row, two of the column.
Outcome goToPosition(Review& r) {
  speak("Entre linha e coluna");
  int digits[4];
  for (int& digit : digits) {
    const uint8_t key = readKey();
    if (key == 0) readKey();
    if (key < '0' || key > '9') {
      beepSound();
      beepSound();
      return Outcome::Stay;
    }
    speakLetter(key);
    digit = key - '0';
  }
  r.row = digits[0] * 10 + digits[1];
  r.col = digits[2] * 10 + digits[3];
  return Outcome::Stay;
}

// ------------------------------------------------ key tables

using Action = Outcome (*)(Review&);
struct KeyRule {
  uint8_t code;
  Action action;
};

constexpr std::array kOrdinaryKeys = {
    KeyRule{kSpace, readReviewRow}, KeyRule{kEnter, nextRowStart}, KeyRule{kBackspace, moveLeft},
    KeyRule{kTab, pastBlock},       KeyRule{kCtrlK, sayPosition},  KeyRule{kCtrlL, sayPosition},
    KeyRule{kCtrlC, copyScreen},    KeyRule{kEsc, leave},
};

constexpr std::array kExtendedKeys = {
    KeyRule{kUp, previousRow},
    KeyRule{kDown, nextRow},
    KeyRule{kPageUp, firstRow},
    KeyRule{kPageDown, lastRow},
    KeyRule{kHome, toRowStart},
    KeyRule{kEnd, toRowEnd},
    KeyRule{kLeft, moveLeft},
    KeyRule{kRight, moveRight},
    KeyRule{kCtrlLeft, previousWord},
    KeyRule{kCtrlRight, nextWord},
    KeyRule{kCtrlPageUp, firstLetter},
    KeyRule{kCtrlPageDown, lastLetter},
    KeyRule{kF1, readWord},
    KeyRule{kCtrlF1, readCurrentBlock},
    KeyRule{kF5, search},
    KeyRule{kCtrlF5, searchAgain},
    KeyRule{kF6, goToPosition},
};

template <size_t N>
Action actionFor(const std::array<KeyRule, N>& table, uint8_t code) {
  for (const KeyRule& rule : table) {
    if (rule.code == code) return rule.action;
  }
  return nullptr;
}

bool isAsciiLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Moves beyond the screen are undone with a beep, and keys typed ahead
// are dropped.
void keepInside(Review& r) {
  auto undo = [](int& value, int to) {
    value = to;
    beepSound();
    flushKeyboard();
  };
  if (r.col < 1) undo(r.col, 1);
  if (r.col > kPastRowEnd) undo(r.col, kScreenColumns);
  if (r.row < 1) undo(r.row, 1);
  if (r.row > kScreenRows) undo(r.row, kScreenRows);
}

}  // namespace

void reviewScreen() {
  const int cursorX = whereX(), cursorY = whereY();
  beepSound();
  Review r{cursorY, cursorX};
  for (;;) {
    gotoXY(r.col, r.row);
    const uint8_t key = readKey();
    Outcome outcome = Outcome::Stay;
    if (key == 0) {
      const Action action = actionFor(kExtendedKeys, readKey());
      if (action) outcome = action(r);
      else invalidKey();
    } else if (const Action action = actionFor(kOrdinaryKeys, key)) {
      outcome = action(r);
    } else if (isAsciiLetter(key)) {
      runReadingCommand(r, key);
    } else {
      invalidKey();
    }
    if (outcome == Outcome::Leave) break;
    keepInside(r);
  }
  beepSound();
  beepSound();
  crtRepaint();
  gotoXY(cursorX, cursorY);
}

}  // namespace kalimbro
