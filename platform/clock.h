// platform/clock.h - time as the programs see it: sleeps, tick counts and local time.
//
// CORVEL_TIME_SCALE (an integer from 1 to 1000, default 1) makes SleepMs, ScaledMs and
// TickMs run that many times faster, so tests can exercise the long fixed waits of the
// dial threads and the queue threads without waiting minutes. Production leaves it unset.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Speed-up factor read once from CORVEL_TIME_SCALE; 1 when unset or invalid.
int TimeScale();

// Sleeps for ms milliseconds of program time (ms / TimeScale() of real time).
void SleepMs(int64_t ms);

// A program-time limit in milliseconds turned into real milliseconds (at least 1 when ms > 0).
int64_t ScaledMs(int64_t ms);

// Milliseconds of program time since an arbitrary start; monotonic.
uint64_t TickMs();

// Seconds since the epoch (wall clock; not scaled).
std::time_t Now();

// Local time (honours TZ) of t.
std::tm LocalTime(std::time_t t);

// Seconds since the epoch of a local broken-down time; normalises tm (mktime rules, DST
// decided by the library when tm_isdst is -1). -1 when it cannot be represented.
std::time_t MakeLocalTime(std::tm& tm);

}  // namespace platform
