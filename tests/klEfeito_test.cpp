#include "edit/klEfeito.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "app/klMsg.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "edit/klEfeitoCalc.h"
#include "platform/paths.h"
#include "sound/gramost.h"
#include "tests/fakes/command_fixture.h"
#include "tests/fakes/key_script.h"
#include "tests/fakes/probed_keys.h"
#include "tests/fakes/replace_faults.h"

namespace kalimbro {
namespace {

// ---------------------------------------------------------------- volume and fades

TEST(Volume, UpClipsAtBothEnds) {
  TAmostras s;
  fillMono(s, {30000, -30000, 1000, 3});
  raiseVolume(s);
  EXPECT_EQ(leftValues(s), (std::vector<int16_t>{32767, -32768, 1250, 3}));
}

TEST(Volume, DownTruncatesTowardZero) {
  TAmostras s;
  fillStereo(s, {{-32768, 32767}, {1000, -3}});
  lowerVolume(s);
  EXPECT_EQ(unpackFrame(s.getFrame(0)).left, -24576);
  EXPECT_EQ(unpackFrame(s.getFrame(0)).right, 24575);
  EXPECT_EQ(unpackFrame(s.getFrame(1)).left, 750);
  EXPECT_EQ(unpackFrame(s.getFrame(1)).right, -2);
}

TEST(Fade, InRisesFromSilenceToTheCursor) {
  TAmostras s;
  fillMono(s, std::vector<int16_t>(10, 1000));
  fadeInTo(s, 4);
  EXPECT_EQ(leftValues(s), (std::vector<int16_t>{0, 250, 500, 750, 1000, 1000, 1000, 1000, 1000, 1000}));
}

TEST(Fade, WithTheCursorAtTheEdgesChangesNothing) {
  TAmostras s;
  fillMono(s, std::vector<int16_t>(10, 1000));
  fadeInTo(s, 0);
  fadeOutFrom(s, 9);
  fadeOutFrom(s, 15);
  EXPECT_EQ(leftValues(s), std::vector<int16_t>(10, 1000));
}

TEST(Fade, OutFallsFromTheCursorToSilence) {
  TAmostras s;
  fillMono(s, std::vector<int16_t>(6, 1000));
  fadeOutFrom(s, 2);
  EXPECT_EQ(leftValues(s), (std::vector<int16_t>{1000, 1000, 1000, 666, 333, 0}));
}

TEST(Fade, InWithTheCursorPastTheEndKeepsTheSlopeAndTheLength) {
  TAmostras s;
  fillMono(s, std::vector<int16_t>(10, 1000));
  fadeInTo(s, 20);
  EXPECT_EQ(s.count(), 10);
  EXPECT_EQ(leftValues(s)[5], 250);
}

// ---------------------------------------------------------------- echo and reverberation

TEST(Delay, FramesDependOnTheRateBand) {
  EXPECT_EQ(effectDelayFrames(22050, 3000), 6000);
  EXPECT_EQ(effectDelayFrames(11025, 3000), 3000);
  EXPECT_EQ(effectDelayFrames(16000, 3000), 3000);
  EXPECT_EQ(effectDelayFrames(32000, 3000), 6000);
  EXPECT_EQ(effectDelayFrames(44100, 3000), 12000);
  EXPECT_EQ(effectDelayFrames(48000, 3000), 12000);
  EXPECT_EQ(effectDelayFrames(8000, 3000), 0);
}

// An impulse shows the difference: the echo repeats it once, the
// reverberation again and again, each time smaller.
TEST(Echo, OneDelayedCopyLengthensTheSound) {
  TAmostras s;
  std::vector<int16_t> v(30, 0);
  v[0] = 10000;
  fillMono(s, v);
  addEcho(s, 75, 5);  // 10 frames at 22050 Hz
  ASSERT_EQ(s.count(), 40);
  const auto out = leftValues(s);
  EXPECT_EQ(out[0], 7500);
  EXPECT_EQ(out[10], 2500);
  EXPECT_EQ(out[20], 0);
  EXPECT_EQ(out[39], 0);
}

TEST(Reverb, RecirculatesUntilTheNewEnd) {
  TAmostras s;
  std::vector<int16_t> v(30, 0);
  v[0] = 10000;
  fillMono(s, v);
  addReverb(s, 80, 5);
  ASSERT_EQ(s.count(), 40);
  const auto out = leftValues(s);
  EXPECT_EQ(out[0], 8000);
  // q = 1 - 0.8 is a hair below 0.2 in binary: each product truncates down.
  EXPECT_EQ(out[10], 1599);
  EXPECT_EQ(out[20], 319);
  EXPECT_EQ(out[30], 63);
  EXPECT_EQ(out[5], 0);
}

TEST(Echo, TailHoldsAQuarterOfTheLastFramesWithTheDefaults) {
  TAmostras s;
  fillMono(s, std::vector<int16_t>(7000, 4001));
  addEcho(s, 75, 3000);
  ASSERT_EQ(s.count(), 13000);
  const auto out = leftValues(s);
  EXPECT_EQ(out[0], 3000);      // 0.75 x 4001, nothing before it
  EXPECT_EQ(out[6500], 4000);   // 3000 + 1000
  EXPECT_EQ(out[12999], 1000);  // the tail: 0.25 x 4001
}

TEST(Echo, At8000HzNoDelayAndTheLastFrameFallsSilent) {
  for (const bool reverb : {false, true}) {
    TAmostras s;
    fillMono(s, {1001, 1001, 1001}, 8000);
    if (reverb) addReverb(s, 80, 2000);
    else addEcho(s, 75, 3000);
    const int16_t both = reverb ? 800 + 200 : 750 + 250;
    EXPECT_EQ(leftValues(s), (std::vector<int16_t>{both, both, 0})) << reverb;
  }
}

TEST(Echo, SumsWrapInsteadOfClipping) {
  TAmostras s;
  s.createSized(2, 11025, 16, 0);
  s.setFrame(0, packFrame(-30000, 100));
  s.setFrame(1, packFrame(30000, 100));
  addEcho(s, 150, 1);  // p 1.5, q -0.5, one frame of delay at 11025 Hz
  ASSERT_EQ(s.count(), 3);
  // 1.5 x 30000 - 0.5 x -30000 = 60000, kept to its low 16 bits.
  EXPECT_EQ(unpackFrame(s.getFrame(1)).left, static_cast<int16_t>(60000 - 65536));
  EXPECT_EQ(unpackFrame(s.getFrame(1)).right, 100);
}

// Every 16-bit value against the rule itself: trunc(p x) + trunc((1 - p) x)
// in extended precision, kept to 16 bits.
TEST(Echo, EveryValueFollowsTheExtendedPrecisionRule) {
  for (const int32_t percent : {75, 80, 33, 150, -20}) {
    TAmostras s;
    s.createSized(1, 8000, 16, 65537);
    for (int32_t v = -32768; v <= 32767; ++v) s.setFrame(v + 32768, packFrame(v, v));
    addEcho(s, percent, 3000);  // no delay at 8000 Hz: each frame meets itself
    const long double p = percent / 100.0L, q = 1.0L - p;
    for (int32_t v = -32768; v <= 32767; ++v) {
      const auto expected = static_cast<int16_t>(static_cast<int64_t>(p * v) + static_cast<int64_t>(q * v));
      ASSERT_EQ(unpackFrame(s.getFrame(v + 32768)).left, expected) << percent << " " << v;
    }
  }
}

// ---------------------------------------------------------------- coding with a password

TEST(Password, ValueOfTheText) {
  EXPECT_EQ(passwordValue("12345678"), 12345678);
  EXPECT_EQ(passwordValue("  -5"), -5);
  EXPECT_EQ(passwordValue("$1F"), 31);
  EXPECT_EQ(passwordValue("0x10"), 16);
  EXPECT_EQ(passwordValue("12ab"), 12);
  EXPECT_EQ(passwordValue("-12a"), 12);  // stopped early: no sign
  EXPECT_EQ(passwordValue("abc"), 0);
  EXPECT_EQ(passwordValue("4294967297"), 1);  // a 32-bit value wraps
}

TEST(Password, KeyStream) {
  const auto k = passwordKeyStream(0);
  EXPECT_EQ(k[0], 17);
  EXPECT_EQ(k[1], (17 * 13 + 89) % 255);
  // Bits 0-7 and 5-12 of the value enter the first key.
  EXPECT_EQ(passwordKeyStream(0x1FE0)[0], 255 ^ 0xE0 ^ 17);
}

TEST(Password, CodingTwiceGivesTheSoundBackBitForBit) {
  std::mt19937 random(7);
  std::vector<std::pair<int16_t, int16_t>> frames;
  for (int i = 0; i < 1000; ++i)
    frames.emplace_back(static_cast<int16_t>(random()), static_cast<int16_t>(random()));
  TAmostras s;
  fillStereo(s, frames);
  codeFrames(s, passwordValue("12ab"));
  int changed = 0;
  for (int i = 0; i < 1000; ++i) {
    const FrameValues v = unpackFrame(s.getFrame(i));
    EXPECT_EQ(v.left & 0xFF, frames[static_cast<size_t>(i)].first & 0xFF);
    changed += v.left != frames[static_cast<size_t>(i)].first;
  }
  EXPECT_GT(changed, 900);
  codeFrames(s, passwordValue("12cd"));  // the same digits: the same key
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(unpackFrame(s.getFrame(i)).left, frames[static_cast<size_t>(i)].first);
    ASSERT_EQ(unpackFrame(s.getFrame(i)).right, frames[static_cast<size_t>(i)].second);
  }
}

TEST(Password, ALetterFirstCodesWithZero) {
  TAmostras a, b;
  fillMono(a, {0, 0, 0});
  fillMono(b, {0, 0, 0});
  codeFrames(a, passwordValue("senha123"));
  codeFrames(b, 0);
  EXPECT_EQ(leftValues(a), leftValues(b));
  EXPECT_EQ(leftValues(a)[0], 17 * 256);
}

// ---------------------------------------------------------------- the command

class Effects : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    fillMono(sound(), {30000, -100, 2000});
  }
};

// The result is told to clip before it is kept; F1 at the keep question
// says its answers and the question waits on.
TEST_F(Effects, KeptAndDiscardedVolume) {
  fillMono(sound(), {30000, 29000, -100, 2000});
  ProbedKeys script;
  script.type("+n").type("+").ext(59).type("x").key('s', {}, [] {
    EXPECT_TRUE(shown("Aumentei o volume em 25 por cento"));
    EXPECT_TRUE(shown("Demonstra\xE7\xE3o:\nO resultado satura em um trecho\nDeseja manter"));
    EXPECT_TRUE(shown("S ou Enter mant\xE9m o efeito; N ou ESC volta ao som de antes"));
  });
  script.key("\x1B");
  effectsCommand();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{32767, 32767, -125, 2500}));
  EXPECT_EQ(script.remaining(), 0u);
  EXPECT_TRUE(shown("N\xE3o"));
}

// C removes the silence at the ends: kept, the cursor stays on the same
// sound, and the mark in what went goes where the sound now starts.
TEST_F(Effects, TrimmedSilenceLeavesTheCursorOnTheSameSound) {
  std::vector<int16_t> values(11025, 0);
  for (int i = 0; i < 22050; ++i) values.push_back(static_cast<int16_t>((i % 2 ? 1 : -1) * (8000 + i / 4)));
  values.resize(values.size() + 11025, 0);
  fillMono(sound(), values);
  program().currentPosition = 22050;
  program().markedPosition = 4410;
  KeyScript script;
  script.type("cs").key("\x1B");
  effectsCommand();
  ASSERT_LT(sound().count(), 44100);
  EXPECT_EQ(leftValues(sound())[static_cast<size_t>(program().currentPosition)], values[22050]);
  EXPECT_EQ(program().markedPosition, 0);
}

TEST_F(Effects, EscapeAnswersNoAndEnterYes) {
  KeyScript script;
  script.type("-").key("\x1B").type("E").key("\r").key("\x1B");
  effectsCommand();
  EXPECT_EQ(sound().count(), 3 + 6000);
  EXPECT_EQ(leftValues(sound())[0], 22500);
}

TEST_F(Effects, CodingTwiceWithThePasswordRestores) {
  const auto before = leftValues(sound());
  KeyScript script;
  script.type("p").key(std::string("\0\x3B", 2)).type("1234\r").type("P1234\r").type("p\r");
  script.type("p12").key("\x1B").key("\x1B");
  effectsCommand();
  EXPECT_EQ(script.remaining(), 0u);
  EXPECT_EQ(leftValues(sound()), before);
  EXPECT_TRUE(shown("A senha \xE9 um n\xFAmero; codificar de novo com a mesma senha desfaz; ESC desiste"));
  EXPECT_TRUE(shown("Senha aplicada"));
  EXPECT_TRUE(shown("Desistiu..."));
  // The password was typed black on black.
  const std::string screen = screenText();
  const size_t at = screen.find("1234");
  ASSERT_NE(at, std::string::npos);
  const int row = 1 + static_cast<int>(std::count(screen.begin(), screen.begin() + static_cast<long>(at), '\n'));
  const int column = 1 + static_cast<int>(at - (screen.rfind('\n', at) + 1));
  EXPECT_EQ(screenAttrAt(column, row), 0);
}

TEST_F(Effects, HelpAndKeysThatAreNoEffect) {
  KeyScript script;
  script.key(std::string("\0\x3B", 2))  // F1: a line for each effect
      .key(std::string("\0\x3F", 2))    // F5: nothing
      .type("z")                        // not an effect
      .key("\x1B");
  effectsCommand();
  EXPECT_EQ(script.remaining(), 0u);
  // The help's lines were drawn in the table's order; the first of them
  // may have scrolled away since.
  std::string drawn;
  for (const FakeTerminal::Run& run : term.runs()) drawn += run.cells + '\n';
  size_t at = 0;
  for (const EffectRow& row : effectRows()) {
    at = drawn.find(messageText(row.listKey), at);
    ASSERT_NE(at, std::string::npos) << row.listKey;
    // Each line tells the key that runs its effect.
    EXPECT_TRUE(messageText(row.listKey).starts_with(std::string{row.key} + " - ")) << row.listKey;
  }
  EXPECT_EQ(messageText(effectRows().front().listKey), "+ - Aumenta volume");
  EXPECT_TRUE(shown("N - Normaliza Volume"));
  EXPECT_TRUE(shown("U - Encurta pausas longas"));
  EXPECT_TRUE(shown("Op\xE7\xE3o inv\xE1lida, F1 ajuda"));
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{30000, -100, 2000}));
}

TEST_F(Effects, ThePopUpListChoosesAnEffectAndEscapeThereLeaves) {
  KeyScript script;
  script.key(std::string("\0\x50", 2))  // Down: the list
      .key(std::string("\0\x50", 2))    // its second row, "-"
      .key("\r")
      .type("s")
      .key(std::string("\0\x48", 2))    // Up: the list again
      .key("\x1B");                    // ESC there leaves the command
  effectsCommand();
  EXPECT_EQ(script.remaining(), 0u);
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{22500, -75, 1500}));
}

TEST_F(Effects, FadesFollowTheCursor) {
  fillMono(sound(), std::vector<int16_t>(5, 1000));
  program().currentPosition = 2;
  KeyScript script;
  script.type("is").type("os").key("\x1B");
  effectsCommand();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{0, 500, 1000, 500, 0}));
  EXPECT_EQ(program().currentPosition, 2);
}

TEST_F(Effects, DiscardingRestoresEvenWhenTheScratchFileCannotBeWritten) {
  program().tempSoundFile = "/nonexistent-dir/x.wav";
  KeyScript script;
  script.type("rn").key("\x1B");
  effectsCommand();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{30000, -100, 2000}));

  // Nor when the disk refuses a step of the copy. A copy that a reload or
  // SoX could take is always the whole sound: nothing half-written stays.
  program().tempSoundFile.clear();
  const std::string scratch = effectScratchFile();
  const std::string temp = nativePath(tempDirectory());
  const ReplaceFaultRuns runs = failEachReplaceStep([&](const ReplaceFault& fault) {
    removeFile(scratch);
    const size_t before = filesBelow(temp).size();
    KeyScript discarded;
    discarded.type("+n").key("\x1B");
    effectsCommand();
    EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{30000, -100, 2000})) << fault;
    const bool copied = fileExists(scratch);
    EXPECT_EQ(filesBelow(temp).size(), before + (copied ? 1 : 0)) << fault;
    TAmostras copy;
    EXPECT_TRUE(!copied || (copy.loadWav(scratch) && leftValues(copy) == leftValues(sound()))) << fault;
  });
  EXPECT_EQ(runs.flushes, 0);  // a scratch copy does not wait for the disk
  EXPECT_EQ(runs.renames, 1);
}

TEST_F(Effects, AScratchCopyThatCannotBeReadBackIsTold) {
  KeyScript script;
  script.type("+s").key("\x1B");
  effectsCommand();  // the copy is saved before the effect
  writeFileBytes(effectScratchFile(), {'x'});
  raiseVolume(sound());
  restoreSoundBeforeEffect();
  EXPECT_TRUE(shown("N\xE3o consegui desfazer o efeito"));
}

TEST_F(Effects, WithoutAWorkingFileTheScratchIsInTheTemporaryDirectory) {
  EXPECT_EQ(effectScratchFile().rfind(tempDirectory(), 0), 0u);
  program().tempSoundFile = tempDirectory();  // the load had cleared the name
  EXPECT_NE(effectScratchFile(), tempDirectory());
  program().tempSoundFile = "/tmp/x/voz.snd";
  EXPECT_EQ(effectScratchFile(), "/tmp/x/voz.snd.wav");
  program().tempSoundFile = "/tmp/x/voz.WAV";
  EXPECT_EQ(effectScratchFile(), "/tmp/x/voz.WAV");
}

// ---------------------------------------------------------------- loudness

// Twelve seconds of a 300 Hz tone of `talk` (of full scale) with a clap
// every `clapEvery` seconds, a 1500 Hz ring from 0.9 of full scale dying
// away over a few tens of milliseconds, at 22050 Hz.
std::vector<int16_t> talkWithClaps(double talk, double clapEvery) {
  constexpr int kRate = 22050;
  std::vector<int16_t> v(12 * kRate);
  const auto every = static_cast<size_t>(clapEvery * kRate);
  for (size_t i = 0; i < v.size(); ++i) {
    const double t = static_cast<double>(i) / kRate, sinceClap = static_cast<double>(i % every) / kRate;
    const double sound = talk * std::sin(2 * std::numbers::pi * 300.0 * t) +
                         0.9 * std::exp(-sinceClap / 0.02) * std::sin(2 * std::numbers::pi * 1500.0 * sinceClap);
    v[i] = static_cast<int16_t>(std::lround(32767 * sound));
  }
  return v;
}

struct Measured {
  double lufs = 0;
  double truePeakDb = 0;
};

Measured measure(const TAmostras& s) {
  ebur128_state* meter = ebur128_init(1, static_cast<unsigned long>(s.sampleRate()), EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
  ebur128_add_frames_short(meter, s.samples().data(), static_cast<size_t>(s.count()));
  Measured m;
  double peak = 0;
  ebur128_loudness_global(meter, &m.lufs);
  ebur128_true_peak(meter, 0, &peak);
  ebur128_destroy(&meter);
  m.truePeakDb = 20 * std::log10(peak);
  return m;
}

// The loudness said after "levada a ", in LUFS.
double saidLoudness(const std::string& screen) {
  const size_t at = screen.rfind("levada a ");
  if (at == std::string::npos) return NAN;
  std::string figure = screen.substr(at + 9, screen.find(" LUFS", at) - at - 9);
  std::replace(figure.begin(), figure.end(), ',', '.');
  return std::stod(figure);
}

// The loudness effect to `target`, kept: what the sound then measures.
Measured normalisedTo(const TAmostras& sound, std::string_view target) {
  KeyScript script;
  script.type("l").type(target).type("\rs").key("\x1B");
  effectsCommand();
  return measure(sound);
}

TEST_F(Effects, LoudnessReachesTheTargetWhereThePeaksAllowAndSaysWhatItReached) {
  // Claps far over the talk: the limited gain alone leaves it 3 LU short.
  fillMono(sound(), talkWithClaps(0.05, 3.0));
  const Measured measured = normalisedTo(sound(), "-16");
  const double said = saidLoudness(screenText());
  EXPECT_NEAR(measured.lufs, -16.0, 0.5);
  EXPECT_NEAR(said, measured.lufs, 0.5);
  EXPECT_LE(measured.truePeakDb, -1.0 + 0.05);
  EXPECT_TRUE(shown("Picos limitados a -1 dB"));
}

TEST_F(Effects, LoudnessHeldShortOfTheTargetByThePeaksSaysWhatItReached) {
  // A clap every tenth of a second: the peaks hold the sound short of -10.
  fillMono(sound(), talkWithClaps(0.02, 0.1));
  const Measured measured = normalisedTo(sound(), "-10");
  const double said = saidLoudness(screenText());
  ASSERT_LT(measured.lufs, -10.0 - 1.0) << "the case needs a target out of reach";
  EXPECT_NEAR(said, measured.lufs, 0.5);
  EXPECT_LE(measured.truePeakDb, -1.0 + 0.05);
  EXPECT_TRUE(shown("Picos limitados a -1 dB"));
}

}  // namespace
}  // namespace kalimbro
