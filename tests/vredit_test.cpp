#include "console/vredit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "console/VrCrt.h"
#include "console/vrini.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_terminal.h"
#include "tests/fakes/key_script.h"
#include "tests/fakes/temp_config.h"

namespace kalimbro {
namespace {

// An extended key as queued: 0 and its code.
std::string ext(uint8_t code) { return std::string{'\0', static_cast<char>(code)}; }

const std::string kHome = ext(71), kEnd = ext(79), kLeft = ext(75), kRight = ext(77), kUp = ext(72),
                  kDelete = ext(83), kF1 = ext(59), kF2 = ext(60), kF4 = ext(62), kF12 = ext(70),
                  kCtrlLeft = ext(115), kCtrlRight = ext(116), kCtrlF9 = ext(102),
                  kCtrlInsert = ext(255), kShiftInsert = ext(254);
constexpr char kEnter[] = "\r", kEsc[] = "\x1B", kTab[] = "\t", kBackspace[] = "\b";

class LineEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    setIniLegacy(false);
    crtInit(&term);
    setEchoTyping(true);
    copyToClipboard("");
  }
  void TearDown() override {
    crtInit(nullptr);
    setIniLegacy(true);
  }
  static std::string screenRow(int y) {
    std::string row;
    for (int x = 1; x <= kScreenColumns; ++x) row += static_cast<char>(screenCharAt(x, y));
    return row;
  }
  static std::string clipboard() {
    std::string text;
    pasteFromClipboard(text, 4096);
    return text;
  }
  // True when some run drawn on row y (1-based) from column x shows `cells`
  // on background colour `bg`.
  bool drawn(int x, int y, std::string_view cells, int bg) const {
    for (const auto& run : term.runs()) {
      if (run.row == y - 1 && run.col == x - 1 && run.cells == cells && run.bg == paletteColor(bg))
        return true;
    }
    return false;
  }

  TempConfigHome config;
  ScopedFakeClock clock;
  FakeTerminal term;
};

// ---------------------------------------------------------------- typing

TEST_F(LineEditor, FirstTypedKeyReplacesTheShownValue) {
  std::string text = "antigo";
  KeyScript keys;
  keys.type("n").key(kEnter);
  EXPECT_EQ(editField(text, 5, 3, true, 20), 13);
  EXPECT_EQ(text, "n");
  EXPECT_EQ(screenRow(3).substr(4, 7), "n      ");
}

TEST_F(LineEditor, AnArrowFirstKeepsTheValueAndTypingInserts) {
  std::string text = "antigo";
  KeyScript keys;
  keys.key(kRight).type("x").key(kEnter);
  editField(text, 1, 1, true, 20);
  EXPECT_EQ(text, "axntigo");
  EXPECT_EQ(lastEditPosition(), 3);
}

TEST_F(LineEditor, InsertingIntoAFullFieldDropsTheLastCharacter) {
  std::string text = "abcde";
  KeyScript keys;
  keys.key(kRight).type("X").key(kEnd).type("z").key(kEnter);
  editFieldWidth(text, 1, 1, true, 5, 5);
  // End on a full field stands past it: nothing more fits.
  EXPECT_EQ(text, "aXbcd");
  EXPECT_EQ(lastEditPosition(), 6);
}

TEST_F(LineEditor, ReadOnlyFieldIgnoresTypingAndDeleting) {
  std::string text = "fixo";
  KeyScript keys;
  keys.type("ab").key(kEnd).key(kBackspace).key(kHome).key(kDelete).key(kShiftInsert).key(kEnter);
  copyToClipboard("colado");
  editField(text, 1, 1, false, 10);
  EXPECT_EQ(text, "fixo");
}

TEST_F(LineEditor, TheFieldIsCutToItsLengthAndTrimmedAtTheEnd) {
  std::string text = "comprido demais";
  KeyScript keys;
  keys.key(kEnter);
  editField(text, 1, 1, true, 8);
  EXPECT_EQ(text, "comprido");
  std::string spaced = "ab   ";
  KeyScript more;
  more.key(kEnter);
  editField(spaced, 1, 2, true, 10);
  EXPECT_EQ(spaced, "ab");
}

// ---------------------------------------------------------------- ending keys

TEST_F(LineEditor, EndingKeysReturnTheirCodes) {
  struct Case {
    std::string key;
    Modifiers mods;
    uint8_t code;
  };
  const Case cases[] = {
      {kEnter, {}, 13},   {kEsc, {}, 27},   {kTab, {}, 9},     {"\x02", {}, 2},
      {"\n", {}, 10},     {kUp, {}, 72},    {kF2, {}, 60},     {ext(81), {}, 81},
      {kCtrlF9, {}, 102}, {kF1, kAlt, 104}, {ext(30), {}, 30},  // Alt+A
  };
  for (const Case& c : cases) {
    std::string text = "x";
    KeyScript keys;
    keys.key(c.key, c.mods);
    EXPECT_EQ(editField(text, 1, 1, true, 10), c.code) << int(c.code);
    EXPECT_EQ(text, "x");
  }
}

TEST_F(LineEditor, KeysThatDoNotEndTheField) {
  std::string text = "abc";
  KeyScript keys;
  // Alt+digit, focus lost, Control+K and an unknown control character do
  // nothing; an Alt+Q prefix stands for the key after it.
  keys.key(kRight).key(ext(120)).key("\xDF").key("\x0B").key("\x01").key(ext(16)).type("Z").key(
      kEnter);
  editField(text, 1, 1, true, 10);
  EXPECT_EQ(text, "aZbc");
  EXPECT_EQ(lastEditPosition(), 3);
}

// ---------------------------------------------------------------- readLine, readInt

TEST_F(LineEditor, ReadLineEndsWithALineEnd) {
  gotoXY(10, 3);
  std::string text = "lixo";
  KeyScript keys;
  keys.type("abc").key(kEnter);
  EXPECT_EQ(readLine(text), LineEnd::entered);
  EXPECT_EQ(text, "abc");
  EXPECT_EQ(screenRow(3).substr(9, 3), "abc");
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 4);
}

TEST_F(LineEditor, EscInReadLineGivesNothingAndBlanksWhatWasTyped) {
  gotoXY(10, 3);
  crtWrite("");
  std::string text;
  KeyScript keys;
  keys.type("abc").key(kEsc);
  EXPECT_EQ(readLine(text), LineEnd::gaveUp);
  EXPECT_EQ(text, "");
  EXPECT_EQ(screenRow(3), std::string(80, ' '));
  EXPECT_EQ(term.rowText(2), std::string(80, ' '));
  EXPECT_EQ(whereY(), 4);
  // Enter alone gives the same empty text, told apart.
  keys.key(kEnter);
  EXPECT_EQ(readLine(text), LineEnd::entered);
  EXPECT_EQ(text, "");
}

// Where the caller offers help, F1 with nothing left to read asks for it;
// inside the text it still reads the next item; without the offer it beeps.
TEST_F(LineEditor, F1AsksForHelpOnlyWhereItHasNothingToRead) {
  std::string text;
  KeyScript keys;
  keys.key(kF1);
  EXPECT_EQ(readLine(text, true), LineEnd::help);
  keys.type("12 ab").key(kHome).key(kF1).key(kF1).key(kF1);
  EXPECT_EQ(readLine(text, true), LineEnd::help);
  EXPECT_EQ(text, "12 ab");
  keys.key(kF1).type(";").key(kEnter);
  EXPECT_EQ(readLine(text), LineEnd::entered);
  EXPECT_EQ(text, ";");
}

TEST_F(LineEditor, ReadIntTakesTheLeadingDigits) {
  int64_t n = 7;
  {
    KeyScript keys;
    keys.type("12a").key(kEnter);
    readInt(n);
  }
  EXPECT_EQ(n, 12);
  {
    KeyScript keys;
    keys.type("  -40").key(kEnter);
    readInt(n);
  }
  EXPECT_EQ(n, -40);
  {
    KeyScript keys;
    keys.key(kEnter);
    readInt(n);
  }
  EXPECT_EQ(n, -40) << "an empty line leaves the number";
  {
    KeyScript keys;
    keys.type("99").key(kEsc);
    readInt(n);
  }
  EXPECT_EQ(n, -40) << "ESC leaves the number";
}

TEST_F(LineEditor, ReadIntSaturatesInsteadOfOverflowing) {
  int64_t n = 0;
  {
    KeyScript keys;
    keys.type("123456789012345678901234567890").key(kEnter);
    readInt(n);
  }
  EXPECT_EQ(n, std::numeric_limits<int64_t>::max());
  {
    KeyScript keys;
    keys.type("-99999999999999999999").key(kEnter);
    readInt(n);
  }
  EXPECT_EQ(n, std::numeric_limits<int64_t>::min());
  {
    KeyScript keys;
    keys.type("9223372036854775807").key(kEnter);
    readInt(n);
  }
  EXPECT_EQ(n, std::numeric_limits<int64_t>::max());
  {
    KeyScript keys;
    keys.type("18446744073709551626").key(kEnter);  // 2^64 + 10 must not wrap to 10
    readInt(n);
  }
  EXPECT_EQ(n, std::numeric_limits<int64_t>::max());
}

// ---------------------------------------------------------------- the view

TEST_F(LineEditor, ALongTextScrollsSoTheCursorStaysVisible) {
  std::string text = "0123456789";
  KeyScript keys;
  keys.key(kEnd);
  for (int i = 0; i < 10; ++i) keys.key(kLeft);
  keys.key(kEnter);
  editFieldWidth(text, 3, 2, true, 5, 10);
  // After End the view shows the last five characters and the cursor just
  // after them; walking back home brings the start into view.
  EXPECT_TRUE(drawn(3, 2, "56789", 0));
  for (const auto& [x, y] : keys.cursorAtSteps()) {
    EXPECT_GE(x, 3);
    EXPECT_LE(x, 8);
    EXPECT_EQ(y, 2);
  }
  EXPECT_EQ(keys.cursorAtSteps()[1], std::make_pair(8, 2));
  EXPECT_EQ(keys.cursorAtSteps().back(), std::make_pair(3, 2));
  // At the end the start of the field is shown again.
  EXPECT_EQ(screenRow(2).substr(2, 5), "01234");
  EXPECT_EQ(lastEditPosition(), 1);
}

TEST_F(LineEditor, EndStandsAfterTheLastCharacter) {
  std::string text = "abcdefg";
  KeyScript keys;
  keys.key(kEnd).key(kEnter);
  editField(text, 1, 1, true, 20);
  EXPECT_EQ(lastEditPosition(), 8);
  EXPECT_EQ(keys.cursorAtSteps()[1], std::make_pair(8, 1));
}

TEST_F(LineEditor, AFieldOnTheLastRowNeverScrollsTheScreen) {
  gotoXY(1, 1);
  crtWrite("topo");
  std::string text;
  KeyScript keys;
  keys.type(std::string(90, 'x')).key(kEnter);
  editFieldWidth(text, 1, 25, true, 80, 100);
  EXPECT_EQ(screenRow(1).substr(0, 4), "topo");
  EXPECT_EQ(screenRow(25), std::string(79, 'x') + " ");
  EXPECT_EQ(text, std::string(90, 'x'));
}

// ---------------------------------------------------------------- deleting

TEST_F(LineEditor, BackspaceAndDeleteRemoveOneCharacter) {
  std::string text = "abcd";
  KeyScript keys;
  keys.key(kEnd).key(kBackspace).key(kHome).key(kBackspace).key(kDelete).key(kEnter);
  editField(text, 1, 1, true, 10);
  EXPECT_EQ(text, "bc");
  EXPECT_EQ(lastEditPosition(), 1);
}

TEST_F(LineEditor, ControlBackspaceDeletesTheWordUpToTheNextOne) {
  std::string text = "uma frase longa";
  KeyScript keys;
  keys.key(kCtrlRight).key(kRight).key(kRight).key("\x7F").key(kEnter);
  editField(text, 1, 1, true, 20);
  EXPECT_EQ(text, "uma longa");
  EXPECT_EQ(lastEditPosition(), 5);
}

TEST_F(LineEditor, ControlDBlanksToTheEndAndControlSDeletesToTheStart) {
  std::string text = "abcdef";
  KeyScript keys;
  keys.key(kRight).key(kRight).key(kRight).key(kRight).key("\x04").key(kLeft).key("\x13").key(
      kEnter);
  editField(text, 1, 1, true, 10);
  EXPECT_EQ(text, "d");
  EXPECT_EQ(lastEditPosition(), 1);
}

TEST_F(LineEditor, ControlYBlanksControlURestoresControlKChangesNothing) {
  std::string text = "abc";
  KeyScript keys;
  keys.key(kRight).key("\x19").type("z").key("\x0B").key("\x15").key(kEnter);
  editFieldWidth(text, 1, 1, true, 10, 10);
  EXPECT_TRUE(drawn(1, 1, "z         ", 0)) << "Control+Y blanked the field before z";
  const auto& cursor = keys.cursorAtSteps();
  EXPECT_EQ(cursor[2], std::make_pair(1, 1)) << "Control+Y puts the cursor on 1";
  EXPECT_EQ(cursor[3], std::make_pair(2, 1));
  EXPECT_EQ(cursor[4], std::make_pair(2, 1)) << "Control+K does not move";
  EXPECT_EQ(cursor[5], std::make_pair(1, 1)) << "Control+U puts the cursor on 1";
  EXPECT_EQ(text, "abc");
}

// ---------------------------------------------------------------- moving

TEST_F(LineEditor, ControlArrowsJumpBetweenWords) {
  std::string text = "um dois, tres";
  KeyScript keys;
  keys.key(kCtrlRight)
      .key(kCtrlRight)
      .key(kCtrlRight)
      .key(kCtrlLeft)
      .key(kCtrlLeft)
      .key(kCtrlLeft)
      .key(kCtrlLeft)
      .key(kLeft)
      .key(kEnter);
  editField(text, 1, 1, true, 20);
  std::vector<int> columns;
  for (const auto& [x, y] : keys.cursorAtSteps()) columns.push_back(x);
  // No next word: after the end; no previous word: the start.
  EXPECT_EQ(columns, (std::vector<int>{1, 4, 10, 14, 10, 4, 1, 1, 1}));
}

TEST_F(LineEditor, F1MovesPastTheNextItem) {
  std::string text = "  casa 12 -5 , bcd";
  KeyScript keys;
  for (int i = 0; i < 6; ++i) keys.key(kF1);
  keys.key(kEnter);
  editField(text, 1, 1, true, 20);
  std::vector<int> columns;
  for (const auto& [x, y] : keys.cursorAtSteps()) columns.push_back(x);
  // casa, 12, -5, the comma, bcd, then the end: the cursor stays.
  EXPECT_EQ(columns, (std::vector<int>{1, 7, 10, 13, 15, 19, 19}));
}

TEST_F(LineEditor, RightStopsPastTheFieldEnd) {
  std::string text = "ab";
  KeyScript keys;
  keys.key(kRight).key(kRight).key(kRight).key(kRight).key(kEnter);
  editFieldWidth(text, 1, 1, true, 3, 3);
  EXPECT_EQ(lastEditPosition(), 4);
}

// ---------------------------------------------------------------- selection and clipboard

TEST_F(LineEditor, ShiftSelectsAndControlInsertCopiesTheSelection) {
  std::string text = "abcdef";
  KeyScript keys;
  keys.key(kRight).key(kRight, kShift).key(kRight, kShift).key(kCtrlInsert).key(kEnter);
  editField(text, 1, 1, true, 10);
  EXPECT_TRUE(drawn(2, 1, "bc", 8)) << "the selection is shown on background 8";
  EXPECT_EQ(clipboard(), "bc");
  EXPECT_EQ(text, "abcdef");
  // The end draws the field in the normal colours again.
  EXPECT_EQ(term.bgAt(0, 1), paletteColor(0));
}

TEST_F(LineEditor, AnyOtherKeyDropsTheSelection) {
  std::string text = "abcdef";
  KeyScript keys;
  keys.key(kRight, kShift).key(kRight, kShift).key(kRight).key("\x03").key(kEnter);
  editField(text, 1, 1, true, 10);
  EXPECT_EQ(clipboard(), "abcdef\r\n");
}

TEST_F(LineEditor, DeleteRemovesTheSelectionAndTypingReplacesIt) {
  std::string text = "abcdef";
  KeyScript keys;
  keys.key(kRight).key(kRight, kShift).key(kRight, kShift).key(kDelete);  // "bc" goes
  keys.key(kRight, kShift).key(kRight, kShift).type("X").key(kEnter);    // "de" becomes X
  editField(text, 1, 1, true, 10);
  EXPECT_EQ(text, "aXf");
}

TEST_F(LineEditor, CopyWithoutSelectionTakesTheWholeTextAndALineEnd) {
  std::string text = "abcde";
  KeyScript keys;
  keys.key(kCtrlInsert).key(kEnter);
  editFieldWidth(text, 1, 1, true, 5, 5);
  EXPECT_EQ(clipboard(), "abcde\r\n");
}

TEST_F(LineEditor, PasteIntoAFreshFieldReplacesItUpToTheFirstLineEnd) {
  copyToClipboard("novo\r\nresto");
  std::string text = "velho";
  KeyScript keys;
  keys.key(kShiftInsert, kShift).key(kEnter);
  editField(text, 1, 1, true, 20);
  EXPECT_EQ(text, "novo");
}

TEST_F(LineEditor, PasteReplacesTheSelection) {
  copyToClipboard("XY");
  std::string text = "abcdef";
  KeyScript keys;
  keys.key(kRight).key(kRight, kShift).key(kRight, kShift).key("\x16").key(kEnter);
  editFieldWidth(text, 1, 1, true, 7, 7);
  EXPECT_EQ(text, "aXYdef");
  EXPECT_EQ(lastEditPosition(), 2);
}

TEST_F(LineEditor, PasteIsCutToTheFieldLength) {
  copyToClipboard("12345678");
  std::string text = "ab";
  KeyScript keys;
  keys.key(kRight).key("\x16").key(kEnter);
  editFieldWidth(text, 1, 1, true, 6, 6);
  EXPECT_EQ(text, "a12345");
}

TEST_F(LineEditor, ATerminalPasteArrivesAsClipboardAndShiftInsert) {
  InputEvent paste = simpleEvent(InputEvent::Kind::Paste);
  paste.text = "/tmp/voz nova.wav";
  std::string text = "antigo.wav";
  KeyScript keys;
  keys.event(paste).key(kEnter);
  editField(text, 1, 1, true, 40);
  EXPECT_EQ(text, "/tmp/voz nova.wav");
}

// ---------------------------------------------------------------- switches

TEST_F(LineEditor, F4SwitchesTypingEcho) {
  std::string text;
  KeyScript keys;
  keys.key(kF4).key(kEnter);
  editField(text, 1, 1, true, 10);
  EXPECT_FALSE(echoTyping());
  KeyScript again;
  again.key(kF4).key(kEnter);
  editField(text, 1, 1, true, 10);
  EXPECT_TRUE(echoTyping());
}

TEST_F(LineEditor, AltControlF9ReviewsTheScreenAndComesBack) {
  std::string text = "abc";
  KeyScript keys;
  keys.key(kRight).key(kCtrlF9, kCtrlAlt).key(ext(80)).key(ext(80)).key(kEsc).type("X").key(kEnter);
  EXPECT_EQ(editField(text, 4, 6, true, 10), 13);
  const auto& cursor = keys.cursorAtSteps();
  EXPECT_EQ(cursor[3], std::make_pair(1, 7)) << "review moved down a row";
  EXPECT_EQ(cursor[5], std::make_pair(5, 6)) << "back in the field where it was";
  EXPECT_EQ(text, "aXbc");
}

TEST_F(LineEditor, RandomEditingKeepsTheFieldInItsPlace) {
  // Every key that does not end the field, with and without Shift.
  std::vector<std::string> pool;
  for (int c = 32; c < 256; ++c) pool.emplace_back(1, static_cast<char>(c));
  for (const char* c : {"\b", "\x7F", "\x04", "\x13", "\x19", "\x15", "\x0B", "\x1C", "\x03",
                        "\x16", "\x01"}) {
    pool.emplace_back(c);
  }
  for (uint8_t code : {71, 75, 77, 79, 83, 115, 116, 59, 94, 62, 66, 101, 120, 254, 255}) {
    pool.push_back(ext(code));
  }
  copyToClipboard("colado\r\nfora");
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
  for (int round = 0; round < 20; ++round) {
    const int x = 1 + static_cast<int>(next() % 60), y = 1 + static_cast<int>(next() % 25);
    const int maxLen = 1 + static_cast<int>(next() % 30), width = 1 + static_cast<int>(next() % 12);
    std::string text = "valor inicial de teste";
    KeyScript keys;
    for (int i = 0; i < 150; ++i) {
      keys.key(pool[next() % pool.size()], next() % 3 == 0 ? kShift : Modifiers{});
    }
    keys.key(kEnter);
    ASSERT_EQ(editFieldWidth(text, x, y, true, width, maxLen), 13);
    EXPECT_LE(static_cast<int>(text.size()), maxLen);
    EXPECT_TRUE(text.empty() || text.back() != ' ');
    EXPECT_GE(lastEditPosition(), 1);
    EXPECT_LE(lastEditPosition(), maxLen + 1);
    for (const auto& [cx, cy] : keys.cursorAtSteps()) {
      ASSERT_EQ(cy, y) << "round " << round;
      ASSERT_GE(cx, x) << "round " << round;
      ASSERT_LE(cx, std::min(x + width, kScreenColumns)) << "round " << round;
    }
  }
}

// ---------------------------------------------------------------- F12

class OpenWord : public LineEditor {
 protected:
  void SetUp() override {
    LineEditor::SetUp();
    std::string pattern = std::filesystem::temp_directory_path().string() + "/kalimbro_open_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
  }
  void TearDown() override {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
    LineEditor::TearDown();
  }
  // The opener runs on its own: give it a few seconds to leave its mark.
  static bool appears(const std::filesystem::path& file) {
    for (int i = 0; i < 500 && !std::filesystem::exists(file); ++i) usleep(10000);
    return std::filesystem::exists(file);
  }
  std::filesystem::path dir, previous;
};

TEST_F(OpenWord, F12HandsTheWordToTheProgramOfItsExtension) {
  iniWrite("VARELU", "PROG.TXT", "touch");
  std::string text = "veja (nota;1.txt) agora";
  KeyScript keys;
  keys.key(kCtrlRight).key(kF12).key(kEnter);
  editField(text, 1, 1, true, 40);
  // The word is one argument, never read by a shell.
  EXPECT_TRUE(appears(dir / "nota;1.txt)"));
  EXPECT_EQ(text, "veja (nota;1.txt) agora");
}

TEST_F(OpenWord, ProgramsAreNeverRun) {
  iniWrite("VARELU", "PROG.EXE", "touch");
  iniWrite("VARELU", "PROG.HTM", "touch");
  std::string text = "prog.exe www.x";
  KeyScript keys;
  // The cursor just after a word opens that word.
  keys.key(kF12).key(kEnd).key(kF12).key(kEnter);
  editField(text, 1, 1, true, 40);
  ASSERT_TRUE(appears(dir / "www.x"));
  EXPECT_FALSE(std::filesystem::exists(dir / "prog.exe"));
}

}  // namespace
}  // namespace kalimbro
