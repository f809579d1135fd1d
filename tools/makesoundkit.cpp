// makesoundkit: writes the recorded sound kit at build time.
//   makesoundkit LETTERS_DIR PROGRAM_DIR
// LETTERS_DIR receives the family's letter, number and signal sounds,
// PROGRAM_DIR the program's own jingle and click.
#include <chrono>
#include <cstdio>

#include "console/vrsintese.h"
#include "platform/codec.h"
#include "tools/soundkit.h"

int main(int argc, char** argv) {
  using namespace kalimbro;
  if (argc != 3) {
    std::fprintf(stderr, "usage: makesoundkit LETTERS_DIR PROGRAM_DIR\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const KitReport report = writeSoundKit(fromUtf8(argv[1]), fromUtf8(argv[2]));
  synthRelease();
  if (!report.ok) {
    std::fprintf(stderr, "makesoundkit: %s\n", report.error.c_str());
    return 1;
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  std::printf("makesoundkit: %zu sounds, %llu bytes, %lld ms\n", report.files,
              static_cast<unsigned long long>(report.bytes), static_cast<long long>(ms.count()));
  return 0;
}
