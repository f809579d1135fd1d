// speechgap: the silence a user hears between the end of the spoken help's
// opening sound (KLMENU, played by the program) and its first line (spoken
// by the speech server), with the real parts: the program's output reaches
// PipeWire through ALSA's default device, speech-dispatcher speaks through
// PipeWire's Pulse front end. scripts/bench --speech starts a private stack
// in which the program's sound goes to the left channel of one null sink
// and the server's to the right, so that one recording of that sink's
// monitor holds both on one time line.
//
//   speechgap PROGRAM MONITOR [RUNS]
//
// Each run starts the program with fresh settings that name the speech
// server, leaves the file selector, lets the prompt be spoken to its end,
// presses F1 and listens; a second pass presses F1 while the prompt is
// still spoken, which cancels it on the server first. A third start opens
// a sound with a pause and times two lines written in pieces (F6 in the
// play command, the jump to the pause) against their words said as one
// message. Prints per run "after-prompt-ms during-prompt-ms f6-ratio
// pause-ratio": from the last audible sample of the opening sound to the
// first audible sample of speech (negative: the speech began over the
// sound; "-" when the two could not be told apart, and then, as with
// SPEECHGAP_SHOW set, a drawing of what was heard); then each line's time
// over its words' time ("-": not measured).
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 48000;         // the recording: 16-bit stereo at 48 kHz
constexpr int kFrameMs = 5;          // activity is judged in 5 ms pieces
constexpr int kPiece = kRate / 1000 * kFrameMs;
constexpr int kAudible = 600;        // about -35 dB of full scale
constexpr int kPauseMs = 50;         // silence before the first line
constexpr const char* kF1 = "\x1bOP";

struct Recording {
  std::vector<int16_t> left, right;
  std::vector<char> partial;  // a frame cut between two reads
  void add(const char* bytes, size_t size) {
    partial.insert(partial.end(), bytes, bytes + size);
    size_t i = 0;
    for (; i + 4 <= partial.size(); i += 4) {
      int16_t l, r;
      std::memcpy(&l, &partial[i], 2);
      std::memcpy(&r, &partial[i + 2], 2);
      left.push_back(l);
      right.push_back(r);
    }
    partial.erase(partial.begin(), partial.begin() + static_cast<std::ptrdiff_t>(i));
  }
};

bool audible(const std::vector<int16_t>& channel, size_t piece) {
  const size_t from = piece * kPiece;
  for (size_t i = from; i < from + kPiece && i < channel.size(); ++i)
    if (std::abs(channel[i]) > kAudible) return true;
  return false;
}

// The program, its recorder and what they gave, for one run.
class Run {
 public:
  // `file`: a sound for the program to open, written into its directory.
  Run(const std::string& program, const std::string& monitor, const fs::path& dir,
      const std::string& fileName = {}, const std::string& fileBytes = {})
      : dir_(dir) {
    fs::create_directories(dir / "config/Varelu");
    fs::create_directories(dir / "tmp");
    fs::create_directories(dir / "state");
    std::ofstream(dir / "config/Varelu/Varelu.ini")
        << "[TRADUTOR]\nSAPI=S\n[SERVFALA]\nTIPOSAPI=0\n[SOM]\nENTRADA=nulo\n";
    if (!fileName.empty()) std::ofstream(dir / fileName, std::ios::binary) << fileBytes;

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const std::string device = "--device=" + monitor;
    const char* args[] = {"parec", device.c_str(), "--raw", "--format=s16le", "--rate=48000",
                          "--channels=2", "--latency-msec=10", nullptr};
    const int rc = posix_spawnp(&recorder_, "parec", &actions, nullptr, const_cast<char**>(args), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      recorder_ = -1;
      return;
    }
    sound_ = out[0];
    fcntl(sound_, F_SETFL, O_NONBLOCK);

    const pid_t child = forkpty(&terminal_, nullptr, nullptr, nullptr);
    if (child < 0) return;
    if (child == 0) {
      if (chdir(dir.c_str()) != 0) _exit(127);
      setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
      setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
      setenv("TMPDIR", (dir / "tmp").c_str(), 1);
      setenv("TERM", "xterm", 1);
      if (fileName.empty()) execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      execl(program.c_str(), program.c_str(), fileName.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    program_ = child;
    fcntl(terminal_, F_SETFL, O_NONBLOCK);
  }

  ~Run() {
    if (program_ > 0) {
      kill(program_, SIGHUP);
      waitpid(program_, nullptr, 0);
    }
    if (recorder_ > 0) {
      kill(recorder_, SIGTERM);
      waitpid(recorder_, nullptr, 0);
    }
    if (terminal_ >= 0) close(terminal_);
    if (sound_ >= 0) close(sound_);
  }

  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  bool started() const { return program_ > 0 && recorder_ > 0; }

  // Reads the screen and the recording for `ms`.
  void listen(int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) pump(10);
  }
  bool waitForText(const std::string& text, int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (screen_.find(text) == std::string::npos) {
      if (Clock::now() >= until) return false;
      pump(10);
    }
    return true;
  }
  // Waits until the right channel has sounded and then kept `quietMs` of
  // silence (or, with quietMs 0, until it sounds).
  bool waitForSpeech(int quietMs, int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    const size_t from = rec_.right.size() / kPiece;
    for (;;) {
      const size_t pieces = rec_.right.size() / kPiece;
      std::optional<size_t> last;
      for (size_t p = from; p < pieces; ++p)
        if (audible(rec_.right, p)) last = p;
      if (last && (pieces - *last) * kFrameMs >= static_cast<size_t>(quietMs)) return true;
      if (Clock::now() >= until) return false;
      pump(10);
    }
  }
  bool waitForRecorded(size_t frames, int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (rec_.left.size() < frames) {
      if (Clock::now() >= until) return false;
      pump(10);
    }
    return true;
  }
  void type(const char* bytes) { [[maybe_unused]] ssize_t n = write(terminal_, bytes, std::strlen(bytes)); }
  size_t recorded() const { return rec_.left.size(); }
  const std::string& screen() const { return screen_; }

  // From the end of the opening sound to the first speech after it; nothing
  // when either is missing.
  std::optional<double> gapAfter(size_t mark) const {
    const size_t pieces = std::min(rec_.left.size(), rec_.right.size()) / kPiece;
    std::optional<size_t> soundStart, soundEnd;
    for (size_t p = mark / kPiece; p < pieces; ++p) {
      if (!audible(rec_.left, p)) continue;
      if (!soundStart) soundStart = p;
      soundEnd = p + 1;
    }
    if (!soundStart) return std::nullopt;
    // The first line is the first speech after a pause: what the server
    // still plays of a prompt it was told to cancel is not it.
    size_t quiet = 0;
    for (size_t p = mark / kPiece; p < pieces; ++p) {
      if (!audible(rec_.right, p)) {
        ++quiet;
        continue;
      }
      if (p < *soundStart || quiet * kFrameMs < kPauseMs) {
        quiet = 0;
        continue;
      }
      // Within the pieces: the first audible sample of speech, the last of the sound.
      size_t speech = p * kPiece;
      while (std::abs(rec_.right[speech]) <= kAudible) ++speech;
      size_t end = *soundEnd * kPiece;
      while (end > 0 && std::abs(rec_.left[end - 1]) <= kAudible) --end;
      return (static_cast<double>(speech) - static_cast<double>(end)) * 1000.0 / kRate;
    }
    return std::nullopt;
  }

  // From `mark` to the end of the last speech heard after it, in ms.
  std::optional<double> speechEndAfter(size_t mark) const {
    const size_t pieces = rec_.right.size() / kPiece;
    for (size_t p = pieces; p-- > mark / kPiece;)
      if (audible(rec_.right, p)) return (static_cast<double>((p + 1) * kPiece) - static_cast<double>(mark)) * 1000.0 / kRate;
    return std::nullopt;
  }

  // One line per second of what was heard after `mark`: left (the program)
  // over right (the server), '#' where a piece is audible.
  std::string picture(size_t mark) const {
    std::string out;
    const size_t pieces = std::min(rec_.left.size(), rec_.right.size()) / kPiece;
    constexpr size_t kPerLine = 1000 / kFrameMs;
    for (size_t from = mark / kPiece; from < pieces; from += kPerLine) {
      for (const auto* channel : {&rec_.left, &rec_.right}) {
        out += channel == &rec_.left ? "program |" : "server  |";
        for (size_t p = from; p < std::min(pieces, from + kPerLine); ++p) out += audible(*channel, p) ? '#' : ' ';
        out += "|\n";
      }
    }
    return out;
  }

 private:
  void pump(int timeoutMs) {
    pollfd fds[2] = {{terminal_, POLLIN, 0}, {sound_, POLLIN, 0}};
    poll(fds, 2, timeoutMs);
    char buffer[65536];
    ssize_t n;
    while ((n = read(terminal_, buffer, sizeof buffer)) > 0) screen_.append(buffer, static_cast<size_t>(n));
    while ((n = read(sound_, buffer, sizeof buffer)) > 0)
      rec_.add(buffer, static_cast<size_t>(n));
  }

  fs::path dir_;
  pid_t program_ = -1, recorder_ = -1;
  int terminal_ = -1, sound_ = -1;
  std::string screen_;
  Recording rec_;
};

// The screen's text without the terminal's control sequences, for messages.
std::string plainText(const std::string& screen) {
  std::string out;
  for (size_t i = 0; i < screen.size(); ++i) {
    if (screen[i] != '\x1b') {
      out += screen[i];
      continue;
    }
    if (i + 1 < screen.size() && screen[i + 1] == ']') {
      while (i < screen.size() && screen[i] != '\a') ++i;
    } else {
      ++i;
      while (i + 1 < screen.size() && !std::isalpha(static_cast<unsigned char>(screen[i + 1]))) ++i;
      ++i;
    }
  }
  return out;
}

struct Measured {
  std::optional<double> gapMs;
  bool fatal = false;  // the program could not be brought to the prompt
};

// One start of the program; F1 after the prompt was spoken, or during it.
Measured measure(const std::string& program, const std::string& monitor, const fs::path& dir, bool duringPrompt) {
  Run run(program, monitor, dir);
  auto fail = [&run](const char* what) {
    std::fprintf(stderr, "speechgap: %s; the program wrote:\n%s\n", what, plainText(run.screen()).c_str());
    return Measured{std::nullopt, true};
  };
  if (!run.started()) return fail("the program or parec did not start");
  if (!run.waitForText("Informe o nome", 20000)) return fail("no file selector");
  run.listen(300);
  run.type("\x1b");
  // Only the start: the rest of the prompt may come in another piece.
  if (!run.waitForText("Gravador, qual sua op", 20000)) return fail("no prompt");
  if (!run.waitForSpeech(duringPrompt ? 0 : 400, 20000)) return fail("the prompt was not heard");
  if (duringPrompt) run.listen(150);
  const size_t mark = run.recorded();
  run.type(kF1);
  // Three seconds of what follows, however late the recorder hands them over.
  run.listen(3000);
  if (!run.waitForRecorded(mark + 3 * kRate, 10000)) return fail("the recording stopped");
  const std::optional<double> gap = run.gapAfter(mark);
  if (!gap || std::getenv("SPEECHGAP_SHOW")) {
    if (!gap) std::fprintf(stderr, "speechgap: the opening sound or the first line was not told apart:\n");
    std::fprintf(stderr, "%s\n", run.picture(mark).c_str());
  }
  return {gap, false};
}

// A canonical 16-bit mono WAV: a second of tone, two of silence, a second of tone.
std::string soundWithAPause() {
  constexpr uint32_t kFileRate = 22050;
  std::vector<int16_t> samples(4 * kFileRate, 0);
  for (uint32_t i = 0; i < kFileRate; ++i)
    samples[i] = samples[3 * kFileRate + i] = static_cast<int16_t>(8000 * std::sin(i * 2 * M_PI * 440 / kFileRate));
  const uint32_t bytes = static_cast<uint32_t>(samples.size() * 2);
  std::string wav = "RIFF";
  auto u32 = [&wav](uint32_t v) { for (int i = 0; i < 4; ++i) wav += static_cast<char>(v >> (8 * i)); };
  auto u16 = [&wav](uint16_t v) { wav += static_cast<char>(v & 0xFF); wav += static_cast<char>(v >> 8); };
  u32(36 + bytes);
  wav += "WAVEfmt ";
  u32(16); u16(1); u16(1); u32(kFileRate); u32(kFileRate * 2); u16(2); u16(16);
  wav += "data";
  u32(bytes);
  wav.append(reinterpret_cast<const char*>(samples.data()), bytes);
  return wav;
}

// How long a line takes from its key to the end of its speech, against
// the same words handed to the server as one message (spd-say), from the
// request to the end of their speech: F6 in the play command, then the
// jump to the pause. Nothing where a line could not be measured.
struct LineRatios {
  std::optional<double> f6, pause;
  bool fatal = false;
};

LineRatios measureLines(const std::string& program, const std::string& monitor, const fs::path& dir) {
  Run run(program, monitor, dir, "pausa.wav", soundWithAPause());
  auto fail = [&run](const char* what) {
    std::fprintf(stderr, "speechgap: %s; the program wrote:\n%s\n", what, plainText(run.screen()).c_str());
    return LineRatios{std::nullopt, std::nullopt, true};
  };
  if (!run.started()) return fail("the program or parec did not start");
  if (!run.waitForText("Gravador, qual sua op", 20000)) return fail("no prompt");
  if (!run.waitForSpeech(400, 20000)) return fail("the prompt was not heard");
  run.type("t");
  if (!run.waitForText("F1 ajuda", 20000) || !run.waitForSpeech(400, 20000)) return fail("no play command");
  // The key's line, and then the same words as one message.
  auto timed = [&run](const char* key, const char* words) -> std::optional<double> {
    size_t mark = run.recorded();
    run.type(key);
    if (!run.waitForSpeech(700, 20000)) return std::nullopt;
    const std::optional<double> line = run.speechEndAfter(mark);
    mark = run.recorded();
    const char* args[] = {"spd-say", "-w", words, nullptr};
    pid_t say = -1;
    if (posix_spawnp(&say, "spd-say", nullptr, nullptr, const_cast<char**>(args), environ) != 0) return std::nullopt;
    const bool heard = run.waitForSpeech(700, 20000);
    waitpid(say, nullptr, 0);
    const std::optional<double> whole = run.speechEndAfter(mark);
    if (!heard || !line || !whole) return std::nullopt;
    return *line / *whole;
  };
  LineRatios ratios;
  ratios.f6 = timed("\x1b[17~", "Tempo total: 4:0 posi\xC3\xA7\xC3\xA3o do cursor: 0:0 percentual: 0");
  if (!run.waitForText("percentual", 1000)) return fail("F6 was not shown");
  ratios.pause = timed("\x1b[6;5~", "Pausa em 1:0, 2,0 segundos");
  if (!run.waitForText("segundos", 1000)) return fail("the pause was not shown");
  return ratios;
}

std::string shownRatio(const std::optional<double>& ratio) {
  if (!ratio) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.2f", *ratio);
  return text;
}

std::string shown(const std::optional<double>& ms) {
  return ms ? std::to_string(static_cast<long>(std::lround(*ms))) : std::string("-");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: speechgap PROGRAM MONITOR [RUNS]\n");
    return 2;
  }
  const int runs = argc > 3 ? std::atoi(argv[3]) : 1;
  // The program runs in a directory of its own.
  const std::string program = fs::absolute(argv[1]).string();
  const fs::path base = fs::temp_directory_path() / ("speechgap." + std::to_string(getpid()));
  int status = 0;
  for (int i = 0; i < runs; ++i) {
    const Measured after = measure(program, argv[2], base / std::to_string(i) / "a", false);
    const Measured during = after.fatal ? Measured{} : measure(program, argv[2], base / std::to_string(i) / "b", true);
    const LineRatios lines = during.fatal ? LineRatios{} : measureLines(program, argv[2], base / std::to_string(i) / "c");
    if (after.fatal || during.fatal || lines.fatal) {
      status = 1;
      break;
    }
    std::printf("%s %s %s %s\n", shown(after.gapMs).c_str(), shown(during.gapMs).c_str(),
                shownRatio(lines.f6).c_str(), shownRatio(lines.pause).c_str());
    std::fflush(stdout);
  }
  std::error_code ec;
  fs::remove_all(base, ec);
  return status;
}
