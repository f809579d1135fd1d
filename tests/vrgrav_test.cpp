#include "sound/vrgrav.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/signal_cleanup.h"
#include "tests/fakes/fake_audio.h"
#include "tests/fakes/recording_disk.h"

namespace kalimbro {
namespace {

std::vector<uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

std::vector<uint8_t> pattern(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((i * 13 + 3) % 253);
  return data;
}

// The header of a recorded file says what the file holds.
void expectHeader(const std::vector<uint8_t>& file, int rate, int bits, int channels, uint32_t dataBytes) {
  ASSERT_GE(file.size(), 44u);
  EXPECT_EQ(std::memcmp(file.data(), "RIFF", 4), 0);
  EXPECT_EQ(le32(file, 4), dataBytes + 36);
  EXPECT_EQ(std::memcmp(file.data() + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(le16(file, 20), 1);
  EXPECT_EQ(le16(file, 22), channels);
  EXPECT_EQ(le32(file, 24), static_cast<uint32_t>(rate));
  EXPECT_EQ(le32(file, 28), static_cast<uint32_t>(rate * channels * bits / 8));
  EXPECT_EQ(le16(file, 32), channels * bits / 8);
  EXPECT_EQ(le16(file, 34), bits);
  EXPECT_EQ(std::memcmp(file.data() + 36, "data", 4), 0);
  EXPECT_EQ(le32(file, 40), dataBytes);
  EXPECT_EQ(file.size(), 44u + dataBytes);
}

class Recording : public ::testing::Test {
 protected:
  void SetUp() override {
    setInputDevice("microfone");
    char pattern[] = "/tmp/vrgrav_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    file_ = dir_ + "take.wav";
  }
  void TearDown() override {
    recStop();
    std::filesystem::remove_all(dir_);
  }

  FakeAudio fake;
  std::string dir_;
  std::string file_;
};

TEST_F(Recording, FullBuffersGoToTheFileAsTheyFillUnderATrueHeaderAndThePartLastOneAtTheEnd) {
  ASSERT_EQ(recStart(file_, 11025, 8, 1, 4, 4096), 0);
  EXPECT_EQ(fake.inputNames, (std::vector<std::string>{"microfone"}));
  EXPECT_EQ(fake.inputOpens, (std::vector<AudioFormat>{{11025, 8, 1}}));
  EXPECT_EQ(fake.ringBytes, 4u * 4096);
  EXPECT_EQ(fileBytes(file_).size(), 44u);  // the placeholder

  recBegin();
  EXPECT_EQ(fake.starts, 1);
  const std::vector<uint8_t> sound = pattern(10000);
  fake.capture(sound);
  EXPECT_TRUE(recPoll());
  // Two full buffers, and a header that says so; 1808 bytes wait.
  expectHeader(fileBytes(file_), 11025, 8, 1, 8192);

  // A signal that ends the program here writes the header once more: in a
  // child, with the header spoiled first, so that only the signal's
  // cleanup can have put it back.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setSignalRemovedDirectory({});  // the temporary directory of this test run stays
    const int fd = open(file_.c_str(), O_WRONLY);
    const uint8_t zeros[44] = {};
    if (fd < 0 || pwrite(fd, zeros, sizeof zeros, 0) != 44) _exit(2);
    cleanupOnSignal();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  expectHeader(fileBytes(file_), 11025, 8, 1, 8192);

  EXPECT_TRUE(recStop());
  EXPECT_EQ(fake.stops, 1);
  EXPECT_EQ(fake.inputCloses, 1);

  const std::vector<uint8_t> file = fileBytes(file_);
  expectHeader(file, 11025, 8, 1, 10000);
  EXPECT_TRUE(std::equal(sound.begin(), sound.end(), file.begin() + 44));
}

TEST_F(Recording, StoppingAtOnceGivesAnEmptyValidFile) {
  ASSERT_EQ(recStart(file_, 44100, 16, 2, 4, 16384), 0);
  recBegin();
  EXPECT_TRUE(recStop());
  expectHeader(fileBytes(file_), 44100, 16, 2, 0);
}

// Stopped, the take is whole and on the disk; a disk that will not sync it
// makes the stop fail.
TEST_F(Recording, WhatWasCapturedButNeverPolledIsKeptAtTheEndAndSynced) {
  RecordingDisk disk;
  ASSERT_EQ(recStart(file_, 22050, 16, 1, 2, 8192), 0);
  recBegin();
  const std::vector<uint8_t> sound = pattern(50000);
  fake.capture(sound);
  EXPECT_TRUE(recStop());
  EXPECT_EQ(disk.unsyncedFiles(), std::vector<std::string>{});
  const std::vector<uint8_t> file = fileBytes(file_);
  expectHeader(file, 22050, 16, 1, 50000);
  EXPECT_TRUE(std::equal(sound.begin(), sound.end(), file.begin() + 44));

  disk.failCall(1, EIO, [](const DiskCallSeen& call) { return call.kind == DiskCall::syncData; });
  ASSERT_EQ(recStart(file_, 22050, 16, 1, 2, 8192), 0);
  recBegin();
  fake.capture(sound);
  EXPECT_FALSE(recStop());
  EXPECT_TRUE(disk.hit());
}

TEST_F(Recording, OnePollTakesAtMostTheRing) {
  ASSERT_EQ(recStart(file_, 11025, 8, 1, 4, 4096), 0);
  recBegin();
  fake.capture(pattern(10 * 4096));
  EXPECT_TRUE(recPoll());
  EXPECT_EQ(fileBytes(file_).size(), 44u + 4 * 4096);
  EXPECT_EQ(fake.capturedWaiting(), 6u * 4096);
}

TEST_F(Recording, ASecondRecordingStartsAfresh) {
  ASSERT_EQ(recStart(file_, 11025, 8, 1, 4, 4096), 0);
  recBegin();
  fake.capture(pattern(3000));
  ASSERT_TRUE(recStop());
  const std::string second = dir_ + "second.wav";
  ASSERT_EQ(recStart(second, 22050, 16, 2, 4, 16384), 0);
  recBegin();
  const std::vector<uint8_t> sound = pattern(100);
  fake.capture(sound);
  ASSERT_TRUE(recStop());
  const std::vector<uint8_t> file = fileBytes(second);
  expectHeader(file, 22050, 16, 2, 100);
  EXPECT_TRUE(std::equal(sound.begin(), sound.end(), file.begin() + 44));
  expectHeader(fileBytes(file_), 11025, 8, 1, 3000);
}

TEST_F(Recording, ADeviceThatCannotOpenGivesItsCodeAndNoFile) {
  fake.inputOpenResult = 16;
  EXPECT_EQ(recStart(file_, 11025, 8, 1, 4, 4096), 16);
  EXPECT_FALSE(std::filesystem::exists(file_));
  EXPECT_TRUE(recPoll());  // idle: nothing to write, nothing failed
  EXPECT_FALSE(recStop());
}

TEST_F(Recording, AFileThatCannotBeMadeGivesMinusOneAndClosesTheDevice) {
  EXPECT_EQ(recStart(dir_ + "no/such/dir/take.wav", 11025, 8, 1, 4, 4096), -1);
  EXPECT_EQ(fake.inputOpens.size(), 1u);
  EXPECT_EQ(fake.inputCloses, 1);
  // A FIFO or a device is no file to record into. Opening a FIFO nobody
  // reads could wait forever: the child has an alarm.
  ASSERT_EQ(mkfifo(file_.c_str(), 0600), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(5);
    _exit(recStart(file_, 11025, 8, 1, 4, 4096) == -1 && fake.inputCloses == 2 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the FIFO was taken, or held the program";
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(recStart("/dev/full", 11025, 8, 1, 4, 4096), -1);
    EXPECT_EQ(fake.inputCloses, 2);
  }
}

}  // namespace
}  // namespace kalimbro
