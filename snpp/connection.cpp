// snpp/connection.cpp - lines out of a byte stream, and the two ways a connection ends.
#include "snpp/connection.h"

#include "common/log.h"

namespace snpp {

SnppConnection::SnppConnection(SnppOutput& out, const SnppServices& services, std::string peer, bool reportsAllowed)
    : out_(out), session_(out, services) {
  session_.Peer = std::move(peer);
  session_.ReportsAllowed = reportsAllowed;
}

void SnppConnection::Greet() { SendReply(kReplyGreeting, out_); }

bool SnppConnection::Receive(std::string_view bytes) {
  return lines_.Feed(bytes, [this](std::string_view line) { return HandleLine(line); });
}

bool SnppConnection::HandleLine(std::string_view line) {
  common::DebugLine("in: %s\n", line);
  const int code = DoCommand(line, &session_);
  if (code != kNoReply) SendReply(code, out_);
  if (code == kReplyGoodbye) return false;
  if (session_.CommandErrors > kErrorLimit || session_.LoginFailures >= kLoginAttempts) {
    SendReply(kReplyTooManyErrors, out_);
    return false;
  }
  return true;
}

}  // namespace snpp
