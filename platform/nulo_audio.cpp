// The "nulo" pseudo device.
#include "platform/nulo_audio.h"

#include <algorithm>

namespace kalimbro {

int NuloInput::openSource(const AudioFormat& format) {
  silence_ = format.silenceByte();
  return 0;
}

void NuloInput::produce(std::span<uint8_t> out) { std::fill(out.begin(), out.end(), silence_); }

}  // namespace kalimbro
