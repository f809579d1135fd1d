// The clock seam: monotonic milliseconds and sleeping. The program uses the
// system clock; tests install a clock whose sleeps pass at once.
#pragma once

#include <cstdint>
#include <string>

namespace kalimbro {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t nowMs() = 0;
  virtual void sleepMs(int64_t ms) = 0;
};

Clock& systemClock();

// A time in seconds since the epoch, in local time, through strftime's
// `format`; empty when it does not fit 31 characters.
std::string localTimeText(int64_t seconds, const char* format);

}  // namespace kalimbro
