// server/reports.h - the status report (request type 4) and the log report (type 3).
#pragma once

#include <string>

#include "core/server_state.h"

namespace server {

constexpr size_t kReplyCapacity = 20000;  // a pipe thread's reply buffer
constexpr size_t kLogPageBytes = 1600;

// Appends one NOW queue's part of the status report and returns its page count. flag > 0
// lists the recipients (and, in debug mode, a hex dump of each message).
int QueueReport(core::ServerState& state, core::DialContext& dc, int flag, const std::string& label,
                std::string& reply);

// The whole status report: NOW queues, AT queue and the server's clock. Cut at the reply
// buffer's end (the terminator included) when the queues hold more than fits.
std::string StatusReport(core::ServerState& state, int flag);

// A 1600-byte window of the log file, page 0 being the newest; "No log file\n" (counted in
// LogViewFailures) or "No data in log file\n" when there is nothing to show.
std::string LogReport(core::ServerState& state, int page, const std::string& path = "log.txt");

}  // namespace server
