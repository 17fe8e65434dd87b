// http/payload_fuzz.cpp - libFuzzer target: what corvhttp builds from JSON bodies. The JSON
// library parses; the page API's checks, the Alertmanager and Grafana texts, the page
// record and the counters reply are run on whatever it accepts, against a stand-in pipe.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/counter_lines.h"
#include "common/request_record.h"
#include "http/api.h"
#include "http/metrics.h"

namespace {

std::string g_reply;  // what the stand-in pipe answers to anything but a list

int Pipe(std::span<const char> request, std::span<char> reply) {
  std::memset(reply.data(), 0, reply.size());
  common::RequestRecord head{};
  std::memcpy(&head, request.data(), sizeof head);
  if (head.RequestType == common::kListPersons || head.RequestType == common::kListGroups) {
    std::memcpy(reply.data(), "OK", 3);  // an empty list: Ann only on page 0 of persons
    if (head.RequestType == common::kListPersons && head.Parameter == 0) {
      const int16_t count = 1;
      std::memcpy(reply.data() + common::kListCountOffset, &count, sizeof count);
      std::memcpy(reply.data() + common::kListNamesOffset, "Ann", 4);
    }
    return 0;
  }
  const size_t n = std::min(g_reply.size(), reply.size() - 1);
  std::memcpy(reply.data(), g_reply.data(), n);
  return n >= 2 && g_reply.compare(0, 2, "OK") == 0 ? 0 : 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  static corvhttp::TokenSet tokens = [] {
    corvhttp::TokenSet t;
    t.Parse("tok\n");
    return t;
  }();
  corvhttp::ApiContext context;
  context.Call = Pipe;
  context.CallLarge = Pipe;
  context.Tokens = &tokens;
  context.HookMessageLength = 20 + static_cast<int>(size % 200);
  g_reply = input;  // also the pipe's answer: the page record and counters parsers read it

  corvhttp::ApiRequest request;
  request.Method = "POST";
  request.Peer = "127.0.0.1";
  request.Authorization = "Bearer tok";
  request.Body = input;
  request.Query["to"] = "Ann";
  for (const char* path : {"/api/v1/pages", "/hooks/alertmanager", "/hooks/grafana"}) {
    request.Path = path;
    const corvhttp::ApiResponse r = corvhttp::HandleApi(request, context);
    if (r.Status < 200 || r.Status > 599) __builtin_trap();
  }
  request.Method = "GET";
  request.Path = "/api/v1/pages/1";
  (void)corvhttp::HandleApi(request, context);
  request.Path = "/metrics";
  (void)corvhttp::HandleApi(request, context);
  std::vector<common::CounterFigure> figures;
  int skipped = 0;
  if (common::ParseCounterReply(input, figures, skipped) == 0) (void)corvhttp::PrometheusText(figures);
  return 0;
}
