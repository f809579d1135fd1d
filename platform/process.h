// The process runner: starts an external program (sox, lame, ffmpeg) with an
// argument vector, never through a shell, and waits for it to end while the
// program keeps processing its messages. The program's own runner uses
// posix_spawnp; a test may install another one.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kalimbro {

struct ProcessResult {
  enum class Kind {
    exited,      // ended by itself; `code` is its exit status
    signalled,   // killed by signal `code`
    notFound,    // no such program (or not executable) on PATH
    notStarted,  // any other failure to start it
    gaveUp,      // the caller gave up waiting: it was ended and reaped
  };
  Kind kind = Kind::notStarted;
  int code = 0;

  bool started() const { return kind == Kind::exited || kind == Kind::signalled || kind == Kind::gaveUp; }
  bool succeeded() const { return kind == Kind::exited && code == 0; }
};

// What the waiting caller does meanwhile: `started` right after the program
// has started, `everySecond` about once a second until it ends; `giveUp` is
// asked often (about every 50 ms), and once it says true the program is
// ended (SIGTERM, SIGKILL when it lingers) and reaped. Any may be empty.
struct ProcessCallbacks {
  std::function<void()> started = {};
  std::function<void()> everySecond = {};
  std::function<bool()> giveUp = {};
  // When set, the program's standard output reaches it piece by piece as
  // the program writes it (otherwise the output goes nowhere), the last
  // pieces after the program has ended; false from it gives the program
  // up as `giveUp` does.
  std::function<bool(std::span<const uint8_t>)> output = {};
  // When set, the program's standard input is fed from it (otherwise it
  // reads nothing): each call gives the next bytes, which stay valid until
  // the next call, and nothing once all is given; the input then ends. A
  // program that ends before reading it all is let go; its status says.
  std::function<std::span<const uint8_t>()> input = {};
};

class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  // args[0] names the program (looked up on PATH when it holds no '/');
  // every argument is Windows-1252 and handed over as one whole word.
  // The program's standard input reads nothing unless `callbacks.input`
  // feeds it, and its output goes nowhere unless `callbacks.output` takes
  // it.
  // It runs in a process group of its own, which a give-up ends whole.
  virtual ProcessResult run(std::span<const std::string> args, const ProcessCallbacks& callbacks) = 0;
};

// The runner in force: the real one unless a test installed another.
ProcessRunner& processRunner();
// nullptr puts the real runner back.
void setProcessRunner(ProcessRunner* runner);

inline ProcessResult runProgram(std::span<const std::string> args,
                                const ProcessCallbacks& callbacks = {}) {
  return processRunner().run(args, callbacks);
}

// Starts a program (args as for ProcessRunner::run, through the real
// runner's spawning) and goes on without waiting for it: a document opener,
// say. False when it could not be started.
bool startProgram(std::span<const std::string> args);
// Reaps the programs startProgram started that have ended since.
void collectStartedPrograms();

// Splits a settings or effect text into words: blanks and tabs separate,
// double quotes group blanks into a word and are themselves dropped ("" is
// an empty word). `-V 2 "a b"` gives -V, 2 and a b.
std::vector<std::string> splitWords(std::string_view text);

// A file name as a program's argument: an absolute path, the current
// directory put in front of a relative name, so that no program takes it
// for an option ("-n"), its standard input ("-") or an address
// ("http://..."). "./" instead where the current directory has no
// Windows-1252 form.
std::string fileArgument(std::string_view name);
// The same for ffmpeg, which reads a name with a colon as an address of one
// of its protocols ("pipe:0", "concat:a|b"): its file protocol, named.
std::string ffmpegFileArgument(std::string_view name);

}  // namespace kalimbro
