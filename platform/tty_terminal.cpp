// The real terminal backend: raw mode, alternate screen, xterm output
// sequences, input through the event loop, and restoring on every way out.
#include "platform/tty_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/codec.h"
#include "platform/eventloop.h"
#include "platform/signal_cleanup.h"
#include "platform/terminal_colours.h"

namespace kalimbro {
namespace {

// How long a lone ESC waits for the rest of a sequence.
constexpr int kEscTimeoutMs = 30;

// Alternate screen, the kitty keyboard mode pushed (disambiguated keys with
// their releases; each screen keeps its own modes, so it comes after the
// switch) and asked about, saved window title, SGR mouse (button presses),
// focus reports, bracketed paste, hidden cursor, a clean screen. Terminals
// without the kitty protocol ignore its sequences and never answer.
constexpr std::string_view kEnterBytes =
    "\x1b[?1049h\x1b[>3u\x1b[?u\x1b[22;0t\x1b[?1000h\x1b[?1006h\x1b[?1004h\x1b[?2004h"
    "\x1b[?25l\x1b[0m\x1b[H\x1b[2J";
// The same undone, in reverse: popping the keyboard mode also drops what
// reportEveryKey set on top of it.
constexpr std::string_view kLeaveBytes =
    "\x1b[?2004l\x1b[?1004l\x1b[?1006l\x1b[?1000l\x1b[0m\x1b[?25h"
    "\x1b[23;0t\x1b[<u\x1b[?1049l";
// The keyboard mode with and without every key (with its text) reported,
// each followed by the question whose answer tells the console.
constexpr std::string_view kEveryKeyBytes = "\x1b[=27;1u\x1b[?u";
constexpr std::string_view kTextAsTextBytes = "\x1b[=3;1u\x1b[?u";


// ---- What the signal handlers need, reachable without locks. ----

struct SignalState {
  volatile sig_atomic_t armed = 0;
  int inFd = -1;
  int outFd = -1;
  termios saved{};
  int resizeFd = -1;  // write end of the resize pipe
};
SignalState gSignals;
TtyTerminal* gOpen = nullptr;

// Signals that end the process: restore, then die of the signal.
constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
// Faults: restore, then hand over to whoever handled them before.
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

struct SavedAction {
  int signal;
  bool installed;
  struct sigaction old;
};
std::array<SavedAction, std::size(kEndingSignals) + std::size(kCrashSignals) + 1> gActions{};

bool isEndingSignal(int sig) {
  for (int s : kEndingSignals)
    if (s == sig) return true;
  return false;
}

void writeAllSignalSafe(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void restoreFromSignal() {
  if (!gSignals.armed) return;
  gSignals.armed = 0;
  writeAllSignalSafe(gSignals.outFd, kLeaveBytes.data(), kLeaveBytes.size());
  tcsetattr(gSignals.inFd, TCSANOW, &gSignals.saved);
}

extern "C" void onFatalSignal(int sig, siginfo_t* info, void*) {
  const int savedErrno = errno;
  restoreFromSignal();
  cleanupOnSignal();
  if (isEndingSignal(sig)) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);  // delivered when this handler returns
  } else {
    for (const SavedAction& a : gActions)
      if (a.installed && a.signal == sig) sigaction(sig, &a.old, nullptr);
    // A real fault happens again on return; a signal sent by someone
    // (kill, abort's own raise) has to be sent again.
    if (info == nullptr || info->si_code <= 0) raise(sig);
  }
  errno = savedErrno;
}

extern "C" void onWindowChange(int) {
  const int savedErrno = errno;
  const char byte = 'w';
  if (gSignals.resizeFd >= 0) {
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = ::write(gSignals.resizeFd, &byte, 1);
  }
  errno = savedErrno;
}

void installHandlers() {
  size_t i = 0;
  auto install = [&i](int sig, void (*handler)(int, siginfo_t*, void*), void (*plain)(int)) {
    SavedAction& a = gActions[i++];
    a.signal = sig;
    a.installed = false;
    if (sigaction(sig, nullptr, &a.old) != 0) return;
    // A signal the program was started with ignored stays ignored
    // (SIGHUP under nohup, SIGINT in a background job).
    if (!(a.old.sa_flags & SA_SIGINFO) && a.old.sa_handler == SIG_IGN) return;
    struct sigaction act {};
    sigemptyset(&act.sa_mask);
    if (handler) {
      act.sa_sigaction = handler;
      act.sa_flags = SA_SIGINFO;
    } else {
      act.sa_handler = plain;
      act.sa_flags = SA_RESTART;
    }
    a.installed = sigaction(sig, &act, nullptr) == 0;
  };
  for (int sig : kEndingSignals) install(sig, onFatalSignal, nullptr);
  for (int sig : kCrashSignals) install(sig, onFatalSignal, nullptr);
  install(SIGWINCH, nullptr, onWindowChange);
}

void restoreHandlers() {
  for (SavedAction& a : gActions) {
    if (a.installed) sigaction(a.signal, &a.old, nullptr);
    a.installed = false;
  }
}

// Writes everything, through EINTR, partial writes and a non-blocking
// descriptor. Gives up when the terminal is gone.
void writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 1000) > 0) continue;
    }
    return;
  }
}

// Raw input: no echo, no line editing, no signals or flow control from
// keys, eight clean bits, one byte satisfies a read. Output processing is
// left on: the screen is drawn with explicit cursor moves, and a message
// some library prints still lands at the start of a line.
termios rawModes(const termios& saved) {
  termios raw = saved;
  raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF);
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  raw.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
  raw.c_cflag |= CS8;
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}


std::string base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                       static_cast<uint8_t>(bytes[i + 2]);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  if (const size_t rest = bytes.size() - i; rest > 0) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Bytes that would act instead of showing (controls, and the code page's
// unused bytes, which stand for C1 controls) are shown as blanks.
std::string showable(std::string_view cp1252) {
  std::string s(cp1252);
  for (char& c : s) {
    const char32_t cp = cp1252ToCodePoint(static_cast<uint8_t>(c));
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) c = ' ';
  }
  return s;
}

void appendCursorMove(std::string& out, int row, int col) {
  out += "\x1b[";
  out += std::to_string(row + 1);
  out += ';';
  out += std::to_string(col + 1);
  out += 'H';
}


void restoreAtExit() {
  if (gOpen != nullptr) gOpen->restore();
}

}  // namespace


std::unique_ptr<TtyTerminal> TtyTerminal::open(int inFd, int outFd, InputSink sink,
                                               std::function<void()> onResize) {
  if (gOpen != nullptr || !isatty(inFd)) return nullptr;
  termios saved;
  if (tcgetattr(inFd, &saved) != 0) return nullptr;
  auto terminal =
      std::make_unique<TtyTerminal>(Passkey{}, inFd, outFd, std::move(sink), std::move(onResize));
  if (!terminal->start(saved)) return nullptr;
  return terminal;
}

TtyTerminal::TtyTerminal(Passkey, int inFd, int outFd, InputSink sink,
                         std::function<void()> onResize)
    : inFd_(inFd), outFd_(outFd), sink_(std::move(sink)), onResize_(std::move(onResize)) {}

TtyTerminal::~TtyTerminal() {
  *alive_ = false;
  restore();
}

bool TtyTerminal::start(const termios& saved) {
  if (pipe2(resizePipe_, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  const termios raw = rawModes(saved);
  if (tcsetattr(inFd_, TCSADRAIN, &raw) != 0) {
    ::close(resizePipe_[0]);
    ::close(resizePipe_[1]);
    resizePipe_[0] = resizePipe_[1] = -1;
    return false;
  }
  active_ = true;
  gOpen = this;
  gSignals.inFd = inFd_;
  gSignals.outFd = outFd_;
  gSignals.saved = saved;
  gSignals.resizeFd = resizePipe_[1];
  gSignals.armed = 1;
  installHandlers();

  colourDepth_ = colourDepthFromEnvironment();
  readSize();
  writeAll(outFd_, kEnterBytes);
  cursorShown_ = false;

  inputWatch_ = eventLoop().watch(inFd_, [this] { onReadable(); });
  // Registered after the event loop exists, so that at exit it runs while
  // the loop is still there, whatever static object owns this terminal.
  static const bool atExitRegistered = std::atexit(restoreAtExit) == 0;
  (void)atExitRegistered;
  resizeWatch_ = eventLoop().watch(resizePipe_[0], [this] { onResizeSignal(); });
  return true;
}

void TtyTerminal::restore() {
  if (!active_) return;
  active_ = false;
  eventLoop().unwatch(inputWatch_);
  eventLoop().unwatch(resizeWatch_);
  out_.clear();
  writeAll(outFd_, kLeaveBytes);
  tcsetattr(inFd_, TCSADRAIN, &gSignals.saved);
  gSignals.armed = 0;
  restoreHandlers();
  gSignals.resizeFd = -1;
  ::close(resizePipe_[0]);
  ::close(resizePipe_[1]);
  resizePipe_[0] = resizePipe_[1] = -1;
  gOpen = nullptr;
}

void TtyTerminal::readSize() {
  winsize ws{};
  if (ioctl(outFd_, TIOCGWINSZ, &ws) != 0 && ioctl(inFd_, TIOCGWINSZ, &ws) != 0) ws = {};
  rows_ = ws.ws_row;
  columns_ = ws.ws_col;
}

bool TtyTerminal::cellVisible(int row, int col) const {
  return row >= 0 && col >= 0 && (rows_ == 0 || row < rows_) && (columns_ == 0 || col < columns_);
}

void TtyTerminal::hideCursorForDrawing() {
  if (cursorShown_) {
    out_ += "\x1b[?25l";
    cursorShown_ = false;
  }
  cursorDirty_ = true;
}

void TtyTerminal::drawRun(int row, int col, std::string_view cells, Rgb fg, Rgb bg) {
  if (!active_ || cells.empty() || !cellVisible(row, col)) return;
  if (columns_ > 0) cells = cells.substr(0, static_cast<size_t>(columns_ - col));
  hideCursorForDrawing();
  appendCursorMove(out_, row, col);
  if (!coloursKnown_ || fg != lastFg_ || bg != lastBg_) {
    out_ += "\x1b[" + sgrColours(colourDepth_, fg, bg) + "m";
    coloursKnown_ = true;
    lastFg_ = fg;
    lastBg_ = bg;
  }
  out_ += toUtf8(showable(cells));
}

void TtyTerminal::placeCursor(int row, int col, bool visible) {
  if (row == cursorRow_ && col == cursorCol_ && visible == cursorVisible_) return;
  cursorRow_ = row;
  cursorCol_ = col;
  cursorVisible_ = visible;
  cursorDirty_ = true;
}

void TtyTerminal::setTitle(std::string_view cp1252) {
  if (!active_) return;
  out_ += "\x1b]2;";
  out_ += toUtf8(showable(cp1252));
  out_ += '\a';
}

void TtyTerminal::copyToClipboard(std::string_view cp1252) {
  if (!active_) return;
  out_ += "\x1b]52;c;";
  out_ += base64(toUtf8(cp1252));
  out_ += '\a';
}

void TtyTerminal::beep() {
  if (!active_) return;
  out_ += '\a';
  flush();
}

void TtyTerminal::reportEveryKey(bool on) {
  if (!active_) return;
  out_ += on ? kEveryKeyBytes : kTextAsTextBytes;
  flush();
}

void TtyTerminal::flush() {
  if (!active_) return;
  if (cursorDirty_) {
    if (cursorVisible_ && cellVisible(cursorRow_, cursorCol_)) {
      appendCursorMove(out_, cursorRow_, cursorCol_);
      if (!cursorShown_) out_ += "\x1b[?25h";
      cursorShown_ = true;
    } else if (cursorShown_) {
      out_ += "\x1b[?25l";
      cursorShown_ = false;
    }
    cursorDirty_ = false;
  }
  writeAll(outFd_, out_);
  out_.clear();
}

void TtyTerminal::deliver(const std::vector<InputEvent>& events,
                          const std::shared_ptr<bool>& alive) {
  // A copy, since the sink may destroy this terminal and its sink_.
  const InputSink sink = sink_;
  if (!sink) return;
  for (const InputEvent& e : events) {
    if (!*alive || !active_) return;
    sink(e);
  }
}

void TtyTerminal::onReadable() {
  const std::shared_ptr<bool> alive = alive_;
  char buffer[4096];
  ssize_t n = ::read(inFd_, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (n <= 0) {
    // The terminal is gone (end of file, or EIO after a hangup). Stop
    // watching it, and end as a hangup would.
    eventLoop().unwatch(inputWatch_);
    kill(getpid(), SIGHUP);
    return;
  }
  deliver(decoder_.feed(std::string_view(buffer, static_cast<size_t>(n))), alive);
  // A lone ESC, or a sequence cut short: wait briefly for the rest.
  while (*alive && active_ && decoder_.waitingForMore()) {
    pollfd p{inFd_, POLLIN, 0};
    const int ready = poll(&p, 1, kEscTimeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready > 0 && (p.revents & POLLIN)) {
      n = ::read(inFd_, buffer, sizeof buffer);
      if (n > 0) {
        deliver(decoder_.feed(std::string_view(buffer, static_cast<size_t>(n))), alive);
        continue;
      }
    }
    deliver(decoder_.flushPending(), alive);
    break;
  }
}

void TtyTerminal::onResizeSignal() {
  char drain[64];
  while (::read(resizePipe_[0], drain, sizeof drain) > 0) {
  }
  readSize();
  if (onResize_) onResize_();
}

}  // namespace kalimbro
