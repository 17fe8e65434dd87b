// http/api.h - corvhttp's routes, apart from the HTTP library: a request comes in as an
// ApiRequest, goes out as an ApiResponse, and reaches corvd32 only through the pipe calls
// of its ApiContext (common::CallPagingServer in the program, a stand-in in tests).
//
// POST /api/v1/pages, GET /api/v1/pages/N, GET /api/v1/names, POST /hooks/alertmanager,
// POST and GET /hooks/grafana, GET /metrics. Every route needs a bearer token but
// /metrics asked from a loopback address.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "http/tokens.h"

namespace corvhttp {

constexpr size_t kMaxBodyBytes = 64 * 1024;
constexpr int kMaxDelayMinutes = 366 * 24 * 60;  // a year ahead at most

// One pipe request as common::CallPagingServer makes it: 0 when the reply began with "OK".
using PipeCall = std::function<int(std::span<const char> request, std::span<char> reply)>;

struct ApiRequest {
  std::string Method;  // "GET", "POST", ...
  std::string Path;    // without the query
  std::map<std::string, std::string> Query;
  std::string Peer;           // the client's address
  std::string Authorization;  // the header's value, empty without one
  std::string Body;
  bool BodyTooLarge = false;  // the body passed kMaxBodyBytes (and was not kept)
};

struct ApiResponse {
  int Status = 200;
  std::string ContentType = "application/json";
  std::string Body;
  std::vector<std::pair<std::string, std::string>> Headers;
};

// The persons and groups as corvd32 lists them, kept for a while: every page request names
// its recipients, and asking the pipe for the lists each time would double its work.
class NameDirectory {
 public:
  struct Lists {
    std::vector<std::string> Persons;
    std::vector<std::pair<std::string, std::vector<std::string>>> Groups;  // name, members
  };
  // 0 with lists filled, 1 when the paging server did not answer.
  [[nodiscard]] int Fetch(const PipeCall& call, Lists& lists);
  // The name as the directory writes it when it names a person or a group (ignoring case);
  // empty when unknown. Asks the pipe again when the lists are older than 10 s, or on a
  // miss when they are older than 1 s.
  std::string Find(const PipeCall& call, const std::string& name, bool& serverDown);

 private:
  std::mutex mutex_;
  Lists lists_;
  bool have_ = false;
  std::chrono::steady_clock::time_point fetched_{};
};

struct ApiContext {
  PipeCall Call;       // replies of up to 3100 bytes
  PipeCall CallLarge;  // the counters reply, which may be longer
  const TokenSet* Tokens = nullptr;
  int HookMessageLength = 230;
  // A recipient's MaxMessageLength (a group: its members' smallest), 0 when unknown; a
  // webhook's text is cut to it when it is below HookMessageLength. May be empty.
  std::function<int(const std::string& name)> MessageLimit;
  // A person the paging server pages but leaves out of its name lists: 0 with person set,
  // negative when there is none (or it cannot be told). Asked only for a name the lists
  // lack. May be empty.
  std::function<int(const std::string& name, std::string& person)> HiddenPerson;
  NameDirectory Names;
};

ApiResponse HandleApi(const ApiRequest& request, ApiContext& context);

// "2026-12-24T08:00" or with ":SS": fields of a local time that exists. False otherwise.
bool ParseLocalTime(const std::string& text, int& year, int& month, int& day, int& hour, int& minute);

}  // namespace corvhttp
