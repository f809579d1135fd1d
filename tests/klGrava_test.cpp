#include "sound/klGrava.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <filesystem>

#include "app/klArquivo.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "platform/paths.h"
#include "sound/gramost.h"
#include "sound/vrgrav.h"
#include "sound/vrwav.h"
#include "tests/fakes/command_fixture.h"
#include "tests/fakes/fake_audio.h"
#include "tests/fakes/key_script.h"

namespace kalimbro {
namespace {

const std::string kF1("\0\x3B", 2), kPageUp("\0\x49", 2);

// 16-bit little-endian bytes of these values.
std::vector<uint8_t> pcm16(const std::vector<int16_t>& values) {
  std::vector<uint8_t> bytes;
  for (const int16_t v : values) {
    bytes.push_back(static_cast<uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  }
  return bytes;
}

// The user at the microphone: while the fake input device runs, the first
// pause of the recording loop captures the next take's bytes and the
// second presses ESC. The window title of each recording is kept.
struct Microphone : ScopedFakeClock {
  FakeAudio* device = nullptr;
  std::deque<std::vector<uint8_t>> takes;
  // The device goes away once it has delivered the take.
  bool loseDeviceAfterTake = false;
  std::vector<std::string> titles;
  int seenStarts = 0;
  int naps = 0;
  void sleepMs(int64_t ms) override {
    FakeClock::sleepMs(ms);
    if (device == nullptr || !device->inputRunning) return;
    if (device->starts != seenStarts) {
      seenStarts = device->starts;
      naps = 0;
      titles.push_back(windowTitle());
    }
    if (++naps == 1) {
      if (!takes.empty()) {
        device->capture(takes.front());
        takes.pop_front();
      }
      if (loseDeviceAfterTake) device->inputFailure = -ENODEV;
    } else if (naps == 2) {
      crtQueueKey("\x1B");
    }
  }
};

class RecordCommands : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    initPlayback();
    initRecording();
    fake.autoComplete = true;
    mic.device = &fake;
  }
  void TearDown() override {
    endPlayback();
    CommandTest::TearDown();
  }
  // Files of the program's temporary directory whose name begins with "WAV".
  static int tempWavFiles() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(tempDirectory()))
      if (e.path().filename().string().rfind("WAV", 0) == 0) ++n;
    return n;
  }
  // Frames played, from the blocks the device was given (16-bit stereo).
  size_t framesPlayed() const {
    size_t bytes = 0;
    for (const FakeAudio::Block& b : fake.blocks) bytes += b.bytes.size();
    return bytes / 4;
  }

  FakeAudio fake;
  Microphone mic;
};

TEST_F(RecordCommands, TakesAreAppendedInOrderAndTheirFileIsRemoved) {
  fillMono(sound(), {1, 2, 3});
  program().workingFileName = file("voz.wav");
  const int before = tempWavFiles();
  mic.takes = {pcm16({10, 11}), pcm16({20, 21, 22})};
  KeyScript keys;
  keys.key("\r").key("\r").key("\x1B").type("n");
  recordMoreCommand();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{1, 2, 3, 10, 11, 20, 21, 22}));
  EXPECT_EQ(program().currentPosition, 8);
  EXPECT_EQ(fake.inputOpens, (std::vector<AudioFormat>{{22050, 16, 1}, {22050, 16, 1}}));
  EXPECT_EQ(mic.titles, (std::vector<std::string>(2, "KALIMBRO Gravando... " + file("voz.wav"))));
  EXPECT_EQ(windowTitle(), "KALIMBRO " + file("voz.wav"));
  EXPECT_TRUE(shown("J\xE1 posso armazenar em disco?"));
  EXPECT_FALSE(fileExists(file("voz.wav")));  // answered N
  EXPECT_EQ(tempWavFiles(), before);
}

TEST_F(RecordCommands, EscAtOnceStillAsksToSaveAndOtherKeysRepeatThePrompt) {
  fillStereo(sound(), {{5, -5}}, 8000);
  program().workingFileName = file("voz.wav");
  KeyScript keys;
  keys.type("x").key(kF1).key("\x1B").key("\r");
  recordMoreCommand();
  EXPECT_EQ(occurrences("Aperte enter para continuar grava\xE7\xE3o, ESC termina"), 3);
  EXPECT_EQ(occurrences("Enter grava mais no fim; Page Up ouve os \xFAltimos 10 segundos; ESC termina"), 1);
  EXPECT_TRUE(fake.inputOpens.empty());
  // Enter at the question saves.
  TAmostras saved;
  ASSERT_TRUE(saved.loadWav(file("voz.wav")));
  EXPECT_EQ(saved.getFrame(0), packFrame(5, -5));
  EXPECT_EQ(program().currentPosition, 1);
}

TEST_F(RecordCommands, PageUpPlaysTheLastTenSecondsOrTheWholeShortSound) {
  fillMono(sound(), std::vector<int16_t>(15 * 8000, 100), 8000);
  program().workingFileName = file("voz.wav");
  KeyScript keys;
  keys.key(kPageUp).key("\x1B").key("\x1B");
  recordMoreCommand();
  EXPECT_EQ(framesPlayed(), 10u * 8000);
  EXPECT_EQ(program().currentPosition, 15 * 8000);
  EXPECT_FALSE(fileExists(file("voz.wav")));  // ESC at the question: not saved

  // The first take of an empty sound becomes the sound; Page Up plays it.
  fake.blocks.clear();
  sound().clear();
  sound().createSized(1, 8000, 16, 0);
  mic.takes = {pcm16({1, 2, 3, 4})};
  KeyScript again;
  again.key("\r").key(kPageUp).key("\x1B").type("n");
  recordMoreCommand();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{1, 2, 3, 4}));
  // One block, from the first frame (the device pads a block to 256 bytes).
  ASSERT_EQ(fake.blocks.size(), 1u);
  const std::vector<uint8_t>& played = fake.blocks[0].bytes;
  ASSERT_GE(played.size(), 16u);
  EXPECT_EQ(std::vector<uint8_t>(played.begin(), played.begin() + 16),
            (std::vector<uint8_t>{1, 0, 1, 0, 2, 0, 2, 0, 3, 0, 3, 0, 4, 0, 4, 0}));
}

TEST_F(RecordCommands, ATakeThatFailsOrDoesNotFitIsToldAndTheCommandGoesOn) {
  fillMono(sound(), {1, 2});
  fake.inputOpenResult = 2;
  KeyScript keys;
  keys.key("\r").key("\x1B").type("n");
  recordMoreCommand();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{1, 2}));
  EXPECT_EQ(occurrences("N\xE3o foi poss\xEDvel abrir o dispositivo de entrada de som"), 1);
  EXPECT_EQ(occurrences("Erro de grava\xE7\xE3o"), 0);

  // The sound can grow by one frame of the take's two: what fits is kept,
  // and the user hears that memory ran out.
  fake.inputOpenResult = 0;
  sound().setMemoryLimit(sound().capacity() + 1);
  std::vector<int16_t> take(sound().capacity() - 2, 5);
  take.push_back(6);
  take.push_back(7);
  mic.takes = {pcm16(take)};
  KeyScript again;
  again.key("\r").key("\x1B").type("n");
  recordMoreCommand();
  EXPECT_TRUE(shown("N\xE3o h\xE1 mem\xF3ria suficiente para esta edi\xE7\xE3o"));
  EXPECT_EQ(sound().count(), sound().capacity());
  EXPECT_EQ(unpackFrame(sound().getFrame(sound().count() - 1)).left, 6);
  EXPECT_EQ(occurrences("Erro de grava\xE7\xE3o"), 0);
}

TEST_F(RecordCommands, NewSoundSavesOrNotThenRecordsTheNewFile) {
  fillMono(sound(), {7, 8, 9});
  program().workingFileName = file("velho.wav");
  program().currentPosition = 2;
  mic.takes = {{0x80, 0xFF, 0x00}};
  KeyScript keys;
  keys.key("\r");                               // save the old sound first
  keys.type(file("novo")).key("\r");            // the new file
  keys.type("t").type("m").key(kF1).key("\r");  // telephone, mono, F1 explains, Enter
  newSoundCommand();
  EXPECT_EQ(occurrences("Enter come\xE7" "a a gravar e ESC termina a grava\xE7\xE3o; ESC agora desiste"), 1);
  EXPECT_EQ(occurrences("Tecle Enter para gravar, ESC termina"), 2);
  TAmostras old;
  ASSERT_TRUE(old.loadWav(file("velho.wav")));
  EXPECT_EQ(leftValues(old), (std::vector<int16_t>{7, 8, 9}));
  EXPECT_TRUE(shown("Novo som criado"));
  EXPECT_EQ(program().workingFileName, file("novo.wav"));
  EXPECT_EQ(fake.inputOpens, (std::vector<AudioFormat>{{11025, 8, 1}}));
  EXPECT_EQ(mic.titles, (std::vector<std::string>{"KALIMBRO Gravando... " + file("novo.wav")}));
  EXPECT_EQ(sound().sampleRate(), 11025);
  EXPECT_EQ(sound().bitsPerSample(), 8);
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{0, 32512, -32768}));
  EXPECT_EQ(program().currentPosition, 0);
  EXPECT_TRUE(fileExists(file("novo.wav")));
  EXPECT_EQ(windowTitle(), "KALIMBRO " + file("novo.wav"));
}

TEST_F(RecordCommands, NewSoundOnAnExistingFileLoadsItWithoutRecording) {
  TAmostras existing;
  fillStereo(existing, {{1, 2}, {3, 4}}, 44100);
  ASSERT_TRUE(existing.saveWav(file("outro.wav")));
  fillMono(sound(), {7});
  program().workingFileName = file("velho.wav");
  KeyScript keys;
  keys.type("N").type(file("outro.wav")).key("\r");
  newSoundCommand();
  EXPECT_FALSE(fileExists(file("velho.wav")));
  EXPECT_TRUE(fake.inputOpens.empty());
  EXPECT_EQ(sound().channels(), 2);
  EXPECT_EQ(sound().getFrame(1), packFrame(3, 4));
}

TEST_F(RecordCommands, NewSoundGivenUpKeepsTheSound) {
  fillMono(sound(), {7, 8});
  program().workingFileName = file("velho.wav");
  KeyScript keys;
  keys.key("\x1B");
  newSoundCommand();
  EXPECT_TRUE(shown("Desistiu..."));
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{7, 8}));

  // A save that fails keeps the sound as well.
  program().workingFileName = file("falta/velho.wav");
  KeyScript again;
  again.type("s");
  newSoundCommand();
  EXPECT_TRUE(shown("Erro de grava\xE7\xE3o"));
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{7, 8}));
  EXPECT_FALSE(shown("Novo som criado"));
}

TEST_F(RecordCommands, GivingUpTheRecordingOfANewFileEmptiesTheName) {
  fillMono(sound(), {7, 8});
  KeyScript keys;
  keys.type("n").type(file("novo")).key("\r").type("c").key("\x1B");
  newSoundCommand();
  EXPECT_EQ(program().workingFileName, "");
  EXPECT_EQ(sound().count(), 0);
  EXPECT_FALSE(fileExists(file("novo.wav")));
  EXPECT_TRUE(fake.inputOpens.empty());
  // Told as every question given up is, and nothing claimed to load.
  EXPECT_TRUE(shown("Desistiu..."));
  EXPECT_FALSE(shown("Carregando som"));

  // ESC at "Enter to record" gives up too; the recording title never shows.
  KeyScript again;
  again.type("n").type(file("novo")).key("\r").type("c").type("e").key("\x1B");
  newSoundCommand();
  EXPECT_EQ(program().workingFileName, "");
  EXPECT_TRUE(mic.titles.empty());
}

TEST_F(RecordCommands, AnInputDeviceMissingOrLostIsSaidOnceAndAFileNeverMadeIsNotLoaded) {
  fake.inputOpenResult = 2;
  program().workingFileName = file("novo.wav");
  program().currentPosition = 7;
  KeyScript keys;
  keys.type("cm").key("\r");
  recordOrLoadWorkingSound();
  EXPECT_EQ(occurrences("N\xE3o foi poss\xEDvel abrir o dispositivo de entrada de som"), 1);
  EXPECT_FALSE(shown("Erro de grava\xE7\xE3o"));
  EXPECT_FALSE(shown("Carregando som"));
  EXPECT_FALSE(shown("Arquivo incompat\xEDvel com este programa"));
  EXPECT_FALSE(fileExists(file("novo.wav")));
  EXPECT_EQ(program().workingFileName, "");
  EXPECT_EQ(program().currentPosition, 0);

  // A device that goes away during the recording ends it by itself: what
  // it delivered is the sound, and the user hears why it ended.
  fake.inputOpenResult = 0;
  mic.takes = {pcm16({1, 2, 3, 4})};
  mic.loseDeviceAfterTake = true;
  program().workingFileName = file("novo.wav");
  KeyScript again;
  again.type("cm").key("\r");
  recordOrLoadWorkingSound();
  EXPECT_TRUE(shown("O dispositivo de entrada de som parou de funcionar"));
  EXPECT_FALSE(shown("Erro de grava\xE7\xE3o"));
  EXPECT_EQ(program().workingFileName, file("novo.wav"));
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{1, 2, 3, 4}));
}

}  // namespace
}  // namespace kalimbro
