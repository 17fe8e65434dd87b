// tools/corvsim/tapm_session.cpp - runs the manual-mode terminal on the simulator's line.
#include "tools/corvsim/tapm_session.h"

#include "tools/corvsim/tapm_terminal.h"
#include "tools/corvsim/ucp_terminal.h"

namespace corvsim {

bool RunTapmTerminal(SimLine& line, const SectionConfig& number, const CallInfo& call) {
  TapmOptions options;
  options.MNeeded = static_cast<int>(number.GetInt("m", 1));
  options.Greeting = number.GetBool("greeting", true);
  options.IdPrompt = number.GetBool("id_prompt", true);
  for (const std::string& id : number.GetList("no_message_prompt")) options.NoMessagePrompt.insert(id);
  const int idleMs = static_cast<int>(number.GetInt("idle_ms", 60000));
  TapmTerminal terminal(options);
  const std::string callTag = "call=" + std::to_string(call.CallNumber);
  line.Write(terminal.OnConnect());
  for (;;) {
    const int c = line.ReadByte(idleMs);
    if (c == SimLine::kHangup) {
      line.Record("HANGUP " + callTag + " reason=port-closed");
      return true;
    }
    if (c == SimLine::kTimeout) {
      line.Record("HANGUP " + callTag + " reason=idle");
      return false;
    }
    const std::string reply = terminal.OnBytes(std::string(1, static_cast<char>(c)));
    for (const std::string& r : terminal.TakeRecords()) line.Record(TagRecord(r, call));
    if (!reply.empty()) line.Write(reply);
  }
}

}  // namespace corvsim
