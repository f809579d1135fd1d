// The real process runner: posix_spawnp with an argument vector, the
// child's standard streams on /dev/null, and a wait that keeps the event
// loop's messages flowing and ticks once a second.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/codec.h"
#include "platform/eventloop.h"
#include "platform/fd.h"

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

// A started child that has not been reaped yet. Leaving the wait early (a
// callback that throws) must not leave a running program or a zombie.
class ChildGuard {
 public:
  explicit ChildGuard(pid_t pid) : pid_(pid) {}
  ~ChildGuard() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  ChildGuard(const ChildGuard&) = delete;
  ChildGuard& operator=(const ChildGuard&) = delete;
  void reaped() { pid_ = -1; }

 private:
  pid_t pid_;
};

ProcessResult resultOf(int status) {
  if (WIFEXITED(status)) return {ProcessResult::Kind::exited, WEXITSTATUS(status)};
  if (WIFSIGNALED(status)) return {ProcessResult::Kind::signalled, WTERMSIG(status)};
  return {ProcessResult::Kind::exited, -1};
}

ProcessResult waitForChild(pid_t pid, const ProcessCallbacks& callbacks) {
  using Clock = std::chrono::steady_clock;
  ChildGuard guard(pid);
  // A pidfd becomes readable when the child ends, so the wait returns at
  // once; without one (old kernels) the loop simply polls.
  const UniqueFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  auto nextTick = Clock::now() + std::chrono::seconds(1);
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      guard.reaped();
      return resultOf(status);
    }
    if (r < 0 && errno != EINTR) {
      // Reaped elsewhere (SIGCHLD ignored): the status is lost.
      guard.reaped();
      return {ProcessResult::Kind::exited, -1};
    }
    eventLoop().processPending();
    const auto now = Clock::now();
    if (now >= nextTick) {
      if (callbacks.everySecond) callbacks.everySecond();
      nextTick += std::chrono::seconds(1);
      if (nextTick < now) nextTick = now + std::chrono::seconds(1);
    }
    const auto untilTick =
        std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now()).count();
    const int timeout = static_cast<int>(std::clamp<int64_t>(untilTick, 0, kMessagePollMs));
    if (pidfd.get() >= 0) {
      pollfd p{pidfd.get(), POLLIN, 0};
      poll(&p, 1, timeout);
    } else {
      poll(nullptr, 0, std::min(timeout, 10));
    }
  }
}

// Starts the program of `args` away from the terminal: it reads nothing,
// its messages go nowhere, descriptors beyond the three stay behind, and
// the program's own signal handlers and mask are not the child's. On
// success `pid` is the child's.
ProcessResult spawnChild(std::span<const std::string> args, pid_t& pid) {
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
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(attributes.get(), &all);
  posix_spawnattr_setsigmask(attributes.get(), &none);
  posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  const int err = posix_spawnp(&pid, argv[0], actions.get(), attributes.get(), argv.data(), environ);
  if (err == ENOENT || err == EACCES || err == ENOTDIR) return {ProcessResult::Kind::notFound, err};
  if (err != 0) return {ProcessResult::Kind::notStarted, err};
  return {ProcessResult::Kind::exited, 0};
}

class SpawnRunner final : public ProcessRunner {
 public:
  ProcessResult run(std::span<const std::string> args, const ProcessCallbacks& callbacks) override {
    pid_t pid = -1;
    if (const ProcessResult spawned = spawnChild(args, pid); !spawned.succeeded()) return spawned;
    if (callbacks.started) {
      ChildGuard guard(pid);  // the callback may throw
      callbacks.started();
      guard.reaped();
    }
    return waitForChild(pid, callbacks);
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

}  // namespace kalimbro
