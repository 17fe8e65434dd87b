// tools/corvsim/ucp_terminal.h - the "ucp" terminal kind: a UCP paging centre behind CONNECT.
//
// Keys of its [number] section: reject (recipients, AdC digits, answered with a negative
// result), reject_all, silent (never answers), idle_ms (the centre hangs up after that
// long without a byte, default 60000).
#pragma once

#include "tools/corvsim/terminal.h"

namespace corvsim {

bool RunUcpTerminal(SimLine& line, const SectionConfig& number, const CallInfo& call);

}  // namespace corvsim
