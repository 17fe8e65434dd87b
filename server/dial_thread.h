// server/dial_thread.h - one dial thread per serial port: delivery rounds and the retry policy.
//
// The thread works its port's NOW queue whenever pages wait, and sleeps between rounds for
// longer the more rounds failed in a row: 1 s after up to 3 failures, 3 minutes after the
// fourth (with a log line), 5 minutes after more; after MaxReTrys failed rounds (when not
// 0) the head page is given up and the next is tried 1.5 s later. Waits are program time
// (CORVEL_TIME_SCALE shortens them in tests); the protocols' own limits stay real.
#pragma once

#include <cstdint>
#include <stop_token>

#include "core/dial_context.h"
#include "core/server_state.h"
#include "delivery/delivery.h"

namespace server {

// Starts the port's dial thread unless the port has one; the context owns it
// (DialContext::DialThread). It runs until StopDialThread or the end of the process. A
// thread that cannot be started is reported on the console and may be tried again later.
void StartDialThread(core::ServerState& state, core::DialContext& dc);

// Asks the port's dial thread to stop, ends the waits of its call (dc.Abort) and joins it:
// an idle thread ends at once, one in a call after the call's next wait. Nothing when the
// port has no thread.
void StopDialThread(core::DialContext& dc);

// An orderly stop: the port's dial thread finishes the page on the line (recording its
// outcome) and ends before the next one. DialThreadFinished tells when it has.
void AskDialThreadToFinish(core::DialContext& dc);
bool DialThreadFinished(const core::DialContext& dc);

// The thread body; returns when stop is requested.
void DialThread(core::ServerState& state, core::DialContext& dc, std::stop_token stop);

// The sleep after a pass, by the error count after it (1000, 180000 or 300000 ms).
int64_t DialWaitMs(int32_t errorCount);

// True when the error count after a pass gives the head page up (MaxReTrys 0 never does; a
// negative MaxReTrys gives up after every failed round).
bool ShouldGiveUp(int32_t errorCount, int32_t maxReTrys);

// Gives the head page up with "Error - Was not able to send message(#n) for: NAME",
// recorded before it leaves the queue.
void GiveUpHead(delivery::DialWork& work);

// The wait before the next round, by the failed rounds counted in the queue's ErrorCount: the
// fourth is logged, and once they reach MaxReTrys the head page is given up (gaveUp), the
// count starts again and the next round follows in 1.5 s.
int64_t RetryWaitMs(core::ServerState& state, delivery::DialWork& work, bool& gaveUp);

}  // namespace server
