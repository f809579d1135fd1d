// End-to-end harness: the program in a pseudo-terminal, its screen read
// back through libvterm. See harness.h.
#include "tests/e2e/harness.h"

#include "platform/codec.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kalimbro::e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// How long the program gets to tell a lone ESC from the start of a sequence
// (it waits about 30 ms).
constexpr milliseconds kEscPause{80};
// Granularity of every wait.
constexpr milliseconds kPollStep{20};
// After a SIGTERM, how long the program gets to restore the terminal.
constexpr milliseconds kTermGrace{2000};

std::string csi(std::string_view body) { return "\x1b[" + std::string(body); }

int xtermModifier(unsigned mods) { return 1 + static_cast<int>(mods & 7u); }


std::string trimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string settingsText(const Options& options) {
  std::vector<Setting> all;
  if (options.defaultSettings) {
    all.push_back({"SOM", "SAIDA", "nulo"});
    all.push_back({"SOM", "ENTRADA", "nulo"});
    // Speech plays in real time even on the silent device: the fastest
    // level, sped up by the playback engine, without punctuation pauses.
    all.push_back({"TRADUTOR", "VELOCIDADE", "5"});
    all.push_back({"SINTETIZADOR", "RAPIDINHO5", "S"});
    all.push_back({"SINTETIZADOR", "PAUSAPONTO5", "0"});
    all.push_back({"SINTETIZADOR", "PAUSAVIRG5", "0"});
    all.push_back({"SINTETIZADOR", "PAUSADOISPONTOS5", "0"});
  }
  for (const Setting& s : options.settings) {
    auto same = std::find_if(all.begin(), all.end(), [&](const Setting& o) {
      return sameName(o.section, s.section) && sameName(o.key, s.key);
    });
    if (same != all.end()) {
      same->value = s.value;
    } else {
      all.push_back(s);
    }
  }
  std::vector<std::string> sections;
  for (const Setting& s : all) {
    if (std::none_of(sections.begin(), sections.end(), [&](const std::string& n) { return sameName(n, s.section); })) {
      sections.push_back(s.section);
    }
  }
  std::string text;
  for (const std::string& section : sections) {
    text += "[" + section + "]\n";
    for (const Setting& s : all) {
      if (sameName(s.section, section)) text += s.key + "=" + s.value + "\n";
    }
  }
  return text;
}

std::vector<std::string> environmentFor(const Options& options, const fs::path& configHome,
                                        const fs::path& tempDir, const fs::path& stateHome) {
  std::vector<std::pair<std::string, std::string>> set = {
      {"TERM", "xterm-256color"},
      {"XDG_CONFIG_HOME", configHome.string()},
      {"TMPDIR", tempDir.string()},
      {"XDG_STATE_HOME", stateHome.string()},
  };
  for (const auto& extra : options.env) {
    auto same = std::find_if(set.begin(), set.end(), [&](const auto& e) { return e.first == extra.first; });
    if (same != set.end()) {
      same->second = extra.second;
    } else {
      set.push_back(extra);
    }
  }
  // The outer terminal's colour support and size must not leak in.
  const std::array<std::string_view, 3> dropped = {"COLORTERM", "LINES", "COLUMNS"};
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    std::string_view name = entry.substr(0, entry.find('='));
    bool replaced = std::any_of(set.begin(), set.end(), [&](const auto& s) { return s.first == name; }) ||
                    std::find(dropped.begin(), dropped.end(), name) != dropped.end();
    if (!replaced) env.emplace_back(entry);
  }
  for (const auto& [name, value] : set) env.push_back(name + "=" + value);
  return env;
}

}  // namespace

// ---------------------------------------------------------------- keys

std::string keyBytes(Key key, unsigned mods) {
  mods &= mod::Shift | mod::Alt | mod::Ctrl;
  const std::string m = std::to_string(xtermModifier(mods));

  // Keys that are plain bytes: Alt alone prefixes ESC; the other
  // combinations use xterm's modifyOtherKeys form CSI 27;m;code~, except
  // the two every terminal sends on its own (Shift+Tab, Control+Backspace).
  auto plain = [&](char byte) -> std::string {
    if (mods == 0) return std::string(1, byte);
    if (mods == mod::Alt) return std::string("\x1b") + byte;
    return csi("27;" + m + ";" + std::to_string(static_cast<unsigned char>(byte)) + "~");
  };
  // CSI 1;m X with modifiers, `unmodified` without.
  auto letter = [&](char final, std::string_view unmodified) -> std::string {
    if (mods == 0) return std::string(unmodified);
    return csi("1;" + m + final);
  };
  auto tilde = [&](int number) -> std::string {
    if (mods == 0) return csi(std::to_string(number) + "~");
    return csi(std::to_string(number) + ";" + m + "~");
  };

  switch (key) {
    case Key::Enter: return plain('\r');
    case Key::Esc: return plain('\x1b');
    case Key::Tab: return mods == mod::Shift ? csi("Z") : plain('\t');
    case Key::Backspace: return mods == mod::Ctrl ? std::string("\x08") : plain('\x7f');
    case Key::F1: return letter('P', "\x1bOP");
    case Key::F2: return letter('Q', "\x1bOQ");
    case Key::F3: return letter('R', "\x1bOR");
    case Key::F4: return letter('S', "\x1bOS");
    case Key::F5: return tilde(15);
    case Key::F6: return tilde(17);
    case Key::F7: return tilde(18);
    case Key::F8: return tilde(19);
    case Key::F9: return tilde(20);
    case Key::F10: return tilde(21);
    case Key::F11: return tilde(23);
    case Key::F12: return tilde(24);
    case Key::Up: return letter('A', "\x1b[A");
    case Key::Down: return letter('B', "\x1b[B");
    case Key::Right: return letter('C', "\x1b[C");
    case Key::Left: return letter('D', "\x1b[D");
    case Key::Home: return letter('H', "\x1b[H");
    case Key::End: return letter('F', "\x1b[F");
    case Key::Insert: return tilde(2);
    case Key::Delete: return tilde(3);
    case Key::PageUp: return tilde(5);
    case Key::PageDown: return tilde(6);
  }
  return {};
}

Input Input::alt(char letter) { return raw(std::string("\x1b") + letter); }

Input Input::ctrl(char letter) { return raw(std::string(1, static_cast<char>(letter & 0x1F))); }

Input Input::raw(std::string bytes) {
  Input in("");
  in.bytes = std::move(bytes);
  return in;
}

Input Input::mouse(MouseButton button, int row, int col) {
  int code = 0;
  switch (button) {
    case MouseButton::Left: code = 0; break;
    case MouseButton::Middle: code = 1; break;
    case MouseButton::Right: code = 2; break;
    case MouseButton::WheelUp: code = 64; break;
    case MouseButton::WheelDown: code = 65; break;
  }
  const std::string where = std::to_string(code) + ";" + std::to_string(col + 1) + ";" + std::to_string(row + 1);
  std::string bytes = csi("<" + where + "M");
  // A wheel turn has no release.
  if (code < 64) bytes += csi("<" + where + "m");
  return raw(bytes);
}

Input Input::paste(std::string_view utf8Text) {
  return raw(csi("200~") + std::string(utf8Text) + csi("201~"));
}

Input Input::focus(bool gained) { return raw(csi(gained ? "I" : "O")); }

// ---------------------------------------------------------------- printing

std::ostream& operator<<(std::ostream& os, const Pos& pos) {
  return os << "(row " << pos.row << ", col " << pos.col << ")";
}

std::ostream& operator<<(std::ostream& os, const ExitStatus& status) {
  if (status.exited) return os << "exited with status " << status.code;
  return os << "killed by signal " << status.signal << " (" << strsignal(status.signal) << ")";
}

// ---------------------------------------------------------------- terminal

// The libvterm terminal and the modes it reports.
struct Session::Terminal {
  struct FreeVTerm {
    void operator()(VTerm* vt) const { vterm_free(vt); }
  };
  std::unique_ptr<VTerm, FreeVTerm> vt;
  VTermScreen* screen = nullptr;
  int rows = 0;
  int cols = 0;
  bool altScreen = false;
  bool cursorVisible = true;
  int mouse = VTERM_PROP_MOUSE_NONE;
  std::string title;
  int bells = 0;
  // What the terminal answers the program (cursor position reports and the
  // like), waiting to be written to it.
  std::string replies;

  static int onTermProp(VTermProp prop, VTermValue* val, void* user) {
    auto* t = static_cast<Terminal*>(user);
    switch (prop) {
      case VTERM_PROP_ALTSCREEN: t->altScreen = val->boolean != 0; break;
      case VTERM_PROP_CURSORVISIBLE: t->cursorVisible = val->boolean != 0; break;
      case VTERM_PROP_MOUSE: t->mouse = val->number; break;
      case VTERM_PROP_TITLE: t->title = val->string != nullptr ? val->string : ""; break;
      default: break;
    }
    return 1;
  }
  static int onBell(void* user) {
    ++static_cast<Terminal*>(user)->bells;
    return 1;
  }
  static void onOutput(const char* s, size_t len, void* user) {
    static_cast<Terminal*>(user)->replies.append(s, len);
  }

  Terminal(int r, int c) : vt(vterm_new(r, c)), rows(r), cols(c) {
    vterm_set_utf8(vt.get(), 1);
    vterm_output_set_callback(vt.get(), &Terminal::onOutput, this);
    screen = vterm_obtain_screen(vt.get());
    static const VTermScreenCallbacks callbacks = {
        .damage = nullptr,
        .moverect = nullptr,
        .movecursor = nullptr,
        .settermprop = &Terminal::onTermProp,
        .bell = &Terminal::onBell,
        .resize = nullptr,
        .sb_pushline = nullptr,
        .sb_popline = nullptr,
    };
    vterm_screen_set_callbacks(screen, &callbacks, this);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_reset(screen, 1);
  }
};

// ---------------------------------------------------------------- session

Session::Session(Passkey) {}

std::unique_ptr<Session> Session::start(const Options& options, std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<Session> {
    if (error != nullptr) *error = why;
    return nullptr;
  };

  auto s = std::make_unique<Session>(Passkey{});
  s->term_ = std::make_unique<Terminal>(options.rows, options.cols);

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = (tmp != nullptr && *tmp != '\0' ? std::string(tmp) : std::string("/tmp")) +
                        "/kalimbro-e2e-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return fail("mkdtemp: " + std::string(strerror(errno)));
  s->root_ = pattern;
  const fs::path configHome = s->root_ / "config";
  s->settingsDir_ = configHome / "Varelu";
  s->tempDir_ = s->root_ / "tmp";
  s->stateHome_ = s->root_ / "state";
  for (const auto& [name, value] : options.env)
    if (name == "XDG_STATE_HOME") s->stateHome_ = value;
  s->workDir_ = options.workDir.empty() ? s->root_ / "work" : options.workDir;
  std::error_code ec;
  for (const fs::path& dir : {s->settingsDir_, s->tempDir_, s->workDir_}) {
    fs::create_directories(dir, ec);
    if (ec) return fail("cannot create " + dir.string() + ": " + ec.message());
  }
  if (!writeFile(s->settingsFile(), settingsText(options))) {
    return fail("cannot write " + s->settingsFile().string());
  }
  for (const auto& [name, contents] : options.files) {
    const fs::path path = s->workDir_ / name;
    fs::create_directories(path.parent_path(), ec);
    if (ec || !writeFile(path, contents)) return fail("cannot write " + path.string());
  }

  std::vector<std::string> argStrings = {options.program};
  argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
  std::vector<std::string> envStrings = environmentFor(options, configHome, s->tempDir_, s->stateHome_);
  std::vector<char*> argv = execPointers(argStrings);
  std::vector<char*> envp = execPointers(envStrings);
  const std::string workDir = s->workDir_.string();

  // The child reports a failed exec through this pipe; a successful exec
  // closes it.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return fail("pipe2: " + std::string(strerror(errno)));

  winsize size{};
  size.ws_row = static_cast<unsigned short>(options.rows);
  size.ws_col = static_cast<unsigned short>(options.cols);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) {
    const int err = errno;
    close(report[0]);
    close(report[1]);
    return fail("forkpty: " + std::string(strerror(err)));
  }
  if (pid == 0) {
    close(report[0]);
    int err = 0;
    if (chdir(workDir.c_str()) != 0) {
      err = errno;
    } else {
      execvpe(argv[0], argv.data(), envp.data());
      err = errno;
    }
    ssize_t ignored = write(report[1], &err, sizeof err);
    (void)ignored;
    _exit(127);
  }

  close(report[1]);
  s->pid_ = pid;
  s->master_ = master;
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  s->lastOutput_ = Clock::now();

  int childErr = 0;
  ssize_t n;
  do {
    n = read(report[0], &childErr, sizeof childErr);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n == static_cast<ssize_t>(sizeof childErr)) {
    s->reap(true);
    return fail("cannot run " + options.program + " in " + workDir + ": " + strerror(childErr));
  }
  return s;
}

Session::~Session() {
  if (pid_ > 0 && !status_) {
    // The program's group: the program and whatever it started.
    kill(-pid_, SIGTERM);
    const auto deadline = Clock::now() + kTermGrace;
    while (Clock::now() < deadline) {
      reap(false);
      if (status_) break;
      pause(kPollStep);
    }
    if (!status_) {
      kill(-pid_, SIGKILL);
      reap(true);
    }
  }
  if (master_ >= 0) close(master_);
  if (!root_.empty()) {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
}

bool Session::pump() {
  bool any = false;
  if (master_ >= 0 && !outputEnded_) {
    char buf[4096];
    for (;;) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) {
        vterm_input_write(term_->vt.get(), buf, static_cast<size_t>(n));
        any = true;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      // EIO (or end of file): every process closed the terminal.
      if (n == 0 || errno != EAGAIN) outputEnded_ = true;
      break;
    }
  }
  if (any) lastOutput_ = Clock::now();
  flushReplies();
  return any;
}

void Session::flushReplies() {
  std::string& out = term_->replies;
  while (!out.empty() && master_ >= 0 && !outputEnded_) {
    const ssize_t n = write(master_, out.data(), out.size());
    if (n > 0) {
      out.erase(0, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // full for now, or the program is gone
    }
  }
}

void Session::reap(bool block) {
  if (pid_ <= 0 || status_) return;
  int raw = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &raw, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r != pid_) return;
  ExitStatus st;
  if (WIFEXITED(raw)) {
    st.exited = true;
    st.code = WEXITSTATUS(raw);
  } else if (WIFSIGNALED(raw)) {
    st.signal = WTERMSIG(raw);
  }
  status_ = st;
}

// Reads output for `time`, never longer than that.
void Session::pause(milliseconds time) {
  const auto deadline = Clock::now() + time;
  for (;;) {
    pump();
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left <= milliseconds(0)) return;
    const milliseconds step = std::min(left, kPollStep);
    if (master_ >= 0 && !outputEnded_) {
      pollfd p{master_, POLLIN, 0};
      poll(&p, 1, static_cast<int>(step.count()));
    } else {
      std::this_thread::sleep_for(step);
    }
  }
}

bool Session::sendRaw(std::string_view bytes) {
  term_->replies.append(bytes);
  const auto deadline = Clock::now() + kDefaultTimeout;
  for (;;) {
    pump();
    if (term_->replies.empty()) return true;
    if (outputEnded_ || Clock::now() >= deadline) {
      term_->replies.clear();
      return false;
    }
    pollfd p{master_, POLLIN | POLLOUT, 0};
    poll(&p, 1, static_cast<int>(kPollStep.count()));
  }
}

bool Session::sendKeys(std::initializer_list<Input> inputs) {
  for (const Input& in : inputs) {
    if (!sendRaw(in.bytes)) return false;
    if (!in.bytes.empty() && in.bytes.back() == '\x1b') pause(kEscPause);
  }
  return true;
}

// ---------------------------------------------------------------- screen

std::string Session::rowCells(int n) {
  std::string out;
  if (n < 0 || n >= term_->rows) return out;
  for (int col = 0; col < term_->cols; ++col) {
    VTermScreenCell cell{};
    vterm_screen_get_cell(term_->screen, VTermPos{n, col}, &cell);
    if (cell.chars[0] == static_cast<uint32_t>(-1)) continue;  // right half of a wide character
    if (cell.chars[0] == 0) {
      out += ' ';
      continue;
    }
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i) appendUtf8(out, cell.chars[i]);
  }
  return out;
}

std::string Session::row(int n) {
  pump();
  return trimRight(rowCells(n));
}

std::string Session::screenText() {
  pump();
  std::string text;
  for (int r = 0; r < term_->rows; ++r) {
    if (r > 0) text += '\n';
    text += trimRight(rowCells(r));
  }
  return text;
}

Pos Session::cursor() {
  pump();
  VTermPos pos{};
  vterm_state_get_cursorpos(vterm_obtain_state(term_->vt.get()), &pos);
  return {pos.row, pos.col};
}

std::vector<Pos> Session::findAll(std::string_view text) {
  pump();
  std::vector<Pos> found;
  if (text.empty()) return found;
  for (int r = 0; r < term_->rows; ++r) {
    const std::string cells = rowCells(r);
    for (size_t at = cells.find(text); at != std::string::npos; at = cells.find(text, at + 1)) {
      // The column counts characters, not bytes.
      const int col = static_cast<int>(std::count_if(cells.begin(), cells.begin() + static_cast<long>(at),
                                                     [](char c) { return (c & 0xC0) != 0x80; }));
      found.push_back({r, col});
    }
  }
  return found;
}

std::optional<Pos> Session::find(std::string_view text) {
  std::vector<Pos> all = findAll(text);
  if (all.empty()) return std::nullopt;
  return all.front();
}

std::string Session::dump() {
  const Pos at = cursor();
  std::ostringstream os;
  os << "screen " << term_->rows << "x" << term_->cols << ", cursor " << at
     << (term_->cursorVisible ? " visible" : " hidden") << ", alternate screen "
     << (term_->altScreen ? "on" : "off") << ", mouse " << (term_->mouse != 0 ? "on" : "off") << ", program ";
  reap(false);
  if (status_) {
    os << *status_;
  } else {
    os << "running";
  }
  os << "\n";
  for (int r = 0; r < term_->rows; ++r) {
    os << (r < 10 ? " " : "") << r << "|" << trimRight(rowCells(r)) << "\n";
  }
  return os.str();
}

bool Session::altScreenActive() {
  pump();
  return term_->altScreen;
}

bool Session::cursorVisible() {
  pump();
  return term_->cursorVisible;
}

bool Session::mouseReporting() {
  pump();
  return term_->mouse != VTERM_PROP_MOUSE_NONE;
}

std::string Session::title() {
  pump();
  return term_->title;
}

int Session::bells() {
  pump();
  return term_->bells;
}

// ---------------------------------------------------------------- waits

testing::AssertionResult Session::waitUntil(const std::function<bool()>& condition, std::string_view what,
                                            milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    pump();
    reap(false);
    // Once the program is gone and its output read, nothing more changes.
    const bool over = status_ && outputEnded_;
    if (condition()) return testing::AssertionSuccess();
    if (over) {
      return testing::AssertionFailure() << "the program ended before " << what << "\n" << dump();
    }
    if (Clock::now() >= deadline) break;
    pause(kPollStep);
  }
  return testing::AssertionFailure() << "waited " << timeout.count() << " ms for " << what << "\n" << dump();
}

testing::AssertionResult Session::waitForPrompt(std::string_view prompt, std::string_view below,
                                                milliseconds timeout) {
  // Screen columns count characters, not UTF-8 bytes.
  const int promptColumns = static_cast<int>(
      std::count_if(prompt.begin(), prompt.end(), [](char c) { return (static_cast<uint8_t>(c) & 0xC0) != 0x80; }));
  return waitUntil(
      [&] {
        const std::vector<Pos> prompts = findAll(prompt);
        if (prompts.empty()) return false;
        const Pos last = prompts.back();
        if (!below.empty()) {
          const std::vector<Pos> marks = findAll(below);
          if (marks.empty() || last.row <= marks.back().row) return false;
        }
        return cursor() == Pos{last.row, last.col + promptColumns};
      },
      below.empty() ? "the prompt \"" + std::string(prompt) + "\""
                    : "the prompt \"" + std::string(prompt) + "\" below \"" + std::string(below) + "\"",
      timeout);
}

testing::AssertionResult Session::waitForText(std::string_view text, milliseconds timeout) {
  return waitUntil([&] { return find(text).has_value(); }, "\"" + std::string(text) + "\" on the screen",
                   timeout);
}

testing::AssertionResult Session::waitForTextAt(int row, std::string_view text, milliseconds timeout) {
  return waitUntil([&] { return rowCells(row).find(text) != std::string::npos; },
                   "\"" + std::string(text) + "\" on row " + std::to_string(row), timeout);
}

bool Session::waitForQuiet(milliseconds quiet, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  lastOutput_ = std::max(lastOutput_, Clock::now() - quiet / 2);
  for (;;) {
    pump();
    if (Clock::now() - lastOutput_ >= quiet) return true;
    if (Clock::now() >= deadline) return false;
    pause(kPollStep);
  }
}

std::optional<ExitStatus> Session::waitForExit(milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    pump();
    reap(false);
    if (status_) return status_;
    if (Clock::now() >= deadline) return std::nullopt;
    pause(kPollStep);
  }
}

bool Session::isRunning() {
  pump();
  reap(false);
  return !status_;
}

void Session::resize(int rows, int cols) {
  pump();
  winsize size{};
  size.ws_row = static_cast<unsigned short>(rows);
  size.ws_col = static_cast<unsigned short>(cols);
  vterm_set_size(term_->vt.get(), rows, cols);
  term_->rows = rows;
  term_->cols = cols;
  if (master_ >= 0) ioctl(master_, TIOCSWINSZ, &size);
}

// ---------------------------------------------------------------- files

std::vector<char*> execPointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream os;
  os << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return os.str();
}

bool writeFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

std::string wavBytes(uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                     const std::vector<int16_t>& samples) {
  auto le = [](std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  const uint32_t bytesPerSample = bitsPerSample / 8;
  const uint32_t dataSize = static_cast<uint32_t>(samples.size()) * bytesPerSample;
  std::string out = "RIFF";
  le(out, 36 + dataSize, 4);
  out += "WAVEfmt ";
  le(out, 16, 4);
  le(out, 1, 2);  // PCM
  le(out, channels, 2);
  le(out, sampleRate, 4);
  le(out, sampleRate * channels * bytesPerSample, 4);
  le(out, channels * bytesPerSample, 2);
  le(out, bitsPerSample, 2);
  out += "data";
  le(out, dataSize, 4);
  for (int16_t v : samples) {
    if (bitsPerSample == 8) {
      // 8-bit WAV is unsigned, centred on 128.
      out += static_cast<char>((v >> 8) + 128);
    } else {
      le(out, static_cast<uint16_t>(v), 2);
    }
  }
  return out;
}

std::optional<WavContents> readWav(const std::filesystem::path& path) {
  const std::optional<std::string> bytes = readFile(path);
  if (!bytes || bytes->size() < 44 || bytes->compare(0, 4, "RIFF") != 0) return std::nullopt;
  const auto le = [&](size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>((*bytes)[at + static_cast<size_t>(i)]);
    return v;
  };
  WavContents w;
  w.channels = static_cast<uint16_t>(le(22, 2));
  w.sampleRate = le(24, 4);
  w.bits = static_cast<uint16_t>(le(34, 2));
  w.dataBytes = std::min<size_t>(le(40, 4), bytes->size() - 44);
  if (w.bits == 16) {
    for (size_t i = 44; i + 1 < 44 + w.dataBytes; i += 2) w.samples.push_back(static_cast<int16_t>(le(i, 2)));
  } else {
    for (size_t i = 44; i < 44 + w.dataBytes; ++i)
      w.samples.push_back(static_cast<int16_t>((static_cast<uint8_t>((*bytes)[i]) - 128) * 256));
  }
  return w;
}

}  // namespace kalimbro::e2e
