// The system's monotonic clock.
#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace kalimbro {
namespace {

class SystemClock final : public Clock {
 public:
  int64_t nowMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
  void sleepMs(int64_t ms) override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

}  // namespace

Clock& systemClock() {
  static SystemClock clock;
  return clock;
}

std::string localTimeText(int64_t seconds, const char* format) {
  const time_t when = static_cast<time_t>(seconds);
  struct tm local {};
  localtime_r(&when, &local);
  char text[32];
  return std::strftime(text, sizeof text, format, &local) > 0 ? std::string(text) : std::string();
}

}  // namespace kalimbro
