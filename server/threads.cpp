// server/threads.cpp - stoppable sleeps and the printf helper.
#include "server/threads.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "platform/clock.h"

namespace server {

bool SleepUnlessStopped(std::stop_token stop, int64_t ms) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock<std::mutex> hold(mutex);
  wake.wait_for(hold, stop, std::chrono::milliseconds(platform::ScaledMs(ms)), [] { return false; });
  return !stop.stop_requested();
}

std::string PrintF(const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n < 0) return {};
  return std::string(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

}  // namespace server
