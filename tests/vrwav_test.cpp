#include "sound/vrwav.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "console/VrCrt.h"
#include "platform/eventloop.h"
#include "platform/wav_header.h"
#include "tests/fakes/fake_audio.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/wav_image.h"

namespace kalimbro {
namespace {

std::vector<uint8_t> pattern(size_t size, int seed = 1) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((i * 7 + seed) % 251);
  return data;
}

void queueKey(uint8_t key) { crtHandleInput(charEvent(key)); }

class Playback : public ::testing::Test {
 protected:
  void SetUp() override {
    crtInit(nullptr);
    initPlayback();
    setOutputDevice("placa");
    char pattern[] = "/tmp/vrwav_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
  }
  void TearDown() override {
    endPlayback();
    while (keyPressed()) readKey();
    std::filesystem::remove_all(dir_);
  }

  std::string writeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_ + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  std::vector<size_t> blockSizes() {
    std::vector<size_t> sizes;
    for (const auto& b : fake.blocks) sizes.push_back(b.bytes.size());
    return sizes;
  }

  std::vector<uint8_t> allBlockBytes() {
    std::vector<uint8_t> all;
    for (const auto& b : fake.blocks) all.insert(all.end(), b.bytes.begin(), b.bytes.end());
    return all;
  }

  FakeAudio fake;
  std::string dir_;
};

TEST_F(Playback, ShortEightBitMonoBlockReachesTheDeviceAs256BytesEndingInSilence) {
  const std::vector<uint8_t> data = pattern(100);
  ASSERT_EQ(playBlock(data, 11025, 8, 1), 0);
  ASSERT_EQ(fake.blocks.size(), 1u);
  const std::vector<uint8_t>& sent = fake.blocks[0].bytes;
  ASSERT_EQ(sent.size(), 256u);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 99, sent.begin()));
  EXPECT_EQ(sent[99], 128);
  for (size_t i = 100; i < 256; ++i) EXPECT_EQ(sent[i], 128) << i;
  EXPECT_EQ(fake.opens, (std::vector<AudioFormat>{{11025, 8, 1}}));
}

TEST_F(Playback, PaddingIsSilenceOfTheFormatAndOnlyEightBitMonoLosesItsLastByte) {
  const std::vector<uint8_t> data = pattern(100);
  ASSERT_EQ(playBlock(data, 22050, 16, 1), 0);
  ASSERT_EQ(fake.blocks.size(), 1u);
  const std::vector<uint8_t>& sent = fake.blocks[0].bytes;
  ASSERT_EQ(sent.size(), 256u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), sent.begin()));  // byte 99 kept
  for (size_t i = 100; i < 256; ++i) EXPECT_EQ(sent[i], 0) << i;
  fake.completeAll();

  // A whole 8192-byte 8-bit block is sent as it is.
  const std::vector<uint8_t> full = pattern(8192, 5);
  ASSERT_EQ(playBlock(full, 22050, 8, 1), 0);
  fake.completeAll();
  EXPECT_EQ(fake.blocks.back().bytes, full);

  // 16-bit stereo is padded to whole frames.
  ASSERT_EQ(playBlock(pattern(1022), 44100, 16, 2), 0);
  fake.completeAll();
  EXPECT_EQ(fake.blocks.back().bytes.size(), 1024u);
}

TEST_F(Playback, SpeedUpPlaysAtOneAndAHalfTimesTheRate) {
  setSpeedUp(true);
  ASSERT_EQ(playBlock(pattern(512), 22050, 16, 2), 0);
  EXPECT_EQ(fake.opens, (std::vector<AudioFormat>{{33075, 16, 2}}));
  // A hostile header's rate: the device is asked for a rate that did not
  // wrap around (and refuses it).
  fake.completeAll();
  playBlock(pattern(512), 2000000000, 16, 2);
  ASSERT_EQ(fake.opens.size(), 2u);
  EXPECT_GE(fake.opens.back().sampleRate, 2000000000);
}

TEST_F(Playback, AnotherFormatWaitsForTheEndOfTheFirstThenReopens) {
  fake.blockMs = 5;
  ASSERT_EQ(playBlock(pattern(300), 11025, 8, 1), 0);
  ASSERT_EQ(playBlock(pattern(400), 44100, 16, 2), 0);
  while (isPlaying()) eventLoop().waitForMessage(10);
  endPlayback();
  EXPECT_EQ(fake.events, (std::vector<std::string>{"open 11025/8/1", "queue 1", "done 1", "close",
                                                   "open 44100/16/2", "queue 2", "done 2", "close"}));
  EXPECT_EQ(fake.resets, 0);  // the first sound was heard to its end
}

TEST_F(Playback, AKeyWaitingStopsPlayWavFileBeforeItPlaysAnything) {
  const std::string file = writeFile("a.wav", wavImage(11025, 8, 1, pattern(5000)));
  queueKey('x');
  EXPECT_EQ(playWavFile(file), 0);
  EXPECT_TRUE(fake.opens.empty());
  EXPECT_TRUE(fake.blocks.empty());
  ASSERT_TRUE(keyPressed());
  EXPECT_EQ(readKey(), 'x');
}

TEST_F(Playback, PlayWavFileReadsPiecesSoThatNoShortPieceIsLeft) {
  setPlayAsync(true);
  // 9000 bytes leave 808 after a full piece: long enough.
  const std::vector<uint8_t> data = pattern(9000);
  ASSERT_EQ(playWavFile(writeFile("a.wav", wavImage(22050, 16, 1, data))), 0);
  EXPECT_EQ(blockSizes(), (std::vector<size_t>{8192, 808}));
  EXPECT_EQ(allBlockBytes(), data);
  fake.completeAll();

  // 8-bit mono, where every piece below 8192 bytes ends on silence.
  const std::pair<size_t, std::vector<size_t>> cases[] = {
      {8193, {7936, 257}},  {8447, {7936, 511}},         {8448, {8192, 256}},
      {8192, {8192}},       {100, {256}},                {16384 + 8200, {8192, 8192, 7936, 264}},
  };
  for (const auto& [size, pieces] : cases) {
    fake.blocks.clear();
    ASSERT_EQ(playWavFile(writeFile("b.wav", wavImage(11025, 8, 1, pattern(size)))), 0);
    EXPECT_EQ(blockSizes(), pieces) << size;
    fake.completeAll();
    stopPlayback();
  }
}

TEST_F(Playback, PlayWavFileWaitsForTheEndUnlessAsync) {
  fake.blockMs = 5;
  const std::vector<uint8_t> data = pattern(3 * 8192);
  EXPECT_EQ(playWavFile(writeFile("a.wav", wavImage(11025, 16, 2, data))), 0);
  EXPECT_EQ(fake.pendingCount(), 0u);
  endPlayback();
  EXPECT_EQ(allBlockBytes(), data);
  EXPECT_EQ(fake.resets, 0);
}

TEST_F(Playback, PlayWavFileRefusesWhatIsNotAWavFile) {
  EXPECT_EQ(playWavFile(dir_ + "missing.wav"), -1);
  std::vector<uint8_t> image = wavImage(11025, 8, 1, pattern(1000));
  image[0] = 'X';
  EXPECT_EQ(playWavFile(writeFile("rifx.wav", image)), -1);
  image = wavImage(11025, 8, 1, pattern(1000));
  EXPECT_EQ(playWavFile(writeFile("short.wav", std::vector<uint8_t>(image.begin(), image.begin() + 40))), -1);
  // Data that end before their size: what is there plays.
  image.resize(44 + 600);
  setPlayAsync(true);
  EXPECT_EQ(playWavFile(writeFile("cut.wav", image)), 0);
  EXPECT_EQ(blockSizes(), (std::vector<size_t>{600}));
}

TEST_F(Playback, ADeviceThatCannotOpenGivesItsErrorCode) {
  fake.openResult = 19;
  EXPECT_EQ(playBlock(pattern(300), 11025, 8, 1), 19);
  EXPECT_EQ(playWavFile(writeFile("a.wav", wavImage(11025, 8, 1, pattern(300)))), 19);
  EXPECT_TRUE(fake.blocks.empty());
  EXPECT_FALSE(isPlaying());
}

TEST_F(Playback, IsPlayingWithNothingQueuedLeavesTheDeviceAlone) {
  EXPECT_FALSE(isPlaying());
  EXPECT_TRUE(fake.opens.empty());
  ASSERT_EQ(playBlock(pattern(300), 11025, 8, 1), 0);
  EXPECT_TRUE(isPlaying());
  fake.completeAll();
  EXPECT_FALSE(isPlaying());
  EXPECT_EQ(fake.resets, 0);
  EXPECT_EQ(fake.closes, 0);
}

TEST_F(Playback, AKeyStopsWhatPlaysAndStaysQueued) {
  ASSERT_EQ(playBlock(pattern(3 * 8192), 11025, 8, 1), 0);
  EXPECT_EQ(fake.pendingCount(), 3u);
  queueKey('k');
  EXPECT_FALSE(isPlaying());
  EXPECT_EQ(fake.resets, 1);
  EXPECT_EQ(fake.pendingCount(), 0u);
  EXPECT_EQ(readKey(), 'k');

  // With stopOnKey off the key does not matter.
  setStopOnKey(false);
  ASSERT_EQ(playBlock(pattern(300), 11025, 8, 1), 0);
  queueKey('k');
  EXPECT_TRUE(isPlaying());
}

TEST_F(Playback, TheQueueNeverHoldsMoreThanMaxQueuedBlocks) {
  fake.blockMs = 2;
  setMaxQueuedBlocks(3);
  const std::vector<uint8_t> data = pattern(7 * 8192);
  ASSERT_EQ(playBlock(data, 44100, 16, 2), 0);
  while (isPlaying()) eventLoop().waitForMessage(10);
  endPlayback();
  EXPECT_EQ(fake.mostPending, 3);
  std::vector<int> numbers;
  for (const auto& b : fake.blocks) numbers.push_back(b.number);
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 1, 2, 3, 1}));
  EXPECT_EQ(allBlockBytes(), data);
}

TEST_F(Playback, MaxQueuedBlocksStaysWithinOneToSixteen) {
  setMaxQueuedBlocks(0);
  EXPECT_EQ(maxQueuedBlocks(), 1);
  setMaxQueuedBlocks(40);
  EXPECT_EQ(maxQueuedBlocks(), 16);
}

// A device that fails (its sound server went away) is told to the user once
// per episode, by the program's handler, as the play call ends; nothing
// waits for a line, and the next sound opens the device again.
TEST_F(Playback, AFailingDeviceIsToldOncePerEpisodeAndOpenedAgainForTheNextSound) {
  std::vector<OutputTrouble> told;
  setOutputTroubleHandler([&told](OutputTrouble trouble) {
    told.push_back(trouble);
    // The message is spoken through this engine.
    playBlock(pattern(300), 11025, 8, 1);
  });
  setStopOnKey(false);
  queueKey('\r');
  ASSERT_EQ(playBlock(pattern(2 * 8192), 11025, 8, 1), 0);
  fake.complete(fake.pendingCount(), kBlockBadHandle);
  EXPECT_FALSE(isPlaying());
  EXPECT_TRUE(keyPressed()) << "no line is read";
  EXPECT_EQ(screenCharAt(1, 1), ' ');
  EXPECT_TRUE(told.empty()) << "told as a play call ends, not while messages are processed";

  ASSERT_EQ(playBlock(pattern(300), 11025, 8, 1), 0);
  EXPECT_EQ(told, std::vector<OutputTrouble>{OutputTrouble::stopped});
  EXPECT_EQ(fake.opens.size(), 2u);
  EXPECT_EQ(fake.closes, 1);

  // Failing again before anything was heard is the same episode; once a
  // block has played, the next failure is news.
  fake.complete(fake.pendingCount(), kBlockNoDriver);
  EXPECT_FALSE(isPlaying());
  ASSERT_EQ(playBlock(pattern(300), 11025, 8, 1), 0);
  EXPECT_EQ(told.size(), 1u);
  EXPECT_EQ(fake.opens.size(), 3u);
  fake.complete(fake.pendingCount());
  EXPECT_FALSE(isPlaying());
  fake.openResult = EHOSTDOWN;
  setOutputDevice("outra");
  EXPECT_EQ(playBlock(pattern(300), 11025, 8, 1), EHOSTDOWN);
  EXPECT_EQ(playBlock(pattern(300), 11025, 8, 1), EHOSTDOWN);
  EXPECT_EQ(told, (std::vector<OutputTrouble>{OutputTrouble::stopped, OutputTrouble::cannotOpen}));
}

// A device that fails while playBlock waits for room gives its blocks back
// at once, and the call ends instead of waiting for them for ever.
TEST_F(Playback, AFailureWhileWaitingForRoomEndsThePlayCall) {
  struct FailingDevice : ScopedFakeClock {
    explicit FailingDevice(FakeAudio& fake) : fake(fake) {}
    void sleepMs(int64_t ms) override {
      FakeClock::sleepMs(ms);
      fake.complete(fake.pendingCount(), kBlockNoDriver);
    }
    FakeAudio& fake;
  } failing(fake);
  setStopOnKey(false);
  setMaxQueuedBlocks(2);
  EXPECT_EQ(playBlock(pattern(5 * 8192), 44100, 16, 2), ENODEV);
  EXPECT_EQ(fake.blocks.size(), 2u);
  EXPECT_FALSE(isPlaying());
}

TEST_F(Playback, PlayWavImageFindsTheDataPastOtherChunks) {
  std::vector<uint8_t> image = wavImage(22050, 16, 1, {});
  image.resize(36);  // up to the end of the format chunk
  // An odd-sized chunk is followed directly by the next one, as the loader
  // of the sample buffer reads files too.
  const uint8_t list[] = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c'};
  image.insert(image.end(), std::begin(list), std::end(list));
  const std::vector<uint8_t> data = pattern(600);
  const uint8_t dataHead[] = {'d', 'a', 't', 'a', 0x58, 0x02, 0, 0};
  image.insert(image.end(), std::begin(dataHead), std::end(dataHead));
  image.insert(image.end(), data.begin(), data.end());
  playWavImage(image);
  EXPECT_EQ(fake.opens, (std::vector<AudioFormat>{{22050, 16, 1}}));
  EXPECT_EQ(allBlockBytes(), data);

  // Not an image: nothing happens.
  fake.completeAll();
  fake.blocks.clear();
  playWavImage(std::vector<uint8_t>(image.begin(), image.begin() + 30));
  image[12] = 'x';
  playWavImage(image);
  EXPECT_TRUE(fake.blocks.empty());
}

TEST_F(Playback, ReadWavInfoGivesTheFormatTheSizeAndWhereTheDataStart) {
  WavFormat format;
  uint64_t dataBytes = 1;
  int64_t dataOffset = 1;
  ASSERT_TRUE(readWavInfo(writeFile("a.wav", wavImage(44100, 16, 2, pattern(1000))), format, dataBytes,
                          dataOffset));
  EXPECT_EQ(format.formatTag, 1);
  EXPECT_EQ(format.channels, 2);
  EXPECT_EQ(format.sampleRate, 44100u);
  EXPECT_EQ(format.byteRate, 176400u);
  EXPECT_EQ(format.blockAlign, 4);
  EXPECT_EQ(format.bitsPerSample, 16);
  EXPECT_EQ(dataBytes, 1000u);
  EXPECT_EQ(dataOffset, 44);

  // A chunk between format and data moves the data.
  std::vector<uint8_t> image = wavImage(11025, 8, 1, {});
  image.resize(36);
  const uint8_t extra[] = {'f', 'a', 'c', 't', 4, 0, 0, 0, 1, 2, 3, 4, 'd', 'a', 't', 'a', 10, 0, 0, 0};
  image.insert(image.end(), std::begin(extra), std::end(extra));
  image.resize(image.size() + 10, 128);
  ASSERT_TRUE(readWavInfo(writeFile("b.wav", image), format, dataBytes, dataOffset));
  EXPECT_EQ(dataBytes, 10u);
  EXPECT_EQ(dataOffset, 56);

  // A recording cut off before its header was written, in an extensible
  // format: the data really there.
  const std::string cut = riff(chunk("fmt ", extensibleFormat(2, 22050, 16))) + "data" + le32(0) + std::string(4003, 'x');
  ASSERT_TRUE(readWavInfo(writeFile("cut.wav", std::vector<uint8_t>(cut.begin(), cut.end())), format, dataBytes,
                          dataOffset));
  EXPECT_EQ(format.formatTag, 1);
  EXPECT_EQ(dataBytes, 4000u);
  EXPECT_EQ(dataOffset, 68);

  // Only regular files: a FIFO with a whole WAV file in it is refused at once.
  ASSERT_EQ(mkfifo((dir_ + "fifo.wav").c_str(), 0600), 0);
  const int fifo = open((dir_ + "fifo.wav").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(fifo, 0);
  const std::vector<uint8_t> whole = wavImage(11025, 8, 1, pattern(10));
  ASSERT_EQ(::write(fifo, whole.data(), whole.size()), ssize_t(whole.size()));
  EXPECT_FALSE(readWavInfo(dir_ + "fifo.wav", format, dataBytes, dataOffset));
  setPlayAsync(true);
  EXPECT_EQ(playWavFile(dir_ + "fifo.wav"), -1);
  close(fifo);

  image = wavImage(11025, 16, 1, pattern(10));
  image[20] = 3;  // not PCM
  EXPECT_FALSE(readWavInfo(writeFile("c.wav", image), format, dataBytes, dataOffset));
  EXPECT_EQ(dataBytes, 0u);
  EXPECT_EQ(dataOffset, 0);
  EXPECT_FALSE(readWavInfo(dir_ + "missing.wav", format, dataBytes, dataOffset));
  image = wavImage(11025, 16, 1, pattern(10));
  image.resize(38);
  EXPECT_FALSE(readWavInfo(writeFile("d.wav", image), format, dataBytes, dataOffset));
}

TEST_F(Playback, FindOutputDeviceIgnoresCase) {
  std::string device;
  EXPECT_TRUE(findOutputDevice("NULO", device));
  EXPECT_EQ(device, "nulo");
  EXPECT_TRUE(findOutputDevice("Arquivo:", device));
  EXPECT_EQ(device, "arquivo:");
  EXPECT_FALSE(findOutputDevice("nenhum", device));
  std::vector<std::string> list{"lixo"};
  listOutputDevices(list);
  ASSERT_GE(list.size(), 2u);
  EXPECT_EQ(list[list.size() - 2], "nulo");
}

TEST_F(Playback, ChangingTheOutputDeviceClosesTheOpenOne) {
  ASSERT_EQ(playBlock(pattern(300), 11025, 8, 1), 0);
  setOutputDevice("outra");
  EXPECT_EQ(fake.closes, 1);
  EXPECT_EQ(fake.resets, 1);  // what was queued is dropped
  EXPECT_FALSE(isPlaying());
  ASSERT_EQ(playBlock(pattern(300), 11025, 8, 1), 0);
  EXPECT_EQ(fake.outputNames, (std::vector<std::string>{"placa", "outra"}));
}

TEST_F(Playback, FastModePlaysTheCopyInRapidoWhenThereIsOne) {
  setFastMode(true);
  setPlayAsync(true);
  const std::vector<uint8_t> fast = pattern(300, 9);
  const std::string file = writeFile("fala.wav", wavImage(11025, 8, 1, pattern(5000)));
  writeFile("rapido/fala.wav", wavImage(11025, 8, 1, fast));
  ASSERT_EQ(playWavFile(file), 0);
  ASSERT_EQ(fake.blocks.size(), 1u);
  EXPECT_TRUE(std::equal(fast.begin(), fast.end() - 1, fake.blocks[0].bytes.begin()));
  EXPECT_TRUE(fastMode());
}

TEST_F(Playback, FastModeTurnsSixteenBitMonoIntoEightBitAndLeavesTheCallersData) {
  setFastMode(true);
  std::vector<uint8_t> data(600);
  for (size_t i = 0; i < 300; ++i) {
    const int16_t v = static_cast<int16_t>((static_cast<int>(i) - 150) * 200);
    data[2 * i] = static_cast<uint8_t>(v & 0xFF);
    data[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
  }
  const std::vector<uint8_t> copy = data;
  ASSERT_EQ(playBlock(data, 11025, 16, 1), 0);
  EXPECT_EQ(data, copy);
  EXPECT_EQ(fake.opens, (std::vector<AudioFormat>{{11025, 8, 1}}));
  ASSERT_EQ(fake.blocks.size(), 1u);
  const std::vector<uint8_t>& sent = fake.blocks[0].bytes;
  ASSERT_EQ(sent.size(), 300u);
  for (size_t i = 0; i < 299; ++i) EXPECT_EQ(sent[i], static_cast<uint8_t>(copy[2 * i + 1] ^ 0x80)) << i;
  EXPECT_EQ(sent[299], 128);
}

// Silence with a peak of 250 every 100 bytes from byte 250 on: with the
// 11025 Hz distances (start 200, gap 80, window 50) the first peak is 250,
// and then every pass leaves out 100 bytes and keeps the 101 from one peak
// to the next.
std::vector<uint8_t> peaksEvery100(size_t length) {
  std::vector<uint8_t> data(length, 128);
  for (size_t i = 250; i < length; i += 100) data[i] = 250;
  return data;
}

TEST(CompressForSpeed, LeavesOutOnePeriodAfterEveryKeptOne) {
  std::vector<uint8_t> data = peaksEvery100(2000);
  const std::vector<uint8_t> original = data;
  const size_t length = compressForSpeed(data, data.size(), 8, 11025);
  // Passes end at p = 1850 with 250 + 8 x 101 bytes written.
  EXPECT_EQ(length, 1058u);
  EXPECT_TRUE(std::equal(original.begin(), original.begin() + 250, data.begin()));  // the head stays
  // The first kept stretch is 350..450, written from 250.
  EXPECT_TRUE(std::equal(original.begin() + 350, original.begin() + 451, data.begin() + 250));
  EXPECT_EQ(data[250], 250);
  EXPECT_EQ(data[350], 250);
}

TEST(CompressForSpeed, TheEndIsCarriedOnUntilItMeetsNearSilence) {
  std::vector<uint8_t> data = peaksEvery100(2000);
  // Loud bytes where the passes end: the tail copies from p = 1850 until
  // the byte under the write position is within 20 of 128.
  for (size_t i = 1058; i < 1063; ++i) data[i] = 200;
  const std::vector<uint8_t> original = data;
  const size_t length = compressForSpeed(data, data.size(), 8, 11025);
  EXPECT_EQ(length, 1063u);
  EXPECT_TRUE(std::equal(original.begin() + 1850, original.begin() + 1855, data.begin() + 1058));
}

TEST(CompressForSpeed, ShortDataAreOnlyConvertedAndSilenceEnds) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  const std::vector<uint8_t> original = data;
  ASSERT_EQ(compressForSpeed(data, data.size(), 16, 11025), 500u);
  for (size_t i = 0; i < 500; ++i) EXPECT_EQ(data[i], static_cast<uint8_t>(original[2 * i + 1] ^ 0x80));

  // Only zeros: no period to find; the call ends.
  std::vector<uint8_t> zeros(3000, 0);
  EXPECT_EQ(compressForSpeed(zeros, zeros.size(), 8, 22050), 3000u);
  // Other rates use four times the distances: data shorter than them are
  // read within bounds.
  std::vector<uint8_t> loud(1100, 200);
  EXPECT_LE(compressForSpeed(loud, loud.size(), 8, 44100), 1100u);
}

TEST_F(Playback, TheTonePlayerLoopsItsImageOnADeviceOfItsOwn) {
  std::vector<uint8_t> tone(1000);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = (i / 5) % 2 ? 160 : 96;
  playLooping(wavImage(11025, 8, 1, tone));
  EXPECT_EQ(fake.opens, (std::vector<AudioFormat>{{11025, 8, 1}}));
  ASSERT_EQ(fake.blocks.size(), 2u);
  fake.complete(1);
  eventLoop().processPending();
  ASSERT_EQ(fake.blocks.size(), 3u);
  EXPECT_EQ(fake.blocks[2].number, fake.blocks[0].number);
  for (const auto& b : fake.blocks) EXPECT_EQ(b.bytes, tone);
  stopLooping();
  EXPECT_EQ(fake.closes, 1);
  EXPECT_EQ(fake.pendingCount(), 0u);
  eventLoop().processPending();
  EXPECT_EQ(fake.blocks.size(), 3u);  // nothing comes back after the stop
}

}  // namespace
}  // namespace kalimbro
