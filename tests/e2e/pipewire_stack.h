// A private PipeWire stack for end-to-end tests: a session bus, pipewire,
// wireplumber and pipewire-pulse of the test's own, in a runtime directory
// of its own (mode 700, also given as PIPEWIRE_RUNTIME_DIR), with HOME and
// the XDG directories inside it, so nothing system-wide is started, read or
// written. The program reaches it through ALSA's "default" PCM
// (pipewire-alsa) with clientEnv(); the tests play, record and listen
// through the pulse tools (pactl, parec, paplay).
//
// Every process the stack starts is ended when the stack goes, and is
// killed by the kernel should the test process die first.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kalimbro::e2e {

class PipeWireStack {
 public:
  using Env = std::vector<std::pair<std::string, std::string>>;

  // Whether the stack's programs are installed (scripts/setup installs
  // them): pipewire, wireplumber, pipewire-pulse, dbus-daemon, pactl,
  // parec, paplay, and the ALSA plugin's configuration.
  static bool installed();

  // Starts the bus and the server; nullptr with the reason in `error`.
  static std::unique_ptr<PipeWireStack> start(std::string* error);
  ~PipeWireStack();
  PipeWireStack(const PipeWireStack&) = delete;
  PipeWireStack& operator=(const PipeWireStack&) = delete;

  // What a client needs to reach this stack.
  Env clientEnv() const;
  const std::filesystem::path& dir() const { return dir_; }

  // The server as a crash leaves it: pipewire killed, its two companions
  // ended with it.
  void killServer();
  // pipewire, wireplumber and pipewire-pulse again; true once `pactl
  // info` answers.
  bool startServer(std::string* error);

  // Runs pactl with these arguments; true when it succeeded.
  bool pactl(const std::vector<std::string>& args);
  // A sink paced at the real rate, 48000 Hz stereo.
  bool addNullSink(const std::string& name);

  // Starts a program of the stack's environment in the background; its
  // output goes to a log file of the stack.
  pid_t spawn(const std::vector<std::string>& args);
  // Ends a process that spawn started.
  void end(pid_t pid);

  // Records a source (a sink's ".monitor") as 16-bit stereo at 48000 Hz,
  // read from parec's pipe.
  class Recorder {
   public:
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    // Whether, within `limit`, the last `quiet` that parec delivered was
    // silence: its stream connects late on a busy machine, and the sink
    // still plays speech for a while after the screen has settled.
    bool waitForSilence(std::chrono::milliseconds quiet, std::chrono::milliseconds limit);
    // Ends parec and gives what it delivered, interleaved.
    std::vector<int16_t> stop();

   private:
    friend class PipeWireStack;
    Recorder() = default;
    PipeWireStack* stack_ = nullptr;
    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;  // bytes_, appended by reader_
    std::vector<char> bytes_;
  };
  std::unique_ptr<Recorder> record(const std::string& source);

 private:
  PipeWireStack() = default;
  pid_t spawnWith(const std::vector<std::string>& args, int stdoutFd);
  bool waitForPactl();
  // The tail of each log of the stack's programs, for a failure's message.
  std::string logs() const;

  std::filesystem::path dir_;
  std::filesystem::path runtime_;
  std::vector<pid_t> children_;
  pid_t bus_ = -1;
  pid_t server_ = -1;
  pid_t sessionManager_ = -1;
  pid_t pulse_ = -1;
};

}  // namespace kalimbro::e2e
