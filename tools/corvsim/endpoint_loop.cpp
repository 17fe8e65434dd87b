// tools/corvsim/endpoint_loop.cpp - record tagging for the byte-by-byte terminals.
#include "tools/corvsim/endpoint_loop.h"

namespace corvsim {

std::string TagRecord(const std::string& record, const CallInfo& call) {
  const std::string tag = "call=" + std::to_string(call.CallNumber);
  const size_t eq = record.find('=');
  const size_t space = eq == std::string::npos ? std::string::npos : record.rfind(' ', eq);
  if (space == std::string::npos) return record + " " + tag;
  return record.substr(0, space + 1) + tag + record.substr(space);
}

}  // namespace corvsim
