#include "edit/kldivide.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <set>

#include "console/VrCrt.h"
#include "formats/soundFiles.h"
#include "platform/paths.h"
#include "platform/wav_header.h"
#include "tests/fakes/command_fixture.h"
#include "tests/fakes/key_script.h"
#include "tests/fakes/replace_faults.h"

namespace kalimbro {
namespace {

constexpr uint64_t kBps = 8000;  // 8000 Hz, 8 bits, mono

TEST(DivisionPlan, EqualPartsAndAShortLastOne) {
  const auto parts = divisionPlan(25 * kBps, kBps, 10);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].offset, 0u);
  EXPECT_EQ(parts[0].length, 10 * kBps);
  EXPECT_EQ(parts[1].offset, 10 * kBps);
  EXPECT_EQ(parts[2].offset, 20 * kBps);
  EXPECT_EQ(parts[2].length, 5 * kBps);

  // Data that is not whole seconds: parts as long as all its whole seconds
  // leave the last half second to a part of its own.
  const auto halves = divisionPlan(25 * kBps + kBps / 2, kBps, 25);
  ASSERT_EQ(halves.size(), 2u);
  EXPECT_EQ(halves[1].offset, 25 * kBps);
  EXPECT_EQ(halves[1].length, kBps / 2);
}

TEST(DivisionPlan, APartLongerThanTheDataHoldsAllOfIt) {
  for (const int64_t seconds : {int64_t{26}, int64_t{1} << 40, std::numeric_limits<int64_t>::max()}) {
    const auto parts = divisionPlan(25 * kBps, 4'000'000'000u, seconds);
    ASSERT_EQ(parts.size(), 1u) << seconds;
    EXPECT_EQ(parts[0].length, 25 * kBps);
  }
  EXPECT_TRUE(divisionPlan(0, kBps, 10).empty());
  EXPECT_TRUE(divisionPlan(100, 0, 10).empty());
}

TEST(ExtractionSpan, HeldWithinTheData) {
  const uint64_t data = 25 * kBps;
  EXPECT_EQ(extractionSpan(data, kBps, 20, 99).offset, 20 * kBps);
  EXPECT_EQ(extractionSpan(data, kBps, 20, 99).length, 5 * kBps);
  EXPECT_EQ(extractionSpan(data, kBps, 5, 5).length, 0u);
  EXPECT_EQ(extractionSpan(data, kBps, 30, 40).length, 0u);  // starts past the data
  EXPECT_EQ(extractionSpan(data, kBps, 0, std::numeric_limits<int64_t>::max()).length, data);

  // The last half second of data that is not whole seconds.
  const uint64_t halves = 25 * kBps + kBps / 2;
  for (const int64_t end : {int64_t{26}, int64_t{99}}) {
    EXPECT_EQ(extractionSpan(halves, kBps, 25, end).offset, 25 * kBps) << end;
    EXPECT_EQ(extractionSpan(halves, kBps, 25, end).length, kBps / 2) << end;
  }
  EXPECT_EQ(extractionSpan(halves, kBps, 24, 25).length, kBps);
}

// ---------------------------------------------------------------- the command

class Divide : public CommandTest {
 protected:
  // A source of `seconds` of 8-bit mono 8000 Hz whose bytes count up;
  // the header may claim more data than the file holds.
  void makeSource(const std::string& name, uint32_t seconds, uint32_t claimedSeconds = 0) {
    const uint32_t bytes = seconds * kBps;
    const auto header = makeWavHeader((claimedSeconds ? claimedSeconds : seconds) * kBps, 8000, 1, 8);
    std::vector<uint8_t> all(header.begin(), header.end());
    for (uint32_t i = 0; i < bytes; ++i) all.push_back(static_cast<uint8_t>(i * 7));
    writeFileBytes(name, all);
    source = all;
  }
  void divide(std::string_view keys) {
    KeyScript script;
    script.type(keys);
    divideCommand();
    EXPECT_EQ(script.remaining(), 0u);
  }
  // The part file must hold its header and these bytes of the source's data.
  void expectPart(const std::string& name, uint64_t offset, uint64_t length) {
    const auto bytes = readFileBytes(name);
    ASSERT_EQ(bytes.size(), 44 + length) << name;
    EXPECT_EQ(readLe32(bytes.data() + 40), length) << name;
    EXPECT_EQ(readLe32(bytes.data() + 24), 8000u);
    EXPECT_EQ(readLe16(bytes.data() + 34), 8u);
    EXPECT_TRUE(std::equal(bytes.begin() + 44, bytes.end(), source.begin() + 44 + static_cast<long>(offset)))
        << name;
  }
  std::vector<uint8_t> source;
};

TEST_F(Divide, TwentyFiveSecondsInTenSecondParts) {
  makeSource(file("fala.wav"), 25);
  divide(file("fala") + "\rs10\r" + file("parte") + "\r");
  expectPart(file("parte1.wav"), 0, 10 * kBps);
  expectPart(file("parte2.wav"), 10 * kBps, 10 * kBps);
  expectPart(file("parte3.wav"), 20 * kBps, 5 * kBps);
  EXPECT_TRUE(shown("Arquivo foi dividido."));
  EXPECT_TRUE(shown("N\xFAmero de partes: 3"));
}

TEST_F(Divide, SecondsTypedOutOfTheOrdinary) {
  makeSource(file("fala.wav"), 3);
  divide(file("fala.wav") + "\r\r9000000000000000000\r" + file("p") + "\r");
  expectPart(file("p1.wav"), 0, 3 * kBps);
  EXPECT_TRUE(shown("N\xFAmero de partes: 1"));

  // A negative length gives parts of one second.
  clearScreen();
  divide(file("fala.wav") + "\r\r-5\r" + file("n") + "\r");
  for (uint64_t i = 0; i < 3; ++i) expectPart(file("n" + std::to_string(i + 1) + ".wav"), i * kBps, kBps);
  EXPECT_FALSE(fileExists(file("n4.wav")));
  EXPECT_TRUE(shown("N\xFAmero de partes: 3"));

  // What follows the leading digits is not read: "2,5" is 2 seconds.
  clearScreen();
  divide(file("fala.wav") + "\r\r2,5\r" + file("d") + "\r");
  expectPart(file("d1.wav"), 0, 2 * kBps);
  expectPart(file("d2.wav"), 2 * kBps, kBps);
  EXPECT_FALSE(fileExists(file("d3.wav")));
  EXPECT_TRUE(shown("N\xFAmero de partes: 2"));
}

TEST_F(Divide, ASourceOfAnotherKindIsDividedIntoWavParts) {
  makeSource(file("fala.wav"), 3);
  TAmostras sound;
  ASSERT_TRUE(sound.loadWav(file("fala.wav")));
  ASSERT_TRUE(saveSound(file("fala.flac"), sound, newFileFormat(SoundKind::flac, 8)));
  const auto entriesInTemp = [] {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(tempDirectory())) names.insert(e.path().filename());
    return names;
  };
  const std::set<std::string> before = entriesInTemp();
  divide(file("fala.flac") + "\rs2\r" + file("f") + "\r");
  expectPart(file("f1.wav"), 0, 2 * kBps);
  expectPart(file("f2.wav"), 2 * kBps, kBps);
  EXPECT_TRUE(shown("N\xFAmero de partes: 2"));
  EXPECT_EQ(entriesInTemp(), before) << "the WAV copy it was divided from stays";
}

TEST_F(Divide, ATruncatedSourceStopsWithTheLastHeaderTellingTheTruth) {
  makeSource(file("curto.wav"), 7, 25);
  divide(file("curto.wav") + "\rs3\r" + file("c") + "\r");
  expectPart(file("c1.wav"), 0, 3 * kBps);
  expectPart(file("c2.wav"), 3 * kBps, 3 * kBps);
  expectPart(file("c3.wav"), 6 * kBps, 1 * kBps);
  EXPECT_FALSE(fileExists(file("c4.wav")));
}

TEST_F(Divide, ExtractionWithAnEndBeyondTheFile) {
  makeSource(file("fala.wav"), 25);
  divide(file("fala.wav") + "\rn20\r99\r" + file("trecho") + "\r");
  expectPart(file("trecho.wav"), 20 * kBps, 5 * kBps);
  EXPECT_TRUE(shown("Trecho do arquivo foi extraido."));
}

TEST_F(Divide, ExtractionWithAnEndBeforeTheStartOrAStartPastTheEndIsEmpty) {
  makeSource(file("fala.wav"), 25);
  divide(file("fala.wav") + "\rN10\r4\r" + file("vazio.wav") + "\r");
  expectPart(file("vazio.wav"), 0, 0);
  divide(file("fala.wav") + "\rn40\r50\r" + file("alem.wav") + "\r");
  expectPart(file("alem.wav"), 0, 0);
}

TEST_F(Divide, AnExistingFileIsReplacedOnlyWhenTheUserSaysSo) {
  makeSource(file("fala.wav"), 25);
  const std::vector<uint8_t> whole = readFileBytes(file("fala.wav"));
  divide(file("fala.wav") + "\rn2\r4\r" + file("fala.wav") + "\rn");
  EXPECT_TRUE(shown("O arquivo " + file("fala.wav") + " j\xE1 existe. Substituo? n"));
  EXPECT_TRUE(shown("Desistiu..."));
  EXPECT_EQ(readFileBytes(file("fala.wav")), whole);
  // Extracted over the source itself, the stretch is kept.
  divide(file("fala.wav") + "\rn2\r4\r" + file("fala.wav") + "\rs");
  expectPart(file("fala.wav"), 2 * kBps, 2 * kBps);

  // A division asks once, naming the first part that exists, and writes
  // no part when given up.
  makeSource(file("fala.wav"), 25);
  writeFileBytes(file("p2.wav"), {7});
  writeFileBytes(file("p3.wav"), {8});
  clearScreen();
  divide(file("fala.wav") + "\rs10\r" + file("p") + "\r\x1B");
  EXPECT_TRUE(shown("O arquivo " + file("p2.wav") + " j\xE1 existe. Substituo?"));
  EXPECT_FALSE(fileExists(file("p1.wav")));
  EXPECT_EQ(readFileBytes(file("p3.wav")), (std::vector<uint8_t>{8}));
  divide(file("fala.wav") + "\rs10\r" + file("p") + "\rs");
  expectPart(file("p3.wav"), 20 * kBps, 5 * kBps);
}

// A disk that refuses a step of a part's writing: the user hears it, the
// file of that name stays as it was, and a division stops there.
TEST_F(Divide, ARefusedWriteIsToldAndKeepsWhatWasThere) {
  makeSource(file("fala.wav"), 5);
  writeFileBytes(file("trecho.wav"), {1, 2, 3});
  const ReplaceFaultRuns runs = expectFailedSavesChangeNothing({dir()}, [&] {
    clearScreen();
    divide(file("fala.wav") + "\rn1\r2\r" + file("trecho.wav") + "\rs");
    const bool extracted = shown("Trecho do arquivo foi extraido.");
    EXPECT_NE(extracted, shown("Erro de grava\xE7\xE3o"));
    return extracted;
  });
  EXPECT_EQ(runs.flushes, 1);
  EXPECT_EQ(runs.renames, 1);
  expectPart(file("trecho.wav"), 1 * kBps, 1 * kBps);

  writeFileBytes(file("parte2.wav"), {4, 5});
  {
    const ReplaceFault secondPart(ReplaceStep::rename, 2);
    clearScreen();
    divide(file("fala.wav") + "\rs2\r" + file("parte") + "\rs");
    EXPECT_TRUE(secondPart.hit());
  }
  EXPECT_TRUE(shown("Erro de grava\xE7\xE3o"));
  EXPECT_FALSE(shown("Arquivo foi dividido."));
  expectPart(file("parte1.wav"), 0, 2 * kBps);
  EXPECT_EQ(readFileBytes(file("parte2.wav")), (std::vector<uint8_t>{4, 5}));
  EXPECT_FALSE(fileExists(file("parte3.wav")));
}

TEST_F(Divide, TheChosenNamesStandOnLinesOfTheirOwn) {
  makeSource(file("fala.wav"), 5);
  divide(file("fala.wav") + "\rn1\r2\r" + file("trecho.wav") + "\r");
  ASSERT_TRUE(shown("Trecho do arquivo foi extraido."));
  // Under each typed name, the name again, whole, from the first column.
  EXPECT_TRUE(shown("\n" + file("fala.wav") + "\n" + file("fala.wav") + "\n")) << screenText();
  EXPECT_TRUE(shown("\n" + file("trecho.wav") + "\n" + file("trecho.wav") + "\n")) << screenText();
}

TEST_F(Divide, RefusalsAndGivingUp) {
  makeSource(file("fala.wav"), 5);
  divide(file("x.mp3") + "\r");
  EXPECT_TRUE(shown("N\xE2o posso dividir arquivos MP3, apenas WAV"));
  divide(file("nada") + "\r");
  EXPECT_TRUE(shown("Arquivo n\xE3o encontrado"));
  writeFileBytes(file("texto.wav"), {'o', 'l', 'a'});
  divide(file("texto.wav") + "\r");
  EXPECT_TRUE(shown("Arquivo incompat\xEDvel com este programa"));
  divide(file("fala.wav") + "\r\x1B");
  EXPECT_EQ(occurrences("Desistiu..."), 1);
  divide(file("fala.wav") + "\rs0\r");
  divide(file("fala.wav") + "\rn1\r2\r" + file("d.mp3") + "\r");
  divide(file("fala.wav") + "\rn1\r2\r\r");
  divide("\r");
  EXPECT_TRUE(shown("Desistiu..."));
  // Nothing was written but the source.
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir())) ++files;
  EXPECT_EQ(files, 2);
}

}  // namespace
}  // namespace kalimbro
