#include "platform/file_replacer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/piece_writer.h"
#include "tests/fakes/recording_disk.h"
#include "tests/fakes/replace_faults.h"
#include "tests/fakes/temp_config.h"

namespace kalimbro {
namespace {

class FileReplacerTest : public ::testing::Test {
 protected:
  size_t entries() const {
    return size_t(std::distance(std::filesystem::directory_iterator(dir_), {}));
  }
  TempConfigHome home;  // only for its temporary directory
  const std::string dir_ = home.path() + "/";
};

std::string readText(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(FileReplacerTest, ReplacesOnlyOnCommitAndKeepsPermissionsAndOwner) {
  const std::string target = dir_ + "som.wav";
  std::ofstream(target) << "old";
  chmod(target.c_str(), 0640);
  // Only the superuser can give the old file to another user.
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(target.c_str(), 4321, 4321), 0);
  }
  {
    FileReplacer out;
    ASSERT_TRUE(out.open(target));
    ASSERT_TRUE(out.write("new content", 11));
    EXPECT_EQ(entries(), 2u);  // the old file and the hidden new one
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
  }  // abandoned without commit
  EXPECT_EQ(entries(), 1u);
  {
    FileReplacer out;
    ASSERT_TRUE(out.open(target));
    ASSERT_TRUE(out.write("new content", 11));
    ASSERT_TRUE(out.commit());
  }
  std::ifstream in(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new content");
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
  }
  EXPECT_EQ(entries(), 1u);

  // What finishes the new file finds it whole and may change it (tags
  // written in place); should it fail, the old file stays alone.
  const auto saveTagged = [&](bool tagsWritten) {
    FileReplacer out;
    return out.open(target) && out.write("tagged", 6) && out.commit([&](const std::string& file) {
      const bool whole = readText(file) == "tagged";
      std::ofstream(file, std::ios::app) << " tags";
      return whole && tagsWritten;
    });
  };
  EXPECT_FALSE(saveTagged(false));
  EXPECT_EQ(readText(target), "new content");
  EXPECT_EQ(entries(), 1u);
  EXPECT_TRUE(saveTagged(true));
  EXPECT_EQ(readText(target), "tagged tags");
}

// Large files go to the disk in aligned pieces from a staging area, and the
// remainder at the end: pieces of every size, larger and smaller than that
// area, must come out in order and whole, with nothing after them.
TEST_F(FileReplacerTest, ALargeFileWrittenInPiecesOfEverySizeComesOutWhole) {
  std::string content(size_t{21} << 20, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7919) >> 5);
  content.resize(content.size() - 4051);
  const std::string target = dir_ + "longo.wav";
  FileReplacer out;
  ASSERT_TRUE(out.open(target));
  size_t done = 0;
  for (const size_t piece : {size_t{44}, size_t{1}, size_t{9} << 20, size_t{4096}, size_t{3} << 20, size_t{5}}) {
    ASSERT_TRUE(out.write(content.data() + done, piece));
    done += piece;
  }
  ASSERT_TRUE(out.write(content.data() + done, content.size() - done));
  // A header completed at the end, in a piece already on its way to the
  // disk, and the last bytes; nothing past the end.
  const std::string header = "RIFF and the sizes";
  ASSERT_TRUE(out.rewrite(0, header.data(), header.size()));
  ASSERT_TRUE(out.rewrite(content.size() - 3, "end", 3));
  EXPECT_FALSE(out.rewrite(content.size() - 2, "end", 3));
  content.replace(0, header.size(), header);
  content.replace(content.size() - 3, 3, "end");
  ASSERT_TRUE(out.commit());
  std::ifstream in(target, std::ios::binary);
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == content);
}

// A file system may take O_DIRECT and then refuse a write (here: memory
// and length not aligned): the piece goes through the cache instead.
TEST_F(FileReplacerTest, APieceRefusedInDirectModeIsWrittenThroughTheCache) {
  const int fd = open((dir_ + "direto.wav").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  if (fcntl(fd, F_SETFL, O_DIRECT) != 0) {
    close(fd);
    GTEST_SKIP() << "this file system refuses O_DIRECT at once";
  }
  const std::string content = "xRIFF and an odd number of bytes";
  const auto* bytes = reinterpret_cast<const uint8_t*>(content.data());
  EXPECT_TRUE(writeWholeAt(fd, bytes + 1, content.size() - 1, 0));
  EXPECT_FALSE(fcntl(fd, F_GETFL) & O_DIRECT);
  close(fd);
  std::ifstream in(dir_ + "direto.wav", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content.substr(1));
}

TEST_F(FileReplacerTest, ReplacesTheFileAtTheEndOfAChainOfSymbolicLinks) {
  namespace fs = std::filesystem;
  auto save = [](const std::string& name, const std::string& content) {
    FileReplacer out;
    return out.open(name) && out.write(content.data(), content.size()) && out.commit();
  };
  std::ofstream(dir_ + "real.wav") << "old";
  ASSERT_EQ(symlink("real.wav", (dir_ + "link.wav").c_str()), 0);
  ASSERT_TRUE(save(dir_ + "link.wav", "new"));
  EXPECT_TRUE(fs::is_symlink(dir_ + "link.wav"));
  EXPECT_EQ(readText(dir_ + "real.wav"), "new");

  // The last file of the chain is not there yet, and each link is read
  // from its own directory.
  fs::create_directories(dir_ + "a/b");
  ASSERT_EQ(symlink("a/meio.wav", (dir_ + "primeiro.wav").c_str()), 0);
  ASSERT_EQ(symlink("b/ultimo.wav", (dir_ + "a/meio.wav").c_str()), 0);
  ASSERT_TRUE(save(dir_ + "primeiro.wav", "made at the end"));
  EXPECT_TRUE(fs::is_symlink(dir_ + "primeiro.wav"));
  EXPECT_TRUE(fs::is_symlink(dir_ + "a/meio.wav"));
  EXPECT_EQ(readText(dir_ + "a/b/ultimo.wav"), "made at the end");

  // Links that lead nowhere are not replaced by a file.
  ASSERT_EQ(symlink("volta.wav", (dir_ + "ida.wav").c_str()), 0);
  ASSERT_EQ(symlink("ida.wav", (dir_ + "volta.wav").c_str()), 0);
  EXPECT_FALSE(save(dir_ + "ida.wav", "nowhere"));
  EXPECT_TRUE(fs::is_symlink(dir_ + "ida.wav"));
  EXPECT_TRUE(fs::is_symlink(dir_ + "volta.wav"));
}

// A save killed halfway leaves its hidden file, unlocked; a save under way
// holds the lock on its own. A start removes the first kind only, and
// never a file of the user that merely looks like one.
TEST_F(FileReplacerTest, AStartRemovesTheHiddenFilesOfKilledSavesOnly) {
  namespace fs = std::filesystem;
  std::ofstream(dir_ + "som.wav") << "old";
  fs::create_directory(dir_ + "real");
  ASSERT_EQ(symlink("real/longe.wav", (dir_ + "ligado.wav").c_str()), 0);
  std::ofstream(dir_ + "outro.wav") << "the user's";
  const std::string killedHere = createHiddenSibling(dir_ + "som.wav").name;
  const std::string killedThere = createHiddenSibling(dir_ + "real/longe.wav").name;
  ASSERT_FALSE(killedHere.empty());
  ASSERT_EQ(fs::path(killedHere).filename().string().rfind(".som.wav.", 0), 0u) << killedHere;
  const std::vector<std::string> lookAlikes = {".som.wav.backup", ".bashrc.backup", ".som.wav.kalimbro-ABCDEFGHIJ",
                                               ".som.wav.kalimbro-0123", "som.wav.kalimbro-0123456789"};
  for (const std::string& name : lookAlikes) std::ofstream(dir_ + name) << "the user's";
  // The right name, but a link (to a file of the user) and a directory.
  ASSERT_EQ(symlink("outro.wav", (dir_ + ".outro.wav.kalimbro-0123456789").c_str()), 0);
  fs::create_directory(dir_ + ".pasta.kalimbro-0123456789");

  FileReplacer running;
  ASSERT_TRUE(running.open(dir_ + "som.wav"));
  ASSERT_TRUE(running.write("new", 3));

  const size_t before = entries();
  removeLeftoversBeside(dir_ + "ligado.wav");  // the link and where it leads
  EXPECT_FALSE(fs::exists(killedHere));
  EXPECT_FALSE(fs::exists(killedThere));
  EXPECT_EQ(entries(), before - 1);
  for (const std::string& name : lookAlikes) EXPECT_EQ(readText(dir_ + name), "the user's") << name;
  EXPECT_EQ(readText(dir_ + ".outro.wav.kalimbro-0123456789"), "the user's");
  EXPECT_TRUE(fs::is_directory(dir_ + ".pasta.kalimbro-0123456789"));

  ASSERT_TRUE(running.commit());  // its hidden file was left alone
  EXPECT_EQ(readText(dir_ + "som.wav"), "new");
}

TEST_F(FileReplacerTest, FailsWithoutADirectory) {
  FileReplacer out;
  EXPECT_FALSE(out.open(dir_ + "missing/som.wav"));
  EXPECT_FALSE(out.write("x", 1));
  EXPECT_FALSE(out.commit());
  EXPECT_FALSE(out.open(dir_));  // a directory is not a sound file
}

// A disk that refuses any one write, flush or rename: the save says so, and
// the old file is all there is, as it was. A file of more than one staging
// area goes partly through the writer thread where the disk takes direct
// writes.
TEST_F(FileReplacerTest, EveryRefusedStepIsReportedAndLeavesOnlyTheOldFile) {
  std::string content((size_t{8} << 20) + 5000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7919) >> 5);
  const std::string target = dir_ + "som.wav";
  std::ofstream(target) << "old";
  auto save = [&](FlushToDisk flush) {
    FileReplacer out;
    return out.open(target, flush) && out.write(content.data(), 44) &&
           out.write(content.data() + 44, content.size() - 44) && out.commit();
  };
  const ReplaceFaultRuns durable = expectFailedSavesChangeNothing({dir_}, [&] { return save(FlushToDisk::yes); });
  EXPECT_GE(durable.writes, 2);
  EXPECT_EQ(durable.flushes, 1);
  EXPECT_EQ(durable.renames, 1);
  EXPECT_TRUE(readText(target) == content);

  content[0] = 'S';
  const ReplaceFaultRuns scratch = expectFailedSavesChangeNothing({dir_}, [&] { return save(FlushToDisk::no); });
  EXPECT_GE(scratch.writes, 2);
  EXPECT_EQ(scratch.flushes, 0);  // a scratch copy does not wait for the disk
  EXPECT_EQ(scratch.renames, 1);
  EXPECT_TRUE(readText(target) == content);

  // Every call of a durable save, each refused in turn: a save that says
  // it is done has its bytes and its name on the disk; any other says it
  // failed, and only the last call, the sync of the folder after the
  // rename, may leave the new version in place, whole.
  content.resize(5000);
  RecordingDisk disk;
  for (const FlushToDisk flush : {FlushToDisk::yes, FlushToDisk::yesThroughCache}) {
    int calls = 0;
    for (int nth = 1;; ++nth) {
      SCOPED_TRACE("call " + std::to_string(nth) + (flush == FlushToDisk::yes ? " direct" : " through the cache"));
      const std::string before = readText(target);
      content[0] = static_cast<char>(content[0] + 1);
      disk.failCall(nth, nth % 2 ? EIO : ENOSPC);
      const bool saved = save(flush);
      EXPECT_EQ(entries(), 1u) << "a new version left beside the old";
      if (!disk.hit()) {
        ASSERT_TRUE(saved);
        EXPECT_EQ(disk.unsyncedFiles(), std::vector<std::string>{});
        EXPECT_EQ(disk.unsyncedFolders(), std::vector<std::string>{});
        EXPECT_TRUE(readText(target) == content);
        EXPECT_EQ(disk.calls(), calls);
        break;
      }
      calls = disk.calls();
      EXPECT_FALSE(saved);
      const std::string now = readText(target);
      EXPECT_TRUE(now == before || (nth == calls && now == content)) << now.size() << " bytes";
    }
    EXPECT_GE(calls, 4) << "writes, the flush, the rename and the folder";
  }
}

}  // namespace
}  // namespace kalimbro
