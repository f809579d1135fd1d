// firstword: how long the program takes from being started to its first
// spoken word, as a user hears it. It starts the program in a
// pseudo-terminal with fresh settings whose output device is the paced
// "arquivo:" file, which fills at the real rate of the sound, and watches
// that file: the first data written is the first sound reaching the
// device, and the first sample above a whisper is the first word heard.
//
//   firstword PROGRAM [RUNS]   prints "first-sound-ms first-word-ms" per run
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

uint32_t le(const std::string& s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}

// Where the data start and how wide a sample is, once the header is there.
struct Layout {
  size_t dataStart = 0;
  int bits = 0;
};

std::optional<Layout> layoutOf(const std::string& wav) {
  if (wav.size() < 12 || wav.compare(0, 4, "RIFF") != 0) return std::nullopt;
  Layout layout;
  for (size_t at = 12; at + 8 <= wav.size();) {
    const uint32_t size = le(wav, at + 4, 4);
    if (wav.compare(at, 4, "fmt ") == 0 && at + 24 <= wav.size()) layout.bits = static_cast<int>(le(wav, at + 22, 2));
    if (wav.compare(at, 4, "data") == 0) {
      layout.dataStart = at + 8;
      return layout.bits ? std::optional(layout) : std::nullopt;
    }
    at += 8 + size + (size & 1);
  }
  return std::nullopt;
}

bool audible(const std::string& wav, const Layout& layout) {
  if (layout.bits == 8) {
    for (size_t i = layout.dataStart; i < wav.size(); ++i)
      if (std::abs(static_cast<uint8_t>(wav[i]) - 128) > 8) return true;
    return false;
  }
  for (size_t i = layout.dataStart; i + 1 < wav.size(); i += 2)
    if (std::abs(static_cast<int16_t>(le(wav, i, 2))) > 2048) return true;
  return false;
}

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool timeOneStart(const std::string& program, const fs::path& dir) {
  fs::create_directories(dir / "config/Varelu");
  const fs::path output = dir / "saida.wav";
  std::ofstream(dir / "config/Varelu/Varelu.ini")
      << "[SOM]\nSAIDA=arquivo:" << output.string() << "\nENTRADA=nulo\n";

  int master = -1;
  const auto start = Clock::now();
  const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  if (child < 0) return false;
  if (child == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("TMPDIR", dir.c_str(), 1);
    setenv("TERM", "xterm", 1);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  fcntl(master, F_SETFL, O_NONBLOCK);
  std::optional<double> firstSound, firstWord;
  char drain[4096];
  while (!firstWord && msSince(start) < 5000) {
    while (read(master, drain, sizeof drain) > 0) {
    }
    const std::string wav = readFile(output);
    if (const auto layout = layoutOf(wav); layout && wav.size() > layout->dataStart) {
      if (!firstSound) firstSound = msSince(start);
      if (audible(wav, *layout)) firstWord = msSince(start);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(child, SIGHUP);
  waitpid(child, nullptr, 0);
  close(master);
  if (!firstWord) return false;
  std::printf("%.0f %.0f\n", *firstSound, *firstWord);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: firstword PROGRAM [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
  const fs::path base = fs::temp_directory_path() / ("firstword." + std::to_string(getpid()));
  int status = 0;
  for (int run = 0; run < runs && status == 0; ++run) {
    if (!timeOneStart(argv[1], base / std::to_string(run))) {
      std::fprintf(stderr, "firstword: no word heard within 5 s\n");
      status = 1;
    }
  }
  fs::remove_all(base);
  return status;
}
