// snppclient/snpp_carrier.h - pages handed to a paging carrier's SNPP server (RFC 1861):
// the conversation a delivery driver holds with it, on the lock-step core of the client
// that corvweb and corvsend use.
//
// A session connects (inside TLS when asked), takes the greeting, logs in with LOGI when a
// login is set, and then sends pages one after the other: PAGE id, the text with MESS (one
// short line) or DATA (long or several lines, dot-stuffed), SEND. Every command waits for
// its own reply and is judged by it: 2xx goes on, 5xx refuses the page for good, anything
// else (4xx, silence, a closed or failed connection, a reply out of place) fails the round
// and the page is tried again later. QUIT ends the session.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "snppclient/snpp_client.h"

namespace snppclient {

constexpr uint16_t kCarrierSnppPort = 444;
constexpr int kCarrierReplyLimitMs = 30000;  // carriers answer SEND only after queueing the page
constexpr size_t kMessLineMax = 200;         // a longer text goes with DATA

struct SnppCarrierSettings {
  std::string Host;
  uint16_t Port = kCarrierSnppPort;
  bool Tls = false;
  std::string CaFile;  // empty: the system trust store
  std::string Login;   // empty: no LOGI
  std::string Password;
  int ReplyLimitMs = kCarrierReplyLimitMs;  // silence that fails a command (program time)
};

// How a carrier's answer leaves the page.
enum SnppCarrierVerdict : int {
  kCarrierAccepted = 0,     // 2xx to SEND: the carrier has the page
  kCarrierRefused = 1,      // 5xx: this page can never go as it is; give it up
  kCarrierFailedRound = 2,  // 4xx, silence, connection or TLS failure: try again later
};

// What happened, for the log line and the page's record.
struct SnppCarrierResult {
  int Verdict = kCarrierFailedRound;
  std::string Command;    // the step that decided: "connect", "greeting", "LOGI", "PAGE", "MESS", "DATA", "SEND"
  int Code = 0;           // the carrier's reply code; 0 when no reply came
  std::string Reply;      // the reply line without its line end, or why there was none
  std::string Reference;  // SEND's reply text after the code (a carrier's message number)
};

// The verdict of one reply code: 2xx accepted, 5xx refused, any other a failed round.
int JudgeSnppReply(int code);

// The text as DATA sends it: every line ended with CR LF, a line that begins with a dot
// given a second one, and the closing line of a single dot. CR LF, LF or a lone CR end a
// line of text.
std::string SnppDataBlock(std::string_view text);

// True when the text goes with MESS: one line of at most kMessLineMax characters.
bool FitsMess(std::string_view text);

// One connection to a carrier; not copyable.
class SnppCarrierSession {
 public:
  explicit SnppCarrierSession(SnppCarrierSettings settings);
  ~SnppCarrierSession();
  SnppCarrierSession(const SnppCarrierSession&) = delete;
  SnppCarrierSession& operator=(const SnppCarrierSession&) = delete;

  // Connects, takes the greeting and logs in. kCarrierAccepted when the session is ready
  // for pages; otherwise the verdict (the connection is then closed) and result says why.
  [[nodiscard]] int Open(SnppCarrierResult& result);

  // Sends one page on the open session. The verdict, with result filled. After a failed
  // round the session is closed (its state at the carrier is unknown); after a refusal it
  // stays open for the next page (a refused PAGE or text is reset with RESE first).
  [[nodiscard]] int Send(std::string_view pagerId, std::string_view message, SnppCarrierResult& result);

  // QUIT (waiting briefly for the goodbye), then closes. Safe to call more than once.
  void Close();

  bool IsOpen() const { return open_; }

 private:
  // Sends a command line (CR LF added) and waits for its reply; fills result with the step.
  int Exchange(std::string_view command, std::string_view word, SnppCarrierResult& result);
  int Fail(int verdict, SnppCarrierResult& result);

  SnppCarrierSettings settings_;
  SnppClient client_;
  bool open_ = false;
};

// One page on a session of its own: Open, Send, Close. The verdict, with result filled.
[[nodiscard]] int SendPageToCarrier(const SnppCarrierSettings& settings, std::string_view pagerId,
                                    std::string_view message, SnppCarrierResult& result);

}  // namespace snppclient
