// journal: an append-only file of records that survives a crash, kill -9 or
// a power cut at any moment. The edit history writes each change down here
// before it reports the change done, and reads the records back at the next
// start.
//
// The file is records one after another, nothing before the first:
//
//   offset 0      4 bytes   n, the record's length, little-endian (at most kJournalMaxRecord)
//   offset 4      n bytes   the record
//   offset 4 + n  4 bytes   CRC-32 (zlib's) of the 4 length bytes and the n record bytes, little-endian
//
// A record is whole when all three parts are there and the checksum matches.
// Reading stops at the first record that is not whole: what follows it is
// what a crash left half-written (or damage), and is never read as records.
// The checksum covers the length too, so that a stretch of zeros (a file
// the file system grew but whose data it lost) never reads as empty records.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/fd.h"

namespace kalimbro {

// Large sound data lives in files of its own; a record is small. The bound
// also keeps a damaged length from making the reader allocate gigabytes.
inline constexpr uint32_t kJournalMaxRecord = 64u << 20;

struct JournalContents {
  std::vector<std::vector<uint8_t>> records;  // every whole record, in order
  uint64_t wholeBytes = 0;                    // the bytes the whole records take from offset 0
  bool tornTail = false;                      // bytes follow the whole records
  // The bytes after the whole records are not one record that the file
  // ends inside (a write a crash cut short): whole records may be lost.
  bool damagedTail = false;
};

// Every whole record of the journal at `nativePath`; empty contents, not an
// error, when the file does not exist. Nothing when it cannot be read (no
// permission, a read error): a read error is never taken for a torn tail.
std::optional<JournalContents> readJournal(const std::string& nativePath);

// Appends records to one journal, each on the disk before `append` returns
// true. One writer at a time: the journal is locked while the writer lives.
class JournalWriter {
 public:
  // Opens the journal or creates it (mode 0600), reads it and cuts a torn
  // tail off, so that new records follow the whole ones. False when it
  // cannot be opened, read, locked (another writer has it) or cut.
  bool open(const std::string& nativePath);
  // False when the record is longer than kJournalMaxRecord, the writer is
  // not open, or writing or flushing fails; a failed append leaves the
  // journal cut back to its last whole record. When even that cut fails the
  // writer refuses every later append, as the end of the file is unknown.
  bool append(std::span<const uint8_t> record);
  // The records the journal had when it was opened; tornTail says a torn
  // tail was cut off then.
  const JournalContents& contentsAtOpen() const { return atOpen_; }
  // Where the next record goes: its bytes start 4 bytes further on.
  uint64_t end() const { return end_; }

 private:
  UniqueFd fd_;
  uint64_t end_ = 0;  // where the next record goes: just after the last whole one
  bool broken_ = false;
  JournalContents atOpen_;
};

}  // namespace kalimbro
