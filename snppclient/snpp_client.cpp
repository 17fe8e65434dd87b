// snppclient/snpp_client.cpp - the SNPP client in lock step with the server's replies.
#include "snppclient/snpp_client.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "common/format_text.h"
#include "common/log.h"
#include "platform/clock.h"
#include "platform/tcp.h"

namespace snppclient {

namespace {

constexpr int kGreetingCode = 220;
constexpr int kGoAheadCode = 354;
constexpr int kSentCode = 250;
constexpr int kReportLineCode = 214;
constexpr int kStartOfListCode = 215;
constexpr int kNameLineCode = 216;
constexpr int kEndOfListCode = 217;
constexpr int kQuitWaitMs = 1000;  // the goodbye is only waited for to close cleanly

// A host that begins with a digit is taken as a dotted address and never looked up; it
// must then be four numbers of 0..255, or it is an address nothing can be reached at.
bool IsDottedAddress(std::string_view host) {
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    size_t digits = 0;
    int value = 0;
    while (i < host.size() && std::isdigit(static_cast<unsigned char>(host[i])) && digits < 4) {
      value = value * 10 + (host[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    ++parts;
    if (parts < 4) {
      if (i >= host.size() || host[i] != '.') return false;
      ++i;
    }
  }
  return i == host.size();
}

// Reports a failure the way the program in hand does: corvsend appends it to its log,
// corvweb keeps no log.
template <typename... Args>
void LogFailure(const SnppClient& client, std::string_view format, const Args&... args) {
  if (client.Response != nullptr || client.Silent) return;
  common::LogFileLine(format, common::ProgramName(), args...);
}

int Send(SnppClient& client, std::string_view text) { return client.Stream.Write(text); }

// The pager ID goes out inside one command line; a line end in it would start a command of
// its own, so the ID ends at the first one.
std::string OneLine(std::string_view text) {
  const size_t end = text.find_first_of("\r\n");
  return std::string(text.substr(0, end));
}

// Collects lines until the 217 that ends a list or report, silence, or the end of the stream.
bool CollectUntilEnd(SnppClient& client) {
  for (;;) {
    if (WaitForReply(client) != 0) return false;
    if (client.LastReplyCode == kEndOfListCode) return true;
  }
}

}  // namespace

int ConnectToServer(SnppClient& client) {
  CloseConnection(client);
  client.Lines.Clear();
  client.PendingReplies.clear();
  client.PendingLines.clear();
  client.StreamEnded = false;
  client.ConnectResult = 0;

  std::string dotted;
  const std::string& host = client.ServerHost;
  if (!host.empty() && std::isdigit(static_cast<unsigned char>(host[0]))) {
    dotted = host;
    if (!IsDottedAddress(host)) {
      client.ConnectResult = -EINVAL;
      LogFailure(client, "%t %s: Error - Can not connect to server\n");
      return -1;
    }
  } else if (platform::ResolveHost(host, dotted) != 0) {
    client.ConnectResult = -EHOSTUNREACH;
    if (client.Response != nullptr) {
      *client.Response += "Gethostbyname failed\n";
    } else if (!client.Silent) {
      common::LogLine("%t Gethostbyname failed\n");
    }
    return -1;
  }
  // The certificate must name the host as configured, not the address it resolved to.
  platform::TlsClientSettings tls = client.Tls;
  if (tls.Enabled && tls.ServerName.empty()) tls.ServerName = host;
  const int rc =
      client.Stream.Connect(dotted, client.ServerPort, tls, static_cast<int>(platform::ScaledMs(kSnppSilenceMs)));
  client.ConnectResult = rc;
  if (rc == -EMFILE || rc == -ENFILE || rc == -ENOBUFS || rc == -ENOMEM) {
    LogFailure(client, "%t %s: Error - Can not Open Socket\n");
    return -1;
  }
  if (rc != 0) {
    LogFailure(client, "%t %s: Error - Can not connect to server\n");
    return -1;
  }
  client.LastReplyCode = 0;
  return 0;
}

void CloseConnection(SnppClient& client) { client.Stream.Close(); }

void HandleReplyLine(SnppClient& client, std::string_view line) {
  const int code = ReplyCode(line);
  ++client.ReplyLineCount;
  if (code != 0) {
    client.PendingReplies.push_back(code);
    client.PendingLines.emplace_back(line.substr(0, line.find_first_of("\r\n")));
  }
  if (code == kStartOfListCode) {
    client.NameChoices.clear();
  } else if (code == kReportLineCode || code == kNameLineCode) {
    std::string_view text = ReplyText(line);
    if (code == kNameLineCode) text = text.substr(0, kNameChoiceLength);
    // The table keeps its first 2500 lines; a longer list or report is cut there.
    if (client.NameChoices.size() < kNameChoicesSize) client.NameChoices.emplace_back(text);
  }
}

int ReceiveReplies(SnppClient& client, int timeoutMs) {
  if (client.StreamEnded || !client.Stream.IsOpen()) return 0;
  std::string block(std::max<size_t>(client.ReceiveBlockSize, 1), '\0');
  const int n = client.Stream.Read(block, timeoutMs);
  if (n == -ETIMEDOUT) return -1;
  if (n <= 0) {
    client.StreamEnded = true;
    return 0;
  }
  client.Lines.Feed(std::string_view(block.data(), static_cast<size_t>(n)),
                    [&client](std::string_view line) { HandleReplyLine(client, line); });
  return n;
}

int WaitForReply(SnppClient& client, int limitMs) {
  const uint64_t start = platform::TickMs();
  while (client.PendingReplies.empty()) {
    const uint64_t waited = platform::TickMs() - start;
    if (waited >= static_cast<uint64_t>(limitMs)) return 1;
    const int left = static_cast<int>(platform::ScaledMs(limitMs - static_cast<int64_t>(waited)));
    const int n = ReceiveReplies(client, std::max(left, 1));
    if (n == 0 || n == -1) {
      if (!client.PendingReplies.empty()) break;
      return 1;
    }
  }
  client.LastReplyCode = client.PendingReplies.front();
  client.PendingReplies.pop_front();
  client.LastReplyLine = std::move(client.PendingLines.front());
  client.PendingLines.pop_front();
  return 0;
}

std::string MessageBlock(const SnppClient& client) {
  constexpr size_t kEndMarker = 5;  // CR LF . CR LF
  const size_t room = client.CommandAreaSize > kEndMarker + 1 ? client.CommandAreaSize - kEndMarker - 1 : 0;
  std::string block = client.MessageText.substr(0, room);
  // A line of the message made of a dot and a carriage return would end the server's data
  // mode early, and its remaining lines would be answered as commands, out of step. The
  // server turns every carriage return of a message into a blank, so writing the blank here
  // gives the pager the same text and keeps the exchange whole.
  for (size_t i = 0; i + 1 < block.size(); ++i) {
    if (block[i] == '.' && block[i + 1] == '\r' && (i == 0 || block[i - 1] == '\n')) block[i + 1] = ' ';
  }
  // A last line of only a dot would meet the end marker's CR; a blank after it keeps it text.
  if (!block.empty() && block.back() == '.' && (block.size() == 1 || block[block.size() - 2] == '\n')) block += ' ';
  block += "\r\n.\r\n";
  return block;
}

int SnppSendPage(SnppClient& client) {
  if (ConnectToServer(client) != 0) return -1;
  int result = 0;
  do {
    if (const int rc = Send(client, common::FormatText("PAGE \"%s\"\n", OneLine(client.PagerId))); rc < 0) {
      LogFailure(client, "%t %s: Error - Did not send PAGE command\n");
      result = rc;
      break;
    }
    // The greeting may come before or after PAGE went out; the reply to PAGE is the line
    // after it (a server that does not greet answers PAGE first).
    bool replied = WaitForReply(client) == 0;
    if (replied && client.LastReplyCode == kGreetingCode) replied = WaitForReply(client) == 0;
    if (!replied) {
      LogFailure(client, "%t %s: Error - Did not get responce from PAGE command\n");
      result = -1;
      break;
    }
    int rc = Send(client, "DATA\n");
    if (rc < 0) rc = Send(client, "DATA\n");
    if (rc < 0) LogFailure(client, "%t %s: Error - Did not send DATA command(%d)\n", -rc);
    if (rc = Send(client, MessageBlock(client)); rc < 0) {
      LogFailure(client, "%t %s: Error - Did not send Message data(%d)\n", rc);
      result = rc;
      break;
    }
    replied = WaitForReply(client) == 0;
    if (replied && client.LastReplyCode == kGoAheadCode) replied = WaitForReply(client) == 0;
    if (!replied) {
      LogFailure(client, "%t %s: Error - Did not get responce from DATA command\n");
      result = 1;
      break;
    }
    if (rc = Send(client, "SEND\n"); rc < 0) {
      LogFailure(client, "%t %s: Error - Did not send SEND command\n");
      result = rc;
      break;
    }
    if (WaitForReply(client) != 0) {
      LogFailure(client, "%t %s: Error - Did not get responce from SEND command\n");
      result = 1;
    } else if (client.LastReplyCode != kSentCode) {
      LogFailure(client, "%t %s: Error - Page not accepted by server(%d)\n", client.LastReplyCode);
      result = -1;
    }
    if (Send(client, "QUIT\n") == 0) (void)WaitForReply(client, kQuitWaitMs);
  } while (false);
  CloseConnection(client);
  return result;
}

int SnppGetReport(SnppClient& client, std::string_view word, std::string& report) {
  if (ConnectToServer(client) != 0) return -1;
  client.NameChoices.clear();
  bool whole = false;
  if (Send(client, std::string(word) + "\n") == 0) whole = CollectUntilEnd(client);
  if (Send(client, "QUIT\n") == 0) (void)WaitForReply(client, kQuitWaitMs);
  CloseConnection(client);
  report.clear();
  for (const std::string& line : client.NameChoices) {
    report += line;
    if (line.empty() || line[0] != '\r') report += '\n';
  }
  return whole ? 0 : 1;
}

int SnppListNames(SnppClient& client) {
  if (ConnectToServer(client) != 0) return -1;
  bool whole = false;
  if (Send(client, common::FormatText("LIST %s\n", OneLine(client.ListArgument))) == 0) {
    whole = CollectUntilEnd(client);
  }
  if (Send(client, "QUIT\n") == 0) (void)WaitForReply(client, kQuitWaitMs);
  CloseConnection(client);
  return whole ? 0 : -1;
}

}  // namespace snppclient
