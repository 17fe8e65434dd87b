// server/threads.cpp - stoppable sleeps.
#include "server/threads.h"

#include <chrono>
#include <condition_variable>
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

}  // namespace server
