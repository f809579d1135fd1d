// A clock for tests: sleeping passes no real time, it only moves the
// clock on. ScopedFakeClock installs one on the event loop for its life.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/eventloop.h"

namespace kalimbro {

class FakeClock : public Clock {
 public:
  int64_t nowMs() override { return now_; }
  void sleepMs(int64_t ms) override {
    if (ms > 0) {
      now_ += ms;
      slept_ += ms;
    }
  }
  void advance(int64_t ms) { now_ += ms; }
  // Total time asked for through sleepMs.
  int64_t sleptMs() const { return slept_; }

 private:
  int64_t now_ = 0;
  int64_t slept_ = 0;
};

class ScopedFakeClock : public FakeClock {
 public:
  ScopedFakeClock() { eventLoop().setClock(*this); }
  ~ScopedFakeClock() override { eventLoop().setClock(systemClock()); }
  ScopedFakeClock(const ScopedFakeClock&) = delete;
  ScopedFakeClock& operator=(const ScopedFakeClock&) = delete;
};

}  // namespace kalimbro
