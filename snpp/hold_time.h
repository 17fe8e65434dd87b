// snpp/hold_time.h - the pure half of HOLD: "YYMMDDHHMMSS [+/-GMT offset]" read and turned
// into the moment it names. Clients send the RFC's 10- and 12-digit forms and a 14-digit
// form with the full year; Perl's Net::SNPP adds "+0000" for a time in GMT.
#pragma once

#include <ctime>
#include <string_view>

namespace snpp {

struct HoldTime {
  int Year = 0;  // four digits
  int Month = 0;
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  bool HasOffset = false;  // false: the server's local time
  int OffsetMinutes = 0;   // east of GMT: "+0100" is 60, "-0600" is -360
};

// Reads HOLD's argument (line end allowed). The offset is "+H", "+HH", "+HMM" or "+HHMM"
// (or "-"), at most 14 hours. False for anything else or a date or time that does not exist.
bool ParseHoldTime(std::string_view text, HoldTime& out);

// The moment a hold time names, in seconds since the epoch: the given time less its offset,
// or the server's local time when it has none. -1 when it cannot be represented.
std::time_t HoldEpoch(const HoldTime& hold);

}  // namespace snpp
