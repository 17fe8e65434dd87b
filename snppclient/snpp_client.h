// snppclient/snpp_client.h - the SNPP client that corvweb and corvsend share: one page,
// the status or log report, or the list of names, each on a connection of its own.
//
// The client talks in lock step: after each command it waits for that command's own reply
// line (at most 5.5 s of silence), so a page is judged by the reply to SEND and nothing else.
// The greeting (220) is taken before the first reply, and a 354 after DATA is the server's
// go-ahead, not the reply to the message. The commands go out byte for byte as the server
// side expects them: "PAGE \"id\"\n", "DATA\n", "text\r\n.\r\n", "SEND\n", "QUIT\n".
// Nothing runs behind the caller's back: no thread, and every wait has its limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net_stream.h"
#include "snppclient/reply_line.h"

namespace snppclient {

constexpr int kSnppSilenceMs = 5500;  // a wait gives up after 11 polls of 500 ms
constexpr size_t kNameChoicesSize = 2500;
constexpr size_t kNameChoiceLength = 99;  // characters kept of one listed name
constexpr size_t kDefaultBlockSize = 16000;

// One program run's client. Settings are filled by the caller; the rest is the client's.
struct SnppClient {
  std::string ServerHost;  // host name or dotted IPv4 address
  uint16_t ServerPort = 5100;
  std::string PagerId;       // the recipient for PAGE
  std::string MessageText;   // the text sent after DATA
  std::string ListArgument;  // sent after LIST (empty: every name and group)
  size_t ReceiveBlockSize = kDefaultBlockSize;
  size_t CommandAreaSize = kDefaultBlockSize;  // the message block must fit, with its end marker
  // corvweb keeps no log: the look-up failure text is appended here and nothing else is
  // said. Null (corvsend): the failures go to the log with the program's name.
  std::string* Response = nullptr;
  // Set by a caller that reports failures itself (the carrier conversation): the client
  // logs nothing.
  bool Silent = false;
  platform::TlsClientSettings Tls;  // TLS towards the server; off for corvnet32

  std::vector<std::string> NameChoices;  // 214 and 216 reply texts, at most 2500
  int ReplyLineCount = 0;                // complete lines received in this run
  int LastReplyCode = 0;                 // code of the reply the last wait returned
  std::string LastReplyLine;             // that reply's line, without its line end

  platform::NetStream Stream;
  ReplyLineReader Lines;                 // the line in hand whose line feed has not come
  std::deque<int> PendingReplies;        // codes of complete lines not yet waited for
  std::deque<std::string> PendingLines;  // their lines, without line ends
  bool StreamEnded = false;              // the server closed, or the connection failed
  int ConnectResult = 0;                 // why the last ConnectToServer failed (-errno, TLS results)
};

// Resolves the server, connects (with TLS when Tls.Enabled) and clears LastReplyCode. 0,
// or -1 after the failure text ("Gethostbyname failed", "Can not Open Socket", "Can not
// connect to server"); ConnectResult and Stream.FailureText() say why.
[[nodiscard]] int ConnectToServer(SnppClient& client);

// Receives one block (waiting at most timeoutMs) and hands each complete line to
// HandleReplyLine. Returns the bytes received, 0 when the stream ended, -1 on silence.
int ReceiveReplies(SnppClient& client, int timeoutMs);

// Acts on one complete reply line (with its line end): 215 empties NameChoices, 214 and
// 216 add their text. Also counts the line and queues its code for WaitForReply.
void HandleReplyLine(SnppClient& client, std::string_view line);

// Waits for the next reply line. 0 with LastReplyCode and LastReplyLine set, or 1 when the
// server stayed silent for limitMs (5.5 s) or closed the connection.
[[nodiscard]] int WaitForReply(SnppClient& client, int limitMs = kSnppSilenceMs);

// Sends one page (PAGE, DATA, the message, SEND, QUIT) on a connection of its own.
// 0 when the server answered SEND with 250; otherwise non-zero: -1 (no connection, no reply
// to PAGE, SEND refused), 1 (no reply to the message or to SEND) or a negative send error.
[[nodiscard]] int SnppSendPage(SnppClient& client);

// Fetches the status ("MSTA") or the log ("MLOG") into NameChoices and report: each line,
// followed by a line feed unless it begins with a carriage return (an empty report line).
// 0 when the report arrived whole (its 217 line); 1 when it did not (report holds what
// came); -1 when there was no connection (report untouched).
[[nodiscard]] int SnppGetReport(SnppClient& client, std::string_view word, std::string& report);

// Fetches the names (LIST with ListArgument) into NameChoices. 0 when the list ended with
// its 217 line, -1 when there was no connection or it did not end (the names that came stay).
[[nodiscard]] int SnppListNames(SnppClient& client);

// The message block of the page exchange, cut so that it fits the command area.
std::string MessageBlock(const SnppClient& client);

// Closes the connection (after the exchange).
void CloseConnection(SnppClient& client);

}  // namespace snppclient
