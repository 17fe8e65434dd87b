// snpp/connection.cpp - lines out of a byte stream, and the two ways a connection ends.
#include "snpp/connection.h"

#include "common/log.h"

namespace snpp {

SnppConnection::SnppConnection(SnppOutput& out) : out_(out) { line_.reserve(kLineCapacity); }

void SnppConnection::Greet() { SendReply(kReplyGreeting, out_); }

bool SnppConnection::Receive(std::string_view bytes) {
  for (const char c : bytes) {
    // A line is held to 4000 characters: past that each character takes the last one's
    // place, so an overlong line arrives as its first 3999 characters and its line feed.
    if (line_.size() < kLineCapacity) {
      line_ += c;
    } else {
      line_.back() = c;
    }
    if (c != '\n') continue;

    common::DebugLine("in: %s\n", line_);
    const int code = DoCommand(line_, &session_, out_);
    line_.clear();
    if (code != kNoReply) SendReply(code, out_);
    if (code == kReplyGoodbye) return false;
    if (session_.CommandErrors > kErrorLimit) {
      SendReply(kReplyTooManyErrors, out_);
      return false;
    }
  }
  return true;
}

}  // namespace snpp
