// delivery/wctp.h - WCTP 1.3 (Wireless Communications Transfer Protocol), the pure half:
// the documents a gateway sends to a paging carrier and what it reads from the replies.
// Built and read with libxml2, so every text is escaped and every reply parsed by a real
// XML parser; nothing here touches the network (wctp_http.h posts the documents).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace delivery {

constexpr std::string_view kWctpVersion = "wctp-dtd-v1r3";
constexpr std::string_view kWctpDtd = "http://dtd.wctp.org/wctp-dtd-v1r3.dtd";
constexpr size_t kWctpMessageIdMax = 32;  // carriers keep messageIDs of up to 32 characters

// One page for wctp-SubmitRequest. Texts are the page's bytes in the pagers' code page
// (CodePage 0 CP437, 1 CP850); they become UTF-8 in the document.
struct WctpSubmit {
  std::string SenderID;
  std::string SecurityCode;  // empty: not sent
  std::string MiscInfo;      // empty: not sent
  std::string MessageID;     // unique per page, at most 32 characters (WctpMessageId)
  std::string RecipientID;   // the pager ID
  std::string Text;
  bool NotifyWhenDelivered = false;
  std::string SubmitTimestamp;  // "YYYY-MM-DDTHH:MM:SS"; empty: not sent
  int CodePage = 0;
};

// The messageID of a page: the gateway's id, the page's own key and the piece, joined by
// "-", at most 32 characters. Only letters, digits, "." and "_" of the gateway id are kept,
// and it is cut first, so the key and piece always survive whole. The same page gives the
// same ID on every retry (carriers drop a repeated ID as a duplicate), so the key must be
// something the page keeps for its whole life (its number in the page store).
std::string WctpMessageId(std::string_view gatewayId, uint64_t pageKey, int piece);

// A page's text as UTF-8 for the document: bytes of the code page converted (0x80-0xFF
// through CP437 or CP850), and the control characters XML 1.0 cannot carry (all below 0x20
// but tab, line feed and carriage return) as blanks.
std::string WctpText(std::string_view pageText, int codePage);

// The wctp-SubmitRequest document. 0, or -ENOMEM when libxml2 could not build it.
[[nodiscard]] int BuildWctpSubmitRequest(const WctpSubmit& submit, std::string& xml);

// The wctp-ClientQuery document asking about one page: the sender, the pager ID and the
// tracking number the carrier gave (or our messageID). 0 or -ENOMEM.
[[nodiscard]] int BuildWctpClientQuery(std::string_view senderId, std::string_view recipientId,
                                       std::string_view trackingNumber, std::string& xml);

// The wctp-PollForMessages document; the sequence numbers of messages received by the last
// poll are acknowledged in it, so the carrier does not send them again. 0 or -ENOMEM.
[[nodiscard]] int BuildWctpPollForMessages(std::string_view pollerId, std::string_view securityCode,
                                           const std::vector<int64_t>& acknowledge, std::string& xml);

// What the carrier says became of a page.
enum class WctpPageStatus : uint8_t { Unknown = 0, Queued = 1, Delivered = 2, Read = 3 };
// "QUEUED" -> Queued and so on (any case); Unknown for anything else.
WctpPageStatus WctpStatusFromText(std::string_view type);
const char* WctpStatusName(WctpPageStatus status);  // "QUEUED", ... , "UNKNOWN"

// One status report of a wctp-PollResponse.
struct WctpStatusReport {
  int64_t SequenceNo = 0;
  std::string MessageID;
  std::string TrackingNumber;
  WctpPageStatus Status = WctpPageStatus::Unknown;
};

// A carrier's reply, whatever operation it answers.
struct WctpReply {
  std::string Operation;       // the element inside wctp-Operation: "wctp-Confirmation", ...
  bool Success = false;        // a wctp-Success / wctp-ClientSuccess was found (else a failure or status)
  int Code = 0;                // successCode or errorCode; 0 when there was none
  std::string Text;            // successText or errorText (or the element's own text)
  std::string TrackingNumber;  // trackingNumber on the success element or the response header
  bool NoMessages = false;     // wctp-NoMessages
  WctpPageStatus Status = WctpPageStatus::Unknown;  // ClientQueryResponse: the furthest notification
  std::vector<WctpStatusReport> Reports;            // PollResponse: one per wctp-Message
};

// Reads a reply document (at most 1 MiB is accepted). 0; -EBADMSG when it is not XML, or
// not a wctp-Operation. No external entity or DTD is ever fetched or expanded.
[[nodiscard]] int ParseWctpReply(std::string_view xml, WctpReply& reply);

// How a WCTP code leaves a page.
enum class WctpVerdict : uint8_t {
  kAccepted,     // 200-299
  kRefused,      // 400-499: never deliverable as it is (bad recipient, sender, security code...)
  kFailedRound,  // 300-399, 500-599, anything else: try again later
};
WctpVerdict ClassifyWctpCode(int code);

}  // namespace delivery
