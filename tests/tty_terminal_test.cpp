#include "platform/tty_terminal.h"
#include "platform/terminal_colours.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/eventloop.h"

namespace kalimbro {
namespace {

using namespace std::chrono_literals;

bool sameModes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

termios modesOf(int fd) {
  termios t{};
  EXPECT_EQ(tcgetattr(fd, &t), 0);
  return t;
}

// A pseudo-terminal: the program's side is `slave`, the user's terminal
// (what it is sent, what it types) is `master`.
class Pty {
 public:
  Pty() {
    EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    setSize(25, 80);
  }
  ~Pty() {
    close(master);
    close(slave);
  }
  void setSize(int rows, int cols) {
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    EXPECT_EQ(ioctl(master, TIOCSWINSZ, &ws), 0);
  }
  // What the terminal received, up to and including `marker` (or all that
  // came within two seconds).
  std::string readUntil(std::string_view marker) {
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (received.find(marker) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      received.append(buffer, static_cast<size_t>(n));
    }
    const size_t at = received.find(marker);
    const size_t end = at == std::string::npos ? received.size() : at + marker.size();
    std::string out = received.substr(0, end);
    received.erase(0, end);
    return out;
  }
  // Everything the terminal received since the last read, made certain by
  // a marker written after it.
  std::string readAll() {
    static constexpr std::string_view kMarker = "<end-of-output>";
    EXPECT_EQ(write(slave, kMarker.data(), kMarker.size()), static_cast<ssize_t>(kMarker.size()));
    std::string out = readUntil(kMarker);
    EXPECT_TRUE(out.ends_with(kMarker));
    out.resize(out.size() - std::min(out.size(), kMarker.size()));
    return out;
  }
  void type(std::string_view bytes) {
    EXPECT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  int master = -1;
  int slave = -1;
  std::string received;
};

class TtyTerminalTest : public testing::Test {
 protected:
  void SetUp() override {
    unsetenv("COLORTERM");
    setenv("TERM", "xterm", 1);
  }

  void openTerminal() {
    terminal = TtyTerminal::open(
        pty.slave, pty.slave, [this](const InputEvent& e) { events.push_back(e); },
        [this] { ++resizes; });
    ASSERT_NE(terminal, nullptr);
    pty.readUntil("\x1b[2J");  // the opening sequences
  }

  // Runs the event loop until `count` events arrived (or two seconds).
  void waitForEvents(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (events.size() < count && std::chrono::steady_clock::now() < deadline)
      eventLoop().waitForMessage(50);
  }

  Pty pty;
  std::unique_ptr<TtyTerminal> terminal;
  std::vector<InputEvent> events;
  int resizes = 0;
};

TEST_F(TtyTerminalTest, RefusesWhatIsNotATerminal) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EQ(TtyTerminal::open(fds[0], fds[1], {}, {}), nullptr);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(TtyTerminalTest, RawModeIsSetAndRestored) {
  const termios before = modesOf(pty.slave);
  ASSERT_TRUE(before.c_lflag & ECHO);  // a fresh pty is cooked

  terminal = TtyTerminal::open(pty.slave, pty.slave, {}, {});
  ASSERT_NE(terminal, nullptr);
  const termios raw = modesOf(pty.slave);
  EXPECT_FALSE(raw.c_lflag & (ECHO | ICANON | ISIG | IEXTEN));
  EXPECT_FALSE(raw.c_iflag & (IXON | ICRNL));
  EXPECT_EQ(raw.c_cc[VMIN], 1);
  const std::string opening = pty.readAll();
  for (const char* mode : {"\x1b[?1049h", "\x1b[?1000h", "\x1b[?1006h", "\x1b[?1004h",
                           "\x1b[?2004h", "\x1b[?25l", "\x1b[>3u"})
    EXPECT_NE(opening.find(mode), std::string::npos) << mode;

  // Only one terminal at a time.
  EXPECT_EQ(TtyTerminal::open(pty.slave, pty.slave, {}, {}), nullptr);

  // Every key with its text while a braille mode wants chords, then text
  // as text again; each time the terminal is asked what it does now.
  terminal->reportEveryKey(true);
  terminal->reportEveryKey(false);
  EXPECT_EQ(pty.readAll(), "\x1b[=27;1u\x1b[?u\x1b[=3;1u\x1b[?u");

  terminal->restore();
  EXPECT_TRUE(sameModes(modesOf(pty.slave), before));
  const std::string closing = pty.readAll();
  for (const char* mode : {"\x1b[?1049l", "\x1b[?1000l", "\x1b[?1006l", "\x1b[?1004l",
                           "\x1b[?2004l", "\x1b[?25h", "\x1b[0m"})
    EXPECT_NE(closing.find(mode), std::string::npos) << mode;

  // Restoring again, or destroying, sends nothing more.
  terminal->restore();
  terminal->drawRun(0, 0, "x", {}, {});
  terminal->flush();
  terminal.reset();
  EXPECT_EQ(pty.readAll(), "");
  EXPECT_TRUE(sameModes(modesOf(pty.slave), before));
}

TEST_F(TtyTerminalTest, DestroyingRestores) {
  const termios before = modesOf(pty.slave);
  openTerminal();
  terminal.reset();
  EXPECT_TRUE(sameModes(modesOf(pty.slave), before));
  EXPECT_NE(pty.readAll().find("\x1b[?1049l"), std::string::npos);
  // And the next one may open.
  openTerminal();
}

TEST_F(TtyTerminalTest, DrawsWith24BitColours) {
  setenv("COLORTERM", "truecolor", 1);
  openTerminal();
  EXPECT_EQ(terminal->colourDepth(), ColourDepth::trueColour);
  terminal->drawRun(2, 5, "Op\xE7\xE3o", {255, 0, 0}, {0, 0, 255});
  terminal->flush();
  EXPECT_EQ(pty.readAll(), "\x1b[3;6H\x1b[38;2;255;0;0;48;2;0;0;255mOp\xC3\xA7\xC3\xA3o");
  // The same colours are not sent again; a change is.
  terminal->drawRun(3, 0, "xyz", {255, 0, 0}, {0, 0, 255});
  terminal->drawRun(3, 3, "\x80!", {68, 34, 34}, {40, 40, 40});
  terminal->flush();
  EXPECT_EQ(pty.readAll(),
            "\x1b[4;1Hxyz\x1b[4;4H\x1b[38;2;68;34;34;48;2;40;40;40m\xE2\x82\xAC!");
}

TEST_F(TtyTerminalTest, DrawsWithTheNearestSixteenOr256Colours) {
  openTerminal();
  EXPECT_EQ(terminal->colourDepth(), ColourDepth::ansi16);
  terminal->drawRun(0, 0, "a", {255, 128, 128}, {0, 0, 0});
  terminal->drawRun(0, 1, "b", {192, 192, 192}, {0, 0, 255});
  terminal->flush();
  EXPECT_EQ(pty.readAll(), "\x1b[1;1H\x1b[91;40ma\x1b[1;2H\x1b[37;44mb");
  terminal.reset();

  setenv("TERM", "xterm-256color", 1);
  openTerminal();
  EXPECT_EQ(terminal->colourDepth(), ColourDepth::palette256);
  terminal->drawRun(0, 0, "a", {255, 255, 0}, {68, 34, 34});
  terminal->flush();
  EXPECT_EQ(pty.readAll(), "\x1b[1;1H\x1b[38;5;226;48;5;235ma");
}

// Every pair of colours the program draws with stays readable for low
// vision in a 16-colour terminal, as such terminals show the ANSI colours:
// the file selector's entries on their brown list (which becomes yellow
// there), the selection, the prompts' and help lists' backgrounds. The
// entries stay told apart.
TEST(TerminalColours, PairsTheProgramUsesStayReadableInSixteenColours) {
  const Rgb white{255, 255, 255}, yellow{255, 255, 0}, green{0, 255, 0}, cyan{0, 255, 255};
  const Rgb black{0, 0, 0}, blue{0, 0, 255}, red{255, 0, 0}, purple{142, 0, 142}, brown{68, 34, 34},
      grey{40, 40, 40};
  const Rgb xterm[16] = {{0, 0, 0},       {205, 0, 0},   {0, 205, 0},   {205, 205, 0},
                         {0, 0, 238},     {205, 0, 205}, {0, 205, 205}, {229, 229, 229},
                         {127, 127, 127}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                         {92, 92, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  const auto shown = [&](Rgb fg, Rgb bg) {
    const std::string sgr = sgrColours(ColourDepth::ansi16, fg, bg);
    const int f = std::stoi(sgr.substr(0, sgr.find(';'))), b = std::stoi(sgr.substr(sgr.find(';') + 1));
    return std::pair<Rgb, Rgb>{xterm[f >= 90 ? f - 90 + 8 : f - 30], xterm[b >= 100 ? b - 100 + 8 : b - 40]};
  };
  std::vector<std::pair<Rgb, Rgb>> list;
  for (const auto& [fg, bg] : std::vector<std::pair<Rgb, Rgb>>{
           {white, black}, {white, blue}, {white, red}, {white, purple}, {white, grey},
           {white, brown}, {yellow, brown}, {green, brown}, {cyan, brown}}) {
    const auto [f, b] = shown(fg, bg);
    EXPECT_GE(contrastRatio(f, b), 4.5) << int(fg.r) << "," << int(fg.g) << "," << int(fg.b) << " on " << int(bg.r)
                                        << "," << int(bg.g) << "," << int(bg.b);
    if (bg == brown) list.push_back({f, b});
  }
  // The current entry, a marked one and a directory look unlike a plain one.
  for (size_t i = 1; i < list.size(); ++i) EXPECT_NE(list[i], list[0]) << i;
  // Black on black hides a password, and stays so.
  EXPECT_EQ(sgrColours(ColourDepth::ansi16, black, black), "30;40");
}

TEST(NearestAnsiColour, EveryPaletteColourKeepsItsPlace) {
  // The console palette, colours 0-15, and the ANSI colour each becomes.
  const Rgb palette[16] = {{0, 0, 0},       {0, 0, 255},     {0, 255, 0},     {0, 255, 255},
                           {255, 0, 0},     {142, 0, 142},   {68, 34, 34},    {192, 192, 192},
                           {40, 40, 40},    {128, 128, 255}, {128, 255, 128}, {128, 255, 255},
                           {255, 128, 128}, {255, 128, 255}, {255, 255, 0},   {255, 255, 255}};
  const int ansi[16] = {0, 4, 2, 6, 1, 5, 3, 7, 8, 12, 10, 14, 9, 13, 11, 15};
  for (int c = 0; c < 16; ++c) EXPECT_EQ(nearestAnsiColour(palette[c]), ansi[c]) << "colour " << c;
  EXPECT_EQ(nearestAnsiColour({200, 10, 10}), 1);
  EXPECT_EQ(nearestAnsiColour({250, 250, 240}), 15);
  EXPECT_EQ(nearestAnsiColour({20, 20, 20}), 0);
}

TEST_F(TtyTerminalTest, ClipsToASmallTerminal) {
  pty.setSize(10, 20);
  openTerminal();
  EXPECT_EQ(terminal->size().rows, 10);
  EXPECT_EQ(terminal->size().columns, 20);
  terminal->drawRun(3, 15, "abcdefghij", {255, 255, 255}, {0, 0, 0});
  terminal->drawRun(10, 0, "below", {255, 255, 255}, {0, 0, 0});
  terminal->drawRun(0, 20, "right", {255, 255, 255}, {0, 0, 0});
  terminal->placeCursor(24, 0, true);  // off the screen: stays hidden
  terminal->flush();
  EXPECT_EQ(pty.readAll(), "\x1b[4;16H\x1b[97;40mabcde");
}

TEST_F(TtyTerminalTest, ResizeReachesTheMainThread) {
  openTerminal();
  pty.setSize(30, 100);
  kill(getpid(), SIGWINCH);
  EXPECT_EQ(resizes, 0);  // not from inside the signal
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (resizes == 0 && std::chrono::steady_clock::now() < deadline) eventLoop().waitForMessage(50);
  EXPECT_EQ(resizes, 1);
  EXPECT_EQ(terminal->size().rows, 30);
  EXPECT_EQ(terminal->size().columns, 100);
}

TEST_F(TtyTerminalTest, CursorIsHiddenWhileDrawingAndPlacedAfter) {
  openTerminal();
  terminal->placeCursor(4, 7, true);
  terminal->flush();
  EXPECT_EQ(pty.readAll(), "\x1b[5;8H\x1b[?25h");
  terminal->drawRun(0, 0, "a", {255, 255, 255}, {0, 0, 0});
  terminal->flush();
  EXPECT_EQ(pty.readAll(), "\x1b[?25l\x1b[1;1H\x1b[97;40ma\x1b[5;8H\x1b[?25h");
  terminal->placeCursor(4, 7, false);
  terminal->flush();
  EXPECT_EQ(pty.readAll(), "\x1b[?25l");
}

TEST_F(TtyTerminalTest, TitleClipboardAndBeep) {
  openTerminal();
  terminal->setTitle("Grava\xE7\xE3o\x07\x1b]x");
  terminal->flush();
  // Control bytes in the title would end or hijack the sequence.
  EXPECT_EQ(pty.readAll(), "\x1b]2;Grava\xC3\xA7\xC3\xA3o  ]x\a");

  terminal->copyToClipboard("Ol\xE1");
  terminal->copyToClipboard("Ol\xE1!");
  terminal->copyToClipboard("Man");
  terminal->flush();
  EXPECT_EQ(pty.readAll(), "\x1b]52;c;T2zDoQ==\a\x1b]52;c;T2zDoSE=\a\x1b]52;c;TWFu\a");

  terminal->beep();  // sent at once
  EXPECT_EQ(pty.readAll(), "\a");
}

TEST_F(TtyTerminalTest, TypedBytesArriveAsEvents) {
  openTerminal();
  // Control+C is a byte like any other: no signal, no line discipline.
  pty.type("a\x03\x1b[1;5A\xC3\xA7\r\x7f");
  waitForEvents(6);
  ASSERT_EQ(events.size(), 6u);
  EXPECT_EQ(events[0].ch, 'a');
  EXPECT_EQ(events[1].ch, 3);
  EXPECT_TRUE(events[1].mods.ctrl);
  EXPECT_EQ(events[2].kind, InputEvent::Kind::KeyDown);
  EXPECT_EQ(events[2].key, Key::Up);
  EXPECT_TRUE(events[2].mods.ctrl);
  EXPECT_EQ(events[3].ch, 0xE7);
  EXPECT_EQ(events[4].ch, 13);  // not turned into a line feed
  EXPECT_EQ(events[5].ch, 8);
  EXPECT_EQ(pty.readAll(), "");  // nothing echoed

  // A lone ESC comes out after the short wait; ESC with a letter is Alt.
  events.clear();
  pty.type("\x1b");
  waitForEvents(1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, InputEvent::Kind::Char);
  EXPECT_EQ(events[0].ch, 27);
  events.clear();
  pty.type("\x1bg");
  waitForEvents(1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].key, Key::Character);
  EXPECT_EQ(events[0].ch, 'G');
  EXPECT_TRUE(events[0].mods.alt);
}

TEST_F(TtyTerminalTest, SinkMayDestroyTheTerminal) {
  const termios before = modesOf(pty.slave);
  int seen = 0;
  terminal = TtyTerminal::open(
      pty.slave, pty.slave,
      [&](const InputEvent&) {
        ++seen;
        terminal.reset();
      },
      {});
  ASSERT_NE(terminal, nullptr);
  pty.type("abc");
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (seen == 0 && std::chrono::steady_clock::now() < deadline) eventLoop().waitForMessage(50);
  eventLoop().processPending();
  EXPECT_EQ(seen, 1);  // the rest of the read went with the terminal
  EXPECT_EQ(terminal, nullptr);
  EXPECT_TRUE(sameModes(modesOf(pty.slave), before));
}

// Waits for `child` to end, at most `limit`; a child still running then is
// killed, so that a test fails instead of waiting for ever.
bool waitForChild(pid_t child, int& status, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended == child) return true;
    if (ended < 0) return false;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(10ms);
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return false;
}

// A child opens the terminal and is killed by `sig` (or, for 0, exits);
// the parent checks that the child died of that signal and left the
// terminal as it found it.
// A crash signal may also be reported by a sanitizer, which then exits.
void expectRestoredAfterSignal(int sig, bool mayExitInstead = false) {
  SCOPED_TRACE(sig == 0 ? "exit" : strsignal(sig));
  Pty pty;
  const termios before = modesOf(pty.slave);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    // A test binary started under nohup or as a background job ignores
    // SIGHUP or SIGINT, and the terminal keeps an ignored signal ignored:
    // the child must start from the defaults to be ended by them.
    for (int s : {SIGTERM, SIGHUP, SIGINT, SIGSEGV, SIGABRT}) signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    auto terminal = TtyTerminal::open(pty.slave, pty.slave, {}, {});
    if (!terminal) _exit(90);
    terminal->drawRun(0, 0, "ol\xE1", {255, 255, 255}, {0, 0, 0});
    terminal->flush();
    if (write(ready[1], "r", 1) != 1) _exit(91);
    if (sig == 0) {
      // Ends normally with the terminal still open and owned by a static.
      static std::unique_ptr<TtyTerminal> kept;
      kept = std::move(terminal);
      std::exit(0);
    }
    for (;;) pause();
  }
  close(ready[1]);
  pollfd readyPoll{ready[0], POLLIN, 0};
  char byte = 0;
  const bool childReady = poll(&readyPoll, 1, 10'000) == 1 && read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  int status = 0;
  if (!childReady) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the child did not open the terminal";
  }
  if (sig == 0) {
    ASSERT_TRUE(waitForChild(child, status)) << "the child did not end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  } else {
    EXPECT_FALSE(modesOf(pty.slave).c_lflag & ECHO);  // raw while the child runs
    ASSERT_EQ(kill(child, sig), 0);
    ASSERT_TRUE(waitForChild(child, status)) << "the child did not end";
    if (mayExitInstead && WIFEXITED(status)) {
      EXPECT_NE(WEXITSTATUS(status), 0);
    } else {
      ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
      EXPECT_EQ(WTERMSIG(status), sig);
    }
  }
  EXPECT_TRUE(sameModes(modesOf(pty.slave), before));
  const std::string output = pty.readAll();
  EXPECT_NE(output.find("ol\xC3\xA1"), std::string::npos);
  EXPECT_NE(output.find("\x1b[?1049l"), std::string::npos);
  EXPECT_NE(output.find("\x1b[?25h"), std::string::npos);
  // The keyboard mode is popped on the alternate screen, where it was pushed.
  EXPECT_LT(output.find("\x1b[<u"), output.find("\x1b[?1049l"));
}

TEST(TtyTerminalSignals, EndingSignalsRestoreAndEndTheProcess) {
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) expectRestoredAfterSignal(sig);
}

TEST(TtyTerminalSignals, ExitRestores) { expectRestoredAfterSignal(0); }

TEST(TtyTerminalSignals, CrashSignalsRestore) {
  for (int sig : {SIGSEGV, SIGABRT}) expectRestoredAfterSignal(sig, true);
}

}  // namespace
}  // namespace kalimbro
