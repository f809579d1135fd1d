// editHistory: every change made to the sound in memory, kept on disk, so
// that the changes can be undone and redone one step at a time and found
// again after a crash.
//
// The history watches the sound (it is the sound's SoundWitness). A step is
// opened before a command runs and ended after it; whatever the command
// changed in between is one step. While a change is made the history has
// already written what the change replaces (the frames before); when the
// step ends it writes what the change made (the frames after) and then a
// record of the step in its journal. Each step is one stretch of the sound
// replaced by another:
//
//   frames start..start+oldLength-1 of the sound before  (files "N-antes-K")
//   became frames start..start+newLength-1 of the sound after  ("N-depois")
//
// in the folder given to start, beside the journal ("diario"). Undo puts the
// frames before back, redo the frames after; memory holds only the stretch
// moved, never a second sound. A step is done once its record is in the
// journal: the data files are on the disk before it. The record keeps a
// CRC-32 of each stretch of frames as it was written, and no frames are
// put in place before their files are found to match it (records written
// before the checksums were kept have none, and are not checked).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_replacer.h"
#include "platform/journal.h"
#include "platform/paths.h"
#include "sound/gramost.h"

namespace kalimbro {

// The cursor and the mark, which come back with each step.
struct SoundPlace {
  int32_t cursor = 0;
  int32_t mark = 0;
  bool operator==(const SoundPlace&) const = default;
};

struct SoundShape {
  int32_t channels = 1;
  int32_t sampleRate = 22050;
  int32_t bitsPerSample = 16;
  bool operator==(const SoundShape&) const = default;
};

// One step as the journal keeps it.
struct HistoryStep {
  uint32_t number = 0;  // names the step's files
  int64_t when = 0;     // seconds since the epoch
  std::string name;     // what the user knows the change by (a catalogue key)
  int64_t start = 0;
  int64_t oldLength = 0;
  int64_t newLength = 0;
  SoundShape before, after;
  SoundPlace placeBefore, placeAfter;
  // The frames before, in pieces kept as they were reached, in order from
  // `start`: the number in the piece's file name, and its frames.
  struct Piece {
    uint32_t file = 0;
    int64_t frames = 0;
    int64_t skip = 0;  // bytes of the file before the piece's frames
    std::optional<uint32_t> checksum;  // of the piece's frames
  };
  // A short piece lives inside the step's own journal record: one flush
  // then writes it down with the step. `skip` is then its place in the
  // journal.
  static constexpr uint32_t kInJournal = UINT32_MAX;
  std::vector<Piece> oldPieces;
  // The markers the step took away, as they were before it: undo puts them
  // back, redo takes them again.
  std::vector<SoundMarker> removedMarkers;
  std::optional<uint32_t> afterChecksum;  // of the frames after, the whole "depois" file

  // What the step's files take on the disk.
  uint64_t bytes() const {
    return 2 * static_cast<uint64_t>(oldLength * before.channels + newLength * after.channels);
  }
};

// What the journal tells: the steps, how many of them the sound has, and
// how many the saved file has (none: unknown).
struct HistoryLog {
  std::vector<HistoryStep> steps;
  size_t position = 0;
  std::optional<size_t> savedPosition = 0;
  std::optional<FileStamp> savedFile;
  int64_t lastChange = 0;  // when the last step, undo or redo was made
  uint32_t nextNumber = 1;
  // The journal ends in damage, not in a write cut short: records, and
  // steps, may be lost after the last one read.
  bool damagedEnd = false;
};

// The log a journal's records make.
HistoryLog replayHistory(std::span<const std::vector<uint8_t>> records);
HistoryLog replayHistory(const JournalContents& journal);

// Removes the history kept in `folder`, and the folder when nothing else
// is in it, unless a running program keeps it.
void forgetHistory(const std::string& folder);

// True when a running program keeps the history in `folder`.
bool historyInUse(const std::string& folder);

// Changes that a run which ended without saving them left in a history:
// its log, and whether they were made on the file as it is now (then
// resume can bring them back).
struct LeftChanges {
  HistoryLog log;
  bool madeOnThisFile = false;
};
// The changes left in `folder` that the sound file with stamp `file` lacks;
// nothing when there are none, or a running program keeps the history.
std::optional<LeftChanges> findLeftChanges(const std::string& folder, const std::optional<FileStamp>& file);
// Moves the history in `folder` aside, to a folder beside it named after
// the time of its last change; that folder's name (Windows-1252, with a
// trailing '/'), empty when it could not be moved.
std::string setHistoryAside(const std::string& folder);

// How far resume brought the changes a run left.
struct Resumed {
  size_t brought = 0;  // steps put in place, in order from the saved file
  size_t left = 0;     // of the steps the journal tells
  bool damagedEnd = false;  // and the journal's end was lost to damage
  SoundPlace place;  // where the last step brought back left the cursor and the mark
  // A copy of the history as it was found, kept aside when not everything
  // came back (Windows-1252, with a trailing '/').
  std::string aside;
  bool all() const { return brought == left && !damagedEnd; }
};

class EditHistory final : public SoundWitness {
 public:
  EditHistory() = default;
  ~EditHistory() { close(); }
  EditHistory(const EditHistory&) = delete;
  EditHistory& operator=(const EditHistory&) = delete;

  // Watches `sound`, as it is now, into an empty history in `folder`
  // (Windows-1252, with a trailing '/'), whatever the folder held before.
  // `savedFile`: the sound is this file as it is now. False (nothing
  // watched) when the folder cannot hold a history.
  bool start(TAmostras& sound, const std::string& folder, std::optional<FileStamp> savedFile);
  // Goes on with the history left in `folder`, whose changes findLeftChanges
  // found made on the file that `sound` was just loaded from: the sound is
  // brought, step by step, to where the changes left it, and they can be
  // undone. A step whose frames cannot be put in place (a file missing,
  // short or not matching its checksum) stops it there: the history goes on
  // from that step, and a copy of the history as found is kept aside.
  // Nothing when the history cannot be taken up at all; the sound is then
  // neither the file nor the changes, and nothing is watched.
  std::optional<Resumed> resume(TAmostras& sound, const std::string& folder);
  // Goes on in `folder` (the sound was saved under another name): the
  // history's files move there. A history already in `folder` goes aside
  // when it holds changes that no file has, else it goes. False, with
  // everything where it was, when they cannot move.
  bool moveTo(const std::string& folder);
  // Stops watching; the files stay.
  void close();
  bool active() const { return sound_ != nullptr; }
  // The folder of the history watching the sound; empty when none does.
  std::string folder() const { return active() ? folder_ : std::string(); }

  // Steps: the changes made between beginStep and endStep are one step.
  void beginStep(std::string_view name, SoundPlace before);
  enum class Ended { nothingChanged, recorded, failed };
  // `failed`: the step could not be written down; the history then starts
  // again from the sound as it is.
  Ended endStep(SoundPlace after);
  // The command puts the sound back as it was when the step began, by
  // `putBack`, unwatched; when putBack succeeds there is no step. What
  // putBack returns.
  bool dropStep(const std::function<bool()>& putBack);
  bool stepOpen() const { return open_ != nullptr; }
  // While the program waits for the user within a step (a demonstration,
  // a question), writes a piece of what the step made so far, so that
  // endStep finds it written; true while more is left. A later change
  // throws it away.
  bool writeAhead();
  // `file` holds the sound as it is now, its 16-bit values from byte
  // `dataOffset` on (the effects' scratch copy, written while the user
  // chose): a step that changes much of the sound keeps the file itself
  // as the frames before, instead of writing them again.
  void soundIsInFile(const std::string& file, int64_t dataOffset);

  // Undo and redo. `failed`: the step's files could not be read, do not
  // match their checksums, memory was refused, or the move could not be
  // written down; the sound and the history are as they were.
  enum class Travel { done, nothingThere, failed };
  Travel undo(HistoryStep& undone) { return travel(false, undone); }
  Travel redo(HistoryStep& redone) { return travel(true, redone); }

  // The sound, as it is now, is now the file with this stamp. Within a step
  // (a command that saves), what the step made so far becomes a step of
  // its own first, ending at `place`.
  Ended saved(const FileStamp& file, SoundPlace place);

  // The most the steps' files may take on the disk: the oldest steps go
  // first. Steps the saved file lacks stay whatever they take, so that
  // nothing unsaved is lost; overBudget() then says so.
  void setBudget(uint64_t bytes) { budget_ = bytes; }
  bool overBudget() const { return overBudget_; }

  const HistoryLog& log() const { return log_; }
  // True when the sound's frames and format are, step for step, those of
  // the file with stamp `file` as the history last knew it (opened from it
  // or saved into it), and nothing has changed since.
  bool holdsSavedFile(const FileStamp& file) const;

  void framesWillChange(const TAmostras& sound, int64_t first, int64_t end) override;
  void formatWillChange(const TAmostras& sound) override;
  void soundGoes(const TAmostras& sound) override;

 private:
  // The frames after a step, written ahead of its end from the step's
  // start on; put in place when the step ends.
  struct Ahead {
    FileReplacer out;
    int64_t written = 0;  // frames
    int64_t flushed = 0;  // frames on the disk
    uint32_t checksum = 0;  // of the frames written
  };
  struct OpenStep {
    HistoryStep step;
    std::vector<SoundMarker> markersBefore;
    std::unique_ptr<Ahead> ahead;
    int64_t countBefore = 0;
    int64_t oldEnd = 0;  // start + oldLength of the frames kept so far
    uint32_t pieceFiles = 0;
    // The values of the pieces kept in the journal, beside step.oldPieces
    // (empty for a piece in a file of its own).
    std::vector<std::vector<int16_t>> pieceValues;
    // The scratch copy holds the sound as the step found it; once taken
    // in, the step's piece file number for it and a descriptor to flush it.
    bool copyUsable = false;
    std::optional<uint32_t> copyPiece;
    UniqueFd copyFd;
    int64_t copyFlushed = 0, copyBytes = 0;
    bool touched = false;
    bool failed = false;
  };

  Travel travel(bool forward, HistoryStep& moved);
  int64_t currentEnd() const;
  bool writeAheadPiece();
  std::string fileOf(uint32_t number, std::string_view part) const;
  std::string pieceFile(uint32_t number, uint32_t piece) const;
  std::string fileOfPiece(const HistoryStep& step, const HistoryStep::Piece& piece) const;
  void keepOldFrames(const TAmostras& sound, int64_t first, int64_t end, int64_t oldFirst, bool atFront);
  std::optional<uint32_t> takeInCopy();
  bool flushCopy(bool all);
  bool keepFrames(const TAmostras& sound, int64_t first, int64_t end, const std::string& file);
  bool readFrames(const std::string& file, int64_t skip, std::span<int16_t> into) const;
  bool holdsFrames(const std::string& file, int64_t skip, int64_t bytes, std::optional<uint32_t> checksum) const;
  bool stepFilesHold(const HistoryStep& step, bool forward) const;
  bool putStretch(const HistoryStep& step, bool forward);
  void putMarkers(const HistoryStep& step, bool forward);
  bool write(const std::vector<uint8_t>& record);
  void removeFilesOf(const HistoryStep& step);
  void keepToBudget();
  void startAgain();

  TAmostras* sound_ = nullptr;
  std::string folder_;
  UniqueFd lock_;
  JournalWriter journal_;
  HistoryLog log_;
  std::unique_ptr<OpenStep> open_;
  struct SoundCopy {
    std::string file;
    int64_t dataOffset = 0;
    uint64_t changes = 0;  // changes_ when it was made
  };
  std::optional<SoundCopy> copy_;
  uint64_t changes_ = 0;  // the changes the history has been told of
  uint64_t budget_ = UINT64_MAX;
  bool overBudget_ = false;
};

}  // namespace kalimbro
