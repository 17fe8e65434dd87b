// snpp/stoppable_sleep.h - the waits of corvnet32's threads, which a stop cuts short.
#pragma once

#include <cstdint>
#include <stop_token>

namespace snpp {

// Sleeps ms of program time (CORVEL_TIME_SCALE applies) unless a stop is requested first.
// False when stopped (also when the stop came before the call).
bool SleepUnlessStopped(std::stop_token stop, int64_t ms);

}  // namespace snpp
