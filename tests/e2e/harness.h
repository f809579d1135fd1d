// End-to-end harness: runs a program (kalimbro by default) in a
// pseudo-terminal of 80 x 25, types keys at it the way xterm sends them and
// reads the screen back through libvterm, as a user would see it. Every
// session gets fresh directories of its own (settings, working directory,
// TMPDIR), so tests never touch the user's files.
//
//   std::string error;
//   auto s = Session::start({.args = {"voz.wav"}, .files = {{"voz.wav", wav}}}, &error);
//   ASSERT_NE(s, nullptr) << error;
//   ASSERT_TRUE(s->waitForText("Gravador, qual sua opção? "));
//   s->sendKeys({Key::Esc, "s"});
//   std::optional<ExitStatus> status = s->waitForExit();
//
// Screen texts, typed text and file contents are UTF-8 here; the program
// converts at its own edge.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kalimbro::e2e {

using std::chrono::milliseconds;
inline constexpr milliseconds kDefaultTimeout{10000};

// Keys with a name, sent as xterm sends them (normal cursor-key mode).
enum class Key {
  Enter, Esc, Backspace, Tab,
  F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
  Up, Down, Right, Left, Home, End, Insert, Delete, PageUp, PageDown,
};

// Modifier bits, combined with |; the values are xterm's (m - 1).
namespace mod {
inline constexpr unsigned Shift = 1;
inline constexpr unsigned Alt = 2;
inline constexpr unsigned Ctrl = 4;
}  // namespace mod

enum class MouseButton { Left, Middle, Right, WheelUp, WheelDown };

// The bytes xterm sends for `key` with the `mods` held.
std::string keyBytes(Key key, unsigned mods = 0);

// One thing done at the keyboard (or mouse): the bytes the terminal sends.
// Text converts implicitly, so a key list reads {Key::F1, "abc", Key::Enter}.
struct Input {
  Input(Key key, unsigned mods = 0) : bytes(keyBytes(key, mods)) {}  // NOLINT
  Input(std::string_view utf8Text) : bytes(utf8Text) {}             // NOLINT
  Input(const char* utf8Text) : bytes(utf8Text) {}                  // NOLINT
  Input(const std::string& utf8Text) : bytes(utf8Text) {}           // NOLINT

  static Input alt(char letter);   // ESC followed by the letter
  static Input ctrl(char letter);  // the control byte: ctrl('c') is 3
  static Input raw(std::string bytes);
  // SGR mouse report (press and release) at a 0-based cell.
  static Input mouse(MouseButton button, int row = 0, int col = 0);
  static Input paste(std::string_view utf8Text);  // bracketed paste
  static Input focus(bool gained);

  std::string bytes;
};

// One entry of Varelu.ini.
struct Setting {
  std::string section;
  std::string key;
  std::string value;
};

struct Options {
  std::string program = KALIMBRO_BINARY;
  std::vector<std::string> args;
  // Extra environment; replaces a variable of the same name.
  std::vector<std::pair<std::string, std::string>> env;
  // Written to a fresh $XDG_CONFIG_HOME/Varelu/Varelu.ini. Unless
  // `defaultSettings` is false, [SOM] SAIDA=nulo and ENTRADA=nulo come
  // first, with the fastest speech (level 5, sped up, no pauses); an entry
  // here with the same section and key replaces them.
  std::vector<Setting> settings;
  bool defaultSettings = true;
  // Empty: a fresh directory of the session.
  std::filesystem::path workDir;
  // Files put in the working directory before the program starts:
  // {relative name, contents}.
  std::vector<std::pair<std::string, std::string>> files;
  int rows = 25;
  int cols = 80;
};

// A 0-based screen cell.
struct Pos {
  int row = 0;
  int col = 0;
  bool operator==(const Pos&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Pos& pos);

struct ExitStatus {
  bool exited = false;  // false: ended by `signal`
  int code = -1;
  int signal = 0;
  bool exitedWith(int wanted) const { return exited && code == wanted; }
};
std::ostream& operator<<(std::ostream& os, const ExitStatus& status);

class Session {
 public:
  // Runs the program; nullptr when it could not be started, with the
  // reason in `error`.
  static std::unique_ptr<Session> start(const Options& options = {}, std::string* error = nullptr);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Typing. Each input is written as one piece; after an input that ends
  // in ESC the harness pauses long enough for the program to take it as
  // the ESC key rather than the start of a sequence. False when the
  // program is gone or does not read its input within the default timeout.
  bool sendKeys(std::initializer_list<Input> inputs);
  bool sendKey(const Input& input) { return sendKeys({input}); }
  bool type(std::string_view utf8Text) { return sendKeys({Input(utf8Text)}); }
  bool sendRaw(std::string_view bytes);

  // The screen as it is now. Rows are 0-based; `row` and `screenText` drop
  // blanks at the end of each row.
  std::string row(int n);
  std::string screenText();
  Pos cursor();
  // Cells of `text` within one row; the first from the top, or all.
  std::optional<Pos> find(std::string_view text);
  std::vector<Pos> findAll(std::string_view text);
  // The screen with row numbers, cursor and terminal modes, for messages.
  std::string dump();

  // Terminal modes the program set, as the terminal tracks them.
  bool altScreenActive();
  bool cursorVisible();
  bool mouseReporting();
  std::string title();
  int bells();

  // Waits, reading the program's output meanwhile. They give up early when
  // the program has ended and all it wrote was read. On failure the result
  // carries the screen.
  testing::AssertionResult waitForText(std::string_view text, milliseconds timeout = kDefaultTimeout);
  testing::AssertionResult waitForTextAt(int row, std::string_view text,
                                         milliseconds timeout = kDefaultTimeout);
  testing::AssertionResult waitUntil(const std::function<bool()>& condition, std::string_view what,
                                     milliseconds timeout = kDefaultTimeout);
  // The cursor right after the last `prompt` on the screen: the program
  // waits for an answer there. With `below`, only a prompt under the last
  // occurrence of that text counts.
  testing::AssertionResult waitForPrompt(std::string_view prompt, std::string_view below = {},
                                         milliseconds timeout = kDefaultTimeout);
  // Waits until the program has written nothing for `quiet` (or `timeout`
  // passed); true when it went quiet.
  bool waitForQuiet(milliseconds quiet = milliseconds(300), milliseconds timeout = kDefaultTimeout);
  // The exit status, or nothing when the program still runs at the timeout.
  std::optional<ExitStatus> waitForExit(milliseconds timeout = kDefaultTimeout);
  bool isRunning();

  // Resizes the terminal; the program gets SIGWINCH.
  void resize(int rows, int cols);

  pid_t pid() const { return pid_; }
  const std::filesystem::path& workDir() const { return workDir_; }
  const std::filesystem::path& settingsDir() const { return settingsDir_; }
  std::filesystem::path settingsFile() const { return settingsDir_ / "Varelu.ini"; }
  // The program's $TMPDIR.
  const std::filesystem::path& tempDir() const { return tempDir_; }
  // The program's $XDG_STATE_HOME: the session's own, or the one
  // Options::env names (to share it between sessions).
  const std::filesystem::path& stateHome() const { return stateHome_; }

 private:
  struct Terminal;
  // Only `start` makes sessions.
  class Passkey {
    friend class Session;
    Passkey() = default;
  };

 public:
  explicit Session(Passkey);

 private:
  bool pump();
  void flushReplies();
  void reap(bool block);
  void pause(milliseconds time);
  std::string rowCells(int n);

  std::unique_ptr<Terminal> term_;
  int master_ = -1;
  pid_t pid_ = -1;
  bool outputEnded_ = false;
  std::optional<ExitStatus> status_;
  std::chrono::steady_clock::time_point lastOutput_;
  std::filesystem::path root_;
  std::filesystem::path workDir_;
  std::filesystem::path settingsDir_;
  std::filesystem::path tempDir_;
  std::filesystem::path stateHome_;
};

// The NULL-ended array of C strings execve takes, pointing into `strings`.
std::vector<char*> execPointers(std::vector<std::string>& strings);

// Whole-file helpers for the files tests prepare and inspect.
std::optional<std::string> readFile(const std::filesystem::path& path);
bool writeFile(const std::filesystem::path& path, std::string_view bytes);
// A canonical 44-byte-header PCM WAV file holding `samples` (interleaved
// when stereo; stored as 8-bit unsigned when `bitsPerSample` is 8).
std::string wavBytes(uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                     const std::vector<int16_t>& samples);

// A canonical-header WAV file as a test reads it back; 8-bit samples are
// put on the 16-bit scale.
struct WavContents {
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint16_t bits = 0;
  size_t dataBytes = 0;
  std::vector<int16_t> samples;
};
std::optional<WavContents> readWav(const std::filesystem::path& path);

}  // namespace kalimbro::e2e
