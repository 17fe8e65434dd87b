// tools/corvsim/script_session.h - the "script" terminal kind: a paging system with its own
// dialogue, for script paging.
//
// Keys of its [number] section: steps ("expect=>send|expect=>send", with \r, \n and \xHH
// escapes; a step without "=>" is sent at once), idle_ms (default 60000). Every line the
// computer sends is recorded with its time since the connection.
#pragma once

#include "tools/corvsim/terminal.h"

namespace corvsim {

bool RunScriptTerminal(SimLine& line, const SectionConfig& number, const CallInfo& call);

}  // namespace corvsim
