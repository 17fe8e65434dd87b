// delivery/ip_delivery.cpp - delivery to paging systems on the network.
#include "delivery/ip_delivery.h"

#include <unistd.h>

#include <cstring>
#include <ctime>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "core/page_book.h"
#include "delivery/byte_stream.h"
#include "delivery/tap.h"
#include "delivery/tap_manual.h"
#include "delivery/wctp_http.h"
#include "platform/clock.h"
#include "snppclient/snpp_carrier.h"

namespace delivery {
namespace {

// The conversation's stream to the system's TapHost. 0 with stream open, or 1 (logged).
int ConnectTerminal(DialWork& work, SocketStream& stream) {
  const directory::SystemRecord& system = work.System();
  std::string host;
  uint16_t port = 0;
  if (!directory::SplitHostPort(system.TapHost, host, port)) {
    common::LogLine("%t %s: Error - System %s has no usable TapHost '%s'\n", common::ProgramName(), system.SystemName,
                    common::Outside(system.TapHost));
    return kDeliverFailed;
  }
  platform::TlsClientSettings tls;
  tls.Enabled = system.TapTls;
  tls.CaFile = system.TapCaFile;
  const int rc = stream.Open(host, port, tls, kIpConnectLimitMs, work.Abort);
  if (rc != 0) {
    const std::string why =
        stream.FailureText().empty() ? std::string(std::strerror(rc < 0 ? -rc : rc)) : stream.FailureText();
    common::LogLine("%t %s: Error - Can not connect to paging system %s at %s (%s)\n", common::ProgramName(),
                    system.SystemName, common::Outside(system.TapHost), common::Outside(why));
    return kDeliverFailed;
  }
  common::DebugLine("Connected to %s%s\n", system.TapHost, stream.IsTls() ? " (TLS)" : "");
  return 0;
}

// The words of an accepted page's log line: as the modem drivers write them.
std::string SentWords(const DialWork& work) {
  const int32_t number = work.Current.MessageNumber;
  const std::string name = common::FieldText(work.Current.Name);
  return work.State.LogMessages.load()
             ? core::LogResult("Message(#%ld) sent to %s with Message \"%s\"", number, common::Outside(name),
                               common::Outside(common::FieldText(work.Current.Message)))
             : core::LogResult("Message(#%ld) sent to %s", number, common::Outside(name));
}

// Records the current page sent (with the carrier's reference after the log line's words)
// and takes it off the queue. The words recorded.
std::string PageSent(DialWork& work, const std::string& reference) {
  std::string words = SentWords(work);
  if (!reference.empty()) words += "; carrier reference " + reference;
  core::RecordOutcome(work.State, work.Current, core::PageState::kSent, words);
  static_cast<void>(core::DropHead(work.Queue));
  ++work.State.PagesSent;
  return words;
}

// Gives the current page up at once: the carrier said it can never go as it is.
void PageRefused(DialWork& work, int code, const std::string& text) {
  const std::string words =
      core::LogResult("Error - Paging carrier refused message(#%ld) for %s: %d %s", work.Current.MessageNumber,
                      common::Outside(common::FieldText(work.Current.Name)), code, common::Outside(text));
  core::RecordOutcome(work.State, work.Current, core::PageState::kGivenUp, words);
  static_cast<void>(core::DropHead(work.Queue));
  ++work.State.FailedPages;
}

// The current page stays for the next round.
void PageFailedRound(DialWork& work, int code, const std::string& text) {
  core::RecordRetry(
      work.State, work.Current,
      core::LogResult("Error - Paging carrier did not take message(#%ld) for %s: %d %s", work.Current.MessageNumber,
                      common::Outside(common::FieldText(work.Current.Name)), code, common::Outside(text)));
}

// The head page, recorded `sending` and copied to work.Current; null when none.
core::QueueEntry* StartPage(DialWork& work) {
  core::QueueEntry* head = core::PeekHead(work.State, work.Queue);
  if (head == nullptr) return nullptr;
  core::RecordSending(work.State, *head, work.SystemName());
  work.Current = *head;
  return head;
}

std::string Timestamp() {
  const std::tm t = platform::LocalTime(static_cast<std::time_t>(platform::Now()));
  char text[32];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &t);
  return std::string(text, n);
}

}  // namespace

const std::string& WctpGatewayId() {
  static const std::string id = [] {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return std::string("corvel");
    return std::string(host);
  }();
  return id;
}

int DeliverTapOverIp(DialWork& work) {
  common::DebugLine("\nTAP Page - over IP\n");
  SocketStream stream;
  if (ConnectTerminal(work, stream) != 0) return kDeliverFailed;
  const int result = TapConversation(work, stream);
  stream.Close();
  if (result == kTapLogonFailed)
    common::LogLine("%t %s: Error - Can not login to paging system\n", common::ProgramName());
  return result;
}

int DeliverTapManualOverIp(DialWork& work) {
  common::DebugLine("TAP Page - Manual mode over IP\n");
  SocketStream stream;
  if (ConnectTerminal(work, stream) != 0) return kDeliverFailed;
  const int result = TapManualConversation(work, stream);
  stream.Close();
  return result;
}

int DeliverWctp(DialWork& work) {
  const directory::SystemRecord& system = work.System();
  if (StartPage(work) == nullptr) return kDeliverOk;
  WctpEndpoint endpoint;
  endpoint.Url = system.WctpUrl;
  endpoint.CaFile = system.WctpCaFile;
  endpoint.Stop = work.Abort;
  WctpSubmit submit;
  submit.SenderID = system.WctpSenderID;
  submit.SecurityCode = system.WctpSecurityCode;
  submit.MiscInfo = system.WctpMiscInfo;
  // The same page keeps its ID on every try, so a carrier that took it once drops a repeat.
  submit.MessageID =
      WctpMessageId(WctpGatewayId(), static_cast<uint64_t>(work.Current.MessageNumber), work.Current.Piece);
  submit.RecipientID = common::FieldText(work.Current.PageID);
  submit.Text = common::FieldText(work.Current.Message);
  submit.NotifyWhenDelivered = system.WctpStatus != directory::WctpStatus::None;
  submit.SubmitTimestamp = Timestamp();
  submit.CodePage = work.State.MapCodePage.load();
  const WctpOutcome outcome = SubmitWctpPage(endpoint, submit);
  switch (outcome.Verdict) {
    case WctpVerdict::kAccepted: {
      const core::QueueEntry page = work.Current;
      const std::string words = PageSent(work, outcome.Reference);
      if (work.Watch != nullptr && system.WctpStatus != directory::WctpStatus::None) {
        WctpWatchedPage watched;
        watched.Number = page.MessageNumber;
        watched.Piece = page.Piece;
        watched.Name = page.Name;
        watched.PageId = page.PageID;
        watched.MessageId = submit.MessageID;
        watched.Tracking = outcome.Reference.empty() ? submit.MessageID : outcome.Reference;
        watched.Words = words;
        watched.SentAt = static_cast<int64_t>(platform::Now());
        work.Watch->Add(std::move(watched));
      }
      return kDeliverOk;
    }
    case WctpVerdict::kRefused:
      PageRefused(work, outcome.Code, outcome.Text);
      return kDeliverOk;
    case WctpVerdict::kFailedRound:
    default:
      PageFailedRound(work, outcome.Code, outcome.Text);
      return kDeliverFailed;
  }
}

int DeliverSnpp(DialWork& work) {
  const directory::SystemRecord& system = work.System();
  snppclient::SnppCarrierSettings settings;
  settings.Host = system.SnppHost;
  settings.Port = system.SnppPort;
  settings.Tls = system.SnppTls;
  settings.CaFile = system.SnppCaFile;
  settings.Login = system.SnppLogin;
  settings.Password = system.SnppPassword;
  snppclient::SnppCarrierSession session(settings);
  snppclient::SnppCarrierResult result;
  if (session.Open(result) != snppclient::kCarrierAccepted) {
    // Not about any page: a refused log-in or greeting fails the round like silence does.
    common::LogLine("%t %s: Error - Can not open a session with paging carrier %s:%d (%s %d %s)\n",
                    common::ProgramName(), common::Outside(system.SnppHost), static_cast<int>(system.SnppPort),
                    result.Command, result.Code, common::Outside(result.Reply));
    return kDeliverFailed;
  }
  int outcome = kDeliverOk;
  for (int pages = 0; !work.Stop.stop_requested(); ++pages) {
    if (StartPage(work) == nullptr) break;
    const int verdict =
        session.Send(common::FieldText(work.Current.PageID), common::FieldText(work.Current.Message), result);
    if (verdict == snppclient::kCarrierAccepted) {
      (void)PageSent(work, result.Reference);
    } else if (verdict == snppclient::kCarrierRefused) {
      PageRefused(work, result.Code, result.Command + ": " + result.Reply);
    } else {
      PageFailedRound(work, result.Code, result.Command + ": " + result.Reply);
      outcome = kDeliverFailed;
      break;
    }
    // One session carries the pages that follow for the same carrier, as a modem call does.
    if (!(HeadSystem(work) == work.SystemIndex && system.MaxPagesPerConnection > pages + 1 && session.IsOpen())) break;
  }
  session.Close();
  return outcome;
}

}  // namespace delivery
