#include "app/klconfig.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/programState.h"
#include "console/vrfala.h"
#include "console/vrini.h"
#include "tests/fakes/command_fixture.h"
#include "tests/fakes/fake_speech_player.h"
#include "tests/fakes/key_script.h"

namespace kalimbro {
namespace {

class Configuration : public CommandTest {
 protected:
  static std::string key(std::string_view name) { return iniRead("KALIMBRO", name); }
  Settings& settings() { return program().settings; }
};

TEST_F(Configuration, WrittenSettingsReadBackTheSame) {
  Settings s;
  s.EchoUnits = 250;
  s.echoPercent = 40;
  s.ReverbUnits = 1230;
  s.reverbPercent = 33;
  s.maxMemoryMb = 64;
  s.playBuffers = 2;
  s.recordBuffers = 8;
  s.lameProgram = "/opt/lame/bin/lame";
  s.lameEncodeOptions = "-b 128 --tt \"meu som\"";
  s.lameDecodeOptions = "--decode -S";
  writeConfig(s);
  EXPECT_EQ(key("MILI_ECO"), "25");  // the file holds a tenth
  EXPECT_EQ(key("MILI_REVERB"), "123");

  Settings back;
  readConfig(back);
  EXPECT_EQ(back.EchoUnits, 250);
  EXPECT_EQ(back.echoPercent, 40);
  EXPECT_EQ(back.ReverbUnits, 1230);
  EXPECT_EQ(back.reverbPercent, 33);
  EXPECT_EQ(back.maxMemoryMb, 64);
  EXPECT_EQ(back.playBuffers, 2);
  EXPECT_EQ(back.recordBuffers, 8);
  EXPECT_EQ(back.lameProgram, s.lameProgram);
  EXPECT_EQ(back.lameEncodeOptions, s.lameEncodeOptions);
  EXPECT_EQ(back.lameDecodeOptions, s.lameDecodeOptions);
}

TEST_F(Configuration, ReadingWithoutTheEchoKeyKeepsTheNumbersButGivesLameItsDefaults) {
  iniWrite("KALIMBRO", "FATOR_ECO", "10");
  Settings s;
  s.echoPercent = 75;
  readConfig(s);
  EXPECT_EQ(s.echoPercent, 75);
  // A fresh install still opens and writes MP3 files.
  EXPECT_EQ(s.lameProgram, "lame");
  EXPECT_EQ(s.lameEncodeOptions, "-h");
  EXPECT_EQ(s.lameDecodeOptions, "--decode");

  // With the key, numbers that are no numbers read 0 and empty texts get
  // their defaults; reading limits nothing.
  iniWrite("KALIMBRO", "MILI_ECO", "25");
  iniWrite("KALIMBRO", "NBUF_TOCA", "12x");
  iniWrite("KALIMBRO", "NBUF_GRAVA", "20");
  iniWrite("KALIMBRO", "FATOR_REVERB", "\" 30\"");  // the quotes keep the blank
  readConfig(s);
  EXPECT_EQ(s.EchoUnits, 250);
  EXPECT_EQ(s.echoPercent, 10);
  EXPECT_EQ(s.ReverbUnits, 0);
  EXPECT_EQ(s.reverbPercent, 30);
  EXPECT_EQ(s.playBuffers, 0);
  EXPECT_EQ(s.recordBuffers, 20);
  EXPECT_FALSE(s.lameProgram.empty());
  EXPECT_EQ(s.lameEncodeOptions, "-h");
  EXPECT_EQ(s.lameDecodeOptions, "--decode");
}

TEST_F(Configuration, TheFormCorrectsZerosAndBufferCountsAndSetsTheMemoryLimit) {
  iniWrite("KALIMBRO", "MILI_ECO", "25");
  iniWrite("KALIMBRO", "PROGLAME", "/usr/bin/lame");
  KeyScript keys;
  keys.type("n");                          // keep the values of the file
  keys.type("0").key("\r");                // echo milliseconds
  keys.type("0").key("\r");                // echo percent
  keys.key("\r").key("\r");                // reverberation unchanged
  keys.type("3").key("\r");                // memory
  keys.type("0").key("\r");                // play buffers
  keys.type("9").key("\x1B");              // record buffers; ESC still takes the form
  configure();
  EXPECT_TRUE(shown("OK configurado"));
  EXPECT_EQ(settings().EchoUnits, 3000);
  EXPECT_EQ(settings().echoPercent, 75);
  EXPECT_EQ(settings().ReverbUnits, 2000);  // absent, so read as 0, then corrected
  EXPECT_EQ(settings().playBuffers, 4);
  EXPECT_EQ(settings().recordBuffers, 4);
  EXPECT_EQ(settings().lameProgram, "/usr/bin/lame");
  EXPECT_EQ(sound().memoryLimit(), 3 * 1048576);
  EXPECT_EQ(key("MILI_ECO"), "300");
  EXPECT_EQ(key("NBUF_TOCA"), "4");
  EXPECT_EQ(key("NBUF_GRAVA"), "4");
  EXPECT_EQ(key("MAX_MEMORIA"), "3");
}

TEST_F(Configuration, TheFormShowsTheTenthAndKeepsInRangeValues) {
  iniWrite("KALIMBRO", "MILI_ECO", "25");
  KeyScript keys;
  keys.type("n");
  for (int i = 0; i < 5; ++i) keys.key("\r");
  keys.type("2").key("\r").type("8").key("\x1B");
  configure();
  EXPECT_TRUE(shown("25"));
  EXPECT_EQ(settings().EchoUnits, 250);
  EXPECT_EQ(key("MILI_ECO"), "25");
  EXPECT_EQ(settings().playBuffers, 2);
  EXPECT_EQ(settings().recordBuffers, 8);
}

TEST_F(Configuration, DefaultsKeepTheLameProgramAndEscTouchesNothing) {
  iniWrite("KALIMBRO", "MILI_ECO", "25");
  iniWrite("KALIMBRO", "NBUF_TOCA", "7");
  iniWrite("KALIMBRO", "PROGLAME", "/opt/lame");
  iniWrite("KALIMBRO", "LAME_IN_CMD", "-b 64");
  const std::string before = config.readFamilyIni();
  KeyScript esc;
  esc.key("\x1B");
  configure();
  EXPECT_EQ(config.readFamilyIni(), before);
  EXPECT_EQ(settings().lameProgram, "lame");  // what the fixture put there

  KeyScript keys;
  keys.type("s").key("\x1B");
  configure();
  EXPECT_EQ(settings().EchoUnits, 3000);
  EXPECT_EQ(settings().playBuffers, 4);
  EXPECT_EQ(settings().lameProgram, "/opt/lame");
  EXPECT_EQ(settings().lameEncodeOptions, "-h");
  EXPECT_EQ(key("MILI_ECO"), "300");
  EXPECT_EQ(key("LAME_IN_CMD"), "-h");
  EXPECT_EQ(key("PROGLAME"), "/opt/lame");
}

TEST_F(Configuration, EmptiedLameTextsTakeTheirDefaultsAndAnUnwritableFileIsTold) {
  iniWrite("KALIMBRO", "MILI_ECO", "25");
  KeyScript keys;
  keys.type("n");
  for (int i = 0; i < 7; ++i) keys.key("\r");
  keys.key("\x19");  // Control+Y empties the LAME program's field
  keys.key("\x1B");
  configure();
  EXPECT_EQ(settings().lameProgram, "lame");
  EXPECT_EQ(key("PROGLAME"), "lame");
  EXPECT_TRUE(shown("OK configurado"));

  // A directory in the settings file's place: nothing can be written.
  std::filesystem::remove(config.familyIniFile());
  std::filesystem::create_directory(config.familyIniFile());
  KeyScript again;
  again.type("n").key("\x1B");
  configure();
  EXPECT_TRUE(shown("Erro de grava\xE7\xE3o"));
  EXPECT_FALSE(shown("OK configurado"));
}

// The field after the speech server's shows times in hours; it is kept
// in the settings file.
TEST_F(Configuration, TimesInHoursAreChosenInTheFormAndKept) {
  iniWrite("KALIMBRO", "MILI_ECO", "25");
  KeyScript keys;
  keys.type("n");
  for (int i = 0; i < 11; ++i) keys.key("\r");
  keys.type("s").key("\x1B");
  configure();
  EXPECT_TRUE(settings().timesInHours);
  EXPECT_EQ(key("TEMPO_HORAS"), "S");
  settings().timesInHours = false;
  readConfig(settings());
  EXPECT_TRUE(settings().timesInHours);
  settings().timesInHours = false;
}

// The eleventh field chooses the speech server: the change is written to the
// speech settings and speech starts again with it at once.
TEST_F(Configuration, TheEleventhFieldChoosesTheSpeechServerAndSpeechStartsAgain) {
  // Letters from nowhere, as before speech first started in these tests.
  iniWrite("TRADUTOR", "DIRLETRAS", dir() + "/letras");
  iniWrite("TRADUTOR", "SAPI", "S");
  iniWrite("SERVFALA", "TIPOSAPI", "3");  // espeak-ng as the engine: not the server
  const auto toServerField = [](KeyScript& keys) {
    keys.type("n");
    for (int i = 0; i < 10; ++i) keys.key("\r");
  };
  FakeSpeechEngine engine;
  {
    ScopedFakeEngineStarter starter(&engine);
    KeyScript keep;
    toServerField(keep);
    keep.key("\x1B");
    configure();
    EXPECT_TRUE(shown("Fala pelo speech-dispatcher N"));
    EXPECT_TRUE(starter.starts.empty());  // nothing changed: speech is left alone
    EXPECT_EQ(iniRead("SERVFALA", "TIPOSAPI"), "3");

    KeyScript on;
    toServerField(on);
    on.type("s").key("\x1B");
    configure();
    EXPECT_EQ(iniRead("TRADUTOR", "SAPI"), "S");
    EXPECT_EQ(iniRead("SERVFALA", "TIPOSAPI"), "0");
    ASSERT_EQ(starter.starts.size(), 1u);
    EXPECT_EQ(starter.starts[0].type, 0);
    EXPECT_TRUE(speechEngineActive());
    EXPECT_TRUE(shown("OK configurado"));

    KeyScript off;
    toServerField(off);
    off.type("N").key("\x1B");
    configure();
    EXPECT_EQ(iniRead("TRADUTOR", "SAPI"), "N");
    EXPECT_EQ(starter.starts.size(), 1u);
    EXPECT_FALSE(speechEngineActive());
  }
  // A server that does not answer is told; the choice is kept for later.
  ScopedFakeEngineStarter failing(nullptr);
  KeyScript on;
  toServerField(on);
  on.type("s").key("\x1B");
  configure();
  EXPECT_TRUE(shown("O speech-dispatcher n\xE3o respondeu"));
  EXPECT_FALSE(speechEngineActive());
  EXPECT_EQ(iniRead("TRADUTOR", "SAPI"), "S");
  endSpeech();
}

}  // namespace
}  // namespace kalimbro
