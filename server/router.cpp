// server/router.cpp - the router: Main queue head to the next port of its system.
#include "server/router.h"

#include <algorithm>
#include <bitset>
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
// How far behind a held head a pass looks for a page that may move; bounds a pass's work
// when page.ini makes the Main queue large.
constexpr int kRouteScanLimit = 1000;

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

// Moves the first page behind the head whose system's port in turn (or, for a system reached
// over IP, its own queue) has room, so that one dead port or carrier (its queue full) does
// not hold up the pages of every other system. A system is
// tried once per pass, at its first page: when that page cannot move, the system's later
// pages stay too, so each system's pages keep their order. A page without a system or a
// usable port is left for the head, where it is dropped with its log line.
RouteResult RouteBehindHeldHead(core::ServerState& state, int headSystem) {
  core::DialContext& main = *state.Main;
  std::bitset<core::kMaxSystems> held;
  held.set(static_cast<size_t>(headSystem));
  const int queued = std::min(core::QueuedCount(main), kRouteScanLimit);
  for (int offset = 1; offset < queued; ++offset) {
    const int s = core::ResolveSystemAt(state, main, offset);
    if (s < 0 || s >= core::kMaxSystems || held.test(static_cast<size_t>(s))) continue;
    held.set(static_cast<size_t>(s));
    core::DialContext* port = nullptr;
    const IpRoute ip = IpQueueFor(state, s, port);
    if (ip == IpRoute::kFull) continue;
    if (ip == IpRoute::kNotIp) {
      if (!HasUsablePort(state, s)) continue;
      port = core::ChoosePort(state, s);
    }
    if (!port) continue;
    core::QueueEntry entry;
    if (core::TakeEntryAt(main, offset, &entry) != 0) return RouteResult::kPortBusy;
    if (core::AppendEntry(*port, std::move(entry)) < 0) return RouteResult::kLost;
    return RouteResult::kMoved;
  }
  return RouteResult::kPortBusy;
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
  if (ip == IpRoute::kFull) return RouteBehindHeldHead(state, s);
  if (ip == IpRoute::kNotIp && !HasUsablePort(state, s)) {
    const core::QueueEntry& head = *core::PeekHead(state, main);
    std::string system;
    {
      const auto dir = core::CurrentDirectory(state);
      system = dir->Systems[static_cast<size_t>(s)].SystemName;
    }
    core::RecordOutcome(
        state, head, core::PageState::kGivenUp,
        core::LogResult("Error - System %s has no port, message(#%ld) for %s dropped", system,
                        static_cast<long>(head.MessageNumber), common::Outside(common::FieldText(head.Name))));
    core::QueueEntry entry;
    (void)core::PopHead(state, main, &entry);
    ++state.FailedPages;
    return RouteResult::kDropped;
  }
  if (ip == IpRoute::kNotIp) port = core::ChoosePort(state, s);
  if (!port) return RouteBehindHeldHead(state, s);
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
