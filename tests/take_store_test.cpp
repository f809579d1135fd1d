#include "platform/take_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/paths.h"
#include "tests/fakes/recording_disk.h"

namespace kalimbro {
namespace {

namespace fs = std::filesystem;

class TakeStore : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kalimbro-takestore-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    setenv("XDG_STATE_HOME", (root_ / "state").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_STATE_HOME");
    fs::remove_all(root_);
  }

  static void writeTake(const std::string& name) { std::ofstream(nativePath(name)) << "RIFF"; }
  std::string sound() const { return (root_ / "voz.wav").string(); }

  fs::path root_;
};

TEST_F(TakeStore, ARunIsLeftOnlyOnceItsCommandIsGoneAndThenOffersItsTakesInOrder) {
  std::string first, second;
  {
    TakeRun running(sound());
    first = running.nextTakeFile();
    second = running.nextTakeFile();
    ASSERT_FALSE(first.empty());
    writeTake(first);
    writeTake(second);
    // A program still recording keeps its takes to itself.
    EXPECT_TRUE(findLeftTakeRuns().empty());
    // Its end takes them away.
  }
  EXPECT_FALSE(fs::exists(nativePath(first)));

  // What a killed command leaves: its folder, unlocked, with the takes.
  const fs::path left = fs::path(nativePath(soundStateDirectory(sound()))) / "gravacoes" / "20261208-091200-1";
  fs::create_directories(left);
  writeTake((left / "002.wav").string());
  writeTake((left / "001.wav").string());
  const fs::path empty = left.parent_path() / "20261208-091500-2";
  fs::create_directories(empty);

  std::vector<LeftTakeRun> runs = findLeftTakeRuns();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].soundFile, sound());
  ASSERT_EQ(runs[0].takeFiles.size(), 2u);
  EXPECT_EQ(fileNamePart(runs[0].takeFiles[0]), "001.wav");
  EXPECT_EQ(fileNamePart(runs[0].takeFiles[1]), "002.wav");
  EXPECT_FALSE(fs::exists(empty)) << "a run that kept nothing stays";
  // Another start meanwhile does not offer it a second time.
  EXPECT_TRUE(findLeftTakeRuns().empty());
  removeTakeRun(runs[0]);
  EXPECT_FALSE(fs::exists(left));
}

// A take outlives a power cut only if its name does: the folders that hold
// it are synced before a take file is handed out, and when one cannot be,
// no file is, while the takes before stay.
// Made, a sound's state folder and the program's above it have their names
// on the disk.
TEST_F(TakeStore, AStateFolderMadeHasItsNameOnTheDisk) {
  RecordingDisk disk;
  const fs::path folder = fs::path(nativePath(soundStateDirectory(sound()))).parent_path();
  ASSERT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(disk.folderSynced(folder.parent_path().string())) << "the sound's folder's name";
  EXPECT_TRUE(disk.folderSynced((root_ / "state").string())) << "the program's folder's name";
}

TEST_F(TakeStore, ATakeIsHandedOutOnlyOnceItsNameIsOnTheDisk) {
  RecordingDisk disk;
  for (int nth = 1;; ++nth) {
    SCOPED_TRACE("call " + std::to_string(nth));
    TakeRun running(sound());
    disk.failCall(nth);
    const std::string first = running.nextTakeFile();
    if (!first.empty()) writeTake(first);
    const std::string second = first.empty() ? std::string() : running.nextTakeFile();
    if (!disk.hit()) {
      ASSERT_FALSE(second.empty());
      const fs::path run = fs::path(nativePath(second)).parent_path();
      EXPECT_TRUE(disk.folderSynced(run.string()));
      EXPECT_TRUE(disk.folderSynced(run.parent_path().string())) << "the run's name";
      EXPECT_TRUE(disk.folderSynced(run.parent_path().parent_path().string())) << "the takes folder's name";
      EXPECT_EQ(disk.calls(), 4) << "the run folder twice, the folders above it once";
      break;
    }
    EXPECT_TRUE(second.empty());
    // Only the lock and the takes handed out are in the run's folder.
    const fs::path run = fs::path(nativePath(soundStateDirectory(sound()))) / "gravacoes";
    for (const fs::directory_entry& folder : fs::directory_iterator(run))
      for (const fs::directory_entry& file : fs::directory_iterator(folder.path()))
        EXPECT_TRUE(file.path().filename() == "em-uso" || file.path().string() == nativePath(first)) << file.path();
    if (!first.empty()) {
      std::ifstream in(nativePath(first));
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "RIFF");
    }
  }
}

}  // namespace
}  // namespace kalimbro
