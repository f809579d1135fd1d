#include "console/VrCrt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "console/vrini.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_terminal.h"
#include "tests/fakes/key_script.h"
#include "tests/fakes/temp_config.h"

namespace kalimbro {
namespace {

class RecordingTonePlayer final : public TonePlayer {
 public:
  void playLooping(const std::vector<uint8_t>& image) override { images.push_back(image); }
  void stop() override { ++stops; }
  std::vector<std::vector<uint8_t>> images;
  int stops = 0;
};

class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    setIniLegacy(false);
    crtInit(&term);
  }
  void TearDown() override {
    crtSetTonePlayer(nullptr);
    crtInit(nullptr);
    setIniLegacy(true);
  }
  // Everything queued, as bytes.
  static std::string drainKeys() {
    std::string keys;
    while (keyPressed()) keys += static_cast<char>(readKey());
    return keys;
  }
  static std::string screenRow(int y) {
    std::string row;
    for (int x = 1; x <= kScreenColumns; ++x) row += static_cast<char>(screenCharAt(x, y));
    return row;
  }
  // What the terminal shows for each of the 16 colours, drawn as text on
  // the first row and as background on the second: both must agree.
  std::vector<Rgb> drawnColours() {
    std::vector<Rgb> shown;
    for (int c = 0; c < 16; ++c) {
      gotoXY(c + 1, 1);
      textColor(c);
      textBackground(0);
      crtWrite("x");
      gotoXY(c + 1, 2);
      textColor(0);
      textBackground(c);
      crtWrite("x");
      EXPECT_EQ(term.bgAt(1, c), term.fgAt(0, c)) << "colour " << c;
      shown.push_back(term.fgAt(0, c));
    }
    return shown;
  }

  TempConfigHome config;
  ScopedFakeClock clock;
  FakeTerminal term;
};

// ---------------------------------------------------------------- screen

TEST_F(Console, WritingPastColumn80WrapsBeforeStoring) {
  crtWrite(std::string(80, 'a'));
  EXPECT_EQ(whereX(), 81);
  EXPECT_EQ(whereY(), 1);
  crtWrite("b");
  EXPECT_EQ(screenCharAt(1, 2), 'b');
  EXPECT_EQ(whereX(), 2);
  EXPECT_EQ(whereY(), 2);
  EXPECT_EQ(term.rowText(1).substr(0, 2), "b ");
}

TEST_F(Console, WritingPastTheLastCellScrollsAndRepaintsTheScreen) {
  crtWrite("top");
  gotoXY(1, 2);
  crtWrite("second");
  gotoXY(80, 25);
  crtWrite("xy");
  EXPECT_EQ(screenRow(1).substr(0, 6), "second");
  EXPECT_EQ(screenCharAt(80, 24), 'x');
  EXPECT_EQ(screenCharAt(1, 25), 'y');
  EXPECT_EQ(whereY(), 25);
  for (int r = 0; r < kScreenRows; ++r) EXPECT_EQ(term.rowText(r), screenRow(r + 1)) << r;
  EXPECT_TRUE(term.flushed());
}

TEST_F(Console, ControlBytes) {
  crtWrite("\b");  // column 1: nothing
  EXPECT_EQ(whereX(), 1);
  crtWrite("ab\tc");  // the tab neither shows nor moves
  EXPECT_EQ(screenRow(1).substr(0, 4), "abc ");
  crtWrite("\b");
  EXPECT_EQ(screenCharAt(3, 1), ' ');
  EXPECT_EQ(whereX(), 3);
  crtWrite("\rZ\x07\nq");
  EXPECT_EQ(screenCharAt(1, 1), 'Z');
  EXPECT_EQ(screenCharAt(1, 2), 'q');  // a line feed also goes back to column 1
  EXPECT_EQ(term.beeps, 1);
}

TEST_F(Console, GotoClampsIntoTheScreen) {
  gotoXY(0, 0);
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 1);
  gotoXY(200, 99);
  EXPECT_EQ(whereX(), 80);
  EXPECT_EQ(whereY(), 25);
}

TEST_F(Console, ReserveLinesScrollsAndLeavesRoomBelow) {
  gotoXY(1, 20);
  crtWrite("mark");
  gotoXY(7, 20);
  reserveLines(16);
  EXPECT_EQ(whereY(), 9);
  EXPECT_EQ(whereX(), 7);
  EXPECT_EQ(screenRow(9).substr(0, 4), "mark");  // scrolled 11 rows
}

TEST_F(Console, ClearingUsesTheCurrentAttribute) {
  crtWrite("hello");
  gotoXY(3, 1);
  textColor(14);
  textBackground(1);
  clearToEndOfLine();
  EXPECT_EQ(screenRow(1).substr(0, 5), "he   ");
  EXPECT_EQ(screenAttrAt(3, 1), 0x1E);
  EXPECT_EQ(screenAttrAt(2, 1), 0x0F);
  EXPECT_EQ(whereX(), 3);

  gotoXY(1, 5);
  crtWrite("row five");
  gotoXY(1, 7);
  crtWrite("row seven");
  clearToEndOfScreen(6);
  EXPECT_EQ(screenRow(5).substr(0, 8), "row five");
  EXPECT_EQ(screenRow(7), std::string(80, ' '));
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 6);

  clearScreen();
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 1);
  EXPECT_EQ(screenAttrAt(80, 25), 0x1E);
  EXPECT_EQ(term.bgAt(24, 79), (Rgb{0, 0, 255}));
  EXPECT_EQ(term.fgAt(0, 0), (Rgb{255, 255, 0}));
}

TEST_F(Console, AWriteDrawsOnlyItsSpanInRunsOfOneAttribute) {
  crtWrite("ab");
  textColor(2);
  term.clearRuns();
  crtWrite("cd");
  ASSERT_EQ(term.runs().size(), 1u);
  EXPECT_EQ(term.runs()[0].row, 0);
  EXPECT_EQ(term.runs()[0].col, 2);
  EXPECT_EQ(term.runs()[0].cells, "cd");
  EXPECT_EQ(term.runs()[0].fg, (Rgb{0, 255, 0}));
  EXPECT_TRUE(term.flushed());

  term.clearRuns();
  crtRepaint();
  std::vector<std::string> firstRow;
  for (const auto& run : term.runs()) {
    if (run.row == 0) firstRow.push_back(run.cells);
  }
  EXPECT_EQ(firstRow, (std::vector<std::string>{"ab", "cd", std::string(76, ' ')}));
}

TEST_F(Console, PaletteAndFixedColoursComeFromTheSettings) {
  const std::vector<Rgb> plain = drawnColours();
  // The list stops at "x": from there on every colour keeps its own place.
  config.writeFamilyIni("[video]\ntabcores=15, 14,x,5\n");
  crtInit(&term);
  const std::vector<Rgb> permuted = drawnColours();
  EXPECT_EQ(permuted[0], plain[15]);
  EXPECT_EQ(permuted[1], plain[14]);
  for (int c = 2; c < 16; ++c) EXPECT_EQ(permuted[c], plain[c]) << "colour " << c;

  config.writeFamilyIni("[video]\nCORESFIXAS=sim\nCORFUNDO=4\nCORLETRA=11\n");
  crtInit(&term);
  EXPECT_EQ(currentAttribute(), 0x4B);
  textColor(1);
  textBackground(2);
  EXPECT_EQ(currentAttribute(), 0x4B);
  gotoXY(1, 1);
  crtWrite("a");
  EXPECT_EQ(term.fgAt(0, 0), plain[11]);
  EXPECT_EQ(term.bgAt(0, 0), plain[4]);
}

TEST_F(Console, DefaultColoursAreWhiteOnBlackAndAllSixteenDiffer) {
  EXPECT_EQ(currentAttribute(), 0x0F);
  crtWrite("a");
  EXPECT_EQ(term.fgAt(0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(term.bgAt(0, 0), (Rgb{0, 0, 0}));
  textColor(0x35);  // only the low four bits
  EXPECT_EQ(currentAttribute(), 0x05);
  const std::vector<Rgb> shown = drawnColours();
  for (int a = 0; a < 16; ++a)
    for (int b = a + 1; b < 16; ++b) EXPECT_NE(shown[a], shown[b]) << "colours " << a << " and " << b;
}

// ---------------------------------------------------------------- keys

TEST_F(Console, MouseFocusAndPaste) {
  crtHandleInput(simpleEvent(InputEvent::Kind::MouseLeft));
  crtHandleInput(simpleEvent(InputEvent::Kind::MouseRight));
  crtHandleInput(simpleEvent(InputEvent::Kind::MouseMiddle));
  crtHandleInput(simpleEvent(InputEvent::Kind::WheelUp));
  crtHandleInput(simpleEvent(InputEvent::Kind::WheelDown));
  crtHandleInput(simpleEvent(InputEvent::Kind::FocusOut));
  crtHandleInput(simpleEvent(InputEvent::Kind::FocusIn));
  EXPECT_EQ(drainKeys(), std::string("\x0D\x1B\0\x43\0\x48\0\x50\xDF\xDE", 10));

  // The click that gives the window the focus is swallowed, so that it never
  // accepts a half-typed answer; a later click, or one after a key, counts.
  crtHandleInput(simpleEvent(InputEvent::Kind::FocusIn));
  crtHandleInput(simpleEvent(InputEvent::Kind::MouseLeft));
  crtHandleInput(simpleEvent(InputEvent::Kind::MouseLeft));
  crtHandleInput(simpleEvent(InputEvent::Kind::FocusIn));
  clock.advance(2000);
  crtHandleInput(simpleEvent(InputEvent::Kind::MouseRight));
  crtHandleInput(simpleEvent(InputEvent::Kind::FocusIn));
  crtHandleInput(charEvent('a'));
  crtHandleInput(simpleEvent(InputEvent::Kind::MouseLeft));
  EXPECT_EQ(drainKeys(), std::string("\xDE\x0D\xDE\x1B\xDE" "a\x0D", 7));

  InputEvent paste = simpleEvent(InputEvent::Kind::Paste);
  paste.text = "colado";
  crtHandleInput(paste);
  EXPECT_EQ(drainKeys(), std::string("\0\xFE", 2));
  EXPECT_TRUE(lastKeyModifiers().shift);
  std::string buffer;
  pasteFromClipboard(buffer, 256);
  EXPECT_EQ(buffer, "colado");
}

TEST_F(Console, ASmallerTerminalShowsTheCursorsRowAndTheNewestLines) {
  EXPECT_FALSE(crtTerminalSmallerThanGrid());
  term.shown = {20, 70};
  EXPECT_TRUE(crtTerminalSmallerThanGrid());
  for (int row = 1; row <= 25; ++row) {
    gotoXY(1, row);
    crtWrite("linha " + std::to_string(row));
  }
  crtWriteln();  // the grid scrolls: the cursor stays on the last row
  crtWrite("nova");
  KeyScript keys;
  keys.key("x").key("y");
  readKey();
  EXPECT_EQ(term.rowText(19).substr(0, 4), "nova");
  EXPECT_EQ(term.rowText(18).substr(0, 8), "linha 25");
  EXPECT_EQ(term.rowText(0).substr(0, 7), "linha 7");
  EXPECT_EQ(term.cursorRow, 19);

  // Far right, the columns follow the cursor too.
  gotoXY(75, 25);
  crtWrite("fim");
  readKey();
  EXPECT_EQ(term.rowText(19).substr(66, 3), "fim");
  EXPECT_EQ(term.cursorCol, 69);
}

TEST_F(Console, KeysKeepTheirModifiers) {
  crtHandleInput(keyDown(Key::Right, kShift));
  crtHandleInput(charEvent('a'));
  readKey();
  EXPECT_TRUE(lastKeyModifiers().shift);
  readKey();
  EXPECT_TRUE(lastKeyModifiers().shift);
  readKey();
  EXPECT_EQ(lastKeyModifiers(), Modifiers{});
}

TEST_F(Console, AFullQueueDropsWholeKeys) {
  ASSERT_TRUE(crtQueueKey(std::string(63, 'x')));
  crtHandleInput(keyDown(Key::F1));        // needs two bytes: dropped
  crtHandleInput(keyDownChar('Q', kCtrlAlt));  // likewise
  crtHandleInput(charEvent('y'));          // the 64th byte fits
  crtHandleInput(charEvent('z'));          // no room left
  EXPECT_EQ(drainKeys(), std::string(63, 'x') + "y");
}

TEST_F(Console, ReadKeyShowsTheCaretWhileWaiting) {
  gotoXY(5, 3);
  KeyScript script;
  script.event(charEvent('k'));
  EXPECT_EQ(readKey(), 'k');
  EXPECT_EQ(term.cursorShows, 1);
  EXPECT_FALSE(term.cursorVisible);
  EXPECT_EQ(term.cursorRow, 2);
  EXPECT_EQ(term.cursorCol, 4);
  EXPECT_THROW(readKey(), KeyScriptExhausted);
}

TEST_F(Console, ReadLineEditsAndEchoes) {
  KeyScript script;
  script.type("ab").key("\b").type("c").key(std::string("\0\x3B", 2)).key("\r");
  EXPECT_EQ(crtReadLine(), "ac\r\n");
  EXPECT_EQ(screenRow(1).substr(0, 3), "ac ");
  EXPECT_EQ(whereY(), 2);

  KeyScript shortScript;
  shortScript.type("wxyz").key("\r");
  EXPECT_EQ(crtReadLine(4), "wx\r\n");
}

TEST_F(Console, DelaySleepsOnTheEventLoopClock) {
  delay(250);
  EXPECT_EQ(clock.sleptMs(), 250);
  delay(-5);
  EXPECT_EQ(clock.sleptMs(), 250);
}

// ---------------------------------------------------------------- braille

class Braille : public Console {
 protected:
  // A terminal that reports every key with its release.
  void SetUp() override {
    Console::SetUp();
    crtHandleInput(keyboardFlagsEvent(kKittyDisambiguate | kKittyEventTypes | kKittyEveryKey | kKittyKeyText));
  }
  // Presses the keys of `dots` together and releases them.
  static void chord(std::string_view keys) {
    for (char k : keys) crtHandleInput(keyDownChar(k));
    for (char k : keys) crtHandleInput(keyUpChar(k));
  }
  RecordingTonePlayer player;
};

TEST_F(Braille, ModeOneTypesTheTableCharacters) {
  crtSetTonePlayer(&player);
  setBrailleMode(1);
  ASSERT_EQ(player.images.size(), 2u);
  EXPECT_EQ(player.images[0], toneImage(800));
  EXPECT_EQ(player.images[1], toneImage(1600));
  EXPECT_EQ(clock.sleptMs(), 400);

  crtHandleInput(charEvent('f'));  // letters and the space make chords now
  crtHandleInput(charEvent(' '));
  crtHandleInput(charEvent('1'));
  chord("FD");        // dots 1 2
  chord(" F");        // space and dot 1: Control+A
  EXPECT_EQ(drainKeys(), "1b\x01");
}

TEST_F(Console, BrailleModeWithoutKeyReleasesLeavesTypingAlone) {
  setBrailleMode(1);
  for (uint8_t ch : std::string_view("Ana s")) crtHandleInput(charEvent(ch));
  EXPECT_EQ(drainKeys(), "Ana s");
  EXPECT_TRUE(term.everyKeyRequests.empty());  // nobody said releases come

  // The terminal reports releases: it is asked for every key, and until it
  // says every key comes, letters are still typed.
  crtHandleInput(keyboardFlagsEvent(kKittyDisambiguate | kKittyEventTypes));
  EXPECT_EQ(term.everyKeyRequests, std::vector<bool>{true});
  crtHandleInput(charEvent('s'));
  crtHandleInput(keyDownChar('F'));
  crtHandleInput(keyUpChar('F'));
  EXPECT_EQ(drainKeys(), "s");
  crtHandleInput(keyboardFlagsEvent(kKittyDisambiguate | kKittyEventTypes | kKittyEveryKey));
  crtHandleInput(keyDownChar('F'));
  crtHandleInput(charEvent('f'));
  crtHandleInput(keyUpChar('F'));
  EXPECT_EQ(drainKeys(), "a");
  setBrailleMode(0);
  EXPECT_EQ(term.everyKeyRequests, (std::vector<bool>{true, false}));
}

TEST_F(Braille, ModeKeysAndTones) {
  crtSetTonePlayer(&player);
  crtHandleInput(keyDown(Key::F11, kCtrlAlt));
  EXPECT_EQ(brailleMode(), 1);
  crtHandleInput(keyDown(Key::F11, kCtrlAlt));
  EXPECT_EQ(brailleMode(), 2);
  EXPECT_EQ(player.images.back(), toneImage(400));
  crtHandleInput(keyDown(Key::F11, kCtrlAlt));
  EXPECT_EQ(brailleMode(), 1);
  player.images.clear();
  crtHandleInput(keyDown(Key::F12, kCtrlAlt));
  EXPECT_EQ(brailleMode(), 0);
  ASSERT_EQ(player.images.size(), 1u);
  EXPECT_EQ(player.images[0], toneImage(100));
  EXPECT_EQ(player.stops, 7);  // every tone stopped
  crtHandleInput(keyDown(Key::F12, kCtrlAlt));  // already off: silent
  EXPECT_EQ(player.images.size(), 1u);
  EXPECT_EQ(drainKeys(), "");
  // The keys that reach the program where Control+Alt+F keys do not.
  crtHandleInput(keyDownChar('B', kCtrlAlt));
  EXPECT_EQ(brailleMode(), 1);
  crtHandleInput(keyDownChar('N', kCtrlAlt));
  EXPECT_EQ(brailleMode(), 0);
  crtHandleInput(keyDownChar('R', kCtrlAlt));  // as Control+Alt+F9
  EXPECT_EQ(readKey(), 0);
  EXPECT_EQ(readKey(), 102);
  EXPECT_TRUE(lastKeyModifiers().alt);
  crtHandleInput(keyDownChar('S', kCtrlAlt));  // other letters keep their codes
  EXPECT_EQ(drainKeys(), std::string("\0\x1F", 2));
}

TEST_F(Braille, ModeFromTheSettings) {
  config.writeFamilyIni("[BRAILLE]\nMODO=3\n");
  crtInit(&term);
  EXPECT_EQ(brailleMode(), 1);
}

// ---------------------------------------------------------------- braille display

class RecordingBrailleDisplay final : public BrailleDisplay {
 public:
  int width() const override { return 40; }
  void show(std::string_view cells, int cursor) override { shown.push_back({std::string(cells), cursor}); }
  std::vector<std::pair<std::string, int>> shown;
};

TEST_F(Console, BrailleDisplayShowsTheCursorsRowAndQueuesItsKeys) {
  RecordingBrailleDisplay display;
  crtSetBrailleDisplay(&display);
  crtWrite("Gravador, qual sua op\xE7\xE3o? ");
  ASSERT_FALSE(display.shown.empty());
  EXPECT_EQ(display.shown.back(), std::make_pair("Gravador, qual sua op\xE7\xE3o? " + std::string(14, ' '), 26));
  const size_t shows = display.shown.size();
  crtRepaint();  // nothing changed for the display
  EXPECT_EQ(display.shown.size(), shows);
  gotoXY(45, 1);  // the second half of the row holds the cursor
  crtWrite("x");
  EXPECT_EQ(display.shown.back(), std::make_pair(std::string(4, ' ') + "x" + std::string(35, ' '), 5));
  crtWriteln();
  EXPECT_EQ(display.shown.back(), std::make_pair(std::string(40, ' '), 0));  // the next row

  using Kind = BrailleKey::Kind;
  crtHandleBrailleKey({Kind::Character, 's'});
  crtHandleBrailleKey({Kind::Extended, 72});
  crtHandleBrailleKey({Kind::Dots, 0x03});                            // dots 1 2
  crtHandleBrailleKey({Kind::Dots, BrailleKey::kSpaceBar});           // the space bar
  crtHandleBrailleKey({Kind::Dots, BrailleKey::kSpaceBar | 0x01});    // with dot 1: Control+A
  EXPECT_EQ(drainKeys(), std::string("s\0\x48" "b \x01", 6));
  crtSetBrailleDisplay(nullptr);
}

// ---------------------------------------------------------------- tone

// The samples of a tone image, after checking its header: 8-bit mono PCM
// at 11025 Hz whose sizes match the data.
std::vector<uint8_t> toneSamples(int frequency) {
  const std::vector<uint8_t> image = toneImage(frequency);
  if (image.size() < 44) {
    ADD_FAILURE() << "no header";
    return {};
  }
  auto le16 = [&](size_t at) { return image[at] | image[at + 1] << 8; };
  auto le32 = [&](size_t at) { return le16(at) | le16(at + 2) << 16; };
  EXPECT_EQ(std::string(image.begin(), image.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(image.begin() + 8, image.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(le32(16), 16);
  EXPECT_EQ(le16(20), 1);      // PCM
  EXPECT_EQ(le16(22), 1);      // mono
  EXPECT_EQ(le32(24), 11025);  // sample rate
  EXPECT_EQ(le32(28), 11025);  // bytes per second
  EXPECT_EQ(le16(32), 1);      // block align
  EXPECT_EQ(le16(34), 8);      // bits
  EXPECT_EQ(std::string(image.begin() + 36, image.begin() + 40), "data");
  EXPECT_EQ(static_cast<size_t>(le32(40)), image.size() - 44);
  EXPECT_EQ(static_cast<size_t>(le32(4)), image.size() - 8);
  return {image.begin() + 44, image.end()};
}

TEST(ConsoleTone, SquareWaveOfOneSecondEndingInSilence) {
  const std::vector<uint8_t> low5 = {96, 96, 96, 96, 96}, high6 = {160, 160, 160, 160, 160, 160};
  // 1000 Hz: periods of 11 or 12 samples, the first 5 low.
  std::vector<uint8_t> data = toneSamples(1000);
  ASSERT_EQ(data.size(), 11025u);
  std::vector<uint8_t> twoPeriods = low5;
  twoPeriods.insert(twoPeriods.end(), high6.begin(), high6.end());
  twoPeriods.insert(twoPeriods.end(), twoPeriods.begin(), twoPeriods.end());
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 22), twoPeriods);
  EXPECT_EQ(std::count(data.begin(), data.end(), 96), 5000);  // 1000 periods
  EXPECT_EQ(std::count(data.begin(), data.end(), 160), 6024);
  EXPECT_EQ(data.back(), 128);
  // 5000 Hz: two samples a period, a third where the period's start falls
  // one later.
  data = toneSamples(5000);
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 13),
            (std::vector<uint8_t>{96, 160, 96, 160, 96, 160, 96, 160, 96, 160, 160, 96, 160}));
  // Frequencies out of range: 0 is 1 Hz, one period; above 11025 there is
  // no low half.
  data = toneSamples(0);
  ASSERT_EQ(data.size(), 11025u);
  EXPECT_EQ(std::count(data.begin(), data.begin() + 5512, 96), 5512);
  EXPECT_EQ(std::count(data.begin() + 5512, data.end() - 1, 160), 5512);
  EXPECT_EQ(data.back(), 128);
  data = toneSamples(20000);
  ASSERT_EQ(data.size(), 11025u);
  EXPECT_EQ(std::count(data.begin(), data.end() - 1, 160), 11024);
}

// ---------------------------------------------------------------- window

TEST_F(Console, TitleIsTrimmedAndCut) {
  setWindowTitle("  KALIMBRO teste.wav \t");
  EXPECT_EQ(windowTitle(), "KALIMBRO teste.wav");
  EXPECT_EQ(term.title, "KALIMBRO teste.wav");
  setWindowTitle(std::string(140, 'a'));
  EXPECT_EQ(windowTitle(), std::string(140, 'a'));
  setWindowTitle(std::string(141, 'b'));
  EXPECT_EQ(term.title, std::string(140, 'b') + "...");
}

TEST_F(Console, Clipboard) {
  copyToClipboard(std::string("abc\0def", 7));
  ASSERT_EQ(term.clipboardCopies.size(), 1u);
  EXPECT_EQ(term.clipboardCopies[0], "abc");
  std::string buffer = "old";
  pasteFromClipboard(buffer, 0);
  EXPECT_EQ(buffer, "old");
  pasteFromClipboard(buffer, 3);
  EXPECT_EQ(buffer, "ab");
  copyToClipboard("");
  pasteFromClipboard(buffer, 10);
  EXPECT_EQ(buffer, "");
}

TEST_F(Console, CloseRunsExitActionsInReverseAndExits) {
  EXPECT_EXIT(
      {
        crtAtClose([] { std::fputs("first\n", stderr); });
        crtAtClose([] { std::fputs("second\n", stderr); });
        closeConsole();
      },
      ::testing::ExitedWithCode(0), "second\nfirst");
  EXPECT_EXIT(crtHandleInput(keyDown(Key::Break, kCtrl)), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kalimbro
