// tools/corvsim/ucp_terminal.h - the "ucp" terminal kind: a UCP paging centre behind CONNECT.
//
// Keys of its [number] section: reject (recipients, AdC digits, answered with a negative
// result), reject_all, silent (never answers), idle_ms (the centre hangs up after that
// long without a byte, default 60000).
#pragma once

#include "tools/corvsim/terminal.h"

namespace corvsim {

#define CORVSIM_HAS_UCP 1
bool RunUcpTerminal(SimLine& line, const SectionConfig& number, const CallInfo& call);

// A record line of an endpoint with the call's tag before its first key=value field:
// "TAPM page id=1 msg=..." becomes "TAPM page call=3 id=1 msg=...".
std::string TagRecord(const std::string& record, const CallInfo& call);

}  // namespace corvsim
