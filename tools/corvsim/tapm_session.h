// tools/corvsim/tapm_session.h - the "tapm" terminal kind: TAP manual (interactive) mode.
//
// Keys of its [number] section: m (the "M" lines needed before the pager-ID prompt,
// default 1), greeting (default on), id_prompt (off: never prompts for a pager ID),
// no_message_prompt (pager IDs after which the terminal goes silent), idle_ms (default 60000).
#pragma once

#include "tools/corvsim/terminal.h"

namespace corvsim {

bool RunTapmTerminal(SimLine& line, const SectionConfig& number, const CallInfo& call);
// The same terminal on any line (a pty or a network connection).
bool RunTapmSession(TermLine& line, const SectionConfig& number, const CallInfo& call);

}  // namespace corvsim
