// tools/corvsim/endpoint_loop.h - the call loop shared by the terminals that answer byte by byte.
#pragma once

#include <string>

#include "tools/corvsim/terminal.h"

namespace corvsim {

// A record line of an endpoint with the call's tag before its first key=value field:
// "TAPM page id=1 msg=..." becomes "TAPM page call=3 id=1 msg=...".
std::string TagRecord(const std::string& record, const CallInfo& call);

// Feeds the line to endpoint one byte at a time (OnBytes returns what to send back,
// TakeRecords what to record) until the computer closes the port (true) or nothing comes
// for idleMs (false: the terminal hangs up).
template <typename Endpoint>
bool RunByteEndpoint(TermLine& line, const CallInfo& call, Endpoint& endpoint, int idleMs) {
  const std::string callTag = "call=" + std::to_string(call.CallNumber);
  for (;;) {
    const int c = line.ReadByte(idleMs);
    if (c == TermLine::kHangup) {
      line.Record("HANGUP " + callTag + " reason=port-closed");
      return true;
    }
    if (c == TermLine::kTimeout) {
      line.Record("HANGUP " + callTag + " reason=idle");
      return false;
    }
    const std::string reply = endpoint.OnBytes(std::string(1, static_cast<char>(c)));
    for (const std::string& r : endpoint.TakeRecords()) line.Record(TagRecord(r, call));
    if (!reply.empty()) line.Write(reply);
  }
}

}  // namespace corvsim
