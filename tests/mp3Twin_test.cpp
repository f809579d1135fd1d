#include "app/mp3Twin.h"

#include <gtest/gtest.h>

#include "tests/fakes/command_fixture.h"

namespace kalimbro {
namespace {

constexpr FileStamp kMp3{4096, 1700000000, 123456789};
constexpr FileStamp kOtherMp3{4096, 1690000000, 123456789};  // the same size, older
constexpr FileStamp kTwin{88244, 1700000100, 5};

TEST(Mp3TwinRecord, ReadsBackWhatItWritesAndNothingPartial) {
  for (const TwinRecord& record : {TwinRecord{.mp3 = kMp3, .twin = kTwin, .edited = true},
                                   TwinRecord{.mp3 = std::nullopt, .twin = kTwin, .edited = false}}) {
    const std::optional<TwinRecord> back = parseTwinRecord(formatTwinRecord(record));
    ASSERT_TRUE(back.has_value()) << formatTwinRecord(record);
    EXPECT_EQ(back->mp3, record.mp3);
    EXPECT_EQ(back->twin, record.twin);
    EXPECT_EQ(back->edited, record.edited);
  }
  const std::string whole = formatTwinRecord({.mp3 = kMp3, .twin = kTwin, .edited = true});
  // A record cut short (a full disk) or damaged is no record.
  EXPECT_FALSE(parseTwinRecord(whole.substr(0, whole.size() - 3)).has_value());
  EXPECT_FALSE(parseTwinRecord("").has_value());
  EXPECT_FALSE(parseTwinRecord("mp3 4096 x 1\nwav 1 2 3\neditado 1\n").has_value());
  EXPECT_FALSE(parseTwinRecord("mp3 -4096 1 2\nwav 1 2 3\neditado 0\n").has_value());  // no size is negative
  EXPECT_FALSE(parseTwinRecord("mp3 nenhum\nwav 1 2 3\neditado 2\n").has_value());
}

TEST(Mp3TwinUse, OpenedOnlyOverThatVeryMp3) {
  const TwinRecord edited{.mp3 = kMp3, .twin = kTwin, .edited = true};
  const TwinRecord decoded{.mp3 = kMp3, .twin = kTwin, .edited = false};
  EXPECT_EQ(twinUse(edited, kMp3, kTwin), TwinUse::open);
  // The same MP3 name with another file behind it.
  EXPECT_EQ(twinUse(edited, kOtherMp3, kTwin), TwinUse::setAside);
  EXPECT_EQ(twinUse(TwinRecord{.mp3 = std::nullopt, .twin = kTwin, .edited = true}, kMp3, kTwin),
            TwinUse::setAside);
  // A plain copy of the MP3 there is opened; of another MP3, decoded over.
  EXPECT_EQ(twinUse(decoded, kMp3, kTwin), TwinUse::open);
  EXPECT_EQ(twinUse(decoded, kOtherMp3, kTwin), TwinUse::decode);
  // A twin written since the program wrote it, or without a record (left
  // by an older version), holds something unknown.
  const FileStamp rewritten{kTwin.size, kTwin.seconds + 60, 0};
  EXPECT_EQ(twinUse(edited, kMp3, rewritten), TwinUse::setAside);
  EXPECT_EQ(twinUse(decoded, kMp3, rewritten), TwinUse::setAside);
  EXPECT_EQ(twinUse(std::nullopt, kMp3, kTwin), TwinUse::setAside);
}

class Mp3TwinOnDisk : public CommandTest {};

// At the end of its session only a copy decoded from the MP3 beside it, and
// written by no one since, goes: a twin written again after its record
// holds edits and stays.
TEST_F(Mp3TwinOnDisk, ATwinWrittenAgainSinceItsRecordStaysAndAnUnchangedCopyGoes) {
  const std::string mp3 = file("voz.mp3");
  const std::string twin = file("voz.mp3.wav");
  writeFileBytes(mp3, {1, 2, 3});
  const auto decode = [&] {
    writeFileBytes(twin, {4, 5});
    noteTwinDecoded(twin, fileStamp(mp3));
  };
  decode();
  writeFileBytes(twin, {4, 5, 6, 7});
  dropUneditedTwin(twin);
  EXPECT_TRUE(fileExists(twin)) << "written again since its record";

  decode();
  dropUneditedTwin(twin);
  EXPECT_FALSE(fileExists(twin));
  EXPECT_FALSE(readTwinRecord(twin).has_value());
  EXPECT_TRUE(fileExists(mp3));
}

}  // namespace
}  // namespace kalimbro
