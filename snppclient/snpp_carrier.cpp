// snppclient/snpp_carrier.cpp - the SNPP conversation with a paging carrier.
#include "snppclient/snpp_carrier.h"

#include <cerrno>

#include "platform/net_stream.h"

namespace snppclient {

namespace {

constexpr int kGoAheadCode = 354;
constexpr int kNotImplementedCode = 500;
constexpr int kUnknownCommandCode = 502;
constexpr int kQuitWaitMs = 2000;

// A command argument stays on its line: a CR or LF in it would start a command of its own.
std::string OneLine(std::string_view text) { return std::string(text.substr(0, text.find_first_of("\r\n"))); }

// The text of a reply line after its code and the blank.
std::string ReplyTextOf(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
  while (i < line.size() && (line[i] == ' ' || line[i] == '-')) ++i;
  return std::string(line.substr(i));
}

// A level 1 carrier that knows no DATA still takes the text as one MESS line.
std::string JoinLines(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

int JudgeSnppReply(int code) {
  if (code >= 200 && code <= 299) return kCarrierAccepted;
  if (code >= 500 && code <= 599) return kCarrierRefused;
  return kCarrierFailedRound;
}

std::string SnppDataBlock(std::string_view text) {
  std::string out;
  size_t start = 0;
  for (;;) {
    size_t end = text.find_first_of("\r\n", start);
    const std::string_view line =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!line.empty() && line[0] == '.') out += '.';
    out += line;
    out += "\r\n";
    if (end == std::string_view::npos) break;
    if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
    if (start == text.size()) break;  // a final line end adds no empty line
  }
  out += ".\r\n";
  return out;
}

bool FitsMess(std::string_view text) {
  return text.size() <= kMessLineMax && text.find_first_of("\r\n") == std::string_view::npos;
}

SnppCarrierSession::SnppCarrierSession(SnppCarrierSettings settings) : settings_(std::move(settings)) {
  client_.Silent = true;  // the driver logs what happened, with the page's number
  client_.ServerHost = settings_.Host;
  client_.ServerPort = settings_.Port;
  client_.Tls.Enabled = settings_.Tls;
  client_.Tls.CaFile = settings_.CaFile;
}

SnppCarrierSession::~SnppCarrierSession() { Close(); }

int SnppCarrierSession::Fail(int verdict, SnppCarrierResult& result) {
  result.Verdict = verdict;
  if (verdict == kCarrierFailedRound) {
    CloseConnection(client_);
    open_ = false;
  }
  return verdict;
}

int SnppCarrierSession::Exchange(std::string_view command, std::string_view word, SnppCarrierResult& result) {
  result.Command = std::string(word);
  result.Code = 0;
  std::string line(command);
  line += "\r\n";
  if (const int rc = client_.Stream.Write(line); rc != 0) {
    result.Reply = "connection lost: " + platform::NetStreamErrorText(rc);
    return Fail(kCarrierFailedRound, result);
  }
  if (WaitForReply(client_, settings_.ReplyLimitMs) != 0) {
    result.Reply = client_.StreamEnded ? "the carrier closed the connection" : "no reply in time";
    return Fail(kCarrierFailedRound, result);
  }
  result.Code = client_.LastReplyCode;
  result.Reply = client_.LastReplyLine;
  return JudgeSnppReply(result.Code);
}

int SnppCarrierSession::Open(SnppCarrierResult& result) {
  Close();
  result = SnppCarrierResult{};
  result.Command = "connect";
  if (ConnectToServer(client_) != 0) {
    result.Reply = client_.ConnectResult == -EINVAL       ? "not an address: " + settings_.Host
                   : client_.Stream.FailureText().empty() ? platform::NetStreamErrorText(client_.ConnectResult)
                                                          : client_.Stream.FailureText();
    return Fail(kCarrierFailedRound, result);
  }
  open_ = true;
  // The greeting: any 2xx lets us in. A carrier that is closing or busy (421) or refuses
  // service says so here; that is the carrier's state, not the page's, so the round fails.
  result.Command = "greeting";
  if (WaitForReply(client_, settings_.ReplyLimitMs) != 0) {
    result.Reply = client_.StreamEnded ? "the carrier closed the connection" : "no greeting in time";
    return Fail(kCarrierFailedRound, result);
  }
  result.Code = client_.LastReplyCode;
  result.Reply = client_.LastReplyLine;
  if (JudgeSnppReply(result.Code) != kCarrierAccepted) return Fail(kCarrierFailedRound, result);
  if (!settings_.Login.empty()) {
    std::string logi = "LOGI " + OneLine(settings_.Login);
    if (!settings_.Password.empty()) logi += " " + OneLine(settings_.Password);
    const int verdict = Exchange(logi, "LOGI", result);
    // Without a login no page of this session can go; a refused login (5xx) refuses them.
    if (verdict != kCarrierAccepted) {
      const int v = Fail(verdict, result);
      Close();
      return v;
    }
  }
  result.Verdict = kCarrierAccepted;
  return kCarrierAccepted;
}

int SnppCarrierSession::Send(std::string_view pagerId, std::string_view message, SnppCarrierResult& result) {
  result = SnppCarrierResult{};
  if (!open_) {
    result.Command = "connect";
    result.Reply = "no session";
    return Fail(kCarrierFailedRound, result);
  }
  // After a refusal the carrier may still hold part of this page: RESE clears it so the next
  // page starts clean.
  auto refused = [this, &result](int verdict) {
    if (verdict == kCarrierRefused) {
      SnppCarrierResult reset;
      (void)Exchange("RESE", "RESE", reset);  // a failure here closes the session itself
    }
    return Fail(verdict, result);
  };

  int verdict = Exchange("PAGE " + OneLine(pagerId), "PAGE", result);
  if (verdict != kCarrierAccepted) return refused(verdict);

  if (FitsMess(message)) {
    verdict = Exchange("MESS " + std::string(message), "MESS", result);
  } else {
    verdict = Exchange("DATA", "DATA", result);
    if (result.Code == kNotImplementedCode || result.Code == kUnknownCommandCode) {
      verdict = Exchange("MESS " + JoinLines(message), "MESS", result);
    } else if (result.Code == kGoAheadCode) {
      result.Command = "DATA";
      if (const int rc = client_.Stream.Write(SnppDataBlock(message)); rc != 0) {
        result.Reply = "connection lost: " + platform::NetStreamErrorText(rc);
        return Fail(kCarrierFailedRound, result);
      }
      if (WaitForReply(client_, settings_.ReplyLimitMs) != 0) {
        result.Code = 0;
        result.Reply = client_.StreamEnded ? "the carrier closed the connection" : "no reply in time";
        return Fail(kCarrierFailedRound, result);
      }
      result.Code = client_.LastReplyCode;
      result.Reply = client_.LastReplyLine;
      verdict = JudgeSnppReply(result.Code);
    } else if (verdict == kCarrierAccepted) {
      // A 2xx where the go-ahead belongs: the text would be read as commands.
      return Fail(kCarrierFailedRound, result);
    }
  }
  if (verdict != kCarrierAccepted) return refused(verdict);

  verdict = Exchange("SEND", "SEND", result);
  if (verdict == kCarrierAccepted) result.Reference = ReplyTextOf(result.Reply);
  if (verdict != kCarrierAccepted) return refused(verdict);
  result.Verdict = kCarrierAccepted;
  return kCarrierAccepted;
}

void SnppCarrierSession::Close() {
  if (open_ && client_.Stream.IsOpen() && !client_.StreamEnded) {
    if (client_.Stream.Write("QUIT\r\n") == 0) (void)WaitForReply(client_, kQuitWaitMs);
  }
  CloseConnection(client_);
  open_ = false;
}

int SendPageToCarrier(const SnppCarrierSettings& settings, std::string_view pagerId, std::string_view message,
                      SnppCarrierResult& result) {
  SnppCarrierSession session(settings);
  if (const int verdict = session.Open(result); verdict != kCarrierAccepted) return verdict;
  const int verdict = session.Send(pagerId, message, result);
  session.Close();
  return verdict;
}

}  // namespace snppclient
