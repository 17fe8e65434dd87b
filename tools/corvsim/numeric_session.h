// tools/corvsim/numeric_session.h - the "numeric" terminal kind: a numeric pager reached by
// touch tones. It answers the dial command itself (there is no CONNECT): the modem plays the
// dial string at a real modem's pace and a key from the computer hangs up.
//
// Keys of its [number] section: carrier_ms (how long the modem waits after the string for a
// carrier that never comes before it says NO CARRIER, default 60000).
#pragma once

#include "tools/corvsim/terminal.h"

namespace corvsim {

bool RunNumericPager(SimLine& line, const SectionConfig& number, const CallInfo& call);

}  // namespace corvsim
