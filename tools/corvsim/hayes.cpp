// tools/corvsim/hayes.cpp - the simulated Hayes modem.
#include "tools/corvsim/hayes.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>

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

void RunModem(SimLine& line, const SimConfig& config) {
  int calls = 0;
  std::map<std::string, long> failedCalls;
  SinceStart();
  if (config.Direct) {
    // A line straight into the paging system: the terminal is always there.
    for (;;) {
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
  const SectionConfig& modem = config.Modem;
  bool echo = modem.GetBool("echo", true);
  std::string command;
  for (;;) {
    ApplyLine(line, modem, nullptr);
    const int c = line.ReadByte(60000);
    if (c == SimLine::kTimeout) continue;
    if (c == SimLine::kHangup) {
      command.clear();
      continue;
    }
    const char ch = static_cast<char>(c);
    if (echo) line.Write(std::string(1, ch));
    if (ch == '\n') continue;
    if (ch != '\r') {
      if (command.size() < 200) command += ch;
      continue;
    }
    const AtLine at = ParseAtLine(command);
    command.clear();
    if (!at.IsAt) continue;
    line.Record("COMMAND AT" + RecordEscape(at.Body));
    if (Refused(at, modem)) {
      Result(line, "ERROR");
      continue;
    }
    if (at.Echo >= 0) echo = at.Echo == 1;
    if (!at.HasDial) {
      Result(line, "OK");
      continue;
    }

    CallInfo call{++calls, at.Dialled};
    const SectionConfig* number = config.FindNumber(at.Dialled);
    line.Record("CALL call=" + std::to_string(call.CallNumber) + " t=" + std::to_string(SinceStart()) + " dialled=" + RecordEscape(at.Dialled) +
                " number=" + (number ? number->Number : std::string("unknown")));
    if (number == nullptr) {
      if (!line.Pause(static_cast<int>(modem.GetInt("dial_ms", 300)))) continue;
      Result(line, modem.Get("unknown_result", "NO ANSWER"));
      continue;
    }
    const TerminalKind* kind = FindTerminal(number->Get("terminal", "tap"));
    if (kind != nullptr && kind->AnswersDial) {
      ApplyLine(line, modem, number);
      kind->Run(line, *number, call);
      continue;
    }
    const long commas = std::count(at.Dialled.begin(), at.Dialled.end(), ',');
    const int dialMs = static_cast<int>(number->GetInt("dial_ms", modem.GetInt("dial_ms", 300)) +
                                        commas * modem.GetInt("comma_ms", 50));
    const bool keyPressed = line.InputWithin(dialMs);
    if (line.TakeHangup()) {
      line.Record("HANGUP call=" + std::to_string(call.CallNumber) + " reason=port-closed-while-dialling");
      continue;
    }
    if (keyPressed) {
      // Any key while dialling abandons the call, as on a real modem.
      line.ClearInput();
      line.Record("ABANDONED call=" + std::to_string(call.CallNumber));
      Result(line, "NO CARRIER");
      continue;
    }
    // fail_first = N: the first N calls to the number get fail_result (BUSY) instead.
    std::string result = number->Get("result", "CONNECT 9600");
    if (failedCalls[number->Number] < number->GetInt("fail_first", 0)) {
      ++failedCalls[number->Number];
      result = number->Get("fail_result", "BUSY");
    }
    const std::string upper = Upper(result);
    if (upper == "SILENCE") {
      line.Record("RESULT call=" + std::to_string(call.CallNumber) + " silence");
      continue;
    }
    Result(line, result);
    line.Record("RESULT call=" + std::to_string(call.CallNumber) + " " + RecordEscape(result));
    if (upper.rfind("CONNECT", 0) != 0) continue;
    ApplyLine(line, modem, number);
    const bool portClosed = RunCall(line, *number, call);
    ApplyLine(line, modem, nullptr);
    if (!portClosed) Result(line, "NO CARRIER");
  }
}

}  // namespace corvsim
