// The end-to-end harness checked against small shell and perl programs:
// what they print must be read back from the screen, what the harness
// types must reach them byte for byte, and their exit and terminal modes
// must be reported as they left them.
#include <signal.h>

#include "tests/e2e/harness.h"

namespace kalimbro::e2e {
namespace {

std::unique_ptr<Session> runShell(const std::string& script, Options options = {}) {
  options.program = "/bin/sh";
  options.args = {"-c", script};
  std::string error;
  auto s = Session::start(options, &error);
  EXPECT_NE(s, nullptr) << error;
  return s;
}

// A perl program on a raw, silent terminal; perl is part of every Debian
// system and, unlike the shell, shows how the input was split into reads.
std::unique_ptr<Session> runPerl(const std::string& body, std::vector<std::string> args = {}) {
  Options options;
  options.program = "perl";
  options.args = {"-e", "system('stty raw -echo'); $| = 1; " + body};
  options.args.insert(options.args.end(), args.begin(), args.end());
  std::string error;
  auto s = Session::start(options, &error);
  EXPECT_NE(s, nullptr) << error;
  return s;
}

TEST(HarnessScreen, PrintedTextIsReadBackWithTheCursorAfterIt) {
  auto s = runShell("printf 'first line\\r\\n  second'; read x");
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(s->waitForText("second"));
  EXPECT_EQ(s->row(0), "first line");
  EXPECT_EQ(s->row(1), "  second");
  EXPECT_EQ(s->row(2), "");
  EXPECT_EQ(s->cursor(), (Pos{1, 8}));
  EXPECT_EQ(s->find("second"), (Pos{1, 2}));
  EXPECT_EQ(s->find("absent"), std::nullopt);
  EXPECT_EQ(s->screenText().substr(0, 20), "first line\n  second\n");
  EXPECT_EQ(s->screenText().size(), std::string("first line\n  second").size() + 23);
}

TEST(HarnessScreen, AccentedTextComesBackAsUtf8AndColumnsCountCharacters) {
  auto s = runShell("printf 'ab Op\\303\\247\\303\\243o inv\\303\\241lida, F1 ajuda\\r\\n\\342\\202\\254'; read x");
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(s->waitForTextAt(0, "Opção inválida, F1 ajuda"));
  EXPECT_EQ(s->find("ção"), (Pos{0, 5}));
  EXPECT_EQ(s->find("F1"), (Pos{0, 19}));
  EXPECT_EQ(s->row(1), "€");
}

TEST(HarnessScreen, FindAllReportsEveryOccurrenceTopToBottom) {
  auto s = runShell("printf 'a-b a-b\\r\\n\\r\\nxa-b'; read x");
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(s->waitForText("xa-b"));
  EXPECT_EQ(s->findAll("a-b"), (std::vector<Pos>{{0, 0}, {0, 4}, {2, 1}}));
}

TEST(HarnessScreen, FailedWaitShowsTheScreen) {
  auto s = runShell("printf 'visible text'; read x");
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(s->waitForText("visible text"));
  testing::AssertionResult r = s->waitForText("never printed", milliseconds(100));
  EXPECT_FALSE(r);
  EXPECT_NE(std::string(r.message()).find(" 0|visible text\n"), std::string::npos) << r.message();
  EXPECT_NE(std::string(r.message()).find("never printed"), std::string::npos);
}

TEST(HarnessKeys, KeysArriveByteForByteAsXtermSendsThem) {
  const std::string expected =
      "\x1bOP"             // F1
      "\x1bOS"             // F4
      "\x1b[15~"           // F5
      "\x1b[24~"           // F12
      "\x1b[1;5C"          // Control+Right
      "\x1b[1;2A"          // Shift+Up
      "\x1b[1;3D"          // Alt+Left
      "\x1b[H\x1b[F"       // Home, End
      "\x1b[3;2~"          // Shift+Delete
      "\x1b[2~\x1b[5~\x1b[6~"  // Insert, Page Up, Page Down
      "\x1b[1;5P"          // Control+F1
      "\x1b[15;6~"         // Control+Shift+F5
      "\xc3\xa7"           // ç typed
      "\x1b"               // ESC on its own
      "s"
      "\x1bx"              // Alt+x
      "\r\x7f\x08\t\x1b[Z"  // Enter, Backspace, Control+Backspace, Tab, Shift+Tab
      "\x03"               // Control+C
      "\x1b[<0;10;3M\x1b[<0;10;3m"  // left click at row 2, column 9
      "\x1b[<65;1;1M"      // wheel towards the user
      "\x1b[200~colado\x1b[201~"  // a paste
      "\x1b[I";            // focus gained
  auto s = runPerl(
      "print qq(READY\\r\\n); my $n = shift; my $b = ''; "
      "while (length($b) < $n) { sysread(STDIN, my $c, $n - length($b)) or last; $b .= $c; } "
      "open(my $f, '>', 'keys.bin') or die; binmode $f; print $f $b; close $f; print qq(DONE\\r\\n);",
      {std::to_string(expected.size())});
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(s->waitForText("READY"));
  ASSERT_TRUE(s->sendKeys({Key::F1, Key::F4, Key::F5, Key::F12, Input(Key::Right, mod::Ctrl),
                           Input(Key::Up, mod::Shift), Input(Key::Left, mod::Alt), Key::Home, Key::End,
                           Input(Key::Delete, mod::Shift), Key::Insert, Key::PageUp, Key::PageDown,
                           Input(Key::F1, mod::Ctrl), Input(Key::F5, mod::Ctrl | mod::Shift), "ç", Key::Esc,
                           "s", Input::alt('x'), Key::Enter, Key::Backspace, Input(Key::Backspace, mod::Ctrl),
                           Key::Tab, Input(Key::Tab, mod::Shift), Input::ctrl('c'),
                           Input::mouse(MouseButton::Left, 2, 9), Input::mouse(MouseButton::WheelDown),
                           Input::paste("colado"), Input::focus(true)}));
  ASSERT_TRUE(s->waitForText("DONE"));
  auto status = s->waitForExit();
  ASSERT_TRUE(status.has_value()) << s->dump();
  EXPECT_TRUE(status->exitedWith(0)) << *status;
  EXPECT_EQ(readFile(s->workDir() / "keys.bin"), expected);
}

TEST(HarnessKeys, LoneEscIsReadOnItsOwnAndAltLetterInOnePiece) {
  auto s = runPerl(
      "print qq(READY\\r\\n); "
      "for (1..3) { sysread(STDIN, my $c, 64); print 'READ ', unpack('H*', $c), qq(\\r\\n); }");
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(s->waitForText("READY"));
  ASSERT_TRUE(s->sendKeys({Key::Esc, "s"}));
  ASSERT_TRUE(s->waitForTextAt(2, "READ 73"));
  ASSERT_TRUE(s->sendKeys({Input::alt('s')}));
  ASSERT_TRUE(s->waitForTextAt(3, "READ 1b73"));
  EXPECT_EQ(s->row(1), "READ 1b");
}

TEST(HarnessKeys, NamedKeysWithoutModifiersUseTheirPlainForms) {
  EXPECT_EQ(keyBytes(Key::Esc), "\x1b");
  EXPECT_EQ(keyBytes(Key::Esc, mod::Alt), "\x1b\x1b");
  EXPECT_EQ(keyBytes(Key::F10), "\x1b[21~");
  EXPECT_EQ(keyBytes(Key::F11, mod::Alt), "\x1b[23;3~");
  EXPECT_EQ(keyBytes(Key::Down), "\x1b[B");
  EXPECT_EQ(keyBytes(Key::Enter, mod::Ctrl), "\x1b[27;5;13~");
  EXPECT_EQ(keyBytes(Key::Enter, mod::Alt), "\x1b\r");
}

TEST(HarnessProcess, ExitStatusAndSignalAreReported) {
  auto exits = runShell("exit 3");
  ASSERT_NE(exits, nullptr);
  auto status = exits->waitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(status->exitedWith(3)) << *status;
  EXPECT_FALSE(exits->isRunning());

  auto killed = runShell("kill -TERM $$");
  ASSERT_NE(killed, nullptr);
  status = killed->waitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_FALSE(status->exited);
  EXPECT_EQ(status->signal, SIGTERM);
}

TEST(HarnessProcess, WaitForExitGivesNothingWhileTheProgramRuns) {
  auto s = runShell("read x; exit 5");
  ASSERT_NE(s, nullptr);
  EXPECT_FALSE(s->waitForExit(milliseconds(150)).has_value());
  EXPECT_TRUE(s->isRunning());
  ASSERT_TRUE(s->sendKeys({"ok", Key::Enter}));
  auto status = s->waitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(status->exitedWith(5)) << *status;
}

TEST(HarnessProcess, AProgramThatCannotRunIsAnError) {
  std::string error;
  Options options;
  options.program = "/nonexistent/program";
  EXPECT_EQ(Session::start(options, &error), nullptr);
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST(HarnessProcess, EndingTheSessionStopsTheProgramAndRemovesItsDirectories) {
  // The program ignores SIGTERM, so the harness must follow with SIGKILL.
  auto s = runShell("trap '' TERM; printf 'up'; while :; do read x; done");
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(s->waitForText("up"));
  const pid_t pid = s->pid();
  const std::filesystem::path work = s->workDir();
  const std::filesystem::path settings = s->settingsDir();
  s.reset();
  EXPECT_NE(kill(pid, 0), 0);
  EXPECT_FALSE(std::filesystem::exists(work));
  EXPECT_FALSE(std::filesystem::exists(settings));
}

TEST(HarnessProcess, TheProgramGetsItsOwnSettingsDirectoriesAndTerminal) {
  Options options;
  options.settings = {{"som", "saida", "arquivo:saida.wav"}, {"KALIMBRO", "MAX_MEMORIA", "3"}};
  options.env = {{"KALIMBRO_E2E_MARK", "marcado"}};
  options.files = {{"sons/voz.wav", wavBytes(11025, 8, 1, {0, 256, -256})}};
  auto s = runShell(
      "{ printf '%s\\n' \"$TERM\" \"$XDG_CONFIG_HOME\" \"$TMPDIR\" \"$PWD\" \"$KALIMBRO_E2E_MARK\" "
      "\"${COLORTERM-unset}\"; stty size; wc -c < sons/voz.wav; } > env.txt",
      options);
  ASSERT_NE(s, nullptr);
  auto status = s->waitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(status->exitedWith(0)) << *status;
  EXPECT_EQ(readFile(s->workDir() / "env.txt"),
            "xterm-256color\n" + s->settingsDir().parent_path().string() + "\n" + s->tempDir().string() + "\n" +
                s->workDir().string() + "\nmarcado\nunset\n25 80\n47\n");
  EXPECT_EQ(s->settingsFile(), s->settingsDir() / "Varelu.ini");
  EXPECT_EQ(readFile(s->settingsFile()),
            "[SOM]\nSAIDA=arquivo:saida.wav\nENTRADA=nulo\n[TRADUTOR]\nVELOCIDADE=5\n[SINTETIZADOR]\n"
            "RAPIDINHO5=S\nPAUSAPONTO5=0\nPAUSAVIRG5=0\nPAUSADOISPONTOS5=0\n[KALIMBRO]\nMAX_MEMORIA=3\n");
}

TEST(HarnessProcess, ResizingTheTerminalSignalsTheProgram) {
  auto s = runShell("trap 'stty size > size.txt; exit 0' WINCH; printf 'waiting'; while :; do sleep 0.05; done");
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(s->waitForText("waiting"));
  s->resize(30, 100);
  auto status = s->waitForExit();
  ASSERT_TRUE(status.has_value()) << s->dump();
  EXPECT_EQ(readFile(s->workDir() / "size.txt"), "30 100\n");
}

TEST(HarnessModes, AlternateScreenCursorAndMouseAreTrackedUntilTheEnd) {
  auto s = runShell(
      "printf 'main screen'; "
      "printf '\\033[?1049h\\033[?25l\\033[?1000h\\033[?1006h\\033]2;Janela\\007alternate\\007'; read x; "
      "printf '\\033[?1000l\\033[?25h\\033[?1049l'");
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(s->waitForText("alternate"));
  EXPECT_EQ(s->find("main screen"), std::nullopt);
  EXPECT_TRUE(s->altScreenActive());
  EXPECT_FALSE(s->cursorVisible());
  EXPECT_TRUE(s->mouseReporting());
  EXPECT_EQ(s->title(), "Janela");
  EXPECT_EQ(s->bells(), 1);

  ASSERT_TRUE(s->sendKeys({Key::Enter}));
  auto status = s->waitForExit();
  ASSERT_TRUE(status.has_value());
  // The last bytes, written just before the end, are not lost.
  EXPECT_FALSE(s->altScreenActive()) << s->dump();
  EXPECT_TRUE(s->cursorVisible());
  EXPECT_FALSE(s->mouseReporting());
  EXPECT_EQ(s->row(0), "main screen");
}

TEST(HarnessFiles, WavBytesHoldACanonicalHeader) {
  const std::string wav = wavBytes(22050, 16, 2, {1, -2, 300, -32768});
  ASSERT_EQ(wav.size(), 44u + 8u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(wav.substr(36, 4), "data");
  EXPECT_EQ(wav.substr(4, 4), std::string("\x2c\x00\x00\x00", 4));   // 36 + 8 bytes of data
  EXPECT_EQ(wav.substr(28, 4), std::string("\x88\x58\x01\x00", 4));  // 22050 * 4 bytes a second
  EXPECT_EQ(wav.substr(44), std::string("\x01\x00\xfe\xff\x2c\x01\x00\x80", 8));
  EXPECT_EQ(wavBytes(8000, 8, 1, {0, 32767, -32768}).substr(44), std::string("\x80\xff\x00", 3));
}

}  // namespace
}  // namespace kalimbro::e2e
