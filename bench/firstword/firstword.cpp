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

#include "platform/wav_header.h"

namespace {

using kalimbro::MemorySource;
using kalimbro::readLe16;
using kalimbro::walkWavHeader;
using kalimbro::WavLayout;
using kalimbro::WavWalk;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Where the data start and how wide a sample is, once the header is there.
std::optional<WavLayout> layoutOf(const std::string& wav) {
  MemorySource source({reinterpret_cast<const uint8_t*>(wav.data()), wav.size()});
  WavLayout layout;
  if (walkWavHeader(source, layout) != WavWalk::ok) return std::nullopt;
  return layout;
}

bool audible(const std::string& wav, const WavLayout& layout) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(wav.data());
  if (layout.format.bitsPerSample == 8) {
    for (size_t i = layout.dataOffset; i < wav.size(); ++i)
      if (std::abs(bytes[i] - 128) > 8) return true;
    return false;
  }
  for (size_t i = layout.dataOffset; i + 1 < wav.size(); i += 2)
    if (std::abs(static_cast<int16_t>(readLe16(bytes + i))) > 2048) return true;
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
    if (const auto layout = layoutOf(wav); layout && wav.size() > layout->dataOffset) {
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
