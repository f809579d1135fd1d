// A terminal for tests: keeps its own 80 x 25 picture of what was drawn,
// with the colours of every cell, and records the title, the clipboard
// copies, beeps, the cursor and whether everything drawn was sent.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/terminal.h"

namespace kalimbro {

class FakeTerminal final : public Terminal {
 public:
  static constexpr int kRows = 25, kColumns = 80;

  struct Run {
    int row, col;
    std::string cells;
    Rgb fg, bg;
  };

  FakeTerminal();

  CellSize size() const override { return shown; }
  void drawRun(int row, int col, std::string_view cells, Rgb fg, Rgb bg) override;
  void placeCursor(int row, int col, bool visible) override;
  void setTitle(std::string_view cp1252) override;
  void copyToClipboard(std::string_view cp1252) override;
  void beep() override;
  void flush() override;
  void reportEveryKey(bool on) override { everyKeyRequests.push_back(on); }

  // The picture, 0-based like the seam.
  std::string rowText(int row) const;
  uint8_t charAt(int row, int col) const;
  Rgb fgAt(int row, int col) const;
  Rgb bgAt(int row, int col) const;

  // Runs drawn since the last clearRuns.
  const std::vector<Run>& runs() const { return runs_; }
  void clearRuns() { runs_.clear(); }
  // True when nothing has been drawn since the last flush.
  bool flushed() const { return unflushed_ == 0; }

  // What the terminal says of its size; nothing by default.
  CellSize shown;
  std::string title;
  std::vector<std::string> clipboardCopies;
  int beeps = 0;
  int flushes = 0;
  int cursorRow = -1, cursorCol = -1;
  bool cursorVisible = false;
  int cursorShows = 0;  // times the cursor was made visible
  std::vector<bool> everyKeyRequests;

 private:
  struct Cell {
    uint8_t ch = ' ';
    Rgb fg, bg;
  };
  std::array<std::array<Cell, kColumns>, kRows> picture_{};
  std::vector<Run> runs_;
  int unflushed_ = 0;
};

}  // namespace kalimbro
