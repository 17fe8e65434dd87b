// tools/corvsim/tap_terminal.cpp - a TAP 1.8 paging terminal with configurable faults.
//
// Dialogue: CR -> "ID="; ESC PG1 password CR -> "110 1.8" CR ACK CR ESC [p CR; then blocks
// STX id CR message CR ETX checksum CR, each answered ACK, NAK, RS or ESC EOT (optionally
// preceded by a message sequence such as "211 Page(s) Sent Successfully" CR); EOT CR ends
// the session with ESC EOT CR. Every logon and block is recorded.
#include <map>
#include <mutex>
#include <set>

#include "tools/corvsim/terminal.h"

namespace corvsim {
namespace {

constexpr char kStx = 0x02, kEtx = 0x03, kEot = 0x04, kAck = 0x06, kNak = 0x15, kEsc = 0x1B, kRs = 0x1E;
constexpr size_t kMaxBlockBytes = 8192;  // a longer "block" is line garbage: NAK
constexpr int kByteGapMs = 5000;         // silence inside a block or logon that abandons it

// NAKs already given per number, so "nak_first" counts over all calls (and over all
// connections of a listener, which run side by side).
std::mutex& NaksMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<std::string, long>& NaksGiven() {
  static std::map<std::string, long> given;
  return given;
}

std::string Checksum7(std::string_view stxToEtx) {
  unsigned sum = 0;
  for (char c : stxToEtx) sum += static_cast<unsigned char>(c) & 0x7Fu;  // a 7-bit line
  sum &= 0xFFFu;
  return {static_cast<char>('0' + (sum >> 8)), static_cast<char>('0' + ((sum >> 4) & 15)),
          static_cast<char>('0' + (sum & 15))};
}

struct Options {
  std::string Password;
  bool NoId, Noise, VerdictText;
  long NakFirst, DisconnectAfter;
  int IdleMs;
  std::set<std::string> RsIds;
};

// Reads bytes up to (not including) the end byte; false on silence, hang-up or overflow.
// hangup is set when the computer closed the port.
bool ReadUntil(TermLine& line, char end, std::string& out, bool& hangup, size_t limit) {
  for (;;) {
    const int c = line.ReadByte(kByteGapMs);
    if (c == TermLine::kHangup) hangup = true;
    if (c < 0) return false;
    if (static_cast<char>(c) == end) return true;
    out += static_cast<char>(c);
    if (out.size() > limit) return false;
  }
}

void Say(TermLine& line, const Options& options, const std::string& message, const std::string& verdict) {
  std::string out;
  if (options.Noise) out += "\r\n~~ line noise 0x7F ~~\r\n";
  if (options.VerdictText && !message.empty()) out += message + "\r";
  out += verdict;
  line.Write(out);
}

Options ReadOptions(const SectionConfig& number) {
  Options options;
  options.Password = number.Get("password");
  options.NoId = number.GetBool("no_id", false);
  options.Noise = number.GetBool("noise", false);
  options.VerdictText = number.GetBool("verdict_text", false);
  options.NakFirst = number.GetInt("nak_first", 0);
  options.DisconnectAfter = number.GetInt("disconnect_after", -1);
  options.IdleMs = static_cast<int>(number.GetInt("idle_ms", 30000));
  for (const std::string& id : number.GetList("rs_ids")) options.RsIds.insert(id);
  return options;
}

enum class State { kWaitCr, kWaitLogon, kBlocks };

// One call's session with the terminal.
struct Session {
  TermLine& Line;
  const SectionConfig& Number;
  const Options Opts;
  const std::string CallTag;
  State At = State::kWaitCr;
  long Accepted = 0;    // blocks answered ACK in this call
  bool Hangup = false;  // the computer closed the port
};

// ESC seen: reads the rest of the logon line and answers it.
void OnEscape(Session& s) {
  std::string rest;
  if (!ReadUntil(s.Line, '\r', rest, s.Hangup, 80)) return;
  if (rest.rfind("PG1", 0) != 0) {
    s.Line.Record("JUNK " + s.CallTag + " esc=" + RecordEscape(rest));
    return;
  }
  const std::string password = rest.substr(3);
  s.Line.Record("LOGON " + s.CallTag + " password=" + RecordEscape(password) +
                (s.At == State::kBlocks ? " again" : ""));
  if (!s.Opts.Password.empty() && password != s.Opts.Password) {
    s.Line.Write(std::string(1, kNak) + "\r");
    return;
  }
  // A logon during the session is answered like the first: a terminal's spare ACK and
  // go-ahead, which a caller that sent its logon twice must not take for a verdict.
  s.Line.Write(std::string(s.At == State::kBlocks ? "" : "110 1.8\r") + kAck + "\r" + kEsc + "[p\r");
  s.At = State::kBlocks;
}

// The verdict on a block, said to the computer; "ESC" ends the session.
std::string Answer(Session& s, bool sumOk, const std::string& id) {
  bool nak = !sumOk;
  if (sumOk) {
    std::lock_guard<std::mutex> lock(NaksMutex());
    long& naks = NaksGiven()[s.Number.Number];
    if (naks < s.Opts.NakFirst) {
      ++naks;
      nak = true;
    }
  }
  if (nak) {
    Say(s.Line, s.Opts, "514 Checksum Error", std::string(1, kNak) + "\r");
    return "NAK";
  }
  if (s.Opts.RsIds.count(id)) {
    Say(s.Line, s.Opts, "511 Invalid pager ID", std::string(1, kRs) + "\r");
    return "RS";
  }
  if (s.Opts.DisconnectAfter >= 0 && s.Accepted >= s.Opts.DisconnectAfter) return "ESC";
  ++s.Accepted;
  Say(s.Line, s.Opts, "211 Page(s) Sent Successfully", std::string(1, kAck) + "\r");
  return "ACK";
}

// STX seen: reads the block, records it and answers. False when the call is over (the
// port closed or the terminal ended the session); s.Hangup tells which.
bool OnBlock(Session& s) {
  std::string body;
  std::string sum;
  bool complete = ReadUntil(s.Line, kEtx, body, s.Hangup, kMaxBlockBytes);
  if (complete) complete = ReadUntil(s.Line, '\r', sum, s.Hangup, 8);
  if (s.Hangup) {
    s.Line.Record("HANGUP " + s.CallTag + " reason=port-closed-in-block");
    return false;
  }
  const size_t cr = body.find('\r');
  const std::string id = cr == std::string::npos ? body : body.substr(0, cr);
  std::string message = cr == std::string::npos ? std::string() : body.substr(cr + 1);
  if (!message.empty() && message.back() == '\r') message.pop_back();
  const bool sumOk = complete && sum == Checksum7(std::string(1, kStx) + body + kEtx);
  const std::string verdict = Answer(s, sumOk, id);
  s.Line.Record("PAGE " + s.CallTag + " id=" + RecordEscape(id) + " len=" + std::to_string(message.size()) +
                " hex=" + HexBytes(message) + " text=" + RecordEscape(message) + " checksum=" + (sumOk ? "ok" : "bad") +
                " verdict=" + verdict);
  if (verdict != "ESC") return true;
  Say(s.Line, s.Opts, "112 Maximum pages entered for session", std::string(1, kEsc) + kEot + "\r");
  s.Line.Record("HANGUP " + s.CallTag + " reason=terminal-ended-session");
  return false;
}

}  // namespace

bool RunTapSession(TermLine& line, const SectionConfig& number, const CallInfo& call, TapEnd& end) {
  Session s{line, number, ReadOptions(number), "call=" + std::to_string(call.CallNumber)};
  for (;;) {
    const int c = line.ReadByte(s.Opts.IdleMs);
    if (c == TermLine::kHangup) {
      line.Record("HANGUP " + s.CallTag + " reason=port-closed");
      end = TapEnd::kPortClosed;
      return true;
    }
    if (c == TermLine::kTimeout) {
      line.Record("HANGUP " + s.CallTag + " reason=idle");
      end = TapEnd::kIdle;
      return false;
    }
    const char ch = static_cast<char>(c);
    if (s.At == State::kWaitCr) {
      if (ch != '\r') continue;
      if (s.Opts.NoId) {
        line.Record("NOID " + s.CallTag);
        continue;
      }
      Say(line, s.Opts, "", "ID=");
      s.At = State::kWaitLogon;
    } else if (ch == '\r' && s.At == State::kWaitLogon) {
      line.Write("ID=");  // the caller's next CR: prompt again
    } else if (ch == kEsc) {
      OnEscape(s);
      if (s.Hangup) {
        end = TapEnd::kPortClosed;
        return true;
      }
    } else if (s.At == State::kBlocks && ch == kEot) {
      // The logoff is EOT CR: take the CR too, so it does not start a session of its own.
      if (line.ReadByte(1000) == TermLine::kHangup) s.Hangup = true;
      line.Record("LOGOFF " + s.CallTag);
      line.Write(std::string(1, kEsc) + kEot + "\r");
      end = s.Hangup ? TapEnd::kPortClosed : TapEnd::kLoggedOff;
      return s.Hangup;
    } else if (s.At == State::kBlocks && ch == kStx && !OnBlock(s)) {
      end = s.Hangup ? TapEnd::kPortClosed : TapEnd::kTerminalEnded;
      return s.Hangup;
    }
  }
}

bool RunTapTerminal(SimLine& line, const SectionConfig& number, const CallInfo& call) {
  TapEnd end = TapEnd::kIdle;
  return RunTapSession(line, number, call, end);
}

}  // namespace corvsim
