// tools/corvsim/ucp_terminal.cpp - runs the UCP centre on the simulator's line.
#include "tools/corvsim/ucp_terminal.h"

#include "tools/corvsim/ucp_centre.h"

namespace corvsim {

std::string TagRecord(const std::string& record, const CallInfo& call) {
  const std::string tag = "call=" + std::to_string(call.CallNumber);
  const size_t eq = record.find('=');
  const size_t space = eq == std::string::npos ? std::string::npos : record.rfind(' ', eq);
  if (space == std::string::npos) return record + " " + tag;
  return record.substr(0, space + 1) + tag + record.substr(space);
}

bool RunUcpTerminal(SimLine& line, const SectionConfig& number, const CallInfo& call) {
  UcpCentreOptions options;
  for (const std::string& adc : number.GetList("reject")) options.RejectAdc.insert(adc);
  options.RejectAll = number.GetBool("reject_all", false);
  options.Silent = number.GetBool("silent", false);
  const int idleMs = static_cast<int>(number.GetInt("idle_ms", 60000));
  UcpCentre centre(options);
  const std::string callTag = "call=" + std::to_string(call.CallNumber);
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
    const std::string reply = centre.OnBytes(std::string(1, static_cast<char>(c)));
    for (const std::string& r : centre.TakeRecords()) line.Record(TagRecord(r, call));
    if (!reply.empty()) line.Write(reply);
  }
}

}  // namespace corvsim
