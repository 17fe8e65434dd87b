// http/api_test.cpp - the routes against a stand-in paging server: tokens, the page API's
// checks and pipe requests, the page record, names, webhooks and metrics.
#include "http/api.h"
#include "http/message_limits.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "common/counter_lines.h"
#include "common/log.h"
#include "http/hooks.h"
#include "http/metrics.h"
#include "tests/support/fake_paging_server.h"
#include "tests/support/process.h"

namespace corvhttp {
namespace {

using nlohmann::json;

class Api : public ::testing::Test {
 protected:
  Api() : pipe_([this](const testsupport::PipeRequest& r) { return Answer(r); }) {
    tokens_.Parse("# tokens\nsecret-one\n  secret-two  \n");
    context_.Call = [this](std::span<const char> q, std::span<char> a) { return pipe_.Call(q, a); };
    context_.CallLarge = context_.Call;
    context_.Tokens = &tokens_;
    pipe_.StandIn().SetPersons({"Ann", "Bob"});
    pipe_.StandIn().SetGroup("Ops", {"Ann", "Bob"});
  }
  testsupport::PipeReply Answer(const testsupport::PipeRequest& r) {
    if (r.Type() == common::kPageRecord) {
      if (r.Head.Minute != 12) return std::string("ERR - No page with that number");
      return std::string(
          "OK\nnumber=12\tstate=sent\tname=Ann\tpageid=0012345\tsystem=Metro\tattempts=2\t"
          "accepted=2026-01-02 03:04:05\tdue=\tfinished=2026-01-02 03:05:00\tresult=\tpieces=1");
    }
    if (r.Type() == common::kCounters) return counters_;
    return pipe_.StandIn().Answer(r);
  }
  ApiResponse Do(const std::string& method, const std::string& path, const std::string& body = "",
                 std::map<std::string, std::string> query = {}, const std::string& token = "secret-two",
                 const std::string& peer = "192.0.2.1") {
    ApiRequest r;
    r.Method = method;
    r.Path = path;
    r.Body = body;
    r.Query = std::move(query);
    r.Peer = peer;
    if (!token.empty()) r.Authorization = "Bearer " + token;
    return HandleApi(r, context_);
  }
  static json Json(const ApiResponse& r) { return json::parse(r.Body, nullptr, false); }

  TokenSet tokens_;
  testsupport::DirectPagingServer pipe_;
  ApiContext context_;
  std::string counters_ = "OK\npages_accepted\t5\nnow_queue_pages\t2\tqueue=Main\n";
};

TEST_F(Api, TokensGuardEveryRouteButLoopbackMetrics) {
  EXPECT_EQ(Do("GET", "/api/v1/names", "", {}, "").Status, 401);
  EXPECT_EQ(Do("GET", "/api/v1/names", "", {}, "secret-on").Status, 401);
  EXPECT_EQ(Do("POST", "/hooks/alertmanager", "{}", {{"to", "Ann"}}, "wrong").Status, 401);
  EXPECT_EQ(Do("GET", "/api/v1/names", "", {}, "secret-one").Status, 200);
  ApiRequest basic;  // another scheme with a good token is still no bearer token
  basic.Method = "GET";
  basic.Path = "/api/v1/names";
  basic.Authorization = "Basic secret-one";
  EXPECT_EQ(HandleApi(basic, context_).Status, 401);
  EXPECT_EQ(Do("GET", "/metrics", "", {}, "", "127.0.0.1").Status, 200);
  EXPECT_EQ(Do("GET", "/metrics", "", {}, "", "::1").Status, 200);
  EXPECT_EQ(Do("GET", "/metrics", "", {}, "", "192.0.2.1").Status, 401);
  EXPECT_EQ(Do("GET", "/metrics", "", {}, "secret-one", "192.0.2.1").Status, 200);
  EXPECT_EQ(Do("GET", "/nowhere").Status, 404);
  EXPECT_EQ(Do("DELETE", "/api/v1/pages").Status, 405);
  EXPECT_TRUE(pipe_.Pages().empty());
}

TEST_F(Api, PagesGoOnePipeRequestPerNameAndSayHow) {
  const ApiResponse r = Do("POST", "/api/v1/pages", R"({"to": ["ann", "Ops"], "text": "Disk full"})");
  ASSERT_EQ(r.Status, 202) << r.Body;
  const json body = Json(r);
  ASSERT_EQ(body["pages"].size(), 2u);
  EXPECT_EQ(body["pages"][0]["to"], "ann");
  EXPECT_EQ(body["pages"][0]["status"], "queued");
  const auto pages = pipe_.Pages();
  ASSERT_EQ(pages.size(), 0u);  // type 1: a known person (or the group's members)
  std::vector<testsupport::PipeRequest> sent;
  for (const auto& q : pipe_.Requests()) {
    if (q.Type() == common::kPageKnownPerson) sent.push_back(q);
  }
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].Name, "ann");
  EXPECT_EQ(sent[1].Name, "Ops");
  EXPECT_EQ(sent[0].Message, "Disk full");
  EXPECT_EQ(int{sent[0].Head.TimeMode}, 0);

  ASSERT_EQ(Do("POST", "/api/v1/pages", R"({"to": "Bob", "text": "later", "at": "2026-12-24T08:00"})").Status, 202);
  ASSERT_EQ(Do("POST", "/api/v1/pages", R"({"to": ["Bob"], "text": "soon", "delay_minutes": 30})").Status, 202);
  const auto all = pipe_.Requests();
  const auto& at = all[all.size() - 2].Head;
  EXPECT_EQ(int{at.TimeMode}, 1);
  EXPECT_EQ(int{at.Year}, 2026);
  EXPECT_EQ(int{at.Month}, 12);
  EXPECT_EQ(int{at.Day}, 24);
  EXPECT_EQ(int{at.Hour}, 8);
  EXPECT_EQ(int{at.Minute}, 0);
  EXPECT_EQ(int{all.back().Head.TimeMode}, 2);
  EXPECT_EQ(int{all.back().Head.Minute}, 30);
}

TEST_F(Api, BadPageRequestsAreRefusedBeforeAnythingIsSent) {
  const std::pair<std::string, std::string> cases[] = {
      {"{\"to\": [\"Ann\"], \"text\": ", "no valid JSON"},
      {"[1, 2]", "JSON object"},
      {R"({"text": "x"})", "\"to\""},
      {R"({"to": [], "text": "x"})", "\"to\""},
      {R"({"to": [7], "text": "x"})", "strings"},
      {R"({"to": ["Ann"], "text": "  \r\n"})", "empty"},
      {R"({"to": ["Ann"], "text": 5})", "string"},
      {R"({"to": ["Ann"], "text": "x", "at": "2026-12-24T08:00", "delay_minutes": 3})", "not both"},
      {R"({"to": ["Ann"], "text": "x", "at": "2026-02-30T08:00"})", "local time"},
      {R"({"to": ["Ann"], "text": "x", "delay_minutes": -1})", "whole number"},
      {R"({"to": ["Ann"], "text": "x", "delay_minutes": 1.5})", "whole number"},
      {R"({"to": ["Ann", "Nobody"], "text": "x"})", "unknown names"},
      {R"({"to": ["A\nB"], "text": "x"})", "control"},
      {R"({"to": ["Ann"], "text": ")" + std::string(4000, 'x') + "\"}", "3999"},
  };
  for (const auto& [body, words] : cases) {
    const ApiResponse r = Do("POST", "/api/v1/pages", body);
    EXPECT_EQ(r.Status, 400) << body;
    EXPECT_NE(Json(r)["error"].get<std::string>().find(words), std::string::npos) << body << " -> " << r.Body;
  }
  EXPECT_EQ(Json(Do("POST", "/api/v1/pages", R"({"to": ["Ann", "Nobody"], "text": "x"})"))["unknown"],
            json::array({"Nobody"}));
  ApiRequest big;
  big.Method = "POST";
  big.Path = "/api/v1/pages";
  big.Authorization = "Bearer secret-one";
  big.BodyTooLarge = true;
  EXPECT_EQ(HandleApi(big, context_).Status, 413);
  for (const auto& q : pipe_.Requests()) EXPECT_GE(q.Type(), common::kLogReport) << "a page went out";
}

TEST_F(Api, ARefusedPageIsReportedWithTheOthersThatWereTaken) {
  pipe_.StandIn().RefuseName("Bob");
  const ApiResponse r = Do("POST", "/api/v1/pages", R"({"to": ["Ann", "Bob"], "text": "x"})");
  EXPECT_EQ(r.Status, 503);
  const json body = Json(r);
  EXPECT_EQ(body["pages"][0]["status"], "queued");
  EXPECT_EQ(body["pages"][1]["status"], "failed");
  EXPECT_EQ(body["pages"][1]["reason"], "ERR: Invalid name or Now queue is full");
  pipe_.Stop();
  EXPECT_EQ(Do("GET", "/api/v1/names").Status, 503);
  EXPECT_EQ(Do("GET", "/metrics").Status, 503);
}

TEST_F(Api, PageRecordNamesAndMetrics) {
  const ApiResponse page = Do("GET", "/api/v1/pages/12");
  ASSERT_EQ(page.Status, 200) << page.Body;
  const json record = Json(page);
  EXPECT_EQ(record["state"], "sent");
  EXPECT_EQ(record["attempts"], 2);
  EXPECT_EQ(record["pageid"], "0012345");  // an ID keeps its leading zero
  EXPECT_EQ(record["accepted"], "2026-01-02 03:04:05");
  EXPECT_TRUE(record["due"].is_null());
  EXPECT_EQ(Do("GET", "/api/v1/pages/13").Status, 404);
  EXPECT_EQ(Do("GET", "/api/v1/pages/x1").Status, 404);
  EXPECT_EQ(Do("GET", "/api/v1/pages/99999999999").Status, 404);

  const json names = Json(Do("GET", "/api/v1/names"));
  EXPECT_EQ(names["persons"], json::array({"Ann", "Bob"}));
  EXPECT_EQ(names["groups"][0]["name"], "Ops");
  EXPECT_EQ(names["groups"][0]["members"], json::array({"Ann", "Bob"}));

  const ApiResponse metrics = Do("GET", "/metrics", "", {}, "", "127.0.0.1");
  EXPECT_EQ(metrics.ContentType, "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_NE(metrics.Body.find("# TYPE corvel_pages_accepted_total counter\ncorvel_pages_accepted_total 5\n"),
            std::string::npos)
      << metrics.Body;
  EXPECT_NE(metrics.Body.find("corvel_now_queue_pages{queue=\"Main\"} 2\n"), std::string::npos);
}

TEST_F(Api, AlertmanagerAndGrafanaPageTheirText) {
  const std::string firing = R"({"version":"4","status":"firing","truncatedAlerts":0,
    "groupLabels":{"alertname":"DiskFull"},"commonLabels":{"alertname":"DiskFull"},"commonAnnotations":{},
    "alerts":[{"status":"firing","labels":{"alertname":"DiskFull","instance":"db1"},"annotations":{"summary":"db1 at 95%"}},
              {"status":"firing","labels":{"alertname":"DiskFull","instance":"db2"},"annotations":{}}]})";
  ApiResponse r = Do("POST", "/hooks/alertmanager", firing, {{"to", "Ann, Ops"}});
  ASSERT_EQ(r.Status, 202) << r.Body;
  EXPECT_EQ(Json(r)["text"], "[FIRING:2] DiskFull: db1 at 95%; instance=db2");
  EXPECT_EQ(Do("POST", "/hooks/alertmanager", firing).Status, 400);  // no ?to=
  EXPECT_EQ(Do("POST", "/hooks/alertmanager", R"({"status":"firing"})", {{"to", "Ann"}}).Status, 400);

  EXPECT_EQ(Do("GET", "/hooks/grafana", "", {{"to", "Ann"}}).Status, 200);  // the probe
  r = Do(
      "POST", "/hooks/grafana",
      R"({"version":"1","status":"firing","state":"alerting","title":"[FIRING:1] HighCPU","message":"cpu at 99%","alerts":[]})",
      {{"to", "Bob"}});
  ASSERT_EQ(r.Status, 202) << r.Body;
  EXPECT_EQ(Json(r)["text"], "[FIRING:1] HighCPU - cpu at 99%");
}

TEST_F(Api, HookTextIsCutToEachRecipientsLimit) {
  context_.HookMessageLength = 100;
  context_.MessageLimit = [](const std::string& name) { return name == "Ann" ? 20 : name == "Ops" ? 300 : 0; };
  const std::string firing = R"({"version":"4","status":"firing","commonLabels":{"alertname":"DiskFull"},
    "commonAnnotations":{"summary":"db1 disk at 95 percent and rising fast"},"alerts":[{"status":"firing"}]})";
  const ApiResponse r = Do("POST", "/hooks/alertmanager", firing, {{"to", "Ann,Ops,Bob"}});
  ASSERT_EQ(r.Status, 202) << r.Body;
  const json body = Json(r);
  const std::string whole = "[FIRING:1] DiskFull: db1 disk at 95 percent and rising fast";
  EXPECT_EQ(body["text"], whole);
  EXPECT_EQ(body["pages"][0]["text"].get<std::string>().size(), 20u);  // Ann's system takes 20
  EXPECT_EQ(body["pages"][1]["text"], whole);                          // a limit above the hook's
  EXPECT_EQ(body["pages"][2]["text"], whole);                          // none known
  std::vector<std::string> sent;
  for (const auto& q : pipe_.Requests()) {
    if (q.Type() == common::kPageKnownPerson) sent.push_back(q.Message);
  }
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], body["pages"][0]["text"].get<std::string>());
  EXPECT_EQ(sent[1], whole);
}

TEST_F(Api, HiddenPersonsArePagedButOnlyWhenEveryNameIsKnown) {
  std::vector<std::string> asked;
  context_.HiddenPerson = [&asked](const std::string& name, std::string& person) {
    asked.push_back(name);
    if (name != "hal") return -ENOENT;
    person = "Hal";
    return 0;
  };
  ApiResponse r = Do("POST", "/api/v1/pages", R"({"to": ["hal", "Nobody"], "text": "x"})");
  EXPECT_EQ(r.Status, 400) << r.Body;
  EXPECT_EQ(Json(r)["unknown"], json::array({"Nobody"}));
  for (const auto& q : pipe_.Requests()) EXPECT_GE(q.Type(), common::kLogReport) << "a page went out";
  EXPECT_EQ(asked, (std::vector<std::string>{"hal", "Nobody"}));  // the listed Ann is never asked for

  r = Do("POST", "/api/v1/pages", R"({"to": ["Ann", "hal"], "text": "x"})");
  ASSERT_EQ(r.Status, 202) << r.Body;
  r = Do("POST", "/hooks/grafana", R"({"title":"t","message":"m"})", {{"to", "hal"}});
  ASSERT_EQ(r.Status, 202) << r.Body;
  std::vector<std::string> sent;
  for (const auto& q : pipe_.Requests()) {
    if (q.Type() == common::kPageKnownPerson) sent.push_back(q.Name + ":" + q.Message);
  }
  EXPECT_EQ(sent, (std::vector<std::string>{"Ann:x", "hal:x", "hal:t - m"}));
  // page.ini unreadable: the lists alone decide, as before.
  context_.HiddenPerson = [](const std::string&, std::string&) { return -EIO; };
  EXPECT_EQ(Json(Do("POST", "/api/v1/pages", R"({"to": ["hal"], "text": "x"})"))["unknown"], json::array({"hal"}));
}

// corvd32 leaves hidden persons out of a list page, so a page of fewer than 50 names is not
// the last one; a person listed on a later page is known all the same.
TEST(ApiNames, PersonsAfterAShortListPageAreKnown) {
  std::vector<std::string> persons;
  for (int i = 0; i < 60; ++i) persons.push_back("P" + std::to_string(i));
  std::vector<std::string> shown = persons;
  shown.erase(shown.begin() + 40);  // three hidden among the first fifty
  shown.erase(shown.begin() + 10);
  shown.erase(shown.begin() + 3);
  testsupport::DirectPagingServer pipe([&](const testsupport::PipeRequest& r) -> testsupport::PipeReply {
    if (r.Type() == common::kListPersons) {
      const int page = r.Head.Parameter;
      std::vector<std::string> names;
      for (int i = page * 50; i < page * 50 + 50 && i < 60; ++i) {
        if (i != 3 && i != 10 && i != 40) names.push_back(persons[static_cast<size_t>(i)]);
      }
      return testsupport::ListReply(names);
    }
    if (r.Type() == common::kListGroups) return testsupport::ListReply({});
    return std::string("OK");
  });
  TokenSet tokens;
  tokens.Parse("secret\n");
  ApiContext context;
  context.Call = [&pipe](std::span<const char> q, std::span<char> a) { return pipe.Call(q, a); };
  context.Tokens = &tokens;
  ApiRequest r;
  r.Method = "POST";
  r.Path = "/api/v1/pages";
  r.Authorization = "Bearer secret";
  r.Body = R"({"to": ["P55"], "text": "x"})";
  EXPECT_EQ(HandleApi(r, context).Status, 202) << HandleApi(r, context).Body;
  r.Method = "GET";
  r.Path = "/api/v1/names";
  const json names = json::parse(HandleApi(r, context).Body, nullptr, false);
  EXPECT_EQ(names["persons"], json(shown));
}

TEST(MessageLimitsFile, PersonsGroupsAndChangesOfTheFile) {
  testsupport::TempDir dir;
  dir.Write("page.ini",
            "PagerSystemsSection\n[Short]\nPort = 'COM1'\nMaxMessageLength = 80\n"
            "[Long]\nPort = 'COM2'\nMaxMessageLength = 400\n"
            "NameSection\n[Ann]\nPageID = '1'\nSystemName = 'Short'\n[Bob]\nPageID = '2'\nSystemName = 'Long'\n"
            "GroupSection\n[Ops]\nName = 'Ann'\nName = 'Bob'\n[Nobody]\nName = 'Zed'\n");
  MessageLimits limits(dir.File("page.ini"));
  EXPECT_EQ(limits.For("Ann"), 80);
  EXPECT_EQ(limits.For("bob"), 400);
  EXPECT_EQ(limits.For("Ops"), 80);  // the smallest of its members'
  EXPECT_EQ(limits.For("Nobody"), 0);
  EXPECT_EQ(limits.For("Zed"), 0);
  std::filesystem::remove(dir.File("page.ini"));
  EXPECT_EQ(limits.For("Ann"), 0);
  dir.Write("page.ini",
            "PagerSystemsSection\n[Short]\nPort = 'COM1'\nMaxMessageLength = 120\n"
            "NameSection\n[Ann]\nPageID = '1'\nSystemName = 'Short'\n");
  EXPECT_EQ(limits.For("Ann"), 120);
}

TEST(MessageLimitsFile, HiddenPersonsAndAnUnreadableFileLoggedOnce) {
  testsupport::TempDir dir;
  common::SetLogFileName(dir.File("log.txt"));
  dir.Write("page.ini",
            "PagerSystemsSection\n[Metro]\nPort = 'COM1'\n"
            "NameSection\n[Ann]\nPageID = '1'\nSystemName = 'Metro'\n"
            "[Hal]\nPageID = '2'\nSystemName = 'Metro'\nSuppressNameDisplay = Enabled\n");
  MessageLimits limits(dir.File("page.ini"));
  std::string person;
  EXPECT_EQ(limits.HiddenPerson("hal", person), 0);
  EXPECT_EQ(person, "Hal");
  EXPECT_EQ(limits.HiddenPerson("Ann", person), -ENOENT);  // listed persons are not hidden ones
  EXPECT_EQ(limits.HiddenPerson("Nobody", person), -ENOENT);
  std::filesystem::remove(dir.File("page.ini"));
  EXPECT_EQ(limits.HiddenPerson("Hal", person), -EIO);
  EXPECT_EQ(limits.HiddenPerson("Hal", person), -EIO);
  // A page.ini that is a folder exists, has a time stamp, and cannot be read either.
  std::filesystem::create_directory(dir.File("page.ini"));
  EXPECT_EQ(limits.HiddenPerson("Hal", person), -EIO);
  EXPECT_EQ(testsupport::CountInFile(dir.File("log.txt"), "persons left out of the name lists cannot be paged"), 1);
  std::filesystem::remove(dir.File("page.ini"));
  dir.Write("page.ini", "NameSection\n[Hal]\nPageID = '2'\nSuppressNameDisplay = Enabled\n");
  EXPECT_EQ(limits.HiddenPerson("Hal", person), 0);
  std::filesystem::remove(dir.File("page.ini"));
  EXPECT_EQ(limits.HiddenPerson("Hal", person), -EIO);  // lost again: said again
  EXPECT_EQ(testsupport::CountInFile(dir.File("log.txt"), "persons left out of the name lists cannot be paged"), 2);
  common::SetLogFileName("");
}

TEST(HookText, ResolvedGroupsCountTruncatedAlertsAndAreCut) {
  json payload = json::parse(R"({"status":"resolved","truncatedAlerts":190,"commonLabels":{"alertname":"Down"},
    "commonAnnotations":{"summary":"hosts back"},"alerts":[]})");
  for (int i = 0; i < 10; ++i) payload["alerts"].push_back({{"status", "resolved"}});
  std::string text, error;
  ASSERT_EQ(AlertmanagerText(payload, 230, text, error), 0);
  EXPECT_EQ(text, "[RESOLVED:200] Down: hosts back");
  payload.erase("commonAnnotations");
  for (json& a : payload["alerts"]) a["labels"] = {{"alertname", "Down"}, {"instance", "host-with-a-long-name"}};
  ASSERT_EQ(AlertmanagerText(payload, 80, text, error), 0);
  EXPECT_EQ(text.size(), 80u);
  EXPECT_EQ(text.substr(0, 31), "[RESOLVED:200] Down: instance=h");
  EXPECT_EQ(text.substr(77), "...");
  // Fields of the wrong type are skipped, not trusted.
  ASSERT_EQ(AlertmanagerText(json::parse(R"({"status":5,"alerts":[7,{"labels":[]}]})"), 80, text, error), 0);
  EXPECT_EQ(text, "[FIRING:2]");
  EXPECT_EQ(CutPageText("a\rb\x1b", 80), "a b ");
}

TEST(Metrics, LabelValuesAreEscapedAndUnknownFiguresLeftOut) {
  std::vector<common::CounterFigure> figures = {
      {"calls", 3, {{"port", "COM\"1\\"}, {"system", "Line\nTwo"}, {"result", "BUSY"}}},
      {"future_figure", 1, {}},
  };
  EXPECT_EQ(PrometheusText(figures),
            "# HELP corvel_calls_total Modem calls per port and paging system, by how the dial ended.\n"
            "# TYPE corvel_calls_total counter\n"
            "corvel_calls_total{port=\"COM\\\"1\\\\\",system=\"Line\\nTwo\",result=\"BUSY\"} 3\n");
}

}  // namespace
}  // namespace corvhttp
