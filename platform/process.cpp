// The real process runner: posix_spawnp with an argument vector, the
// child's standard streams on /dev/null unless the caller feeds its input or
// takes its output, and a wait that keeps the event loop's messages flowing
// and ticks once a second.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/codec.h"
#include "platform/directory.h"
#include "platform/eventloop.h"
#include "platform/fd.h"
#include "platform/signal_cleanup.h"

extern char** environ;

namespace kalimbro {
namespace {

// How often the wait looks at the message loop while the child runs.
constexpr int kMessagePollMs = 50;

class FileActions {
 public:
  FileActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~FileActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ok_ = posix_spawnattr_init(&attr_) == 0; }
  ~SpawnAttributes() {
    if (ok_) posix_spawnattr_destroy(&attr_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  bool ok() const { return ok_; }
  posix_spawnattr_t* get() { return &attr_; }

 private:
  posix_spawnattr_t attr_;
  bool ok_ = false;
};

// How long a child given up may take to go after SIGTERM before SIGKILL
// follows.
constexpr auto kLingerAfterTerm = std::chrono::milliseconds(500);
constexpr int kLingerPollMs = 10;

// A started child until it is reaped. Meanwhile the signal path knows it, so
// that a hang-up ends it too; leaving early (a callback that throws) ends it
// here, so that no program keeps running and no zombie stays.
class RunningChild {
 public:
  explicit RunningChild(pid_t pid) : pid_(pid) { setSignalEndedChild(pid); }
  ~RunningChild() {
    if (pid_ > 0) end();
  }
  RunningChild(const RunningChild&) = delete;
  RunningChild& operator=(const RunningChild&) = delete;

  pid_t pid() const { return pid_; }

  // True once the child has ended. It is not reaped yet, so its pid (and
  // the signal path's kill) cannot reach another process.
  bool ended() const {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
      return errno != EINTR;  // reaped elsewhere (SIGCHLD ignored)
    return info.si_pid == pid_;
  }

  // Waits for the child's end and collects it.
  ProcessResult reap() {
    setSignalEndedChild(0);
    int status = 0;
    pid_t r;
    while ((r = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (r < 0) return {ProcessResult::Kind::exited, -1};  // the status is lost
    return resultOf(status);
  }

  // Asks the child's process group to end, forces it when it lingers, and
  // reaps the child.
  void end() {
    kill(-pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kLingerAfterTerm;
    while (!ended() && std::chrono::steady_clock::now() < deadline) poll(nullptr, 0, kLingerPollMs);
    // Whatever is left of the group (the child itself, or programs it
    // started) goes now.
    kill(-pid_, SIGKILL);
    reap();
  }

 private:
  static ProcessResult resultOf(int status) {
    if (WIFEXITED(status)) return {ProcessResult::Kind::exited, WEXITSTATUS(status)};
    if (WIFSIGNALED(status)) return {ProcessResult::Kind::signalled, WTERMSIG(status)};
    return {ProcessResult::Kind::exited, -1};
  }

  pid_t pid_;
};

// The read end of the pipe that carries a child's standard output, handed
// piece by piece to the caller's `output`.
class OutputPipe {
 public:
  explicit OutputPipe(const ProcessCallbacks& callbacks) : take_(callbacks.output) {
    if (!take_) return;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    read_ = UniqueFd(ends[0]);
    write_ = UniqueFd(ends[1]);
    // Fewer, larger pieces for a program that writes a whole sound.
    fcntl(read_.get(), F_SETPIPE_SZ, kPieceBytes);
    piece_.resize(kPieceBytes);
  }
  bool wanted() const { return static_cast<bool>(take_); }
  bool ready() const { return !take_ || read_.valid(); }
  // The end the child writes to; -1 when its output goes nowhere.
  int childEnd() const { return write_.get(); }
  void closeChildEnd() { write_ = UniqueFd(); }
  int fd() const { return read_.get(); }

  // Reads what is there (waiting for none when `drain`, to the end of the
  // output otherwise reading one piece); false when the caller gave up.
  bool pass(bool drain) {
    if (!read_.valid()) return true;
    if (drain) fcntl(read_.get(), F_SETFL, fcntl(read_.get(), F_GETFL) | O_NONBLOCK);
    do {
      const ssize_t n = read(read_.get(), piece_.data(), piece_.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // The end of the output (or nothing more for now while draining).
        if (n == 0 || !drain) read_ = UniqueFd();
        return true;
      }
      if (!take_(std::span<const uint8_t>(piece_.data(), static_cast<size_t>(n)))) return false;
    } while (drain);
    return true;
  }

  // Reads piece after piece as they come, for up to `time` or to the end
  // of the output: a program that writes in small pieces does not make the
  // wait go round its loop for each of them. False when the caller gave up.
  bool passFor(std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    for (;;) {
      if (!pass(/*drain=*/false)) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (!read_.valid() || left.count() <= 0) return true;
      pollfd p{read_.get(), POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return true;
    }
  }

 private:
  static constexpr int kPieceBytes = 1 << 20;
  const std::function<bool(std::span<const uint8_t>)>& take_;
  UniqueFd read_, write_;
  std::vector<uint8_t> piece_;
};

// The child's standard input fed from the caller's `input`, as fast as the
// child reads it. A socket rather than a pipe: a child that ends without
// reading everything makes a send fail (MSG_NOSIGNAL) instead of raising
// SIGPIPE in this program.
class InputFeed {
 public:
  explicit InputFeed(const ProcessCallbacks& callbacks) : give_(callbacks.input) {
    if (!give_) return;
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
    write_ = UniqueFd(ends[0]);
    read_ = UniqueFd(ends[1]);
    shutdown(write_.get(), SHUT_RD);
    shutdown(read_.get(), SHUT_WR);
    // Fewer turns of the wait for a program that reads a whole sound (the
    // kernel caps it).
    setsockopt(write_.get(), SOL_SOCKET, SO_SNDBUF, &kBufferBytes, sizeof kBufferBytes);
  }
  bool ready() const { return !give_ || write_.valid(); }
  // The end the child reads from; -1 when its input is empty.
  int childEnd() const { return read_.get(); }
  void closeChildEnd() { read_ = UniqueFd(); }
  // -1 once all is given, which ends the child's input.
  int fd() const { return write_.get(); }

  // Sends what the child has room for.
  void feed() {
    while (write_.valid()) {
      if (left_.empty() && (left_ = give_()).empty()) {
        write_ = UniqueFd();
        return;
      }
      const ssize_t n = send(write_.get(), left_.data(), left_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n <= 0) {
        write_ = UniqueFd();  // the child will read no more
        return;
      }
      left_ = left_.subspan(static_cast<size_t>(n));
    }
  }

 private:
  static constexpr int kBufferBytes = 1 << 20;
  const std::function<std::span<const uint8_t>()>& give_;
  UniqueFd write_, read_;
  std::span<const uint8_t> left_;
};

ProcessResult waitForChild(RunningChild& child, const ProcessCallbacks& callbacks, OutputPipe& output,
                           InputFeed& input) {
  using Clock = std::chrono::steady_clock;
  // A pidfd becomes readable when the child ends, so the wait returns at
  // once; without one (old kernels) the loop simply polls.
  const UniqueFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, child.pid(), 0)));
  auto nextTick = Clock::now() + std::chrono::seconds(1);
  for (;;) {
    if (child.ended()) {
      const bool taken = output.pass(/*drain=*/true);
      const ProcessResult result = child.reap();
      return taken ? result : ProcessResult{ProcessResult::Kind::gaveUp, 0};
    }
    eventLoop().processPending();
    if (callbacks.giveUp && callbacks.giveUp()) {
      child.end();
      return {ProcessResult::Kind::gaveUp, 0};
    }
    const auto now = Clock::now();
    if (now >= nextTick) {
      if (callbacks.everySecond) callbacks.everySecond();
      nextTick += std::chrono::seconds(1);
      if (nextTick < now) nextTick = now + std::chrono::seconds(1);
    }
    const auto untilTick =
        std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now()).count();
    const int timeout = static_cast<int>(std::clamp<int64_t>(untilTick, 0, kMessagePollMs));
    pollfd fds[3] = {{pidfd.get(), POLLIN, 0}, {output.fd(), POLLIN, 0}, {input.fd(), POLLOUT, 0}};
    // Without a pidfd the loop looks at the child every 10 ms.
    const int waitMs = pidfd.get() >= 0 ? timeout : std::min(timeout, 10);
    if (poll(fds, 3, waitMs) <= 0) continue;
    if ((fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) input.feed();
    if ((fds[1].revents & (POLLIN | POLLHUP)) != 0 && !output.passFor(std::chrono::milliseconds(kMessagePollMs))) {
      child.end();
      return {ProcessResult::Kind::gaveUp, 0};
    }
  }
}

// Starts the program of `args` away from the terminal: it reads nothing
// (or `inputFd`), writes nowhere (or to `outputFd`), its messages go
// nowhere, descriptors beyond the three stay behind, the program's own
// signal handlers and mask are not the child's, and it leads a process
// group of its own. On success `pid` is the child's.
ProcessResult spawnChild(std::span<const std::string> args, pid_t& pid, int inputFd = -1, int outputFd = -1) {
  if (args.empty() || args[0].empty()) return {ProcessResult::Kind::notFound, ENOENT};
  std::vector<std::string> native;
  native.reserve(args.size());
  for (const std::string& a : args) native.push_back(toUtf8(a));
  std::vector<char*> argv;
  for (std::string& a : native) argv.push_back(a.data());
  argv.push_back(nullptr);

  FileActions actions;
  SpawnAttributes attributes;
  if (!actions.ok() || !attributes.ok()) return {ProcessResult::Kind::notStarted, ENOMEM};
  if (inputFd >= 0) {
    posix_spawn_file_actions_adddup2(actions.get(), inputFd, 0);
  } else {
    posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  }
  if (outputFd >= 0) {
    posix_spawn_file_actions_adddup2(actions.get(), outputFd, 1);
  } else {
    posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(attributes.get(), &all);
  posix_spawnattr_setsigmask(attributes.get(), &none);
  posix_spawnattr_setpgroup(attributes.get(), 0);
  posix_spawnattr_setflags(attributes.get(),
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

  const int err = posix_spawnp(&pid, argv[0], actions.get(), attributes.get(), argv.data(), environ);
  if (err == ENOENT || err == EACCES || err == ENOTDIR) return {ProcessResult::Kind::notFound, err};
  if (err != 0) return {ProcessResult::Kind::notStarted, err};
  return {ProcessResult::Kind::exited, 0};
}

class SpawnRunner final : public ProcessRunner {
 public:
  ProcessResult run(std::span<const std::string> args, const ProcessCallbacks& callbacks) override {
    OutputPipe output(callbacks);
    InputFeed input(callbacks);
    if (!output.ready() || !input.ready()) return {ProcessResult::Kind::notStarted, errno};
    pid_t pid = -1;
    if (const ProcessResult spawned = spawnChild(args, pid, input.childEnd(), output.childEnd());
        !spawned.succeeded())
      return spawned;
    RunningChild child(pid);
    // Only the child writes the output and reads the input: each ends when
    // the child does.
    output.closeChildEnd();
    input.closeChildEnd();
    if (callbacks.started) callbacks.started();
    input.feed();
    return waitForChild(child, callbacks, output, input);
  }
};

// Programs started without waiting; the finished ones are collected so
// that none lingers as a zombie.
std::vector<pid_t>& detachedChildren() {
  static std::vector<pid_t> pids;
  return pids;
}

ProcessRunner*& installedRunner() {
  static ProcessRunner* runner = nullptr;
  return runner;
}

}  // namespace

ProcessRunner& processRunner() {
  static SpawnRunner real;
  ProcessRunner* installed = installedRunner();
  return installed ? *installed : real;
}

void setProcessRunner(ProcessRunner* runner) { installedRunner() = runner; }

void collectStartedPrograms() {
  std::erase_if(detachedChildren(), [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
}

bool startProgram(std::span<const std::string> args) {
  collectStartedPrograms();
  pid_t pid = -1;
  if (!spawnChild(args, pid).succeeded()) return false;
  detachedChildren().push_back(pid);
  return true;
}

std::vector<std::string> splitWords(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (const char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::string fileArgument(std::string_view name) {
  if (name.starts_with('/')) return std::string(name);
  const std::string here = absoluteDirectory("");
  std::string argument = !here.empty() && utf8FitsCp1252(here) ? fromUtf8(here) : ".";
  if (!argument.ends_with('/')) argument += '/';
  return argument += name;
}

std::string ffmpegFileArgument(std::string_view name) { return "file:" + fileArgument(name); }

}  // namespace kalimbro
