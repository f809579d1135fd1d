// The edit history's journal records as damage or a hostile file gives
// them: replaying them never crashes, and the log it gives holds together
// (resume reads the sound's frames by it).
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_files.h"
#include "history/editHistory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kalimbro;
  // Each record: two bytes of length, then that many bytes (or what is left).
  std::vector<std::vector<uint8_t>> records;
  for (size_t at = 0; at + 2 <= size;) {
    const size_t n = std::min<size_t>(data[at] | size_t{data[at + 1]} << 8, size - at - 2);
    at += 2;
    records.emplace_back(data + at, data + at + n);
    at += n;
  }
  const HistoryLog log = replayHistory(records);
  check(log.position <= log.steps.size());
  check(!log.savedPosition || *log.savedPosition <= log.steps.size());
  for (const HistoryStep& step : log.steps) {
    int64_t frames = 0;
    for (const HistoryStep::Piece& piece : step.oldPieces) frames += piece.frames;
    check(frames == step.oldLength && step.start >= 0 && step.newLength >= 0);
    check(step.before.channels == 1 || step.before.channels == 2);
  }
  return 0;
}
