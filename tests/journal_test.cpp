#include "platform/journal.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fakes/recording_disk.h"
#include "tests/fakes/temp_config.h"

namespace kalimbro {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A record framed as the journal lays it down: the length, the bytes, and
// zlib's CRC-32 of both, the numbers little-endian.
Bytes frameOf(const Bytes& record) {
  Bytes frame;
  const auto putLe32 = [&frame](uint32_t value) {
    for (int i = 0; i < 4; ++i) frame.push_back(uint8_t(value >> (8 * i)));
  };
  putLe32(uint32_t(record.size()));
  frame.insert(frame.end(), record.begin(), record.end());
  putLe32(uint32_t(crc32(0L, frame.data(), uInt(frame.size()))));
  return frame;
}

class JournalTest : public ::testing::Test {
 protected:
  Bytes fileBytes() const {
    std::ifstream in(path_, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void setFileBytes(const Bytes& bytes) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  std::vector<Bytes> records() const {
    const std::optional<JournalContents> contents = readJournal(path_);
    EXPECT_TRUE(contents.has_value());
    return contents ? contents->records : std::vector<Bytes>{};
  }
  // A journal with `texts` as its records; the bytes the records before the
  // last one take.
  uint64_t writeRecords(const std::vector<std::string>& texts) const {
    JournalWriter writer;
    EXPECT_TRUE(writer.open(path_));
    uint64_t beforeLast = 0;
    for (const std::string& text : texts) {
      beforeLast = std::filesystem::file_size(path_);
      EXPECT_TRUE(writer.append(bytesOf(text)));
    }
    return beforeLast;
  }
  TempConfigHome home;  // only for its temporary directory
  const std::string path_ = home.path() + "/diario";
};

TEST_F(JournalTest, RecordsComeBackInOrderAfterReopening) {
  const std::optional<JournalContents> none = readJournal(path_);
  ASSERT_TRUE(none.has_value()) << "a journal not yet written is not an error";
  EXPECT_TRUE(none->records.empty());

  const Bytes large(300000, 0xA5);
  std::vector<Bytes> written = {bytesOf("remove 100 200"), {}, large, bytesOf("mix")};
  {
    JournalWriter writer;
    ASSERT_TRUE(writer.open(path_));
    for (const Bytes& record : written) ASSERT_TRUE(writer.append(record));
    JournalWriter second;
    EXPECT_FALSE(second.open(path_)) << "two writers would interleave their records";
  }
  struct stat st {};
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(records(), written);
  // The bytes are the format a journal left by an earlier run was written in.
  Bytes framed;
  for (const Bytes& record : written) std::ranges::copy(frameOf(record), std::back_inserter(framed));
  EXPECT_EQ(fileBytes(), framed);

  JournalWriter writer;
  ASSERT_TRUE(writer.open(path_));
  EXPECT_EQ(writer.contentsAtOpen().records, written);
  EXPECT_FALSE(writer.contentsAtOpen().tornTail);
  ASSERT_TRUE(writer.append(bytesOf("effect")));
  written.push_back(bytesOf("effect"));
  EXPECT_EQ(records(), written);

  // A journal that cannot be read is not an empty one, or a writer would
  // start it again over the records it holds.
  std::filesystem::create_directory(home.path() + "/pasta");
  EXPECT_FALSE(readJournal(home.path() + "/pasta").has_value());
  EXPECT_FALSE(JournalWriter().open(home.path() + "/pasta"));
}

TEST_F(JournalTest, TornTailAtEveryOffsetReadsAsTheWholeRecordsAndIsCutBeforeAppending) {
  const uint64_t whole = writeRecords({"first", "second", "the last one"});
  const Bytes full = fileBytes();
  for (size_t length = whole; length < full.size(); ++length) {
    SCOPED_TRACE("torn at " + std::to_string(length));
    setFileBytes(Bytes(full.begin(), full.begin() + std::ptrdiff_t(length)));
    const std::optional<JournalContents> torn = readJournal(path_);
    ASSERT_TRUE(torn.has_value());
    EXPECT_EQ(torn->records, (std::vector<Bytes>{bytesOf("first"), bytesOf("second")}));
    EXPECT_EQ(torn->wholeBytes, whole);
    EXPECT_EQ(torn->tornTail, length > whole);
    EXPECT_FALSE(torn->damagedTail) << "a write cut short loses no whole record";

    JournalWriter writer;
    ASSERT_TRUE(writer.open(path_));
    EXPECT_EQ(writer.contentsAtOpen().tornTail, length > whole);
    ASSERT_TRUE(writer.append(bytesOf("new")));
    const std::optional<JournalContents> after = readJournal(path_);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->records, (std::vector<Bytes>{bytesOf("first"), bytesOf("second"), bytesOf("new")}));
    EXPECT_FALSE(after->tornTail);
  }
  // A torn tail the disk will not cut, or whose cut it will not sync: the
  // journal does not open, so nothing is ever appended after torn bytes.
  for (const DiskCall refused : {DiskCall::truncate, DiskCall::syncData}) {
    setFileBytes(Bytes(full.begin(), full.end() - 1));
    RecordingDisk disk;
    disk.failCall(1, EIO, [refused](const DiskCallSeen& c) { return c.kind == refused; });
    JournalWriter writer;
    EXPECT_FALSE(writer.open(path_));
    EXPECT_TRUE(disk.hit());
  }
}

TEST_F(JournalTest, DamageEndsTheReadingThere) {
  const uint64_t second = writeRecords({"first", "second"});
  writeRecords({"third"});
  const Bytes full = fileBytes();
  const uint64_t third = second + 8 + 6;
  // Any byte of the second record: its length, its bytes, its checksum.
  for (uint64_t at = second; at < third; ++at) {
    SCOPED_TRACE("flipped at " + std::to_string(at));
    Bytes damaged = full;
    damaged[at] ^= 0x10;
    setFileBytes(damaged);
    const std::optional<JournalContents> contents = readJournal(path_);
    ASSERT_TRUE(contents.has_value());
    EXPECT_EQ(contents->records, std::vector<Bytes>{bytesOf("first")});
    EXPECT_EQ(contents->wholeBytes, second);
    EXPECT_TRUE(contents->tornTail);
    // A damaged length may point past the end, as a write cut short does.
    if (at >= second + 4) {
      EXPECT_TRUE(contents->damagedTail);
    }
  }

  // Zeros where the file system lost the data are not empty records.
  Bytes zeros(full.begin(), full.begin() + std::ptrdiff_t(second));
  zeros.resize(zeros.size() + 64, 0);
  setFileBytes(zeros);
  EXPECT_EQ(records(), std::vector<Bytes>{bytesOf("first")});
  EXPECT_TRUE(readJournal(path_)->damagedTail);

  // A length over the bound is refused even when the file holds that many
  // bytes with a matching checksum (a sparse file: nothing on the disk).
  const uint32_t tooLong = kJournalMaxRecord + 1;
  const uint8_t lengthBytes[4] = {uint8_t(tooLong), uint8_t(tooLong >> 8), uint8_t(tooLong >> 16),
                                  uint8_t(tooLong >> 24)};
  uLong crc = crc32(0L, lengthBytes, 4);
  const Bytes chunk(1 << 20, 0);
  for (uint32_t left = tooLong; left > 0;) {
    const uint32_t now = std::min<uint32_t>(left, uint32_t(chunk.size()));
    crc = crc32(crc, chunk.data(), now);
    left -= now;
  }
  setFileBytes(Bytes(lengthBytes, lengthBytes + 4));
  std::filesystem::resize_file(path_, 4 + uint64_t(tooLong));
  {
    std::ofstream out(path_, std::ios::binary | std::ios::app);
    for (int i = 0; i < 4; ++i) out.put(char(uint8_t(crc >> (8 * i))));
  }
  const std::optional<JournalContents> huge = readJournal(path_);
  ASSERT_TRUE(huge.has_value());
  EXPECT_TRUE(huge->records.empty());
  EXPECT_TRUE(huge->tornTail);
  EXPECT_TRUE(huge->damagedTail);

  // A writer does not write what a reader would refuse.
  std::filesystem::remove(path_);
  JournalWriter writer;
  ASSERT_TRUE(writer.open(path_));
  EXPECT_FALSE(writer.append(Bytes(tooLong, 1)));
  EXPECT_EQ(std::filesystem::file_size(path_), 0u);
}

TEST_F(JournalTest, FailedAppendLeavesTheJournalAsItWas) {
  // A disk that fills up in the middle of a record.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    JournalWriter writer;
    if (!writer.open(path_) || !writer.append(bytesOf("kept")) || !writer.append(bytesOf("also kept"))) _exit(2);
    const auto size = rlim_t(std::filesystem::file_size(path_));
    const rlimit limit{size + 100, size + 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    if (writer.append(Bytes(1000, 7))) _exit(3);  // reported as written
    _exit(writer.append(bytesOf("after")) ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  const std::optional<JournalContents> contents = readJournal(path_);
  ASSERT_TRUE(contents.has_value());
  EXPECT_EQ(contents->records, (std::vector<Bytes>{bytesOf("kept"), bytesOf("also kept"), bytesOf("after")}));
  EXPECT_FALSE(contents->tornTail) << "the half-written record was left behind";
}

// A record is on the disk before append reports it written, and a new
// journal's name with it. A disk that refuses any one call of an append,
// or every call from one on, makes it report failure, and the journal
// still holds the records it had, whole, with nothing after them.
TEST_F(JournalTest, AnAppendIsSyncedBeforeItSucceedsAndNoRefusedCallLosesARecord) {
  RecordingDisk disk;
  std::vector<Bytes> kept = {bytesOf("first")};
  {
    JournalWriter writer;
    errno = EEXIST;  // left by a call before, such as making a folder that was there
    ASSERT_TRUE(writer.open(path_));
    EXPECT_TRUE(disk.folderSynced(home.path())) << "the new journal's name";
    ASSERT_TRUE(writer.append(kept[0]));
    EXPECT_EQ(disk.unsyncedFiles(), std::vector<std::string>{});
  }
  for (const bool onwards : {false, true}) {
    for (const int error : {EIO, ENOSPC}) {
      int refused = 0;
      for (int nth = 1;; ++nth) {
        SCOPED_TRACE("call " + std::to_string(nth) + (onwards ? " on" : "") + ", errno " + std::to_string(error));
        JournalWriter writer;
        ASSERT_TRUE(writer.open(path_));
        disk.failCall(nth, error, {}, onwards);
        const bool appended = writer.append(bytesOf("next record"));
        if (!disk.hit()) {
          ASSERT_TRUE(appended);
          EXPECT_EQ(disk.unsyncedFiles(), std::vector<std::string>{}) << "reported written before it was synced";
          kept.push_back(bytesOf("next record"));
          break;
        }
        ++refused;
        EXPECT_FALSE(appended);
        disk.failCall(0);
        // A writer that could not cut its end back refuses to go on: the
        // record refused may be there, whole, or not.
        if (writer.append(bytesOf("then"))) kept.push_back(bytesOf("then"));
        const std::optional<JournalContents> found = readJournal(path_);
        ASSERT_TRUE(found.has_value());
        if (found->records.size() == kept.size() + 1 && found->records.back() == bytesOf("next record"))
          kept.push_back(found->records.back());
        EXPECT_EQ(found->records, kept);
        EXPECT_FALSE(found->tornTail);
      }
      EXPECT_EQ(refused, 2) << "the write and the sync";
    }
  }
}

}  // namespace
}  // namespace kalimbro
