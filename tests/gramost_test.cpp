#include "formats/soundFiles.h"
#include "formats/wavStream.h"
#include "sound/gramost.h"
#include "tests/fakes/file_folder_test.h"
#include "tests/fakes/replace_faults.h"
#include "tests/fakes/wav_image.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kalimbro {
namespace {

// ---- Helpers -----------------------------------------------------------------------

std::string values16(std::initializer_list<int16_t> vs) {
  std::string s;
  for (const int16_t v : vs) s += le16(uint16_t(v));
  return s;
}

// Mono frames as plain values, stereo as (left, right) pairs.
std::vector<int> monoValues(const TAmostras& s) {
  std::vector<int> out;
  for (int i = 0; i < s.count(); ++i) out.push_back(unpackFrame(s.getFrame(i)).left);
  return out;
}
std::vector<std::pair<int, int>> stereoValues(const TAmostras& s) {
  std::vector<std::pair<int, int>> out;
  for (int i = 0; i < s.count(); ++i) {
    const FrameValues v = unpackFrame(s.getFrame(i));
    out.emplace_back(v.left, v.right);
  }
  return out;
}
void fillMono(TAmostras& s, std::initializer_list<int> vs, int rate = 22050) {
  s.createSized(1, rate, 16, 0);
  int i = 0;
  for (const int v : vs) s.setFrame(i++, packFrame(v, v));
}
void fillStereo(TAmostras& s, std::initializer_list<std::pair<int, int>> vs, int rate = 22050) {
  s.createSized(2, rate, 16, 0);
  int i = 0;
  for (const auto& [l, r] : vs) s.setFrame(i++, packFrame(l, r));
}

class SoundFiles : public FileFolderTest {};

// ---- Frames ---------------------------------------------------------------------------

TEST(PackedFrames, PackUnpackAndClamp) {
  EXPECT_EQ(packFrame(0, 0), 0u);
  EXPECT_EQ(packFrame(-1, 1), 0x0001FFFFu);
  EXPECT_EQ(packFrame(0x12345, 0), 0x2345u);  // only the low 16 bits count
  const FrameValues v = unpackFrame(packFrame(-32768, 32767));
  EXPECT_EQ(v.left, -32768);
  EXPECT_EQ(v.right, 32767);
  EXPECT_EQ(clampSample(40000), 32767);
  EXPECT_EQ(clampSample(-40000), -32768);
  EXPECT_EQ(clampSample(-5), -5);
  EXPECT_EQ(clampTruncated(-1.9L), -1);
  EXPECT_EQ(clampTruncated(1.9L), 1);
  EXPECT_EQ(clampTruncated(1e30L), 32767);
}

TEST(SampleBuffer, CreateGivesAnEmptyMonoSound) {
  TAmostras s;
  EXPECT_EQ(s.count(), 0);
  EXPECT_EQ(s.capacity(), 0);
  EXPECT_EQ(s.channels(), 1);
  EXPECT_EQ(s.sampleRate(), 22050);
  EXPECT_EQ(s.bitsPerSample(), 16);
  EXPECT_EQ(s.captureBuffers(), 4);
  EXPECT_EQ(s.memoryLimit(), 0);
}

TEST(SampleBuffer, GetFrameOutsideTheSoundIsSilence) {
  TAmostras s;
  fillMono(s, {5, -7});
  EXPECT_EQ(s.getFrame(1), packFrame(-7, -7));  // mono: equal halves
  EXPECT_EQ(s.getFrame(2), 0u);
  EXPECT_EQ(s.getFrame(-1), 0u);
  EXPECT_EQ(s.getFrame(29999), 0u);  // inside the store but past the end
}

TEST(SampleBuffer, SetFrameLengthensAndMonoAveragesAfterAdding) {
  TAmostras s;
  fillMono(s, {1});
  s.setFrame(-1, packFrame(9, 9));
  EXPECT_EQ(s.count(), 1);
  s.setFrame(1, packFrame(3, 3));
  s.setFrame(2, packFrame(1, 2));
  s.setFrame(3, packFrame(-1, -2));  // -3 div 2 truncates toward zero
  s.setFrame(4, packFrame(-1, 0));
  s.setFrame(5, packFrame(32767, 32767));
  s.setFrame(6, packFrame(-32768, -32767));
  EXPECT_EQ(monoValues(s), (std::vector<int>{1, 3, 1, -1, 0, 32767, -32767}));
  s.setFrame(10, packFrame(4, 4));  // frames between the old end and 10 are silent
  EXPECT_EQ(monoValues(s), (std::vector<int>{1, 3, 1, -1, 0, 32767, -32767, 0, 0, 0, 4}));
}

TEST(SampleBuffer, StorageGrowth) {
  TAmostras s;
  s.setFrame(0, 0);
  EXPECT_EQ(s.capacity(), 30000);
  EXPECT_EQ(s.count(), 1);
  s.setFrame(29999, 0);
  EXPECT_EQ(s.capacity(), 30000);
  s.setFrame(40000, 0);
  EXPECT_EQ(s.capacity(), 48000);
  s.setFrame(48001, 0);
  EXPECT_EQ(s.capacity(), 57601);  // truncate(48001 x 1.2)

  TAmostras small;
  small.createSized(2, 8000, 8, 10);  // exactly the room asked for
  EXPECT_EQ(small.capacity(), 10);
  EXPECT_EQ(small.count(), 10);
  EXPECT_EQ(small.getFrame(9), 0u);
  small.setFrame(24999, 0);
  EXPECT_EQ(small.capacity(), 30000);
  small.createSized(1, 8000, 8, 0);
  small.setFrame(25000, 0);
  EXPECT_EQ(small.capacity(), 30000);
  small.setFrame(30000, 0);
  EXPECT_EQ(small.capacity(), 36000);
}

TEST(SampleBuffer, MemoryLimitRefusesOnlyWhatDoesNotFitAndDropsTheWrite) {
  TAmostras s;
  s.createSized(2, 22050, 16, 0);
  s.setMemoryLimit(59999);  // 30000 stereo frames would need 60000 values
  s.setFrame(0, packFrame(1, 2));
  EXPECT_FALSE(s.outOfMemory());
  EXPECT_EQ(s.capacity(), 29999);  // the growth stops at the limit
  s.setFrame(29998, packFrame(3, 4));
  EXPECT_FALSE(s.outOfMemory());
  s.setFrame(29999, packFrame(5, 6));
  EXPECT_TRUE(s.outOfMemory());
  EXPECT_EQ(s.count(), 29999);
  EXPECT_EQ(s.getFrame(0), packFrame(1, 2));
  EXPECT_EQ(s.getFrame(29998), packFrame(3, 4));

  // Far past the floor: 1.2 x 40000 frames is over the limit, the frames
  // asked for are not.
  s.createSized(1, 22050, 16, 0);
  s.setMemoryLimit(45000);
  s.setFrame(40000, packFrame(7, 7));
  EXPECT_FALSE(s.outOfMemory());
  EXPECT_EQ(s.capacity(), 45000);
  EXPECT_EQ(s.getFrame(40000), packFrame(7, 7));

  s.createSized(1, 22050, 16, 60001);  // the limit survives re-creation
  EXPECT_TRUE(s.outOfMemory());
  EXPECT_EQ(s.capacity(), 0);
  EXPECT_EQ(s.count(), 0);

  TAmostras huge;  // a count must stay within 32 bits
  huge.setFrame(int64_t{1} << 31, 0);
  EXPECT_TRUE(huge.outOfMemory());
  EXPECT_EQ(huge.count(), 0);
}

TEST(SampleBuffer, ClearKeepsTheFormat) {
  TAmostras s;
  s.createSized(2, 44100, 8, 5);
  s.clear();
  EXPECT_EQ(s.count(), 0);
  EXPECT_EQ(s.capacity(), 0);
  EXPECT_EQ(s.channels(), 2);
  EXPECT_EQ(s.sampleRate(), 44100);
  EXPECT_EQ(s.bitsPerSample(), 8);
}

TEST(SampleBuffer, CreateCopyTakesFormatAndFramesButNotTheLimit) {
  TAmostras source;
  fillStereo(source, {{1, -1}, {300, 400}}, 11025);
  source.setBitsPerSample(8);
  source.setMemoryLimit(123456);
  TAmostras copy;
  copy.createCopy(source);
  EXPECT_EQ(copy.channels(), 2);
  EXPECT_EQ(copy.sampleRate(), 11025);
  EXPECT_EQ(copy.bitsPerSample(), 8);
  EXPECT_EQ(copy.memoryLimit(), 0);
  EXPECT_EQ(stereoValues(copy), stereoValues(source));
  copy.createCopy(copy);  // copying itself changes nothing
  EXPECT_EQ(stereoValues(copy), stereoValues(source));
}

// ---- Editing ----------------------------------------------------------------------------

TEST(SampleBuffer, DeleteRangeClipsAndShrinks) {
  TAmostras s;
  fillMono(s, {0, 1, 2, 3, 4, 5});
  s.deleteRange(1, 2);
  EXPECT_EQ(monoValues(s), (std::vector<int>{0, 3, 4, 5}));
  EXPECT_EQ(s.capacity(), 4);
  s.deleteRange(2, 100);  // clipped at the end
  EXPECT_EQ(monoValues(s), (std::vector<int>{0, 3}));
  s.deleteRange(2, 1);  // at the end: nothing
  s.deleteRange(-1, 1);
  s.deleteRange(0, 0);
  s.deleteRange(0, -5);
  EXPECT_EQ(monoValues(s), (std::vector<int>{0, 3}));
  s.setFrame(4, packFrame(9, 9));  // regrowth shows no stale frames
  EXPECT_EQ(monoValues(s), (std::vector<int>{0, 3, 0, 0, 9}));
  s.deleteRange(0, s.count());
  EXPECT_EQ(s.count(), 0);
  EXPECT_EQ(s.capacity(), 0);

  TAmostras st;
  fillStereo(st, {{1, 2}, {3, 4}, {5, 6}});
  st.deleteRange(0, 1);
  EXPECT_EQ(stereoValues(st), (std::vector<std::pair<int, int>>{{3, 4}, {5, 6}}));
}

TEST(SampleBuffer, InsertSilence) {
  TAmostras s;
  s.insertSilence(0, 10);  // nothing can open in an empty sound
  EXPECT_EQ(s.count(), 0);
  fillMono(s, {1, 2, 3});
  s.insertSilence(1, 2);
  EXPECT_EQ(monoValues(s), (std::vector<int>{1, 0, 0, 2, 3}));
  s.insertSilence(99, 2);  // past the end: appended
  EXPECT_EQ(monoValues(s), (std::vector<int>{1, 0, 0, 2, 3, 0, 0}));
  s.insertSilence(0, 0);  // no gap: the last frame is not touched
  s.setFrame(6, packFrame(7, 7));
  s.insertSilence(3, 0);
  EXPECT_EQ(monoValues(s), (std::vector<int>{1, 0, 0, 2, 3, 0, 7}));

  TAmostras st;
  fillStereo(st, {{1, 2}, {3, 4}});
  st.insertSilence(0, 1);
  EXPECT_EQ(stereoValues(st), (std::vector<std::pair<int, int>>{{0, 0}, {1, 2}, {3, 4}}));
}

TEST(SampleBuffer, AppendMixesChannelCountsAndRefusesOtherRates) {
  TAmostras mono, stereo, other;
  fillMono(mono, {10});
  fillStereo(stereo, {{3, 3}, {-3, 1}});
  EXPECT_TRUE(mono.append(stereo));
  EXPECT_EQ(monoValues(mono), (std::vector<int>{10, 3, -1}));
  EXPECT_TRUE(stereo.append(mono));
  EXPECT_EQ(stereoValues(stereo),
            (std::vector<std::pair<int, int>>{{3, 3}, {-3, 1}, {10, 10}, {3, 3}, {-1, -1}}));

  fillMono(other, {1, 2}, 44100);
  EXPECT_FALSE(mono.append(other));
  EXPECT_EQ(monoValues(mono), (std::vector<int>{10, 3, -1}));

  TAmostras empty;  // an empty take leaves the last frame alone
  EXPECT_TRUE(mono.append(empty));
  EXPECT_EQ(monoValues(mono), (std::vector<int>{10, 3, -1}));

  EXPECT_TRUE(mono.append(mono));
  EXPECT_EQ(monoValues(mono), (std::vector<int>{10, 3, -1, 10, 3, -1}));
}

TEST(SampleBuffer, AppendKeepsWhatFitsUnderTheLimit) {
  TAmostras s, take;
  s.setFrame(9, 0);  // room for 30000 frames
  s.setMemoryLimit(30000);
  take.createSized(1, 22050, 16, 0);
  for (int i = 0; i < 29995; ++i) take.setFrame(i, packFrame(i + 1, i + 1));
  EXPECT_TRUE(s.append(take));
  EXPECT_TRUE(s.outOfMemory());
  EXPECT_EQ(s.count(), 30000);
  EXPECT_EQ(unpackFrame(s.getFrame(29999)).left, 29990);
}

TEST(SampleBuffer, MixAtClipsTruncatesAndGrows) {
  TAmostras own, other;
  fillStereo(own, {{30000, -30000}, {3, -3}, {100, 100}});
  fillStereo(other, {{10000, -10000}, {0, 0}, {1, -1}, {50, 60}});
  EXPECT_TRUE(own.mixAt(other, 0, 1.0L, 1.0L));
  EXPECT_EQ(stereoValues(own),
            (std::vector<std::pair<int, int>>{{32767, -32768}, {3, -3}, {101, 99}, {50, 60}}));

  fillMono(own, {3, -3, 5});
  fillMono(other, {0, 0});
  EXPECT_TRUE(own.mixAt(other, 0, 0.5L, 1.0L));  // 1.5 -> 1, -1.5 -> -1
  EXPECT_EQ(monoValues(own), (std::vector<int>{1, -1, 5}));
  EXPECT_TRUE(own.mixAt(other, 3, 1.0L, 1.0L));  // at the very end: grows
  EXPECT_EQ(own.count(), 5);
  EXPECT_FALSE(own.mixAt(other, 6, 1.0L, 1.0L));
  TAmostras fast;
  fillMono(fast, {1}, 44100);
  EXPECT_FALSE(own.mixAt(fast, 0, 1.0L, 1.0L));
  EXPECT_EQ(monoValues(own), (std::vector<int>{1, -1, 5, 0, 0}));
}

TEST(SampleBuffer, ApplyGainRamp) {
  TAmostras s;
  fillMono(s, {1000, 1000, 1000, 1000, 1000});
  s.applyGainRamp(2, 2, 0.0L, 0.0L);  // last <= first: nothing
  s.applyGainRamp(3, 1, 0.0L, 0.0L);
  EXPECT_EQ(monoValues(s), (std::vector<int>{1000, 1000, 1000, 1000, 1000}));
  s.applyGainRamp(0, 4, 0.0L, 1.0L);  // fade in
  EXPECT_EQ(monoValues(s), (std::vector<int>{0, 250, 500, 750, 1000}));
  s.applyGainRamp(1, 3, 1.0L, 0.0L);  // fade out of the middle only
  EXPECT_EQ(monoValues(s), (std::vector<int>{0, 250, 250, 0, 1000}));

  TAmostras st;
  fillStereo(st, {{30000, -30000}, {-3, 3}, {-1001, 7}});
  st.applyGainRamp(0, st.count() - 1, 1.25L, 1.25L);
  EXPECT_EQ(stereoValues(st), (std::vector<std::pair<int, int>>{{32767, -32768}, {-3, 3}, {-1251, 8}}));
  st.applyGainRamp(0, st.count() - 1, 0.5L, 0.5L);  // -1.5 truncates to -1
  EXPECT_EQ(stereoValues(st), (std::vector<std::pair<int, int>>{{16383, -16384}, {-1, 1}, {-625, 4}}));
}

TEST(SampleBuffer, SetChannelsHalvesBeforeAdding) {
  TAmostras s;
  fillStereo(s, {{3, 3}, {-3, -3}, {-1, 0}, {32767, 32767}});
  s.setChannels(1);
  EXPECT_EQ(s.channels(), 1);
  EXPECT_EQ(monoValues(s), (std::vector<int>{2, -2, 0, 32766}));
  EXPECT_EQ(s.capacity(), s.count());
  s.setChannels(2);
  EXPECT_EQ(s.channels(), 2);
  EXPECT_EQ(s.capacity(), s.count());
  EXPECT_EQ(stereoValues(s), (std::vector<std::pair<int, int>>{{2, 2}, {-2, -2}, {0, 0}, {32766, 32766}}));
  s.setChannels(3);
  EXPECT_EQ(s.channels(), 2);
  s.setFrame(5, packFrame(1, 2));  // regrowth after the exact fit
  EXPECT_EQ(s.getFrame(4), 0u);
  EXPECT_EQ(s.getFrame(5), packFrame(1, 2));
}

TEST(SampleBuffer, SetChannelsToStereoRefusedUnderTheLimit) {
  TAmostras s;
  s.createSized(1, 22050, 16, 100);
  s.setMemoryLimit(150);
  s.setChannels(2);
  EXPECT_TRUE(s.outOfMemory());
  EXPECT_EQ(s.channels(), 1);
  EXPECT_EQ(s.count(), 100);
}

TEST(SampleBuffer, SetSampleRateTakesOnlyTheSevenRates) {
  TAmostras s;
  s.setSampleRate(12000);
  EXPECT_EQ(s.sampleRate(), 22050);
  for (const int r : kAcceptedSampleRates) {
    s.setSampleRate(r);
    EXPECT_EQ(s.sampleRate(), r);
  }
}

TEST(SampleBuffer, ConvertFromInterpolatesLinearly) {
  TAmostras source, out;
  fillMono(source, {0, 1000, -1000}, 22050);
  source.setBitsPerSample(8);
  out.convertFrom(source, 32000);  // step 0.6890625, 4 frames
  EXPECT_EQ(out.sampleRate(), 32000);
  EXPECT_EQ(out.bitsPerSample(), 8);
  EXPECT_EQ(monoValues(out), (std::vector<int>{0, 689, 243, 0}));

  fillMono(source, {0, 100, 200}, 22050);
  out.convertFrom(source, 44100);
  EXPECT_EQ(monoValues(out), (std::vector<int>{0, 50, 100, 150, 200, 0}));

  TAmostras st;
  fillStereo(st, {{0, 10}, {1, 11}, {2, 12}, {3, 13}, {4, 14}}, 44100);
  out.convertFrom(st, 22050);
  EXPECT_EQ(out.channels(), 2);
  EXPECT_EQ(stereoValues(out), (std::vector<std::pair<int, int>>{{0, 10}, {0, 0}}));

  out.convertFrom(st, 44100);  // same rate: a copy
  EXPECT_EQ(stereoValues(out), stereoValues(st));

  // Any two rates: the result has exactly the rate asked for, so that it
  // mixes into a sound of that rate.
  TAmostras working, second, converted;
  fillMono(working, {0, 0, 0, 0}, 24000);
  fillMono(second, {0, 1200, 2400, 3600}, 12000);
  converted.convertFrom(second, 24000);
  EXPECT_EQ(converted.sampleRate(), 24000);
  EXPECT_EQ(monoValues(converted), (std::vector<int>{0, 600, 1200, 1800, 2400, 3000, 3600, 0}));
  ASSERT_TRUE(working.mixAt(converted, 0, 1.0L, 1.0L));
  EXPECT_EQ(monoValues(working), monoValues(converted));
  converted.convertFrom(working, 96000);  // into a buffer whose own rate is not a standard one
  EXPECT_EQ(converted.sampleRate(), 96000);
  EXPECT_EQ(converted.count(), 32);
}

// ---- Files --------------------------------------------------------------------------------

TEST_F(SoundFiles, SixteenBitFilesAreByteExact) {
  TAmostras s;
  fillMono(s, {1, -2, 32767});
  ASSERT_TRUE(s.saveWav(dir_ + "mono.wav"));
  const std::string header = "RIFF" + le32(42) + "WAVE" + chunk("fmt ", pcmFormat(1, 22050, 16)) + "data" + le32(6);
  EXPECT_EQ(read("mono.wav"), header + values16({1, -2, 32767}));

  fillStereo(s, {{1, -1}, {-32768, 256}}, 44100);
  ASSERT_TRUE(s.saveWav(dir_ + "stereo.wav"));
  EXPECT_EQ(read("stereo.wav"), "RIFF" + le32(44) + "WAVE" + chunk("fmt ", pcmFormat(2, 44100, 16)) + "data" +
                                    le32(8) + values16({1, -1, -32768, 256}));

  s.clear();
  ASSERT_TRUE(s.saveWav(dir_ + "empty.wav"));
  EXPECT_EQ(read("empty.wav").size(), 44u);
  EXPECT_EQ(read("empty.wav").substr(4, 4), le32(36));
}

TEST_F(SoundFiles, EightBitSavingRoundsMonoAndStereoDifferently) {
  TAmostras s;
  fillMono(s, {-1, -256, 32767, -32768, 255}, 11025);
  s.setBitsPerSample(8);
  ASSERT_TRUE(s.saveWav(dir_ + "m8.wav"));
  EXPECT_EQ(read("m8.wav"), "RIFF" + le32(41) + "WAVE" + chunk("fmt ", pcmFormat(1, 11025, 8)) + "data" + le32(5) +
                                std::string("\x80\x7F\xFF\x00\x80", 5));
  fillStereo(s, {{-1, -256}, {-257, 256}}, 11025);
  s.setBitsPerSample(8);
  ASSERT_TRUE(s.saveWav(dir_ + "s8.wav"));
  EXPECT_EQ(read("s8.wav").substr(44), "\x7F\x7F\x7E\x81");
  EXPECT_EQ(read("s8.wav").substr(32, 2), le16(2));  // block align
}

TEST_F(SoundFiles, RoundTripKeepsFramesAndFormat) {
  TAmostras s, back;
  s.createSized(2, 48000, 16, 0);
  for (int i = 0; i < 70000; ++i) s.setFrame(i, packFrame(i * 7, -i * 3));
  ASSERT_TRUE(s.saveWav(dir_ + "long.wav"));
  ASSERT_TRUE(back.loadWav(dir_ + "long.wav"));
  EXPECT_EQ(back.channels(), 2);
  EXPECT_EQ(back.sampleRate(), 48000);
  EXPECT_EQ(back.bitsPerSample(), 16);
  EXPECT_EQ(back.count(), 70000);
  EXPECT_EQ(back.capacity(), 83998);  // sized as writing frame 69999 would size it
  EXPECT_TRUE(std::equal(s.samples().begin(), s.samples().end(), back.samples().begin(), back.samples().end()));
  // Saving what was loaded gives the same bytes.
  ASSERT_TRUE(back.saveWav(dir_ + "again.wav"));
  EXPECT_EQ(read("again.wav"), read("long.wav"));
}

TEST_F(SoundFiles, NamesAreWindows1252InsideAndUtf8OnDisk) {
  TAmostras s;
  fillMono(s, {1});
  ASSERT_TRUE(s.saveWav(dir_ + "can\xE7\xE3o.wav"));
  EXPECT_TRUE(std::filesystem::exists(dir_ + "can\xC3\xA7\xC3\xA3o.wav"));
  TAmostras back;
  EXPECT_TRUE(back.loadWav(dir_ + "can\xE7\xE3o.wav"));
  EXPECT_EQ(back.count(), 1);
}

TEST_F(SoundFiles, LoadsTheWiderFamily) {
  TAmostras s;
  // Lower-case ids, an extended format chunk and two chunks before the data,
  // one of odd size with no pad byte; chunks after the data are ignored.
  const std::string wide = "riff" + le32(0) + "WAVE" + chunk("fmt ", pcmFormat(2, 16000, 16) + le16(0)) +
                           chunk("LIST", "INFOabcd") + chunk("odd!", "xyz") +
                           chunk("data", values16({5, -5, 7, -7})) + chunk("LIST", "tail");
  ASSERT_TRUE(s.loadWav(write("wide.wav", wide)));
  EXPECT_EQ(s.channels(), 2);
  EXPECT_EQ(s.sampleRate(), 16000);
  EXPECT_EQ(stereoValues(s), (std::vector<std::pair<int, int>>{{5, -5}, {7, -7}}));

  ASSERT_TRUE(s.loadWav(write("b8.wav", riff(chunk("fmt ", pcmFormat(1, 8000, 8)) + chunk("data", std::string("\x00\x80\xFF", 3))))));
  EXPECT_EQ(s.bitsPerSample(), 8);
  EXPECT_EQ(monoValues(s), (std::vector<int>{-32768, 0, 32512}));

  // An incomplete last frame is not part of the sound.
  ASSERT_TRUE(s.loadWav(write("part.wav", riff(chunk("fmt ", pcmFormat(2, 8000, 16)) + chunk("data", values16({1, 2, 3}))))));
  EXPECT_EQ(stereoValues(s), (std::vector<std::pair<int, int>>{{1, 2}}));
  EXPECT_EQ(s.samples().size(), 2u);

  ASSERT_TRUE(s.loadWav(write("none.wav", riff(chunk("fmt ", pcmFormat(1, 11025, 8)) + chunk("data", "")))));
  EXPECT_EQ(s.count(), 0);
  EXPECT_EQ(s.sampleRate(), 11025);
  EXPECT_EQ(s.bitsPerSample(), 8);
}

TEST_F(SoundFiles, FilesOfOtherWritersLoadAndSaveBackAsTheCanonicalFile) {
  const std::string frames = values16({1, -1, 300, -300, 32767, -32768});
  const std::string fmt = chunk("fmt ", pcmFormat(2, 44100, 16));
  const std::string canonical = riff(fmt + chunk("data", frames));
  const std::string sizeField = canonical.substr(0, 40);  // up to the data size
  const std::vector<std::pair<std::string, std::string>> variants = {
      {"extensible PCM", riff(chunk("fmt ", extensibleFormat(2, 44100, 16)) + chunk("data", frames))},
      {"chunks before the format",
       riff(chunk("JUNK", std::string(28, '\0')) + chunk("bext", "a") + '\0' + fmt + chunk("data", frames))},
      {"odd chunk and its pad byte", riff(fmt + chunk("LIST", "abc") + '\0' + chunk("data", frames))},
      {"size of a stream", sizeField + le32(0xFFFFFFFF) + frames},
      {"size never written", sizeField + le32(0) + frames + "\x01"},  // and a piece of a frame
      {"size past the end", sizeField + le32(100000) + frames},
  };
  for (const auto& [what, bytes] : variants) {
    TAmostras s;
    ASSERT_TRUE(s.loadWav(write("other.wav", bytes))) << what;
    EXPECT_EQ(stereoValues(s), (std::vector<std::pair<int, int>>{{1, -1}, {300, -300}, {32767, -32768}})) << what;
    ASSERT_TRUE(s.saveWav(dir_ + "back.wav")) << what;
    EXPECT_EQ(read("back.wav"), canonical) << what;
  }
  // Extensible 8-bit mono.
  TAmostras s;
  ASSERT_TRUE(s.loadWav(write("e8.wav", riff(chunk("fmt ", extensibleFormat(1, 8000, 8)) +
                                              chunk("data", std::string("\x00\x80\xFF", 3))))));
  EXPECT_EQ(s.bitsPerSample(), 8);
  EXPECT_EQ(monoValues(s), (std::vector<int>{-32768, 0, 32512}));
}

TEST_F(SoundFiles, MarkersMoveWithTheFramesAndTravelAsCuePoints) {
  TAmostras s;
  fillMono(s, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 11025);
  EXPECT_EQ(s.placeMarker(8), 1u);
  EXPECT_EQ(s.placeMarker(2), 2u);
  EXPECT_EQ(s.placeMarker(5), 3u);
  EXPECT_EQ(s.placeMarker(8), 1u) << "a place already marked keeps its number";
  EXPECT_EQ(s.placeMarker(6), 4u);
  // Frames 4 and 5 go, and the marker on 5 with them; the one on 6, the
  // first frame kept after them, comes to 4.
  s.deleteRange(4, 2);
  s.insertSilence(0, 3);
  EXPECT_EQ(s.markers(), (std::vector<SoundMarker>{{2, 5}, {4, 7}, {1, 9}}));
  ASSERT_TRUE(s.resizeFrames(5, 1, 3));  // frames after a grown stretch move on
  EXPECT_EQ(s.markers(), (std::vector<SoundMarker>{{2, 5}, {4, 9}, {1, 11}}));

  // Saved as cue points that another reader finds, 8-bit data of odd size
  // padded before them, labelled with their names (a label of odd size
  // padded too); read back as they were, and saved again alike.
  s.setBitsPerSample(8);
  ASSERT_EQ(s.count() % 2, 1);
  ASSERT_TRUE(s.nameMarker(2, "Entrevista"));
  ASSERT_TRUE(s.nameMarker(1, "Fim"));
  ASSERT_TRUE(s.saveWav(dir_ + "marked.wav"));
  EXPECT_EQ(cuePointsSeenBySndfile(dir_ + "marked.wav"),
            (std::vector<WavCuePoint>{{2, 5, "Entrevista"}, {4, 9, "Marcador 4"}, {1, 11, "Fim"}}));
  TAmostras back;
  ASSERT_TRUE(back.loadWav(dir_ + "marked.wav"));
  EXPECT_EQ(back.markers(), s.markers());
  ASSERT_TRUE(back.saveWav(dir_ + "again.wav"));
  EXPECT_EQ(read("again.wav"), read("marked.wav"));

  // Other writers may put the cue chunk before the data, and give a point a
  // place in the play order unlike its frame (the sample offset counts); a
  // point past the end is dropped.
  const std::string point7at3 = le32(7) + le32(1) + "data" + le32(0) + le32(0) + le32(3);
  const std::string point9past = le32(9) + le32(2) + "data" + le32(0) + le32(0) + le32(50);
  ASSERT_TRUE(back.loadWav(write("before.wav", riff(chunk("fmt ", pcmFormat(1, 8000, 16)) +
                                                    chunk("cue ", le32(2) + point7at3 + point9past) +
                                                    chunk("data", values16({1, 2, 3, 4}))))));
  EXPECT_EQ(back.markers(), (std::vector<SoundMarker>{{7, 3}}));
}

// Hands `bytes` to the loader `piece` bytes at a time; where it refused a
// piece, or npos.
size_t takeInPieces(WavStreamLoader& loader, std::string_view bytes, size_t piece) {
  for (size_t at = 0; at < bytes.size(); at += piece) {
    const std::string_view part = bytes.substr(at, piece);
    if (!loader.take({reinterpret_cast<const uint8_t*>(part.data()), part.size()})) return at;
  }
  return std::string_view::npos;
}

TEST_F(SoundFiles, AWavArrivingPieceByPieceIsTheSoundLoadWavReads) {
  // Stereo 16-bit and mono 8-bit, a chunk before the data, a data size that
  // was never filled in, and a piece of a frame at the end; fed one byte at
  // a time, then in one piece.
  const std::string stereo = riff(chunk("fmt ", pcmFormat(2, 22050, 16)) + chunk("LIST", "ab") +
                                  "data" + le32(0xFFFFFFFF) + values16({1, -1, 300, -300, 32767, -32768}) + "\x05");
  const std::string mono8 = riff(chunk("fmt ", pcmFormat(1, 8000, 8)) + chunk("data", std::string("\x00\x80\xFF", 3)));
  for (const std::string& bytes : {stereo, mono8}) {
    TAmostras expected;
    ASSERT_TRUE(expected.loadWav(write("whole.wav", bytes)));
    for (const size_t piece : {size_t{1}, bytes.size()}) {
      TAmostras streamed;
      WavStreamLoader loader(streamed);
      ASSERT_EQ(takeInPieces(loader, bytes, piece), std::string_view::npos);
      EXPECT_TRUE(loader.complete());
      EXPECT_EQ(streamed.channels(), expected.channels());
      EXPECT_EQ(streamed.sampleRate(), expected.sampleRate());
      EXPECT_EQ(streamed.bitsPerSample(), expected.bitsPerSample());
      EXPECT_TRUE(std::ranges::equal(streamed.samples(), expected.samples())) << piece;
    }
  }
  // Floating point of five channels, a converter's output: what a file of
  // it loads as, whatever the pieces (a first block of silence, which stays
  // silent, then a tone into a last block held until the end).
  constexpr int32_t kFileChannels = 5;
  const int64_t frames = readBlockFrames(kFileChannels) * 2 + 1000;
  std::string values;
  for (int64_t f = 0; f < frames; ++f)
    for (int32_t c = 0; c < kFileChannels; ++c) {
      const float v = f < readBlockFrames(kFileChannels) ? 0.0f : 0.3f * std::sin(0.01f * f * (c + 1));
      values += le32(std::bit_cast<uint32_t>(v));
    }
  const std::string floats = riff(chunk("fmt ", extensibleFormat(kFileChannels, 48000, 32, 3)) + chunk("data", values));
  TAmostras expected;
  ASSERT_TRUE(loadSound(write("floats.wav", floats), expected).ok());
  for (const size_t piece : {size_t{1001}, floats.size()}) {
    TAmostras streamed;
    WavStreamLoader loader(streamed);
    ASSERT_EQ(takeInPieces(loader, floats, piece), std::string_view::npos);
    EXPECT_FALSE(loader.complete());
    EXPECT_TRUE(loader.finish());
    EXPECT_TRUE(loader.complete());
    EXPECT_EQ(loader.channelsMixed(), kFileChannels);
    EXPECT_EQ(streamed.channels(), 2);
    EXPECT_EQ(streamed.bitsPerSample(), 16);
    EXPECT_EQ(streamed.count(), frames);
    EXPECT_TRUE(std::ranges::equal(streamed.samples(), expected.samples())) << piece;
  }
  // 24-bit PCM is no converter's output.
  TAmostras refused;
  WavStreamLoader loader(refused);
  const std::string deep = riff(chunk("fmt ", pcmFormat(1, 8000, 24)) + chunk("data", std::string(6, '\0')));
  EXPECT_FALSE(loader.take({reinterpret_cast<const uint8_t*>(deep.data()), deep.size()}));
  EXPECT_TRUE(loader.refused());
  // A header that does not end (a chunk before the format longer than any
  // converter writes) is refused by the time a mebibyte of it has come, not
  // held in memory without end.
  TAmostras endless;
  WavStreamLoader header(endless);
  std::string junk = "RIFF" + le32(0xFFFFFFFF) + "WAVE" + "JUNK" + le32(0xFFFFFFF0);
  junk.resize(size_t{1} << 20, '\0');
  EXPECT_NE(takeInPieces(header, junk, size_t{1} << 16), std::string_view::npos);
  EXPECT_TRUE(header.refused());
}

TEST_F(SoundFiles, RefusedFilesLeaveTheSoundAsItWas) {
  const std::string fmt = chunk("fmt ", pcmFormat(1, 8000, 16));
  const std::string good = riff(fmt + chunk("data", values16({1, 2, 3, 4})));
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"not riff", "RIFX" + good.substr(4)},
      {"data before the format", riff(chunk("data", values16({1})) + fmt + chunk("data", values16({1})))},
      {"float tag", riff(chunk("fmt ", pcmFormat(1, 8000, 32, 3)) + chunk("data", "abcd"))},
      {"extensible without its extension", riff(chunk("fmt ", pcmFormat(1, 8000, 16, 0xFFFE)) + chunk("data", "ab"))},
      {"extensible float", riff(chunk("fmt ", extensibleFormat(1, 8000, 32, 3)) + chunk("data", "abcd"))},
      {"extensible 24 bits", riff(chunk("fmt ", extensibleFormat(1, 8000, 24)) + chunk("data", "abc"))},
      {"24 bits", riff(chunk("fmt ", pcmFormat(1, 8000, 24)) + chunk("data", "abc"))},
      // Less than a byte a sample: frames of no bytes at all.
      {"no bits", riff(chunk("fmt ", pcmFormat(1, 8000, 0)) + chunk("data", "ab"))},
      {"7 bits", riff(chunk("fmt ", pcmFormat(2, 8000, 7)) + chunk("data", "ab"))},
      {"no channels", riff(chunk("fmt ", pcmFormat(0, 8000, 16)) + chunk("data", "ab"))},
      {"three channels", riff(chunk("fmt ", pcmFormat(3, 8000, 16)) + chunk("data", std::string(6, 'a')))},
      {"rate zero", riff(chunk("fmt ", pcmFormat(1, 0, 16)) + chunk("data", "ab"))},
      {"shorter than a frame", riff(chunk("fmt ", pcmFormat(2, 8000, 16)) + chunk("data", "abc"))},
      {"header cut short", good.substr(0, 40)},
      {"no data chunk", riff(fmt + chunk("LIST", "ab"))},
      {"empty file", ""},
  };
  for (const auto& [what, bytes] : refused) {
    TAmostras s;
    fillStereo(s, {{11, 12}, {13, 14}}, 44100);
    s.setBitsPerSample(8);
    EXPECT_FALSE(s.loadWav(write("bad.wav", bytes))) << what;
    EXPECT_FALSE(s.outOfMemory()) << what;
    EXPECT_EQ(s.channels(), 2) << what;
    EXPECT_EQ(s.sampleRate(), 44100) << what;
    EXPECT_EQ(s.bitsPerSample(), 8) << what;
    EXPECT_EQ(stereoValues(s), (std::vector<std::pair<int, int>>{{11, 12}, {13, 14}})) << what;
  }
  TAmostras s;
  fillMono(s, {9});
  EXPECT_FALSE(s.loadWav(dir_ + "missing.wav"));
  EXPECT_EQ(monoValues(s), std::vector<int>{9});
  // Only regular files: a FIFO holding a whole WAV file (its other end kept
  // open, so that nothing can wait for a writer) is refused at once.
  ASSERT_EQ(mkfifo((dir_ + "fifo.wav").c_str(), 0600), 0);
  const int fifo = open((dir_ + "fifo.wav").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(fifo, 0);
  ASSERT_EQ(::write(fifo, good.data(), good.size()), ssize_t(good.size()));
  EXPECT_FALSE(s.loadWav(dir_ + "fifo.wav"));
  close(fifo);
  EXPECT_FALSE(s.loadWav(dir_));
  EXPECT_EQ(monoValues(s), std::vector<int>{9});
  EXPECT_TRUE(s.loadWav(write("good.wav", good)));  // the control case loads
  EXPECT_EQ(monoValues(s), (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(SoundFiles, MemoryLimitRefusesTheLoadAndKeepsTheSound) {
  TAmostras s;
  fillMono(s, {9, 8});
  s.setMemoryLimit(1);
  const std::string file = write("a.wav", riff(chunk("fmt ", pcmFormat(1, 8000, 16)) + chunk("data", values16({1, 2}))));
  EXPECT_FALSE(s.loadWav(file));
  EXPECT_TRUE(s.outOfMemory());
  EXPECT_EQ(s.sampleRate(), 22050);
  EXPECT_EQ(monoValues(s), (std::vector<int>{9, 8}));
  s.setMemoryLimit(2);  // a sound that fits is not refused for the headroom
  EXPECT_TRUE(s.loadWav(file));
  EXPECT_FALSE(s.outOfMemory());
  EXPECT_EQ(s.sampleRate(), 8000);
  EXPECT_EQ(monoValues(s), (std::vector<int>{1, 2}));
  // A refusal for another reason does not report memory.
  s.setMemoryLimit(1);
  EXPECT_FALSE(s.loadWav(write("b.wav", "junk")));
  EXPECT_FALSE(s.outOfMemory());
}

TEST_F(SoundFiles, AFailedSaveLeavesThePreviousFile) {
  const std::string target = dir_ + "work.wav";
  TAmostras old;
  fillMono(old, {1, 2, 3});
  ASSERT_TRUE(old.saveWav(target));
  const std::string before = read("work.wav");

  TAmostras big;
  big.createSized(2, 44100, 16, 3000000);  // 12000044 bytes: larger pieces go to the disk directly
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A disk that fills up part way through the data.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100000, 100000};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(big.saveWav(target) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "saveWav reported success on a failed write";
  EXPECT_EQ(read("work.wav"), before);
  EXPECT_EQ(entries(), 1u) << "the unfinished file was left behind";

  // A disk that refuses any one write, flush or rename of the save.
  TAmostras changed;
  fillMono(changed, {4, 5});
  const ReplaceFaultRuns runs = expectFailedSavesChangeNothing({dir_}, [&] { return changed.saveWav(target); });
  EXPECT_EQ(runs.flushes, 1);
  EXPECT_EQ(runs.renames, 1);
  old.saveWav(target);

  EXPECT_FALSE(old.saveWav(dir_ + "no/such/dir.wav"));
  TAmostras wide;
  fillMono(wide, {1});
  wide.setBitsPerSample(24);
  EXPECT_FALSE(wide.saveWav(target));
  EXPECT_EQ(read("work.wav"), before);
}

}  // namespace
}  // namespace kalimbro
