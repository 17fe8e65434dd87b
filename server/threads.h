// server/threads.h - the waits of the server's background threads.
#pragma once

#include <cstdint>
#include <stop_token>

namespace server {

// Sleeps ms of program time (CORVEL_TIME_SCALE applies) unless a stop is requested first.
// False when stopped. Production threads are never stopped; tests stop theirs.
bool SleepUnlessStopped(std::stop_token stop, int64_t ms);

}  // namespace server
