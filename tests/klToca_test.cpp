// The play command against a fake audio device and scripted keys: where it
// leaves the play cursor and the mark, what it shows, and what the device
// was given to play.
#include "sound/klToca.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "app/programState.h"
#include "console/VrCrt.h"
#include "sound/gramost.h"
#include "sound/vrwav.h"
#include "tests/fakes/fake_audio.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_speech_player.h"
#include "tests/fakes/key_script.h"
#include "tests/fakes/probed_keys.h"
#include "tests/fakes/temp_config.h"

namespace kalimbro {
namespace {

std::string ext(uint8_t code) { return std::string{'\0', static_cast<char>(code)}; }

const std::string kF1 = ext(59), kF5 = ext(63), kF6 = ext(64), kHome = ext(71), kPageUp = ext(73),
                  kLeft = ext(75), kRight = ext(77), kEnd = ext(79), kPageDown = ext(81),
                  kCtrlLeft = ext(115), kCtrlRight = ext(116), kCtrlDown = ext(114);
constexpr char kEnter[] = "\r", kEsc[] = "\x1B", kSpace[] = " ";

// A mono sound whose frames can be told apart: frame i holds (i mod 30000)
// - 15000.
int16_t frameValue(int64_t i) { return static_cast<int16_t>(i % 30000 - 15000); }

std::string screenRow(int y) {
  std::string row;
  for (int x = 1; x <= kScreenColumns; ++x) row += static_cast<char>(screenCharAt(x, y));
  return row;
}

bool screenShows(std::string_view text) {
  for (int y = 1; y <= kScreenRows; ++y)
    if (screenRow(y).find(text) != std::string::npos) return true;
  return false;
}

class PlayCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    crtInit(nullptr);
    initPlayback();
    setOutputDevice("placa");
    ProgramState& p = program();
    p.soundBuffer = std::make_unique<TAmostras>();
    p.currentPosition = 0;
    p.markedPosition = 0;
    p.settings = Settings{};
  }
  void TearDown() override {
    endPlayback();
    while (keyPressed()) readKey();
    program().soundBuffer = std::make_unique<TAmostras>();
    program().currentPosition = 0;
    program().markedPosition = 0;
  }

  TAmostras& makeSound(int32_t rate, int64_t frames) {
    TAmostras& s = *program().soundBuffer;
    s.createSized(1, rate, 16, frames);
    for (int64_t i = 0; i < frames; ++i) s.setFrame(i, packFrame(frameValue(i), frameValue(i)));
    return s;
  }

  // Left values of the 16-bit stereo frames the device got, from block
  // `firstBlock` on.
  std::vector<int16_t> framesPlayed(size_t firstBlock = 0) {
    std::vector<int16_t> frames;
    for (size_t b = firstBlock; b < fake.blocks.size(); ++b) {
      const std::vector<uint8_t>& bytes = fake.blocks[b].bytes;
      for (size_t i = 0; i + 3 < bytes.size(); i += 4)
        frames.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
    }
    return frames;
  }

  static std::vector<int16_t> soundFrames(int64_t start, int64_t length) {
    std::vector<int16_t> frames;
    for (int64_t i = start; i < start + length; ++i) frames.push_back(frameValue(i));
    return frames;
  }

  TempConfigHome config;
  FakeAudio fake;
  // Speech (beeps, clicks, spoken positions) is heard elsewhere: the device
  // gets only the sound the command plays.
  ScopedFakeSpeechPlayer speech;
};

// ---------------------------------------------------------------- time text

TEST_F(PlayCommand, FormatPositionGivesSecondsAndOneDigitOfTenths) {
  EXPECT_EQ(formatPosition(33075, 22050), "1:5");
  EXPECT_EQ(formatPosition(0, 22050), "0:0");
  EXPECT_EQ(formatPosition(44100, 44100), "1:0");
  EXPECT_EQ(formatPosition(132300, 44100), "3:0");
  EXPECT_EQ(formatPosition(22049, 22050), "0:9");
  EXPECT_EQ(formatPosition(2147483647, 22050), "97391:5");
  EXPECT_EQ(formatPosition(40000000, 22050), "1814:0");
  // 11025 Hz leaves five frames past nine tenths of 1102: still the ninth.
  EXPECT_EQ(formatPosition(11024, 11025), "0:9");
  EXPECT_EQ(formatPosition(11025 + 9918, 11025), "1:9");
  // The one-argument form takes the rate of the sound being edited.
  program().soundBuffer->createSized(1, 8000, 16, 0);
  EXPECT_EQ(formatPosition(12000), "1:5");
  // Chosen in the settings: hours, minutes, seconds and tenths.
  program().settings.timesInHours = true;
  EXPECT_EQ(formatPosition(int64_t{3728} * 22050 + 4 * 2205, 22050), "1:02:08,4");
  EXPECT_EQ(formatPosition(int64_t{128} * 22050 + 2205, 22050), "2:08,1");
  EXPECT_EQ(formatPosition(2147483647, 22050), "27:03:11,5");
  program().settings.timesInHours = false;
}

TEST_F(PlayCommand, ShowPositionOverwritesTheStartOfTheCursorRowWithoutMovingRows) {
  gotoXY(1, 5);
  crtWrite("ABCDEFGHIJKLMNOPQRST");
  gotoXY(40, 5);
  program().currentPosition = 33075;
  showPosition();
  EXPECT_EQ(screenRow(5).substr(0, 20), "1:5       KLMNOPQRST");
  EXPECT_EQ(whereX(), 11);
  EXPECT_EQ(whereY(), 5);
}

TEST_F(PlayCommand, InformationGivesTheRightPercentageOfALongSound) {
  program().soundBuffer->createSized(1, 22050, 16, 40000000);
  ASSERT_EQ(program().soundBuffer->count(), 40000000);
  program().currentPosition = 30000000;
  gotoXY(1, 3);
  playInformation();
  const std::string shown = "Tempo total: 1814:0  posi\xE7\xE3o do cursor: 1360:5  percentual: 75 ";
  EXPECT_EQ(screenRow(3).substr(0, shown.size()), shown);
  EXPECT_EQ(whereY(), 4);
}

TEST_F(PlayCommand, InformationOnAnEmptySoundSaysZeroPercent) {
  gotoXY(1, 3);
  playInformation();
  const std::string shown = "Tempo total: 0:0  posi\xE7\xE3o do cursor: 0:0  percentual: 0 ";
  EXPECT_EQ(screenRow(3).substr(0, shown.size()), shown);
}

// ---------------------------------------------------------------- entry and exit

TEST_F(PlayCommand, TheEngineSwitchesChangeForTheCommandAndComeBack) {
  setMaxQueuedBlocks(9);
  struct Case {
    int32_t setting;
    int used;
  };
  for (const Case c : {Case{6, 6}, Case{16, 16}, Case{1, 1}, Case{0, 4}, Case{17, 4}, Case{-3, 4}}) {
    program().settings.playBuffers = c.setting;
    bool checked = false;
    {
      ProbedKeys keys;
      keys.key(kEsc, {}, [&] {
        checked = true;
        EXPECT_FALSE(stopOnKey());
        EXPECT_EQ(maxQueuedBlocks(), c.used) << "NBUF_TOCA " << c.setting;
      });
      playCommand();
    }
    EXPECT_TRUE(checked);
    EXPECT_TRUE(stopOnKey());
    EXPECT_EQ(maxQueuedBlocks(), 9);
  }
  // Enter ends the command too, and a switch that was off stays off.
  setStopOnKey(false);
  {
    KeyScript keys;
    keys.key(kEnter);
    playCommand();
  }
  EXPECT_FALSE(stopOnKey());
  EXPECT_EQ(maxQueuedBlocks(), 9);
}

TEST_F(PlayCommand, EntrySaysHowToPlayAndF1ListsTheKeys) {
  KeyScript keys;
  keys.key(kF1).key(kEsc);
  playCommand();
  EXPECT_EQ(screenRow(1).substr(0, 31), "Use espa\xE7o para tocar, F1 ajuda");
  const char* lines[] = {"As op\xE7\xF5" "es s\xE3o :",
                         "Espa\xE7o toca e para, esc termina",
                         "Posicione com direita, esquerda, home e end.",
                         "Page Up e Page Down saltam 1 segundo",
                         "F5 vai a um segundo digitado; F6 diz o tempo total e o do cursor",
                         "M memoriza o ponto do cursor",
                         "V volta ao ponto memorizado",
                         "D diz a dura\xE7\xE3o do trecho entre o ponto memorizado e o cursor",
                         "F7 diz o pico, a sonoridade e os trechos saturados",
                         "Control+Page Down e Control+Page Up v\xE3o \xE0 pr\xF3xima pausa e \xE0 anterior",
                         "Insert marca e Delete desmarca; Control+seta abaixo e acima v\xE3o aos marcadores",
                         "N d\xE1 nome ao marcador do cursor"};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(screenRow(2 + i).substr(0, std::string(lines[i]).size()), lines[i]);
  EXPECT_EQ(whereY(), 15) << "a line end after the command";
}

// ---------------------------------------------------------------- moving

TEST_F(PlayCommand, RightPlaysATenthAndMovesATenthOrAHundredthWithShift) {
  fake.autoComplete = true;
  makeSound(22050, 22050);
  KeyScript keys;
  keys.key(kRight).key(kRight, kShift).key(kEsc);
  playCommand();
  EXPECT_EQ(program().currentPosition, 2205 + 220);
  // Both keys played a whole tenth from where the cursor stood.
  std::vector<int16_t> expected = soundFrames(0, 2205);
  const std::vector<int16_t> second = soundFrames(2205, 2205);
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(framesPlayed(), expected);
  EXPECT_EQ(fake.opens, (std::vector<AudioFormat>{{22050, 16, 2}}));
  EXPECT_EQ(screenRow(2).substr(0, 10), "0:1       ");
}

TEST_F(PlayCommand, RightStopsAtTheEndAndPlaysNothingWithinATenthOfIt) {
  fake.autoComplete = true;
  makeSound(22050, 5000);
  program().currentPosition = 4410;
  KeyScript keys;
  keys.key(kRight).key(kRight).key(kEsc);
  playCommand();
  EXPECT_EQ(program().currentPosition, 5000);
  EXPECT_TRUE(fake.blocks.empty()) << "a tenth reaching past the end is not played";
}

TEST_F(PlayCommand, LeftMovesBackThenPlaysAndStaysAtZero) {
  fake.autoComplete = true;
  makeSound(22050, 22050);
  program().currentPosition = 4410 + 220;
  ProbedKeys keys;
  keys.key(kLeft, kShift)
      .key(kLeft, {}, [] { EXPECT_EQ(program().currentPosition, 4410); })
      .key(kLeft, {}, [] { EXPECT_EQ(program().currentPosition, 2205); })
      .key(kLeft, {}, [] { EXPECT_EQ(program().currentPosition, 0); })
      .key(kEsc, {}, [] { EXPECT_EQ(program().currentPosition, 0); });
  playCommand();
  // Each move that landed at 0 or later played the tenth from there; the
  // one from 0 played nothing.
  std::vector<int16_t> expected;
  for (const int64_t from : {4410, 2205, 0}) {
    const std::vector<int16_t> tenth = soundFrames(from, 2205);
    expected.insert(expected.end(), tenth.begin(), tenth.end());
  }
  EXPECT_EQ(framesPlayed(), expected);
}

TEST_F(PlayCommand, PageDownAndPageUpJumpOneSecondAndStopAtTheEnds) {
  makeSound(22050, 3 * 22050);
  auto at = [](int32_t expected, int32_t moveTo = -1) {
    return [=] {
      EXPECT_EQ(program().currentPosition, expected);
      if (moveTo >= 0) program().currentPosition = moveTo;
    };
  };
  ProbedKeys keys;
  keys.key(kPageDown)
      .key(kPageDown, {}, at(22050))
      // Half a second before the end: the jump stops at the end.
      .key(kPageDown, {}, at(44100, 66150 - 11025))
      .key(kPageDown, {}, at(66150))
      .key(kPageUp, {}, at(66150))
      .key(kPageUp, {}, at(44100, 11025))
      .key(kPageUp, {}, at(0))
      .key(kEsc, {}, at(0));
  playCommand();
  EXPECT_TRUE(fake.blocks.empty()) << "jumps play nothing";
}

TEST_F(PlayCommand, HomeAndEndGoToTheEndsAndSaySo) {
  makeSound(22050, 33075);
  program().currentPosition = 11025;
  ProbedKeys keys;
  keys.key(kEnd)
      .key(kHome, {}, [] {
        EXPECT_EQ(program().currentPosition, 33075);
        EXPECT_EQ(screenRow(2).substr(0, 20), "1:5       Fim do som");
      })
      .key(kEsc, {}, [] {
        EXPECT_EQ(program().currentPosition, 0);
        EXPECT_EQ(screenRow(3).substr(0, 23), "0:0       In\xED" "cio do som");
      });
  playCommand();
}

TEST_F(PlayCommand, MMemorisesTheCursorDSaysHowFarItIsAndVGoesBackToIt) {
  fake.autoComplete = true;
  makeSound(22050, 22050);
  ProbedKeys keys;
  keys.key(kRight)
      .key(kRight)
      .key('m', {}, [] { EXPECT_EQ(program().markedPosition, 0); })
      .key(kHome, {}, [] { EXPECT_EQ(program().markedPosition, 4410); })
      .key('d')
      .key('V', {}, [] { EXPECT_TRUE(screenShows("Trecho de 0,2 segundos")); })
      .key(kEsc);
  playCommand();
  EXPECT_EQ(program().currentPosition, 4410);
  EXPECT_EQ(program().markedPosition, 4410);
  EXPECT_TRUE(screenShows("Posi\xE7\xE3o do cursor memorizada"));
  EXPECT_TRUE(screenShows("Ok"));
}

TEST_F(PlayCommand, KeysTypedAheadOfTheKeyReadAreLost) {
  fake.autoComplete = true;
  makeSound(22050, 22050);
  KeyScript keys;
  // Right, then M typed while the tenth was being queued.
  keys.key(kRight + "m").key(kEsc);
  playCommand();
  EXPECT_EQ(program().currentPosition, 2205);
  EXPECT_EQ(program().markedPosition, 0);
}

TEST_F(PlayCommand, ShiftIsThatOfTheKeyReadNotOfAKeyTypedAfterIt) {
  fake.autoComplete = true;
  makeSound(22050, 22050);
  crtQueueKey(kRight, kShift);
  crtQueueKey("x");
  KeyScript keys;
  keys.key(kEsc);
  playCommand();
  EXPECT_EQ(program().currentPosition, 220);
}

TEST_F(PlayCommand, AnEmptySoundBeepsInPlaceOfMoving) {
  ProbedKeys keys;
  keys.key(kSpace)
      .key(kRight, {}, [] { EXPECT_TRUE(screenShows("Fim do som")); })
      .key(kLeft, {}, [] { EXPECT_EQ(program().currentPosition, 0); })
      .key(kPageDown)
      .key(kF6)
      .key(kEsc, {}, [] { EXPECT_EQ(program().currentPosition, 0); });
  playCommand();
  EXPECT_TRUE(screenShows("percentual: 0"));
  EXPECT_TRUE(fake.blocks.empty());
}

// ---------------------------------------------------------------- F5

TEST_F(PlayCommand, F5PutsTheCursorAtATypedSecond) {
  makeSound(44100, 5 * 44100);
  program().currentPosition = 1000;
  KeyScript keys;
  // F1 explains and asks again; ESC gives up and leaves the cursor.
  keys.key(kF5).type("2").key(kEsc).key(kF5).key(kF1).type(" 3 ").key(kEnter).key(kEsc);
  playCommand();
  EXPECT_EQ(program().currentPosition, 132300);
  EXPECT_TRUE(screenShows("Informe a posi\xE7\xE3o em segundos: "));
  EXPECT_TRUE(screenShows("Um n\xFAmero inteiro de segundos; ESC desiste"));
  EXPECT_TRUE(screenShows("Desistiu..."));
  EXPECT_FALSE(screenShows("Erro de posicionamento"));
}

TEST_F(PlayCommand, F5BeyondTheEndStopsAtTheEnd) {
  makeSound(44100, 5 * 44100);
  // 30 digits overflow any integer type: still only a second past the end.
  for (const std::string answer : {"5", "99", "2147483648", "123456789012345678901234567890"}) {
    program().currentPosition = 1000;
    KeyScript keys;
    keys.key(kF5).type(answer).key(kEnter).key(kEsc);
    playCommand();
    EXPECT_EQ(program().currentPosition, 5 * 44100) << answer;
  }
  EXPECT_FALSE(screenShows("Erro de posicionamento"));
}

TEST_F(PlayCommand, F5RefusesWhatIsNotAWholeNumberAndGoesToTheStart) {
  makeSound(44100, 5 * 44100);
  for (const std::string answer : {"a", "3.5", "-1", "-", "3a", "-123456789012345678901234567890"}) {
    crtInit(nullptr);
    program().currentPosition = 1000;
    KeyScript keys;
    keys.key(kF5).type(answer).key(kEnter).key(kEsc);
    playCommand();
    EXPECT_EQ(program().currentPosition, 0) << answer;
    EXPECT_TRUE(screenShows("Erro de posicionamento")) << answer;
  }
}

TEST_F(PlayCommand, F5WithNothingTypedLeavesTheCursor) {
  makeSound(44100, 5 * 44100);
  program().currentPosition = 1000;
  KeyScript keys;
  keys.key(kF5).type("  ").key(kEnter).key(kF5).type("7").key(kEsc).key(kEsc);
  playCommand();
  EXPECT_EQ(program().currentPosition, 1000);
  EXPECT_FALSE(screenShows("Erro de posicionamento"));
}

// ---------------------------------------------------------------- markers

TEST_F(PlayCommand, NNamesTheMarkerAtTheCursorAndTheJumpToItSaysTheName) {
  TAmostras& s = makeSound(44100, 5 * 44100);
  ASSERT_EQ(s.placeMarker(44100), 1u);
  KeyScript keys;
  // None at 0; the one at the cursor is named; Enter
  // with nothing typed and ESC keep the name.
  keys.type("n").key(kPageDown).type("n").key(kF1).type("Entrevista").key(kEnter);
  keys.type("N").type("  ").key(kEnter).type("n").type("Outro").key(kEsc);
  keys.key(kHome).key(kCtrlDown).key(kEsc);
  playCommand();
  EXPECT_EQ(s.markers(), (std::vector<SoundMarker>{{1, 44100, "Entrevista"}}));
  EXPECT_TRUE(screenShows("Nenhum marcador no cursor"));
  EXPECT_TRUE(screenShows("Nome do marcador: "));
  EXPECT_TRUE(screenShows("Digite o nome e Enter; Enter sozinho deixa o nome como est\xE1; ESC desiste"));
  EXPECT_TRUE(screenShows("Desistiu..."));
  EXPECT_EQ(program().currentPosition, 44100);
  int said = 0;
  for (int y = 1; y <= kScreenRows; ++y) said += screenRow(y).starts_with("Marcador 1 em 1:0, Entrevista");
  EXPECT_EQ(said, 3) << "named, kept by Enter, and jumped to";
}

// ---------------------------------------------------------------- playing

// A device that plays in time: each time the program sleeps, the device
// finishes one block. When the `keyAfter`-th block is finished the user
// presses `key`.
struct Listener : ScopedFakeClock {
  Listener(FakeAudio& device, std::string key, int keyAfter)
      : device(device), key(std::move(key)), keyAfter(keyAfter) {}
  void sleepMs(int64_t ms) override {
    FakeClock::sleepMs(ms);
    if (device.pendingCount() == 0) return;
    heardBytes += device.blocks[static_cast<size_t>(finished)].bytes.size();
    device.complete(1);
    if (++finished == keyAfter) crtQueueKey(key);
  }
  FakeAudio& device;
  std::string key;
  int keyAfter;
  int finished = 0;
  size_t heardBytes = 0;
};

TEST_F(PlayCommand, SpacePlaysFromTheCursorUntilAKeyAndLeavesTheCursorWhereItStopped) {
  const int64_t end = 22050;
  makeSound(22050, end);
  program().currentPosition = 4410;
  Listener user(fake, kSpace, 3);
  KeyScript keys;
  keys.key(kSpace).key(kEsc);
  playCommand();

  const int64_t cursor = program().currentPosition;
  ASSERT_LT(cursor, end) << "the key stopped the playing before the end";
  ASSERT_GT(user.finished, 0);
  // Whole tenths from the cursor, all of them given to the device.
  EXPECT_EQ((cursor - 4410) % 2205, 0);
  EXPECT_EQ(framesPlayed(), soundFrames(4410, cursor - 4410));
  // At most NBUF_TOCA blocks were ahead of what was heard, so the cursor is
  // within that many tenths of it; and what was queued plays out.
  EXPECT_LE(fake.mostPending, 4);
  const int64_t heardTo = 4410 + static_cast<int64_t>(user.heardBytes / 4);
  EXPECT_LE(cursor - heardTo, 4 * 2205);
  EXPECT_EQ(fake.resets, 0);
  EXPECT_EQ(screenRow(2).substr(0, 3), formatPosition(cursor));
}

TEST_F(PlayCommand, AKeyOtherThanSpaceStopsThePlayingAndActsAtOnce) {
  makeSound(22050, 22050);
  Listener user(fake, "m", 2);
  KeyScript keys;
  keys.key(kSpace).key(kEsc);
  playCommand();
  EXPECT_GT(program().currentPosition, 0);
  EXPECT_LT(program().currentPosition, 22050);
  EXPECT_EQ(program().markedPosition, program().currentPosition);
  EXPECT_TRUE(screenShows("Posi\xE7\xE3o do cursor memorizada"));
}

TEST_F(PlayCommand, SpaceToTheEndPlaysTheLastFrameGoesUpToATenthPastItThenSaysTheEnd) {
  fake.autoComplete = true;
  makeSound(22050, 5000);
  ProbedKeys keys;
  keys.key(kSpace)
      .key(kSpace, {}, [] {
        // Two whole tenths and the short rest were heard; the cursor moved
        // a whole tenth for each.
        EXPECT_EQ(program().currentPosition, 3 * 2205);
        EXPECT_EQ(screenRow(2).substr(0, 3), "0:3");
      })
      .key(kRight, {}, [] {
        EXPECT_EQ(program().currentPosition, 3 * 2205);
        EXPECT_TRUE(screenShows("Fim do som"));
      })
      .key(kEsc, {}, [] { EXPECT_EQ(program().currentPosition, 5000); });
  playCommand();
  EXPECT_EQ(framesPlayed(), soundFrames(0, 5000));
}

TEST_F(PlayCommand, SpaceThatCannotPlayLeavesTheCursorWhereItWas) {
  makeSound(22050, 22050);
  program().currentPosition = 4410;
  fake.openResult = ENOENT;
  KeyScript keys;
  keys.key(kSpace).key(kCtrlRight).key(kEsc);
  playCommand();
  EXPECT_EQ(program().currentPosition, 4410);
  EXPECT_FALSE(screenShows("Fim do som"));
  // Each play stops at its first refused tenth instead of trying the rest.
  EXPECT_EQ(fake.opens.size(), 2u);
}

TEST_F(PlayCommand, ControlArrowsPlayTheRestOrTheStartUntilAKeyAndKeepTheCursor) {
  makeSound(22050, 22050);
  program().currentPosition = 11025;
  // A key while the rest plays stops it, as it stops Space; the start then
  // plays whole.
  Listener user(fake, "x", 2);
  KeyScript keys;
  keys.key(kCtrlRight).key(kCtrlLeft).key(kEsc);
  playCommand();
  EXPECT_EQ(program().currentPosition, 11025);
  const std::vector<int16_t> played = framesPlayed();
  ASSERT_GT(played.size(), 11025u);
  const int64_t restHeard = static_cast<int64_t>(played.size()) - 11025;
  EXPECT_LT(restHeard, 11025) << "the key did not stop the rest";
  std::vector<int16_t> expected = soundFrames(11025, restHeard);
  const std::vector<int16_t> start = soundFrames(0, 11025);
  expected.insert(expected.end(), start.begin(), start.end());
  EXPECT_EQ(played, expected);
}

}  // namespace
}  // namespace kalimbro
