#include "tools/soundkit.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numbers>
#include <set>

#include "console/vrnum.h"
#include "console/vrsintese.h"
#include "platform/codec.h"
#include "platform/wav_header.h"

namespace kalimbro {
namespace {

namespace fs = std::filesystem;

// ---- What the kit names ----------------------------------------------------------

std::set<std::string> namesIn(KitDirectory dir) {
  std::set<std::string> names;
  for (const KitSound& s : soundKitContents())
    if (s.directory == dir) names.insert(s.fileName);
  return names;
}

// A character the console can show: neither a C0 or C1 control nor DEL.
bool isPrintable(uint8_t c) {
  const char32_t cp = cp1252ToCodePoint(c);
  return cp >= 0x20 && cp != 0x7F && !(cp >= 0x80 && cp <= 0x9F);
}

TEST(SoundKitContents, EveryPrintableCharacterHasItsLetterAndPhoneticSound) {
  const std::set<std::string> letters = namesIn(KitDirectory::letters);
  int printable = 0;
  for (int c = 0; c < 256; ++c) {
    const auto code = static_cast<uint8_t>(c);
    EXPECT_EQ(hasLetterSound(code), isPrintable(code)) << c;
    EXPECT_EQ(letters.count("_" + std::to_string(c) + ".wav"), isPrintable(code) ? 1u : 0u) << c;
    EXPECT_EQ(letters.count("_FON" + std::to_string(c) + ".wav"),
              isPrintable(code) || c == 9 ? 1u : 0u)
        << c;
    printable += isPrintable(code);
  }
  EXPECT_EQ(printable, 218);  // 32..255 without DEL and the five undefined codes
  EXPECT_TRUE(letters.count("_unknown.wav"));
}

TEST(SoundKitContents, EveryNumberWordFileIsThere) {
  std::map<std::string, KitSoundKind> kinds;
  for (const KitSound& s : soundKitContents())
    if (s.directory == KitDirectory::letters) kinds[s.fileName] = s.kind;
  auto expectWords = [&kinds](const std::string& words) {
    for (bool feminine : {false, true})
      for (const std::string& name : numberWordFiles(words, feminine)) {
        ASSERT_TRUE(kinds.count(name)) << name << " of \"" << words << '"';
        EXPECT_EQ(kinds[name], KitSoundKind::numberWord) << name;
      }
  };
  for (int32_t n = 0; n <= 1100; ++n) expectWords(numberWords(n));
  for (int32_t n : {2000, 21000, 1000000, 2000000, 1000000000, 2000000000, INT32_MAX})
    expectWords(numberWords(n));
  expectWords("um trilh\xE3o dois trilh\xF5" "es");
  for (const NumberWordFile& f : allNumberWordFiles())
    EXPECT_EQ(kinds.count(f.fileName), 1u) << f.fileName;
}

TEST(SoundKitContents, NamesTheSignalDateAndTimeWordsAsTheCallersAskForThem) {
  const std::set<std::string> letters = namesIn(KitDirectory::letters);
  for (const char* name :
       {"_zero", "_e", "_MENOS", "_primeir", "_de", "_hora", "_horas", "_minuto", "_minutos",
        "_SEMBAT", "_SEMENER", "_DEL", "_BUSCAR", "_ACHEI", "_NAOACH", "_APFCPO", "_APICPO",
        "_CPOAPA", "_FALACI", "_FALDLG", "_VELOC", "_FON9", "_Domingo", "_Segunda", "_Terca",
        "_Quarta", "_Quinta", "_Sexta", "_Sabado"})
    EXPECT_TRUE(letters.count(std::string(name) + ".wav")) << name;
  // Months by the first seven letters of their names.
  for (const char* month : {"Janeiro", "Fevereiro", "Marco", "Abril", "Maio", "Junho", "Julho",
                            "Agosto", "Setembro", "Outubro", "Novembro", "Dezembro"})
    EXPECT_TRUE(letters.count("_" + std::string(month).substr(0, 7) + ".wav")) << month;
  EXPECT_TRUE(letters.count("_Feverei.wav"));
  EXPECT_TRUE(letters.count("_Setembr.wav"));

  // The dialler plays "dtmf_" + the key, the star key as X.
  for (char key : std::string_view("0123456789#*ABCD")) {
    const std::string name = std::string("dtmf_") + (key == '*' ? 'X' : key) + ".wav";
    EXPECT_EQ(dtmfSoundName(key), name);
    EXPECT_TRUE(letters.count(name)) << name;
  }
  EXPECT_EQ(namesIn(KitDirectory::program), (std::set<std::string>{"KLCLEK.wav", "KLMENU.wav"}));
}

TEST(SoundKitContents, NoFileIsMadeTwiceAndEveryOneHasSomethingToSay) {
  std::set<std::pair<KitDirectory, std::string>> seen;
  for (const KitSound& s : soundKitContents()) {
    EXPECT_TRUE(seen.emplace(s.directory, s.fileName).second) << "twice: " << s.fileName;
    EXPECT_TRUE(s.fileName.ends_with(".wav")) << s.fileName;
    if (s.kind == KitSoundKind::spoken || s.kind == KitSoundKind::numberWord ||
        s.kind == KitSoundKind::dtmf) {
      EXPECT_FALSE(s.text.empty()) << s.fileName;
    }
  }
}

TEST(SoundKitContents, DtmfFrequenciesAreTheTelephoneGrid) {
  EXPECT_EQ(dtmfFrequencies('1')->low, 697);
  EXPECT_EQ(dtmfFrequencies('1')->high, 1209);
  EXPECT_EQ(dtmfFrequencies('0')->low, 941);
  EXPECT_EQ(dtmfFrequencies('0')->high, 1336);
  EXPECT_EQ(dtmfFrequencies('*')->high, 1209);
  EXPECT_EQ(dtmfFrequencies('#')->high, 1477);
  EXPECT_EQ(dtmfFrequencies('C')->low, 852);
  EXPECT_EQ(dtmfFrequencies('D')->high, 1633);
  EXPECT_FALSE(dtmfFrequencies('E'));
  EXPECT_FALSE(dtmfFrequencies('\0'));
}

// ---- Trimming ----------------------------------------------------------------------

TEST(TrimSilence, KeepsShortMarginsAroundTheSound) {
  std::vector<uint8_t> samples;
  for (int i = 0; i < 1000; ++i) samples.push_back(i % 2 ? 127 : 129);  // near silence
  for (int i = 0; i < 500; ++i) samples.push_back(i % 2 ? 90 : 170);
  samples.insert(samples.end(), 2000, 128);

  const std::vector<uint8_t> trimmed = trimSilence(samples);
  ASSERT_FALSE(trimmed.empty());
  // 10 ms before and 30 ms after the loud part.
  EXPECT_EQ(trimmed.size(), 110u + 500u + 330u);
  EXPECT_EQ(trimmed[110], 170);
  EXPECT_EQ(trimmed[110 + 499], 90);
  EXPECT_EQ(trimmed.back(), 128);

  // Sound right at the edges keeps what there is.
  const std::vector<uint8_t> loud(300, 200);
  EXPECT_EQ(trimSilence(loud), loud);
  EXPECT_TRUE(trimSilence(std::vector<uint8_t>(5000, 128)).empty());
  EXPECT_TRUE(trimSilence({}).empty());
}

// ---- The generated kit -----------------------------------------------------------

std::vector<uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The power of one frequency in the samples (Goertzel).
double powerAt(std::span<const uint8_t> samples, double frequency) {
  const double k = 2 * std::cos(2 * std::numbers::pi * frequency / kKitSampleRate);
  double s1 = 0, s2 = 0;
  for (uint8_t b : samples) {
    const double s0 = (int(b) - 128) + k * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - k * s1 * s2;
}

class GeneratedKit : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/soundkit_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    report_ = writeSoundKit(fromUtf8((root_ / "letras").string()),
                            fromUtf8((root_ / "kalimbro").string()));
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  static fs::path pathOf(const KitSound& s) {
    return root_ / (s.directory == KitDirectory::letters ? "letras" : "kalimbro") / s.fileName;
  }
  // The data of a kit file after checking its canonical header.
  static std::vector<uint8_t> dataOf(const KitSound& s) {
    const std::vector<uint8_t> bytes = readFile(pathOf(s));
    if (bytes.size() < kWavHeaderBytes) return {};
    const uint32_t dataBytes = static_cast<uint32_t>(bytes.size() - kWavHeaderBytes);
    const auto header = makeWavHeader(dataBytes, kKitSampleRate, 1, 8);
    if (!std::equal(header.begin(), header.end(), bytes.begin())) return {};
    return {bytes.begin() + kWavHeaderBytes, bytes.end()};
  }
  static const KitSound& sound(std::string_view fileName) {
    static const std::vector<KitSound> kit = soundKitContents();
    for (const KitSound& s : kit)
      if (s.fileName == fileName) return s;
    ADD_FAILURE() << "no " << fileName;
    return kit.front();
  }

  static inline fs::path root_;
  static inline KitReport report_;
};

TEST_F(GeneratedKit, WritesExactlyTheKitsFiles) {
  ASSERT_TRUE(report_.ok) << report_.error;
  const std::vector<KitSound> kit = soundKitContents();
  EXPECT_EQ(report_.files, kit.size());
  std::set<fs::path> expected, found;
  uint64_t bytes = 0;
  for (const KitSound& s : kit) expected.insert(pathOf(s));
  for (const char* dir : {"letras", "kalimbro"})
    for (const auto& entry : fs::directory_iterator(root_ / dir)) {
      found.insert(entry.path());
      bytes += entry.file_size();
    }
  EXPECT_EQ(found, expected);
  EXPECT_EQ(report_.bytes, bytes);
}

TEST_F(GeneratedKit, EveryFileIsACanonicalLetterFormatWavWithSound) {
  ASSERT_TRUE(report_.ok) << report_.error;
  for (const KitSound& s : soundKitContents()) {
    const std::vector<uint8_t> bytes = readFile(pathOf(s));
    MemorySource source(bytes);
    WavLayout layout;
    ASSERT_EQ(walkWavHeader(source, layout), WavWalk::ok) << s.fileName;
    EXPECT_EQ(layout.format.formatTag, kWavFormatPcm) << s.fileName;
    EXPECT_EQ(layout.format.channels, 1) << s.fileName;
    EXPECT_EQ(layout.format.sampleRate, 11025u) << s.fileName;
    EXPECT_EQ(layout.format.bitsPerSample, 8) << s.fileName;
    EXPECT_EQ(layout.dataOffset, kWavHeaderBytes) << s.fileName;
    EXPECT_EQ(layout.dataBytes + kWavHeaderBytes, bytes.size()) << s.fileName;

    const std::vector<uint8_t> data = dataOf(s);
    ASSERT_FALSE(data.empty()) << s.fileName << ": not the canonical header";
    int peak = 0;
    for (uint8_t b : data) peak = std::max(peak, std::abs(int(b) - 128));
    EXPECT_GE(peak, 32) << s.fileName << " is nearly silent";
  }
}

TEST_F(GeneratedKit, WordsFitTheJoiningAreaAndStartAndEndPromptly) {
  ASSERT_TRUE(report_.ok) << report_.error;
  for (const KitSound& s : soundKitContents()) {
    if (s.kind != KitSoundKind::spoken && s.kind != KitSoundKind::numberWord) continue;
    const std::vector<uint8_t> data = dataOf(s);
    ASSERT_FALSE(data.empty()) << s.fileName;
    if (s.kind == KitSoundKind::numberWord) {
      EXPECT_LE(data.size(), kMaxNumberWordBytes) << s.fileName;
    }
    // Neither end holds more than a few hundredths of a second of silence.
    auto loud = [](uint8_t b) { return std::abs(int(b) - 128) >= 3; };
    const auto first = std::find_if(data.begin(), data.end(), loud);
    const auto last = std::find_if(data.rbegin(), data.rend(), loud);
    EXPECT_LE(first - data.begin(), 0.015 * kKitSampleRate) << s.fileName;
    EXPECT_LE(last - data.rbegin(), 0.035 * kKitSampleRate) << s.fileName;
  }
}

TEST_F(GeneratedKit, DtmfTonesHoldTheirTwoFrequencies) {
  ASSERT_TRUE(report_.ok) << report_.error;
  const int all[] = {697, 770, 852, 941, 1209, 1336, 1477, 1633};
  for (char key : std::string_view("0123456789*#ABCD")) {
    const std::vector<uint8_t> data = dataOf(sound(dtmfSoundName(key)));
    EXPECT_NEAR(double(data.size()) / kKitSampleRate, 0.15, 0.03) << key;
    const DtmfPair pair = *dtmfFrequencies(key);
    const double low = powerAt(data, pair.low), high = powerAt(data, pair.high);
    for (int f : all) {
      if (f == pair.low || f == pair.high) continue;
      EXPECT_GT(low, 50 * powerAt(data, f)) << key << " at " << f;
      EXPECT_GT(high, 50 * powerAt(data, f)) << key << " at " << f;
    }
  }
}

TEST_F(GeneratedKit, MenuJingleAndClickAreShort) {
  ASSERT_TRUE(report_.ok) << report_.error;
  const std::vector<uint8_t> jingle = dataOf(sound("KLMENU.wav"));
  EXPECT_GT(jingle.size(), 0.2 * kKitSampleRate);
  EXPECT_LT(jingle.size(), 1.0 * kKitSampleRate);
  const std::vector<uint8_t> click = dataOf(sound("KLCLEK.wav"));
  EXPECT_GT(click.size(), 0u);
  EXPECT_LT(click.size(), 0.05 * kKitSampleRate);
}

TEST_F(GeneratedKit, ALongNumberWordIsCutToTheJoiningArea) {
  ASSERT_TRUE(report_.ok) << report_.error;  // the voice is started
  const KitSound longWord{KitDirectory::letters, "_long.wav", KitSoundKind::numberWord,
                          "novecentos e noventa e nove mil e novecentos e noventa e nove"};
  const std::vector<uint8_t> samples = makeKitSound(longWord);
  ASSERT_EQ(samples.size(), kMaxNumberWordBytes);
  EXPECT_NEAR(int(samples.back()), 128, 1);  // faded out, not cut mid-wave
  KitSound spoken = longWord;
  spoken.kind = KitSoundKind::spoken;
  EXPECT_GT(makeKitSound(spoken).size(), kMaxNumberWordBytes);
}

TEST(WriteSoundKit, ReportsADirectoryItCannotMake) {
  char pattern[] = "/tmp/soundkit_test.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root(pattern);
  std::ofstream(root / "file") << "x";
  const KitReport report =
      writeKitSounds((root / "file" / "letras").string(), (root / "kalimbro").string(),
                     {{KitDirectory::program, "KLCLEK.wav", KitSoundKind::click, ""}});
  EXPECT_FALSE(report.ok);
  EXPECT_FALSE(report.error.empty());
  EXPECT_EQ(report.files, 0u);
  fs::remove_all(root);
}

}  // namespace
}  // namespace kalimbro
