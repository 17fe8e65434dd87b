// modem/modem_control.h - the Hayes modem: result codes, automatic initialisation, placing
// and ending the call of a delivery routine.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "modem/com_port.h"
#include "modem/delivery.h"

namespace modem {

// Modem result codes.
constexpr int kResultOk = 0;
constexpr int kResultConnect = 1;
constexpr int kResultRing = 2;
constexpr int kResultNoCarrier = 3;
constexpr int kResultError = 4;
constexpr int kResultNoDialtone = 5;
constexpr int kResultBusy = 6;
constexpr int kResultNoAnswer = 7;
constexpr int kResultTimeout = 8;
constexpr int kResultInvalid = 9;   // no port was given
constexpr int kResultCanceled = 10; // named only

// "OK" ... "CANCELED"; "Un-Known Code" for any other value.
const char* ModemResultName(int code);

// The result code a line names (searched in the order OK, CONNECT, RING, NO CARRIER, ERROR,
// NO DIALTONE, BUSY, NO ANSWER, anywhere in the line), or -1 for any other line.
int ClassifyModemLine(std::string_view line);

// Reads up to 4 lines (70 characters each, lineLimitMs per line) until one names a result.
// A line that times out gives kResultTimeout at once, as do 4 lines without a result;
// a null port gives kResultInvalid.
int ReadModemResult(ComPort* port, int lineLimitMs);

// The string AutoInitModem stores: "AT " then "&F" when &F was accepted, else "Z" (the
// modem refused &F and took Z), then Q0V1, &C1, &D2 each when accepted and &F was accepted.
std::string AutoInitString(bool factoryOk, bool q0v1Ok, bool c1Ok, bool d2Ok);

// Probes the modem and builds a working init string into initString. 0 when the modem took
// it, 1 when it did not respond or refused (initString then holds what was tried, or is
// empty when no modem answered).
int AutoInitModem(std::string& initString, ComPort* port);

// The dial command: "ATDT number\r", or "ATDT prefix,number\r" with a dialling prefix.
std::string DialCommand(std::string_view prefix, std::string_view number);

enum class Protocol { kTap, kTapManual, kUcp, kNumeric, kScript };

// Opens the port of the work's queue and sets up the call to work.System() as the
// protocol's column of the set-up table says: modem line, automatic initialisation, init
// string, system line, dialling and the wait for the connection. True with work.Port open
// when the protocol may talk now. False when it may not: the call has been ended and
// result holds what the routine returns (1 when the port cannot be opened, the modem's
// result when no CONNECT came; UCP 1). Script and numeric calls return true after the
// system line is set: they dial themselves.
[[nodiscard]] bool PlaceCall(DialWork& work, Protocol protocol, int& result);

// Ends the call as the protocol does: TAP and TAP manual mode drain, close and pause 1500 ms;
// UCP and script close and pause 1500 ms; numeric pauses 500 ms and closes. Closing takes
// 2000 ms of its own.
void EndCall(DialWork& work, Protocol protocol);

// The init string for a system: its ModemInitString, or the one AutoInitModem found for it
// since the directory was loaded (empty when none).
std::string EffectiveInitString(const DialWork& work);

}  // namespace modem
