#include "console/vrsintese.h"

#include <gtest/gtest.h>

namespace kalimbro {
namespace {

// Changing the speed restarts speech: the synthesizer is released and
// started again, more than once in a session.
TEST(WordSynthesizer, StartsAgainAfterARelease) {
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(synthStart(), 0) << "round " << round;
    synthSetSpeedLevel(round + 2);
    EXPECT_FALSE(synthesizeWord("Gravador").empty()) << "round " << round;
    synthRelease();
    EXPECT_TRUE(synthesizeWord("Gravador").empty()) << "released, round " << round;
  }
}

TEST(WordSynthesizer, AWordIsCutShortWhenAsked) {
  ASSERT_EQ(synthStart(), 0);
  const std::string sentence = "Gravador de som Varelu, qual sua op\xE7\xE3o? Tecle Enter para gravar.";
  const size_t whole = synthesizeWord(sentence).size();
  const size_t cut = synthesizeWord(sentence, [] { return true; }).size();
  synthRelease();
  EXPECT_GT(whole, static_cast<size_t>(kSynthSampleRate));  // more than a second
  EXPECT_LT(cut, whole / 2);
}

}  // namespace
}  // namespace kalimbro
