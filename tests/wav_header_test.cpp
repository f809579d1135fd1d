// The WAV header unit: the canonical header, the sample encodings and the
// walk over a file's chunks, from memory and from a file.
#include "platform/wav_header.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "tests/fakes/wav_image.h"

namespace kalimbro {
namespace {

std::span<const uint8_t> bytesOf(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

WavWalk walk(const std::string& file, WavLayout& layout) {
  MemorySource source(bytesOf(file));
  return walkWavHeader(source, layout);
}

TEST(WavHeader, CanonicalBytesForAnEmptyMonoSound) {
  const auto h = makeWavHeader(0, 22050, 1, 16);
  const std::string expected = "RIFF" + le32(36) + "WAVE" + "fmt " + le32(16) + le16(1) + le16(1) +
                               le32(22050) + le32(44100) + le16(2) + le16(16) + "data" + le32(0);
  ASSERT_EQ(expected.size(), kWavHeaderBytes);
  EXPECT_EQ(std::string(h.begin(), h.end()), expected);
}

TEST(WavHeader, BlockAlignAndByteRateFollowTheFormat) {
  struct Case {
    uint32_t rate;
    uint16_t channels, bits, align;
    uint32_t byteRate;
  };
  for (const Case c : {Case{22050, 1, 16, 2, 44100}, Case{44100, 2, 16, 4, 176400},
                       Case{11025, 1, 8, 1, 11025}, Case{8000, 2, 8, 2, 16000}}) {
    const auto h = makeWavHeader(1000, c.rate, c.channels, c.bits);
    EXPECT_EQ(readLe32(&h[4]), 1036u);
    EXPECT_EQ(readLe16(&h[22]), c.channels);
    EXPECT_EQ(readLe32(&h[24]), c.rate);
    EXPECT_EQ(readLe32(&h[28]), c.byteRate) << c.rate << "/" << c.bits << "/" << c.channels;
    EXPECT_EQ(readLe16(&h[32]), c.align);
    EXPECT_EQ(readLe16(&h[34]), c.bits);
    EXPECT_EQ(readLe32(&h[40]), 1000u);
  }
}

TEST(WavSamples, EightBitConversions) {
  EXPECT_EQ(sampleFrom8Bit(0), -32768);
  EXPECT_EQ(sampleFrom8Bit(128), 0);
  EXPECT_EQ(sampleFrom8Bit(255), 32512);
  // Mono divides toward zero, stereo shifts toward minus infinity.
  EXPECT_EQ(monoSampleTo8Bit(-1), 128);
  EXPECT_EQ(stereoSampleTo8Bit(-1), 127);
  EXPECT_EQ(monoSampleTo8Bit(-256), 127);
  EXPECT_EQ(stereoSampleTo8Bit(-256), 127);
  EXPECT_EQ(monoSampleTo8Bit(-257), 127);
  EXPECT_EQ(stereoSampleTo8Bit(-257), 126);
  for (const int16_t v : {int16_t(-32768), int16_t(32767), int16_t(255), int16_t(256)}) {
    EXPECT_EQ(monoSampleTo8Bit(v), stereoSampleTo8Bit(v)) << v;
  }
  EXPECT_EQ(monoSampleTo8Bit(-32768), 0);
  EXPECT_EQ(monoSampleTo8Bit(32767), 255);
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(monoSampleTo8Bit(sampleFrom8Bit(uint8_t(b))), b);
    EXPECT_EQ(stereoSampleTo8Bit(sampleFrom8Bit(uint8_t(b))), b);
  }
}

TEST(WavWalk, FindsTheDataOfCanonicalAndWiderFiles) {
  WavLayout layout;
  const std::string canonical = riff(chunk("fmt ", pcmFormat(2, 44100, 16)) + chunk("data", "abcd"));
  ASSERT_EQ(walk(canonical, layout), WavWalk::ok);
  EXPECT_EQ(layout.dataOffset, 44u);
  EXPECT_EQ(layout.dataBytes, 4u);
  EXPECT_EQ(layout.format.formatTag, 1);
  EXPECT_EQ(layout.format.channels, 2);
  EXPECT_EQ(layout.format.sampleRate, 44100u);
  EXPECT_EQ(layout.format.byteRate, 176400u);
  EXPECT_EQ(layout.format.blockAlign, 4);
  EXPECT_EQ(layout.format.bitsPerSample, 16);

  // Lower-case ids, an extended format chunk, a list chunk before the data.
  const std::string wider = "riff" + le32(0) + "wave" + chunk("FMT ", pcmFormat(1, 8000, 8, 3) + le16(0)) +
                            chunk("LIST", "INFOISFT") + chunk("Data", "xyz");
  ASSERT_EQ(walk(wider, layout), WavWalk::ok);
  EXPECT_EQ(layout.dataOffset, 12u + 8 + 18 + 8 + 8 + 8);
  EXPECT_EQ(layout.dataBytes, 3u);
  EXPECT_EQ(layout.format.formatTag, 3);  // the tag is the reader's business
  EXPECT_EQ(layout.format.sampleRate, 8000u);

  // Chunks before the format; an extensible format whose subformat is PCM
  // or float reads as that tag, one with another subformat keeps its own.
  const std::string extensible = riff(chunk("JUNK", std::string(28, '\0')) + chunk("bext", "ab") +
                                      chunk("fmt ", extensibleFormat(2, 48000, 16)) + chunk("data", "abcd"));
  ASSERT_EQ(walk(extensible, layout), WavWalk::ok);
  EXPECT_EQ(layout.format.formatTag, kWavFormatPcm);
  EXPECT_EQ(layout.format.channels, 2);
  EXPECT_EQ(layout.format.bitsPerSample, 16);
  EXPECT_EQ(layout.dataOffset, extensible.size() - 4);
  ASSERT_EQ(walk(riff(chunk("fmt ", extensibleFormat(2, 48000, 32, 3)) + chunk("data", "abcdefgh")), layout),
            WavWalk::ok);
  EXPECT_EQ(layout.format.formatTag, kWavFormatFloat);
  std::string otherSubformat = extensibleFormat(2, 48000, 32, 3);
  otherSubformat.back() = 0x72;
  ASSERT_EQ(walk(riff(chunk("fmt ", otherSubformat) + chunk("data", "abcdefgh")), layout), WavWalk::ok);
  EXPECT_EQ(layout.format.formatTag, kWavFormatExtensible);
}

TEST(WavWalk, ThePadByteAfterAnOddChunkIsSkippedWhenItIsThere) {
  WavLayout layout;
  const std::string fmt = chunk("fmt ", pcmFormat(1, 8000, 8));
  EXPECT_EQ(walk(riff(fmt + chunk("junk", "abc") + chunk("data", "d")), layout), WavWalk::ok);
  EXPECT_EQ(layout.dataOffset, 12u + 24 + 11 + 8);
  EXPECT_EQ(walk(riff(fmt + chunk("junk", "abc") + std::string(1, '\0') + chunk("data", "d")), layout),
            WavWalk::ok);
  EXPECT_EQ(layout.dataOffset, 12u + 24 + 12 + 8);
  EXPECT_EQ(layout.dataBytes, 1u);
}

// Only a size that was filled in and reaches past the end says the file
// was cut short.
TEST(WavWalk, ADataSizeNeverFilledInOrPastTheEndIsTheRestOfTheFileInWholeFrames) {
  WavLayout layout;
  const std::string head = riff(chunk("fmt ", pcmFormat(2, 8000, 16))).substr(0, 36);
  const std::string data = std::string(4 * 5 + 3, 'x');  // five frames and a piece of one
  struct Case {
    uint32_t stored;
    std::string after;
    uint64_t expected;
    bool cutShort;
  };
  for (const Case& c : {Case{0xFFFFFFFF, data, 20, false}, Case{0, data, 20, false}, Case{1000, data, 20, true},
                        Case{24, data, 20, true}, Case{0, "", 0, false}, Case{8, data, 8, false},
                        Case{23, data, 23, false}}) {
    ASSERT_EQ(walk(head + "data" + le32(c.stored) + c.after, layout), WavWalk::ok) << c.stored;
    EXPECT_EQ(layout.dataBytes, c.expected) << c.stored << " with " << c.after.size() << " bytes";
    EXPECT_EQ(layout.dataCutShort, c.cutShort) << c.stored;
  }
}

// A data size of 0 means "never filled in" unless the RIFF size counts a
// whole chunk right after the data chunk's header: then the data chunk is
// really empty and what follows is not sound.
TEST(WavWalk, AnEmptyDataChunkFollowedByOtherChunksStaysEmpty) {
  WavLayout layout;
  const std::string fmt = chunk("fmt ", pcmFormat(1, 8000, 16));
  const std::string list = chunk("LIST", "INFOISFT" + le32(6) + "Lavf58");
  const std::string written = riff(fmt + chunk("data", "") + list);
  for (const std::string& file : {written, written + "xy"}) {
    ASSERT_EQ(walk(file, layout), WavWalk::ok);
    EXPECT_EQ(layout.dataBytes, 0u) << file.size() << " bytes";
  }
  // A streaming writer's placeholders, or only the RIFF size filled in:
  // the data run to the end.
  const std::string streamed = "WAVE" + fmt + "data" + le32(0) + std::string("\x01\0\xFF\xFF", 4) + "LIST";
  for (const uint32_t riffSize : {0u, 0xFFFFFFFFu, 36u, uint32_t(streamed.size() + 100), uint32_t(streamed.size())}) {
    ASSERT_EQ(walk("RIFF" + le32(riffSize) + streamed, layout), WavWalk::ok);
    EXPECT_EQ(layout.dataBytes, 8u) << "RIFF size " << riffSize;
  }
}

TEST(WavWalk, Refusals) {
  WavLayout layout;
  const std::string fmt = chunk("fmt ", pcmFormat(1, 8000, 8));
  EXPECT_EQ(walk("RIFX" + le32(0) + "WAVE" + fmt + chunk("data", ""), layout), WavWalk::notRiff);
  EXPECT_EQ(walk(riff(chunk("data", "ab") + fmt + chunk("data", "")), layout), WavWalk::noFormat);
  EXPECT_EQ(walk(riff(chunk("fmt ", pcmFormat(1, 8000, 8).substr(0, 14)) + chunk("data", "")), layout),
            WavWalk::formatTooSmall);
  const std::string whole = riff(fmt + chunk("LIST", "0123456789") + chunk("data", "x"));
  for (size_t cut : {0, 11, 12, 19, 30, 44, 50, 61}) {
    EXPECT_EQ(walk(whole.substr(0, cut), layout), WavWalk::cutShort) << "cut at " << cut;
  }
  EXPECT_EQ(walk(whole.substr(0, 62), layout), WavWalk::ok);
}

class WavFileSource : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/wav_header_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST_F(WavFileSource, LeavesTheDescriptorAtTheFirstDataByte) {
  const std::string file = riff(chunk("fmt ", pcmFormat(1, 8000, 8)) + chunk("fact", "1234") + chunk("data", "PCM!"));
  std::ofstream(dir_ + "a.wav", std::ios::binary) << file;
  const int fd = open((dir_ + "a.wav").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  FdSource source(fd);
  WavLayout layout;
  ASSERT_EQ(walkWavHeader(source, layout), WavWalk::ok);
  EXPECT_EQ(layout.dataOffset, file.size() - 4);
  EXPECT_EQ(source.remaining(), std::optional<uint64_t>(4));
  char data[4];
  EXPECT_EQ(read(fd, data, 4), 4);
  EXPECT_EQ(std::string(data, 4), "PCM!");
  close(fd);

  // A skipped chunk longer than the rest of the file is cut short, not sought
  // past, nor read on inside as though it had ended.
  std::ofstream(dir_ + "b.wav", std::ios::binary)
      << riff(chunk("fmt ", pcmFormat(1, 8000, 8)) + "JUNK" + le32(1000) + chunk("data", "PCM!"));
  const int fd2 = open((dir_ + "b.wav").c_str(), O_RDONLY);
  FdSource source2(fd2);
  EXPECT_EQ(walkWavHeader(source2, layout), WavWalk::cutShort);
  close(fd2);
}

}  // namespace
}  // namespace kalimbro
