// platform/signals.h - console stop events as an ordinary event of one thread.
#pragma once

#include <cstdint>

namespace platform {

// What WaitForStopSignal returns when a thread of the program asked for the end
// (RequestProgramStop) rather than a signal.
constexpr int kStopRequested = -1;

// Blocks SIGINT, SIGQUIT, SIGTERM and SIGHUP in the calling thread and ignores SIGPIPE.
// Call before the first thread starts: every thread inherits the mask, so only the
// thread that calls WaitForStopSignal ever sees a stop.
void BlockStopSignals();

// Waits until one of the stop signals arrives; returns its number, or kStopRequested.
int WaitForStopSignal();

// Wakes the thread in WaitForStopSignal with kStopRequested. A thread that finds the program
// cannot go on hands the end to main this way instead of ending the process itself. Only
// for programs that called BlockStopSignals: it raises SIGTERM for the process.
void RequestProgramStop();

// Waits at most timeoutMs for one of the stop signals: its number (or kStopRequested), or 0
// when none came.
int WaitForStopSignalFor(int64_t timeoutMs);

}  // namespace platform
