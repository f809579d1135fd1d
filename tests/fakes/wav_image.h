// A complete WAV file image (canonical header + data) for tests.
#pragma once

#include <cstdint>
#include <vector>

#include "sound/wavformat.h"

namespace kalimbro {

inline std::vector<uint8_t> wavImage(int rate, int bits, int channels, const std::vector<uint8_t>& data) {
  const auto header = makeWavHeader(static_cast<uint32_t>(data.size()), static_cast<uint32_t>(rate),
                                    static_cast<uint16_t>(channels), static_cast<uint16_t>(bits));
  std::vector<uint8_t> image(header.begin(), header.end());
  image.insert(image.end(), data.begin(), data.end());
  return image;
}

}  // namespace kalimbro
