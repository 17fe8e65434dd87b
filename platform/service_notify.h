// platform/service_notify.h - telling the service manager how a server is doing.
//
// Under systemd (Type=notify) a server says when it is ready to serve, when it is stopping,
// and keeps its watchdog fed. Built without libsystemd, or started outside systemd, every
// call does nothing, so the programs call these unconditionally.
#pragma once

#include <cstdint>

namespace platform {

// True when the program was built with libsystemd (the calls below then reach systemd).
bool ServiceNotifySupported();

// READY=1: the pipe or the listening socket is up; the units order the other servers after it.
void NotifyReady();

// STOPPING=1: an orderly stop has begun.
void NotifyStopping();

// WATCHDOG=1: the loop that calls it is still going round.
void NotifyWatchdog();

// How often the watchdog wants feeding: half of the unit's WatchdogSec (WATCHDOG_USEC, when
// meant for this process), in milliseconds; 0 when no watchdog is asked for.
int64_t WatchdogIntervalMs();

// WaitForStopSignal for a server's main loop: waits for a stop signal and, while none comes,
// feeds the watchdog every WatchdogIntervalMs. Returns the signal's number.
int WaitForStopSignalFeedingWatchdog();

}  // namespace platform
