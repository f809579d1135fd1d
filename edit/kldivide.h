// kldivide: the divide command (main menu X). Cuts a WAV file on disk into
// consecutive parts of equal duration (prefix1.wav, prefix2.wav ...) or
// copies one stretch of it into a new file. The data bytes are copied as
// they are behind a fresh 44-byte header; the working sound is not touched.
// A sound of another kind (FLAC, Opus, 24-bit WAV ...) is divided from a WAV
// copy of it in the temporary directory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kalimbro {

// A stretch of the source's data: offset from the first data byte, length.
struct PartSpan {
  uint64_t offset = 0;
  uint64_t length = 0;
};

// Parts of `seconds` each over `dataBytes` of data, the last one shorter;
// a part longer than the data gives one part with all of it. Nothing for
// no data, no bytes per second or seconds below 1.
std::vector<PartSpan> divisionPlan(uint64_t dataBytes, uint64_t bytesPerSecond, int64_t seconds);
// The stretch from second `start` to second `end`, both held within the
// data: an end beyond it reaches its end, a start beyond it (or an end
// before the start) gives an empty stretch.
PartSpan extractionSpan(uint64_t dataBytes, uint64_t bytesPerSecond, int64_t start, int64_t end);
// prefix, the part number, ".wav".
std::string partFileName(std::string_view prefix, int64_t number);

void divideCommand();

}  // namespace kalimbro
