// platform/service_notify.cpp - sd_notify(3) when libsystemd was found at build time.
#include "platform/service_notify.h"

#include "platform/signals.h"

#ifdef CORVEL_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace platform {

#ifdef CORVEL_HAVE_SYSTEMD

bool ServiceNotifySupported() { return true; }
void NotifyReady() { (void)sd_notify(0, "READY=1"); }
void NotifyStopping() { (void)sd_notify(0, "STOPPING=1"); }
void NotifyWatchdog() { (void)sd_notify(0, "WATCHDOG=1"); }

int64_t WatchdogIntervalMs() {
  uint64_t usec = 0;
  // Also checks WATCHDOG_PID, so a child that inherited the variables feeds nothing.
  if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return 0;
  const int64_t half = static_cast<int64_t>(usec / 2000);
  return half > 0 ? half : 1;
}

#else

bool ServiceNotifySupported() { return false; }
void NotifyReady() {}
void NotifyStopping() {}
void NotifyWatchdog() {}
int64_t WatchdogIntervalMs() { return 0; }

#endif

int WaitForStopSignalFeedingWatchdog() {
  const int64_t interval = WatchdogIntervalMs();
  if (interval <= 0) return WaitForStopSignal();
  for (;;) {
    NotifyWatchdog();
    if (const int sig = WaitForStopSignalFor(interval); sig != 0) return sig;
  }
}

}  // namespace platform
