// The edit history against a real folder: steps made of several changes,
// undone and redone to the exact values, and the journal read back as the
// same log.
#include "sound/editHistory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/fakes/file_folder_test.h"

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
    while (history.writeAhead()) {
    }
  };
  step("KLPEFEIT", [&] {
    sound.applyGainRamp(1000, 1999, 0.5L, 0.5L);
    writeAhead();
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
  named->resize(named->size() - name.size());
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

}  // namespace
}  // namespace kalimbro
