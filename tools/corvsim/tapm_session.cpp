// tools/corvsim/tapm_session.cpp - runs the manual-mode terminal on the simulator's line.
#include "tools/corvsim/tapm_session.h"

#include "tools/corvsim/endpoint_loop.h"
#include "tools/corvsim/tapm_terminal.h"

namespace corvsim {

bool RunTapmSession(TermLine& line, const SectionConfig& number, const CallInfo& call) {
  TapmOptions options;
  options.MNeeded = static_cast<int>(number.GetInt("m", 1));
  options.Greeting = number.GetBool("greeting", true);
  options.IdPrompt = number.GetBool("id_prompt", true);
  for (const std::string& id : number.GetList("no_message_prompt")) options.NoMessagePrompt.insert(id);
  const int idleMs = static_cast<int>(number.GetInt("idle_ms", 60000));
  TapmTerminal terminal(options);
  line.Write(terminal.OnConnect());
  return RunByteEndpoint(line, call, terminal, idleMs);
}

bool RunTapmTerminal(SimLine& line, const SectionConfig& number, const CallInfo& call) {
  return RunTapmSession(line, number, call);
}

}  // namespace corvsim
