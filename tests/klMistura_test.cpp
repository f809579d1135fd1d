#include "edit/klMistura.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/klmp3.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "platform/paths.h"
#include "sound/gramost.h"
#include "tests/fakes/command_fixture.h"
#include "tests/fakes/key_script.h"

namespace kalimbro {
namespace {

using Values = std::vector<int16_t>;

TEST(MixArithmetic, PercentagesAndTheirFallbacks) {
  EXPECT_DOUBLE_EQ(static_cast<double>(percentFactor("70", 0.7L)), 0.7);
  EXPECT_DOUBLE_EQ(static_cast<double>(percentFactor(" 30 ", 0.3L)), 0.3);
  EXPECT_DOUBLE_EQ(static_cast<double>(percentFactor("12,5", 0.3L)), 0.125);
  EXPECT_DOUBLE_EQ(static_cast<double>(percentFactor("-30", 0.3L)), -0.3);
  EXPECT_DOUBLE_EQ(static_cast<double>(percentFactor("", 0.7L)), 0.7);
  EXPECT_DOUBLE_EQ(static_cast<double>(percentFactor("100", 0.7L)), 0.7);
  EXPECT_DOUBLE_EQ(static_cast<double>(percentFactor("abc", 0.3L)), 0.3);
  EXPECT_DOUBLE_EQ(static_cast<double>(percentFactor("50x", 0.3L)), 0.3);
  EXPECT_DOUBLE_EQ(static_cast<double>(percentFactor("-inf", 0.3L)), 0.3);
}

TEST(MixArithmetic, Positions) {
  EXPECT_EQ(mixPosition('I', 5, 10), 0);
  EXPECT_EQ(mixPosition('C', 5, 10), 5);
  EXPECT_EQ(mixPosition('F', 5, 10), 9);
  EXPECT_EQ(mixPosition('F', 0, 0), 0);    // an empty sound has no last frame
  EXPECT_EQ(mixPosition('C', 30, 10), 10);  // a cursor left past the end
}

struct MixCase {
  bool addition;
  char place;
  Values expected;
};

// Working 10 20 30 40, cursor at 2, second 1 2 3.
TEST(MixArithmetic, AdditionAndMixingAtStartCursorAndEnd) {
  const MixCase cases[] = {
      {true, 'I', {1, 2, 3, 10, 20, 30, 40}},
      {true, 'C', {10, 20, 1, 2, 3, 30, 40}},
      {true, 'F', {10, 20, 30, 1, 2, 3, 40}},
      {false, 'I', {11, 22, 33, 40}},
      {false, 'C', {10, 20, 31, 42, 3}},
      {false, 'F', {10, 20, 30, 41, 2, 3}},
  };
  for (const MixCase& c : cases) {
    TAmostras working, second;
    fillMono(working, {10, 20, 30, 40});
    fillMono(second, {1, 2, 3});
    ASSERT_TRUE(mixSounds(working, second, c.addition, mixPosition(c.place, 2, working.count()), 1, 1));
    EXPECT_EQ(leftValues(working), c.expected) << c.addition << c.place;
  }
}

TEST(MixArithmetic, AdditionIntoAnEmptySoundIsTheSecondSound) {
  TAmostras working, second;
  working.createSized(1, 22050, 16, 0);
  fillMono(second, {1, 2, 3});
  ASSERT_TRUE(mixSounds(working, second, true, mixPosition('F', 0, 0), 1, 1));
  EXPECT_EQ(leftValues(working), (Values{1, 2, 3}));
}

TEST(MixArithmetic, LoudSoundsClipAndBackgroundScales) {
  TAmostras working, second;
  fillStereo(working, {{30000, -30000}, {1000, 1000}});
  fillStereo(second, {{30000, -30000}, {-1000, 2000}});
  mixSounds(working, second, false, 0, 1, 1);
  EXPECT_EQ(unpackFrame(working.getFrame(0)).left, 32767);
  EXPECT_EQ(unpackFrame(working.getFrame(0)).right, -32768);

  fillMono(working, {1000, -1000});
  fillMono(second, {1000, 1000});
  mixSounds(working, second, false, 0, 0.7L, 0.3L);
  EXPECT_EQ(leftValues(working), (Values{1000, -400}));
}

TEST(MixArithmetic, StereoCdSoundIsMadeMonoThenResampled) {
  TAmostras working;
  fillMono(working, {0}, 22050);
  auto second = std::make_unique<TAmostras>();
  std::vector<std::pair<int16_t, int16_t>> frames(400, {1000, 3000});
  fillStereo(*second, frames, 44100);
  matchSoundFormat(second, working);
  EXPECT_EQ(second->channels(), 1);
  EXPECT_EQ(second->sampleRate(), 22050);
  EXPECT_EQ(second->count(), 200);
  EXPECT_EQ(leftValues(*second)[10], 2000);
}

// ---------------------------------------------------------------- the command

class Mix : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    fillMono(sound(), {100, 200, 300, 400});
    program().currentPosition = 1;
    TAmostras second;
    fillMono(second, {1000, 1000});
    ASSERT_TRUE(second.saveWav(file("voz.wav")));
  }
  void mix(std::string_view keys) {
    KeyScript script;
    script.type(keys);
    mixCommand();
    EXPECT_EQ(script.remaining(), 0u);
  }
};

TEST_F(Mix, AdditionAtTheCursorOfANameTypedWithoutExtension) {
  mix(file("voz") + "\rxac");  // x asks again
  EXPECT_EQ(leftValues(sound()), (Values{100, 1000, 1000, 200, 300, 400}));
  EXPECT_TRUE(shown("Sons misturados"));
  EXPECT_EQ(program().currentPosition, 1);
}

TEST_F(Mix, TheChosenNameStandsOnALineOfItsOwn) {
  mix(file("voz") + "\rmi");
  // The typed name, then the completed one, whole, from the first column.
  EXPECT_TRUE(shown("\n" + file("voz") + "\n" + file("voz.wav") + "\n")) << screenText();
}

TEST_F(Mix, BackgroundWithEmptyAnswersIsSeventyThirty) {
  mix(file("voz.wav") + "\rf\r\ri");
  EXPECT_EQ(leftValues(sound()), (Values{370, 440, 300, 400}));
}

TEST_F(Mix, BackgroundWithTypedPercentagesAndAHundred) {
  mix(file("voz.wav") + "\rF50\r100\rf");
  // 0.5 x working + 0.3 x second from the last frame; the rest appended.
  EXPECT_EQ(leftValues(sound()), (Values{100, 200, 300, 500, 300}));
}

TEST_F(Mix, EscapeGivesUpAtEveryQuestion) {
  mix("\x1B");
  mix(file("voz.wav") + "\r\x1B");
  mix(file("voz.wav") + "\rm\x1B");
  EXPECT_EQ(leftValues(sound()), (Values{100, 200, 300, 400}));
  EXPECT_EQ(occurrences("Desistiu..."), 3);
}

// Each refusal is told and leaves the working sound as it was; none of
// them says "Sons misturados".
TEST_F(Mix, SoundsThatCannotBeMixedAreToldAndChangeNothing) {
  mix(file("nada.wav") + "\r");
  EXPECT_TRUE(shown("Arquivo n\xE3o encontrado"));
  mix("\r");  // no name: nothing at all

  // A header cut short: no sound at all.
  std::vector<uint8_t> cut = readFileBytes(file("voz.wav"));
  cut.resize(30);
  writeFileBytes(file("largo.wav"), cut);
  mix(file("largo.wav") + "\r");
  EXPECT_TRUE(shown("Arquivo incompat\xEDvel com este programa"));

  // A second sound beyond the memory limit, like the working sound.
  program().settings.maxMemoryMb = 1;
  TAmostras big;
  big.createSized(1, 22050, 16, 1048577);
  ASSERT_TRUE(big.saveWav(file("grande.wav")));
  mix(file("grande.wav") + "\r");
  EXPECT_TRUE(shown("N\xE3o h\xE1 mem\xF3ria suficiente para esta edi\xE7\xE3o"));
  program().settings.maxMemoryMb = 0;

  // A working sound that cannot grow to take the mix at its end.
  sound().setMemoryLimit(sound().count());
  clearScreen();
  mix(file("voz.wav") + "\rmf");
  EXPECT_TRUE(shown("N\xE3o h\xE1 mem\xF3ria suficiente para esta edi\xE7\xE3o"));

  EXPECT_EQ(leftValues(sound()), (Values{100, 200, 300, 400}));
  EXPECT_FALSE(shown("Sons misturados"));
}

TEST_F(Mix, StereoCdFileIntoMonoRadioSound) {
  TAmostras cd;
  std::vector<std::pair<int16_t, int16_t>> frames(4410, {2000, 4000});
  fillStereo(cd, frames, 44100);
  ASSERT_TRUE(cd.saveWav(file("cd.wav")));
  mix(file("cd.wav") + "\rmi");
  EXPECT_EQ(sound().channels(), 1);
  EXPECT_EQ(sound().sampleRate(), 22050);
  EXPECT_EQ(sound().count(), 2205);
  EXPECT_EQ(leftValues(sound())[0], 100 + 3000);
  EXPECT_EQ(leftValues(sound())[100], 3000);
}

TEST_F(Mix, Mp3IsDecodedWithLameIntoATemporaryFileThatIsRemoved) {
  TAmostras tone;
  std::vector<int16_t> values(22050);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int16_t>((i / 25) % 2 ? 8000 : -8000);
  fillMono(tone, values);
  ASSERT_TRUE(tone.saveWav(file("tom.wav")));
  ASSERT_EQ(wavToMp3(file("tom.wav"), file("tom.mp3")), Conversion::done);
  mix(file("tom.mp3") + "\rai");
  EXPECT_GE(sound().count(), 4 + 22050);
  EXPECT_TRUE(shown("Sons misturados"));
  for (const auto& entry : std::filesystem::directory_iterator(tempDirectory()))
    EXPECT_NE(entry.path().filename().string().rfind("WAV", 0), 0u) << entry.path();
}

TEST_F(Mix, AFailedDecodingIsReported) {
  writeFileBytes(file("ruim.mp3"), {'n', 'o', 'p', 'e'});
  mix(file("ruim.mp3") + "\r");
  EXPECT_TRUE(shown("Convers\xE3o MP3 foi mal sucedida"));
  EXPECT_EQ(sound().count(), 4);
}

}  // namespace
}  // namespace kalimbro
