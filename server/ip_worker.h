// server/ip_worker.h - the delivery workers of the paging systems reached over IP.
//
// Each such system has a queue of its own (14 pages, as a port has) that the router fills,
// and Connections workers that share it. A worker takes pages from the system's queue into
// its own lane (a second ring, so each of them has a single consumer, as the delivery
// routines expect), delivers them with the driver of the system's kind over a connection
// of its own, and follows the dial threads' retry policy on its lane. Pages a worker holds
// still count against the system's 14 places, so the router keeps waiting pages in the Main
// queue exactly as for a port. With one worker a system's pages go out in the order they
// came; with several, each worker keeps the order of the pages it took.
//
// A page that reaches a worker after a reload made its system a modem system again goes
// back to the Main queue (ahead of new requests), and the router sends it to a port.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/dial_context.h"
#include "core/server_state.h"
#include "delivery/wctp_watch.h"

namespace server {

// One worker: its lane (whose DialThread member runs it) and its status watch.
struct IpLane {
  std::unique_ptr<core::DialContext> Queue;
  delivery::WctpWatch Watch;
  int32_t Held = 0;  // pages of the lane counted in the system queue's Reserved
};

// One system's queue and its workers. Made once, never freed until the server's state goes.
struct IpSystemQueue {
  std::string SystemName;
  std::unique_ptr<core::DialContext> Queue;
  std::mutex TakeLock;  // one worker at a time moves pages from Queue into its lane
  std::vector<std::unique_ptr<IpLane>> Lanes;
  std::atomic<int> Workers{0};  // Lanes.size(), for the workers sharing out the pages
  ~IpSystemQueue();             // stops and joins the workers first
};

}  // namespace server

namespace core {

struct IpDelivery {
  std::mutex Lock;  // guards Systems (appended to, never shrunk)
  std::vector<std::unique_ptr<server::IpSystemQueue>> Systems;
};

}  // namespace core

namespace server {

// What the router may do with a page of system s.
enum class IpRoute {
  kNotIp,  // a modem system: route to its ports
  kRoom,   // queue set to the system's own queue, which has room
  kFull,   // an IP system whose queue is full (or not made yet): the page waits
};

// The system's own queue when s is a system reached over IP.
IpRoute IpQueueFor(core::ServerState& state, int s, core::DialContext*& queue);

// Makes the queue of every IP system of the directory in force that has none, and gives each
// the workers its Connections asks for (more on a reload, never fewer while running).
// Workers start only once the dial threads were started (state.DialThreadsStarted).
void SyncIpWorkers(core::ServerState& state);

// An orderly stop: every worker finishes the page it is on and ends before the next one.
void AskIpWorkersToFinish(core::ServerState& state);
// Waits (until the program time tick deadlineMs) for the workers asked to finish.
void WaitIpWorkers(core::ServerState& state, uint64_t deadlineMs);
// Stops every worker (ending the waits of a delivery in progress) and joins it.
void StopIpWorkers(core::ServerState& state);

// Pages of system name waiting in its queue and its workers' lanes (0 when it has none).
int IpQueuedCount(core::ServerState& state, std::string_view systemName);

}  // namespace server
