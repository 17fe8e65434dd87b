// tools/corvsim/ucp_terminal.cpp - runs the UCP centre on the simulator's line.
#include "tools/corvsim/ucp_terminal.h"

#include "tools/corvsim/endpoint_loop.h"
#include "tools/corvsim/ucp_centre.h"

namespace corvsim {

bool RunUcpTerminal(SimLine& line, const SectionConfig& number, const CallInfo& call) {
  UcpCentreOptions options;
  for (const std::string& adc : number.GetList("reject")) options.RejectAdc.insert(adc);
  options.RejectAll = number.GetBool("reject_all", false);
  options.Silent = number.GetBool("silent", false);
  options.Garble = number.GetBool("garble", false);
  const int idleMs = static_cast<int>(number.GetInt("idle_ms", 60000));
  UcpCentre centre(options);
  return RunByteEndpoint(line, call, centre, idleMs);
}

}  // namespace corvsim
