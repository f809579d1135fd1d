#include "console/vrfala.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "console/VrCrt.h"
#include "console/vrini.h"
#include "console/vrnum.h"
#include "platform/paths.h"
#include "platform/wav_header.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_speech_player.h"
#include "tests/fakes/fake_terminal.h"
#include "tests/fakes/key_script.h"
#include "tests/fakes/temp_config.h"

namespace kalimbro {
namespace {

using Heard = std::vector<std::string>;

// A letters directory of test sounds: every word file holds its own name
// as data ("_sete.wav" holds "sete "), so a gathered image reads as the
// words it joined. Letter sounds exist for the codes 32..126 only.
class LettersDir {
 public:
  LettersDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/kalimbro_letras_XXXXXX";
    if (mkdtemp(pattern.data())) path = pattern;
    for (const NumberWordFile& f : allNumberWordFiles()) {
      const std::string word = f.fileName.substr(1, f.fileName.size() - 5);
      write(f.fileName, word + " ");
    }
    for (int c = 32; c <= 126; ++c) write("_" + std::to_string(c) + ".wav", "letter");
    for (const char* name : {"_unknown.wav", "_zero.wav", "_MENOS.wav", "_FON9.wav", "_hora.wav",
                             "_horas.wav", "_minuto.wav", "_minutos.wav"})
      write(name, "sound");
  }
  ~LettersDir() { std::filesystem::remove_all(path); }

  // A WAV file whose data are `data` (8-bit mono 11025 Hz).
  void write(const std::string& name, const std::string& data) const {
    const auto header = makeWavHeader(static_cast<uint32_t>(data.size()), 11025, 1, 8);
    std::ofstream out(path + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), header.size());
    out << data;
  }
  void remove(const std::string& name) const { std::filesystem::remove(path + "/" + name); }

  std::string path;
};

class Speech : public ::testing::Test {
 protected:
  void SetUp() override {
    setIniLegacy(false);
    crtInit(&term);
    configure("");
  }
  void TearDown() override {
    endSpeech();
    crtInit(nullptr);
    setIniLegacy(true);
  }
  // Writes the settings (after the letters directory) and starts speech.
  void configure(const std::string& moreSettings, int speed = 0) {
    config.writeFamilyIni("[TRADUTOR]\nDIRLETRAS=" + letters.path + "\n" + moreSettings);
    initSpeech(speed, "/mensagens");
    player.clear();
  }
  // The letter sound of character c, as heard() names it.
  static std::string letter(char c) { return "_" + std::to_string(static_cast<uint8_t>(c)); }

  FakeTerminal term;
  TempConfigHome config;
  LettersDir letters;
  ScopedFakeSpeechPlayer player;
};

// What an image of the fake's log holds, for images that are not words.
bool isClick(const FakeSpeechPlayer::Played& p) {
  if (p.kind != FakeSpeechPlayer::Played::Kind::Image || p.what.size() != 256) return false;
  for (size_t i = 0; i < 256; ++i) {
    const uint8_t v = static_cast<uint8_t>(p.what[i]);
    if (i < 64 ? (v < 128 || v > 187) : v != 128) return false;
  }
  return true;
}

TEST_F(Speech, LeadingZerosThenTheNumberInWords) {
  speak("007");
  EXPECT_EQ(player.heard(), (Heard{"_zero", "_zero", "image:sete "}));
}

TEST_F(Speech, DigitRunsUpToSixAreSaidLongerOrHyphenatedAreSpelled) {
  speak("123456");
  EXPECT_EQ(player.heard(), (Heard{"image:cento e vinte e tres mil e quatroc e cinquen e seis "}));

  player.clear();
  speak("1234567");
  EXPECT_EQ(player.heard(), (Heard{letter('1'), letter('2'), letter('3'), letter('4'), letter('5'),
                                   letter('6'), letter('7')}));

  player.clear();
  speak("12-34");
  EXPECT_EQ(player.heard(),
            (Heard{letter('1'), letter('2'), letter('-'), letter('3'), letter('4')}));
}

TEST_F(Speech, MinusBeforeADigitAndHyphensElsewhere) {
  speak("-5");
  EXPECT_EQ(player.heard(), (Heard{"_MENOS", "image:cinco "}));

  // Hyphenated words flow as words; a lone hyphen is its letter.
  player.clear();
  speak("bem-vindo -x");
  EXPECT_EQ(player.heard(), (Heard{"words:bem", "words:vindo", letter('-'), "words:x"}));
}

TEST_F(Speech, WordsGoToTheSynthesizerExceptWww) {
  speak("Ol\xE1 www.casa WwW");
  EXPECT_EQ(player.heard(),
            (Heard{"words:Ol\xE1", letter('w'), letter('w'), letter('w'), letter('.'),
                   "words:casa", letter('W'), letter('w'), letter('W')}));
}

TEST_F(Speech, SixteenAndSeventeenHaveTheirOwnWords) {
  speak("16 17");
  EXPECT_EQ(player.heard(), (Heard{"image:dezesse ", "image:dezeset "}));
}

TEST_F(Speech, ARepeatedCharacterClicksFromItsFifth) {
  speak("......");
  ASSERT_EQ(player.played.size(), 6u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(player.heard()[i], letter('.'));
  EXPECT_TRUE(isClick(player.played[4]));
  EXPECT_TRUE(isClick(player.played[5]));

  // Blanks at the start count from the blank before the text.
  player.clear();
  speak("    x");
  ASSERT_EQ(player.played.size(), 2u);
  EXPECT_TRUE(isClick(player.played[0]));
  EXPECT_EQ(player.heard()[1], "words:x");

  // Blanks between words are no run.
  player.clear();
  speak("a b c d e 1 2 3 4 5");
  EXPECT_EQ(player.heard(), (Heard{"words:a", "words:b", "words:c", "words:d", "words:e", "image:um ",
                                   "image:dois ", "image:tres ", "image:quatro ", "image:cinco "}));
}

TEST_F(Speech, TheClickPlaysWithFastModeOff) {
  configure("[SINTETIZADOR]\nCORTAFALA3=S\n");
  ASSERT_TRUE(player.fastMode());
  clickSound();
  ASSERT_EQ(player.played.size(), 1u);
  EXPECT_TRUE(isClick(player.played[0]));
  EXPECT_FALSE(player.played[0].fastModeWhenPlayed);
  EXPECT_TRUE(player.fastMode());
}

TEST_F(Speech, PausesFollowPunctuation) {
  ScopedFakeClock clock;
  speak("a. b");
  EXPECT_EQ(clock.sleptMs(), 250);
  EXPECT_EQ(player.heard(), (Heard{"words:a", letter('.'), "words:b"}));

  speak("a, b");  // 150 more
  speak("a: b");  // 200 more
  speak("a.b");   // a full stop inside a word: no pause
  EXPECT_EQ(clock.sleptMs(), 600);

  // An address's colon is spelled without a pause.
  player.clear();
  speak("http://x");
  EXPECT_EQ(clock.sleptMs(), 600);
  EXPECT_EQ(player.heard(),
            (Heard{"words:http", letter(':'), letter('/'), letter('/'), "words:x"}));
}

TEST_F(Speech, PausesComeFromTheSpeedLevel) {
  configure("[SINTETIZADOR]\nPAUSAPONTO2=400\nPAUSAVIRG2=x\n", 2);
  ScopedFakeClock clock;
  speak("a. b");
  EXPECT_EQ(clock.sleptMs(), 400);
  speak("a, b");  // unreadable: the usual 150
  EXPECT_EQ(clock.sleptMs(), 550);
}

TEST_F(Speech, AKeyStopsSpeechAndStaysQueued) {
  player.playingChecksPerSound = 5;
  KeyScript keys;
  keys.type("x");
  speak("casa. bola 123");
  for (const std::string& h : player.heard()) {
    EXPECT_NE(h, "words:bola");
    EXPECT_NE(h, "image:cento e vinte e tres ");
  }
  EXPECT_GT(player.stops, 0);
  ASSERT_TRUE(keyPressed());
  EXPECT_EQ(readKey(), 'x');
}

TEST_F(Speech, IsSpeakingWhilePlayingUntilAKeyIsQueued) {
  EXPECT_FALSE(isSpeaking());
  player.playingChecksPerSound = 100;
  speakLetter('a');
  EXPECT_TRUE(isSpeaking());
  const int stops = player.stops;
  crtQueueKey("k");
  EXPECT_FALSE(isSpeaking());
  EXPECT_GT(player.stops, stops);
  EXPECT_EQ(readKey(), 'k');
}

TEST_F(Speech, LettersAndTheirFallbacks) {
  speakLetter('A');
  speakLetter(200);  // no sound recorded for it
  speakLetter(5);    // control characters are silent
  speakLetter(31);
  spellText("a\tb");
  EXPECT_EQ(player.heard(), (Heard{"_65", "_unknown", letter('a'), "_FON9", letter('b')}));
  EXPECT_EQ(player.played[0].what, letters.path + "/_65.wav");
}

TEST_F(Speech, NamedSoundsComeFromTheirDirectories) {
  speakSound("_zero");
  speakSound("KLMENU");
  ASSERT_EQ(player.played.size(), 2u);
  EXPECT_EQ(player.played[0].what, letters.path + "/_zero.wav");
  EXPECT_EQ(player.played[1].what, "/mensagens/KLMENU.wav");
  EXPECT_TRUE(soundExists("_MENOS"));
  EXPECT_FALSE(soundExists("_NADA"));
  EXPECT_FALSE(soundExists("KLMENU"));
}

TEST_F(Speech, KeysReadWithEcho) {
  KeyScript keys;
  keys.key("\xDE").key(std::string("\0\x10", 2)).key("q").key("B");
  uint8_t key, ext;
  readKeyEchoed(key, ext);  // the focus marker is skipped; Alt+Q's byte follows
  EXPECT_EQ(key, 'q');
  EXPECT_EQ(ext, 16);
  readKeyEchoed(key, ext);
  EXPECT_EQ(key, 'B');
  EXPECT_EQ(ext, 32);
  EXPECT_EQ(player.heard(), (Heard{letter('q'), letter('B')}));
  EXPECT_EQ(screenCharAt(1, 1), 'q');
  EXPECT_EQ(screenCharAt(2, 1), 'B');
}

TEST_F(Speech, F8SaysTheTimeWhileReadingAKey) {
  KeyScript keys;
  keys.key(std::string("\0\x42", 2)).key("\r");
  uint8_t key, ext;
  readKeyEchoed(key, ext);
  EXPECT_EQ(key, '\r');
  const Heard heard = player.heard();
  ASSERT_GE(heard.size(), 2u);
  EXPECT_TRUE(heard[0].starts_with("image:"));
  EXPECT_TRUE(heard[1] == "_hora" || heard[1] == "_horas");
}

TEST_F(Speech, TheBeepDiscardsQueuedKeys) {
  crtQueueKey("a");
  beepSound();
  EXPECT_FALSE(keyPressed());
  ASSERT_EQ(player.played.size(), 1u);
  const std::string& data = player.played[0].what;
  ASSERT_EQ(data.size(), 512u);
  EXPECT_EQ(static_cast<uint8_t>(data[4]), 64);
  EXPECT_EQ(static_cast<uint8_t>(data[510]), 96);
  EXPECT_EQ(static_cast<uint8_t>(data[511]), 128);
}

// ---- Spoken numbers --------------------------------------------------------

TEST_F(Speech, NumberWordsPlayAsOneImage) {
  speakNumberWords("cento e vinte", false);
  ASSERT_EQ(player.played.size(), 1u);
  EXPECT_EQ(player.played[0].what, "cento e vinte ");
  const std::string& header = player.played[0].header;
  ASSERT_EQ(header.size(), kWavHeaderBytes);
  const auto* h = reinterpret_cast<const uint8_t*>(header.data());
  EXPECT_EQ(readLe32(h + 24), 11025u);  // rate
  EXPECT_EQ(readLe16(h + 22), 1u);      // channels
  EXPECT_EQ(readLe16(h + 34), 8u);      // bits
  EXPECT_EQ(readLe32(h + 40), 14u);     // data bytes
}

TEST_F(Speech, TheHourIsFeminineAndMissingWordsLeaveAGap) {
  speakNumberWords("vinte e um", true);
  speakNumberWords("dois", true);
  speakNumberWords("vinte e um", false);
  letters.remove("_e.wav");
  speakNumberWords("cento e um", false);
  EXPECT_EQ(player.heard(), (Heard{"image:vinte e uma ", "image:duas ", "image:vinte e um ",
                                   "image:cento um "}));
}

TEST_F(Speech, NumberWordsFlushEvery30000Bytes) {
  letters.write("_dois.wav", std::string(15000, 'd'));
  letters.write("_mil.wav", std::string(20000, 'm'));
  letters.write("_cem.wav", std::string(40000, 'c'));  // longer than the area: cut
  speakNumberWords(numberWords(2100), false);          // "dois mil e cem"
  ASSERT_EQ(player.played.size(), 3u);
  EXPECT_EQ(player.played[0].what, std::string(15000, 'd'));
  EXPECT_EQ(player.played[1].what, std::string(20000, 'm') + "e ");
  EXPECT_EQ(player.played[2].what, std::string(30000, 'c'));
}

TEST_F(Speech, NumberWordsWaitForEachImage) {
  letters.write("_dois.wav", std::string(20000, 'd'));
  letters.write("_mil.wav", std::string(20000, 'm'));
  player.playingChecksPerSound = 3;
  speakNumberWords("dois mil", false);
  ASSERT_EQ(player.played.size(), 2u);
  // Three answers of "playing" and the one that ends each wait.
  EXPECT_EQ(player.isPlayingCalls, 8);
}

// ---- Settings --------------------------------------------------------------

TEST_F(Speech, TheSpeedLevelComesFromTheCallerOrTheSettings) {
  configure("VELOCIDADE=9\n", 0);
  EXPECT_EQ(player.startedLevel, 3);
  configure("VELOCIDADE=5\n", 0);
  EXPECT_EQ(player.startedLevel, 5);
  configure("VELOCIDADE=5\n", 2);
  EXPECT_EQ(player.startedLevel, 2);
  configure("VELOCIDADE=5\n", 7);
  EXPECT_EQ(player.startedLevel, 3);
}

TEST_F(Speech, SwitchesOfTheSpeedLevel) {
  configure("[SINTETIZADOR]\nRAPIDINHO3=S\nCORTAFALA3=n\nCORTAFALA2=S\n");
  EXPECT_TRUE(player.speedUp());
  EXPECT_FALSE(player.fastMode());
  configure("[SINTETIZADOR]\nRAPIDINHO3=Nao\nCORTAFALA2=S\n", 2);
  EXPECT_FALSE(player.speedUp());
  EXPECT_TRUE(player.fastMode());
}

TEST_F(Speech, TheLettersDirectoryWithSubstitutions) {
  config.writeFamilyIni("[TRADUTOR]\nDIRLETRAS=@@/letras\n");
  initSpeech(0, "");
  EXPECT_EQ(speechLettersDir(), familyIniDirectory() + "/letras/");
  EXPECT_EQ(speechSoundDir(), "");

  config.writeFamilyIni("[VARELU]\nPGMVARELU=/opt/varelu\n[TRADUTOR]\nDIRLETRAS=@/som/letras/\n");
  initSpeech(0, "/sons/");
  EXPECT_EQ(speechLettersDir(), "/opt/varelu/som/letras/");
  EXPECT_EQ(speechSoundDir(), "/sons/");

  config.writeFamilyIni("[TRADUTOR]\nDIRLETRAS=@\n");
  initSpeech(0, "");
  EXPECT_EQ(speechLettersDir(), programDirectory() + "/");

  config.writeFamilyIni("");
  initSpeech(0, "");
  EXPECT_EQ(speechLettersDir(), programDirectory() + "/../share/varelu/som/letras/");
}

TEST_F(Speech, LegacyAndLowVisionSettings) {
  configure("[VARELU]\nLEGADO=sim\n[BAIXAVISAO]\nAMPLIACAO=5\nCORLETRA=20\nCORFUNDO=2\n");
  EXPECT_TRUE(iniLegacy());
  LowVisionSettings lv = lowVisionSettings();
  EXPECT_EQ(lv.magnification, 5);
  EXPECT_EQ(lv.textColor, 14);
  EXPECT_EQ(lv.background, 2);
  EXPECT_EQ(lv.cursorColor, 3);

  configure("[BAIXAVISAO]\nAMPLIACAO=11\n");
  EXPECT_FALSE(iniLegacy());
  EXPECT_EQ(lowVisionSettings().magnification, 3);
  configure("");
  EXPECT_EQ(lowVisionSettings().magnification, 0);
}

TEST_F(Speech, ASynthesizerThatCannotStartEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  player.startError = 2;
  EXPECT_EXIT(
      {
        KeyScript keys;
        keys.key("\r");
        crtAtClose([this] {
          // The process ends here: the fixture's directories go now.
          std::filesystem::remove_all(letters.path);
          std::filesystem::remove_all(config.path());
          for (int y = 1; y <= 2; ++y) {
            std::string row;
            // Accented letters as '?': the matching below may run in a UTF-8 locale.
            for (int x = 1; x <= 40; ++x) {
              const uint8_t c = screenCharAt(x, y);
              row += c < 128 ? static_cast<char>(c) : '?';
            }
            fprintf(stderr, "[%s]\n", row.c_str());
          }
        });
        initSpeech(0, "");
      },
      ::testing::ExitedWithCode(0),
      "\\[Erro de inicializa\\?\\?o: 2 +\\]\n\\[Banco de dados de voz: voz-teste +\\]");
}

// ---- A speech engine ----------------------------------------------------------

// The engine outlives the speech unit's use of it: TearDown ends speech.
class SpeechWithEngine : public Speech {
 protected:
  FakeSpeechEngine engine;
  ScopedFakeEngineStarter starter{&engine};
};

TEST_F(SpeechWithEngine, TextGoesToTheEngineAndSoundsWaitForIt) {
  configure("SAPI=S\n[SERVFALA]\nVOZ=2\nVELOCIDADE=15\nTOM=-3\nTIPOSAPI=54\n");
  ASSERT_TRUE(speechEngineActive());
  ASSERT_EQ(starter.starts.size(), 1u);
  EXPECT_EQ(starter.starts[0].voice, 2);
  EXPECT_EQ(starter.starts[0].rate, 0);  // above 10 only for type 4
  EXPECT_EQ(starter.starts[0].pitch, -3);
  EXPECT_EQ(starter.starts[0].type, 54);

  // The pieces of a line go as one message when the line ends, after the
  // message before it has been spoken.
  engine.busyChecksPerText = 3;
  writeSpeak("Ol\xE1 ");
  writelnSpeak("007");
  EXPECT_EQ(engine.spoken, (Heard{"Ol\xE1 007"}));
  writeSpeak("Tempo total: ");
  writeSpeak("3:0");
  crtWrite("  ");  // the screen's own spaces: the pieces are parted by one
  writeSpeak("posi\xE7\xE3o");
  writeSpeak(", 2,7");
  EXPECT_EQ(engine.spoken.size(), 1u);
  EXPECT_FALSE(keyPressed());  // looking for a key hands the pieces over
  EXPECT_EQ(engine.spoken, (Heard{"Ol\xE1 007", "Tempo total: 3:0 posi\xE7\xE3o, 2,7"}));
  EXPECT_TRUE(player.played.empty());
  speak("um");
  speakSound("_zero");  // hands the text over and waits for the engine first
  EXPECT_EQ(engine.spoken.back(), "um");
  EXPECT_EQ(engine.busyChecksLeft, 0);
  EXPECT_EQ(player.heard(), (Heard{"_zero"}));

  // A key pressed before the line ends: nothing of it is handed over.
  speak("nada, ");
  crtQueueKey("z");
  writelnSpeak("nada");
  readKey();
  EXPECT_EQ(engine.spoken.size(), 3u);
  EXPECT_EQ(engine.spoken.back(), "um");

  configure("SAPI=S\n[SERVFALA]\nVELOCIDADE=15\nTIPOSAPI=4\n");
  EXPECT_EQ(starter.starts.back().rate, 15);
  // Empty: the service keeps the rate and pitch its user chose.
  EXPECT_FALSE(starter.starts.back().pitch.has_value());
  configure("SAPI=S\n[SERVFALA]\nTOM=0\n");
  EXPECT_FALSE(starter.starts.back().rate.has_value());
  EXPECT_EQ(starter.starts.back().pitch, 0);
}

TEST_F(Speech, AnEngineThatFailsFallsBackSilently) {
  ScopedFakeEngineStarter starter(nullptr);
  configure("SAPI=Sim\n");
  EXPECT_EQ(starter.starts.size(), 1u);
  EXPECT_FALSE(speechEngineActive());
  speak("casa");
  EXPECT_EQ(player.heard(), (Heard{"words:casa"}));

  configure("SAPI=Nao\n");
  EXPECT_EQ(starter.starts.size(), 1u);
}

TEST_F(SpeechWithEngine, TheEspeakEngineIsAlwaysStopped) {
  configure("SAPI=S\n[SERVFALA]\nTIPOSAPI=3\n");
  stopSpeech();
  EXPECT_EQ(engine.stops, 1);
  configure("SAPI=S\n[SERVFALA]\nTIPOSAPI=1\n");
  stopSpeech();  // not busy: left alone
  EXPECT_EQ(engine.stops, 1);
}

TEST(SpeechText, UpperCaseAccented) {
  EXPECT_EQ(upperCaseAccented("a\xE7\xE3o z{"), "A\xC7\xC3O Z{");
  EXPECT_EQ(upperCaseAccented(uint8_t{0xE0}), 0xC0);
  EXPECT_EQ(upperCaseAccented(uint8_t{0xDF}), 0xDF);
}

}  // namespace
}  // namespace kalimbro
