// delivery/wctp_http.h - WCTP over HTTP(S): one document POSTed as text/xml, the carrier's
// document read from the response, with libcurl (time limits, certificate checks, no
// redirects, nothing but http and https).
#pragma once

#include <stop_token>
#include <string>
#include <string_view>

#include "delivery/wctp.h"

namespace delivery {

constexpr int kWctpConnectLimitMs = 10000;
constexpr int kWctpTotalLimitMs = 30000;

struct WctpEndpoint {
  std::string Url;  // http:// or https://
  // Trusted authorities for https: this file; when empty, the file SSL_CERT_FILE names (as
  // for the TLS sockets), else the system store.
  std::string CaFile;
  int ConnectLimitMs = kWctpConnectLimitMs;
  int TotalLimitMs = kWctpTotalLimitMs;  // the whole exchange, answer included
  std::stop_token Stop;                  // a stop ends a transfer in progress (as a failure)
};

struct WctpHttpResult {
  long HttpStatus = 0;  // 0 when no response came
  std::string Body;
  std::string Error;  // why no response came, in words
};

// POSTs one document. 0 when a response came, whatever its status; otherwise -ETIMEDOUT,
// -ECONNREFUSED, -EHOSTUNREACH (the name does not resolve), platform::kTlsNotTrusted (the
// certificate or its name did not verify), -EPROTO (TLS or HTTP broken), -EMSGSIZE (an
// answer over 1 MiB), -ECANCELED (stopped), -EINVAL (not an http or https URL), -EIO.
[[nodiscard]] int PostWctp(const WctpEndpoint& endpoint, std::string_view xml, WctpHttpResult& result);

// What one submit did to the page.
struct WctpOutcome {
  WctpVerdict Verdict = WctpVerdict::kFailedRound;
  int Code = 0;           // the WCTP code; the HTTP status when the answer was no WCTP; 0 for none
  std::string Text;       // the carrier's text, or what went wrong in words
  std::string Reference;  // the carrier's tracking number, else the page's messageID (accepted pages)
};

// Builds the wctp-SubmitRequest, posts it and judges the wctp-Confirmation: 200-299
// accepted, 400-499 refused for good, everything else (300-399, 500-599, an HTTP error,
// an answer that is no WCTP, a network or TLS failure) a failed round.
WctpOutcome SubmitWctpPage(const WctpEndpoint& endpoint, const WctpSubmit& submit);

// Posts a query (wctp-ClientQuery or wctp-PollForMessages) and reads the answer. 0 with
// reply filled; otherwise a PostWctp failure, -EBADMSG for an answer that is no WCTP or
// -EIO for an HTTP error status; failure says why.
[[nodiscard]] int QueryWctp(const WctpEndpoint& endpoint, std::string_view xml, WctpReply& reply, std::string& failure);

}  // namespace delivery
