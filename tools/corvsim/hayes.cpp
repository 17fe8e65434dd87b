// tools/corvsim/hayes.cpp - the simulated Hayes modem.
#include "tools/corvsim/hayes.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include "tools/corvsim/terminal.h"

namespace corvsim {
namespace {

std::string Upper(std::string_view s) {
  std::string out;
  for (char c : s) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Milliseconds since the simulator started, for the record's CALL lines (tests measure the
// dial thread's waits between calls with them).
long long SinceStart() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

void Result(SimLine& line, const std::string& text) { line.Write("\r\n" + text + "\r\n"); }

void ApplyLine(SimLine& line, const SectionConfig& modem, const SectionConfig* number) {
  long baud = modem.GetInt("baud", 0);
  bool nul = modem.GetBool("nul_bytes", false);
  if (number) {
    baud = number->GetInt("baud", baud);
    nul = number->GetBool("nul_bytes", nul);
  }
  line.SetBaud(baud);
  line.SetNulBytes(nul);
}

// Runs one call's terminal; true when the port was closed during it. The bytes that crossed
// the line during the call are recorded (the benchmark's line-rate bound uses them).
bool RunCall(SimLine& line, const SectionConfig& number, const CallInfo& call) {
  const std::string kind = number.Get("terminal", "tap");
  const TerminalKind* terminal = FindTerminal(kind);
  if (terminal == nullptr) {
    line.Record("ERROR call=" + std::to_string(call.CallNumber) + " unknown-terminal=" + kind);
    return false;
  }
  const uint64_t in = line.BytesIn(), out = line.BytesOut();
  const bool closed = terminal->Run(line, number, call);
  line.Record("WIRE call=" + std::to_string(call.CallNumber) + " t=" + std::to_string(SinceStart()) +
              " in=" + std::to_string(line.BytesIn() - in) + " out=" + std::to_string(line.BytesOut() - out));
  return closed;
}

}  // namespace

AtLine ParseAtLine(std::string_view text) {
  AtLine at;
  std::string compact;
  for (char c : text) {
    if (c != ' ' && c != '\n' && c != '\r') compact += c;
  }
  const std::string upper = Upper(compact);
  if (upper.size() < 2 || upper.compare(0, 2, "AT") != 0) return at;
  at.IsAt = true;
  at.Body = upper.substr(2);
  for (size_t i = 0; i < at.Body.size(); ++i) {
    const char c = at.Body[i];
    if (c == '&') {
      ++i;  // &F, &C1, &D2: the letter after & is not a command of its own
    } else if (c == 'D') {
      at.HasDial = true;
      // Dial modifiers are taken from the original text so the number keeps its form.
      std::string rest = compact.substr(2 + i + 1);
      if (!rest.empty() && (rest[0] == 'T' || rest[0] == 't' || rest[0] == 'P' || rest[0] == 'p')) rest.erase(0, 1);
      at.Dialled = rest;
      at.Body = at.Body.substr(0, i + 1) + Upper(rest);
      break;
    } else if (c == 'E') {
      at.Echo = (i + 1 < at.Body.size() && at.Body[i + 1] == '0') ? 0 : 1;
    }
  }
  return at;
}

bool Refused(const AtLine& at, const SectionConfig& modem) {
  const std::string body = at.HasDial ? at.Body.substr(0, at.Body.find('D')) : at.Body;
  for (const std::string& command : modem.GetList("refuse")) {
    if (body.find(Upper(command)) != std::string::npos) return true;
  }
  return false;
}

namespace {

// What the modem keeps between command lines.
struct ModemState {
  int Calls = 0;                            // calls since the start, numbering the records
  std::map<std::string, long> FailedCalls;  // fail_first calls given per number
  bool Echo = true;
};

// A line straight into the paging system: the terminal is always there.
void RunDirectLine(SimLine& line, const SimConfig& config) {
  int calls = 0;
  while (!line.Stopped()) {
    ApplyLine(line, config.Modem, &*config.Direct);
    if (!line.InputWithin(60000)) {
      line.TakeHangup();
      continue;
    }
    CallInfo call{++calls, ""};
    line.Record("CALL call=" + std::to_string(call.CallNumber) + " t=" + std::to_string(SinceStart()) + " direct");
    RunCall(line, *config.Direct, call);
  }
}

// hold_until = FILE: the dial is answered only once FILE exists (for at most a minute), so
// a test can let the call connect when the pages it needs are queued. False when the port
// was closed (or the simulator stopped) meanwhile.
bool WaitForHoldFile(SimLine& line, const std::string& file) {
  constexpr int kHoldLimitMs = 60000;
  constexpr int kHoldPollMs = 20;
  std::error_code ec;
  for (int waited = 0; !file.empty() && waited < kHoldLimitMs; waited += kHoldPollMs) {
    if (std::filesystem::exists(file, ec)) return true;
    if (!line.Pause(kHoldPollMs)) return false;
  }
  return true;
}

// The result a dialled number gives this time: fail_first = N gives the first N calls
// fail_result (BUSY) instead of result.
std::string DialResult(ModemState& modem, const SectionConfig& number) {
  std::string result = number.Get("result", "CONNECT 9600");
  if (modem.FailedCalls[number.Number] < number.GetInt("fail_first", 0)) {
    ++modem.FailedCalls[number.Number];
    result = number.Get("fail_result", "BUSY");
  }
  return result;
}

// ATD: the call to a number of the configuration, its result and, behind CONNECT, its
// terminal.
void Dial(SimLine& line, const SimConfig& config, ModemState& modem, const AtLine& at) {
  const SectionConfig& settings = config.Modem;
  CallInfo call{++modem.Calls, at.Dialled};
  const std::string callTag = "call=" + std::to_string(call.CallNumber);
  const SectionConfig* number = config.FindNumber(at.Dialled);
  line.Record("CALL " + callTag + " t=" + std::to_string(SinceStart()) + " dialled=" + RecordEscape(at.Dialled) +
              " number=" + (number ? number->Number : std::string("unknown")));
  if (number == nullptr) {
    if (line.Pause(static_cast<int>(settings.GetInt("dial_ms", 300))))
      Result(line, settings.Get("unknown_result", "NO ANSWER"));
    return;
  }
  const TerminalKind* kind = FindTerminal(number->Get("terminal", "tap"));
  const long commas = std::count(at.Dialled.begin(), at.Dialled.end(), ',');
  const int dialMs = static_cast<int>(number->GetInt("dial_ms", settings.GetInt("dial_ms", 300)) +
                                      commas * settings.GetInt("comma_ms", 50));
  if (kind != nullptr && kind->AnswersDial) {
    // A pager's own line can be busy or dead too: a result that is not CONNECT (result, or
    // fail_first's fail_result) comes after the dial time instead of the call.
    const std::string result = DialResult(modem, *number);
    const std::string upper = Upper(result);
    if (upper.rfind("CONNECT", 0) != 0 && upper != "SILENCE") {
      if (!line.Pause(static_cast<int>(number->GetInt("dial_ms", settings.GetInt("dial_ms", 300))))) return;
      Result(line, result);
      line.Record("RESULT " + callTag + " " + RecordEscape(result));
      return;
    }
    ApplyLine(line, settings, number);
    kind->Run(line, *number, call);
    return;
  }
  const bool keyPressed = line.InputWithin(dialMs);
  if (line.TakeHangup()) {
    line.Record("HANGUP " + callTag + " reason=port-closed-while-dialling");
    return;
  }
  if (keyPressed) {
    // Any key while dialling abandons the call, as on a real modem.
    line.ClearInput();
    line.Record("ABANDONED " + callTag);
    Result(line, "NO CARRIER");
    return;
  }
  if (!WaitForHoldFile(line, number->Get("hold_until"))) {
    line.TakeHangup();
    line.Record("HANGUP " + callTag + " reason=port-closed-while-dialling");
    return;
  }
  const std::string result = DialResult(modem, *number);
  const std::string upper = Upper(result);
  if (upper == "SILENCE") {
    line.Record("RESULT " + callTag + " silence");
    return;
  }
  Result(line, result);
  line.Record("RESULT " + callTag + " " + RecordEscape(result));
  if (upper.rfind("CONNECT", 0) != 0) return;
  ApplyLine(line, settings, number);
  const bool portClosed = RunCall(line, *number, call);
  ApplyLine(line, settings, nullptr);
  if (!portClosed) Result(line, "NO CARRIER");
}

// One command line ended by CR: answered OK or ERROR, or dialled.
void OnCommandLine(SimLine& line, const SimConfig& config, ModemState& modem, const std::string& command) {
  const AtLine at = ParseAtLine(command);
  if (!at.IsAt) return;
  line.Record("COMMAND AT" + RecordEscape(at.Body));
  if (Refused(at, config.Modem)) {
    Result(line, "ERROR");
    return;
  }
  if (at.Echo >= 0) modem.Echo = at.Echo == 1;
  if (!at.HasDial) {
    Result(line, "OK");
    return;
  }
  Dial(line, config, modem, at);
}

}  // namespace

void RunModem(SimLine& line, const SimConfig& config) {
  SinceStart();
  if (config.Direct) {
    RunDirectLine(line, config);
    return;
  }
  ModemState modem;
  modem.Echo = config.Modem.GetBool("echo", true);
  std::string command;
  while (!line.Stopped()) {
    ApplyLine(line, config.Modem, nullptr);
    const int c = line.ReadByte(60000);
    if (c == SimLine::kTimeout) continue;
    if (c == SimLine::kHangup) {
      command.clear();
      continue;
    }
    const char ch = static_cast<char>(c);
    if (modem.Echo) line.Write(std::string(1, ch));
    if (ch == '\n') continue;
    if (ch != '\r') {
      if (command.size() < 200) command += ch;
      continue;
    }
    OnCommandLine(line, config, modem, std::exchange(command, {}));
  }
}

}  // namespace corvsim
