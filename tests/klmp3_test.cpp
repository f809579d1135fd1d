#include "app/klmp3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "app/programState.h"
#include "platform/paths.h"
#include "sound/gramost.h"
#include "tests/fakes/command_fixture.h"
#include "tests/fakes/replace_faults.h"

namespace kalimbro {
namespace {

class Mp3 : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    TAmostras tone;
    std::vector<int16_t> values(44100);
    for (size_t i = 0; i < values.size(); ++i)
      values[i] = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / 44100));
    fillMono(tone, values, 44100);
    ASSERT_TRUE(tone.saveWav(file("tom.wav")));
  }
  int entries() const {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir())) ++n;
    return n;
  }
};

TEST_F(Mp3, RoundTripThroughTheRealLame) {
  ASSERT_EQ(wavToMp3(file("tom.wav"), file("tom.mp3")), Conversion::done);
  EXPECT_GT(*fileSize(file("tom.mp3")), 1000u);
  ASSERT_EQ(mp3ToWav(file("tom.mp3"), file("volta.wav")), Conversion::done);
  TAmostras back;
  ASSERT_TRUE(back.loadWav(file("volta.wav")));
  EXPECT_EQ(back.sampleRate(), 44100);
  EXPECT_EQ(back.channels(), 1);
  // Encoder delay and padding add a little; a second of sound stays about one.
  EXPECT_GE(back.count(), 44100);
  EXPECT_LT(back.count(), 44100 + 4410);
  int16_t peak = 0;
  for (const int16_t v : leftValues(back)) peak = std::max<int16_t>(peak, v);
  EXPECT_GT(peak, 8000);
  EXPECT_EQ(entries(), 3);  // nothing left beside the files
}

// The audio bytes of an MP3 after its ID3v2 tag.
uint64_t audioBytes(const std::vector<uint8_t>& mp3) {
  if (mp3.size() < 10 || std::string(mp3.begin(), mp3.begin() + 3) != "ID3") return mp3.size();
  return mp3.size() - 10 - (uint64_t{mp3[6]} << 21 | uint64_t{mp3[7]} << 14 | uint64_t{mp3[8]} << 7 | mp3[9]);
}

TEST_F(Mp3, TheFilesRateIsReadAndARateAskedReachesLame) {
  // A constant rate, as the frames say it.
  program().settings.lameEncodeOptions = "-b 64";
  ASSERT_EQ(wavToMp3(file("tom.wav"), file("cbr.mp3")), Conversion::done);
  EXPECT_EQ(mp3BitRate(file("cbr.mp3")), 64000);
  // A variable one, as LAME's Xing header counts it, behind a tag of 5000
  // bytes that is no sound: a second of sound, so its audio bits.
  program().settings.lameEncodeOptions = "--id3v2-only --tc " + std::string(5000, 'x') + " -V 6";
  ASSERT_EQ(wavToMp3(file("tom.wav"), file("vbr.mp3")), Conversion::done);
  const double vbrBits = 8.0 * static_cast<double>(audioBytes(readFileBytes(file("vbr.mp3"))));
  ASSERT_TRUE(mp3BitRate(file("vbr.mp3")).has_value());
  EXPECT_NEAR(*mp3BitRate(file("vbr.mp3")), vbrBits, 0.06 * vbrBits);
  // An average rate asked reaches LAME, which gives 128 kb/s without it.
  program().settings.lameEncodeOptions = "-h";
  ASSERT_EQ(wavToMp3(file("tom.wav"), file("abr.mp3"), 48000), Conversion::done);
  EXPECT_LE(mp3BitRate(file("abr.mp3")).value_or(0), 48000);
  EXPECT_FALSE(mp3BitRate(file("tom.wav")).has_value());
  // With an average rate LAME takes "-b" as the least rate: the settings'
  // "-b 128" would hold the one asked at 128 kb/s.
  program().settings.lameEncodeOptions = "-h -b 128";
  ASSERT_EQ(wavToMp3(file("tom.wav"), file("abr.mp3"), 48000), Conversion::done);
  EXPECT_LE(mp3BitRate(file("abr.mp3")).value_or(0), 48000);
  EXPECT_EQ(lameEncodeWords("-h -b128 -B 320 --bitwidth 16 -V 2", 64000),
            (std::vector<std::string>{"-h", "--bitwidth", "16", "-V", "2", "--abr", "64"}));
  EXPECT_EQ(lameEncodeWords("-h -b 128", 0), (std::vector<std::string>{"-h", "-b", "128"}));
}

TEST_F(Mp3, AMissingLameFailsAndKeepsTheFiles) {
  program().settings.lameProgram = "/nonexistent/lame";
  writeFileBytes(file("velho.mp3"), {1, 2, 3});
  EXPECT_EQ(wavToMp3(file("tom.wav"), file("velho.mp3")), Conversion::missing);
  EXPECT_TRUE(fileExists(file("tom.wav")));
  EXPECT_EQ(readFileBytes(file("velho.mp3")), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(entries(), 2);
}

TEST_F(Mp3, ALameFailureLeavesNoOutputAndTheOldOneIntact) {
  writeFileBytes(file("ruim.mp3"), {'n', 'o'});
  EXPECT_EQ(mp3ToWav(file("ruim.mp3"), file("ruim.wav")), Conversion::failed);
  EXPECT_FALSE(fileExists(file("ruim.wav")));
  writeFileBytes(file("velho.wav"), {4, 5});
  EXPECT_EQ(mp3ToWav(file("ruim.mp3"), file("velho.wav")), Conversion::failed);
  EXPECT_EQ(readFileBytes(file("velho.wav")), (std::vector<uint8_t>{4, 5}));
  EXPECT_EQ(mp3ToWav(file("nada.mp3"), file("x.wav")), Conversion::failed);
  EXPECT_EQ(entries(), 3);

  // A disk that refuses the flush or the rename of what LAME wrote.
  writeFileBytes(file("velho.mp3"), {6, 7});
  const ReplaceFaultRuns encoding = expectFailedSavesChangeNothing(
      {dir()}, [&] { return wavToMp3(file("tom.wav"), file("velho.mp3")) == Conversion::done; });
  EXPECT_EQ(encoding.writes, 0);  // LAME writes for itself
  EXPECT_EQ(encoding.flushes, 1);
  EXPECT_EQ(encoding.renames, 1);
  const ReplaceFaultRuns decoding = expectFailedSavesChangeNothing(
      {dir()}, [&] { return mp3ToWav(file("velho.mp3"), file("velho.wav")) == Conversion::done; });
  EXPECT_EQ(decoding.flushes, 0);  // a decoded copy can be made again from the MP3
  EXPECT_EQ(decoding.renames, 1);
}

TEST_F(Mp3, AnAliasReplacesTheFileItPointsAtAndADashNameIsNoOption) {
  // The selector reaches a name without a Windows-1252 form through an alias.
  const std::string real = dir() + "/\xE6\x97\xA5.mp3";
  writeFileBytes(real, {1, 2, 3});
  const std::string alias = aliasFor(real, "x.mp3");
  ASSERT_FALSE(alias.empty());
  EXPECT_EQ(wavToMp3(file("tom.wav"), alias), Conversion::done);
  EXPECT_GT(std::filesystem::file_size(real), 1000u);
  EXPECT_TRUE(std::filesystem::is_symlink(nativePath(alias)));
  EXPECT_EQ(entries(), 2);  // no hidden file left beside the real one

  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir());
  std::filesystem::copy_file("tom.wav", "-tom.wav");
  const Conversion dashed = wavToMp3("-tom.wav", "-tom.mp3");
  std::filesystem::current_path(previous);
  EXPECT_EQ(dashed, Conversion::done);
  EXPECT_GT(*fileSize(file("-tom.mp3")), 1000u);
}

TEST_F(Mp3, OptionsAreSplitIntoWords) {
  program().settings.lameEncodeOptions = "-b 32 --tt \"um tom\"";
  ASSERT_EQ(wavToMp3(file("tom.wav"), file("tom.mp3")), Conversion::done);
  // 32 kbit/s for one second, ID3 tag included: a few kilobytes.
  EXPECT_LT(*fileSize(file("tom.mp3")), 6000u);
  program().settings.lameEncodeOptions = "--no-such-option";
  EXPECT_EQ(wavToMp3(file("tom.wav"), file("outro.mp3")), Conversion::failed);
}

}  // namespace
}  // namespace kalimbro
