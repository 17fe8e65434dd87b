// server/counters.cpp - the figures of the counters request, read without stopping anything:
// each counter is an atomic, each queue length a lock-free read, the AT table and the call
// counts are taken under their own locks one after the other.
#include "server/counters.h"

#include "common/counter_lines.h"
#include "common/fixed_field.h"
#include "server/at_queue.h"

namespace server {

std::string CountersReply(core::ServerState& state, size_t capacity) {
  using common::CounterFigure;
  std::vector<CounterFigure> figures = {
      {"pages_accepted", state.PagesAccepted.load(), {}},
      {"pages_sent", state.PagesSent.load(), {}},
      {"pages_given_up", state.FailedPages.load(), {}},
      {"pipe_requests", state.RequestCount.load(), {}},
      {"unknown_names", state.UnknownNameCount.load(), {}},
      {"now_queue_full", state.NowQueueFullCount.load(), {}},
      {"now_queue_pages", core::QueuedCount(*state.Main), {{"queue", "Main"}}},
  };
  const int ports = state.PortCount.load();
  for (int i = 0; i < ports; ++i) {
    const core::DialContext& port = *state.Ports[static_cast<size_t>(i)];
    figures.push_back({"now_queue_pages", core::QueuedCount(port), {{"queue", common::FieldText(port.PortName)}}});
  }
  figures.push_back({"at_pages", AtSlotsInUse(state), {}});
  for (const core::CallCounts::Figure& f : state.Calls.Snapshot()) {
    figures.push_back({"calls", f.Calls, {{"port", f.Port}, {"system", f.System}, {"result", f.Result}}});
  }

  std::string reply = "OK\n";
  for (const CounterFigure& figure : figures) {
    const std::string line = common::CounterLine(figure);
    if (reply.size() + line.size() > capacity) break;  // whole lines only
    reply += line;
  }
  return reply;
}

}  // namespace server
