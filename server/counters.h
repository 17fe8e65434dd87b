// server/counters.h - the counters request (type 10): corvd32's figures for the metrics.
#pragma once

#include <cstddef>
#include <string>

#include "core/server_state.h"

namespace server {

// "OK\n" and one figure a line (the format is described with kCounters in
// common/request_record.h), cut after the last whole line that fits capacity bytes.
std::string CountersReply(core::ServerState& state, size_t capacity);

}  // namespace server
