// core/call_counts.h - how the dial threads' calls ended, per port and paging system, for the
// counters request of the pipe (and so for corvhttp's /metrics).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace core {

class CallCounts {
 public:
  struct Figure {
    std::string Port;
    std::string System;
    std::string Result;  // the modem's words ("CONNECT", "BUSY", ...)
    int64_t Calls = 0;
  };

  // One more call on port to system that ended with result. Safe from any thread.
  void Count(const std::string& port, const std::string& system, const std::string& result);

  // Every (port, system, result) seen so far with its count, in that order.
  std::vector<Figure> Snapshot() const;

 private:
  mutable std::mutex lock_;
  std::map<std::tuple<std::string, std::string, std::string>, int64_t> counts_;
};

}  // namespace core
