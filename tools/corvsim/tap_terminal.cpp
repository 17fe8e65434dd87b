// tools/corvsim/tap_terminal.cpp - a TAP 1.8 paging terminal with configurable faults.
//
// Dialogue: CR -> "ID="; ESC PG1 password CR -> "110 1.8" CR ACK CR ESC [p CR; then blocks
// STX id CR message CR ETX checksum CR, each answered ACK, NAK, RS or ESC EOT (optionally
// preceded by a message sequence such as "211 Page(s) Sent Successfully" CR); EOT CR ends
// the session with ESC EOT CR. Every logon and block is recorded.
#include <map>
#include <set>

#include "tools/corvsim/terminal.h"

namespace corvsim {
namespace {

constexpr char kStx = 0x02, kEtx = 0x03, kEot = 0x04, kAck = 0x06, kNak = 0x15, kEsc = 0x1B, kRs = 0x1E;
constexpr size_t kMaxBlockBytes = 8192;  // a longer "block" is line garbage: NAK
constexpr int kByteGapMs = 5000;         // silence inside a block or logon that abandons it

// NAKs already given per number, so "nak_first" counts over all calls.
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
bool ReadUntil(SimLine& line, char end, std::string& out, bool& hangup, size_t limit) {
  for (;;) {
    const int c = line.ReadByte(kByteGapMs);
    if (c == SimLine::kHangup) hangup = true;
    if (c < 0) return false;
    if (static_cast<char>(c) == end) return true;
    out += static_cast<char>(c);
    if (out.size() > limit) return false;
  }
}

void Say(SimLine& line, const Options& options, const std::string& message, const std::string& verdict) {
  std::string out;
  if (options.Noise) out += "\r\n~~ line noise 0x7F ~~\r\n";
  if (options.VerdictText && !message.empty()) out += message + "\r";
  out += verdict;
  line.Write(out);
}

}  // namespace

bool RunTapTerminal(SimLine& line, const SectionConfig& number, const CallInfo& call) {
  Options options;
  options.Password = number.Get("password");
  options.NoId = number.GetBool("no_id", false);
  options.Noise = number.GetBool("noise", false);
  options.VerdictText = number.GetBool("verdict_text", false);
  options.NakFirst = number.GetInt("nak_first", 0);
  options.DisconnectAfter = number.GetInt("disconnect_after", -1);
  options.IdleMs = static_cast<int>(number.GetInt("idle_ms", 30000));
  for (const std::string& id : number.GetList("rs_ids")) options.RsIds.insert(id);
  const std::string callTag = "call=" + std::to_string(call.CallNumber);

  enum class State { kWaitCr, kWaitLogon, kBlocks } state = State::kWaitCr;
  long accepted = 0;
  bool hangup = false;
  for (;;) {
    const int c = line.ReadByte(options.IdleMs);
    if (c == SimLine::kHangup) {
      line.Record("HANGUP " + callTag + " reason=port-closed");
      return true;
    }
    if (c == SimLine::kTimeout) {
      line.Record("HANGUP " + callTag + " reason=idle");
      return false;
    }
    const char ch = static_cast<char>(c);
    if (state == State::kWaitCr) {
      if (ch != '\r') continue;
      if (options.NoId) {
        line.Record("NOID " + callTag);
        continue;
      }
      Say(line, options, "", "ID=");
      state = State::kWaitLogon;
      continue;
    }
    if (ch == '\r' && state == State::kWaitLogon) {
      line.Write("ID=");  // the caller's next CR: prompt again
      continue;
    }
    if (ch == kEsc) {
      std::string rest;
      if (!ReadUntil(line, '\r', rest, hangup, 80)) {
        if (hangup) return true;
        continue;
      }
      if (rest.rfind("PG1", 0) != 0) {
        line.Record("JUNK " + callTag + " esc=" + RecordEscape(rest));
        continue;
      }
      const std::string password = rest.substr(3);
      line.Record("LOGON " + callTag + " password=" + RecordEscape(password) +
                  (state == State::kBlocks ? " again" : ""));
      if (!options.Password.empty() && password != options.Password) {
        line.Write(std::string(1, kNak) + "\r");
        continue;
      }
      // A logon during the session is answered like the first: a terminal's spare ACK and
      // go-ahead, which a caller that sent its logon twice must not take for a verdict.
      line.Write(std::string(state == State::kBlocks ? "" : "110 1.8\r") + kAck + "\r" + kEsc + "[p\r");
      state = State::kBlocks;
      continue;
    }
    if (state != State::kBlocks) continue;
    if (ch == kEot) {
      // The logoff is EOT CR: take the CR too, so it does not start a session of its own.
      if (line.ReadByte(1000) == SimLine::kHangup) hangup = true;
      line.Record("LOGOFF " + callTag);
      line.Write(std::string(1, kEsc) + kEot + "\r");
      return hangup;
    }
    if (ch != kStx) continue;

    std::string body;
    std::string sum;
    bool complete = ReadUntil(line, kEtx, body, hangup, kMaxBlockBytes);
    if (complete) complete = ReadUntil(line, '\r', sum, hangup, 8);
    if (hangup) {
      line.Record("HANGUP " + callTag + " reason=port-closed-in-block");
      return true;
    }
    const size_t cr = body.find('\r');
    const std::string id = cr == std::string::npos ? body : body.substr(0, cr);
    std::string message = cr == std::string::npos ? std::string() : body.substr(cr + 1);
    if (!message.empty() && message.back() == '\r') message.pop_back();
    const bool sumOk = complete && sum == Checksum7(std::string(1, kStx) + body + kEtx);

    std::string verdict;
    long& naks = NaksGiven()[number.Number];
    if (!sumOk) {
      verdict = "NAK";
      Say(line, options, "514 Checksum Error", std::string(1, kNak) + "\r");
    } else if (naks < options.NakFirst) {
      ++naks;
      verdict = "NAK";
      Say(line, options, "514 Checksum Error", std::string(1, kNak) + "\r");
    } else if (options.RsIds.count(id)) {
      verdict = "RS";
      Say(line, options, "511 Invalid pager ID", std::string(1, kRs) + "\r");
    } else if (options.DisconnectAfter >= 0 && accepted >= options.DisconnectAfter) {
      verdict = "ESC";
    } else {
      ++accepted;
      verdict = "ACK";
      Say(line, options, "211 Page(s) Sent Successfully", std::string(1, kAck) + "\r");
    }
    line.Record("PAGE " + callTag + " id=" + RecordEscape(id) + " len=" + std::to_string(message.size()) +
                " hex=" + HexBytes(message) + " text=" + RecordEscape(message) +
                " checksum=" + (sumOk ? "ok" : "bad") + " verdict=" + verdict);
    if (verdict == "ESC") {
      Say(line, options, "112 Maximum pages entered for session", std::string(1, kEsc) + kEot + "\r");
      line.Record("HANGUP " + callTag + " reason=terminal-ended-session");
      return false;
    }
  }
}

}  // namespace corvsim
