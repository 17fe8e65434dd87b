// platform/clock.cpp - std::chrono and the C library's local time behind the product's terms.
#include "platform/clock.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace platform {

int TimeScale() {
  static const int scale = [] {
    const char* text = std::getenv("CORVEL_TIME_SCALE");
    if (text == nullptr) return 1;
    const long value = std::strtol(text, nullptr, 10);
    return (value >= 1 && value <= 1000) ? static_cast<int>(value) : 1;
  }();
  return scale;
}

int64_t ScaledMs(int64_t ms) {
  if (ms <= 0) return 0;
  const int64_t real = ms / TimeScale();
  return real > 0 ? real : 1;
}

void SleepMs(int64_t ms) {
  if (ms <= 0) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(ScaledMs(ms)));
}

uint64_t TickMs() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count()) *
         static_cast<uint64_t>(TimeScale());
}

std::time_t Now() { return std::time(nullptr); }

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

std::time_t MakeLocalTime(std::tm& tm) { return std::mktime(&tm); }

}  // namespace platform
