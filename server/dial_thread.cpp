// server/dial_thread.cpp - the dial threads and their retry policy.
#include "server/dial_thread.h"

#include <cstdint>
#include <system_error>
#include <thread>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "core/page_book.h"
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
  const core::QueueEntry* head = core::PeekHead(work.State, work.Queue);
  if (head == nullptr) return;
  // Recorded before the page leaves the queue, so a crash now cannot bring it back.
  core::RecordOutcome(work.State, *head, core::PageState::kGivenUp,
                      core::LogResult("Error - Was not able to send message(#%ld) for: %s", head->MessageNumber,
                                      common::Outside(common::FieldText(head->Name))));
  (void)core::PopHead(work.State, work.Queue, &work.Current);
}

int64_t RetryWaitMs(core::ServerState& state, delivery::DialWork& work, bool& gaveUp) {
  core::DialContext& dc = work.Queue;
  gaveUp = false;
  int64_t waitMs = DialWaitMs(dc.ErrorCount.load());
  if (dc.ErrorCount.load() == 4)
    common::LogLine("%t %s: Waiting 3 minutes to page - There has been 4 Errors\n", common::ProgramName());
  if (ShouldGiveUp(dc.ErrorCount.load(), state.MaxReTrys.load())) {
    waitMs = 1500;
    GiveUpHead(work);
    gaveUp = true;
    dc.ErrorCount = 0;
  }
  return waitMs;
}

void DialThread(core::ServerState& state, core::DialContext& dc, std::stop_token stop) {
  if (state.Debug.load())
    common::WriteConsole(common::FormatText("DialThreadStarted = pointer: 0x%x\n",
                                            static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&dc))));
  // The context's delivery work buffers, for this thread only. The thread's stop ends its
  // rounds between pages; the context's Abort ends the waits of a call.
  delivery::DialWork work(state, dc, stop, dc.Abort.get_token());
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
    bool gaveUp = false;
    const int64_t waitMs = RetryWaitMs(state, work, gaveUp);
    if (waitMs == 1000 && !core::HasPages(dc)) {
      // Idle: the 1 s pass becomes a wait for the next page (or the stop), so a quiet port
      // costs nothing and a new page is not kept waiting for the rest of the second.
      core::WaitForPages(dc, -1, stop);
      continue;
    }
    if (!SleepUnlessStopped(stop, waitMs)) break;
  }
}

void StartDialThread(core::ServerState& state, core::DialContext& dc) {
  if (dc.DialThreadRunning.exchange(true)) return;  // claimed: only the claimant sets DialThread
  try {
    dc.DialThreadEnded = false;
    dc.Abort = std::stop_source();  // a thread stopped before may leave its source stopped
    dc.DialThread = std::jthread([&state, &dc](std::stop_token stop) {
      DialThread(state, dc, stop);
      dc.DialThreadEnded = true;
    });
  } catch (const std::system_error&) {
    dc.DialThreadRunning = false;
    common::WriteConsole("Error Starting Dial Thread\n");
  }
}

void StopDialThread(core::DialContext& dc) {
  if (!dc.DialThread.joinable()) return;
  dc.DialThread.request_stop();
  dc.Abort.request_stop();
  dc.DialThread.join();
  dc.DialThreadRunning = false;
}

void AskDialThreadToFinish(core::DialContext& dc) {
  if (dc.DialThread.joinable()) dc.DialThread.request_stop();
}

bool DialThreadFinished(const core::DialContext& dc) { return !dc.DialThread.joinable() || dc.DialThreadEnded.load(); }

}  // namespace server
