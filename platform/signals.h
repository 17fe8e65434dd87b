// platform/signals.h - console stop events as an ordinary event of one thread.
#pragma once

#include <cstdint>

namespace platform {

// Blocks SIGINT, SIGQUIT, SIGTERM and SIGHUP in the calling thread and ignores SIGPIPE.
// Call before the first thread starts: every thread inherits the mask, so only the
// thread that calls WaitForStopSignal ever sees a stop.
void BlockStopSignals();

// Waits until one of the stop signals arrives; returns its number.
int WaitForStopSignal();

// Waits at most timeoutMs for one of the stop signals: its number, or 0 when none came.
int WaitForStopSignalFor(int64_t timeoutMs);

}  // namespace platform
