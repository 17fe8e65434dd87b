// delivery/modem_control.cpp - result codes, automatic initialisation and call set-up.
#include "delivery/modem_control.h"

#include <map>
#include <mutex>
#include <utility>

#include "common/fixed_field.h"
#include "common/log.h"

namespace delivery {
namespace {

constexpr const char* kResultNames[] = {"OK",   "CONNECT",   "RING",    "NO CARRIER", "ERROR",   "NO DIALTONE",
                                        "BUSY", "NO ANSWER", "TIMEOUT", "INVALID",    "CANCELED"};

// Search order of the result texts: OK before CONNECT, as the modem's lines are read.
constexpr std::pair<const char*, int> kResultTexts[] = {
    {"OK", kResultOk},       {"CONNECT", kResultConnect},
    {"RING", kResultRing},   {"NO CARRIER", kResultNoCarrier},
    {"ERROR", kResultError}, {"NO DIALTONE", kResultNoDialtone},
    {"BUSY", kResultBusy},   {"NO ANSWER", kResultNoAnswer},
};

constexpr int kCommandResultMs = 5000;  // a modem's answer to a command line
constexpr int kDialResultMs = 50000;    // per result line after ATDT: dialling and the answer
constexpr int kInitOkSec = 5;           // OK after the init string
constexpr int kConnectSec = 40;         // CONNECT after the UCP dial
constexpr int kAfterConnectMs = 1000;   // lets the UCP centre's modem settle before the frame

// Init strings that AutoInitModem found, per system of one loaded directory. Later calls to
// the system send the found string without probing again; a reload gives a new directory,
// so a modem swapped meanwhile is probed afresh after it.
struct AutoInitCache {
  std::mutex Lock;
  std::map<std::pair<const directory::Directory*, int>,
           std::pair<std::weak_ptr<const directory::Directory>, std::string>>
      Strings;
};
AutoInitCache& Cache() {
  static AutoInitCache cache;
  return cache;
}

void RememberAutoInit(const DialWork& work, const std::string& text) {
  AutoInitCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.Lock);
  for (auto it = cache.Strings.begin(); it != cache.Strings.end();) {
    it = it->second.first.expired() ? cache.Strings.erase(it) : std::next(it);
  }
  cache.Strings[{work.Dir.get(), work.SystemIndex}] = {work.Dir, text};
}

bool Debug(const DialWork& work) { return work.State.Debug.load(); }

int SendCommand(ComPort* port, std::string_view command) {
  DrainComInput(port);
  WriteComText(port, command);
  return ReadModemResult(port, kCommandResultMs);
}

}  // namespace

const char* ModemResultName(int code) {
  if (code < 0 || code > kResultCanceled) return "Un-Known Code";
  return kResultNames[code];
}

int ClassifyModemLine(std::string_view line) {
  for (const auto& [text, code] : kResultTexts) {
    if (line.find(text) != std::string_view::npos) return code;
  }
  return -1;
}

int ReadModemResult(ComPort* port, int lineLimitMs) {
  if (port == nullptr) return kResultInvalid;
  for (int i = 0; i < 4; ++i) {
    char line[70] = {};
    int timedOut = 0;
    const int n = ReadComLine(port, line, lineLimitMs, timedOut);
    if (timedOut || n < 0) return kResultTimeout;
    const int code = ClassifyModemLine(std::string_view(line, static_cast<size_t>(n)));
    if (code >= 0) return code;
  }
  return kResultTimeout;
}

std::string AutoInitString(bool factoryOk, bool q0v1Ok, bool c1Ok, bool d2Ok) {
  std::string text = "AT ";
  text += factoryOk ? "&F" : "Z";
  if (factoryOk && q0v1Ok) text += "Q0V1";
  if (factoryOk && c1Ok) text += "&C1";
  if (factoryOk && d2Ok) text += "&D2";
  return text;
}

int AutoInitModem(std::string& initString, ComPort* port) {
  initString.clear();
  common::DebugLine("\nAutoIniting modem\n");
  bool found = false;
  for (int probe = 0; probe < 3 && !found; ++probe) {
    WriteComText(port, "AT\r");
    for (int read = 0; read < 3 && !found; ++read) found = ReadModemResult(port, kCommandResultMs) == kResultOk;
  }
  if (!found) {
    common::DebugLine("\nModem not connected or not responding\n");
    return 1;
  }
  common::DebugLine("\nFound A Modem\n");
  const bool factoryOk = SendCommand(port, "AT &F\r") == kResultOk;
  if (!factoryOk && SendCommand(port, "AT Z\r") != kResultOk) return 1;
  const bool q0v1Ok = SendCommand(port, "AT Q0V1\r") == kResultOk;
  const bool c1Ok = SendCommand(port, "AT &C1\r") == kResultOk;
  const bool d2Ok = SendCommand(port, "AT &D2\r") == kResultOk;
  initString = AutoInitString(factoryOk, q0v1Ok, c1Ok, d2Ok);
  if (SendCommand(port, initString + "\r") != kResultOk) {
    common::DebugLine("\n\nError Auto Initing Modem\n\n");
    return 1;
  }
  common::DebugLine("\n\nModem Init String is: %s\n\n", initString);
  return 0;
}

std::string DialCommand(std::string_view prefix, std::string_view number) {
  if (prefix.empty()) return common::FormatText("ATDT %s\r", number);
  return common::FormatText("ATDT %s,%s\r", prefix, number);
}

std::string EffectiveInitString(const DialWork& work) {
  const directory::SystemRecord& system = work.System();
  if (!system.ModemInitString.empty()) return system.ModemInitString;
  AutoInitCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.Lock);
  const auto it = cache.Strings.find({work.Dir.get(), work.SystemIndex});
  if (it == cache.Strings.end() || it->second.first.lock() != work.Dir) return {};
  return it->second.second;
}

std::string DialWork::PortName() const { return common::FieldText(Queue.PortName); }

namespace {

// Formats a line-setting failure with every value a format may name.
void LogLineFailure(std::string_view format, const directory::SystemRecord& system) {
  common::LogLine(format, common::ProgramName(), 1, system.Baud, static_cast<int>(system.Parity),
                  static_cast<int>(system.DataBits), static_cast<int>(system.StopBits));
}

void SetSystemLine(ComPort* port, const CallSetup& call, const directory::SystemRecord& system) {
  if (call.TraceSystemLine)
    common::DebugLine("\nBaud: %ld, Parity=%c, Size=%d, bits=%d\n", system.Baud, static_cast<int>(system.Parity),
                      static_cast<int>(system.DataBits), static_cast<int>(system.StopBits));
  if (SetComParameters(port, system.Baud, system.Parity, system.DataBits, system.StopBits) != 0)
    LogLineFailure(call.SystemLineFailure, system);
}

void SendInitString(ComPort* port, const std::string& init) {
  if (init.empty()) return;
  WriteComText(port, init);
  WriteComText(port, "\r");
  if (WaitForText(port, "OK", kInitOkSec) != 0)
    common::LogLine("%t %s: Error - Unable to send init string to modem\n", common::ProgramName());
}

// The modem's set-up before dialling: its line, the automatic init string when the system
// asks for one, the init string, and the system's line.
void PrepareModem(DialWork& work, const CallSetup& call) {
  const directory::SystemRecord& system = work.System();
  ComPort* port = &work.Port;
  if (call.SetModemLine && SetComParameters(port, system.Baud, 'N', 8, 1) != 0)
    LogLineFailure(call.ModemLineFailure, system);
  std::string init = EffectiveInitString(work);
  if (call.AutoInit && init.empty() && system.ModemAutoInit) {
    // The result is not acted on: a refused string shows as the init-string failure below.
    [[maybe_unused]] const int found = AutoInitModem(init, port);
    RememberAutoInit(work, init);
  }
  if (call.SystemLineFirst) SetSystemLine(port, call, system);
  SendInitString(port, init);
  if (!call.SystemLineFirst) SetSystemLine(port, call, system);
}

// Dials the system and waits for the connection. True when the driver may talk.
bool Dial(DialWork& work, const CallSetup& call, int& result) {
  const directory::SystemRecord& system = work.System();
  ComPort* port = &work.Port;
  common::DebugLine("Calling System - Please Wait\n");
  const std::string prefix = core::DialingPrefix(work.State);
  if (call.Dial == Dialling::kWaitConnect) {
    WriteComText(port, DialCommand(prefix, system.SystemPhoneNumber));
    const bool connected = WaitForText(port, "CONNECT", kConnectSec) == 0;
    work.State.Calls.Count(work.PortName(), system.SystemName, connected ? "CONNECT" : "TIMEOUT");
    if (!connected) {
      EndCall(work, call);
      result = kDeliverFailed;
      return false;
    }
    Delay(kAfterConnectMs);
    return true;
  }
  if (system.SystemPhoneNumber.empty()) return true;  // a direct line: no modem to dial
  WriteComText(port, DialCommand(prefix, system.SystemPhoneNumber));
  const int code = ReadModemResult(port, kDialResultMs);
  work.State.Calls.Count(work.PortName(), system.SystemName, ModemResultName(code));
  if (code == kResultConnect) return true;
  common::LogLine("%t %s: Error - No CONNECT message - Modems response was(%s)\n", common::ProgramName(),
                  ModemResultName(code));
  EndCall(work, call);
  result = code;
  return false;
}

}  // namespace

bool PlaceCall(DialWork& work, const CallSetup& call, int& result) {
  common::DebugLine(call.TraceTitle);
  const std::string portName = work.PortName();
  work.Port = OpenComPort(portName, nullptr, work.Abort);
  if (!work.Port) {
    if (call.LogOpenFailure)
      common::LogLine("%t %s: Error - Unable to open up the com port(%s)\n", common::ProgramName(), portName);
    common::DebugLine("Error - Unable to open up com port\n");
    result = kDeliverFailed;
    return false;
  }
  work.Port.SetEcho(Debug(work));
  PrepareModem(work, call);
  if (call.Dial == Dialling::kByDriver) return true;
  return Dial(work, call, result);
}

void EndCall(DialWork& work, const CallSetup& call) {
  if (call.DrainAtEnd) DrainComInput(&work.Port);
  Delay(call.HangUpPauseMs);
  CloseComPort(work.Port);
  Delay(call.AfterCloseMs);
}

}  // namespace delivery
