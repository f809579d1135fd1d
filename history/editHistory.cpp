// The edit history: its records, its files, and the steps moved back and
// forth.
#include "history/editHistory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <bit>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>

#include "platform/clock.h"
#include "platform/codec.h"
#include "platform/disk.h"
#include "platform/file_replacer.h"

namespace kalimbro {
namespace {

namespace fs = std::filesystem;

// The files hold 16-bit values in the machine's own order: they never
// leave it.
static_assert(std::endian::native == std::endian::little);

constexpr std::string_view kJournalFile = "diario";
constexpr std::string_view kLockFile = "em-uso";

// What each journal record is, in its first byte.
enum class Kind : uint8_t {
  origin = 'O',  // a new history: the sound as it is, and whether it is a saved file
  step = 'P',          // a step as journals kept it before the checksums
  checkedStep = 'Q',   // a step with the checksums of its frames
  undo = 'U',
  redo = 'R',
  saved = 'S',
  dropped = 'D',  // the oldest step is gone
};

class RecordOut {
 public:
  explicit RecordOut(Kind kind) { u8(static_cast<uint8_t>(kind)); }
  void u8(uint8_t v) { bytes_.push_back(v); }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) u8(static_cast<uint8_t>(v >> (8 * i)));
  }
  void i64(int64_t v) {
    for (int i = 0; i < 8; ++i) u8(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
  }
  void text(std::string_view s) {
    u32(static_cast<uint32_t>(s.size()));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
  }
  void shape(const SoundShape& s) {
    u32(static_cast<uint32_t>(s.channels));
    u32(static_cast<uint32_t>(s.sampleRate));
    u32(static_cast<uint32_t>(s.bitsPerSample));
  }
  void place(const SoundPlace& p) {
    u32(static_cast<uint32_t>(p.cursor));
    u32(static_cast<uint32_t>(p.mark));
  }
  void stamp(const FileStamp& f) {
    i64(static_cast<int64_t>(f.size));
    i64(f.seconds);
    i64(f.nanoseconds);
  }
  void values(std::span<const int16_t> v) {
    const auto* p = reinterpret_cast<const uint8_t*>(v.data());
    bytes_.insert(bytes_.end(), p, p + v.size_bytes());
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Reads a record; any read past its end leaves ok() false.
class RecordIn {
 public:
  explicit RecordIn(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  bool atEnd() const { return at_ == bytes_.size(); }
  size_t at() const { return at_; }
  size_t size() const { return bytes_.size(); }
  // The rest is values that the fields point into.
  void skipRest() { at_ = bytes_.size(); }
  void seek(size_t at) { at_ = std::min(at, bytes_.size()); }
  uint8_t u8() {
    if (at_ >= bytes_.size()) {
      ok_ = false;
      return 0;
    }
    return bytes_[at_++];
  }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(u8()) << (8 * i);
    return v;
  }
  int64_t i64() {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(u8()) << (8 * i);
    return static_cast<int64_t>(v);
  }
  std::string text() {
    const uint32_t n = u32();
    if (!ok_ || n > bytes_.size() - at_) {
      ok_ = false;
      return {};
    }
    std::string s(bytes_.begin() + static_cast<ptrdiff_t>(at_), bytes_.begin() + static_cast<ptrdiff_t>(at_ + n));
    at_ += n;
    return s;
  }
  SoundShape shape() {
    SoundShape s;
    s.channels = static_cast<int32_t>(u32());
    s.sampleRate = static_cast<int32_t>(u32());
    s.bitsPerSample = static_cast<int32_t>(u32());
    return s;
  }
  SoundPlace place() {
    SoundPlace p;
    p.cursor = static_cast<int32_t>(u32());
    p.mark = static_cast<int32_t>(u32());
    return p;
  }
  FileStamp stamp() {
    FileStamp f;
    f.size = static_cast<uint64_t>(i64());
    f.seconds = i64();
    f.nanoseconds = i64();
    return f;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
  bool ok_ = true;
};

SoundShape shapeOf(const TAmostras& sound) { return {sound.channels(), sound.sampleRate(), sound.bitsPerSample()}; }

int64_t now() { return static_cast<int64_t>(std::time(nullptr)); }

// zlib's CRC-32 of the values' bytes, going on from `crc`.
uint32_t checksumOf(std::span<const int16_t> values, uint32_t crc = 0) {
  return static_cast<uint32_t>(crc32_z(crc, reinterpret_cast<const Bytef*>(values.data()), values.size_bytes()));
}

// A piece of at most this many bytes goes into the journal record.
constexpr int64_t kInJournalBytes = int64_t{1} << 20;

// The step's record; the values of its pieces kept in the journal follow
// the fields, each piece's `skip` then counting from the record's start.
// Beside a step record of old, it holds the checksum of the frames after,
// after the places, and each piece's checksum, at the end of its entry.
RecordOut stepRecord(const HistoryStep& step, std::span<const std::vector<int16_t>> pieceValues) {
  RecordOut r(Kind::checkedStep);
  r.u32(step.number);
  r.i64(step.when);
  r.text(step.name);
  r.i64(step.start);
  r.i64(step.oldLength);
  r.i64(step.newLength);
  r.shape(step.before);
  r.shape(step.after);
  r.place(step.placeBefore);
  r.place(step.placeAfter);
  r.u32(step.afterChecksum.value_or(0));
  r.u32(static_cast<uint32_t>(step.oldPieces.size()));
  // Where the values go: after the fields, whose size is known now.
  constexpr int64_t kPieceEntry = 24;
  int64_t at = static_cast<int64_t>(r.bytes().size()) + kPieceEntry * static_cast<int64_t>(step.oldPieces.size());
  for (size_t i = 0; i < step.oldPieces.size(); ++i) {
    const HistoryStep::Piece& piece = step.oldPieces[i];
    r.u32(piece.file);
    r.i64(piece.frames);
    r.i64(piece.file == HistoryStep::kInJournal ? at : piece.skip);
    r.u32(piece.checksum.value_or(0));
    if (piece.file == HistoryStep::kInJournal) at += static_cast<int64_t>(pieceValues[i].size() * sizeof(int16_t));
  }
  for (const std::vector<int16_t>& values : pieceValues) r.values(values);
  // Journals written before markers were kept end here; so does a step
  // that removed none.
  if (!step.removedMarkers.empty()) {
    r.u32(static_cast<uint32_t>(step.removedMarkers.size()));
    for (const SoundMarker& m : step.removedMarkers) {
      r.u32(m.number);
      r.i64(m.frame);
    }
    // Their names follow, in the same order; journals written before
    // markers had names end before them.
    for (const SoundMarker& m : step.removedMarkers) r.text(m.name);
  }
  return r;
}

// `recordAt`: where the record's bytes start in the journal; `checked`: the
// record holds checksums.
std::optional<HistoryStep> readStep(RecordIn& in, uint64_t recordAt, bool checked) {
  HistoryStep step;
  step.number = in.u32();
  step.when = in.i64();
  step.name = in.text();
  step.start = in.i64();
  step.oldLength = in.i64();
  step.newLength = in.i64();
  step.before = in.shape();
  step.after = in.shape();
  step.placeBefore = in.place();
  step.placeAfter = in.place();
  if (checked) step.afterChecksum = in.u32();
  // A sound holds at most 2^31 - 1 frames, a file of them at most 2^31 - 1
  // stereo frames after a header.
  constexpr int64_t kMost = std::numeric_limits<int32_t>::max();
  const auto inSound = [](int64_t v) { return v >= 0 && v <= kMost; };
  const uint32_t pieces = in.u32();
  int64_t frames = 0;
  for (uint32_t i = 0; i < pieces && in.ok(); ++i) {
    HistoryStep::Piece piece;
    piece.file = in.u32();
    piece.frames = in.i64();
    piece.skip = in.i64();
    if (checked) piece.checksum = in.u32();
    if (piece.frames == 0 || !inSound(piece.frames) || piece.skip < 0 || piece.skip > 4 * kMost) return std::nullopt;
    if (piece.file == HistoryStep::kInJournal) {
      // Its values lie after the fields, inside the record.
      const int64_t bytes = piece.frames * step.before.channels * static_cast<int64_t>(sizeof(int16_t));
      if (step.before.channels < 1 || step.before.channels > 2 || bytes > static_cast<int64_t>(in.size()) ||
          piece.skip > static_cast<int64_t>(in.size()) - bytes)
        return std::nullopt;
      piece.skip += static_cast<int64_t>(recordAt);
    }
    frames += piece.frames;
    if (frames > kMost) return std::nullopt;
    step.oldPieces.push_back(piece);
  }
  const auto shapeMakesSense = [](const SoundShape& s) {
    return (s.channels == 1 || s.channels == 2) && s.sampleRate > 0;
  };
  if (!in.ok() || !inSound(step.start) || !inSound(step.oldLength) || !inSound(step.newLength) ||
      frames != step.oldLength || !shapeMakesSense(step.before) || !shapeMakesSense(step.after))
    return std::nullopt;
  size_t valuesEnd = in.at();
  for (const HistoryStep::Piece& piece : step.oldPieces) {
    if (piece.file != HistoryStep::kInJournal) continue;
    if (piece.skip < static_cast<int64_t>(recordAt + in.at())) return std::nullopt;
    valuesEnd += static_cast<size_t>(piece.frames * step.before.channels) * sizeof(int16_t);
  }
  if (valuesEnd < in.size()) {
    in.seek(valuesEnd);
    const uint32_t markers = in.u32();
    for (uint32_t i = 0; i < markers && in.ok(); ++i) {
      const SoundMarker m{in.u32(), in.i64(), {}};
      if (!inSound(m.frame)) return std::nullopt;
      step.removedMarkers.push_back(m);
    }
    if (in.at() < in.size())
      for (SoundMarker& m : step.removedMarkers) m.name = in.text();
    if (!in.ok()) return std::nullopt;
  }
  in.skipRest();
  return step;
}

// Applies one record to the log; false when it makes no sense (damage that
// the checksum missed, or a program that wrote something else).
bool applyRecord(HistoryLog& log, std::span<const uint8_t> bytes, uint64_t recordAt) {
  RecordIn in(bytes);
  const auto kind = static_cast<Kind>(in.u8());
  switch (kind) {
    case Kind::origin: {
      const int64_t when = in.i64();
      const bool isSavedFile = in.u8() != 0;
      const FileStamp file = isSavedFile ? in.stamp() : FileStamp{};
      if (!in.ok()) return false;
      log = HistoryLog{};
      log.lastChange = when;
      log.savedPosition = isSavedFile ? std::optional<size_t>(0) : std::nullopt;
      if (isSavedFile) log.savedFile = file;
      break;
    }
    case Kind::step:
    case Kind::checkedStep: {
      std::optional<HistoryStep> step = readStep(in, recordAt, kind == Kind::checkedStep);
      if (!step) return false;
      // A new step drops the steps that were undone.
      log.steps.resize(log.position);
      if (log.savedPosition && *log.savedPosition > log.position) log.savedPosition.reset();
      log.lastChange = step->when;
      log.nextNumber = std::max(log.nextNumber, step->number + 1);
      log.steps.push_back(std::move(*step));
      ++log.position;
      break;
    }
    case Kind::undo:
    case Kind::redo: {
      const int64_t when = in.i64();
      if (!in.ok()) return false;
      if (kind == Kind::undo ? log.position == 0 : log.position == log.steps.size()) return false;
      log.position = kind == Kind::undo ? log.position - 1 : log.position + 1;
      log.lastChange = when;
      break;
    }
    case Kind::dropped: {
      // Only a step the saved file holds, and the sound too.
      if (log.steps.empty() || log.position == 0 || !log.savedPosition || *log.savedPosition == 0) return false;
      log.steps.erase(log.steps.begin());
      --log.position;
      --*log.savedPosition;
      break;
    }
    case Kind::saved: {
      const FileStamp file = in.stamp();
      if (!in.ok()) return false;
      log.savedPosition = log.position;
      log.savedFile = file;
      break;
    }
    default: return false;
  }
  return in.atEnd();
}

// One of the history's own files but its lock: the journal, a step's frames.
bool isHistoryFile(const std::string& name) {
  if (name == kJournalFile) return true;
  const size_t dash = name.find('-');
  return dash > 0 && dash != std::string::npos &&
         std::all_of(name.begin(), name.begin() + static_cast<ptrdiff_t>(dash), [](char c) { return c >= '0' && c <= '9'; }) &&
         (name.compare(dash, 7, "-antes-") == 0 || name.compare(dash, std::string::npos, "-depois") == 0);
}

// Locks the history in the native folder against other runs; invalid when
// another run keeps it.
UniqueFd lockHistory(const std::string& native) { return takeLockFile(native + std::string(kLockFile)); }

void removeHistoryFiles(const std::string& native) {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(native, ec))
    if (isHistoryFile(entry.path().filename().string())) fs::remove(entry.path(), ec);
}

// Makes room for a history moving into `folder`. False when a running
// program keeps the history there, or it could not go.
bool clearWayFor(const std::string& folder) {
  const std::string native = nativePath(folder);
  std::error_code ec;
  if (!fs::exists(native, ec)) return true;
  if (findLeftChanges(folder, std::nullopt)) return !setHistoryAside(folder).empty();
  forgetHistory(folder);
  return !fs::exists(native, ec);
}

}  // namespace

HistoryLog replayHistory(std::span<const std::vector<uint8_t>> records) {
  HistoryLog log;
  // Everything before the first origin belongs to nothing.
  bool begun = false;
  // Each record's length before it and its checksum after it.
  uint64_t recordAt = 4;
  for (const std::vector<uint8_t>& record : records) {
    const uint64_t at = std::exchange(recordAt, recordAt + record.size() + 8);
    if (!begun && (record.empty() || record[0] != static_cast<uint8_t>(Kind::origin))) continue;
    HistoryLog next = log;
    if (!applyRecord(next, record, at)) {
      log.damagedEnd = true;
      break;
    }
    log = std::move(next);
    begun = true;
  }
  return log;
}

HistoryLog replayHistory(const JournalContents& journal) {
  HistoryLog log = replayHistory(journal.records);
  log.damagedEnd = log.damagedEnd || journal.damagedTail;
  return log;
}

void forgetHistory(const std::string& folder) {
  const std::string native = nativePath(folder);
  if (!fs::is_directory(native)) return;
  const UniqueFd lock = lockHistory(native);
  if (!lock.valid()) return;
  removeHistoryFiles(native);
  // The lock goes while it is held: a run that opened it meanwhile tries
  // again on the name (takeLockFile).
  unlink((native + std::string(kLockFile)).c_str());
  rmdir(native.c_str());
}

bool historyInUse(const std::string& folder) {
  const std::string native = nativePath(folder);
  std::error_code ec;
  return fs::exists(native + std::string(kLockFile), ec) && !lockHistory(native).valid();
}

std::optional<LeftChanges> findLeftChanges(const std::string& folder, const std::optional<FileStamp>& file) {
  const std::string native = nativePath(folder);
  if (!fs::is_regular_file(native + std::string(kJournalFile))) return std::nullopt;
  const UniqueFd lock = lockHistory(native);
  if (!lock.valid()) return std::nullopt;
  const std::optional<JournalContents> journal = readJournal(native + std::string(kJournalFile));
  if (!journal) return std::nullopt;
  LeftChanges left{replayHistory(*journal)};
  const HistoryLog& log = left.log;
  // A damaged end may have taken steps with it.
  if (!log.damagedEnd && (log.steps.empty() || log.savedPosition == log.position)) return std::nullopt;
  left.madeOnThisFile = log.savedPosition.has_value() && file.has_value() && log.savedFile == file;
  return left;
}

namespace {

// Makes a folder beside the history in `folder`, named after the time of
// its last change, by `makeAt` (its native name; false with errno EEXIST
// when the name is taken); the folder's name, empty when none was made.
std::string makeAsideFolder(const std::string& folder, const std::function<bool(const std::string&)>& makeAt) {
  const std::string native = withoutTrailingSlash(nativePath(folder));
  const std::optional<JournalContents> journal = readJournal(native + "/" + std::string(kJournalFile));
  const int64_t when = journal ? replayHistory(journal->records).lastChange : now();
  const std::string aside = native + "-" + localTimeText(when, "%Y%m%d-%H%M%S");
  for (int n = 1; n < 100; ++n) {
    const std::string name = n == 1 ? aside : aside + "-" + std::to_string(n);
    if (makeAt(name)) return fromUtf8(name) + "/";
    if (errno != EEXIST) return {};
  }
  return {};
}

// The history's files of the native folder `from` in the new folder `to`:
// the frames linked (they are never written again), the journal, which
// goes on growing, copied. False when one could not be.
bool copyHistoryFiles(const std::string& from, const std::string& to) {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(from, ec)) {
    const std::string name = entry.path().filename().string();
    if (!isHistoryFile(name)) continue;
    const std::string copy = to + "/" + name;
    if (name != kJournalFile) {
      fs::create_hard_link(entry.path(), copy, ec);
      if (!ec) continue;
    }
    if (!fs::copy_file(entry.path(), copy, ec)) return false;
    const UniqueFd out(::open(copy.c_str(), O_WRONLY | O_CLOEXEC));
    if (!out.valid() || disk().syncData(out.get()) != 0) return false;
  }
  return !ec && flushFolder(to);
}

// A copy of the history in `folder`, kept beside it as setHistoryAside
// would move it; the copy's name, empty when it could not be made whole.
std::string keepHistoryCopyAside(const std::string& folder) {
  const std::string native = withoutTrailingSlash(nativePath(folder));
  return makeAsideFolder(folder, [&](const std::string& name) {
    if (mkdir(name.c_str(), 0700) != 0) return false;
    if (copyHistoryFiles(native, name)) return true;
    errno = EIO;
    return false;
  });
}

}  // namespace

std::string setHistoryAside(const std::string& folder) {
  const std::string native = withoutTrailingSlash(nativePath(folder));
  return makeAsideFolder(folder, [&](const std::string& name) { return renameWithoutReplacing(native, name); });
}

// ---- Starting and stopping -----------------------------------------------------

std::optional<Resumed> EditHistory::resume(TAmostras& sound, const std::string& folder) {
  close();
  const std::string native = nativePath(folder);
  UniqueFd lock = lockHistory(native);
  if (!lock.valid()) return std::nullopt;
  // Read as it is: the writer would cut a damaged end off before a copy
  // of it is kept.
  const std::optional<JournalContents> journal = readJournal(native + std::string(kJournalFile));
  if (!journal) return std::nullopt;
  HistoryLog log = replayHistory(*journal);
  if (!log.savedPosition) return std::nullopt;
  folder_ = folder;
  log_ = std::move(log);
  sound_ = &sound;
  // From the saved file towards where the changes left the sound, up to
  // the first step that cannot be put in place.
  const size_t saved = *log_.savedPosition, target = log_.position;
  Resumed resumed;
  resumed.left = saved < target ? target - saved : saved - target;
  resumed.damagedEnd = log_.damagedEnd;
  size_t at = saved;
  while (at != target) {
    const bool forward = at < target;
    if (!putStretch(log_.steps[forward ? at : at - 1], forward)) break;
    at = forward ? at + 1 : at - 1;
    ++resumed.brought;
  }
  if (at > 0) resumed.place = log_.steps[at - 1].placeAfter;
  if (!resumed.all()) resumed.aside = keepHistoryCopyAside(folder);
  // The journal cuts off what a crash left half-written, or damage.
  JournalWriter writer;
  if ((!resumed.all() && resumed.aside.empty()) || !writer.open(native + std::string(kJournalFile))) {
    close();
    return std::nullopt;
  }
  lock_ = std::move(lock);
  journal_ = std::move(writer);
  // The journal says where the sound stopped; the steps past it stay to
  // redo, each checked again then.
  while (log_.position != at) {
    RecordOut r(log_.position > at ? Kind::undo : Kind::redo);
    r.i64(now());
    if (!write(r.bytes())) {
      close();
      return std::nullopt;
    }
  }
  sound.setWitness(this);
  return resumed;
}

bool EditHistory::start(TAmostras& sound, const std::string& folder, std::optional<FileStamp> savedFile) {
  close();
  const std::string native = nativePath(folder);
  if (!makePrivateDirectory(native)) return false;
  // Another run of the program keeps this sound's history: it stays its own.
  UniqueFd lock = lockHistory(native);
  if (!lock.valid()) return false;
  removeHistoryFiles(native);
  JournalWriter journal;
  if (!journal.open(native + std::string(kJournalFile))) return false;
  RecordOut origin(Kind::origin);
  origin.i64(now());
  origin.u8(savedFile.has_value());
  if (savedFile) origin.stamp(*savedFile);
  if (!journal.append(origin.bytes())) return false;
  folder_ = folder;
  lock_ = std::move(lock);
  journal_ = std::move(journal);
  log_ = HistoryLog{};
  applyRecord(log_, origin.bytes(), 4);
  open_.reset();
  sound_ = &sound;
  sound.setWitness(this);
  return true;
}

bool EditHistory::moveTo(const std::string& folder) {
  if (!active()) return false;
  if (folder == folder_) return true;
  if (!clearWayFor(folder)) return false;
  // The lock and the journal stay open: they go with the folder.
  const std::string from = withoutTrailingSlash(nativePath(folder_)), to = withoutTrailingSlash(nativePath(folder));
  if (disk().rename(from.c_str(), to.c_str(), 0) != 0) return false;
  // The move counts once both folders that hold the name are on the disk.
  if (!flushFolder(directoryPart(to)) || !flushFolder(directoryPart(from))) {
    disk().rename(to.c_str(), from.c_str(), 0);
    return false;
  }
  folder_ = folder;
  return true;
}

void EditHistory::close() {
  if (sound_ != nullptr) sound_->setWitness(nullptr);
  sound_ = nullptr;
  open_.reset();
  journal_ = JournalWriter();
  lock_.reset();
}

// What was written no longer matches the sound: a new history begins from
// the sound as it is, which no saved file is known to hold.
void EditHistory::startAgain() {
  TAmostras* sound = sound_;
  const std::string folder = folder_;
  close();
  if (sound != nullptr) start(*sound, folder, std::nullopt);
}

bool EditHistory::write(const std::vector<uint8_t>& record) {
  const uint64_t at = journal_.end() + 4;
  if (!journal_.append(record)) return false;
  applyRecord(log_, record, at);
  return true;
}

// ---- Files ------------------------------------------------------------------------

std::string EditHistory::fileOf(uint32_t number, std::string_view part) const {
  return folder_ + std::to_string(number) + "-" + std::string(part);
}

std::string EditHistory::pieceFile(uint32_t number, uint32_t piece) const {
  return fileOf(number, "antes-" + std::to_string(piece));
}

std::string EditHistory::fileOfPiece(const HistoryStep& step, const HistoryStep::Piece& piece) const {
  return piece.file == HistoryStep::kInJournal ? folder_ + std::string(kJournalFile) : pieceFile(step.number, piece.file);
}

bool EditHistory::keepFrames(const TAmostras& sound, int64_t first, int64_t end, const std::string& file) {
  const std::span<const int16_t> values =
      sound.samples().subspan(static_cast<size_t>(first * sound.channels()),
                              static_cast<size_t>((end - first) * sound.channels()));
  // Undo and redo soon after read the frames back from the page cache.
  FileReplacer out;
  if (!out.open(file, FlushToDisk::yesThroughCache)) return false;
  WorkClicker clicker;
  for (size_t done = 0; done < values.size(); done += kWorkBlockValues) {
    const size_t n = std::min<size_t>(values.size() - done, kWorkBlockValues);
    if (!out.write(values.data() + done, n * sizeof(int16_t))) return false;
    clicker.blockDone();
  }
  return out.commit();
}

bool EditHistory::readFrames(const std::string& file, int64_t skip, std::span<int16_t> into) const {
  const UniqueFd in(::open(nativePath(file).c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return false;
  const std::optional<uint64_t> size = fileSize(file);
  if (!size || *size < static_cast<uint64_t>(skip) + into.size_bytes()) return false;
  WorkClicker clicker;
  for (size_t done = 0; done < into.size(); done += kWorkBlockValues) {
    const size_t n = std::min<size_t>(into.size() - done, kWorkBlockValues);
    if (!readAllAt(in.get(), skip + static_cast<int64_t>(done * sizeof(int16_t)),
                   reinterpret_cast<uint8_t*>(into.data() + done), n * sizeof(int16_t)))
      return false;
    clicker.blockDone();
  }
  return true;
}

// True when `file` holds `bytes` bytes from `skip` on, and they match
// `checksum` when there is one.
bool EditHistory::holdsFrames(const std::string& file, int64_t skip, int64_t bytes,
                              std::optional<uint32_t> checksum) const {
  if (bytes == 0) return true;
  const std::optional<uint64_t> size = fileSize(file);
  if (!size || *size < static_cast<uint64_t>(skip) + static_cast<uint64_t>(bytes)) return false;
  if (!checksum) return true;
  const UniqueFd in(::open(nativePath(file).c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return false;
  std::vector<int16_t> block(kWorkBlockValues);
  uint32_t crc = 0;
  WorkClicker clicker;
  for (int64_t done = 0; done < bytes; clicker.blockDone()) {
    const auto n = static_cast<size_t>(std::min<int64_t>(bytes - done, static_cast<int64_t>(block.size() * sizeof(int16_t))));
    if (!readAllAt(in.get(), skip + done, reinterpret_cast<uint8_t*>(block.data()), n)) return false;
    crc = checksumOf(std::span(block).first(n / sizeof(int16_t)), crc);
    done += static_cast<int64_t>(n);
  }
  return crc == *checksum;
}

// The files of the side of `step` that goes in place (`forward`: the
// frames after) hold its frames whole and as they were written.
bool EditHistory::stepFilesHold(const HistoryStep& step, bool forward) const {
  constexpr int64_t kBytes = sizeof(int16_t);
  if (forward)
    return holdsFrames(fileOf(step.number, "depois"), 0, step.newLength * step.after.channels * kBytes,
                       step.afterChecksum);
  return std::ranges::all_of(step.oldPieces, [&](const HistoryStep::Piece& piece) {
    return holdsFrames(fileOfPiece(step, piece), piece.skip, piece.frames * step.before.channels * kBytes,
                       piece.checksum);
  });
}

void EditHistory::removeFilesOf(const HistoryStep& step) {
  for (const HistoryStep::Piece& piece : step.oldPieces)
    if (piece.file != HistoryStep::kInJournal) removeFile(pieceFile(step.number, piece.file));
  removeFile(fileOf(step.number, "depois"));
}

// ---- Steps --------------------------------------------------------------------------

void EditHistory::beginStep(std::string_view name, SoundPlace before) {
  if (!active()) return;
  open_ = std::make_unique<OpenStep>();
  open_->step.number = log_.nextNumber;
  open_->step.name = name;
  open_->step.placeBefore = before;
  open_->markersBefore = sound_->markers();
}

// Frames first..end-1 of the sound, frames oldFirst.. of the sound as the
// step found it.
void EditHistory::keepOldFrames(const TAmostras& sound, int64_t first, int64_t end, int64_t oldFirst, bool atFront) {
  OpenStep& o = *open_;
  if (end <= first) return;
  HistoryStep::Piece piece{0, end - first, 0, std::nullopt};
  // A stretch of a quarter of the sound or more comes from the scratch copy
  // when there is one: the whole copy then has to reach the disk.
  const int64_t channels = sound.channels();
  const std::span<const int16_t> kept =
      sound.samples().subspan(static_cast<size_t>(first * channels), static_cast<size_t>((end - first) * channels));
  piece.checksum = checksumOf(kept);
  std::optional<uint32_t> copy = (end - first) * 4 >= o.countBefore ? takeInCopy() : std::nullopt;
  std::vector<int16_t> values;
  if (copy) {
    piece.file = *copy;
    piece.skip = copy_->dataOffset + oldFirst * channels * static_cast<int64_t>(sizeof(int16_t));
  } else if (static_cast<int64_t>(kept.size_bytes()) <= kInJournalBytes) {
    piece.file = HistoryStep::kInJournal;
    values.assign(kept.begin(), kept.end());
  } else {
    piece.file = o.pieceFiles++;
    if (!keepFrames(sound, first, end, pieceFile(o.step.number, piece.file))) {
      o.failed = true;
      return;
    }
  }
  auto& pieces = o.step.oldPieces;
  pieces.insert(atFront ? pieces.begin() : pieces.end(), piece);
  o.pieceValues.insert(atFront ? o.pieceValues.begin() : o.pieceValues.end(), std::move(values));
}

int64_t EditHistory::currentEnd() const { return open_->oldEnd + sound_->count() - open_->countBefore; }

// One piece more of the frames the step made so far; false when they are
// all written or the writing failed.
bool EditHistory::writeAheadPiece() {
  OpenStep& o = *open_;
  const int64_t frames = currentEnd() - o.step.start;
  if (!o.ahead) {
    if (frames == 0) return false;
    o.ahead = std::make_unique<Ahead>();
    if (!o.ahead->out.open(fileOf(o.step.number, "depois"), FlushToDisk::yesThroughCache)) {
      o.ahead.reset();
      return false;
    }
  }
  Ahead& a = *o.ahead;
  if (a.written >= frames) return false;
  const int64_t channels = sound_->channels();
  const int64_t n = std::min<int64_t>(frames - a.written, kWorkBlockValues / channels);
  const std::span<const int16_t> values =
      sound_->samples().subspan(static_cast<size_t>((o.step.start + a.written) * channels), static_cast<size_t>(n * channels));
  if (!a.out.write(values.data(), values.size_bytes())) {
    o.ahead.reset();
    return false;
  }
  a.checksum = checksumOf(values, a.checksum);
  a.written += n;
  return true;
}

bool EditHistory::writeAhead() {
  if (!open_ || !open_->touched || open_->failed || !active()) return false;
  if (writeAheadPiece()) return true;
  OpenStep& o = *open_;
  if (o.ahead && o.ahead->flushed < o.ahead->written) {
    if (!o.ahead->out.flushWritten()) o.ahead.reset();
    else o.ahead->flushed = o.ahead->written;
    return true;
  }
  if (o.copyFlushed >= o.copyBytes) return false;
  flushCopy(false);
  return true;
}

void EditHistory::framesWillChange(const TAmostras& sound, int64_t first, int64_t end) {
  if (&sound != sound_) return;
  // A change outside a step cannot be told apart from the next one.
  if (!open_) return startAgain();
  OpenStep& o = *open_;
  if (o.failed) return;
  // What was written ahead stays only when the change comes after all of
  // it (a take added at the end).
  if (o.ahead && (first < o.step.start + o.ahead->written || first < o.step.start)) o.ahead.reset();
  const int64_t count = sound.count();
  if (!o.touched) {
    o.touched = true;
    // The markers' chunks may follow the frames.
    o.copyUsable = copy_ && copy_->changes == changes_ && sound.bitsPerSample() == 16 &&
                   fileSize(copy_->file) >= static_cast<uint64_t>(copy_->dataOffset) +
                                                static_cast<uint64_t>(count * sound.channels()) * sizeof(int16_t);
    o.countBefore = count;
    o.step.before = shapeOf(sound);
    o.step.start = first;
    o.oldEnd = first;
  }
  // Frames past what is kept are still as they were before the step: the
  // stretch kept grows to take them in.
  const int64_t end0 = currentEnd();
  if (first < o.step.start) {
    keepOldFrames(sound, first, o.step.start, first, true);
    o.step.start = first;
  }
  if (end > end0) {
    keepOldFrames(sound, end0, end, o.oldEnd, false);
    o.oldEnd += end - end0;
  }
  ++changes_;
}

void EditHistory::soundIsInFile(const std::string& file, int64_t dataOffset) {
  if (active()) copy_ = SoundCopy{file, dataOffset, changes_};
}

// Links the scratch copy into the step's files, once; its piece file number.
std::optional<uint32_t> EditHistory::takeInCopy() {
  OpenStep& o = *open_;
  if (o.copyPiece) return o.copyPiece;
  if (!o.copyUsable) return std::nullopt;
  o.copyUsable = false;
  const uint32_t number = o.pieceFiles;
  const std::string linked = nativePath(pieceFile(o.step.number, number));
  // Another file system, or no links: the frames are written as usual.
  if (link(nativePath(copy_->file).c_str(), linked.c_str()) != 0) return std::nullopt;
  o.copyFd = UniqueFd(::open(linked.c_str(), O_RDONLY | O_CLOEXEC));
  const std::optional<uint64_t> size = fileSize(pieceFile(o.step.number, number));
  if (!o.copyFd.valid() || !size) {
    unlink(linked.c_str());
    return std::nullopt;
  }
  o.copyBytes = static_cast<int64_t>(*size);
  ++o.pieceFiles;
  o.copyPiece = number;
  return number;
}

// The scratch copy was written for this run only: it reaches the disk
// before the step is written down, a piece at a time while the user waits
// (`all`: the rest at once). False when the flush failed.
bool EditHistory::flushCopy(bool all) {
  OpenStep& o = *open_;
  if (!o.copyFd.valid()) return true;
  constexpr int64_t kPiece = int64_t{16} << 20;
  if (!all && o.copyFlushed < o.copyBytes) {
    const int64_t n = std::min(kPiece, o.copyBytes - o.copyFlushed);
    sync_file_range(o.copyFd.get(), o.copyFlushed, n,
                    SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    o.copyFlushed += n;
    return true;
  }
  const bool flushed = disk().syncData(o.copyFd.get()) == 0 && flushFolder(nativePath(folder_));
  o.copyFd.reset();
  return flushed;
}

void EditHistory::formatWillChange(const TAmostras& sound) {
  // The frames are kept whole, in the shape they have.
  framesWillChange(sound, 0, sound.count());
}

void EditHistory::soundGoes(const TAmostras& sound) {
  if (&sound != sound_) return;
  sound_ = nullptr;
  close();
}

EditHistory::Ended EditHistory::endStep(SoundPlace after) {
  if (!open_) return Ended::nothingChanged;
  if (!active() || (!open_->touched && !open_->failed)) {
    open_.reset();
    return Ended::nothingChanged;
  }
  OpenStep& o = *open_;
  HistoryStep step = o.step;
  step.when = now();
  step.oldLength = o.oldEnd - step.start;
  step.newLength = step.oldLength + sound_->count() - o.countBefore;
  step.after = shapeOf(*sound_);
  step.placeAfter = after;
  for (const SoundMarker& m : o.markersBefore)
    if (std::ranges::none_of(sound_->markers(), [&](const SoundMarker& k) { return k.number == m.number; }))
      step.removedMarkers.push_back(m);
  // What was not written ahead while the user waited is written now.
  for (WorkClicker clicker; writeAheadPiece(); clicker.blockDone()) {
  }
  const bool writtenAhead = o.ahead && o.ahead->written == step.newLength && o.ahead->out.commit();
  step.afterChecksum = writtenAhead ? o.ahead->checksum : checksumOf({});
  const bool failed = o.failed || !flushCopy(true);
  const std::vector<std::vector<int16_t>> pieceValues = std::move(o.pieceValues);
  open_.reset();
  const bool kept = !failed && (step.newLength == 0 || writtenAhead);
  // The steps a new one replaces lose their files once it is written down.
  std::vector<HistoryStep> replaced(log_.steps.begin() + static_cast<ptrdiff_t>(log_.position), log_.steps.end());
  if (!kept || !write(stepRecord(step, pieceValues).bytes())) {
    removeFilesOf(step);
    startAgain();
    return Ended::failed;
  }
  for (const HistoryStep& gone : replaced) removeFilesOf(gone);
  keepToBudget();
  return Ended::recorded;
}

bool EditHistory::dropStep(const std::function<bool()>& putBack) {
  if (!active() || !open_) return putBack();
  sound_->setWitness(nullptr);
  const bool putBackDone = putBack();
  sound_->setWitness(this);
  if (!putBackDone) return false;
  removeFilesOf(open_->step);
  const std::string name = open_->step.name;
  const SoundPlace place = open_->step.placeBefore;
  open_.reset();
  // The command may change the sound again.
  beginStep(name, place);
  return true;
}

// Puts a step's frames after (forward) or before in place of the others.
bool EditHistory::putStretch(const HistoryStep& step, bool forward) {
  TAmostras& sound = *sound_;
  const SoundShape& from = forward ? step.before : step.after;
  const SoundShape& to = forward ? step.after : step.before;
  const int64_t removed = forward ? step.oldLength : step.newLength;
  const int64_t length = forward ? step.newLength : step.oldLength;
  if (shapeOf(sound) != from || step.start + removed > sound.count()) return false;
  // Nothing is made room for before the files are known to hold the frames.
  if (!stepFilesHold(step, forward)) return false;
  // The frames after the step (`after`) or before it.
  const auto readSide = [&](bool after, std::span<int16_t> values) {
    if (values.empty()) return true;
    if (after) return readFrames(fileOf(step.number, "depois"), 0, values);
    size_t at = 0;
    for (const HistoryStep::Piece& piece : step.oldPieces) {
      const size_t n = static_cast<size_t>(piece.frames * step.before.channels);
      if (!readFrames(fileOfPiece(step, piece), piece.skip, values.subspan(at, n))) return false;
      at += n;
    }
    return true;
  };
  sound.setWitness(nullptr);
  bool put = false;
  const auto stretch = [&](int64_t frames) {
    return sound.samplesToChange().subspan(static_cast<size_t>(step.start * to.channels),
                                           static_cast<size_t>(frames * to.channels));
  };
  if (to == from) {
    // Read straight into the sound; should that fail, what was there is
    // read back from the other side.
    const bool resized = sound.resizeFrames(step.start, removed, length);
    put = resized && readSide(forward, stretch(length));
    if (resized && !put && sound.resizeFrames(step.start, length, removed)) readSide(!forward, stretch(removed));
  } else {
    // A change of shape changed the whole sound.
    TAmostras whole;
    whole.setMemoryLimit(sound.memoryLimit());
    whole.createSized(to.channels, to.sampleRate, to.bitsPerSample, length);
    put = !whole.outOfMemory() && readSide(forward, whole.samplesToChange());
    if (put) sound.takeOver(whole);
  }
  if (put) putMarkers(step, forward);
  sound.setWitness(this);
  return put;
}

// Undo puts the markers the step removed back (under a new number when
// theirs has been taken since); redo removes them again.
void EditHistory::putMarkers(const HistoryStep& step, bool forward) {
  TAmostras& sound = *sound_;
  std::vector<SoundMarker> markers = sound.markers();
  const auto taken = [&](uint32_t number) {
    return std::ranges::any_of(markers, [&](const SoundMarker& k) { return k.number == number; });
  };
  std::vector<SoundMarker> renumbered;
  for (const SoundMarker& m : step.removedMarkers) {
    if (forward) {
      std::erase_if(markers, [&](const SoundMarker& k) { return k.number == m.number; });
    } else if (!taken(m.number)) {
      markers.push_back(m);
    } else {
      renumbered.push_back(m);
    }
  }
  sound.setMarkers(std::move(markers));
  for (const SoundMarker& m : renumbered) {
    // A marker already at that place keeps its own name.
    const bool placeFree = std::ranges::none_of(sound.markers(), [&](const SoundMarker& k) { return k.frame == m.frame; });
    const uint32_t number = sound.placeMarker(m.frame);
    if (placeFree) sound.nameMarker(number, m.name);
  }
}

EditHistory::Travel EditHistory::travel(bool forward, HistoryStep& moved) {
  if (!active() || log_.position == (forward ? log_.steps.size() : 0)) return Travel::nothingThere;
  const HistoryStep step = log_.steps[forward ? log_.position : log_.position - 1];
  if (!putStretch(step, forward)) return Travel::failed;
  RecordOut r(forward ? Kind::redo : Kind::undo);
  r.i64(now());
  if (!write(r.bytes())) {
    // A move the journal lacks would be lost to a crash: the stretch goes
    // back, and the history stays as it was.
    if (putStretch(step, !forward)) return Travel::failed;
    startAgain();
  }
  moved = step;
  return Travel::done;
}

bool EditHistory::holdsSavedFile(const FileStamp& file) const {
  const bool changing = open_ && (open_->touched || open_->failed);
  return active() && !changing && log_.savedPosition == log_.position && log_.savedFile == file;
}

EditHistory::Ended EditHistory::saved(const FileStamp& file, SoundPlace place) {
  if (!active()) return Ended::nothingChanged;
  Ended ended = Ended::nothingChanged;
  if (open_ && open_->touched) {
    const std::string name = open_->step.name;
    ended = endStep(place);
    beginStep(name, place);
    if (ended == Ended::failed) return ended;
  }
  RecordOut r(Kind::saved);
  r.stamp(file);
  if (!write(r.bytes())) {
    startAgain();
    return Ended::failed;
  }
  keepToBudget();
  return ended;
}

void EditHistory::keepToBudget() {
  uint64_t bytes = 0;
  for (const HistoryStep& step : log_.steps) bytes += step.bytes();
  // The oldest step goes when both the sound and the saved file hold it.
  while (bytes > budget_ && log_.position > 0 && log_.savedPosition && *log_.savedPosition > 0) {
    const HistoryStep oldest = log_.steps.front();
    if (!write(RecordOut(Kind::dropped).bytes())) return startAgain();
    removeFilesOf(oldest);
    bytes -= oldest.bytes();
  }
  overBudget_ = bytes > budget_;
}

}  // namespace kalimbro
