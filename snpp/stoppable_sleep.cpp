// snpp/stoppable_sleep.cpp
#include "snpp/stoppable_sleep.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/clock.h"

namespace snpp {

bool SleepUnlessStopped(std::stop_token stop, int64_t ms) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock<std::mutex> hold(mutex);
  // Nothing but the stop ends the wait early; the predicate only ever says "not yet".
  wake.wait_for(hold, stop, std::chrono::milliseconds(platform::ScaledMs(ms)), [] { return false; });
  return !stop.stop_requested();
}

}  // namespace snpp
