// The edit history against a real folder: steps made of several changes,
// undone and redone to the exact values, and the journal read back as the
// same log.
#include "history/editHistory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "tests/fakes/file_folder_test.h"
#include "tests/fakes/recording_disk.h"

namespace kalimbro {
namespace {

std::vector<int16_t> valuesOf(const TAmostras& s) { return {s.samples().begin(), s.samples().end()}; }

void fill(TAmostras& s, int32_t channels, int64_t frames) {
  s.createSized(channels, 8000, 16, frames);
  std::span<int16_t> v = s.samplesToChange();
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>(i * 7 - 3000);
}

class History : public FileFolderTest {
 protected:
  void SetUp() override {
    FileFolderTest::SetUp();
    fill(sound, 2, 3000);
    ASSERT_TRUE(history.start(sound, path("historia/"), FileStamp{1, 2, 3}));
  }
  // The changes `change` makes are one step.
  void step(std::string_view name, const std::function<void()>& change) {
    history.beginStep(name, {10, 20});
    change();
    ASSERT_EQ(history.endStep({30, 40}), EditHistory::Ended::recorded);
  }

  TAmostras sound;
  EditHistory history;
};

TEST_F(History, StepsOfSeveralChangesAreUndoneAndRedoneToTheValue) {
  std::vector<std::vector<int16_t>> states{valuesOf(sound)};
  // A change in the middle, then one before it and one after it: the
  // frames kept grow at both ends.
  // What is written ahead while the user listens is thrown away by a later
  // change, and taken when none follows.
  const auto writeAhead = [&] {
    int pieces = 0;
    while (history.writeAhead()) ++pieces;
    return pieces;
  };
  step("KLPEFEIT", [&] {
    sound.applyGainRamp(1000, 1999, 0.5L, 0.5L);
    EXPECT_GT(writeAhead(), 0) << "nothing was written ahead";
    sound.deleteRange(500, 100);
    sound.insertSilence(2500, 300);
    sound.setFrame(3400, packFrame(5, 6));  // past the end: grows
    writeAhead();
  });
  states.push_back(valuesOf(sound));
  step("KLPREMOV", [&] { sound.deleteRange(0, 10); });
  states.push_back(valuesOf(sound));
  // A copy of the sound written beforehand is kept as the frames before,
  // and outlives its own name.
  ASSERT_TRUE(sound.saveWav(path("copia.wav")));
  history.soundIsInFile(path("copia.wav"), 44);
  step("KLPEFEIT", [&] {
    sound.applyGainRamp(0, sound.count() - 1, 0.5L, 0.5L);
    writeAhead();
    sound.applyGainRamp(0, sound.count() - 1, 3.0L, 3.0L);  // the same stretch, other values
  });
  states.push_back(valuesOf(sound));
  ASSERT_EQ(history.log().steps.back().oldPieces.size(), 1u);
  EXPECT_EQ(history.log().steps.back().oldPieces[0].skip, 44);
  std::filesystem::remove(path("copia.wav"));
  // Whole runs and a change of channels.
  step("KLPMUDAN", [&] {
    sound.samplesToChange()[3] = 99;
    sound.setChannels(1);
  });
  states.push_back(valuesOf(sound));
  // Takes added one after another, written ahead between them.
  step("KLPGRAVA", [&] {
    TAmostras take;
    fill(take, 1, 500);
    sound.append(take);
    writeAhead();
    sound.append(take);
  });
  states.push_back(valuesOf(sound));
  step("KLPMIXA", [&] {
    TAmostras other;
    fill(other, 1, 700);
    sound.mixAt(other, sound.count() - 200, 0.5L, 0.5L);
  });
  states.push_back(valuesOf(sound));

  HistoryStep moved;
  for (size_t i = states.size() - 1; i > 0; --i) {
    ASSERT_EQ(history.undo(moved), EditHistory::Travel::done);
    EXPECT_EQ(valuesOf(sound), states[i - 1]) << "undo back to state " << i - 1;
    EXPECT_EQ(moved.placeBefore, (SoundPlace{10, 20}));
  }
  EXPECT_EQ(sound.channels(), 2);
  EXPECT_EQ(history.undo(moved), EditHistory::Travel::nothingThere);
  for (size_t i = 1; i < states.size(); ++i) {
    ASSERT_EQ(history.redo(moved), EditHistory::Travel::done) << "redo " << i;
    EXPECT_EQ(valuesOf(sound), states[i]) << "redo to state " << i;
  }
  EXPECT_EQ(history.redo(moved), EditHistory::Travel::nothingThere);
  EXPECT_EQ(moved.name, "KLPMIXA");
  EXPECT_EQ(moved.placeAfter, (SoundPlace{30, 40}));

  // Frames that cannot be read back leave the sound as it was: the mix's
  // few frames before lie in the journal, cut here.
  const HistoryStep& mix = history.log().steps.back();
  ASSERT_EQ(mix.oldPieces.size(), 1u);
  ASSERT_EQ(mix.oldPieces[0].file, HistoryStep::kInJournal);
  std::filesystem::resize_file(path("historia/diario"), static_cast<uintmax_t>(mix.oldPieces[0].skip));
  EXPECT_EQ(history.undo(moved), EditHistory::Travel::failed);
  EXPECT_EQ(valuesOf(sound), states.back());
}

// A step that changes only the format, on a sound with frames or none yet,
// keeps every frame as it was and goes back and forth like any other.
TEST_F(History, AStepOfTheFormatAloneIsUndoneAndRedone) {
  for (const int64_t frames : {3000, 0}) {
    SCOPED_TRACE(frames);
    fill(sound, 2, frames);
    ASSERT_TRUE(history.start(sound, path("historia/"), FileStamp{1, 2, 3}));
    const std::vector<int16_t> values = valuesOf(sound);
    step("KLPMUDAN", [&] { sound.setSampleRate(16000); });
    HistoryStep moved;
    ASSERT_EQ(history.undo(moved), EditHistory::Travel::done);
    EXPECT_EQ(sound.sampleRate(), 8000);
    ASSERT_EQ(history.redo(moved), EditHistory::Travel::done);
    EXPECT_EQ(sound.sampleRate(), 16000);
    EXPECT_EQ(valuesOf(sound), values);
  }
}

TEST_F(History, TheJournalReadsBackAsTheLogAndANewStepDropsTheUndoneOnes) {
  step("KLPREMOV", [&] { sound.deleteRange(0, 100); });
  // Saved by the command itself: the file holds the first change, not the
  // second.
  step("KLPREMOV", [&] {
    sound.deleteRange(0, 200);
    history.saved(FileStamp{7, 8, 9}, {});
    sound.deleteRange(0, 300);
  });
  EXPECT_EQ(history.log().savedPosition, std::optional<size_t>(2));
  HistoryStep moved;
  ASSERT_EQ(history.undo(moved), EditHistory::Travel::done);
  ASSERT_EQ(history.undo(moved), EditHistory::Travel::done);
  ASSERT_EQ(history.undo(moved), EditHistory::Travel::done);
  step("KLPMIXA", [&] { sound.insertSilence(5, 5); });
  // The removals are gone, and the saved file holds none of the steps left.
  const HistoryLog& log = history.log();
  ASSERT_EQ(log.steps.size(), 1u);
  EXPECT_EQ(log.position, 1u);
  EXPECT_FALSE(log.savedPosition.has_value());

  const std::optional<JournalContents> journal = readJournal(path("historia/diario"));
  ASSERT_TRUE(journal.has_value());
  const HistoryLog replayed = replayHistory(journal->records);
  EXPECT_EQ(replayed.position, log.position);
  EXPECT_EQ(replayed.savedPosition, log.savedPosition);
  EXPECT_EQ(replayed.savedFile, log.savedFile);
  ASSERT_EQ(replayed.steps.size(), 1u);
  EXPECT_EQ(replayed.steps[0].name, "KLPMIXA");
  EXPECT_EQ(replayed.steps[0].newLength, 5);

  // A marker in removed frames comes back with undo, with its name, under
  // a new number when its own was taken meanwhile, and goes again with
  // redo; the journal keeps it.
  sound.placeMarker(50);
  sound.placeMarker(400);
  ASSERT_TRUE(sound.nameMarker(1, "Entrevista"));
  step("KLPREMOV", [&] { sound.deleteRange(40, 20); });
  EXPECT_EQ(sound.markers(), (std::vector<SoundMarker>{{2, 380}}));
  ASSERT_EQ(history.undo(moved), EditHistory::Travel::done);
  EXPECT_EQ(sound.markers(), (std::vector<SoundMarker>{{1, 50, "Entrevista"}, {2, 400}}));
  ASSERT_EQ(history.redo(moved), EditHistory::Travel::done);
  EXPECT_EQ(sound.markers(), (std::vector<SoundMarker>{{2, 380}}));
  sound.setMarkers({{1, 10}, {2, 380}});
  ASSERT_EQ(history.undo(moved), EditHistory::Travel::done);
  EXPECT_EQ(sound.markers(), (std::vector<SoundMarker>{{1, 10}, {3, 50, "Entrevista"}, {2, 400}}));
  std::vector<std::vector<uint8_t>> records = readJournal(path("historia/diario"))->records;
  const HistoryLog again = replayHistory(records);
  ASSERT_EQ(again.steps.size(), 2u);
  EXPECT_EQ(again.steps[1].removedMarkers, (std::vector<SoundMarker>{{1, 50, "Entrevista"}}));
  // Written before markers had names, the step ends after their frames.
  const std::string name = std::string("\x0A\0\0\0", 4) + "Entrevista";
  const auto named = std::ranges::find_if(records, [&](const std::vector<uint8_t>& r) {
    return std::string(r.begin(), r.end()).ends_with(name);
  });
  ASSERT_NE(named, records.end());
  // A name that runs past the record's end is damage, not such a step.
  named->pop_back();
  const HistoryLog cut = replayHistory(records);
  EXPECT_EQ(cut.steps.size(), 1u);
  EXPECT_TRUE(cut.damagedEnd);
  named->resize(named->size() + 1 - name.size());
  EXPECT_EQ(replayHistory(records).steps[1].removedMarkers, (std::vector<SoundMarker>{{1, 50}}));
}

TEST_F(History, TheBudgetDropsOnlyStepsTheSavedFileHolds) {
  // Each removal keeps 100 stereo frames: 400 bytes.
  history.setBudget(1000);
  for (int i = 0; i < 3; ++i) step("KLPREMOV", [&] { sound.deleteRange(0, 100); });
  EXPECT_EQ(history.log().steps.size(), 3u) << "unsaved changes stay whatever they take";
  EXPECT_TRUE(history.overBudget());
  history.saved(FileStamp{4, 5, 6}, {});
  EXPECT_FALSE(history.overBudget());
  ASSERT_EQ(history.log().steps.size(), 2u);
  HistoryStep moved;
  EXPECT_EQ(history.undo(moved), EditHistory::Travel::done);
  EXPECT_EQ(history.undo(moved), EditHistory::Travel::done);
  EXPECT_EQ(history.undo(moved), EditHistory::Travel::nothingThere);
  EXPECT_EQ(sound.count(), 3000 - 100);
  const HistoryLog replayed = replayHistory(readJournal(path("historia/diario"))->records);
  EXPECT_EQ(replayed.steps.size(), 2u);
  EXPECT_EQ(replayed.position, 0u);
  EXPECT_EQ(replayed.savedPosition, std::optional<size_t>(2));
}

TEST_F(History, ADroppedStepAndAChangeOutsideAStepLeaveNothingToUndo) {
  history.beginStep("KLPEFEIT", {});
  const std::vector<int16_t> before = valuesOf(sound);
  sound.applyGainRamp(0, sound.count() - 1, 2.0L, 2.0L);
  EXPECT_TRUE(history.dropStep([&] {
    sound.samplesToChange();  // unwatched: no frames kept for it
    std::copy(before.begin(), before.end(), sound.samplesToChange().begin());
    return true;
  }));
  EXPECT_EQ(history.endStep({}), EditHistory::Ended::nothingChanged);
  HistoryStep moved;
  EXPECT_EQ(history.undo(moved), EditHistory::Travel::nothingThere);

  step("KLPREMOV", [&] { sound.deleteRange(0, 1); });
  // The history cannot follow a change made outside a step: it begins again.
  sound.deleteRange(0, 1);
  EXPECT_EQ(history.undo(moved), EditHistory::Travel::nothingThere);
  EXPECT_TRUE(history.active());
  EXPECT_FALSE(history.log().savedPosition.has_value());
}

// A step is on the disk, its files, their names and its record, before it
// is reported recorded; a disk that refuses any one call of it makes it
// fail and the history start again from the sound the command made. An
// undo or redo that cannot be written down says so and leaves the sound
// and the history as they were, every step still there to undo.
TEST_F(History, StepsAreOnTheDiskWhenRecordedAndARefusedMoveKeepsTheHistory) {
  // Large enough for the frames before a change of all of it to take a
  // file of their own.
  fill(sound, 2, 270000);
  ASSERT_TRUE(history.start(sound, path("historia/"), FileStamp{1, 2, 3}));
  std::vector<int16_t> first;
  RecordingDisk disk;
  int calls = 0;
  for (int nth = 1;; ++nth) {
    SCOPED_TRACE("step, call " + std::to_string(nth));
    first = valuesOf(sound);
    disk.failCall(nth, nth % 2 ? EIO : ENOSPC);
    history.beginStep("KLPEFEIT", {});
    sound.applyGainRamp(0, sound.count() - 1, 0.5L, 0.5L);
    const std::vector<int16_t> made = valuesOf(sound);
    const EditHistory::Ended ended = history.endStep({});
    EXPECT_EQ(valuesOf(sound), made);
    if (!disk.hit()) {
      ASSERT_EQ(ended, EditHistory::Ended::recorded);
      EXPECT_EQ(disk.unsyncedFiles(), std::vector<std::string>{});
      EXPECT_EQ(disk.unsyncedFolders(), std::vector<std::string>{});
      break;
    }
    calls = nth;
    EXPECT_EQ(ended, EditHistory::Ended::failed);
    EXPECT_TRUE(history.active());
    EXPECT_TRUE(history.log().steps.empty()) << "the history starts again";
  }
  EXPECT_GE(calls, 10) << "two files of frames and a record";
  disk.failCall(0);
  step("KLPREMOV", [&] { sound.deleteRange(0, 10); });
  std::vector<std::vector<int16_t>> states = {valuesOf(sound)};
  HistoryStep moved;
  ASSERT_EQ(history.undo(moved), EditHistory::Travel::done);
  states.insert(states.begin(), valuesOf(sound));
  for (const bool forward : {true, false}) {
    for (int nth = 1;; ++nth) {
      SCOPED_TRACE((forward ? "redo, call " : "undo, call ") + std::to_string(nth));
      const std::vector<int16_t> was = valuesOf(sound);
      const size_t position = history.log().position;
      disk.failCall(nth, nth % 2 ? EIO : ENOSPC);
      const EditHistory::Travel travelled = forward ? history.redo(moved) : history.undo(moved);
      if (!disk.hit()) {
        ASSERT_EQ(travelled, EditHistory::Travel::done);
        EXPECT_EQ(disk.unsyncedFiles(), std::vector<std::string>{});
        break;
      }
      EXPECT_EQ(travelled, EditHistory::Travel::failed);
      EXPECT_EQ(valuesOf(sound), was);
      EXPECT_EQ(history.log().position, position);
      EXPECT_EQ(replayHistory(*readJournal(path("historia/diario"))).position, position);
    }
  }
  disk.failCall(0);
  EXPECT_EQ(valuesOf(sound), states[0]);
  ASSERT_EQ(history.undo(moved), EditHistory::Travel::done);
  EXPECT_EQ(valuesOf(sound), first);

  // Moved with its sound to another folder: a refused call leaves the
  // history where it was; a move reported done has both names on the disk.
  ASSERT_TRUE(std::filesystem::create_directory(path("outra")));
  for (int nth = 1;; ++nth) {
    SCOPED_TRACE("move, call " + std::to_string(nth));
    disk.failCall(nth);
    const bool movedThere = history.moveTo(path("outra/historia/"));
    if (!disk.hit()) {
      ASSERT_TRUE(movedThere);
      EXPECT_TRUE(disk.folderSynced(path("outra")));
      EXPECT_TRUE(disk.folderSynced(dir_));
      EXPECT_EQ(disk.unsyncedFolders(), std::vector<std::string>{});
      EXPECT_GE(nth, 4) << "a rename and two folder syncs were refused on the way";
      break;
    }
    EXPECT_FALSE(movedThere);
    EXPECT_TRUE(std::filesystem::exists(path("historia/diario")));
    EXPECT_FALSE(std::filesystem::exists(path("outra/historia")));
  }
  disk.failCall(0);
  EXPECT_EQ(replayHistory(*readJournal(path("outra/historia/diario"))).steps.size(), 2u);
  ASSERT_EQ(history.redo(moved), EditHistory::Travel::done);
  EXPECT_EQ(valuesOf(sound), states[0]);
}

// Flips one bit of the file at `at` bytes from its end.
void damage(const std::string& file, std::streamoff fromEnd) {
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  f.seekg(-fromEnd, std::ios::end);
  const char c = static_cast<char>(f.get());
  f.seekp(-fromEnd, std::ios::end);
  f.put(static_cast<char>(c ^ 0x10));
}

// The folder the history was kept aside in, beside it.
std::optional<std::filesystem::path> asideFolder(const std::string& dir) {
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string().starts_with("historia-")) return e.path();
  return std::nullopt;
}

// A run ends without saving; the next loads the saved file again and
// resumes: the steps come back up to the first whose frames do not match
// their checksums, and undo and redo go on over the journal as replayed.
TEST_F(History, AfterACrashTheStepsComeBackUpToTheFirstThatFailsItsChecksum) {
  // Large enough for the frames before a change of all of it to take a
  // file of their own.
  fill(sound, 2, 300000);
  ASSERT_TRUE(history.start(sound, path("historia/"), FileStamp{1, 2, 3}));
  std::vector<std::vector<int16_t>> states{valuesOf(sound)};
  step("KLPREMOV", [&] { sound.deleteRange(0, 10); });
  step("KLPEFEIT", [&] { sound.applyGainRamp(0, sound.count() - 1, 0.5L, 0.5L); });
  step("KLPMIXA", [&] { sound.insertSilence(50, 100); });
  step("KLPREMOV", [&] { sound.deleteRange(1000, 500); });
  states.resize(5);
  ASSERT_EQ(history.log().steps[1].oldPieces[0].file, 0u) << "a file of its own";
  ASSERT_EQ(history.log().steps[3].oldPieces[0].file, HistoryStep::kInJournal);
  HistoryStep moved;
  for (size_t i = 4; i > 0; --i) {
    states[i] = valuesOf(sound);
    ASSERT_EQ(history.undo(moved), EditHistory::Travel::done);
  }
  for (size_t i = 1; i <= 4; ++i) ASSERT_EQ(history.redo(moved), EditHistory::Travel::done);
  const auto crashAndLoadTheSavedFile = [&] {
    history.close();
    sound.createSized(2, 8000, 16, static_cast<int64_t>(states[0].size() / 2));
    std::ranges::copy(states[0], sound.samplesToChange().begin());
  };

  crashAndLoadTheSavedFile();
  std::optional<Resumed> resumed = history.resume(sound, path("historia/"));
  ASSERT_TRUE(resumed.has_value());
  EXPECT_TRUE(resumed->all());
  EXPECT_EQ(resumed->place, (SoundPlace{30, 40})) << "where the last step left the cursor";
  EXPECT_EQ(valuesOf(sound), states[4]);
  // Frames read from the journal and from files, at the places replayed.
  for (size_t i = 4; i > 0; --i) {
    ASSERT_EQ(history.undo(moved), EditHistory::Travel::done) << i;
    EXPECT_EQ(valuesOf(sound), states[i - 1]) << "undo back to state " << i - 1;
  }
  for (size_t i = 1; i <= 4; ++i) ASSERT_EQ(history.redo(moved), EditHistory::Travel::done);

  // The third step's frames after, damaged where their size does not show.
  damage(path("historia/3-depois"), 7);
  // A journal that refuses the record of where the sound stopped: nothing
  // comes back, and the history is not left open as though it had.
  crashAndLoadTheSavedFile();
  {
    RecordingDisk disk;
    disk.failCall(1, EIO, [](const DiskCallSeen& c) {
      return c.kind == DiskCall::writeAt && c.name.ends_with("/diario");
    });
    EXPECT_FALSE(history.resume(sound, path("historia/")).has_value());
    EXPECT_TRUE(disk.hit());
    EXPECT_FALSE(history.active());
  }
  std::filesystem::remove_all(asideFolder(dir_).value());
  crashAndLoadTheSavedFile();
  resumed = history.resume(sound, path("historia/"));
  ASSERT_TRUE(resumed.has_value());
  EXPECT_EQ(resumed->brought, 2u);
  EXPECT_EQ(resumed->left, 4u);
  EXPECT_FALSE(resumed->all());
  EXPECT_EQ(valuesOf(sound), states[2]);
  EXPECT_EQ(history.log().position, 2u);
  // The history as found, kept aside whole; nothing of it was removed.
  const std::optional<std::filesystem::path> aside = asideFolder(dir_);
  ASSERT_TRUE(aside.has_value());
  EXPECT_EQ(resumed->aside, aside->string() + "/");
  const std::optional<JournalContents> asideJournal = readJournal(*aside / "diario");
  ASSERT_TRUE(asideJournal.has_value());
  EXPECT_EQ(replayHistory(*asideJournal).position, 4u);
  EXPECT_TRUE(std::filesystem::exists(*aside / "3-depois"));
  EXPECT_TRUE(std::filesystem::exists(*aside / "2-antes-0"));
  // Redo does not take the damaged frames for good ones either.
  EXPECT_EQ(history.redo(moved), EditHistory::Travel::failed);
  EXPECT_EQ(valuesOf(sound), states[2]);
  // Nor does undo.
  damage(path("historia/2-antes-0"), 3);
  EXPECT_EQ(history.undo(moved), EditHistory::Travel::failed);
  EXPECT_EQ(valuesOf(sound), states[2]);

  // A damaged end of the journal may have taken steps with it: what it
  // still tells comes back, and the whole is kept aside.
  std::filesystem::remove_all(*aside);
  std::ofstream(path("historia/diario"), std::ios::binary | std::ios::app) << std::string("\x02\0\0\0UUnocrc", 10);
  history.close();
  const std::optional<LeftChanges> left = findLeftChanges(path("historia/"), FileStamp{1, 2, 3});
  ASSERT_TRUE(left.has_value());
  EXPECT_TRUE(left->log.damagedEnd);
  crashAndLoadTheSavedFile();
  resumed = history.resume(sound, path("historia/"));
  ASSERT_TRUE(resumed.has_value());
  EXPECT_EQ(resumed->brought, 2u) << "the sound was left after the second step";
  EXPECT_TRUE(resumed->damagedEnd);
  EXPECT_FALSE(resumed->all());
  EXPECT_TRUE(asideFolder(dir_).has_value());
}

// A journal written before the steps kept checksums: its steps come back
// unchecked.
TEST_F(History, AJournalWithoutChecksumsStillComesBack) {
  history.close();
  std::filesystem::remove_all(path("historia/"));
  std::filesystem::create_directory(path("historia/"));
  const auto le = [](std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  };
  std::string origin = "O";
  le(origin, 100, 8);
  origin.push_back(1);
  for (const uint64_t v : {1, 2, 3}) le(origin, v, 8);
  // Mono, 8000 Hz: frames 1..2 (values 20, 30) became one frame, 99; the
  // frames before lie in the record itself.
  std::string step = "P";
  le(step, 1, 4);
  le(step, 200, 8);
  le(step, 8, 4);
  step += "KLPREMOV";
  for (const uint64_t v : {1, 2, 1}) le(step, v, 8);
  for (int side = 0; side < 2; ++side)
    for (const uint64_t v : {1, 8000, 16}) le(step, v, 4);
  for (const uint64_t v : {5, 6, 7, 8}) le(step, v, 4);
  le(step, 1, 4);
  const size_t valuesAt = step.size() + 20;
  le(step, HistoryStep::kInJournal, 4);
  le(step, 2, 8);
  le(step, valuesAt, 8);
  le(step, 20, 2);
  le(step, 30, 2);
  JournalWriter journal;
  ASSERT_TRUE(journal.open(path("historia/diario")));
  ASSERT_TRUE(journal.append(std::vector<uint8_t>(origin.begin(), origin.end())));
  ASSERT_TRUE(journal.append(std::vector<uint8_t>(step.begin(), step.end())));
  journal = JournalWriter();
  write("historia/1-depois", std::string("\x63\0", 2));

  sound.createSized(1, 8000, 16, 4);
  std::ranges::copy(std::vector<int16_t>{10, 20, 30, 40}, sound.samplesToChange().begin());
  const std::optional<Resumed> resumed = history.resume(sound, path("historia/"));
  ASSERT_TRUE(resumed.has_value());
  EXPECT_TRUE(resumed->all());
  EXPECT_EQ(valuesOf(sound), (std::vector<int16_t>{10, 99, 40}));
  HistoryStep moved;
  ASSERT_EQ(history.undo(moved), EditHistory::Travel::done);
  EXPECT_EQ(valuesOf(sound), (std::vector<int16_t>{10, 20, 30, 40}));
}

}  // namespace
}  // namespace kalimbro
