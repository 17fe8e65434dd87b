// server/ip_worker.cpp - the queues and delivery workers of the systems reached over IP.
#include "server/ip_worker.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <system_error>
#include <thread>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "delivery/delivery.h"
#include "platform/clock.h"
#include "server/dial_thread.h"
#include "server/threads.h"

namespace server {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Caller holds ip.Lock.
IpSystemQueue* FindQueue(core::IpDelivery& ip, std::string_view name) {
  for (auto& system : ip.Systems) {
    if (SameName(system->SystemName, name)) return system.get();
  }
  return nullptr;
}

// Moves waiting pages from the system's queue into the lane: all of them while one worker
// serves the system, an even share when several do. Each keeps its place in the system's
// queue (Reserved) until it leaves the lane.
void TakePages(core::ServerState& state, IpSystemQueue& system, IpLane& lane, int workers) {
  std::lock_guard<std::mutex> take(system.TakeLock);
  core::DialContext& queue = *system.Queue;
  const int waiting = core::QueuedCount(queue);
  if (waiting == 0) return;
  int share = std::max(1, (waiting + workers - 1) / std::max(1, workers));
  share = std::min(share, core::kPortQueueEntries - 1 - core::QueuedCount(*lane.Queue));
  for (int i = 0; i < share; ++i) {
    {
      // Reserved before the page leaves, so the router never sees a place that is not free.
      std::lock_guard<std::mutex> hold(queue.Lock);
      ++queue.Reserved;
    }
    core::QueueEntry entry;
    if (core::PopHead(state, queue, &entry) != 0 || core::AppendEntry(*lane.Queue, std::move(entry)) < 0) {
      std::lock_guard<std::mutex> hold(queue.Lock);
      --queue.Reserved;
      break;
    }
    ++lane.Held;
  }
}

// Gives the system's queue back the places of the pages that left the lane.
void ReleaseDone(IpSystemQueue& system, IpLane& lane) {
  const int32_t now = core::QueuedCount(*lane.Queue);
  if (now >= lane.Held) return;
  {
    std::lock_guard<std::mutex> hold(system.Queue->Lock);
    system.Queue->Reserved -= lane.Held - now;
  }
  lane.Held = now;
  system.Queue->Changed.notify_all();
}

// False when the lane's head page is for a system that is no longer reached over IP (a
// reload changed it): such a page belongs to a port.
bool HeadGoesOverIp(core::ServerState& state, const core::DialContext& lane) {
  const int s = core::ResolveHeadSystem(state, lane);
  if (s < 0) return true;  // the driver dispatch gives an unknown recipient up with its own line
  const auto dir = core::CurrentDirectory(state);
  return directory::IsIpSystem(dir->Systems[static_cast<size_t>(s)]);
}

void ReturnHeadToMain(core::ServerState& state, core::DialContext& lane) {
  core::QueueEntry entry;
  if (core::PopHead(state, lane, &entry) != 0) return;
  common::LogLine("%t %s: Message(#%ld) for %s goes back to the Main queue: its system is no longer reached over IP\n",
                  common::ProgramName(), static_cast<long>(entry.MessageNumber),
                  common::Outside(common::FieldText(entry.Name)));
  std::vector<core::QueueEntry> pages;
  pages.push_back(std::move(entry));
  core::AddToBacklog(*state.Main, std::move(pages));
}

// Works the lane from its head as the dial threads work a port's queue (DeliverQueue), but
// sends a page of a system now dialled by modem back to the router first, and gives the
// places of finished pages back after each delivery, so the router need not wait for the
// whole round.
int DeliverLane(delivery::DialWork& work, IpSystemQueue& system, IpLane& lane) {
  while (core::HasPages(work.Queue) && !work.Stop.stop_requested()) {
    if (!HeadGoesOverIp(work.State, work.Queue)) {
      ReturnHeadToMain(work.State, work.Queue);
      ReleaseDone(system, lane);
      continue;
    }
    const int32_t readIndex = work.Queue.ReadIndex.load();
    const std::optional<int32_t> number = core::HeadMessageNumber(work.Queue);
    const int result = delivery::DeliverHead(work);
    ReleaseDone(system, lane);
    if (result != 0) return result;
    // A round that took no page off the lane has failed (as for a port).
    if (core::HasPages(work.Queue) && work.Queue.ReadIndex.load() == readIndex &&
        core::HeadMessageNumber(work.Queue) == number)
      return 1;
  }
  return 0;
}

void PollStatus(core::ServerState& state, const IpSystemQueue& system, IpLane& lane, std::stop_token stop) {
  const auto dir = core::CurrentDirectory(state);
  const int s = dir->FindSystemByName(system.SystemName);
  if (s < 0) return;
  lane.Watch.Poll(state, dir->Systems[static_cast<size_t>(s)], std::move(stop));
}

void IpWorker(core::ServerState& state, IpSystemQueue& system, IpLane& lane, std::stop_token stop) {
  core::DialContext& dc = *lane.Queue;
  delivery::DialWork work(state, dc, stop, dc.Abort.get_token());
  work.Watch = &lane.Watch;
  uint64_t nextPoll = 0;
  while (!stop.stop_requested()) {
    // Before every round, so one connection carries every page waiting for it.
    TakePages(state, system, lane, system.Workers.load());
    if (core::HasPages(dc)) {
      const bool watching = !lane.Watch.Empty();
      const int result = DeliverLane(work, system, lane);
      work.Dir.reset();  // a reload's old directory is not kept alive between rounds
      ReleaseDone(system, lane);
      if (!watching && !lane.Watch.Empty())
        nextPoll = platform::TickMs() + static_cast<uint64_t>(delivery::kWctpPollMs);
      if (stop.stop_requested()) break;
      if (result != 0)
        ++dc.ErrorCount;
      else
        dc.ErrorCount = 0;
    }
    if (!lane.Watch.Empty() && platform::TickMs() >= nextPoll) {
      PollStatus(state, system, lane, dc.Abort.get_token());
      nextPoll = platform::TickMs() + static_cast<uint64_t>(delivery::kWctpPollMs);
    }
    bool gaveUp = false;
    const int64_t waitMs = RetryWaitMs(state, work, gaveUp);
    if (gaveUp) ReleaseDone(system, lane);
    if (waitMs == 1000 && !core::HasPages(dc)) {
      // Idle: wait for the system's next page, or for the next status poll.
      const uint64_t now = platform::TickMs();
      const int64_t bound = lane.Watch.Empty() ? -1 : (nextPoll > now ? static_cast<int64_t>(nextPoll - now) : 0);
      if (bound != 0) (void)core::WaitForPages(*system.Queue, bound, stop);
      continue;
    }
    if (!SleepUnlessStopped(stop, waitMs)) break;
  }
}

void StartWorker(core::ServerState& state, IpSystemQueue& system, IpLane& lane) {
  core::DialContext& dc = *lane.Queue;
  if (dc.DialThreadRunning.exchange(true)) return;
  try {
    dc.DialThreadEnded = false;
    dc.Abort = std::stop_source();
    dc.DialThread = std::jthread([&state, &system, &lane](std::stop_token stop) {
      IpWorker(state, system, lane, stop);
      lane.Queue->DialThreadEnded = true;
    });
  } catch (const std::system_error&) {
    dc.DialThreadRunning = false;
    common::WriteConsole("Error Starting IP delivery worker\n");
  }
}

void StopWorker(IpLane& lane) {
  core::DialContext& dc = *lane.Queue;
  if (!dc.DialThread.joinable()) return;
  dc.DialThread.request_stop();
  dc.Abort.request_stop();
  dc.DialThread.join();
  dc.DialThreadRunning = false;
}

template <typename Fn>
void ForEachLane(core::ServerState& state, Fn fn) {
  core::IpDelivery* ip = state.Ip.get();
  if (ip == nullptr) return;
  std::lock_guard<std::mutex> hold(ip->Lock);
  for (auto& system : ip->Systems) {
    for (auto& lane : system->Lanes) fn(*lane);
  }
}

}  // namespace

IpSystemQueue::~IpSystemQueue() {
  for (auto& lane : Lanes) lane->Queue->Abort.request_stop();
  for (auto& lane : Lanes) StopWorker(*lane);
}

IpRoute IpQueueFor(core::ServerState& state, int s, core::DialContext*& queue) {
  queue = nullptr;
  std::string name;
  {
    const auto dir = core::CurrentDirectory(state);
    if (s < 0 || s >= dir->SystemCount) return IpRoute::kNotIp;
    const directory::SystemRecord& system = dir->Systems[static_cast<size_t>(s)];
    if (!directory::IsIpSystem(system)) return IpRoute::kNotIp;
    name = system.SystemName;
  }
  core::IpDelivery* ip = state.Ip.get();
  if (ip == nullptr) return IpRoute::kFull;
  core::DialContext* found = nullptr;
  {
    std::lock_guard<std::mutex> hold(ip->Lock);
    if (IpSystemQueue* system = FindQueue(*ip, name)) found = system->Queue.get();
  }
  if (found == nullptr) return IpRoute::kFull;
  std::lock_guard<std::mutex> hold(found->Lock);
  if (core::RoomLeft(*found) < 1) return IpRoute::kFull;
  queue = found;
  return IpRoute::kRoom;
}

void SyncIpWorkers(core::ServerState& state) {
  std::lock_guard<std::mutex> ports(state.PortsLock);  // one sync at a time
  if (!state.Ip) state.Ip = std::make_shared<core::IpDelivery>();
  core::IpDelivery& ip = *state.Ip;
  const auto dir = core::CurrentDirectory(state);
  for (int s = 0; s < dir->SystemCount; ++s) {
    const directory::SystemRecord& record = dir->Systems[static_cast<size_t>(s)];
    if (!directory::IsIpSystem(record)) continue;
    IpSystemQueue* system = nullptr;
    {
      std::lock_guard<std::mutex> hold(ip.Lock);
      system = FindQueue(ip, record.SystemName);
      if (system == nullptr) {
        auto made = std::make_unique<IpSystemQueue>();
        made->SystemName = record.SystemName;
        made->Queue = core::MakeDialContext(record.SystemName.c_str(), core::kPortQueueEntries);
        if (!made->Queue) {
          common::WriteConsole("Calloc error\n");
          continue;
        }
        system = made.get();
        ip.Systems.push_back(std::move(made));
      }
      const int wanted = std::clamp(record.Connections, 1, directory::kMaxConnections);
      while (static_cast<int>(system->Lanes.size()) < wanted) {
        auto lane = std::make_unique<IpLane>();
        lane->Queue = core::MakeDialContext(record.SystemName.c_str(), core::kPortQueueEntries);
        if (!lane->Queue) {
          common::WriteConsole("Calloc error\n");
          break;
        }
        system->Lanes.push_back(std::move(lane));
      }
      system->Workers = static_cast<int>(system->Lanes.size());
    }
    if (state.DialThreadsStarted.load()) {
      for (auto& lane : system->Lanes) StartWorker(state, *system, *lane);
    }
  }
}

void AskIpWorkersToFinish(core::ServerState& state) {
  ForEachLane(state, [](IpLane& lane) {
    if (lane.Queue->DialThread.joinable()) lane.Queue->DialThread.request_stop();
  });
}

void WaitIpWorkers(core::ServerState& state, uint64_t deadlineMs) {
  ForEachLane(state, [deadlineMs](IpLane& lane) {
    const core::DialContext& dc = *lane.Queue;
    while (dc.DialThread.joinable() && !dc.DialThreadEnded.load() && platform::TickMs() < deadlineMs)
      platform::SleepMs(10);
  });
}

void StopIpWorkers(core::ServerState& state) {
  ForEachLane(state, [](IpLane& lane) { lane.Queue->Abort.request_stop(); });
  ForEachLane(state, [](IpLane& lane) { StopWorker(lane); });
}

int IpQueuedCount(core::ServerState& state, std::string_view systemName) {
  core::IpDelivery* ip = state.Ip.get();
  if (ip == nullptr) return 0;
  std::lock_guard<std::mutex> hold(ip->Lock);
  IpSystemQueue* system = FindQueue(*ip, systemName);
  if (system == nullptr) return 0;
  int count = core::QueuedCount(*system->Queue);
  for (auto& lane : system->Lanes) count += core::QueuedCount(*lane->Queue);
  return count;
}

}  // namespace server
