#include "console/vrarq.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "console/VrCrt.h"
#include "console/vrini.h"
#include "platform/codec.h"
#include "platform/paths.h"
#include "platform/file_replacer.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_terminal.h"
#include "tests/fakes/probed_keys.h"
#include "tests/fakes/temp_config.h"

namespace kalimbro {
namespace {

constexpr uint8_t kDown = 80, kUp = 72, kPageDown = 81, kHome = 71, kEnd = 79, kF5 = 63, kCtrlF5 = 98, kF1 = 59;

std::vector<std::string> namesOf(const FileList& list) {
  std::vector<std::string> names;
  for (const FileEntry& e : list) names.push_back(e.name);
  return names;
}

// ---------------------------------------------------------------- on disk

class Selector : public ::testing::Test {
 protected:
  void SetUp() override {
    setIniLegacy(false);
    crtInit(&term);
    char pattern[] = "/tmp/vrarq_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = std::filesystem::canonical(pattern).string();
    previous = open(".", O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  void TearDown() override {
    if (previous >= 0) {
      EXPECT_EQ(fchdir(previous), 0);
      close(previous);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    removeTempDirectory();
    crtInit(nullptr);
    setIniLegacy(true);
  }
  // `name` is UTF-8, as on disk.
  void touch(const std::string& name, const std::string& content = "x") const {
    std::ofstream(dir + "/" + name) << content;
  }
  static std::string read(const std::string& nativeName) {
    std::ifstream in(nativeName);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::string cwd() { return std::filesystem::current_path().string(); }
  static std::string screenRow(int y) {
    std::string row;
    for (int x = 1; x <= kScreenColumns; ++x) row += static_cast<char>(screenCharAt(x, y));
    return row;
  }

  TempConfigHome config;
  ScopedFakeClock clock;
  FakeTerminal term;
  std::string dir;
  int previous = -1;
};

TEST_F(Selector, BuildListsOrdinaryFilesMatchingAnyPattern) {
  for (auto n : {"b.wav", "a.WAV", "c.mp3", "d.wave", ".e.wav", "f.txt", "\xC3\xA1gua.wav", "x"}) touch(n);
  std::filesystem::create_directory(dir + "/g.wav");
  ASSERT_EQ(mkfifo((dir + "/h.wav").c_str(), 0600), 0);
  ASSERT_EQ(symlink("b.wav", (dir + "/i.wav").c_str()), 0);
  ASSERT_EQ(symlink("missing.wav", (dir + "/j.wav").c_str()), 0);

  FileList list = buildFileList("", "*.WAV", kAttrArchive);
  sortFileList(list, 0);
  EXPECT_EQ(namesOf(list), (std::vector<std::string>{"a.WAV", "\xE1gua.wav", "b.wav", "d.wave", "i.wav"}));

  list = buildFileList("", "*.WAV|*.MP3", kAttrArchive);
  EXPECT_EQ(list.size(), 6u);

  // A file that two patterns match is there twice.
  list = buildFileList("", "*.WAV|b*", kAttrArchive);
  EXPECT_EQ(std::count_if(list.begin(), list.end(), [](const FileEntry& e) { return e.name == "b.wav"; }), 2);

  // Directories only when asked for; "." and ".." never.
  list = buildFileList("", "*", kAttrArchive | kAttrDirectory);
  EXPECT_EQ(std::count_if(list.begin(), list.end(), [](const FileEntry& e) { return e.directory; }), 1);
  for (const FileEntry& e : list) EXPECT_NE(e.name.front(), '.');
}

TEST_F(Selector, DownListsTheCurrentDirectoryAndEnterChoosesABareName) {
  for (auto n : {"b.wav", "a.WAV", "10.wav", "9.wav", "c.mp3", "d.wave"}) touch(n);
  gotoXY(1, 5);
  crtWrite("above the list");
  gotoXY(1, 8);
  textBackground(1);
  crtWrite("inside the window");
  textBackground(0);
  gotoXY(1, 6);
  const std::string row8 = screenRow(8);
  const uint8_t attribute = currentAttribute();

  ProbedKeys keys;
  keys.ext(kDown);  // leaves the typed line
  keys.ext(kDown, {}, [] {
    // The first entry is announced and highlighted on the window's first row.
    EXPECT_EQ(screenRow(6).substr(0, 7), " 9.wav ");
    EXPECT_EQ(screenAttrAt(2, 6), 0x6E);
    EXPECT_EQ(screenAttrAt(2, 7), 0x6F);
    EXPECT_EQ(screenRow(7).substr(0, 8), " 10.wav ");
    EXPECT_EQ(whereX(), 1);
    EXPECT_EQ(whereY(), 6);
  });
  keys.ext(kDown).ext(kDown).ext(kDown, {}, [] { EXPECT_EQ(screenRow(10).substr(0, 8), " d.wave "); });
  keys.key('\r');
  std::string result;
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(result, "d.wave");
  EXPECT_EQ(selectorExitKey(), 13);
  EXPECT_EQ(keys.remaining(), 0u);
  // The window is gone and the directory unchanged.
  EXPECT_EQ(screenRow(8), row8);
  EXPECT_EQ(screenAttrAt(1, 8), 0x1F);
  EXPECT_EQ(screenAttrAt(20, 8), 0x0F);
  EXPECT_EQ(currentAttribute(), attribute);
  EXPECT_EQ(screenRow(5).substr(0, 14), "above the list");
  EXPECT_EQ(cwd(), dir);
}

TEST_F(Selector, ChoosingInAnotherDirectoryGivesItsFullPath) {
  std::filesystem::create_directory(dir + "/sub");
  touch("sub/x.wav");
  touch("sub/y.wav");
  for (const std::string& typed : std::vector<std::string>{"sub", "sub/", dir + "/sub"}) {
    ProbedKeys keys;
    keys.type(typed).ext(kDown).ext(kDown).key('\r');
    std::string result;
    selectFile(10, "*.WAV", result);
    EXPECT_EQ(result, dir + "/sub/y.wav") << typed;
    EXPECT_EQ(cwd(), dir);
  }
  // A typed mask of its own.
  ProbedKeys keys;
  keys.type("sub/x*").ext(kDown).key('\r');
  std::string result;
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(result, dir + "/sub/x.wav");
}

// F1 in the empty name field explains (the caller's words) and the field
// opens again under them; without an explanation it is no key of the field.
TEST_F(Selector, F1ExplainsAndTheNameIsAskedAgainUnderIt) {
  touch("a.wav");
  ProbedKeys keys;
  keys.ext(kF1).type("a.wav").key('\r');
  int explained = 0;
  const int row = whereY();
  std::string result;
  selectFile(10, "*.WAV", result, [&] {
    ++explained;
    crtWriteln("ajuda");
  });
  EXPECT_EQ(explained, 1);
  EXPECT_EQ(result, "a.wav");
  EXPECT_EQ(screenRow(row + 1).substr(0, 6), "ajuda ");
  EXPECT_EQ(screenRow(row + 2).substr(0, 6), "a.wav ");
}

TEST_F(Selector, ANameWithoutAWindows1252FormStillOpensItsFile) {
  const std::string nihon = "\xE6\x97\xA5\xE6\x9C\xAC.wav";  // 日本.wav
  touch(nihon, "nihon");
  touch("a.wav", "plain a");
  ProbedKeys keys;
  keys.ext(kDown).key('\r');  // "??.wav" sorts before "a.wav"
  std::string result;
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(fileNamePart(result), "??.wav");
  EXPECT_TRUE(fileExists(result));
  EXPECT_EQ(read(nativePath(result)), "nihon");
  // Saving to that name replaces the chosen file.
  FileReplacer out;
  ASSERT_TRUE(out.open(result));
  ASSERT_TRUE(out.write("saved", 5));
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(read(dir + "/" + nihon), "saved");
  EXPECT_EQ(read(dir + "/a.wav"), "plain a");
}

TEST_F(Selector, EscAndEmptyListsGiveTheTypedDirectory) {
  std::filesystem::create_directory(dir + "/sub");
  touch("sub/x.wav");
  {
    ProbedKeys keys;
    keys.type("sub").ext(kDown).key('\x1B');
    std::string result = "old";
    selectFile(10, "*.WAV", result);
    EXPECT_EQ(result, "sub/");
    EXPECT_EQ(selectorExitKey(), 27);
  }
  {
    ProbedKeys keys;
    keys.type("sub").ext(kUp);  // nothing matches: no list, nothing more read
    std::string result;
    selectFile(10, "*.MP3", result);
    EXPECT_EQ(result, "sub/");
    EXPECT_EQ(selectorExitKey(), kUp);
  }
  {
    ProbedKeys keys;
    keys.type("nowhere/").ext(kDown);
    std::string result;
    selectFile(10, "*.WAV", result);
    EXPECT_EQ(result, "nowhere/");
    EXPECT_EQ(selectorExitKey(), kDown);
  }
  EXPECT_EQ(cwd(), dir);
  // Enter on the typed line takes the text as it is.
  ProbedKeys keys;
  keys.type("novo.wav").key('\r');
  std::string result;
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(result, "novo.wav");
  EXPECT_EQ(selectorExitKey(), 13);
}

TEST_F(Selector, MovingPastTheEndsBeepsAndEnterThereGivesNothing) {
  for (auto n : {"a.wav", "b.wav", "c.wav"}) touch(n);
  gotoXY(1, 3);
  ProbedKeys keys;
  keys.ext(kDown);
  keys.ext(kUp);
  keys.ext(kDown, {}, [] {
    // Above the first entry the cursor waits at the window's bottom-right.
    EXPECT_EQ(whereX(), 80);
    EXPECT_EQ(whereY(), 12);
    EXPECT_EQ(screenAttrAt(2, 3), 0x6F);
  });
  keys.ext(kPageDown, {}, [] { EXPECT_EQ(screenAttrAt(2, 3), 0x6E); });
  keys.key('\r');
  std::string result = "old";
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(result, "");
  EXPECT_EQ(selectorExitKey(), 27);

  // The list window stops at the screen's last row.
  gotoXY(1, 20);
  ProbedKeys more;
  more.ext(kDown).ext(kEnd, {}, [] { EXPECT_EQ(screenRow(20).substr(0, 7), " a.wav "); });
  more.ext(kDown, {}, [] { EXPECT_EQ(screenRow(22).substr(0, 7), " c.wav "); });
  more.key('\r');
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(result, "");
}

TEST_F(Selector, ScrollingKeepsTheCurrentEntryInTheWindow) {
  for (int i = 1; i <= 25; ++i) touch((i < 10 ? "f0" : "f") + std::to_string(i) + ".wav");
  gotoXY(1, 1);
  ProbedKeys keys;
  keys.ext(kDown);
  keys.ext(kPageDown);
  keys.ext(kPageDown, {}, [] {
    // Entry 11 is on the last row of a 10-row window.
    EXPECT_EQ(screenRow(10).substr(0, 9), " f11.wav ");
    EXPECT_EQ(screenRow(1).substr(0, 9), " f02.wav ");
  });
  keys.ext(kHome, {}, [] { EXPECT_EQ(screenRow(10).substr(0, 9), " f21.wav "); });
  keys.key('\r', {}, [] { EXPECT_EQ(screenRow(1).substr(0, 9), " f01.wav "); });
  std::string result;
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(result, "f01.wav");
}

TEST_F(Selector, MarksFollowShiftAndShowInGreen) {
  for (auto n : {"a.wav", "b.wav", "c.wav", "d.wav"}) touch(n);
  gotoXY(1, 1);
  ProbedKeys keys;
  keys.ext(kDown);
  keys.ext(kDown, kShift);  // marks a and b
  keys.key(' ', {}, [] {
    EXPECT_EQ(screenAttrAt(2, 1), 0x62);  // a marked
    EXPECT_EQ(screenAttrAt(2, 2), 0x6E);  // b current
  });
  keys.ext(kUp, kShift, [] {});  // b unmarked by Space; Up with Shift unmarks nothing more
  keys.ext(kEnd, kShift, [] { EXPECT_EQ(screenAttrAt(2, 2), 0x6F); });  // marks a..d from a
  keys.key('-', {}, [] {
    for (int row = 1; row <= 3; ++row) EXPECT_EQ(screenAttrAt(2, row), 0x62) << row;
  });
  keys.key('/', {}, [] { EXPECT_EQ(screenAttrAt(2, 1), 0x62); });
  keys.key('\r', {}, [] {
    for (int row = 1; row <= 3; ++row) EXPECT_EQ(screenAttrAt(2, row), 0x6F) << row;
  });
  std::string result;
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(result, "d.wav");
}

TEST_F(Selector, F5FindsTheNextNameBeginningWithTheText) {
  for (auto n : {"jo1.wav", "maria.wav", "J\xC3\xB3ia.wav", "xjo.wav", "JOSE.wav"}) touch(n);
  gotoXY(1, 1);
  ProbedKeys keys;
  keys.ext(kDown);
  // Sorted: jo1, Jóia, JOSE, maria, xjo. From jo1, "jo" finds Jóia.
  keys.ext(kF5).type("jo").key('\r');
  keys.ext(kCtrlF5);                          // again: JOSE
  keys.ext(kCtrlF5);                          // nothing after JOSE begins with jo: stays
  keys.ext(kF5, kShift).type("Jo").key('\r');  // anywhere: xjo
  keys.key('\r');
  std::string result;
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(result, "xjo.wav");

  ProbedKeys again;
  again.ext(kDown).ext(kF5).type("JO").key('\r').ext(kCtrlF5).ext(kCtrlF5).key('\r');
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(result, "JOSE.wav");

  // ESC while typing the text leaves the entry where it was.
  ProbedKeys esc;
  esc.ext(kDown).ext(kDown).ext(kF5).type("ma").key('\x1B').key('\r');
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(result, "J\xF3ia.wav");
}

TEST_F(Selector, ReadSearchTextEditsAndGivesUp) {
  ProbedKeys keys;
  keys.type("ab").key('\b').key("\xE9").ext(kF5).type("c").key('\r');
  std::string text = "old";
  EXPECT_EQ(readSearchText(text), 13);
  EXPECT_EQ(text, "a\xE9" "c");
  ProbedKeys esc;
  esc.type("xy").key('\x1B');
  EXPECT_EQ(readSearchText(text), 27);
  EXPECT_EQ(text, "");
}

TEST_F(Selector, TabInTheListLetsTheUserTypeAgain) {
  touch("a.wav");
  touch("b.wav");
  ProbedKeys keys;
  keys.ext(kDown).key('\t').type("b.wav").key('\r');
  std::string result;
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(result, "b.wav");
  EXPECT_EQ(selectorExitKey(), 13);
}

TEST_F(Selector, OtherKeysRestartThePassOnTheSameEntry) {
  touch("a.wav");
  touch("b.wav");
  ProbedKeys keys;
  keys.ext(kDown).ext(kDown).key('q').ext(59).key('\r');
  std::string result;
  selectFile(10, "*.WAV", result);
  EXPECT_EQ(result, "b.wav");
}

}  // namespace
}  // namespace kalimbro
