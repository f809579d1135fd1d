#include "console/vrform.h"

#include <gtest/gtest.h>

#include "console/VrCrt.h"
#include "console/vrini.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_terminal.h"
#include "tests/fakes/probed_keys.h"
#include "tests/fakes/temp_config.h"

namespace kalimbro {
namespace {

constexpr uint8_t kDown = 80, kUp = 72, kPageDown = 81, kPageUp = 73, kHome = 71, kEnd = 79, kRight = 77,
                  kCtrlUp = 113, kCtrlDown = 114;

class Forms : public ::testing::Test {
 protected:
  void SetUp() override {
    setIniLegacy(false);
    crtInit(&term);
    setFormLabelWidth(28);
  }
  void TearDown() override {
    setFormLabelWidth(28);
    crtInit(nullptr);
    setIniLegacy(true);
  }
  static std::string screenText(int x, int y, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>(screenCharAt(x + i, y));
    return s;
  }
  // Fills the screen with letters in changing colours, so that any cell
  // left drawn over shows.
  static void paintBackdrop() {
    for (int y = 1; y <= kScreenRows; ++y) {
      gotoXY(1, y);
      textBackground(y % 8);
      textColor(15 - y % 8);
      std::string row;
      for (int x = 0; x < kScreenColumns; ++x) row += static_cast<char>('a' + (x + y) % 26);
      crtWrite(row);
    }
  }

  TempConfigHome config;
  ScopedFakeClock clock;
  FakeTerminal term;
};

// ---------------------------------------------------------------- pop-up lists

class PopUpList : public Forms {
 protected:
  // A list of `n` items "Item 1", "Item 2" ... at (10, 3).
  static void openItems(int n, int x = 10, int y = 3, int width = 20) {
    menuOpen(x, y, width, 5, n);
    for (int i = 1; i <= n; ++i) menuAddItem("", "Item " + std::to_string(i));
  }
};

TEST_F(PopUpList, ArrowsEnterAndTheChosenText) {
  openItems(5);
  ProbedKeys keys;
  keys.ext(kDown, {}, [] {
    // Item 1 is current: yellow on the list colour; the rest white.
    EXPECT_EQ(screenText(10, 3, 6), "Item 1");
    EXPECT_EQ(screenAttrAt(10, 3), 0x5E);
    EXPECT_EQ(screenText(10, 4, 20), "Item 2              ");
    EXPECT_EQ(screenAttrAt(29, 4), 0x5F);
    EXPECT_EQ(whereX(), 10);
    EXPECT_EQ(whereY(), 3);
  });
  keys.ext(kDown).ext(kUp).key('\r');
  EXPECT_EQ(menuRun(), 2);
  EXPECT_EQ(lastChoiceText(), "Item 2");

  openItems(5);
  ProbedKeys esc;
  esc.ext(kDown).key('\x1B');
  EXPECT_EQ(menuRun(), 0);
  EXPECT_EQ(lastChoiceText(), "");
}

TEST_F(PopUpList, PagesAndEndsStopWithoutWrapping) {
  openItems(12);
  ProbedKeys keys;
  keys.ext(kDown).ext(kDown).ext(kDown).ext(kDown);  // item 5
  keys.ext(kPageDown);                                // past the end: 12
  keys.key('\r');
  EXPECT_EQ(menuRun(), 12);

  openItems(12);
  ProbedKeys more;
  more.ext(kPageDown).ext(kPageDown).ext(kPageUp).ext(kUp).key('\r');  // 11, 12, 2, 1
  EXPECT_EQ(menuRun(), 1);

  openItems(12);
  ProbedKeys ends;
  ends.ext(kUp).ext(kEnd).ext(kDown).ext(kHome).ext(kUp).ext(kDown).key('\r');
  EXPECT_EQ(menuRun(), 2);

  openItems(12);
  ProbedKeys control;
  control.ext(118).ext(132).ext(kDown).key('\r');  // Control+Page Down, Control+Page Up
  EXPECT_EQ(menuRun(), 2);
}

TEST_F(PopUpList, FirstCharacterJumpsForwardOnly) {
  menuOpen(1, 1, 20, 5, 8);
  for (const char* t : {"Tocar", "Gravar", "  mixar", "Novo", "Mais", "+ volume", "9 nove", "Efeitos"})
    menuAddItem("", t);
  ProbedKeys keys;
  keys.key('m', {}, [] {}).key('M').key('n');  // mixar (blanks skipped), Mais, no later n: last
  keys.key('\r');
  EXPECT_EQ(menuRun(), 8);

  menuOpen(1, 1, 20, 5, 8);
  for (const char* t : {"Tocar", "Gravar", "  mixar", "Novo", "Mais", "+ volume", "9 nove", "Efeitos"})
    menuAddItem("", t);
  ProbedKeys more;
  more.key('+').key('\r');
  EXPECT_EQ(menuRun(), 6);

  menuOpen(1, 1, 20, 5, 8);
  for (const char* t : {"Tocar", "Gravar", "  mixar", "Novo", "Mais", "+ volume", "9 nove", "Efeitos"})
    menuAddItem("", t);
  ProbedKeys other;
  // "." and "," look for nothing; Tab finds no item and stops on the last;
  // Home, then 9.
  other.key('.').key(',').key('g').key('\t').ext(kHome).key('9').key('\r');
  EXPECT_EQ(menuRun(), 7);
}

TEST_F(PopUpList, ControlQAndRightLeaveTheItem) {
  openItems(10);
  ProbedKeys keys;
  keys.ext(kDown).ext(kDown).key('\x11').ext(kRight).key('\r');
  EXPECT_EQ(menuRun(), 3);
  EXPECT_EQ(lastChoiceText(), "Item 3");
}

TEST_F(PopUpList, ScreenReviewFromTheListReturnsToIt) {
  openItems(3);
  ProbedKeys keys;
  keys.ext(102, kCtrlAlt).key('\x1B');  // review, and back out of it
  keys.ext(102, kCtrl);                 // without Alt: nothing
  keys.ext(kDown).key('\r');
  EXPECT_EQ(menuRun(), 2);
}

TEST_F(PopUpList, OpensInsideTheScreen) {
  menuOpen(70, 5, 27, 5, 3);
  for (const char* t : {"um", "dois", "tres"}) menuAddItem("", t);
  ProbedKeys keys;
  keys.key('\r', {}, [] {
    EXPECT_EQ(screenText(53, 5, 2), "um");
    EXPECT_EQ(screenText(53, 7, 27), "tres                       ");
  });
  EXPECT_EQ(menuRun(), 1);

  menuOpen(5, 20, 10, 5, 16);  // 16 rows from row 20 start at row 10
  for (int i = 1; i <= 16; ++i) menuAddItem("", "L" + std::to_string(i));
  ProbedKeys low;
  low.ext(kEnd, {}, [] { EXPECT_EQ(screenText(5, 10, 2), "L1"); });
  low.key('\r', {}, [] { EXPECT_EQ(screenText(5, 25, 3), "L16"); });
  EXPECT_EQ(menuRun(), 16);
}

TEST_F(PopUpList, ScrollsAListLongerThanItsBox) {
  menuOpen(1, 1, 10, 5, 3);
  for (int i = 1; i <= 6; ++i) menuAddItem("", "L" + std::to_string(i));
  ProbedKeys keys;
  keys.ext(kDown).ext(kDown).ext(kDown, {}, [] { EXPECT_EQ(screenText(1, 3, 2), "L3"); });
  keys.key('\r', {}, [] {
    EXPECT_EQ(screenText(1, 1, 2), "L2");
    EXPECT_EQ(screenText(1, 3, 2), "L4");
    EXPECT_NE(screenText(1, 4, 2), "L5");
  });
  EXPECT_EQ(menuRun(), 4);
}

TEST_F(PopUpList, TheScreenUnderTheListComesBack) {
  paintBackdrop();
  gotoXY(33, 17);
  textColor(3);
  textBackground(2);
  std::vector<std::pair<uint8_t, uint8_t>> before;
  for (int y = 1; y <= kScreenRows; ++y)
    for (int x = 1; x <= kScreenColumns; ++x) before.push_back({screenCharAt(x, y), screenAttrAt(x, y)});
  const uint8_t attribute = currentAttribute();

  menuOpen(60, 2, 10, 5, 4);
  menuAddItem("", "curto");
  menuAddItem("", "um texto bem mais longo que a caixa");
  menuAddItem("", "fim");
  ProbedKeys keys;
  keys.ext(kDown, {}, [] { EXPECT_EQ(currentAttribute() >> 4, 5); });
  keys.ext(kDown, {}, [] { EXPECT_EQ(screenText(60, 3, 21), "um texto bem mais lon"); });
  keys.key('\r', {}, [] {
    // The long text went back into its box when it was left.
    EXPECT_EQ(screenText(60, 3, 10), "um texto b");
    EXPECT_EQ(screenCharAt(70, 3), 'a' + (69 + 3) % 26);
  });
  EXPECT_EQ(menuRun(), 3);

  size_t i = 0;
  for (int y = 1; y <= kScreenRows; ++y)
    for (int x = 1; x <= kScreenColumns; ++x, ++i) {
      ASSERT_EQ(screenCharAt(x, y), before[i].first) << x << "," << y;
      ASSERT_EQ(screenAttrAt(x, y), before[i].second) << x << "," << y;
    }
  EXPECT_EQ(currentAttribute(), attribute);
  EXPECT_EQ(whereX(), 33);
  EXPECT_EQ(whereY(), 17);
}

// ---------------------------------------------------------------- forms

TEST_F(Forms, DownBelowTheLastFieldStaysThereAndUpReturns) {
  int32_t a = 1, b = 2, c = 3;
  gotoXY(1, 5);
  formBegin();
  formAddInt("", "Primeiro", a);
  formAddInt("", "Segundo", b);
  formAddInt("", "Terceiro", c);
  ProbedKeys keys;
  keys.ext(kDown).ext(kDown).ext(kDown);  // below the form
  keys.ext(kDown, {}, [] {
    EXPECT_EQ(whereX(), 1);
    EXPECT_EQ(whereY(), 7);
  });
  keys.ext(kUp).type("9").key('\x1B');
  EXPECT_EQ(formRun(true), 27);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(c, 9);
  // After the form the cursor is on the row after its last field.
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 8);
}

TEST_F(Forms, AboveTheFirstFieldAndTheJumps) {
  int32_t a = 1, b = 2, c = 3;
  gotoXY(1, 5);
  formBegin();
  formAddInt("", "Primeiro", a);
  formAddInt("", "Segundo", b);
  formAddInt("", "Terceiro", c);
  ProbedKeys keys;
  keys.ext(kUp);
  keys.ext(kUp, {}, [] { EXPECT_EQ(whereY(), 5); });  // stays above
  keys.key('\r').ext(kCtrlDown).type("7").key('\t');   // first, last
  keys.ext(kCtrlUp).type("4").ext(kPageDown);
  EXPECT_EQ(formRun(true), 81);
  EXPECT_EQ(a, 4);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(c, 7);
}

TEST_F(Forms, EveryFieldIsWrittenBackOnEsc) {
  std::string name = "antigo";
  int32_t n = 10;
  double volume = 0.5, gain = 2;
  gotoXY(1, 1);
  formBegin();
  formAddText("", "Nome", name, 40);
  formAddInt("", "Quantos", n);
  formAddReal("", "Volume", volume, 1);
  formAddReal("", "Ganho", gain, 0);
  ProbedKeys keys;
  keys.key("novo", {}, [] {
    // Label right-aligned on red, the value in yellow while edited.
    EXPECT_EQ(screenText(1, 1, 28), std::string(23, ' ') + "Nome ");
    EXPECT_EQ(screenAttrAt(1, 1) >> 4, 4);
    EXPECT_EQ(screenText(29, 1, 6), "antigo");
    EXPECT_EQ(screenAttrAt(29, 1), 0x0E);
    EXPECT_EQ(screenText(29, 3, 3), "0.5");
    EXPECT_EQ(screenText(29, 4, 2), "2 ");
  });
  keys.key('\r').type("12abc").key('\r').type("1,5").key('\r').type("-3,25").key('\x1B');
  EXPECT_EQ(formRun(true), 27);
  EXPECT_EQ(name, "novo");
  EXPECT_EQ(n, 12);
  EXPECT_DOUBLE_EQ(volume, 1.5);
  EXPECT_DOUBLE_EQ(gain, -3.25);
  EXPECT_EQ(screenAttrAt(29, 1), 0x0F);
}

TEST_F(Forms, ValuesThatAreNotNumbers) {
  int32_t big = 0, none = 5;
  double real = 7, nan = 7;
  gotoXY(1, 1);
  formBegin();
  formAddInt("", "Grande", big);
  formAddInt("", "Nada", none);
  formAddReal("", "Real", real, 2);
  formAddReal("", "Nan", nan, 2);
  ProbedKeys keys;
  keys.type("9999999999").key('\r').type("x").key('\r').type("2.5,1").key('\r').type("nan").key('\x1B');
  formRun(true);
  EXPECT_EQ(big, INT32_MAX);
  EXPECT_EQ(none, 0);
  EXPECT_DOUBLE_EQ(real, 2.5);
  EXPECT_EQ(nan, 0);
}

TEST_F(Forms, LabelWidthStaysAndLongLabelsAreCut) {
  setFormLabelWidth(35);
  int32_t n = 1;
  gotoXY(1, 1);
  formBegin();
  formAddInt("", std::string(50, 'L'), n);
  ProbedKeys keys;
  keys.key('\x1B', {}, [] {
    EXPECT_EQ(screenText(1, 1, 35), std::string(34, 'L') + " ");
    EXPECT_EQ(screenText(36, 1, 1), "1");
  });
  formRun(true);
  EXPECT_EQ(formLabelWidth(), 35);
}

TEST_F(Forms, AFormLongerThanTheScreenScrolls) {
  std::vector<int32_t> values(6);
  for (int i = 0; i < 6; ++i) values[i] = 10 + i;
  gotoXY(1, 22);
  crtWrite("above");
  gotoXY(1, 23);
  formBegin();
  for (int i = 0; i < 6; ++i) formAddInt("", "Campo " + std::to_string(i + 1), values[i]);
  ProbedKeys keys;
  keys.ext(kDown).ext(kDown);
  keys.ext(kDown, {}, [] {
    // Field 3 is on the last row; fields 1-3 fill rows 23-25.
    EXPECT_EQ(screenText(21, 25, 7), "Campo 3");
    EXPECT_EQ(screenText(21, 23, 7), "Campo 1");
  });
  keys.ext(kDown, {}, [] {
    EXPECT_EQ(screenText(21, 25, 7), "Campo 4");
    EXPECT_EQ(screenText(29, 25, 2), "13");
    EXPECT_EQ(screenText(21, 23, 7), "Campo 2");
  });
  keys.ext(kCtrlUp, {}, [] {});
  keys.ext(kPageUp, {}, [] { EXPECT_EQ(screenText(21, 23, 7), "Campo 1"); });
  EXPECT_EQ(formRun(true), 73);
  EXPECT_EQ(screenText(1, 22, 5), "above");
  EXPECT_EQ(whereY(), 25);
}

TEST_F(Forms, AnEmptyFormShowsOnlyTheEnds) {
  gotoXY(1, 4);
  formBegin();
  ProbedKeys keys;
  keys.ext(kUp, {}, [] { EXPECT_EQ(whereY(), 4); }).ext(kDown).key('\x1B');
  EXPECT_EQ(formRun(true), 27);
  EXPECT_EQ(whereY(), 4);
}

}  // namespace
}  // namespace kalimbro
