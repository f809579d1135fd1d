// The clock seam: monotonic milliseconds and sleeping. The program uses the
// system clock; tests install a clock whose sleeps pass at once.
#pragma once

#include <cstdint>

namespace kalimbro {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t nowMs() = 0;
  virtual void sleepMs(int64_t ms) = 0;
};

Clock& systemClock();

}  // namespace kalimbro
