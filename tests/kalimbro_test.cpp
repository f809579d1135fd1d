// The main loop's file keys (F2, F3) and the save at the end, run through
// mainMenu with scripted keys.
#include "app/kalimbro.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <set>

#include "app/programState.h"
#include "console/VrCrt.h"
#include "edit/klEfeito.h"
#include "edit/klMistura.h"
#include "platform/paths.h"
#include "sound/klGrava.h"
#include "sound/gramost.h"
#include "tests/fakes/command_fixture.h"
#include "tests/fakes/key_script.h"
#include "tests/fakes/temp_places.h"

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

// Runs in `dir` with nowhere to make the temporary directory; puts the
// current directory, $TMPDIR and the system places back afterwards.
class NoTemporaryDirectory {
 public:
  explicit NoTemporaryDirectory(const std::string& dir) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
    setenv("TMPDIR", "/nonexistent-kalimbro", 1);
    setSystemTempPlaces({dir + "/falta"});
  }
  ~NoTemporaryDirectory() { std::filesystem::current_path(previous_); }
  NoTemporaryDirectory(const NoTemporaryDirectory&) = delete;
  NoTemporaryDirectory& operator=(const NoTemporaryDirectory&) = delete;

 private:
  RestoredTempPlaces restored_;
  std::filesystem::path previous_;
};

// A scratch name built on an empty temporary directory would be a bare
// name of the current directory, where the user's own file may be: the
// commands that need the directory say so and touch no file, the others go
// on (G keeps its takes in the state folder), and the end removes nothing.
TEST_F(MainLoop, WithoutATemporaryDirectoryNoFileOfTheCurrentDirectoryIsTouched) {
  const NoTemporaryDirectory nowhere(dir());
  ASSERT_EQ(tempDirectory(), "");
  fillMono(sound(), {1000, 2000, 3000});
  ASSERT_TRUE(sound().saveWav("voz.wav"));
  const std::vector<uint8_t> before = readFileBytes("voz.wav");
  writeFileBytes("musica.mp3", {'I', 'D', '3'});
  program().workingFileName = "voz.wav";
  program().tempSoundFile = scratchSoundFileFor(program().workingFileName);
  EXPECT_EQ(program().tempSoundFile, "");

  constexpr std::string_view kNoPlace = "Sem pasta tempor\xE1ria, este comando n\xE3o pode ser feito";
  KeyScript keys;
  keys.type("t");                         // a SoX effect needs files
  keys.type("+").type("n").key("\x1B");   // a built-in one keeps its copy in memory
  keys.key("\x1B").type("n");             // G keeps takes in the state folder: no take, not saved
  keys.type("musica.mp3\r");              // an MP3 to mix is decoded into a file
  keys.key(std::string("\0\x3B", 2));     // F1 at the end's question: its answers
  keys.type("s").type("n");               // the end, without saving
  effectsCommand();
  EXPECT_TRUE(shown(kNoPlace));
  EXPECT_TRUE(shown("Aumentei o volume"));
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{1000, 2000, 3000}));
  clearScreen();
  recordMoreCommand();
  EXPECT_FALSE(shown(kNoPlace));
  clearScreen();
  mixCommand();
  EXPECT_TRUE(shown(kNoPlace));
  EXPECT_TRUE(confirmEnd());
  EXPECT_TRUE(shown("S termina o programa; outra tecla volta ao menu"));

  EXPECT_EQ(keys.remaining(), 0u);
  EXPECT_EQ(readFileBytes("voz.wav"), before);
  std::set<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir()))
    if (e.is_regular_file()) files.insert(e.path().filename().string());
  EXPECT_EQ(files, (std::set<std::string>{"musica.mp3", "voz.wav"}));
}

TEST(ScratchFile, NamedAfterTheWorkingFileOrFixedWithoutOne) {
  EXPECT_EQ(scratchSoundFileFor("/home/u/voz.wav"), tempDirectory() + "voz.wav");
  EXPECT_EQ(scratchSoundFileFor(""), tempDirectory() + "kalimbro.wav");
  EXPECT_EQ(scratchSoundFileFor("/home/u/"), tempDirectory() + "kalimbro.wav");
}

}  // namespace
}  // namespace kalimbro
