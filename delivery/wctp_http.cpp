// delivery/wctp_http.cpp - WCTP documents over HTTP(S) with libcurl.
#include "delivery/wctp_http.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/net_stream.h"

namespace delivery {

namespace {

constexpr size_t kAnswerMax = 1 << 20;

struct CurlFree {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// libcurl sets itself (and OpenSSL) up once for the process, before transfers start.
bool InitCurl() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ok;
}

struct Sink {
  std::string* Body;
  bool TooLong = false;
};

size_t Collect(char* data, size_t size, size_t count, void* user) {
  Sink* sink = static_cast<Sink*>(user);
  const size_t n = size * count;
  if (sink->Body->size() + n > kAnswerMax) {
    sink->TooLong = true;
    return 0;  // ends the transfer
  }
  sink->Body->append(data, n);
  return n;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const std::stop_token* stop = static_cast<const std::stop_token*>(user);
  return stop->stop_requested() ? 1 : 0;
}

int ResultOf(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return -ETIMEDOUT;
    case CURLE_COULDNT_CONNECT:
      return -ECONNREFUSED;
    case CURLE_COULDNT_RESOLVE_HOST:
      return -EHOSTUNREACH;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      return platform::kTlsNotTrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
      return -EPROTO;
    case CURLE_ABORTED_BY_CALLBACK:
      return -ECANCELED;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return -EINVAL;
    default:
      return -EIO;
  }
}

std::string HttpText(long status) { return "HTTP status " + std::to_string(status); }

}  // namespace

int PostWctp(const WctpEndpoint& endpoint, std::string_view xml, WctpHttpResult& result) {
  result = WctpHttpResult{};
  if (!InitCurl()) {
    result.Error = "libcurl could not start";
    return -EIO;
  }
  std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
  std::unique_ptr<curl_slist, ListFree> headers(curl_slist_append(nullptr, "Content-Type: text/xml; charset=utf-8"));
  if (!curl || !headers) {
    result.Error = "libcurl could not start";
    return -EIO;
  }
  Sink sink{&result.Body};
  char error[CURL_ERROR_SIZE] = {};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, endpoint.Url.c_str());
  // Only web addresses, and no redirect: a carrier's answer goes where page.ini says.
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // the dial threads share the process
  // A proxy from the environment serves carriers on the network, never this machine.
  curl_easy_setopt(c, CURLOPT_NOPROXY, "localhost,127.0.0.1");
  curl_easy_setopt(c, CURLOPT_POST, 1L);
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, xml.data());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(xml.size()));
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(endpoint.ConnectLimitMs));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(endpoint.TotalLimitMs));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  std::string caFile = endpoint.CaFile;
  if (caFile.empty()) {
    if (const char* env = std::getenv("SSL_CERT_FILE"); env != nullptr) caFile = env;
  }
  if (!caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, caFile.c_str());
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &endpoint.Stop);

  const CURLcode code = curl_easy_perform(c);
  if (code != CURLE_OK) {
    if (sink.TooLong) {
      result.Error = "the answer is longer than 1 MiB";
      return -EMSGSIZE;
    }
    result.Error = error[0] != '\0' ? std::string(error) : std::string(curl_easy_strerror(code));
    return ResultOf(code);
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &result.HttpStatus);
  return 0;
}

WctpOutcome SubmitWctpPage(const WctpEndpoint& endpoint, const WctpSubmit& submit) {
  WctpOutcome outcome;
  std::string xml;
  if (BuildWctpSubmitRequest(submit, xml) != 0) {
    outcome.Text = "the request could not be built";
    return outcome;
  }
  WctpHttpResult http;
  if (PostWctp(endpoint, xml, http) != 0) {
    outcome.Text = http.Error;
    return outcome;
  }
  WctpReply reply;
  const bool wctp = ParseWctpReply(http.Body, reply) == 0 && (reply.Code != 0 || reply.Success);
  if (!wctp) {
    outcome.Code = static_cast<int>(http.HttpStatus);
    outcome.Text = http.HttpStatus / 100 == 2 ? "the answer is no WCTP confirmation" : HttpText(http.HttpStatus);
    return outcome;
  }
  // Some carriers answer a refusal with an HTTP error and a WCTP failure in the body: the
  // WCTP code says what it means for the page.
  outcome.Code = reply.Code != 0 ? reply.Code : 200;
  outcome.Text = reply.Text;
  outcome.Verdict = ClassifyWctpCode(outcome.Code);
  if (outcome.Verdict == WctpVerdict::kAccepted && http.HttpStatus / 100 != 2) {
    // A success document under an HTTP error status is no confirmation to rely on.
    outcome.Verdict = WctpVerdict::kFailedRound;
    outcome.Text = HttpText(http.HttpStatus);
    outcome.Code = static_cast<int>(http.HttpStatus);
  }
  if (outcome.Verdict == WctpVerdict::kAccepted)
    outcome.Reference = reply.TrackingNumber.empty() ? submit.MessageID : reply.TrackingNumber;
  return outcome;
}

int QueryWctp(const WctpEndpoint& endpoint, std::string_view xml, WctpReply& reply, std::string& failure) {
  WctpHttpResult http;
  if (const int rc = PostWctp(endpoint, xml, http); rc != 0) {
    failure = http.Error;
    return rc;
  }
  if (http.HttpStatus / 100 != 2) {
    failure = HttpText(http.HttpStatus);
    return -EIO;
  }
  if (ParseWctpReply(http.Body, reply) != 0) {
    failure = "the answer is no WCTP";
    return -EBADMSG;
  }
  return 0;
}

}  // namespace delivery
