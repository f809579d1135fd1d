// kalimbro on a desktop's sound server: a private PipeWire stack (see
// pipewire_stack.h) reached through ALSA's "default" PCM, as on a Debian
// desktop. What the program plays is heard on a null sink's monitor, what
// it records comes from a source fed with a known tone, and the server is
// killed under it and brought back. Without PipeWire installed the tests
// are skipped (scripts/setup installs it).
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/e2e/harness.h"
#include "tests/e2e/pipewire_stack.h"

namespace kalimbro::e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrompt = "Gravador, qual sua opção? ";
constexpr std::string_view kHowToPlay = "Use espaço para tocar, F1 ajuda";
constexpr std::string_view kCannotOpen = "Não foi possível abrir o dispositivo de som";
constexpr std::string_view kStopped = "O dispositivo de som parou de funcionar";
constexpr milliseconds kLongSpeech{60000};
constexpr int kMonitorRate = 48000;

// A sine of `hz` at `amplitude`, mono.
std::vector<int16_t> sine(double hz, double seconds, int rate, double amplitude) {
  std::vector<int16_t> samples(static_cast<size_t>(std::lround(seconds * rate)));
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate)));
  return samples;
}

// The longest stretch of a steady sine of about `hz` in the first channel
// of interleaved samples: 10 ms windows loud enough and crossing zero as
// often as the tone does. Over the stretch, its pitch and the longest run
// of samples near zero (a hole; a sine passes zero in a sample or two).
struct ToneStretch {
  double seconds = 0;
  double hz = 0;
  int longestHole = 0;
};

ToneStretch findTone(const std::vector<int16_t>& samples, int channels, int rate, double hz) {
  const size_t frames = samples.size() / static_cast<size_t>(channels);
  auto at = [&](size_t frame) { return samples[frame * static_cast<size_t>(channels)]; };
  auto crossings = [&](size_t from, size_t to) {
    int n = 0;
    for (size_t i = from + 1; i < to; ++i) n += (at(i - 1) < 0) != (at(i) < 0);
    return n;
  };
  const size_t window = static_cast<size_t>(rate / 100);
  const double expected = 2 * hz * static_cast<double>(window) / rate;
  size_t bestStart = 0, bestLength = 0, runStart = 0, runLength = 0;
  for (size_t w = 0; (w + 1) * window <= frames; ++w) {
    double energy = 0;
    for (size_t i = w * window; i < (w + 1) * window; ++i) energy += double(at(i)) * at(i);
    const double rms = std::sqrt(energy / static_cast<double>(window));
    const bool tone = rms > 1000 && std::abs(crossings(w * window, (w + 1) * window) - expected) <= std::max(2.0, 0.1 * expected);
    if (!tone) {
      runLength = 0;
      continue;
    }
    if (runLength++ == 0) runStart = w;
    if (runLength > bestLength) {
      bestStart = runStart;
      bestLength = runLength;
    }
  }
  ToneStretch stretch;
  if (bestLength == 0) return stretch;
  const size_t from = bestStart * window, to = (bestStart + bestLength) * window;
  stretch.seconds = static_cast<double>(to - from) / rate;
  stretch.hz = crossings(from, to) / 2.0 / stretch.seconds;
  // The stretch starts and ends on window bounds: silence before the first
  // sound and after the last is not a hole.
  auto loud = [&](size_t i) { return std::abs(at(i)) >= 300; };
  size_t first = from, last = to - 1;
  while (!loud(first)) ++first;
  while (!loud(last)) --last;
  int hole = 0;
  for (size_t i = first; i <= last; ++i) {
    hole = loud(i) ? 0 : hole + 1;
    stretch.longestHole = std::max(stretch.longestHole, hole);
  }
  return stretch;
}

std::ostream& operator<<(std::ostream& os, const ToneStretch& t) {
  return os << t.seconds << " s at " << t.hz << " Hz, longest hole " << t.longestHole << " samples";
}

// What /proc tells of a process: resident memory and CPU time used.
struct ProcessUse {
  long residentKb = 0;
  double cpuSeconds = 0;
};

ProcessUse processUse(pid_t pid) {
  ProcessUse use;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) use.residentKb = std::stol(line.substr(6));
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name, which ends with the last ')': utime and
  // stime are the 12th and 13th of them.
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 1; i <= 13 && rest >> field; ++i)
    if (i >= 12) ticks += std::stol(field);
  use.cpuSeconds = static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
  return use;
}

class PipeWireE2e : public testing::Test {
 protected:
  void SetUp() override {
    if (!PipeWireStack::installed())
      GTEST_SKIP() << "PipeWire is not installed (scripts/setup installs pipewire, pipewire-alsa, "
                      "pipewire-pulse, wireplumber, pulseaudio-utils and dbus)";
    std::string error;
    stack = PipeWireStack::start(&error);
    ASSERT_NE(stack, nullptr) << error;
    ASSERT_TRUE(addOutput());
  }

  // The sink the program's sound reaches, as the default.
  bool addOutput() { return stack->addNullSink("saida") && stack->pactl({"set-default-sink", "saida"}); }

  // The program with the system's default devices, which reach the stack.
  void startProgram(Options options) {
    options.settings.push_back({"SOM", "SAIDA", ""});
    options.settings.push_back({"SOM", "ENTRADA", ""});
    for (const auto& e : stack->clientEnv()) options.env.push_back(e);
    std::string error;
    s = Session::start(options, &error);
    ASSERT_NE(s, nullptr) << error;
  }

  // Opens a sound named on the command line and enters the play command.
  void startPlaying(const std::vector<int16_t>& sound, int rate) {
    Options options;
    options.args = {"tom.wav"};
    options.files = {{"tom.wav", wavBytes(static_cast<uint32_t>(rate), 16, 1, sound)}};
    ASSERT_NO_FATAL_FAILURE(startProgram(options));
    ASSERT_TRUE(s->waitForPrompt(kPrompt, "Carregando som", kLongSpeech));
    ASSERT_TRUE(s->type("t"));
    ASSERT_TRUE(s->waitForText(kHowToPlay, kLongSpeech));
    ASSERT_TRUE(s->waitForQuiet(milliseconds(500)));
  }

  // The declaration order ends the program before the stack it uses.
  std::unique_ptr<PipeWireStack> stack;
  std::unique_ptr<Session> s;
};

// A tone a little longer than a whole number of tenths: all of it reaches
// the sink, at its pitch, without a hole.
TEST_F(PipeWireE2e, WhatIsPlayedReachesTheSinkWholeAtItsPitch) {
  constexpr int kRate = 22050;
  ASSERT_NO_FATAL_FAILURE(startPlaying(sine(1000, 1.05, kRate, 12000), kRate));
  const auto monitor = stack->record("saida.monitor");
  ASSERT_NE(monitor, nullptr);
  // The spoken help is over when the sink has been quiet a while.
  ASSERT_TRUE(monitor->waitForSilence(milliseconds(300), kLongSpeech));
  ASSERT_TRUE(s->sendKey(" "));
  // The cursor goes a tenth past the end once the last piece is queued.
  ASSERT_TRUE(s->waitForText("1:1", kLongSpeech));
  std::this_thread::sleep_for(milliseconds(1000));
  const ToneStretch heard = findTone(monitor->stop(), 2, kMonitorRate, 1000);
  EXPECT_NEAR(heard.seconds, 1.05, 0.025) << heard;
  EXPECT_NEAR(heard.hz, 1000, 5) << heard;
  EXPECT_LE(heard.longestHole, 3) << heard;
}

// A new file recorded from the default source, which hears a known tone;
// then a take whose server dies under it ends by itself and says why.
TEST_F(PipeWireE2e, ARecordingHoldsWhatTheSourceHeardAndEndsWhenTheServerDies) {
  ASSERT_TRUE(stack->addNullSink("microfone"));
  ASSERT_TRUE(stack->pactl({"load-module", "module-remap-source", "master=microfone.monitor", "source_name=entrada"}));
  ASSERT_TRUE(stack->pactl({"set-default-source", "entrada"}));
  const fs::path toneFile = stack->dir() / "tom.wav";
  ASSERT_TRUE(writeFile(toneFile, wavBytes(kMonitorRate, 16, 1, sine(660, 8, kMonitorRate, 16000))));
  const pid_t feeder = stack->spawn({"paplay", "-d", "microfone", toneFile.string()});
  ASSERT_GT(feeder, 0);

  Options options;
  options.args = {"novo.wav"};
  ASSERT_NO_FATAL_FAILURE(startProgram(options));
  ASSERT_TRUE(s->waitForPrompt("Qualidade CD, rádio ou telefone? ", {}, kLongSpeech));
  ASSERT_TRUE(s->type("r"));  // 22050 Hz, 16 bits
  ASSERT_TRUE(s->waitForPrompt("Estéreo ou Mono? ", {}, kLongSpeech));
  ASSERT_TRUE(s->type("m"));
  ASSERT_TRUE(s->waitForText("Tecle Enter para gravar, ESC termina", kLongSpeech));
  ASSERT_TRUE(s->sendKey(Key::Enter));
  ASSERT_TRUE(s->waitUntil([&] { return s->title().find("Gravando") != std::string::npos; }, "recording"));
  std::this_thread::sleep_for(milliseconds(2000));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, "Carregando som", kLongSpeech));
  stack->end(feeder);

  const std::optional<WavContents> recorded = readWav(s->workDir() / "novo.wav");
  ASSERT_TRUE(recorded.has_value());
  EXPECT_EQ(recorded->sampleRate, 22050u);
  EXPECT_EQ(recorded->channels, 1u);
  const double seconds = static_cast<double>(recorded->samples.size()) / 22050;
  EXPECT_GT(seconds, 1.5);
  const ToneStretch heard = findTone(recorded->samples, 1, 22050, 660);
  // The tone from shortly after the start to the end, whole.
  EXPECT_GT(heard.seconds, seconds - 0.5) << heard << " of " << seconds << " s";
  EXPECT_NEAR(heard.hz, 660, 5) << heard;
  EXPECT_LE(heard.longestHole, 3) << heard;

  ASSERT_TRUE(s->type("g"));
  ASSERT_TRUE(s->waitForText("Aperte enter para continuar grava", kLongSpeech));
  ASSERT_TRUE(s->sendKey(Key::Enter));
  ASSERT_TRUE(s->waitUntil([&] { return s->title().find("Gravando") != std::string::npos; }, "recording"));
  std::this_thread::sleep_for(milliseconds(500));
  stack->killServer();
  ASSERT_TRUE(s->waitForText("O dispositivo de entrada de som parou de funcionar", milliseconds(5000)));
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitForText("Já posso armazenar em disco?", kLongSpeech));
  ASSERT_TRUE(s->type("n"));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, "armazenar", kLongSpeech));
}

// The server dies while a long sound plays: the user is told once, keys
// work at once, the program neither spins nor grows, and once the server
// is back the next sound is heard.
TEST_F(PipeWireE2e, AServerThatDiesWhilePlayingIsToldAndSoundComesBackWithIt) {
  constexpr int kRate = 22050;
  ASSERT_NO_FATAL_FAILURE(startPlaying(sine(1000, 20, kRate, 12000), kRate));
  ASSERT_TRUE(s->sendKey(" "));
  std::this_thread::sleep_for(milliseconds(1500));
  stack->killServer();

  ASSERT_TRUE(s->waitForText(kStopped, milliseconds(5000)));
  const ProcessUse before = processUse(s->pid());
  std::this_thread::sleep_for(milliseconds(2000));
  const ProcessUse after = processUse(s->pid());
  EXPECT_LT(after.residentKb - before.residentKb, 10 * 1024) << "memory grows";
  EXPECT_LT(after.cpuSeconds - before.cpuSeconds, 0.5) << "the program spins";
  ASSERT_TRUE(s->sendKey(Key::F6));
  ASSERT_TRUE(s->waitForText("Tempo total: 20:0", milliseconds(5000)));

  std::string error;
  ASSERT_TRUE(stack->startServer(&error)) << error;
  ASSERT_TRUE(addOutput());
  const auto monitor = stack->record("saida.monitor");
  ASSERT_NE(monitor, nullptr);
  ASSERT_TRUE(s->sendKey(Key::Home));
  ASSERT_TRUE(s->waitForText("Início do som"));
  ASSERT_TRUE(s->waitForQuiet(milliseconds(500)));
  ASSERT_TRUE(s->sendKey(" "));
  std::this_thread::sleep_for(milliseconds(1500));
  ASSERT_TRUE(s->sendKey(" "));
  std::this_thread::sleep_for(milliseconds(500));
  const ToneStretch heard = findTone(monitor->stop(), 2, kMonitorRate, 1000);
  EXPECT_GT(heard.seconds, 0.5) << heard;
  EXPECT_EQ(s->findAll(kStopped).size(), 1u) << s->dump();
  ASSERT_TRUE(s->sendKey(Key::Esc));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, kHowToPlay, kLongSpeech));
}

// No server at all: the screen says so once, and Space does not pretend
// to play.
TEST_F(PipeWireE2e, WithoutAServerTheScreenSaysSoAndSpaceLeavesTheCursor) {
  stack.reset();
  std::string pattern = (fs::temp_directory_path() / "kalimbro-semsom-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path empty = pattern;
  Options options;
  options.args = {"tom.wav"};
  options.files = {{"tom.wav", wavBytes(22050, 16, 1, sine(1000, 1, 22050, 12000))}};
  options.settings = {{"SOM", "SAIDA", ""}};
  options.env = {{"XDG_RUNTIME_DIR", empty.string()}, {"PIPEWIRE_RUNTIME_DIR", empty.string()},
                 {"PULSE_RUNTIME_PATH", (empty / "pulse").string()}};
  std::string error;
  s = Session::start(options, &error);
  ASSERT_NE(s, nullptr) << error;
  ASSERT_TRUE(s->waitForText(kCannotOpen, kLongSpeech));
  ASSERT_TRUE(s->waitForPrompt(kPrompt, "Carregando som", kLongSpeech));
  ASSERT_TRUE(s->type("t"));
  ASSERT_TRUE(s->waitForText(kHowToPlay, kLongSpeech));
  ASSERT_TRUE(s->sendKey(" "));
  ASSERT_TRUE(s->waitForQuiet(milliseconds(500)));
  ASSERT_TRUE(s->sendKey(Key::F6));
  ASSERT_TRUE(s->waitForText("Tempo total: 1:0  posição do cursor: 0:0", kLongSpeech));
  EXPECT_FALSE(s->find("Fim do som").has_value()) << s->dump();
  EXPECT_EQ(s->findAll(kCannotOpen).size(), 1u) << s->dump();
  s.reset();
  std::error_code ec;
  fs::remove_all(empty, ec);
}

}  // namespace
}  // namespace kalimbro::e2e
