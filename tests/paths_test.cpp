// The private temporary directory: where it is made when $TMPDIR cannot
// be used, and what a start removes of the directories killed runs left.
#include "platform/paths.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "tests/fakes/temp_places.h"

namespace kalimbro {
namespace {

namespace fs = std::filesystem;

// Each test gets a directory of its own for $TMPDIR and leaves the
// program's temporary directory, $TMPDIR and the system places as it found
// them.
class TempPlaces : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::optional<std::string>& saved = restored_.savedTmpdir();
    const std::string base = saved && !saved->empty() ? *saved : "/tmp";
    std::string pattern = base + "/paths_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    removeTempDirectory();
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }
  void useTmpdir(const std::string& value) {
    removeTempDirectory();
    setenv("TMPDIR", value.c_str(), 1);
  }

  RestoredTempPlaces restored_;
  std::string dir_;
};

TEST_F(TempPlaces, ATmpdirThatCannotBeUsedGivesWayToTheSystemPlaces) {
  const std::string fallback = dir_ + "/sistema";
  fs::create_directory(fallback);
  setSystemTempPlaces({dir_ + "/falta", fallback});
  const std::string readOnly = dir_ + "/somente-leitura";
  fs::create_directory(readOnly);
  chmod(readOnly.c_str(), 0500);
  std::vector<std::string> unusable = {"/nonexistent-kalimbro", "relativo", dir_ + "/arquivo"};
  std::ofstream(dir_ + "/arquivo") << "not a directory";
  // The superuser writes into a read-only directory all the same.
  if (geteuid() != 0) unusable.push_back(readOnly);
  for (const std::string& tmpdir : unusable) {
    useTmpdir(tmpdir);
    const std::string made = tempDirectory();
    EXPECT_EQ(made.rfind(fallback + "/kalimbro.", 0), 0u) << "TMPDIR=" << tmpdir << " gave " << made;
    EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(makeTempFile().rfind(made, 0), 0u);
  }
  useTmpdir(dir_);
  EXPECT_EQ(tempDirectory().rfind(dir_ + "/kalimbro.", 0), 0u);
}

TEST_F(TempPlaces, WithNowhereToMakeItThereIsNoTemporaryDirectoryAndNoNameInIt) {
  setSystemTempPlaces({dir_ + "/falta"});
  useTmpdir("/nonexistent-kalimbro");
  EXPECT_EQ(tempDirectory(), "");
  EXPECT_EQ(makeTempFile(), "");
  EXPECT_EQ(aliasFor(dir_ + "/x.wav", "x.wav"), "");
  EXPECT_TRUE(fs::is_empty(dir_));
}

// A killed run leaves its directory with the mark inside and nobody
// holding its lock; a running one holds the lock; a directory of the same
// kind of name without the mark is not the program's.
TEST_F(TempPlaces, AStartRemovesTheDirectoriesOfKilledRunsOnly) {
  setSystemTempPlaces({});
  useTmpdir(dir_);
  const std::string ours = tempDirectory();
  ASSERT_FALSE(ours.empty());
  const fs::path markFile = fs::path(ours) / ".kalimbro-em-uso";
  ASSERT_TRUE(fs::exists(markFile)) << "the mark a later start goes by";

  auto makeRun = [&](const std::string& name, bool marked) {
    const fs::path run = fs::path(dir_) / name;
    fs::create_directories(run / "nome.abcdef");
    std::ofstream(run / "WAVxyzxyz") << "take";
    fs::create_symlink(dir_ + "/fora.wav", run / "nome.abcdef" / "voz.wav");
    if (marked) std::ofstream(run / ".kalimbro-em-uso");
    return run;
  };
  std::ofstream(dir_ + "/fora.wav") << "the user's, reached through an alias";
  const fs::path killed = makeRun("kalimbro.morto1", true);
  const fs::path running = makeRun("kalimbro.vivo01", true);
  const fs::path unmarked = makeRun("kalimbro.semmar", false);
  const fs::path otherName = makeRun("kalimbro.longo-demais", true);
  const int runningLock = open(running.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(runningLock, LOCK_EX | LOCK_NB), 0);
  std::ofstream(dir_ + "/kalimbro.arquiv") << "a file, not a directory";
  fs::create_directory_symlink(killed.filename(), fs::path(dir_) / "kalimbro.ligado");

  removeLeftoverTempDirectories();
  EXPECT_FALSE(fs::exists(killed));
  EXPECT_TRUE(fs::exists(running / "WAVxyzxyz"));
  EXPECT_TRUE(fs::exists(unmarked / "WAVxyzxyz"));
  EXPECT_TRUE(fs::exists(otherName / "WAVxyzxyz"));
  EXPECT_TRUE(fs::exists(markFile)) << "this run's own directory";
  EXPECT_TRUE(fs::exists(dir_ + "/kalimbro.arquiv"));
  EXPECT_TRUE(fs::is_symlink(fs::path(dir_) / "kalimbro.ligado"));
  EXPECT_TRUE(fs::exists(dir_ + "/fora.wav")) << "a file an alias reached";

  close(runningLock);  // that run ends too
  removeLeftoverTempDirectories();
  EXPECT_FALSE(fs::exists(running));
  EXPECT_TRUE(fs::exists(markFile));
}

}  // namespace
}  // namespace kalimbro
