#include "edit/klremove.h"

#include <gtest/gtest.h>

#include "app/programState.h"
#include "tests/fakes/command_fixture.h"
#include "tests/fakes/key_script.h"

namespace kalimbro {
namespace {

// Frames 0..9 hold the values 0..9, so what is left shows what was cut.
class Remove : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    fillMono(sound(), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  }
  void run(std::string_view key, int32_t position, int32_t mark) {
    program().currentPosition = position;
    program().markedPosition = mark;
    KeyScript script;
    script.type(key);
    removeCommand();
  }
  static int32_t position() { return program().currentPosition; }
  static int32_t mark() { return program().markedPosition; }
};

TEST_F(Remove, BeforeTheCursorKeepsTheMarkOnTheSameSound) {
  run("a", 4, 7);
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(position(), 0);
  EXPECT_EQ(mark(), 3);
  EXPECT_EQ(leftValues(sound())[static_cast<size_t>(mark())], 7);
  EXPECT_TRUE(shown("Trecho anterior removido"));
}

TEST_F(Remove, BeforeTheCursorWithTheMarkBeforeItPutsTheMarkAtTheStart) {
  run("A", 6, 2);
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{6, 7, 8, 9}));
  EXPECT_EQ(mark(), 0);
}

TEST_F(Remove, BeforeTheCursorAtZeroRemovesNothingButSaysSo) {
  run("A", 0, 5);
  EXPECT_EQ(sound().count(), 10);
  EXPECT_EQ(mark(), 5);
  EXPECT_TRUE(shown("Trecho anterior removido"));
}

TEST_F(Remove, AfterTheCursorPullsALaterMarkBack) {
  run("d", 4, 7);
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{0, 1, 2, 3}));
  EXPECT_EQ(position(), 4);
  EXPECT_EQ(mark(), 4);
  EXPECT_TRUE(shown("Trecho posterior removido"));

  fillMono(sound(), {0, 1, 2, 3, 4, 5});
  run("D", 3, 1);
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{0, 1, 2}));
  EXPECT_EQ(mark(), 1);
}

TEST_F(Remove, BetweenCursorAndLaterMark) {
  run("m", 2, 5);
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{0, 1, 5, 6, 7, 8, 9}));
  EXPECT_EQ(position(), 2);
  EXPECT_EQ(mark(), 2);
  EXPECT_TRUE(shown("Trecho removido"));
}

TEST_F(Remove, BetweenEarlierMarkAndCursorKeepsTheFrameAtTheCursor) {
  run("M", 7, 2);
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{0, 1, 7, 8, 9}));
  EXPECT_EQ(position(), 2);
  EXPECT_EQ(mark(), 2);
  EXPECT_EQ(leftValues(sound())[static_cast<size_t>(position())], 7);
}

TEST_F(Remove, BetweenEqualPositionsRemovesNothing) {
  run("M", 4, 4);
  EXPECT_EQ(sound().count(), 10);
  EXPECT_TRUE(shown("Trecho removido, 0,0 segundos")) << screenText();
}

TEST_F(Remove, EverythingLeavesTheCursorAndZeroesTheMarkAndSaysHowMuchWent) {
  fillMono(sound(), std::vector<int16_t>(6 * 22050 + 1100));
  run("t", 4, 7);
  EXPECT_EQ(sound().count(), 0);
  EXPECT_EQ(position(), 4);
  EXPECT_EQ(mark(), 0);
  EXPECT_TRUE(shown("Ok, toda grava\xE7\xE3o foi removida. 6,0 segundos")) << screenText();
}

TEST_F(Remove, OtherKeysAreInvalidAndChangeNothing) {
  for (std::string_view key : {"x", "\r"}) {
    run(key, 4, 7);
    EXPECT_EQ(sound().count(), 10);
    EXPECT_EQ(position(), 4);
    EXPECT_EQ(mark(), 7);
  }
  EXPECT_TRUE(shown("Op\xE7\xE3o inv\xE1lida, F1 ajuda"));
}

// F1 tells the answers and the menu is asked again; ESC gives up.
TEST_F(Remove, F1ExplainsAndAsksAgainAndEscGivesUp) {
  program().currentPosition = 4;
  KeyScript script;
  script.key(std::string{'\0', 59}).type("a");
  removeCommand();
  EXPECT_TRUE(shown("A antes do cursor, D depois, T tudo, M at\xE9 o ponto memorizado; ESC desiste"));
  EXPECT_EQ(sound().count(), 6);
  run("\x1B", 2, 0);
  EXPECT_EQ(sound().count(), 6);
  EXPECT_TRUE(shown("Desistiu..."));
  EXPECT_FALSE(shown("Op\xE7\xE3o inv\xE1lida, F1 ajuda"));
}

TEST(RemovalPlan, AfterACursorPastTheEndDeletesNothing) {
  RemovalPlan plan;
  ASSERT_TRUE(planRemoval('D', 12, 3, 10, plan));
  EXPECT_LE(plan.length, 0);
  EXPECT_FALSE(planRemoval('X', 0, 0, 10, plan));
}

}  // namespace
}  // namespace kalimbro
