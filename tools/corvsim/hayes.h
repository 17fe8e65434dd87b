// tools/corvsim/hayes.h - the simulated Hayes modem in front of the paging terminals.
//
// Command mode: characters are echoed (E1, the default; E0 turns it off), a CR ends a
// command line, every "AT" line is answered in verbose form with CR LF around the result
// ("OK", "ERROR" for a command the [modem] section refuses). ATD dials: the first field of
// the dial string that names a [number] section picks the result (CONNECT with a speed
// suffix, BUSY, NO CARRIER, NO ANSWER, NO DIALTONE, or SILENCE for none) after dial_ms
// plus comma_ms per comma; a character from the computer while dialling abandons the call.
// Behind CONNECT the number's terminal runs (terminal.h). A close of the port by the
// computer hangs up, as DTR dropping does on a real modem set to &D2.
//
// [modem] keys: echo (on), refuse (commands answered ERROR, e.g. "&F"), dial_ms (300),
// comma_ms (50), unknown_result (NO ANSWER), baud (0: no throttle), nul_bytes (off).
// [number] keys for the modem: result (CONNECT 9600), terminal (tap), baud, nul_bytes, dial_ms,
// fail_first (the first N calls get fail_result, default BUSY, instead of result),
// hold_until (a file: the dial is answered only once it exists, for at most a minute).
#pragma once

#include <string>
#include <string_view>

#include "tools/corvsim/sim_config.h"
#include "tools/corvsim/sim_line.h"

namespace corvsim {

// The commands of one AT line (after "AT"), as the modem splits them.
struct AtLine {
  bool IsAt = false;  // the line starts with AT (any case)
  std::string Body;   // upper case, blanks removed, without "AT"
  bool HasDial = false;
  std::string Dialled;  // after D and an optional T or P
  int Echo = -1;        // E0 / E1 seen: 0 or 1
};
AtLine ParseAtLine(std::string_view line);

// True when the body holds a command the [modem] section refuses.
bool Refused(const AtLine& at, const SectionConfig& modem);

// Runs the modem (or, with a [direct] section, the line without a modem) until line.Stop().
void RunModem(SimLine& line, const SimConfig& config);

}  // namespace corvsim
