// delivery/modem_control.h - the Hayes modem: result codes, automatic initialisation, placing
// and ending the call of a delivery routine.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "delivery/com_port.h"
#include "delivery/delivery.h"

namespace delivery {

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
constexpr int kResultInvalid = 9;    // no port was given
constexpr int kResultCanceled = 10;  // named only

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

// How a driver's calls are dialled.
enum class Dialling {
  kReadResult,   // "ATDT number", then the modem's result lines; no number: a direct line
  kWaitConnect,  // "ATDT number" always, then CONNECT within 40 s and a 1 s pause
  kByDriver,     // the driver dials itself (numeric dial strings, scripts)
};

// What differs between the drivers' calls, as data each driver supplies (the constants sit
// with the driver table in deliver.cpp). Texts are formats for common::LogLine; every
// line-setting failure is formatted with the program name, the code 1 and the system's
// baud, parity, data bits and stop bits, and each format takes what it names.
struct CallSetup {
  std::string_view TraceTitle;         // console trace when the call starts (debug)
  bool LogOpenFailure;                 // "Unable to open up the com port(NAME)" in the log
  bool SetModemLine;                   // the system's baud at 8N1 for the modem's commands
  std::string_view ModemLineFailure;   // logged when the modem line cannot be set
  bool AutoInit;                       // probe the modem when the system's init string is Auto
  bool SystemLineFirst;                // the system line before the init string, not after
  bool TraceSystemLine;                // "Baud: ..." trace before the system line (debug)
  std::string_view SystemLineFailure;  // logged when the system line cannot be set
  Dialling Dial;
  bool DrainAtEnd;    // throw away what the peer still says before closing
  int HangUpPauseMs;  // before the port closes (the modem abandons the call)
  int AfterCloseMs;   // after the close, before the next call
};

// The drivers' calls: TAP, TAP manual mode, UCP, numeric and script paging.
extern const CallSetup kTapCall;
extern const CallSetup kTapManualCall;
extern const CallSetup kUcpCall;
extern const CallSetup kNumericCall;
extern const CallSetup kScriptCall;

// Opens the port of the work's queue and sets up the call to work.System() as call says:
// modem line, automatic initialisation, init string, system line, dialling and the wait for
// the connection. True with work.Port open when the driver may talk now. False when it may
// not: the call has been ended and result holds what the driver returns (1 when the port
// cannot be opened, the modem's result when no CONNECT came; 1 for kWaitConnect). Calls the
// driver dials itself return true after the system line is set.
[[nodiscard]] bool PlaceCall(DialWork& work, const CallSetup& call, int& result);

// Ends the call as call says: drain (when asked), the hang-up pause, the close (which takes
// 2000 ms of its own), the pause after it.
void EndCall(DialWork& work, const CallSetup& call);

// The init string for a system: its ModemInitString, or the one AutoInitModem found for it
// since the directory was loaded (empty when none).
std::string EffectiveInitString(const DialWork& work);

}  // namespace delivery
