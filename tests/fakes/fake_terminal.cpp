#include "tests/fakes/fake_terminal.h"

#include <gtest/gtest.h>

namespace kalimbro {

FakeTerminal::FakeTerminal() = default;

void FakeTerminal::drawRun(int row, int col, std::string_view cells, Rgb fg, Rgb bg) {
  if (row < 0 || row >= kRows || col < 0 || col + static_cast<int>(cells.size()) > kColumns) {
    ADD_FAILURE() << "run outside the screen: row " << row << " col " << col << " length "
                  << cells.size();
    return;
  }
  for (size_t i = 0; i < cells.size(); ++i) {
    picture_[row][col + i] = {static_cast<uint8_t>(cells[i]), fg, bg};
  }
  runs_.push_back({row, col, std::string(cells), fg, bg});
  ++unflushed_;
}

void FakeTerminal::placeCursor(int row, int col, bool visible) {
  cursorRow = row;
  cursorCol = col;
  if (visible && !cursorVisible) ++cursorShows;
  cursorVisible = visible;
}

void FakeTerminal::setTitle(std::string_view cp1252) { title = std::string(cp1252); }

void FakeTerminal::copyToClipboard(std::string_view cp1252) {
  clipboardCopies.emplace_back(cp1252);
}

void FakeTerminal::beep() { ++beeps; }

void FakeTerminal::flush() {
  ++flushes;
  unflushed_ = 0;
}

std::string FakeTerminal::rowText(int row) const {
  std::string text;
  for (const Cell& c : picture_.at(row)) text += static_cast<char>(c.ch);
  return text;
}

uint8_t FakeTerminal::charAt(int row, int col) const { return picture_.at(row).at(col).ch; }
Rgb FakeTerminal::fgAt(int row, int col) const { return picture_.at(row).at(col).fg; }
Rgb FakeTerminal::bgAt(int row, int col) const { return picture_.at(row).at(col).bg; }

}  // namespace kalimbro
