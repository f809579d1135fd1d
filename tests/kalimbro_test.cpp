// The main loop's file keys (F2, F3) and the save at the end, run through
// mainMenu with scripted keys.
#include "app/kalimbro.h"

#include <gtest/gtest.h>

#include "app/programState.h"
#include "console/VrCrt.h"
#include "platform/paths.h"
#include "sound/gramost.h"
#include "tests/fakes/command_fixture.h"
#include "tests/fakes/key_script.h"

namespace kalimbro {
namespace {

const std::string kF2("\0\x3C", 2), kF3("\0\x3D", 2);

class MainLoop : public CommandTest {
 protected:
  static std::vector<int16_t> savedValues(const std::string& name) {
    TAmostras s;
    EXPECT_TRUE(s.loadWav(name)) << name;
    return leftValues(s);
  }
};

TEST_F(MainLoop, F3SavesIfWantedThenForgetsTheName) {
  fillMono(sound(), {4, 5, 6});
  program().workingFileName = file("voz.wav");
  program().currentPosition = 2;
  KeyScript keys;
  keys.key(kF3).key("\r");                       // save, then forget
  keys.key(kF2).type(file("outro")).key("\r");  // F2 now asks for a name
  keys.key("\x1B").type("s").type("n");          // the end, without saving
  mainMenu();
  EXPECT_EQ(savedValues(file("voz.wav")), (std::vector<int16_t>{4, 5, 6}));
  EXPECT_EQ(savedValues(file("outro")), (std::vector<int16_t>{4, 5, 6}));
  EXPECT_EQ(program().currentPosition, 0);
  EXPECT_EQ(program().soundBuffer, nullptr);  // the end destroyed it
}

TEST_F(MainLoop, F3AnsweredNOrEscSavesNothing) {
  fillMono(sound(), {4, 5, 6});
  program().workingFileName = file("voz.wav");
  KeyScript keys;
  keys.key(kF3).key("\x1B");  // gives up: the name stays
  // F1 at a one-key question is no answer: it would have saved.
  keys.key(kF3).key(std::string("\0\x3B", 2)).type("n");  // forgets without saving
  keys.key("\x1B").key(std::string("\0\x3B", 2)).type("s").type("n");
  mainMenu();
  EXPECT_TRUE(shown("Desistiu..."));
  EXPECT_EQ(program().workingFileName, "");
  EXPECT_FALSE(fileExists(file("voz.wav")));
}

TEST_F(MainLoop, TheEndSavesAndASaveThatFailsKeepsTheProgramRunning) {
  fillMono(sound(), {1, 2});
  program().workingFileName = file("falta/voz.wav");
  program().tempSoundFile = scratchSoundFileFor(program().workingFileName);
  ASSERT_TRUE(sound().saveWav(program().tempSoundFile));
  KeyScript keys;
  keys.key("\x1B").type("s").key("\r");     // the save fails: the loop goes on
  keys.type("z");                            // an option: the loop is still there
  keys.key("\x1B").type("s").key("\x1B");  // ESC at the save question: goes on too
  keys.key("\x1B").type("s").type("n");     // ends without saving
  mainMenu();
  EXPECT_TRUE(shown("Erro de grava\xE7\xE3o"));
  EXPECT_TRUE(shown("Op\xE7\xE3o inv\xE1lida, F1 ajuda"));
  EXPECT_EQ(keys.remaining(), 0u);
  EXPECT_FALSE(fileExists(program().tempSoundFile));  // the scratch copy goes at the end
}

TEST_F(MainLoop, TheEndSavesTheWorkingFileAndEncodesAnMp3TwinBack) {
  fillMono(sound(), std::vector<int16_t>(22050, 2000));
  program().workingFileName = file("som.mp3.wav");
  KeyScript keys;
  keys.key("\x1B").type("s").type("s");
  mainMenu();
  EXPECT_GT(*fileSize(file("som.mp3")), 0u);
  EXPECT_FALSE(fileExists(file("som.mp3.wav")));
}

TEST(ScratchFile, NamedAfterTheWorkingFileOrFixedWithoutOne) {
  EXPECT_EQ(scratchSoundFileFor("/home/u/voz.wav"), tempDirectory() + "voz.wav");
  EXPECT_EQ(scratchSoundFileFor(""), tempDirectory() + "kalimbro.wav");
  EXPECT_EQ(scratchSoundFileFor("/home/u/"), tempDirectory() + "kalimbro.wav");
}

}  // namespace
}  // namespace kalimbro
