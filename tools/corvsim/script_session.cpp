// tools/corvsim/script_session.cpp - runs the scripted endpoint on the simulator's line.
#include "tools/corvsim/script_session.h"

#include <chrono>

#include "tools/corvsim/endpoint_loop.h"
#include "tools/corvsim/script_endpoint.h"

namespace corvsim {
namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool RunScriptTerminal(SimLine& line, const SectionConfig& number, const CallInfo& call) {
  ScriptEndpoint endpoint(ParseScriptSteps(number.Get("steps")));
  const int idleMs = static_cast<int>(number.GetInt("idle_ms", 60000));
  const std::string callTag = "call=" + std::to_string(call.CallNumber);
  line.Write(endpoint.OnConnect(NowMs()));
  for (;;) {
    const int c = line.ReadByte(idleMs);
    if (c == SimLine::kHangup || c == SimLine::kTimeout) {
      endpoint.OnHangup(NowMs());
      for (const std::string& r : endpoint.TakeRecords()) line.Record(TagRecord(r, call));
      line.Record("HANGUP " + callTag + (c == SimLine::kHangup ? " reason=port-closed" : " reason=idle"));
      return c == SimLine::kHangup;
    }
    const std::string reply = endpoint.OnBytes(std::string(1, static_cast<char>(c)), NowMs());
    for (const std::string& r : endpoint.TakeRecords()) line.Record(TagRecord(r, call));
    if (!reply.empty()) line.Write(reply);
  }
}

}  // namespace corvsim
