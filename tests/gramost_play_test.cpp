// The sample buffer's playing and recording, against a fake audio device.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "console/VrCrt.h"
#include "platform/wav_header.h"
#include "sound/gramost.h"
#include "sound/vrgrav.h"
#include "sound/vrwav.h"
#include "tests/fakes/fake_audio.h"
#include "tests/fakes/fake_clock.h"

namespace kalimbro {
namespace {

void queueKey(uint8_t key) { crtHandleInput(charEvent(key)); }

class SoundBufferDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    crtInit(nullptr);
    initPlayback();
    initRecording();
    setOutputDevice("placa");
    char pattern[] = "/tmp/gramost_play.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    endPlayback();
    while (keyPressed()) readKey();
    std::filesystem::remove_all(dir_);
  }

  FakeAudio fake;
  std::string dir_;
};

TEST_F(SoundBufferDevices, PlayRangeSendsSixteenBitStereoBlocksOf2048Frames) {
  fake.autoComplete = true;
  TAmostras mono;
  mono.createSized(1, 22050, 8, 0);
  for (int i = 0; i < 3000; ++i) {
    const auto v = static_cast<int16_t>(i - 1500);
    mono.setFrame(i, packFrame(v, v));
  }
  // Sped-up speech never speeds up the user's own sound.
  setSpeedUp(true);
  mono.playRange(0, 3000);
  setSpeedUp(false);

  ASSERT_EQ(fake.blocks.size(), 2u);
  EXPECT_EQ(fake.opens, (std::vector<AudioFormat>{{22050, 16, 2}}));
  EXPECT_EQ(fake.blocks[0].bytes.size(), 2048u * 4);
  EXPECT_EQ(fake.blocks[1].bytes.size(), 952u * 4);
  // Frame 2050 of the mono sound, both channels: value 550.
  const uint8_t* frame = fake.blocks[1].bytes.data() + 2 * 4;
  EXPECT_EQ(frame[0] | frame[1] << 8, 550);
  EXPECT_EQ(frame[2] | frame[3] << 8, 550);
  EXPECT_EQ(mono.playedOffset(), 2999);
}

// An effect still at work keeps ahead of what plays: no frame reaches the
// device before `ready` has been called for it.
TEST_F(SoundBufferDevices, PlayAllHandsFramesOverOnlyOnceTheyAreReady) {
  fake.autoComplete = true;
  TAmostras s;
  s.createSized(1, 44100, 16, 70000);
  std::vector<int64_t> calls;
  s.playAll([&](int64_t end) {
    const int64_t from = calls.empty() ? 0 : calls.back();
    for (int64_t i = from; i < end; ++i) s.setFrame(i, packFrame(1000, 1000));
    calls.push_back(end);
  });
  EXPECT_EQ(calls, (std::vector<int64_t>{65536, 70000}));
  int64_t frames = 0;
  for (const auto& block : fake.blocks) {
    for (size_t at = 0; at + 4 <= block.bytes.size(); at += 4, ++frames)
      ASSERT_EQ(block.bytes[at] | block.bytes[at + 1] << 8, 1000) << "frame " << frames;
  }
  EXPECT_EQ(frames, 70000);
}

TEST_F(SoundBufferDevices, PlayRangePastTheEndOrWithAKeyWaitingPlaysNothing) {
  TAmostras s;
  s.createSized(2, 44100, 16, 100);
  s.playRange(50, 52);  // its last frame would be 101, beyond the sound
  EXPECT_TRUE(fake.blocks.empty());

  queueKey('a');
  s.playRange(0, 100);
  EXPECT_TRUE(fake.blocks.empty());
  EXPECT_EQ(s.playedOffset(), 0);
  ASSERT_TRUE(keyPressed());  // the key stays for the caller
  EXPECT_EQ(readKey(), 'a');
}

TEST_F(SoundBufferDevices, PlayAllReturnsOnceEverythingWasHeard) {
  fake.blockMs = 2;
  TAmostras s;
  s.createSized(1, 11025, 16, 5000);
  s.playAll();
  EXPECT_FALSE(isPlaying());
  EXPECT_EQ(fake.blocks.size(), 3u);
  EXPECT_EQ(fake.pendingCount(), 0u);
}

TEST_F(SoundBufferDevices, RecordFromDeviceLoadsWhatWasCapturedInItsFormat) {
  TAmostras s;
  s.createSized(2, 8000, 16, 0);
  s.setCaptureBuffers(20);
  EXPECT_EQ(s.captureBuffers(), 8);
  s.setCaptureBuffers(1);
  EXPECT_EQ(s.captureBuffers(), 2);

  // While recording, the device captures two stereo frames, (100, -100)
  // and (7, 8); then the user presses a key, which is passed over, and ESC.
  struct UserAtTheMicrophone : ScopedFakeClock {
    FakeAudio* device;
    int naps = 0;
    void sleepMs(int64_t ms) override {
      FakeClock::sleepMs(ms);
      switch (++naps) {
        case 1: device->capture(std::vector<uint8_t>{100, 0, 0x9C, 0xFF, 7, 0, 8, 0}); break;
        case 2: queueKey('x'); break;
        case 3: queueKey(27); break;
      }
    }
  } user;
  user.device = &fake;
  const std::string file = dir_ + "/take.wav";
  ASSERT_TRUE(s.recordFromDevice(file));
  EXPECT_EQ(fake.inputOpens, (std::vector<AudioFormat>{{8000, 16, 2}}));
  EXPECT_EQ(s.count(), 2);
  EXPECT_EQ(s.getFrame(0), packFrame(100, -100));
  EXPECT_EQ(s.getFrame(1), packFrame(7, 8));
}

TEST_F(SoundBufferDevices, RecordFromDeviceFailsOnAFullDiskAndLoadsWhatWasRecorded) {
  // 8-bit mono: capture buffers of 4096 bytes. The disk takes the header
  // and two of the three buffers captured.
  struct UserAtTheMicrophone : ScopedFakeClock {
    FakeAudio* device;
    int naps = 0;
    void sleepMs(int64_t ms) override {
      FakeClock::sleepMs(ms);
      if (++naps == 1) {
        std::vector<uint8_t> bytes(3 * 4096);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i % 200 + 20);
        device->capture(bytes);
      } else if (naps == 3) {
        queueKey(27);  // the user would stop here at the latest
      }
    }
  } user;
  user.device = &fake;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{44 + 2 * 4096 + 1000, 44 + 2 * 4096 + 1000};
    setrlimit(RLIMIT_FSIZE, &limit);
    TAmostras s;
    s.createSized(1, 8000, 8, 0);
    if (s.recordFromDevice(dir_ + "/take.wav")) _exit(1);
    if (s.outOfMemory()) _exit(2);
    if (s.count() != 2 * 4096) _exit(3);
    for (int i = 0; i < s.count(); ++i)
      if (s.getFrame(i) != packFrame(sampleFrom8Bit(uint8_t(i % 200 + 20)), sampleFrom8Bit(uint8_t(i % 200 + 20))))
        _exit(4);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: success said, 2: memory blamed, 3: wrong length, 4: wrong frames";
}

TEST_F(SoundBufferDevices, RecordFromDeviceFailsWhenTheDeviceWillNotOpen) {
  fake.inputOpenResult = 2;
  TAmostras s;
  s.createSized(1, 22050, 16, 10);
  EXPECT_FALSE(s.recordFromDevice(dir_ + "/take.wav"));
  EXPECT_EQ(s.count(), 10);  // the sound in memory is kept
}

}  // namespace
}  // namespace kalimbro
