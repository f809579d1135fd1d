#include "console/vrrevisa.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "console/VrCrt.h"
#include "console/vrini.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_terminal.h"
#include "tests/fakes/key_script.h"
#include "tests/fakes/temp_config.h"

namespace kalimbro {
namespace {

std::string ext(uint8_t code) { return std::string{'\0', static_cast<char>(code)}; }

const std::string kUp = ext(72), kDown = ext(80), kLeft = ext(75), kRight = ext(77),
                  kHome = ext(71), kEnd = ext(79), kPageDown = ext(81), kF1 = ext(59),
                  kCtrlF1 = ext(94), kF5 = ext(63), kCtrlF5 = ext(98), kF6 = ext(64),
                  kCtrlLeft = ext(115), kCtrlRight = ext(116), kCtrlPageUp = ext(132),
                  kCtrlPageDown = ext(118);
constexpr char kEsc[] = "\x1B", kEnter[] = "\r", kTab[] = "\t";

using Position = std::pair<int, int>;  // column, row

class ScreenReview : public ::testing::Test {
 protected:
  void SetUp() override {
    setIniLegacy(false);
    crtInit(&term);
  }
  void TearDown() override {
    crtInit(nullptr);
    setIniLegacy(true);
  }
  static void put(int x, int y, std::string_view text) {
    gotoXY(x, y);
    crtWrite(text);
  }
  // Runs the review from (x, y) with `keys` and an ESC after them; returns
  // the review position seen before each key (the first is the start).
  static std::vector<Position> review(int x, int y, KeyScript& keys) {
    keys.key(kEsc);
    gotoXY(x, y);
    reviewScreen();
    return keys.cursorAtSteps();
  }
  static std::string clipboard() {
    std::string text;
    pasteFromClipboard(text, 8192);
    return text;
  }

  TempConfigHome config;
  ScopedFakeClock clock;
  FakeTerminal term;
};

TEST_F(ScreenReview, EscRestoresTheCursorAndLeavesTheScreenAlone) {
  put(1, 1, "linha um");
  put(1, 2, "linha dois");
  KeyScript keys;
  keys.key(kDown).key(kRight).key(kRight).key(kEnd).key("\x03");
  const std::vector<Position> seen = review(7, 3, keys);
  EXPECT_EQ(seen.front(), Position(7, 3));
  EXPECT_EQ(whereX(), 7);
  EXPECT_EQ(whereY(), 3);
  EXPECT_EQ(term.rowText(0).substr(0, 8), "linha um");
  EXPECT_EQ(term.rowText(1).substr(0, 10), "linha dois");
}

TEST_F(ScreenReview, ArrowsMoveAndThePositionStaysOnTheScreen) {
  put(1, 1, "abc");
  KeyScript keys;
  keys.key(kLeft)
      .key(kRight)
      .key(kRight)
      .key(kEnd)
      .key(kHome)
      .key(kUp)
      .key(kPageDown)
      .key(kDown)
      .key("\b")
      .key(kEnter);
  const std::vector<Position> seen = review(1, 1, keys);
  const std::vector<Position> expected = {
      {1, 1},                   // start
      {1, 1},                   // Left on column 1 beeps and stays
      {2, 1},  {3, 1}, {4, 1},  // End: after the last character
      {1, 1},                   // Home
      {1, 1},                   // Up on row 1 beeps
      {1, 25},                  // Page Down
      {1, 25},                  // Down on row 25 beeps
      {1, 25},                  // Backspace is Left
      {1, 25},                  // Enter past row 25 is undone
  };
  EXPECT_EQ(seen, expected);
}

TEST_F(ScreenReview, RightMayStandJustPastTheRowButNoFurther) {
  put(79, 4, "xy");
  KeyScript keys;
  keys.key(kRight).key(kRight).key(kRight);
  const std::vector<Position> seen = review(79, 4, keys);
  // Column 81 is shown on column 80; a step past it goes back to 80.
  EXPECT_EQ(seen, (std::vector<Position>{{79, 4}, {80, 4}, {80, 4}, {80, 4}}));
}

TEST_F(ScreenReview, F6GoesToATypedRowAndColumn) {
  KeyScript keys;
  keys.key(kF6).type("0512").key(kF6).type("9999").key(kF6).type("0a").key(kF6).type("0000");
  const std::vector<Position> seen = review(3, 3, keys);
  // steps: F6 0 5 1 2 | F6 9 9 9 9 | F6 0 a | F6 0 0 0 0 | ESC
  EXPECT_EQ(seen[5], Position(12, 5));
  EXPECT_EQ(seen[10], Position(80, 25)) << "kept inside the screen";
  EXPECT_EQ(seen[13], Position(80, 25)) << "a letter abandons";
  EXPECT_EQ(seen[18], Position(1, 1));
}

TEST_F(ScreenReview, F1MovesPastAWordOrARunOfOneSign) {
  put(1, 2, std::string(20, '=') + " xyz abc12,, (ab grava\xE7\xE3o");
  KeyScript keys;
  for (int i = 0; i < 7; ++i) keys.key(kF1);
  const std::vector<Position> seen = review(1, 2, keys);
  std::vector<int> columns;
  for (const auto& [x, y] : seen) columns.push_back(x);
  // The 20 signs as one run; xyz; abc12; the two commas; "(ab" taken
  // whole; the accented word whole; then nothing but blanks up to the
  // row's end (column 81, shown on 80).
  EXPECT_EQ(columns, (std::vector<int>{1, 21, 25, 31, 33, 37, 46, 80}));
}

TEST_F(ScreenReview, F1AtTheLastColumnGoesToTheRowEnd) {
  put(1, 6, "texto");
  put(80, 6, "z");
  KeyScript keys;
  keys.key(kF1);
  const std::vector<Position> seen = review(80, 6, keys);
  EXPECT_EQ(seen[1], Position(80, 6)) << "column 81, shown on 80";
}

TEST_F(ScreenReview, ControlArrowsJumpOverBlankSeparatedWords) {
  put(1, 3, "um dois,tres  fim");
  KeyScript keys;
  keys.key(kCtrlRight)
      .key(kCtrlRight)
      .key(kCtrlRight)
      .key(kCtrlRight)
      .key(kCtrlLeft)
      .key(kCtrlLeft)
      .key(kHome)
      .key(kCtrlLeft);
  const std::vector<Position> seen = review(1, 3, keys);
  std::vector<int> columns;
  for (const auto& [x, y] : seen) columns.push_back(x);
  // No next word: the row's end; no previous word: stays.
  EXPECT_EQ(columns, (std::vector<int>{1, 4, 15, 18, 18, 15, 4, 1, 1}));
}

TEST_F(ScreenReview, TabJumpsPastTheBlockOfOneColour) {
  put(1, 8, "Nome:");
  textColor(14);
  put(6, 8, "JO\xC3O silva");  // an accented capital never splits a block
  textColor(15);
  put(16, 8, "fim|mais");
  KeyScript keys;
  keys.key(kTab).key(kTab).key(kTab).key(kTab);
  const std::vector<Position> seen = review(7, 8, keys);
  std::vector<int> columns;
  for (const auto& [x, y] : seen) columns.push_back(x);
  // "JOÃO silva" ends on 15; "fim" on 18, before the separator; "mais"
  // runs on in blanks of its colour to column 80: then the row's end.
  EXPECT_EQ(columns, (std::vector<int>{7, 17, 20, 24, 24}));
}

TEST_F(ScreenReview, BlockAndRowReadingsKeepThePositionScreenReadingsMoveIt) {
  put(1, 10, "primeira linha");
  put(1, 25, "ultima");
  KeyScript keys;
  keys.key(kCtrlF1).key(" ").type("tl").type("fc").type("ic").type("IL").type("lt").type("qz");
  const std::vector<Position> seen = review(5, 10, keys);
  // Steps: ^F1, space, t l, f c, i c, I L, l t, q z.
  for (int i : {1, 2, 4, 6, 8, 10}) EXPECT_EQ(seen[i], Position(5, 10)) << i;
  // LT reads the whole screen and stops after the last character of row 25.
  EXPECT_EQ(seen[12], Position(7, 25));
  EXPECT_EQ(seen[14], Position(7, 25)) << "an unknown pair does nothing";
}

TEST_F(ScreenReview, ReadingFromThePositionToTheEndOfTheScreen) {
  put(1, 20, "abc");
  put(1, 22, "def gh");
  KeyScript keys;
  keys.type("ft");
  const std::vector<Position> seen = review(2, 20, keys);
  EXPECT_EQ(seen[2], Position(1, 25)) << "row 25 is blank: its end is column 1";
}

TEST_F(ScreenReview, ControlPageUpAndDownFindTheFirstAndLastLetters) {
  put(5, 3, "-- 12 x");
  put(2, 18, "um; fim ==");
  KeyScript keys;
  keys.key(kCtrlPageUp).key(kCtrlPageDown);
  const std::vector<Position> seen = review(1, 1, keys);
  EXPECT_EQ(seen[1], Position(11, 3));
  EXPECT_EQ(seen[2], Position(8, 18));
}

TEST_F(ScreenReview, SearchFindsTheTextBelowAndAgainFindsTheNextOne) {
  put(20, 10, "procure aqui");
  put(3, 12, "aqui outra vez");
  put(3, 14, "AQUI");
  KeyScript keys;
  keys.key(kF5).type("aqx\bui").key(kEnter).key(kCtrlF5).key(kCtrlF5);
  const std::vector<Position> seen = review(1, 1, keys);
  // F5, a, q, x, Backspace, u, i, Enter, ^F5, ^F5
  EXPECT_EQ(seen[8], Position(28, 10));
  EXPECT_EQ(seen[9], Position(3, 12));
  EXPECT_EQ(seen[10], Position(3, 12)) << "case counts: AQUI is no match";
}

TEST_F(ScreenReview, SearchTextIsKeptBetweenReviews) {
  put(10, 5, "marca");
  put(10, 9, "marca");
  {
    KeyScript keys;
    keys.key(kF5).type("marca").key(kEnter);
    review(1, 1, keys);
  }
  KeyScript again;
  again.key(kCtrlF5);
  const std::vector<Position> seen = review(1, 6, again);
  EXPECT_EQ(seen[1], Position(10, 9));
}

TEST_F(ScreenReview, EscAbandonsASearch) {
  put(5, 5, "alvo");
  KeyScript keys;
  keys.key(kF5).type("alvo").key(kEsc).key(kRight);
  const std::vector<Position> seen = review(1, 1, keys);
  EXPECT_EQ(seen[6], Position(1, 1));
  EXPECT_EQ(seen[7], Position(2, 1));
}

TEST_F(ScreenReview, ControlCCopiesTheWholeScreen) {
  put(1, 1, "topo");
  put(75, 25, "fundo");
  KeyScript keys;
  keys.key("\x03");
  review(1, 1, keys);
  const std::string copied = clipboard();
  ASSERT_EQ(copied.size(), 25u * 82u);
  EXPECT_EQ(copied.substr(0, 82), "topo" + std::string(76, ' ') + "\r\n");
  EXPECT_EQ(copied.substr(24 * 82), std::string(74, ' ') + "fundo \r\n");
}

}  // namespace
}  // namespace kalimbro
