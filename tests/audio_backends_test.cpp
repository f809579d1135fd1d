// The real backends: the program's pseudo devices and ALSA (through a
// configuration whose "file" PCM writes what is played and reads what is
// captured from a file, over a "null" slave).
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "console/VrCrt.h"
#include "platform/audio.h"
#include "platform/wav_header.h"
#include "sound/vrgrav.h"
#include "sound/vrwav.h"
#include "tests/fakes/wav_image.h"

namespace kalimbro {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> pattern(size_t size, int seed = 0) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((i * 31 + seed) % 249);
  return data;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<uint8_t> dataOf(const std::vector<uint8_t>& wav) {
  return std::vector<uint8_t>(wav.begin() + 44, wav.end());
}

class Backends : public ::testing::Test {
 protected:
  void SetUp() override {
    crtInit(nullptr);
    initPlayback();
    char pattern[] = "/tmp/audio_backends_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
  }
  void TearDown() override {
    endPlayback();
    recStop();
    setInputDevice("");
    std::filesystem::remove_all(dir_);
  }

  std::string dir_;
};

TEST_F(Backends, ArquivoOutputHoldsExactlyWhatWasPlayed) {
  const std::string heard = dir_ + "ouvido.wav";
  setOutputDevice("arquivo:" + heard);
  const std::vector<uint8_t> sound = pattern(17640);  // 0.2 s of 16-bit stereo at 22050 Hz
  writeBytes(dir_ + "som.wav", wavImage(22050, 16, 2, sound));
  ASSERT_EQ(playWavFile(dir_ + "som.wav"), 0);
  endPlayback();
  EXPECT_EQ(fileBytes(heard), wavImage(22050, 16, 2, sound));
}

TEST_F(Backends, ArquivoOutputAppendsInTheFilesOwnFormat) {
  const std::string heard = dir_ + "ouvido.wav";
  setOutputDevice("arquivo:" + heard);
  const std::vector<uint8_t> first = pattern(8820);  // 0.1 s, 16-bit stereo 22050 Hz
  ASSERT_EQ(playBlock(first, 22050, 16, 2), 0);
  // 8-bit mono at half the rate: every frame twice, in 16-bit stereo. The
  // engine ends a short 8-bit mono block on silence.
  const std::vector<uint8_t> second(1102, 192);
  ASSERT_EQ(playBlock(second, 11025, 8, 1), 0);
  while (isPlaying()) delay(10);
  endPlayback();

  const std::vector<uint8_t> file = fileBytes(heard);
  ASSERT_EQ(file.size(), 44u + 8820 + 2204 * 4);
  EXPECT_EQ(le32(file, 40), 8820u + 2204 * 4);
  EXPECT_EQ(le32(file, 4), 36u + 8820 + 2204 * 4);
  const std::vector<uint8_t> data = dataOf(file);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), data.begin()));
  for (size_t frame = 0; frame < 2204; ++frame) {
    const uint8_t* f = data.data() + 8820 + frame * 4;
    const int16_t expected = frame < 2202 ? 64 * 256 : 0;
    const int16_t left = static_cast<int16_t>(f[0] | f[1] << 8);
    const int16_t right = static_cast<int16_t>(f[2] | f[3] << 8);
    ASSERT_EQ(left, expected) << frame;
    ASSERT_EQ(right, expected) << frame;
  }
}

TEST_F(Backends, WhileArquivoPlaysItsFileIsAValidWavOfWhatWasHeardSoFar) {
  const std::string heard = dir_ + "ouvido.wav";
  setOutputDevice("arquivo:" + heard);
  setStopOnKey(false);
  const std::vector<uint8_t> sound = pattern(8 * 8192);  // 6 s of 8-bit mono
  ASSERT_EQ(playBlock(sound, 11025, 8, 1), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // The device's thread appends a piece and then its header: between two
  // such updates the file is whole. A busy machine may catch it between the
  // two, so the file is read again a few times.
  std::vector<uint8_t> during = fileBytes(heard);
  for (int i = 0; i < 50 && (during.size() < 44 || le32(during, 40) != during.size() - 44); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    during = fileBytes(heard);
  }
  ASSERT_GE(during.size(), 44u);
  EXPECT_EQ(le32(during, 40), during.size() - 44);
  EXPECT_LT(during.size() - 44, 8u * 8192);
  // A stop keeps what was heard and drops the rest.
  stopPlayback();
  EXPECT_FALSE(isPlaying());
  endPlayback();
  const std::vector<uint8_t> after = fileBytes(heard);
  EXPECT_EQ(le32(after, 40), after.size() - 44);
  EXPECT_LT(after.size() - 44, 8u * 8192);
  EXPECT_TRUE(std::equal(after.begin() + 44, after.end(), sound.begin()));
}

TEST_F(Backends, ArquivoOutputLeavesAFileThatIsNotAWavAlone) {
  const std::string notWav = dir_ + "texto.wav";
  writeBytes(notWav, {'o', 'l', 'a', '\n'});
  setOutputDevice("arquivo:" + notWav);
  EXPECT_EQ(playBlock(pattern(1000), 11025, 8, 1), EINVAL);
  EXPECT_EQ(fileBytes(notWav), (std::vector<uint8_t>{'o', 'l', 'a', '\n'}));
  setOutputDevice("arquivo:" + dir_ + "nao/existe.wav");
  EXPECT_EQ(playBlock(pattern(1000), 11025, 8, 1), ENOENT);
}

TEST_F(Backends, AWavFileAsInputIsRecordedFrameForFrame) {
  const std::vector<uint8_t> source = pattern(2 * 3307);  // 0.3 s of 16-bit mono at 11025 Hz
  writeBytes(dir_ + "fonte.wav", wavImage(11025, 16, 1, source));
  setInputDevice("arquivo:" + dir_ + "fonte.wav");
  const std::string take = dir_ + "take.wav";
  ASSERT_EQ(recStart(take, 11025, 16, 1, 4, 8192), 0);
  const Clock::time_point started = Clock::now();
  recBegin();
  while (Clock::now() - started < std::chrono::milliseconds(450)) {
    ASSERT_TRUE(recPoll());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(recStop());
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

  const std::vector<uint8_t> file = fileBytes(take);
  ASSERT_GE(file.size(), 44u + source.size());
  EXPECT_EQ(le32(file, 40), file.size() - 44);
  // Paced at the real rate: never more frames than the time allowed.
  EXPECT_LE(file.size() - 44, static_cast<size_t>(seconds * 11025 * 2) + 2);
  const std::vector<uint8_t> data = dataOf(file);
  EXPECT_TRUE(std::equal(source.begin(), source.end(), data.begin()));
  EXPECT_TRUE(std::all_of(data.begin() + static_cast<std::ptrdiff_t>(source.size()), data.end(),
                          [](uint8_t b) { return b == 0; }));  // silence after its end
}

TEST_F(Backends, ArquivoInputConvertsToTheFormatAskedFor) {
  const std::vector<uint8_t> source = pattern(1102);  // 0.1 s of 8-bit mono at 11025 Hz
  writeBytes(dir_ + "fonte.wav", wavImage(11025, 8, 1, source));
  std::unique_ptr<AudioInput> input = makeAudioInput("arquivo:" + dir_ + "fonte.wav");
  ASSERT_EQ(input->open({22050, 16, 2}, 65536), 0);
  ASSERT_EQ(input->start(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  input->stop();
  std::vector<uint8_t> got;
  std::vector<uint8_t> piece(4096);
  for (int64_t n; (n = input->read(piece)) > 0;) got.insert(got.end(), piece.begin(), piece.begin() + n);
  input->close();
  ASSERT_GE(got.size(), 2204u * 4);
  for (size_t frame = 0; frame < 2204; ++frame) {
    const int16_t expected = static_cast<int16_t>((source[frame / 2] - 128) * 256);
    ASSERT_EQ(static_cast<int16_t>(got[frame * 4] | got[frame * 4 + 1] << 8), expected) << frame;
    ASSERT_EQ(static_cast<int16_t>(got[frame * 4 + 2] | got[frame * 4 + 3] << 8), expected) << frame;
  }
  EXPECT_EQ(makeAudioInput("arquivo:" + dir_ + "nenhum.wav")->open({11025, 8, 1}, 4096), ENOENT);
}

TEST_F(Backends, NuloTakesAsLongAsTheSound) {
  setOutputDevice("nulo");
  writeBytes(dir_ + "meio.wav", wavImage(11025, 8, 1, std::vector<uint8_t>(5512, 100)));  // 0.5 s
  const Clock::time_point started = Clock::now();
  ASSERT_EQ(playWavFile(dir_ + "meio.wav"), 0);
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(400));

  // Input: silence, never ahead of the clock.
  std::unique_ptr<AudioInput> input = makeAudioInput("NULO");
  ASSERT_EQ(input->open({8000, 8, 1}, 8192), 0);
  const Clock::time_point opened = Clock::now();
  ASSERT_EQ(input->start(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  input->stop();
  const double seconds = std::chrono::duration<double>(Clock::now() - opened).count();
  std::vector<uint8_t> got(16384, 0);
  const int64_t n = input->read(got);
  EXPECT_GT(n, 0);
  EXPECT_LE(n, static_cast<int64_t>(seconds * 8000) + 1);
  EXPECT_TRUE(std::all_of(got.begin(), got.begin() + n, [](uint8_t b) { return b == 128; }));
  EXPECT_EQ(input->read(got), 0);  // nothing more after the stop
}

TEST_F(Backends, FormatsNoDeviceTakesAreRefused) {
  auto ignore = [](int, int) {};
  EXPECT_EQ(makeAudioOutput("nulo")->open({11025, 12, 1}, ignore), EINVAL);
  EXPECT_EQ(makeAudioOutput("nulo")->open({0, 8, 1}, ignore), EINVAL);
  EXPECT_EQ(makeAudioOutput("kalimbro_nao_existe")->open({11025, 8, 3}, ignore), EINVAL);
  EXPECT_EQ(makeAudioInput("nulo")->open({11025, 8, 0}, 4096), EINVAL);
}

// ALSA through a "file" PCM over a "null" slave.
class Alsa : public Backends {
 protected:
  void SetUp() override {
    Backends::SetUp();
    played_ = dir_ + "tocado.raw";
    captureSource_ = dir_ + "captura.raw";
    writeBytes(captureSource_, pattern(20000, 7));
    const std::string config = dir_ + "asound.conf";
    std::ofstream(config) << "</usr/share/alsa/alsa.conf>\n"
                          << "pcm.KalimbroTeste {\n"
                          << "  type file\n"
                          << "  slave.pcm { type null }\n"
                          << "  file \"" << played_ << "\"\n"
                          << "  infile \"" << captureSource_ << "\"\n"
                          << "  format raw\n"
                          << "  hint { show on description \"kalimbro\" }\n"
                          << "}\n";
    const char* old = getenv("ALSA_CONFIG_PATH");
    hadConfig_ = old != nullptr;
    if (hadConfig_) oldConfig_ = old;
    setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
  }
  void TearDown() override {
    endPlayback();
    recStop();
    if (hadConfig_) {
      setenv("ALSA_CONFIG_PATH", oldConfig_.c_str(), 1);
    } else {
      unsetenv("ALSA_CONFIG_PATH");
    }
    snd_config_update_free_global();
    Backends::TearDown();
  }

  std::string played_;
  std::string captureSource_;
  bool hadConfig_ = false;
  std::string oldConfig_;
};

TEST_F(Alsa, WhatIsPlayedReachesThePcm) {
  setOutputDevice("KalimbroTeste");
  const std::vector<uint8_t> sound = pattern(3 * 8192 + 1000);
  ASSERT_EQ(playBlock(sound, 44100, 16, 2), 0);
  while (isPlaying()) delay(10);
  endPlayback();
  EXPECT_EQ(fileBytes(played_), sound);
}

TEST_F(Alsa, ARecordingCapturesWhatThePcmDelivers) {
  setInputDevice("KalimbroTeste");
  const std::string take = dir_ + "take.wav";
  ASSERT_EQ(recStart(take, 11025, 8, 1, 4, 4096), 0);
  recBegin();
  ASSERT_TRUE(recPoll());
  ASSERT_TRUE(recStop());
  const std::vector<uint8_t> file = fileBytes(take);
  ASSERT_GE(file.size(), 44u + 16384);
  EXPECT_EQ(le32(file, 40), file.size() - 44);
  const std::vector<uint8_t> source = fileBytes(captureSource_);
  const std::vector<uint8_t> data = dataOf(file);
  const size_t compared = std::min(source.size(), data.size());
  EXPECT_TRUE(std::equal(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(compared), data.begin()));
}

TEST_F(Alsa, TheHintedPcmIsListedAndFoundWithoutRegardToCase) {
  std::string device;
  ASSERT_TRUE(findOutputDevice("kalimbroteste", device));
  EXPECT_EQ(device, "KalimbroTeste");
}

TEST_F(Alsa, AnUnknownPcmGivesAnErrorCodeAndNothingElse) {
  setOutputDevice("kalimbro_nao_existe");
  const int rc = playBlock(pattern(1000), 11025, 8, 1);
  EXPECT_GT(rc, 0);
  EXPECT_FALSE(isPlaying());
  setInputDevice("kalimbro_nao_existe");
  const int recorded = recStart(dir_ + "take.wav", 11025, 8, 1, 4, 4096);
  EXPECT_GT(recorded, 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "take.wav"));
}

std::set<std::string> threadIds() {
  std::set<std::string> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ids.insert(entry.path().filename().string());
  return ids;
}

uint64_t blockedSignals(const std::string& threadId) {
  std::ifstream status("/proc/self/task/" + threadId + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("SigBlk:")) return std::stoull(line.substr(7), nullptr, 16);
  return 0;
}

// The signal handlers restore the terminal and remove files while the main
// thread stands still; a feeding thread must never be the one that runs
// them.
TEST_F(Alsa, FeedingThreadsTakeNoSignalOfTheProgram) {
  for (const std::string& device : {std::string("KalimbroTeste"), std::string("nulo"), "arquivo:" + dir_ + "saida.wav"}) {
    const std::set<std::string> before = threadIds();
    std::unique_ptr<AudioOutput> output = makeAudioOutput(device);
    ASSERT_EQ(output->open({11025, 8, 1}, [](int, int) {}), 0) << device;
    int feeders = 0;
    for (const std::string& id : threadIds()) {
      if (before.contains(id)) continue;
      ++feeders;
      const uint64_t blocked = blockedSignals(id);
      for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGWINCH})
        EXPECT_TRUE(blocked >> (signal - 1) & 1) << device << " lets signal " << signal << " in";
    }
    EXPECT_EQ(feeders, 1) << device;
    output->close();
  }
}

}  // namespace
}  // namespace kalimbro
