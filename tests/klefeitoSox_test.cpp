#include "edit/klefeitoSox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "app/programState.h"
#include "console/VrCrt.h"
#include "edit/klEfeito.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "sound/gramost.h"
#include "tests/fakes/command_fixture.h"
#include "tests/fakes/key_script.h"

namespace kalimbro {
namespace {

using Words = std::vector<std::string>;

// The words after the output ("-", standard output).
Words effectPart(const Words& all) { return Words(std::find(all.begin(), all.end(), "-") + 1, all.end()); }

// SoX's words of the effect the key chooses.
std::string_view soxWordsOf(char key) { return effectForKey(static_cast<uint8_t>(key))->soxWords; }

Words effectWords(char key, std::string_view parameters) {
  return effectPart(soxArguments("sox", "in.wav", soxEffectText(soxWordsOf(key), parameters)));
}

// ---------------------------------------------------------------- argument vectors

TEST(SoxArguments, TheFileNameStaysAWholeWordAndIsNeverAnOption) {
  EXPECT_EQ(soxArguments("/usr/bin/sox", "/t/a b \"c\".wav", soxEffectText(soxWordsOf('T'), "")),
            (Words{"/usr/bin/sox", "--buffer", "131072", "/t/a b \"c\".wav", "-t", "wav", "-", "reverse"}));
  EXPECT_EQ(soxArguments("sox", "-n.wav", soxEffectText(soxWordsOf('T'), "")),
            (Words{"sox", "--buffer", "131072", std::filesystem::current_path().string() + "/-n.wav", "-t", "wav",
                   "-", "reverse"}));
}

TEST(SoxArguments, EffectsWithoutParameters) {
  EXPECT_EQ(effectWords('S', ""), (Words{"gain", "-3", "pad", "0", "3", "reverb"}));
  EXPECT_EQ(effectWords('N', ""), (Words{"gain", "-n"}));
  EXPECT_EQ(effectWords('T', ""), (Words{"reverse"}));
  EXPECT_EQ(soxEffectText(soxWordsOf('N'), ""), "gain -n");
}

TEST(SoxArguments, TypedParametersFollowTheEffectName) {
  EXPECT_EQ(effectWords('F', "300"), (Words{"pitch", "300"}));
  EXPECT_EQ(effectWords('V', "1.2"), (Words{"speed", "1.2"}));
  EXPECT_EQ(effectWords('G', gainText(5)), (Words{"bass", "+5"}));
  EXPECT_EQ(effectWords('A', gainText(-25)), (Words{"treble", "-25"}));
  EXPECT_EQ(gainText(0), "0");
  EXPECT_EQ(gainText(25), "+25");
}

TEST(SoxArguments, EchoVolumesAreHeldBetweenZeroAndOne) {
  EXPECT_EQ(effectWords('X', echoParameters(50, 300, 30)), (Words{"echo", "0.8", "0.5", "300", "0.3"}));
  EXPECT_EQ(echoParameters(250, 1000, -10), "0.8 1 1000 0");
  EXPECT_EQ(echoParameters(0, 12.5, 100), "0.8 0 12.5 1");
}

TEST(SoxArguments, EqualizerBandsByRate) {
  const double zeros[8] = {};
  EXPECT_EQ(effectWords('Q', equalizerText(zeros, 8000)),
            (Words{"equalizer", "40", ".71q", "+0", "equalizer", "80", "1.10q", "+0", "equalizer", "240",
                   "1.80q", "+0", "equalizer", "500", ".71q", "+0", "equalizer", "1000", "2.90q", "+0"}));
  const std::pair<int32_t, int> bands[] = {{8000, 5},  {11025, 6}, {16000, 6}, {22050, 7},
                                           {32000, 7}, {44100, 8}, {48000, 8}};
  for (const auto& [rate, n] : bands) {
    EXPECT_EQ(equalizerBandCount(rate), n) << rate;
    EXPECT_EQ(effectWords('Q', equalizerText(zeros, rate)).size(), static_cast<size_t>(4 * n)) << rate;
  }
  const double gains[8] = {1.5, -3, 0, 0, 0, 0, 0, 12};
  const Words all = effectWords('Q', equalizerText(gains, 44100));
  EXPECT_EQ(all[3], "+1.5");
  EXPECT_EQ(all[7], "-3");
  EXPECT_EQ(all[29], "17000");
  EXPECT_EQ(all[31], "+12");
  EXPECT_EQ(soxEffectText(soxWordsOf('Q'), equalizerText(zeros, 8000)).substr(0, 14), " equalizer 40 ");
}

// ---------------------------------------------------------------- the command flow

// Records what would be run; hands `output` over as the program's standard
// output unless told to write nothing, giving the program up when the
// caller refuses it, as the real runner does.
class RecordingRunner final : public ProcessRunner {
 public:
  RecordingRunner() { setProcessRunner(this); }
  ~RecordingRunner() override { setProcessRunner(nullptr); }
  ProcessResult run(std::span<const std::string> args, const ProcessCallbacks& callbacks) override {
    runs.emplace_back(args.begin(), args.end());
    if (callbacks.started) callbacks.started();
    if (writeOutput && callbacks.output && !callbacks.output(output)) return {ProcessResult::Kind::gaveUp, 0};
    return {ProcessResult::Kind::exited, exitCode};
  }
  std::vector<Words> runs;
  std::vector<uint8_t> output;
  bool writeOutput = true;
  int exitCode = 0;
};

class SoxEffects : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    for (int16_t i = 0; i < 100; ++i) values.push_back(static_cast<int16_t>(i * 300 - 15000));
    fillMono(sound(), values);
    program().currentPosition = 40;
    program().markedPosition = 60;
  }
  std::vector<int16_t> values;
};

TEST_F(SoxEffects, RealSoxReversesTheSoundAndTheResultIsKept) {
  KeyScript script;
  script.type("ts").key("\x1B");
  effectsCommand();
  EXPECT_EQ(script.remaining(), 0u);
  EXPECT_EQ(leftValues(sound()), std::vector<int16_t>(values.rbegin(), values.rend()));
  EXPECT_EQ(program().currentPosition, 0);
  EXPECT_EQ(program().markedPosition, 0);
}

TEST_F(SoxEffects, RealSoxResultDroppedGivesTheSoundBack) {
  KeyScript script;
  script.type("tn").key("\x1B");
  effectsCommand();
  EXPECT_EQ(leftValues(sound()), values);
  EXPECT_EQ(program().currentPosition, 0);
  EXPECT_EQ(program().markedPosition, 0);
}

// Reverse, then ESC out of the effects command: a keep question would take
// the ESC and leave the command waiting past the end of the script.
void reverseAndLeave() {
  KeyScript script;
  script.type("t").key("\x1B");
  effectsCommand();
  EXPECT_EQ(script.remaining(), 0u);
}

// Reverse with SoX's run replaced by `runner` (nullptr: the real one), then
// ESC out; what was said is on a fresh screen.
void reverseWith(std::unique_ptr<RecordingRunner> runner) {
  const std::unique_ptr<RecordingRunner> inForce = std::move(runner);
  clearScreen();
  reverseAndLeave();
}

TEST_F(SoxEffects, ASoxThatCannotRunFailsOrGivesNothingIsToldAndNothingIsAsked) {
  constexpr std::string_view kCannotRun = "N\xE3o foi possivel executar o Sox";
  constexpr std::string_view kFailed = "O Sox falhou, o som continua como estava";
  program().soxProgram = "/nonexistent/sox";
  reverseWith(nullptr);
  EXPECT_TRUE(shown(kCannotRun));
  EXPECT_FALSE(shown(kFailed));
  program().soxProgram = "sox";

  TAmostras other;
  fillMono(other, {1, 2, 3});
  ASSERT_TRUE(other.saveWav(file("o.wav")));
  auto failing = std::make_unique<RecordingRunner>();  // half a file, then an error status
  failing->output = readFileBytes(file("o.wav"));
  failing->exitCode = 2;
  reverseWith(std::move(failing));
  EXPECT_TRUE(shown(kFailed));

  auto silent = std::make_unique<RecordingRunner>();  // a clean end without an output
  silent->writeOutput = false;
  reverseWith(std::move(silent));
  EXPECT_TRUE(shown(kFailed));

  TAmostras nothing;
  fillMono(nothing, {});
  ASSERT_TRUE(nothing.saveWav(file("vazio.wav")));
  auto empty = std::make_unique<RecordingRunner>();  // a clean end with a header and no sound
  empty->output = readFileBytes(file("vazio.wav"));
  reverseWith(std::move(empty));
  EXPECT_TRUE(shown(kFailed));

  EXPECT_FALSE(shown("Demonstra\xE7\xE3o"));
  EXPECT_EQ(leftValues(sound()), values);
  EXPECT_EQ(program().currentPosition, 40);
  EXPECT_EQ(program().markedPosition, 60);
}

TEST_F(SoxEffects, AnOutputThatCannotBeLoadedIsNotKept) {
  RecordingRunner runner;
  const std::string_view notWav = "not a wav file at all";
  runner.output.assign(notWav.begin(), notWav.end());
  KeyScript script;
  script.type("n").key("\x1B");  // no keep question: ESC is the next prompt's answer
  effectsCommand();
  EXPECT_EQ(script.remaining(), 0u);
  EXPECT_EQ(leftValues(sound()), values);
  EXPECT_TRUE(shown("Arquivo incompat\xEDvel com este programa"));
}

TEST_F(SoxEffects, InputIsTheScratchCopyAndOutputStandardOutput) {
  RecordingRunner runner;
  runner.writeOutput = false;
  KeyScript script;
  script.type("n").key("\x1B");
  effectsCommand();
  ASSERT_EQ(runner.runs.size(), 1u);
  EXPECT_EQ(runner.runs[0], (Words{"sox", "--buffer", "131072", effectScratchFile(), "-t", "wav", "-", "gain", "-n"}));
  EXPECT_TRUE(shown("Fim da edi\xE7\xE3o"));
}

TEST_F(SoxEffects, GainQuestionWarnsAboveTwentyAndTakesZeroForText) {
  RecordingRunner runner;
  runner.writeOutput = false;
  KeyScript script;
  script.type("g25\r").type("n")  // warned, not confirmed: asked again
      .type("-25\r")              // no lower limit
      .type("a25\r").key(std::string("\0\x3B", 2)).type("S")  // F1 explains, then S
      .type("g25\r").key("\x1B")  // ESC at the warning gives up: nothing runs
      .type("g2,5\r")             // not a whole number: nothing of it is taken
      .type("a\r")
      .key("\x1B");
  effectsCommand();
  EXPECT_TRUE(shown("Valor inv\xE1lido, assumido zero"));
  EXPECT_TRUE(shown("S aplica esse ganho; outra tecla pede outro valor; ESC desiste"));
  EXPECT_TRUE(shown("Desistiu..."));
  ASSERT_EQ(runner.runs.size(), 4u);
  EXPECT_EQ(effectPart(runner.runs[0]), (Words{"bass", "-25"}));
  EXPECT_EQ(effectPart(runner.runs[1]), (Words{"treble", "+25"}));
  EXPECT_EQ(effectPart(runner.runs[2]), (Words{"bass", "0"}));
  EXPECT_EQ(effectPart(runner.runs[3]), (Words{"treble", "0"}));
}

TEST_F(SoxEffects, SpeedPitchEchoAndEqualizerAskTheirParameters) {
  RecordingRunner runner;
  runner.writeOutput = false;
  KeyScript script;
  script.type("v\r")
      .type("v 1,5 \r")
      .type("v1.2 noiseprof voz.wav\r")  // refused: never more words for SoX
      .type("v0\r")
      .type("f\r")                       // refused: pitch has no default
      .type("f-300\r")
      .type("x50\r300\r30\r").key("\x1B")
      .type("q\r2,5\r\r\r\r").key("\x1B")
      .key("\x1B");
  effectsCommand();
  EXPECT_EQ(script.remaining(), 0u);
  EXPECT_TRUE(shown("Valor inv\xE1lido, efeito n\xE3o aplicado"));
  ASSERT_EQ(runner.runs.size(), 5u);
  EXPECT_EQ(effectPart(runner.runs[0]), (Words{"speed", "1.2"}));
  EXPECT_EQ(effectPart(runner.runs[1]), (Words{"speed", "1.5"}));
  EXPECT_EQ(effectPart(runner.runs[2]), (Words{"pitch", "-300"}));
  EXPECT_EQ(effectPart(runner.runs[3]),
            (Words{"echo", "0.8", "0.5", "300", "0.3"}));
  // 22050 Hz: seven bands, the second one raised.
  const Words eq = effectPart(runner.runs[4]);
  ASSERT_EQ(eq.size(), 28u);
  EXPECT_EQ(eq[3], "+0");
  EXPECT_EQ(eq[7], "+2.5");
  EXPECT_EQ(eq[24], "equalizer");
  EXPECT_EQ(eq[25], "8500");
}

}  // namespace
}  // namespace kalimbro
