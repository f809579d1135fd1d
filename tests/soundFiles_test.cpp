#include "formats/soundFiles.h"
#include "tests/fakes/file_folder_test.h"
#include "tests/fakes/replace_faults.h"
#include "tests/fakes/wav_image.h"

#include <signal.h>
#include <sndfile.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace kalimbro {
namespace {

// ---- Helpers -----------------------------------------------------------------------

class AnySoundFile : public FileFolderTest {
 protected:
  // A file written by libsndfile itself from 32-bit values (16-bit values
  // times 65536), frames interleaved.
  std::string writeWithSndfile(const std::string& name, int format, int channels, int rate,
                               const std::vector<int32_t>& values) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = rate;
    SNDFILE* f = sf_open(path(name).c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    if (f == nullptr) return path(name);
    sf_command(f, SFC_SET_SCALE_INT_FLOAT_WRITE, nullptr, SF_TRUE);  // full scale 1.0 in float files
    EXPECT_EQ(sf_write_int(f, values.data(), sf_count_t(values.size())), sf_count_t(values.size()));
    sf_close(f);
    return path(name);
  }
};

SF_INFO infoOf(const std::string& file) {
  SF_INFO info{};
  SNDFILE* f = sf_open(file.c_str(), SFM_READ, &info);
  if (f) sf_close(f);
  return info;
}

// A sound with a tone and enough variety in every value to tell a changed
// sample: 440 Hz at 0.4 of full scale on the left (and in mono), 660 Hz on
// the right.
void fillTone(TAmostras& s, int channels, int rate, int frames, int bits = 16) {
  s.createSized(channels, rate, bits, frames);
  for (int i = 0; i < frames; ++i) {
    const int l = int(13000 * std::sin(2 * M_PI * 440 * i / rate)) + (i % 7) - 3;
    const int r = int(13000 * std::sin(2 * M_PI * 660 * i / rate)) - (i % 5);
    const int right = channels == 1 ? l : r;
    s.setFrame(i, packFrame(bits == 8 ? l & ~0xFF : l, bits == 8 ? right & ~0xFF : right));
  }
}

std::vector<int16_t> valuesOf(const TAmostras& s) { return {s.samples().begin(), s.samples().end()}; }

// Correlation of two runs of values over their common length.
double correlation(std::span<const int16_t> a, std::span<const int16_t> b) {
  const size_t n = std::min(a.size(), b.size());
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < n; ++i) {
    ab += double(a[i]) * b[i];
    aa += double(a[i]) * a[i];
    bb += double(b[i]) * b[i];
  }
  return ab / std::sqrt(aa * bb);
}

// Rising zero crossings of the left channel: a tone's frequency times the
// seconds.
int risingCrossings(const TAmostras& s) {
  int n = 0;
  for (int i = 1; i < s.count(); ++i)
    n += unpackFrame(s.getFrame(i - 1)).left < 0 && unpackFrame(s.getFrame(i)).left >= 0;
  return n;
}

// ---- The kind of a file ------------------------------------------------------------

TEST(SoundKinds, NamesAndFirstBytes) {
  const std::vector<std::pair<const char*, std::optional<SoundKind>>> names = {
      {"a.wav", SoundKind::wav},     {"A.FLAC", SoundKind::flac},   {"n.Ogg", SoundKind::vorbis},
      {"n.oga", SoundKind::vorbis},  {"nota.opus", SoundKind::opus}, {"m.aif", SoundKind::aiff},
      {"m.AIFF", SoundKind::aiff},   {"m.aifc", SoundKind::aiff},   {"memo.m4a", SoundKind::aac},
      {"v.mp4", SoundKind::aac},     {"r.aac", SoundKind::aac},     {"s.MP3", SoundKind::mp3},
      {"nota", std::nullopt},        {"nota.txt", std::nullopt},    {"dir.wav/nota", std::nullopt},
      {"a.wav.bak", std::nullopt},   {"x.", std::nullopt},          {".opus", SoundKind::opus},
  };
  for (const auto& [name, kind] : names) EXPECT_EQ(kindOfName(name), kind) << name;

  const auto bytes = [](const std::string& s) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };
  // An Ogg page whose segment table has two entries, then the first packet.
  const auto oggPage = [](const std::string& packet) {
    return "OggS" + std::string(22, '\0') + std::string("\x02\x13\x00", 3) + packet;
  };
  const std::string opusHead = oggPage("OpusHead\x01\x01");
  const std::string vorbisHead = oggPage("\x01vorbis\0\0\0\0");
  struct Case {
    const char* name;
    std::string first;
    std::optional<SoundKind> kind;
  };
  const std::vector<Case> cases = {
      {"a.mp3", riff(chunk("fmt ", pcmFormat(1, 8000, 16))), SoundKind::wav},
      {"a.flac", "RF64" + le32(0xFFFFFFFF) + "WAVE", SoundKind::wav},
      {"a.m4a", "riff" + std::string("ftyp") + "wave", SoundKind::wav},  // any case, as loadWav reads it
      {"a.wav", "FORM" + le32(4) + "AIFC", SoundKind::aiff},
      {"a.wav", "fLaC\0\0\0\x22", SoundKind::flac},
      {"nota.ogg", opusHead, SoundKind::opus},
      {"nota.opus", vorbisHead, SoundKind::vorbis},
      {"nota.opus", oggPage("Speex   "), SoundKind::opus},  // another codec: the name decides
      {"nota.wav", opusHead.substr(0, 30), SoundKind::wav},  // the packet is not there
      {"a.wav", std::string("\0\0\0\x20", 4) + "ftypM4A ", SoundKind::aac},
      {"a.wav", "\xFF\xF1\x50\x80", SoundKind::aac},          // ADTS
      {"a.wav", "\xFF\xFB\x90\x64", SoundKind::mp3},          // MPEG-1 layer III
      {"a.wav", "\xFF\xFB\xF0\x64", SoundKind::wav},          // bit rate 15 is no frame
      {"a.wav", "\xFE\xFB\x90\x64", SoundKind::wav},          // no sync: the first eight bits
      {"a.wav", "\xFF\x1B\x90\x64", SoundKind::wav},          // no sync: the next three
      {"a.wav", "ID3\x04\0\0\0\0\0\x10", SoundKind::mp3},
      {"r.aac", "ID3\x04\0\0\0\0\0\x10", SoundKind::aac},    // tagged ADTS
      {"r.flac", "ID3\x04\0\0\0\0\0\x10", SoundKind::flac},
      {"a.flac", "RIFF" + le32(4) + "AVI ", SoundKind::flac},  // RIFF, but no sound of ours
      {"texto.txt", "hello, world", std::nullopt},
      {"vazio.opus", "", SoundKind::opus},
  };
  for (const Case& c : cases) EXPECT_EQ(kindOfFile(c.name, bytes(c.first)), c.kind) << c.name << " " << c.first;
}

TEST_F(AnySoundFile, TheFileDecidesOverItsName) {
  TAmostras s;
  fillTone(s, 1, 48000, 4800);
  ASSERT_TRUE(saveSound(path("nota.ogg"), s, newFileFormat(SoundKind::opus, 16)));
  ASSERT_TRUE(saveSound(path("musica.opus"), s, newFileFormat(SoundKind::vorbis, 16)));
  EXPECT_EQ(kindOfFile(path("nota.ogg")), SoundKind::opus);
  EXPECT_EQ(kindOfFile(path("musica.opus")), SoundKind::vorbis);
  EXPECT_EQ(kindOfFile(path("missing.wav")), std::nullopt);
  EXPECT_EQ(kindOfFile(dir_), std::nullopt);  // a folder is no sound
  const SoundLoad opus = loadSound(path("nota.ogg"), s);
  ASSERT_TRUE(opus.ok());
  EXPECT_EQ(opus.format, newFileFormat(SoundKind::opus, 16));
}

// ---- Round trips -------------------------------------------------------------------

TEST_F(AnySoundFile, LosslessKindsGiveBackEverySampleAtTheirDepth) {
  struct Case {
    const char* name;
    SoundFileFormat format;
    int sfFormat;  // what libsndfile must find in the file
  };
  const std::vector<Case> cases = {
      {"p16.wav", {SoundKind::wav, 16, false}, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
      {"p24.wav", {SoundKind::wav, 24, false}, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
      {"p32.wav", {SoundKind::wav, 32, false}, SF_FORMAT_WAV | SF_FORMAT_PCM_32},
      {"f32.wav", {SoundKind::wav, 32, true}, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
      {"f64.wav", {SoundKind::wav, 64, true}, SF_FORMAT_WAV | SF_FORMAT_DOUBLE},
      {"p16.flac", {SoundKind::flac, 16, false}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
      {"p24.flac", {SoundKind::flac, 24, false}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
      {"p16.aiff", {SoundKind::aiff, 16, false}, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
      {"p24.aif", {SoundKind::aiff, 24, false}, SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
      {"f32.aifc", {SoundKind::aiff, 32, true}, SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
  };
  for (const int channels : {1, 2}) {
    TAmostras original;
    fillTone(original, channels, 44100, 30000);
    original.placeMarker(0);
    original.placeMarker(12345);
    original.placeMarker(30000);
    original.removeMarker(1);
    original.nameMarker(2, "Entrevista");
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (channels == 1 ? " mono" : " stereo"));
      ASSERT_TRUE(saveSound(path(c.name), original, c.format));
      const SF_INFO info = infoOf(path(c.name));
      EXPECT_EQ(info.format, c.sfFormat);
      EXPECT_EQ(info.channels, channels);
      EXPECT_EQ(info.frames, 30000);

      TAmostras back;
      back.setFrame(5, packFrame(9, 9));
      const SoundLoad load = loadSound(path(c.name), back);
      ASSERT_TRUE(load.ok());
      EXPECT_EQ(load.format, c.format) << "saved back, it would not keep its depth";
      EXPECT_EQ(back.sampleRate(), 44100);
      EXPECT_EQ(back.channels(), channels);
      EXPECT_EQ(back.bitsPerSample(), 16);
      EXPECT_EQ(valuesOf(back), valuesOf(original)) << "a 16-bit sound saved wider must reopen exactly";
      // WAV and AIFF keep the markers, numbers, frames and names; FLAC's
      // chapters give the frame nearest their millisecond, and the named
      // marker the number of its place.
      if (c.format.kind != SoundKind::flac) {
        EXPECT_EQ(back.markers(), original.markers());
        continue;
      }
      ASSERT_EQ(back.markers().size(), 2u);
      EXPECT_EQ(back.markers()[0].number, 1u);
      EXPECT_EQ(back.markers()[1].number, 3u);
      for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(back.markers()[i].name, original.markers()[i].name);
        EXPECT_NEAR(back.markers()[i].frame, original.markers()[i].frame, 22);
      }
    }
  }
  // Eight bits stay eight bits declared in every PCM kind.
  TAmostras eight;
  fillTone(eight, 2, 8000, 5000, 8);
  for (const SoundKind kind : {SoundKind::wav, SoundKind::flac, SoundKind::aiff}) {
    const std::string name = path(kind == SoundKind::wav ? "e.wav" : kind == SoundKind::flac ? "e.flac" : "e.aiff");
    ASSERT_TRUE(saveSound(name, eight, newFileFormat(kind, 8)));
    TAmostras back;
    const SoundLoad load = loadSound(name, back);
    ASSERT_TRUE(load.ok()) << name;
    EXPECT_EQ(load.format, newFileFormat(kind, 8)) << name;
    EXPECT_EQ(back.bitsPerSample(), 8) << name;
    EXPECT_EQ(valuesOf(back), valuesOf(eight)) << name;
  }
}

TEST_F(AnySoundFile, LossyKindsKeepTheSoundAndOpusTakesARateItCarries) {
  for (const SoundKind kind : {SoundKind::vorbis, SoundKind::opus}) {
    for (const int channels : {1, 2}) {
      SCOPED_TRACE(std::to_string(int(kind)) + " channels " + std::to_string(channels));
      TAmostras original;
      fillTone(original, channels, 48000, 48000);
      ASSERT_TRUE(saveSound(path("l"), original, newFileFormat(kind, 16)));
      TAmostras back;
      const SoundLoad load = loadSound(path("l"), back);
      ASSERT_TRUE(load.ok());
      EXPECT_EQ(load.format, newFileFormat(kind, 0));
      EXPECT_FALSE(load.reduced.any());
      EXPECT_EQ(back.sampleRate(), 48000);
      EXPECT_EQ(back.channels(), channels);
      EXPECT_NEAR(back.count(), 48000, 1000);
      EXPECT_GT(correlation(back.samples(), original.samples()), 0.95);
      // A voice note's bit rate (32 kb/s per channel), not the codec's default.
      if (kind == SoundKind::opus) {
        EXPECT_LT(read("l").size() * 8, 48000u * channels);
      }
    }
  }
  // Vorbis aims at the bit rate it is given (that of the file opened), a
  // rate between two qualities' leading to one between them: well under
  // what the highest quality takes.
  TAmostras noise;
  noise.createSized(1, 44100, 16, 44100);
  std::minstd_rand random(1);
  for (int16_t& v : noise.samplesToChange()) v = static_cast<int16_t>(static_cast<int>(random() % 16001) - 8000);
  const auto vorbisBytes = [&](int32_t bitRate) {
    SoundFileFormat format = newFileFormat(SoundKind::vorbis, 16);
    format.bitRate = bitRate;
    EXPECT_TRUE(saveSound(path("v.ogg"), noise, format));
    return read("v.ogg").size();
  };
  const size_t at60 = vorbisBytes(60000), highest = vorbisBytes(250000);
  EXPECT_LT(at60 * 2, highest);
  // Opus at the rate it carries next above the sound's, at the same pitch
  // and length.
  const std::vector<std::pair<int, int>> rates = {{8000, 8000}, {11025, 12000}, {22050, 24000}, {44100, 48000}};
  for (const auto& [rate, carried] : rates) {
    TAmostras original;
    fillTone(original, 1, rate, rate * 2);
    ASSERT_TRUE(saveSound(path("r.opus"), original, newFileFormat(SoundKind::opus, 16)));
    EXPECT_EQ(infoOf(path("r.opus")).samplerate, carried);
    TAmostras back;
    ASSERT_TRUE(loadSound(path("r.opus"), back).ok());
    EXPECT_EQ(back.sampleRate(), carried);
    EXPECT_NEAR(back.count(), carried * 2, carried / 20) << rate;
    EXPECT_NEAR(risingCrossings(back), 880, 4) << rate;  // 440 Hz for 2 s
  }
  // Past a minute the second half is read at the same time, from a second
  // opening of the file: the values are those of one reading from the
  // start, the seam included (a rising tone, so that a shift shows).
  for (const SoundKind kind : {SoundKind::vorbis, SoundKind::opus}) {
    SCOPED_TRACE(int(kind));
    TAmostras original;
    original.createSized(1, 8000, 16, 8000 * 61);
    const std::span<int16_t> v = original.samplesToChange();
    for (size_t i = 0; i < v.size(); ++i) {
      const double t = static_cast<double>(i) / 8000;
      v[i] = static_cast<int16_t>(std::lround(8000 * std::sin(2 * M_PI * (200 * t + 5 * t * t))));
    }
    ASSERT_TRUE(saveSound(path("long"), original, newFileFormat(kind, 16)));
    TAmostras back;
    ASSERT_TRUE(loadSound(path("long"), back).ok());
    SF_INFO info{};
    SNDFILE* file = sf_open(path("long").c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> once(static_cast<size_t>(info.frames));
    EXPECT_EQ(sf_readf_float(file, once.data(), info.frames), info.frames);
    sf_close(file);
    ASSERT_EQ(back.count(), info.frames);
    long worst = 0;
    size_t worstAt = 0;
    for (size_t i = 0; i < once.size(); ++i) {
      const long difference = std::labs(back.samples()[i] - std::lround(once[i] * 32768));
      if (difference > worst) std::tie(worst, worstAt) = std::pair(difference, i);
    }
    EXPECT_LE(worst, 1) << "at frame " << worstAt << " of " << once.size();
  }
}

// ---- The WAV files of old ---------------------------------------------------------

TEST_F(AnySoundFile, EightAndSixteenBitWavAreTheFilesOfLoadWavAndSaveWav) {
  for (const int bits : {8, 16}) {
    TAmostras s;
    fillTone(s, 2, 22050, 3001, bits);
    ASSERT_TRUE(s.saveWav(path("old.wav")));
    ASSERT_TRUE(saveSound(path("new.wav"), s, newFileFormat(SoundKind::wav, bits)));
    EXPECT_EQ(read("new.wav"), read("old.wav")) << bits;
  }
  // A mono 8-bit file rounds as saveWav's mono files do, also when the
  // sound in memory says 16 bits.
  TAmostras mono;
  mono.createSized(1, 8000, 16, 2);
  mono.setFrame(0, packFrame(-1, -1));
  mono.setFrame(1, packFrame(300, 300));
  ASSERT_TRUE(saveSound(path("m8.wav"), mono, newFileFormat(SoundKind::wav, 8)));
  EXPECT_EQ(read("m8.wav").substr(44), "\x80\x81");
  EXPECT_EQ(read("m8.wav").substr(34, 2), le16(8));

  // Files only loadWav's rules read (chunk ids in lower case, a chunk
  // between the format and the data, an odd-sized chunk without its pad
  // byte) still open, with the same result.
  const std::string oddFile =
      write("odd.wav", "riff" + le32(0) + "wave" + chunk("FMT ", pcmFormat(2, 11025, 16)) + chunk("junk", "abc") +
                           chunk("DATA", le32(0x00020001) + le32(0xFFFF8000)));
  TAmostras byLoadWav, bySoundFiles;
  ASSERT_TRUE(byLoadWav.loadWav(oddFile));
  const SoundLoad load = loadSound(oddFile, bySoundFiles);
  ASSERT_TRUE(load.ok());
  EXPECT_EQ(load.format, newFileFormat(SoundKind::wav, 16));
  EXPECT_EQ(valuesOf(bySoundFiles), valuesOf(byLoadWav));
  EXPECT_EQ(bySoundFiles.sampleRate(), 11025);
}

// ---- What loading reduces -----------------------------------------------------------

TEST_F(AnySoundFile, WiderAndManyChannelFilesAreReducedAndSaySo) {
  // Six channels of 16 bits, frame f holding 16f, 32f, ... 96f: left
  // (1 + 3 + 5) / 3, right (2 + 4 + 6) / 3 of 16f.
  std::vector<int32_t> six;
  for (int f = 0; f < 100; ++f)
    for (int c = 1; c <= 6; ++c) six.push_back(c * f * 16 * 65536);
  TAmostras s;
  SoundLoad load = loadSound(writeWithSndfile("six.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 6, 32000, six), s);
  ASSERT_TRUE(load.ok());
  EXPECT_EQ(load.reduced, (Reduction{0, false, 6}));
  EXPECT_EQ(load.format, newFileFormat(SoundKind::wav, 16));
  EXPECT_EQ(s.channels(), 2);
  EXPECT_EQ(s.sampleRate(), 32000);
  ASSERT_EQ(s.count(), 100);
  EXPECT_EQ(s.getFrame(99), packFrame(3 * 99 * 16, 4 * 99 * 16));
  // An odd count: the last channel goes to both sides.
  std::vector<int32_t> three;
  for (int f = 0; f < 10; ++f)
    for (const int v : {300, 600, 900}) three.push_back(v * 65536);
  load = loadSound(writeWithSndfile("three.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 3, 8000, three), s);
  ASSERT_TRUE(load.ok());
  EXPECT_EQ(load.reduced, (Reduction{0, false, 3}));
  EXPECT_EQ(s.getFrame(5), packFrame(600, 750));

  // 24 bits holding half a 16-bit step: plain truncation would give 0
  // everywhere and rounding 1 everywhere; dither gives both, about half of
  // each, and the same each time the file is opened.
  const std::vector<int32_t> half(20000, 0x80 << 8);
  const std::string halfFile = writeWithSndfile("half.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, 44100, half);
  load = loadSound(halfFile, s);
  ASSERT_TRUE(load.ok());
  EXPECT_EQ(load.reduced, (Reduction{24, false, 0}));
  EXPECT_EQ(load.format, (SoundFileFormat{SoundKind::wav, 24, false}));
  EXPECT_EQ(s.bitsPerSample(), 16);
  int ones = 0;
  for (const int16_t v : s.samples()) {
    ASSERT_TRUE(v == 0 || v == 1) << v;
    ones += v;
  }
  EXPECT_NEAR(ones, 10000, 500);
  const std::vector<int16_t> first = valuesOf(s);
  ASSERT_TRUE(loadSound(halfFile, s).ok());
  EXPECT_EQ(valuesOf(s), first);

  // The extensible header of field recorders, 24 bits.
  load = loadSound(writeWithSndfile("ext.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 2, 48000, {256, 512}), s);
  ASSERT_TRUE(load.ok());
  EXPECT_EQ(load.reduced, (Reduction{24, false, 0}));
  EXPECT_EQ(load.format, (SoundFileFormat{SoundKind::wav, 24, false}));

  // Float, with values past full scale clipped.
  const std::vector<int32_t> loud = {0x7FFFFFFF, int32_t(0x80000000), 1 << 30, 0};
  load = loadSound(writeWithSndfile("f.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 22050, loud), s);
  ASSERT_TRUE(load.ok());
  EXPECT_EQ(load.reduced, (Reduction{32, true, 0}));
  EXPECT_EQ(s.getFrame(0), packFrame(32767, -32768));
  EXPECT_EQ(s.getFrame(1), packFrame(16384, 0));
}

// ---- Files cut short, files without a length -------------------------------------------

// A FLAC file's STREAMINFO with the frame count left out, as a writer on a
// pipe leaves it.
std::string withoutLength(std::string flac) {
  flac[21] = char(flac[21] & 0xF0);
  for (int i = 22; i < 26; ++i) flac[i] = 0;
  return flac;
}

TEST_F(AnySoundFile, FilesCutShortGiveWhatIsThereAndSaySoAndFilesWithoutALengthAreReadToTheEnd) {
  TAmostras tone;
  fillTone(tone, 2, 44100, 44100);
  const std::vector<int16_t> toneValues = valuesOf(tone);
  ASSERT_TRUE(saveSound(path("whole.flac"), tone, newFileFormat(SoundKind::flac, 16)));
  ASSERT_TRUE(saveSound(path("whole.wav"), tone, newFileFormat(SoundKind::wav, 16)));
  ASSERT_TRUE(saveSound(path("whole24.wav"), tone, SoundFileFormat{SoundKind::wav, 24, false}));
  ASSERT_TRUE(saveSound(path("whole.aiff"), tone, newFileFormat(SoundKind::aiff, 16)));
  const std::string flac = read("whole.flac");
  write("nolength.flac", withoutLength(flac));
  write("cut.flac", flac.substr(0, flac.size() / 2));
  write("cut.wav", read("whole.wav").substr(0, 44 + 4 * 30000 + 3));
  write("cut24.wav", read("whole24.wav").substr(0, 44 + 6 * 30000 + 5));
  write("cut.aiff", read("whole.aiff").substr(0, read("whole.aiff").size() / 2));
  TAmostras voice;
  fillTone(voice, 1, 8000, 8000 * 70);
  ASSERT_TRUE(saveSound(path("whole.opus"), voice, newFileFormat(SoundKind::opus, 16)));
  // An Ogg file cut short has lost the last page that tells its length;
  // one that lost pages before its last tells it, and its frames run out
  // in the second half, which a long file has read apart.
  const std::string opus = read("whole.opus");
  write("cut.opus", opus.substr(0, opus.size() * 3 / 4));
  write("holed.opus", opus.substr(0, opus.rfind("OggS", opus.size() * 3 / 4)) + opus.substr(opus.rfind("OggS")));

  struct Case {
    const char* name;
    bool cutShort;
    int64_t least, most;  // frames
  };
  for (const Case& c : {Case{"nolength.flac", false, 44100, 44100}, Case{"cut.flac", true, 4096, 30000},
                        Case{"cut.wav", true, 30000, 30000}, Case{"cut24.wav", true, 30000, 30000},
                        Case{"cut.aiff", true, 21000, 22050},
                        Case{"cut.opus", true, 8000 * 45, 8000 * 60},
                        Case{"holed.opus", true, 8000 * 45, 8000 * 60}}) {
    SCOPED_TRACE(c.name);
    TAmostras s;
    fillTone(s, 1, 11025, 50);
    const SoundLoad load = loadSound(path(c.name), s);
    ASSERT_TRUE(load.ok());
    EXPECT_EQ(load.cutShort, c.cutShort);
    EXPECT_GE(s.count(), c.least);
    EXPECT_LE(s.count(), c.most);
    // Lossless files give back the frames that were there.
    if (std::string_view(c.name).ends_with(".opus")) {
      EXPECT_GT(correlation(s.samples(), voice.samples()), 0.9);
    } else {
      EXPECT_EQ(s.sampleRate(), 44100);
      EXPECT_EQ(valuesOf(s), std::vector<int16_t>(toneValues.begin(), toneValues.begin() + 2 * s.count()));
    }
  }
  // A file without a length still keeps to the memory limit, and the sound
  // stays as it was.
  TAmostras s;
  fillTone(s, 1, 11025, 50);
  const std::vector<int16_t> before = valuesOf(s);
  s.setMemoryLimit(44100);
  EXPECT_EQ(loadSound(path("nolength.flac"), s).failure, LoadFailure::memory);
  EXPECT_EQ(valuesOf(s), before);
}

// ---- Refusals -------------------------------------------------------------------------

TEST_F(AnySoundFile, RefusedFilesLeaveTheSoundAsItWas) {
  TAmostras big;
  fillTone(big, 2, 44100, 44100);
  ASSERT_TRUE(saveSound(path("whole.flac"), big, newFileFormat(SoundKind::flac, 16)));
  const std::string flac = read("whole.flac");
  // Cut before the first frame: nothing of the sound is there.
  write("cut.flac", flac.substr(0, 100));
  write("cut.wav", riff(chunk("fmt ", pcmFormat(1, 8000, 16))).substr(0, 36) + "data" + le32(1000) + "x");
  write("cut24.wav", riff(chunk("fmt ", pcmFormat(1, 8000, 24))).substr(0, 36) + "data" + le32(3000) + "xy");
  // A FLAC file that says it holds 2^33 frames: more than a sound holds.
  std::string huge = flac;
  huge[21] = char((huge[21] & 0xF0) | 0x02);
  for (int i = 22; i < 26; ++i) huge[i] = 0;
  write("huge.flac", huge);
  std::string noise;
  for (int i = 0; i < 5000; ++i) noise += char((i * 7919) >> 3);
  write("noise.flac", noise);
  write("noise.opus", noise);
  write("noise.wav", noise);
  write("empty.wav", "");
  write("empty.opus", "");
  // A WAV file in a compressed encoding.
  write("alaw.wav", riff(chunk("fmt ", pcmFormat(1, 8000, 8, 6)) + chunk("data", "abcdef")));
  // A header with no samples after it.
  write("bare.aiff", "FORM" + le32(4) + "AIFF");
  const std::string lame = "lame --quiet -r -s 8 --bitwidth 16 -m m " + path("noise.wav") + " " + path("s.mp3");
  ASSERT_EQ(std::system(lame.c_str()), 0);

  TAmostras s;
  fillTone(s, 1, 11025, 50);
  const std::vector<int16_t> before = valuesOf(s);
  const std::vector<std::pair<const char*, LoadFailure>> files = {
      {"cut.flac", LoadFailure::unreadable},   {"huge.flac", LoadFailure::memory},
      {"cut.wav", LoadFailure::unreadable},    {"cut24.wav", LoadFailure::unreadable},
      {"noise.flac", LoadFailure::unreadable}, {"noise.opus", LoadFailure::unreadable},
      {"noise.wav", LoadFailure::unreadable},  {"empty.wav", LoadFailure::unreadable},
      {"empty.opus", LoadFailure::unreadable}, {"alaw.wav", LoadFailure::unreadable},
      {"bare.aiff", LoadFailure::unreadable},  {"s.mp3", LoadFailure::unreadable},
      {"missing.flac", LoadFailure::unreadable},
  };
  for (const auto& [name, failure] : files) {
    EXPECT_EQ(loadSound(path(name), s).failure, failure) << name;
    EXPECT_EQ(valuesOf(s), before) << name;
    EXPECT_EQ(s.sampleRate(), 11025) << name;
    EXPECT_EQ(s.channels(), 1) << name;
  }
  // The memory limit holds for every kind.
  s.setMemoryLimit(44100);
  EXPECT_EQ(loadSound(path("whole.flac"), s).failure, LoadFailure::memory);
  EXPECT_EQ(valuesOf(s), before);
  s.setMemoryLimit(2 * 44100);
  EXPECT_TRUE(loadSound(path("whole.flac"), s).ok());
}

// ---- Saving never loses the old file ---------------------------------------------------

TEST_F(AnySoundFile, AFailedSaveLeavesThePreviousFile) {
  TAmostras old;
  fillTone(old, 1, 22050, 100);
  TAmostras changed;
  fillTone(changed, 2, 22050, 3000);
  const SoundFileFormat wav24{SoundKind::wav, 24, false};
  for (const SoundFileFormat format : {wav24, newFileFormat(SoundKind::flac, 16), newFileFormat(SoundKind::opus, 16)}) {
    const std::string target = path("work");
    ASSERT_TRUE(saveSound(target, old, format));
    const ReplaceFaultRuns runs =
        expectFailedSavesChangeNothing({dir_}, [&] { return saveSound(target, changed, format); });
    EXPECT_EQ(runs.flushes, 1);
    EXPECT_EQ(runs.renames, 1);
  }

  // A disk that fills up while libsndfile writes.
  ASSERT_TRUE(saveSound(path("work"), old, newFileFormat(SoundKind::flac, 16)));
  const std::string before = read("work");
  TAmostras big;
  fillTone(big, 2, 44100, 3000000);
  for (const SoundFileFormat format : {wav24, newFileFormat(SoundKind::flac, 16)}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{100000, 100000};
      setrlimit(RLIMIT_FSIZE, &limit);
      _exit(saveSound(path("work"), big, format) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a failed write was reported as saved";
    EXPECT_EQ(read("work"), before);
    EXPECT_EQ(entries(), 1u) << "the unfinished file was left behind";
  }

  // Kinds written elsewhere, and formats no file has.
  for (const SoundFileFormat format : {newFileFormat(SoundKind::mp3, 16), newFileFormat(SoundKind::aac, 16),
                                       SoundFileFormat{SoundKind::flac, 32, true},
                                       SoundFileFormat{SoundKind::wav, 12, false}})
    EXPECT_FALSE(saveSound(path("work"), changed, format));
  EXPECT_FALSE(saveSound(path("no/such/dir.flac"), changed, newFileFormat(SoundKind::flac, 16)));
  EXPECT_EQ(read("work"), before);
  EXPECT_EQ(entries(), 1u);
}

}  // namespace
}  // namespace kalimbro
