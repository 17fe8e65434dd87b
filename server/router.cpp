// server/router.cpp - the router: Main queue head to the next port of its system.
#include "server/router.h"

#include <chrono>
#include <mutex>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "core/page_book.h"
#include "platform/clock.h"
#include "server/ip_worker.h"
#include "server/threads.h"

namespace server {
namespace {

constexpr int64_t kRouterSleepMs = 100;
constexpr int kPassesPerSleep = 20;

// True when at least one of the system's ports has a queue; without one its pages could
// never leave the Main queue and would hold every page behind them.
bool HasUsablePort(core::ServerState& state, int s) {
  const auto dir = core::CurrentDirectory(state);
  const directory::SystemRecord& system = dir->Systems[static_cast<size_t>(s)];
  for (int i = 0; i < system.PortCount && i < directory::kMaxPorts; ++i) {
    if (core::FindPort(state, system.Port[static_cast<size_t>(i)])) return true;
  }
  return false;
}

}  // namespace

RouteResult RoutePass(core::ServerState& state) {
  core::DialContext& main = *state.Main;
  if (!core::HasPages(main)) return RouteResult::kEmpty;
  const int s = core::ResolveHeadSystem(state, main);
  if (s == -1) {
    // Recorded before the page leaves the queue: after a crash it is not sent again.
    const core::QueueEntry& head = *core::PeekHead(state, main);
    core::RecordOutcome(state, head, core::PageState::kGivenUp, core::LogResult("Can not find system"));
    core::QueueEntry entry;
    (void)core::PopHead(state, main, &entry);
    ++state.FailedPages;
    return RouteResult::kDropped;
  }
  core::DialContext* port = nullptr;
  const IpRoute ip = IpQueueFor(state, s, port);  // a system reached over IP has its own queue
  if (ip == IpRoute::kFull) return RouteResult::kPortBusy;
  if (ip == IpRoute::kNotIp && !HasUsablePort(state, s)) {
    const core::QueueEntry& head = *core::PeekHead(state, main);
    std::string system;
    {
      const auto dir = core::CurrentDirectory(state);
      system = dir->Systems[static_cast<size_t>(s)].SystemName;
    }
    core::RecordOutcome(state, head, core::PageState::kGivenUp,
                        core::LogResult("Error - System %s has no port, message(#%ld) for %s dropped", system,
                                        static_cast<long>(head.MessageNumber), common::Outside(common::FieldText(head.Name))));
    core::QueueEntry entry;
    (void)core::PopHead(state, main, &entry);
    ++state.FailedPages;
    return RouteResult::kDropped;
  }
  if (ip == IpRoute::kNotIp) port = core::ChoosePort(state, s);
  if (!port) return RouteResult::kPortBusy;
  core::QueueEntry entry;
  if (core::PopHead(state, main, &entry) != 0) return RouteResult::kEmpty;
  // The page moves as it is: its number, piece and attempts go with it. The router is the
  // port queue's only producer, so the room ChoosePort saw is still there.
  if (core::AppendEntry(*port, std::move(entry)) < 0) return RouteResult::kLost;
  return RouteResult::kMoved;
}

void RouterThread(core::ServerState& state, std::stop_token stop) {
  // A stop wakes the idle wait at once instead of after its bound.
  std::stop_callback wake(stop, [&state] {
    std::lock_guard<std::mutex> hold(state.Main->Lock);
    state.Main->Changed.notify_all();
  });
  int passes = 0;
  while (!stop.stop_requested()) {
    if (++passes >= kPassesPerSleep) {
      passes = 0;
      if (!SleepUnlessStopped(stop, kRouterSleepMs)) return;
      continue;
    }
    if (!core::HasPages(*state.Main)) {
      passes = 0;
      // Woken by every insert into the Main queue (and by a stop), so an idle server costs
      // no CPU.
      std::unique_lock<std::mutex> hold(state.Main->Lock);
      state.Main->Changed.wait(hold, [&] { return core::HasPages(*state.Main) || stop.stop_requested(); });
      continue;
    }
    if (RoutePass(state) == RouteResult::kPortBusy) {
      if (!SleepUnlessStopped(stop, kRouterSleepMs)) return;
    }
  }
}

}  // namespace server
