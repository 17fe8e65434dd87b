// server/dial_thread.cpp - the dial threads and their retry policy.
#include "server/dial_thread.h"

#include <cstdint>
#include <system_error>
#include <thread>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "server/threads.h"

namespace server {

int64_t DialWaitMs(int32_t errorCount) {
  if (errorCount >= 5) return 300000;
  if (errorCount == 4) return 180000;
  return 1000;
}

bool ShouldGiveUp(int32_t errorCount, int32_t maxReTrys) {
  return errorCount > 0 && maxReTrys != 0 && errorCount >= maxReTrys;
}

void GiveUpHead(delivery::DialWork& work) {
  const std::optional<int32_t> number = core::HeadMessageNumber(work.Queue);
  if (core::PopHead(work.State, work.Queue, &work.Current) != 0 || !number) return;
  common::LogLine("%t %s: Error - Was not able to send message(#%ld) for: %s\n", common::ProgramName(), *number,
                  common::Outside(common::FieldText(work.Current.Name)));
}

void DialThread(core::ServerState& state, core::DialContext& dc, std::stop_token stop) {
  if (state.Debug.load())
    common::WriteConsole(common::FormatText("DialThreadStarted = pointer: 0x%x\n",
                                            static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&dc))));
  delivery::DialWork work(state, dc, stop);  // the context's delivery work buffers, for this thread only
  while (!stop.stop_requested()) {
    if (core::HasPages(dc)) {
      const int result = delivery::DeliverQueue(work);
      work.Dir.reset();                  // a reload's old directory is not kept alive between rounds
      if (stop.stop_requested()) break;  // a round cut short by the stop is no failure
      if (result != 0)
        ++dc.ErrorCount;
      else
        dc.ErrorCount = 0;
    }
    if (state.Debug.load()) common::WriteConsole(".");
    int64_t waitMs = DialWaitMs(dc.ErrorCount.load());
    if (dc.ErrorCount.load() == 4)
      common::LogLine("%t %s: Waiting 3 minutes to page - There has been 4 Errors\n", common::ProgramName());
    if (ShouldGiveUp(dc.ErrorCount.load(), state.MaxReTrys.load())) {
      waitMs = 1500;
      GiveUpHead(work);
      dc.ErrorCount = 0;
    }
    if (waitMs == 1000 && !core::HasPages(dc)) {
      // Idle: the 1 s pass becomes a wait for the next page, so a quiet port costs nothing
      // and a new page is not kept waiting for the rest of the second.
      core::WaitForPages(dc, waitMs, stop);
      continue;
    }
    if (!SleepUnlessStopped(stop, waitMs)) break;
  }
}

void StartDialThread(core::ServerState& state, core::DialContext& dc) {
  if (dc.DialThreadRunning.exchange(true)) return;  // claimed: only the claimant sets DialThread
  try {
    dc.DialThread = std::jthread([&state, &dc](std::stop_token stop) { DialThread(state, dc, stop); });
  } catch (const std::system_error&) {
    dc.DialThreadRunning = false;
    common::WriteConsole("Error Starting Dial Thread\n");
  }
}

void StopDialThread(core::DialContext& dc) {
  if (!dc.DialThread.joinable()) return;
  dc.DialThread.request_stop();
  dc.DialThread.join();
  dc.DialThreadRunning = false;
}

}  // namespace server
