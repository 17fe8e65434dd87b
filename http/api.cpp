// http/api.cpp - the routes.
#include "http/api.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "common/counter_lines.h"
#include "common/request_record.h"
#include "directory/directory.h"
#include "http/hooks.h"
#include "http/metrics.h"
#include "platform/ip_address.h"

namespace corvhttp {

namespace {

using nlohmann::json;

constexpr size_t kMaxPageText = 3999;  // what the SNPP and mail gateways forward at most
constexpr size_t kMaxRecipients = 300;
constexpr size_t kLargeReplyBytes = 20001;  // corvd32's reply buffer and a terminator

ApiResponse JsonResponse(int status, const json& body) {
  ApiResponse r;
  r.Status = status;
  r.Body = body.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  return r;
}

ApiResponse Error(int status, const std::string& message, json extra = json::object()) {
  extra["error"] = message;
  return JsonResponse(status, extra);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The text of a reply held in a zero-filled buffer.
std::string ReplyText(const std::vector<char>& reply) {
  return std::string(reply.data(), strnlen(reply.data(), reply.size()));
}

int Call(const PipeCall& call, const common::RequestRecord& head, std::string_view name, std::string_view message,
         std::string& replyText, size_t capacity = common::kPipeReplyCapacity + 1,
         std::vector<int32_t>* numbers = nullptr) {
  const std::vector<char> request = common::BuildRequest(head, name, message);
  std::vector<char> reply(capacity, '\0');
  const int rc = call ? call(request, reply) : 1;
  replyText = ReplyText(reply);
  if (numbers) *numbers = common::ReplyMessageNumbers(reply);
  return rc;
}

// Pages of a list request (types 6, 7) until one holds fewer than 50 names. A page of
// persons is short also when it skips hidden ones, so persons are read up to the end of the
// table, whatever each page holds.
int FetchList(const PipeCall& call, int16_t type, std::vector<std::string>& names) {
  const bool wholeTable = type == common::kListPersons;
  constexpr int16_t kPersonPages = (directory::kPersonSlots + common::kListPageSize - 1) / common::kListPageSize;
  for (int16_t page = 0; page < (wholeTable ? kPersonPages : 100); ++page) {
    common::RequestRecord head{};
    head.RequestType = type;
    head.Parameter = page;
    const std::vector<char> request = common::BuildRequest(head, "", "");
    std::vector<char> reply(common::kPipeReplyCapacity + 1, '\0');
    if (!call || call(request, reply) != 0) return 1;
    const int count = common::ListReplyCount(reply);
    if (count < 0 || count > common::kListPageSize) return 1;
    for (int i = 0; i < count; ++i) names.emplace_back(common::ListReplyName(reply, i));
    if (count < common::kListPageSize && !wholeTable) return 0;
  }
  return 0;
}

bool IsLoopback(const std::string& peer) {
  static const std::vector<platform::AddressBlock> kLoopback = platform::LoopbackBlocks();
  return platform::AddressInList(kLoopback, peer);
}

// The message numbers a reply names ("#12"), if corvd32 gives any.

struct Timing {
  int16_t TimeMode = 0;
  common::RequestRecord Head{};
};

// Sends texts[i] to names[i], one pipe request each, all of them whatever happens to one,
// so the answer says exactly which were taken; showText names each page's text.
ApiResponse SendPages(ApiContext& context, const std::vector<std::string>& names, const std::vector<std::string>& texts,
                      const common::RequestRecord& head, bool showText) {
  json pages = json::array();
  bool failed = false;
  for (size_t i = 0; i < names.size() && i < texts.size(); ++i) {
    std::string reply;
    std::vector<int32_t> numbers;
    const int rc = Call(context.Call, head, names[i], texts[i], reply, common::kPipeReplyCapacity + 1, &numbers);
    json page = {{"to", names[i]}};
    if (showText) page["text"] = texts[i];
    if (rc == 0) {
      page["status"] = head.TimeMode == 0 ? "queued" : "scheduled";
      page["message_numbers"] = numbers;
    } else {
      failed = true;
      page["status"] = "failed";
      page["reason"] = reply.empty() ? "the paging server did not answer" : reply;
    }
    pages.push_back(page);
  }
  if (failed) return Error(503, "not every page was taken", {{"pages", pages}});
  return JsonResponse(202, {{"pages", pages}});
}

ApiResponse SendPages(ApiContext& context, const std::vector<std::string>& names, const std::string& text,
                      const common::RequestRecord& head) {
  return SendPages(context, names, std::vector<std::string>(names.size(), text), head, false);
}

// Names as given, each looked up, all of them before anyone is paged; unknown ones are
// listed in the 400 answer. A name the lists lack may still be a hidden person.
bool ResolveNames(ApiContext& context, const std::vector<std::string>& given, std::vector<std::string>& resolved,
                  ApiResponse& refusal) {
  json unknown = json::array();
  for (const std::string& name : given) {
    bool down = false;
    const std::string found = context.Names.Find(context.Call, name, down);
    if (down) {
      refusal = Error(503, "the paging server did not answer");
      return false;
    }
    std::string hidden;
    if (!found.empty() || (context.HiddenPerson && context.HiddenPerson(name, hidden) == 0)) {
      resolved.push_back(name);
    } else {
      unknown.push_back(name);
    }
  }
  if (!unknown.empty()) {
    refusal = Error(400, "unknown names", {{"unknown", unknown}});
    return false;
  }
  return true;
}

std::vector<std::string> SplitNames(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = std::min(list.find(',', start), list.size());
    std::string name = list.substr(start, comma - start);
    name.erase(0, name.find_first_not_of(' '));
    name.erase(name.find_last_not_of(' ') + 1);
    if (!name.empty()) names.push_back(name);
    start = comma + 1;
  }
  return names;
}

bool ValidName(const std::string& name) {
  if (name.empty() || name.size() >= sizeof(common::RequestRecord::Name)) return false;
  return std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

ApiResponse PostPages(const ApiRequest& request, ApiContext& context) {
  const json body = json::parse(request.Body, nullptr, false);
  if (body.is_discarded()) return Error(400, "the body is no valid JSON");
  if (!body.is_object()) return Error(400, "the body must be a JSON object");
  std::vector<std::string> to;
  const auto toAt = body.find("to");
  if (toAt != body.end() && toAt->is_string()) {
    to.push_back(toAt->get<std::string>());
  } else if (toAt != body.end() && toAt->is_array()) {
    for (const json& name : *toAt) {
      if (!name.is_string()) return Error(400, "\"to\" must list names as strings");
      to.push_back(name.get<std::string>());
    }
  } else {
    return Error(400, "\"to\" must name one or more recipients");
  }
  if (to.empty()) return Error(400, "\"to\" must name one or more recipients");
  if (to.size() > kMaxRecipients) return Error(400, "\"to\" names more than 300 recipients");
  for (const std::string& name : to) {
    if (!ValidName(name)) return Error(400, "a name must have 1 to 31 characters and no control characters");
  }
  const auto textAt = body.find("text");
  if (textAt == body.end() || !textAt->is_string()) return Error(400, "\"text\" must be a string");
  const std::string text = textAt->get<std::string>();
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return Error(400, "\"text\" is empty");
  if (text.size() > kMaxPageText) return Error(400, "\"text\" is longer than 3999 characters");

  common::RequestRecord head{};
  head.RequestType = common::kPageKnownPerson;
  const auto atAt = body.find("at");
  const auto delayAt = body.find("delay_minutes");
  const bool hasAt = atAt != body.end() && !atAt->is_null();
  const bool hasDelay = delayAt != body.end() && !delayAt->is_null();
  if (hasAt && hasDelay) return Error(400, "give \"at\" or \"delay_minutes\", not both");
  if (hasAt) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (!atAt->is_string() || !ParseLocalTime(atAt->get<std::string>(), year, month, day, hour, minute)) {
      return Error(400, "\"at\" must be a local time such as 2026-12-24T08:00");
    }
    head.TimeMode = 1;
    head.Minute = minute;
    head.Hour = static_cast<uint8_t>(hour);
    head.Day = static_cast<uint8_t>(day);
    head.Month = static_cast<uint8_t>(month);
    head.Year = static_cast<uint16_t>(year);
  } else if (hasDelay) {
    if (!delayAt->is_number_integer() || delayAt->get<long long>() < 0 ||
        delayAt->get<long long>() > kMaxDelayMinutes) {
      return Error(400, "\"delay_minutes\" must be a whole number from 0 to 527040");
    }
    const int delay = static_cast<int>(delayAt->get<long long>());
    if (delay > 0) {
      head.TimeMode = 2;
      head.Minute = delay;
    }
  }
  std::vector<std::string> names;
  ApiResponse refusal;
  if (!ResolveNames(context, to, names, refusal)) return refusal;
  return SendPages(context, names, text, head);
}

ApiResponse GetPage(const std::string& number, ApiContext& context) {
  long n = 0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), n);
  if (number.empty() || ec != std::errc() || end != number.data() + number.size() || n < 1 || n > INT32_MAX) {
    return Error(404, "no such page");
  }
  common::RequestRecord head{};
  head.RequestType = common::kPageRecord;
  head.Minute = static_cast<int32_t>(n);
  std::string reply;
  const int rc = Call(context.Call, head, "", "", reply);
  if (reply.empty()) return Error(503, "the paging server did not answer");
  if (rc != 0) return Error(404, reply);
  // "OK" and one line of tab-separated key=value fields.
  std::string_view fields(reply);
  fields.remove_prefix(2);
  json record = json::object();
  while (!fields.empty()) {
    const size_t start = fields.find_first_not_of("\t\r\n ");
    if (start == std::string_view::npos) break;
    fields.remove_prefix(start);
    const size_t stop = std::min(fields.find_first_of("\t\r\n"), fields.size());
    const std::string_view field = fields.substr(0, stop);
    fields.remove_prefix(stop);
    const size_t eq = field.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    const std::string key(field.substr(0, eq));
    const std::string value(field.substr(eq + 1));
    long long number = 0;
    const auto [vend, vec] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty()) {
      record[key] = nullptr;
    } else if (vec == std::errc() && vend == value.data() + value.size() && key != "pageid" && key != "name") {
      record[key] = number;
    } else {
      record[key] = value;
    }
  }
  if (record.empty()) return Error(502, "the paging server's record could not be read");
  return JsonResponse(200, record);
}

ApiResponse GetNames(ApiContext& context) {
  NameDirectory::Lists lists;
  if (context.Names.Fetch(context.Call, lists) != 0) return Error(503, "the paging server did not answer");
  json groups = json::array();
  for (const auto& [name, members] : lists.Groups) groups.push_back({{"name", name}, {"members", members}});
  return JsonResponse(200, {{"persons", lists.Persons}, {"groups", groups}});
}

ApiResponse Metrics(ApiContext& context) {
  common::RequestRecord head{};
  head.RequestType = common::kCounters;
  std::string reply;
  Call(context.CallLarge, head, "", "", reply, kLargeReplyBytes);
  std::vector<common::CounterFigure> figures;
  int skipped = 0;
  if (common::ParseCounterReply(reply, figures, skipped) != 0) {
    ApiResponse r;
    r.Status = 503;
    r.ContentType = "text/plain; charset=utf-8";
    r.Body = "the paging server did not answer\n";
    return r;
  }
  ApiResponse r;
  r.ContentType = "text/plain; version=0.0.4; charset=utf-8";
  r.Body = PrometheusText(figures);
  return r;
}

ApiResponse Hook(const ApiRequest& request, ApiContext& context, bool grafana) {
  // Grafana may first probe the URL, and its test sends a body without alerts.
  if (request.Method == "GET" || request.Method == "HEAD") return JsonResponse(200, {{"status", "ready"}});
  const auto toAt = request.Query.find("to");
  const std::vector<std::string> to =
      toAt == request.Query.end() ? std::vector<std::string>() : SplitNames(toAt->second);
  if (to.empty()) return Error(400, "name the recipients in the URL: ?to=NAME[,NAME]");
  if (to.size() > kMaxRecipients) return Error(400, "\"to\" names more than 300 recipients");
  for (const std::string& name : to) {
    if (!ValidName(name)) return Error(400, "a name must have 1 to 31 characters and no control characters");
  }
  if (grafana && request.Body.find_first_not_of(" \t\r\n") == std::string::npos) {
    return JsonResponse(200, {{"status", "ready"}});
  }
  const json payload = json::parse(request.Body, nullptr, false);
  if (payload.is_discarded()) return Error(400, "the body is no valid JSON");
  auto textFor = [&](int limit, std::string& text, std::string& error) {
    return grafana ? GrafanaText(payload, limit, text, error) : AlertmanagerText(payload, limit, text, error);
  };
  std::string text;
  std::string error;
  if (textFor(context.HookMessageLength, text, error) != 0) return Error(400, error);
  std::vector<std::string> names;
  ApiResponse refusal;
  if (!ResolveNames(context, to, names, refusal)) return refusal;
  // One page per recipient: a text longer than its paging system takes would be split.
  std::vector<std::string> texts;
  for (const std::string& name : names) {
    const int limit = context.MessageLimit ? context.MessageLimit(name) : 0;
    std::string own = text;
    if (limit > 0 && limit < context.HookMessageLength) (void)textFor(limit, own, error);
    texts.push_back(std::move(own));
  }
  common::RequestRecord head{};
  head.RequestType = common::kPageKnownPerson;
  ApiResponse response = SendPages(context, names, texts, head, true);
  if (response.Status == 202) {
    json body = json::parse(response.Body, nullptr, false);
    body["text"] = text;
    response = JsonResponse(202, body);
  }
  return response;
}

bool Authorized(const ApiRequest& request, const ApiContext& context) {
  return context.Tokens != nullptr && context.Tokens->Accepts(request.Authorization);
}

}  // namespace

bool ParseLocalTime(const std::string& text, int& year, int& month, int& day, int& hour, int& minute) {
  // YYYY-MM-DDTHH:MM[:SS]; a blank instead of the T is taken as well.
  if (text.size() != 16 && text.size() != 19) return false;
  const auto digits = [&](size_t at, size_t n, int& out) {
    out = 0;
    for (size_t i = at; i < at + n; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      out = out * 10 + (text[i] - '0');
    }
    return true;
  };
  int second = 0;
  if (text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != ' ') || text[13] != ':') return false;
  if (!digits(0, 4, year) || !digits(5, 2, month) || !digits(8, 2, day) || !digits(11, 2, hour) ||
      !digits(14, 2, minute)) {
    return false;
  }
  if (text.size() == 19 && (text[16] != ':' || !digits(17, 2, second))) return false;
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 1997 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  if (day > kDays[month - 1] || (month == 2 && !leap && day > 28)) return false;
  return hour <= 23 && minute <= 59 && second <= 59;
}

int NameDirectory::Fetch(const PipeCall& call, Lists& lists) {
  Lists fresh;
  std::vector<std::string> groups;
  if (FetchList(call, common::kListPersons, fresh.Persons) != 0) return 1;
  if (FetchList(call, common::kListGroups, groups) != 0) return 1;
  for (const std::string& group : groups) {
    common::RequestRecord head{};
    head.RequestType = common::kListMembers;
    const std::vector<char> request = common::BuildRequest(head, group, "");
    std::vector<char> reply(common::kPipeReplyCapacity + 1, '\0');
    if (call(request, reply) != 0) return 1;
    std::vector<std::string> members;
    const int count = std::clamp(common::ListReplyCount(reply), 0, common::kListPageSize);
    for (int i = 0; i < count; ++i) members.emplace_back(common::ListReplyName(reply, i));
    fresh.Groups.emplace_back(group, std::move(members));
  }
  std::lock_guard lock(mutex_);
  lists_ = fresh;
  have_ = true;
  fetched_ = std::chrono::steady_clock::now();
  lists = std::move(fresh);
  return 0;
}

std::string NameDirectory::Find(const PipeCall& call, const std::string& name, bool& serverDown) {
  serverDown = false;
  const std::string wanted = Lower(name);
  const auto lookUp = [&](const Lists& lists) -> std::string {
    for (const std::string& person : lists.Persons) {
      if (Lower(person) == wanted) return person;
    }
    for (const auto& group : lists.Groups) {
      if (Lower(group.first) == wanted) return group.first;
    }
    return {};
  };
  std::chrono::steady_clock::duration age{};
  {
    std::lock_guard lock(mutex_);
    age = std::chrono::steady_clock::now() - fetched_;
    if (have_ && age < std::chrono::seconds(10)) {
      std::string found = lookUp(lists_);
      if (!found.empty() || age < std::chrono::seconds(1)) return found;
    }
  }
  Lists lists;
  if (Fetch(call, lists) != 0) {
    serverDown = true;
    return {};
  }
  return lookUp(lists);
}

ApiResponse HandleApi(const ApiRequest& request, ApiContext& context) {
  const std::string& path = request.Path;
  const std::string& method = request.Method;
  const bool metrics = path == "/metrics";
  // /metrics from this machine is open to a local Prometheus; everything else needs a token.
  if (!(metrics && IsLoopback(request.Peer)) && !Authorized(request, context)) {
    ApiResponse r = Error(401, "a valid bearer token is needed");
    r.Headers.emplace_back("WWW-Authenticate", "Bearer realm=\"corvel\"");
    return r;
  }
  if (request.BodyTooLarge || request.Body.size() > kMaxBodyBytes) return Error(413, "the body is larger than 64 KB");

  const auto wrongMethod = [](const char* allowed) {
    ApiResponse r = Error(405, std::string("use ") + allowed);
    r.Headers.emplace_back("Allow", allowed);
    return r;
  };
  if (path == "/api/v1/pages") return method == "POST" ? PostPages(request, context) : wrongMethod("POST");
  if (path.rfind("/api/v1/pages/", 0) == 0) {
    return method == "GET" ? GetPage(path.substr(14), context) : wrongMethod("GET");
  }
  if (path == "/api/v1/names") return method == "GET" ? GetNames(context) : wrongMethod("GET");
  if (metrics) return method == "GET" ? Metrics(context) : wrongMethod("GET");
  if (path == "/hooks/alertmanager") return method == "POST" ? Hook(request, context, false) : wrongMethod("POST");
  if (path == "/hooks/grafana") {
    return method == "POST" || method == "GET" || method == "HEAD" ? Hook(request, context, true) : wrongMethod("POST");
  }
  return Error(404, "no such route");
}

}  // namespace corvhttp
