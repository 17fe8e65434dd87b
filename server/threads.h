// server/threads.h - the waits of the server's background threads.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <stop_token>
#include <string>

namespace server {

// Sleeps ms of program time (CORVEL_TIME_SCALE applies) unless a stop is requested first.
// False when stopped. Production threads are never stopped; tests stop theirs.
bool SleepUnlessStopped(std::stop_token stop, int64_t ms);

// The C library's printf rules (precision and all) into a string: the AT queue's time texts
// are written with them ("%2.2d" gives 05), which the log formatter does not know.
std::string PrintF(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace server
