// tools/corvsim/terminal.h - the paging terminals behind the simulated modem, by kind.
//
// Each [number] section of the configuration names its terminal with "terminal = KIND"
// (default tap). A kind is one function that runs one call on the line and returns when the
// call is over. To add a kind: write tools/corvsim/KIND_*.{h,cpp} with a function of the
// TerminalFn shape and add a line for it to the table in terminals.cpp.
#pragma once

#include <string>
#include <string_view>

#include "tools/corvsim/sim_config.h"
#include "tools/corvsim/sim_line.h"

namespace corvsim {

struct CallInfo {
  int CallNumber = 0;   // calls since the simulator started, from 1
  std::string Dialled;  // the dial string after ATD/ATDT ("9,5551234"); empty on a direct line
};

// Runs one call. Returns true when it ended because the computer closed the port (the
// modem then says nothing more), false when the terminal hung up (the modem reports NO
// CARRIER). Every call records what it received with line.Record.
using TerminalFn = bool (*)(SimLine& line, const SectionConfig& number, const CallInfo& call);

struct TerminalKind {
  std::string_view Name;  // the value of "terminal ="
  TerminalFn Run;
  bool AnswersDial;  // true: runs instead of a result code (numeric pagers: no CONNECT)
};

// The kind of that name (compared ignoring case), or null.
const TerminalKind* FindTerminal(std::string_view name);

// The TAP 1.8 terminal (tap_terminal.cpp). Keys: password, no_id, noise, verdict_text,
// nak_first, rs_ids, disconnect_after, idle_ms.
bool RunTapTerminal(SimLine& line, const SectionConfig& number, const CallInfo& call);

// How a TAP session ended.
enum class TapEnd { kPortClosed, kLoggedOff, kTerminalEnded, kIdle };

// The same terminal on any line (a pty or a network connection); end says why it stopped.
// Returns true when the computer closed the line.
bool RunTapSession(TermLine& line, const SectionConfig& number, const CallInfo& call, TapEnd& end);

}  // namespace corvsim
