// The play command (T) in the running program, on the empty sound the
// program starts with when no file is named: its opening line, its help,
// the end of the sound and the information line, and ESC back to the
// main prompt.
#include <algorithm>

#include "tests/e2e/harness.h"

namespace kalimbro::e2e {
namespace {

constexpr std::string_view kPrompt = "Gravador, qual sua opção? ";
constexpr std::string_view kHowToPlay = "Use espaço para tocar, F1 ajuda";
// Speech plays at its real rate, and each help line is spoken before the
// next is written.
constexpr milliseconds kLongSpeech{60000};

class PlayCommandE2e : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    s = Session::start(Options{}, &error);
    ASSERT_NE(s, nullptr) << error;
    // No file given: leave the start-up file selector for an empty sound.
    ASSERT_TRUE(s->waitForText("Informe o nome do arquivo"));
    ASSERT_TRUE(s->sendKey(Key::Esc));
  }

  testing::AssertionResult waitForPrompt(std::string_view below = {}) {
    return s->waitForPrompt(kPrompt, below, kDefaultTimeout);
  }

  std::unique_ptr<Session> s;
};

TEST_F(PlayCommandE2e, TShowsHowToPlayF1TheKeysAndEscGoesBack) {
  ASSERT_TRUE(waitForPrompt());
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(s->waitForText(kHowToPlay));
  const Pos opening = *s->find(kHowToPlay);
  EXPECT_EQ(opening.col, 0);
  EXPECT_TRUE(s->find(std::string(kPrompt) + "t").has_value()) << "the letter is echoed\n" << s->dump();

  ASSERT_TRUE(s->sendKey(Key::F1));
  ASSERT_TRUE(s->waitForText("V volta ao ponto memorizado", kLongSpeech));
  const std::vector<std::string_view> help = {
      "As opções são :",
      "Espaço toca e para, esc termina",
      "Posicione com direita, esquerda, home e end.",
      "Page Up e Page Down saltam 1 segundo",
      "F5 vai a um segundo digitado; F6 diz o tempo total e o do cursor",
      "M memoriza o ponto do cursor",
      "V volta ao ponto memorizado",
  };
  for (size_t i = 0; i < help.size(); ++i)
    EXPECT_EQ(s->find(help[i]), (Pos{opening.row + 1 + static_cast<int>(i), 0})) << help[i] << "\n" << s->dump();

  // The empty sound: Space is at its end at once, and F6 tells a time of
  // nothing without failing on the percentage.
  ASSERT_TRUE(s->sendKeys({" "}));
  ASSERT_TRUE(s->waitForText("Fim do som"));
  ASSERT_TRUE(s->sendKey(Key::F6));
  ASSERT_TRUE(s->waitForText("Tempo total: 0:0  posição do cursor: 0:0  percentual: 0"));

  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(waitForPrompt("percentual: 0"));
  EXPECT_TRUE(s->isRunning());
}

// Control+Right plays the rest of a long sound, and a key stops it as it
// stops Space: the user is back at the prompt long before the end, having
// heard only part of it.
TEST(PlayCommandLongSoundE2e, ControlRightStopsAtAKey) {
  constexpr uint32_t kRate = 8000;
  const std::vector<int16_t> twentySeconds(20 * kRate, 1000);
  Options options;
  options.args = {"voz.wav"};
  options.files = {{"voz.wav", wavBytes(kRate, 16, 1, twentySeconds)},
                   {"saida.wav", wavBytes(kRate, 16, 1, {})}};
  options.settings = {{"SOM", "SAIDA", "arquivo:saida.wav"}};
  std::string error;
  auto s = Session::start(options, &error);
  ASSERT_NE(s, nullptr) << error;
  ASSERT_TRUE(s->waitForPrompt(kPrompt, "Carregando som", kLongSpeech));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(s->waitForText(kHowToPlay));
  ASSERT_TRUE(s->waitForQuiet(milliseconds(500)));
  ASSERT_TRUE(s->sendKey(Input(Key::Right, mod::Ctrl)));
  // Some of the sound reaches the device, then Space stops it.
  ASSERT_TRUE(s->waitUntil(
      [&] {
        const std::optional<WavContents> heard = readWav(s->workDir() / "saida.wav");
        return heard && std::count(heard->samples.begin(), heard->samples.end(), 1000) > 0;
      },
      "the sound playing", kLongSpeech));
  ASSERT_TRUE(s->sendKeys({" ", Key::Esc}));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, kHowToPlay, kLongSpeech));
  const std::optional<WavContents> heard = readWav(s->workDir() / "saida.wav");
  ASSERT_TRUE(heard.has_value());
  EXPECT_LT(std::count(heard->samples.begin(), heard->samples.end(), 1000), 10 * kRate)
      << "the key did not stop the playing";
}

}  // namespace
}  // namespace kalimbro::e2e
