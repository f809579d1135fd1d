// The private PipeWire stack of the end-to-end tests.
#include "tests/e2e/pipewire_stack.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>

#include "tests/e2e/harness.h"

extern char** environ;

namespace kalimbro::e2e {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kStartLimit{10000};
constexpr milliseconds kEndGrace{2000};

// The full path of a program found on PATH; empty when there is none.
std::string onPath(const std::string& name) {
  const char* path = getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// Waits for a child to end, at most `limit`; true when it did (and was
// reaped).
bool reapWithin(pid_t pid, milliseconds limit, int* status = nullptr) {
  const Clock::time_point until = Clock::now() + limit;
  for (;;) {
    int st = 0;
    const pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) {
      if (status != nullptr) *status = st;
      return true;
    }
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
}

template <typename Condition>
bool waitFor(Condition condition, milliseconds limit) {
  const Clock::time_point until = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(milliseconds(50));
  }
  return true;
}

}  // namespace

bool PipeWireStack::installed() {
  for (const char* program : {"pipewire", "wireplumber", "pipewire-pulse", "dbus-daemon", "pactl", "parec", "paplay"})
    if (onPath(program).empty()) return false;
  return fs::exists("/usr/share/alsa/alsa.conf.d/50-pipewire.conf");
}

std::unique_ptr<PipeWireStack> PipeWireStack::start(std::string* error) {
  std::unique_ptr<PipeWireStack> stack(new PipeWireStack());
  std::string pattern = (fs::temp_directory_path() / "kalimbro-pw-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    if (error) *error = "cannot make a directory for the stack";
    return nullptr;
  }
  stack->dir_ = pattern;
  stack->runtime_ = stack->dir_ / "run";
  for (const char* sub : {"home", "config", "state", "data", "log"}) fs::create_directories(stack->dir_ / sub);
  if (mkdir(stack->runtime_.c_str(), 0700) != 0) {
    if (error) *error = "cannot make the runtime directory";
    return nullptr;
  }
  stack->bus_ = stack->spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                              "--address=unix:path=" + (stack->runtime_ / "bus").string()});
  if (stack->bus_ < 0 || !waitFor([&] { return fs::exists(stack->runtime_ / "bus"); }, kStartLimit)) {
    if (error) *error = "the session bus did not start" + stack->logs();
    return nullptr;
  }
  if (!stack->startServer(error)) return nullptr;
  return stack;
}

PipeWireStack::~PipeWireStack() {
  // The newest first: clients before the server, the server before the bus.
  while (!children_.empty()) end(children_.back());
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
}

PipeWireStack::Env PipeWireStack::clientEnv() const {
  return {{"XDG_RUNTIME_DIR", runtime_.string()},
          {"PIPEWIRE_RUNTIME_DIR", runtime_.string()},
          {"PULSE_RUNTIME_PATH", (runtime_ / "pulse").string()},
          {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (runtime_ / "bus").string()}};
}

pid_t PipeWireStack::spawn(const std::vector<std::string>& args) {
  const std::string log = (dir_ / "log" / (fs::path(args.front()).filename().string() + ".log")).string();
  const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const pid_t pid = spawnWith(args, fd);
  if (fd >= 0) ::close(fd);
  return pid;
}

pid_t PipeWireStack::spawnWith(const std::vector<std::string>& args, int stdoutFd) {
  // Everything the child needs is made before the fork: it only redirects
  // and runs the program.
  std::vector<std::string> argv = args;
  argv.front() = onPath(args.front());
  if (argv.front().empty()) return -1;
  Env set = clientEnv();
  set.emplace_back("HOME", (dir_ / "home").string());
  set.emplace_back("XDG_CONFIG_HOME", (dir_ / "config").string());
  set.emplace_back("XDG_STATE_HOME", (dir_ / "state").string());
  set.emplace_back("XDG_DATA_HOME", (dir_ / "data").string());
  const std::vector<std::string> dropped = {"PULSE_SERVER", "PIPEWIRE_REMOTE", "DISPLAY", "WAYLAND_DISPLAY"};
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    const std::string name(entry.substr(0, entry.find('=')));
    const bool replaced = std::any_of(set.begin(), set.end(), [&](const auto& s) { return s.first == name; }) ||
                          std::find(dropped.begin(), dropped.end(), name) != dropped.end();
    if (!replaced) env.emplace_back(entry);
  }
  for (const auto& [name, value] : set) env.push_back(name + "=" + value);
  std::vector<char*> argp = execPointers(argv);
  std::vector<char*> envp = execPointers(env);
  const std::string errors = (dir_ / "log" / "stderr.log").string();
  const pid_t parent = getpid();

  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    // Dies with the test, whatever ends it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, 0);
    if (stdoutFd >= 0) dup2(stdoutFd, 1);
    const int log = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (log >= 0) dup2(log, 2);
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  children_.push_back(pid);
  return pid;
}

void PipeWireStack::end(pid_t pid) {
  children_.erase(std::remove(children_.begin(), children_.end(), pid), children_.end());
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  if (!reapWithin(pid, kEndGrace)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

std::string PipeWireStack::logs() const {
  // The stack's folder goes with it: what its programs said goes with the
  // failure.
  std::string text;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_ / "log", ec)) {
    std::ifstream in(entry.path());
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (all.size() > 2000) all = "..." + all.substr(all.size() - 2000);
    text += "\n--- " + entry.path().filename().string() + ":\n" + all;
  }
  return text;
}

bool PipeWireStack::waitForPactl() {
  return waitFor([this] { return pactl({"info"}); }, kStartLimit);
}

bool PipeWireStack::startServer(std::string* error) {
  server_ = spawn({"pipewire"});
  if (server_ < 0 || !waitFor([this] { return fs::exists(runtime_ / "pipewire-0"); }, kStartLimit)) {
    if (error) *error = "pipewire did not start" + logs();
    return false;
  }
  sessionManager_ = spawn({"wireplumber"});
  pulse_ = spawn({"pipewire-pulse"});
  if (sessionManager_ < 0 || pulse_ < 0 || !waitForPactl()) {
    if (error) *error = "pactl info got no answer" + logs();
    return false;
  }
  return true;
}

void PipeWireStack::killServer() {
  kill(server_, SIGKILL);
  end(server_);
  end(sessionManager_);
  end(pulse_);
  server_ = sessionManager_ = pulse_ = -1;
  std::error_code ec;
  fs::remove(runtime_ / "pipewire-0", ec);
  fs::remove(runtime_ / "pipewire-0.lock", ec);
}

bool PipeWireStack::pactl(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"pactl"};
  all.insert(all.end(), args.begin(), args.end());
  const pid_t pid = spawn(all);
  if (pid < 0) return false;
  int status = 0;
  if (!reapWithin(pid, milliseconds(5000), &status)) {
    end(pid);
    return false;
  }
  children_.erase(std::remove(children_.begin(), children_.end(), pid), children_.end());
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool PipeWireStack::addNullSink(const std::string& name) {
  // A server that answers may still be starting its modules (seen on a busy
  // machine): the sink is asked for again until it is there.
  return waitFor(
      [&] {
        return pactl({"load-module", "module-null-sink", "sink_name=" + name, "rate=48000", "channels=2"}) ||
               pactl({"get-sink-volume", name});
      },
      kStartLimit);
}

std::unique_ptr<PipeWireStack::Recorder> PipeWireStack::record(const std::string& source) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
  std::unique_ptr<Recorder> recorder(new Recorder());
  recorder->stack_ = this;
  // At a 20 ms latency parec's stream from a monitor lost whole quanta on a
  // busy machine (delivered as 10 ms of silence); 100 ms keeps up.
  recorder->pid_ = spawnWith({"parec", "-d", source, "--raw", "--format=s16le", "--rate=48000", "--channels=2",
                              "--latency-msec=100"},
                             fds[1]);
  ::close(fds[1]);
  recorder->fd_ = fds[0];
  Recorder* r = recorder.get();
  recorder->reader_ = std::thread([r] {
    char buffer[16384];
    for (;;) {
      const ssize_t n = ::read(r->fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      const std::lock_guard lock(r->mutex_);
      r->bytes_.insert(r->bytes_.end(), buffer, buffer + n);
    }
  });
  return recorder;
}

namespace {
// The 16-bit little-endian sample `i` of what parec delivered.
int16_t sampleAt(const std::vector<char>& bytes, size_t i) {
  return static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
}
}  // namespace

bool PipeWireStack::Recorder::waitForSilence(milliseconds quiet, milliseconds limit) {
  const size_t bytes = static_cast<size_t>(quiet.count()) * 48 * 2 * sizeof(int16_t);  // 48 stereo frames a ms
  return waitFor(
      [&] {
        const std::lock_guard lock(mutex_);
        if (bytes_.size() < bytes) return false;
        for (size_t i = (bytes_.size() - bytes) / 2; i < bytes_.size() / 2; ++i)
          if (std::abs(sampleAt(bytes_, i)) >= 300) return false;
        return true;
      },
      limit);
}

std::vector<int16_t> PipeWireStack::Recorder::stop() {
  if (pid_ > 0) {
    stack_->end(pid_);
    pid_ = -1;
  }
  if (reader_.joinable()) reader_.join();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  std::vector<int16_t> samples(bytes_.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = sampleAt(bytes_, i);
  return samples;
}

PipeWireStack::Recorder::~Recorder() { stop(); }

}  // namespace kalimbro::e2e
