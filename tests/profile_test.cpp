#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/fakes/replace_faults.h"
#include "tests/fakes/temp_config.h"

namespace kalimbro {
namespace {

namespace fs = std::filesystem;

class Profile : public ::testing::Test {
 protected:
  std::string file(std::string_view name = "sub/dir/test.ini") const {
    return home.path() + "/" + std::string(name);
  }
  static void writeRaw(const std::string& path, std::string_view content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::string readRaw(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  TempConfigHome home;  // only for its temporary directory
};

TEST_F(Profile, WriteCreatesDirectoryFileAndSectionInUtf8) {
  ASSERT_TRUE(profileWrite(file(), "KALIMBRO", "DIRKALIMBRO", "/m\xFAsica/a\xE7\xE3o"));
  EXPECT_EQ(readRaw(file()), "[KALIMBRO]\nDIRKALIMBRO=/m\xC3\xBAsica/a\xC3\xA7\xC3\xA3o\n");
  EXPECT_EQ(profileRead(file(), "kalimbro", "dirkalimbro"), "/m\xFAsica/a\xE7\xE3o");
  ASSERT_TRUE(profileWrite(file(), "kalimbro", "dirKalimbro", "outro"));
  ASSERT_TRUE(profileWrite(file(), "Video", "CORLETRA", "14"));
  EXPECT_EQ(readRaw(file()), "[KALIMBRO]\nDIRKALIMBRO=outro\n\n[Video]\nCORLETRA=14\n");
  // No temporary file is left beside it.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(fs::path(file()).parent_path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST_F(Profile, OtherLinesAreKeptByteForByte) {
  const std::string before =
      "\xEF\xBB\xBF; coment\xC3\xA1rio \xE6\x97\xA5\r\n"
      "[VIDEO]\r\n"
      "  CorLetra = 7  \r\n"
      "strange line without equals\r\n"
      "\r\n"
      "[TRADUTOR]\r\n"
      "VELOCIDADE=3\r\n"
      "[video]\r\n"
      "FONTE=Courier";
  writeRaw(file(), before);
  EXPECT_EQ(profileRead(file(), "video", "corletra"), "7");
  EXPECT_EQ(profileRead(file(), "VIDEO", "FONTE"), "Courier");  // a second [video] is read too
  ASSERT_TRUE(profileWrite(file(), "VIDEO", "CORLETRA", "12"));
  ASSERT_TRUE(profileWrite(file(), "VIDEO", "CORFUNDO", "1"));
  ASSERT_TRUE(profileWrite(file(), "TRADUTOR", "SAPI", "N"));
  EXPECT_EQ(readRaw(file()),
            "\xEF\xBB\xBF; coment\xC3\xA1rio \xE6\x97\xA5\r\n"
            "[VIDEO]\r\n"
            "CorLetra=12\r\n"
            "strange line without equals\r\n"
            "CORFUNDO=1\r\n"
            "\r\n"
            "[TRADUTOR]\r\n"
            "VELOCIDADE=3\r\n"
            "SAPI=N\r\n"
            "[video]\r\n"
            "FONTE=Courier");
}

TEST_F(Profile, ReadingValues) {
  writeRaw(file(),
           "KEY=outside any section\n"
           "[A]\n"
           ";KEY=commented\n"
           "QUOTED=\"c:/program files/lame\"\n"
           "HALF=\"abc\n"
           "LONG=" + std::string(300, 'x') + "\n"
           "OLD=a\xE7\xE3o\n"  // a Windows-1252 file from an older program
           "[B]\n"
           "KEY=b\n");
  EXPECT_EQ(profileRead(file(), "A", "KEY", "none"), "none");
  EXPECT_EQ(profileRead(file(), "A", "QUOTED"), "c:/program files/lame");
  EXPECT_EQ(profileRead(file(), "A", "HALF"), "\"abc");
  EXPECT_EQ(profileRead(file(), "A", "LONG").size(), 255u);
  EXPECT_EQ(profileRead(file(), "A", "LONG", {}, 10), std::string(10, 'x'));
  EXPECT_EQ(profileRead(file(), "A", "OLD"), "a\xE7\xE3o");
  EXPECT_EQ(profileRead(file(), "B", "KEY"), "b");
  EXPECT_EQ(profileRead(file("missing.ini"), "B", "KEY", "dflt"), "dflt");
}

TEST_F(Profile, AValueCannotAddLines) {
  ASSERT_TRUE(profileWrite(file(), "A", "K", "x\n[B]\r\nL=y"));
  EXPECT_EQ(profileRead(file(), "B", "L"), "");
  EXPECT_EQ(profileRead(file(), "A", "K"), "x [B]  L=y");
}

TEST_F(Profile, FailuresLeaveTheOldFile) {
  // A directory where the file should be: nothing can be written.
  fs::create_directories(file("adir.ini"));
  EXPECT_FALSE(profileWrite(file("adir.ini"), "A", "K", "v"));
  EXPECT_TRUE(fs::is_directory(file("adir.ini")));
  // A plain file where the directory should be.
  writeRaw(file("plain"), "x");
  EXPECT_FALSE(profileWrite(file("plain/test.ini"), "A", "K", "v"));
  EXPECT_EQ(readRaw(file("plain")), "x");
  // A FIFO in the file's place is neither waited on nor replaced.
  ASSERT_EQ(mkfifo(file("fifo.ini").c_str(), 0600), 0);
  EXPECT_EQ(profileRead(file("fifo.ini"), "A", "K", "none"), "none");
  EXPECT_FALSE(profileWrite(file("fifo.ini"), "A", "K", "v"));
  EXPECT_EQ(fs::status(file("fifo.ini")).type(), fs::file_type::fifo);
  // A disk that refuses any one write, flush or rename.
  writeRaw(file(), "[A]\nK=0\n");
  int value = 0;
  const ReplaceFaultRuns runs = expectFailedSavesChangeNothing(
      {home.path()}, [&] { return profileWrite(file(), "A", "K", std::to_string(++value)); });
  EXPECT_EQ(runs.flushes, 1);
  EXPECT_EQ(runs.renames, 1);
}

TEST_F(Profile, WritingThroughALinkChangesTheFileItNames) {
  writeRaw(file("real.ini"), "[A]\nK=1\n");
  fs::create_symlink(file("real.ini"), file("link.ini"));
  ASSERT_TRUE(profileWrite(file("link.ini"), "A", "K", "2"));
  EXPECT_TRUE(fs::is_symlink(file("link.ini")));
  EXPECT_EQ(readRaw(file("real.ini")), "[A]\nK=2\n");
}

TEST_F(Profile, AnExistingFileKeepsItsPermissions) {
  writeRaw(file(), "[A]\nK=1\n");
  fs::permissions(file(), fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(profileWrite(file(), "A", "K", "2"));
  EXPECT_EQ(fs::status(file()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
}  // namespace kalimbro
