// tests/http_corvd_test.cpp - corvhttp in front of the real corvd32, driven by curl: tokens,
// the page API, the webhooks' sample payloads delivered to corvsim's TAP terminal on the
// network, persons hidden from the name lists, /metrics read by Prometheus's own parser
// (python3-prometheus-client), and HTTPS on a test CA made with openssl at test time.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/ip_support.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"

namespace {

constexpr int kWaitMs = 15000;

const char* kPageIni =
    "PagerSystemsSection\n"
    "[Metro]\n"
    "SystemType = Tap\n"
    "Port = 'no-such-port/x'\n"
    "Baud = 2400\n"
    "SystemPhoneNumber = '5550100'\n"
    "MaxMessageLength = 80\n"
    "NameSection\n"
    "[Ann]\n"
    "PageID = '12345'\n"
    "SystemName = 'Metro'\n"
    "[Bob]\n"
    "PageID = '23456'\n"
    "SystemName = 'Metro'\n"
    "GroupSection\n"
    "[Ops]\n"
    "Name = 'Ann'\n"
    "Name = 'Bob'\n";

// Two paging systems on corvsim's TAP terminal at port: Short takes 80 characters a page,
// below HTTP.INI's HookMessageLength (230), Long 400. Hal pages like anyone but is left out
// of the name lists; after him come fifty persons, so the first list page is one short.
std::string TerminalPageIni(uint16_t port) {
  const std::string tap = "SystemType = Tap\nTapPassWord = 'PW1'\nTapHost = '127.0.0.1:" + std::to_string(port) + "'\n";
  const auto person = [](const std::string& name, const std::string& id, const std::string& system) {
    return "[" + name + "]\nPageID = '" + id + "'\nPagerType = Alphanumeric\nSystemName = '" + system + "'\n";
  };
  std::string ini = "PagerSystemsSection\n[Short]\n" + tap + "MaxMessageLength = 80\n[Long]\n" + tap +
                    "MaxMessageLength = 400\nNameSection\n" + person("Ann", "1001", "Short") +
                    person("Hal", "1003", "Long") + "SuppressNameDisplay = Enabled\n";
  for (int i = 0; i < 50; ++i) ini += person("Filler" + std::to_string(i), std::to_string(2000 + i), "Long");
  return ini + person("Bob", "1002", "Long") + "GroupSection\n[Ops]\nName = 'Ann'\nName = 'Bob'\n";
}

// The pages a TAP terminal's record holds, per pager ID, with their texts from the bytes.
std::map<std::string, std::vector<std::string>> PagesInRecord(const std::string& record) {
  std::map<std::string, std::vector<std::string>> pages;
  std::istringstream lines(record);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("PAGE ", 0) != 0 || line.find(" verdict=ACK") == std::string::npos) continue;
    const size_t id = line.find(" id=") + 4;
    const size_t hex = line.find(" hex=") + 5;
    std::string text;
    for (size_t i = hex; i + 1 < line.size() && line[i] != ' '; i += 2) {
      text += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    }
    pages[line.substr(id, line.find(' ', id) - id)].push_back(text);
  }
  return pages;
}

struct Curl {
  int Status = 0;
  std::string Body;
};

class HttpWithCorvd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::FileExists(testsupport::ProgramPath("corvhttp"))) GTEST_SKIP() << "corvhttp is not built";
    if (!testsupport::FileExists("/usr/bin/curl")) GTEST_SKIP() << "curl is not installed";
  }

  void Start(const std::string& extraIni = "", const std::string& pageIni = kPageIni) {
    dir_.Write("page.ini", pageIni);
    dir_.Write("tokens", "# test tokens\nt0ken-for-tests\n");
    std::filesystem::permissions(dir_.File("tokens"),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    port_ = testsupport::FreeTcpPort();
    dir_.Write("HTTP.INI", "HttpPort=" + std::to_string(port_) + "\nBindAddress=127.0.0.1\nTokens=tokens\n" + extraIni);
    const std::map<std::string, std::string> env{{"CORVEL_PIPE", dir_.File("pipe")}};
    corvd_ = std::make_unique<testsupport::ChildProcess>(testsupport::ProgramPath("corvd32"),
                                                         std::vector<std::string>{"debug"}, dir_.Path(), env);
    ASSERT_TRUE(testsupport::WaitForPipe(dir_.File("pipe"), kWaitMs)) << corvd_->Output();
    http_ = std::make_unique<testsupport::ChildProcess>(testsupport::ProgramPath("corvhttp"),
                                                        std::vector<std::string>{}, dir_.Path(), env);
    ASSERT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "CORVHTTP: Server started successfully", kWaitMs))
        << http_->Output();
  }

  // Runs curl with args against path; the status and the body.
  Curl Run(const std::string& path, std::vector<std::string> args, const std::string& scheme = "http") {
    std::vector<std::string> all = {"-s", "-o", dir_.File("body"), "-w", "%{http_code}", "--max-time", "10"};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(scheme + "://127.0.0.1:" + std::to_string(port_) + path);
    testsupport::ChildProcess curl("/usr/bin/curl", all, dir_.Path());
    // curl ends non-zero when no HTTP answer came (TLS refused): the code is then "000".
    EXPECT_NE(curl.Wait(kWaitMs), -1) << "curl did not end";
    Curl out;
    const std::string code = curl.Output();  // the codes of earlier runs come first
    out.Status = code.empty() ? 0 : std::atoi(code.c_str() + (code.size() >= 3 ? code.size() - 3 : 0));
    out.Body = dir_.Read("body");
    return out;
  }
  Curl Post(const std::string& path, const std::string& json, const std::string& token = "t0ken-for-tests") {
    dir_.Write("request.json", json);
    std::vector<std::string> args = {"-H", "Content-Type: application/json", "--data-binary", "@request.json"};
    if (!token.empty()) {
      args.push_back("-H");
      args.push_back("Authorization: Bearer " + token);
    }
    return Run(path, args);
  }
  // What corvd32 shows for each request with Debug on: "\nNAME:MESSAGE\n".
  bool Received(const std::string& name, const std::string& text) {
    return testsupport::WaitUntil(
        [&] { return corvd_->Output().find("\n" + name + ":" + text + "\n") != std::string::npos; }, kWaitMs, 20);
  }

  testsupport::TempDir dir_;
  uint16_t port_ = 0;
  std::unique_ptr<testsupport::ChildProcess> corvd_;
  std::unique_ptr<testsupport::ChildProcess> http_;
};

TEST_F(HttpWithCorvd, PagesReachThePagingServerAndBadOnesAreRefused) {
  Start();
  Curl r = Post("/api/v1/pages", R"({"to": ["Ann", "Ops"], "text": "Disk full on db1"})");
  EXPECT_EQ(r.Status, 202) << r.Body;
  EXPECT_NE(r.Body.find(R"("status":"queued","to":"Ann")"), std::string::npos) << r.Body;
  EXPECT_NE(r.Body.find(R"("status":"queued","to":"Ops")"), std::string::npos) << r.Body;
  EXPECT_TRUE(Received("Ann", "Disk full on db1"));
  EXPECT_TRUE(Received("Bob", "Disk full on db1"));  // the group reaches its members
  EXPECT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "Will page Bob now", kWaitMs));
  // Ann's page got number 1, the group's members 2 and 3; each can be asked for.
  EXPECT_NE(r.Body.find(R"({"message_numbers":[1],"status":"queued","to":"Ann"})"), std::string::npos) << r.Body;
  EXPECT_NE(r.Body.find(R"({"message_numbers":[2,3],"status":"queued","to":"Ops"})"), std::string::npos) << r.Body;
  const std::string auth = "Authorization: Bearer t0ken-for-tests";
  Curl record = Run("/api/v1/pages/3", {"-H", auth});
  EXPECT_EQ(record.Status, 200) << record.Body;
  EXPECT_NE(record.Body.find(R"("name":"Bob")"), std::string::npos) << record.Body;
  EXPECT_NE(record.Body.find(R"("number":3)"), std::string::npos) << record.Body;
  EXPECT_NE(record.Body.find(R"("pageid":"23456")"), std::string::npos) << record.Body;
  EXPECT_NE(record.Body.find(R"("system":"Metro")"), std::string::npos) << record.Body;
  EXPECT_TRUE(record.Body.find(R"("state":"waiting")") != std::string::npos ||
              record.Body.find(R"("state":"sending")") != std::string::npos)
      << record.Body;
  EXPECT_EQ(Run("/api/v1/pages/99", {"-H", auth}).Status, 404);
  EXPECT_EQ(Run("/api/v1/pages/x1", {"-H", auth}).Status, 404);
  EXPECT_EQ(Run("/api/v1/pages/1", {}).Status, 401);

  r = Post("/api/v1/pages", R"({"to": ["Bob"], "text": "at eight", "at": "2037-12-24T08:00"})");
  EXPECT_EQ(r.Status, 202) << r.Body;
  EXPECT_NE(r.Body.find(R"({"message_numbers":[4],"status":"scheduled","to":"Bob"})"), std::string::npos) << r.Body;
  record = Run("/api/v1/pages/4", {"-H", auth});
  EXPECT_NE(record.Body.find(R"("state":"scheduled")"), std::string::npos) << record.Body;
  EXPECT_NE(record.Body.find(R"("due":"2037-12-24 08:00:00")"), std::string::npos) << record.Body;
  EXPECT_EQ(Post("/api/v1/pages", R"({"to": ["Nobody"], "text": "x"})").Status, 400);
  EXPECT_EQ(Post("/api/v1/pages", R"({"to": ["Ann"], "text": ""})").Status, 400);
  EXPECT_EQ(Post("/api/v1/pages", R"({"to": ["Ann"], "text": )").Status, 400);
  EXPECT_EQ(Post("/api/v1/pages", R"({"to": ["Ann"], "text": "x"})", "").Status, 401);
  EXPECT_EQ(Post("/api/v1/pages", R"({"to": ["Ann"], "text": "x"})", "guess").Status, 401);
  EXPECT_EQ(Post("/api/v1/pages", "{\"to\": [\"Ann\"], \"text\": \"" + std::string(70000, 'x') + "\"}").Status, 413);
  // Every request has its access line.
  EXPECT_TRUE(
      testsupport::WaitForFileText(dir_.File("log.txt"), "CORVHTTP: 127.0.0.1 \"POST /api/v1/pages\" 413", kWaitMs));
  const Curl names = Run("/api/v1/names", {"-H", "Authorization: Bearer t0ken-for-tests"});
  EXPECT_EQ(names.Body,
            "{\"groups\":[{\"members\":[\"Ann\",\"Bob\"],\"name\":\"Ops\"}],\"persons\":[\"Ann\",\"Bob\"]}\n");
  EXPECT_EQ(Run("/api/v1/names", {}).Status, 401);
}

// Alertmanager's (version 4) and Grafana's sample payloads, checked where they arrive: the
// TAP terminal's record of what each pager was sent, byte for byte.
TEST_F(HttpWithCorvd, WebhookPagesArriveAtThePagerAsShortTexts) {
  if (!testsupport::FileExists(testsupport::ProgramPath("corvsim"))) GTEST_SKIP() << "corvsim is not built";
  iptest::Corvsim terminal("[tap-tcp]\nport = 0\npassword = PW1\n");
  ASSERT_TRUE(terminal.Ok()) << terminal.Output();
  Start("", TerminalPageIni(terminal.Port("tap")));
  std::map<std::string, std::vector<std::string>> expected;
  const auto arrived = [&] {
    const bool all = testsupport::WaitUntil([&] { return PagesInRecord(terminal.Record()) == expected; }, kWaitMs, 50);
    EXPECT_TRUE(all) << terminal.Record();
    return all;
  };
  const auto alert = [](const std::string& status, const std::string& name, const std::string& instance,
                        const std::string& annotations) {
    return R"({"status":")" + status + R"(","labels":{"alertname":")" + name + R"(","instance":")" + instance +
           R"("},"annotations":{)" + annotations +
           R"(},"startsAt":"2026-01-02T03:04:05Z","endsAt":"0001-01-01T00:00:00Z","generatorURL":"http://prometheus/graph","fingerprint":"f)" +
           instance + "\"}";
  };
  const auto group = [](const std::string& status, const std::string& name, const std::string& annotations,
                        const std::string& alerts) {
    return R"({"version":"4","groupKey":"{}:{alertname=\")" + name + R"(\"}","truncatedAlerts":0,"status":")" + status +
           R"(","receiver":"pager","groupLabels":{"alertname":")" + name + R"("},"commonLabels":{"alertname":")" +
           name + R"("},"commonAnnotations":{)" + annotations +
           R"(},"externalURL":"http://alertmanager:9093","alerts":[)" + alerts + "]}";
  };

  std::string three;
  for (int i = 1; i <= 3; ++i) {
    const std::string db = "db" + std::to_string(i);
    three += (i > 1 ? "," : "") + alert("firing", "DiskFull", db, R"("summary":")" + db + R"( disk at 95%")");
  }
  Curl r = Post("/hooks/alertmanager?to=Ops", group("firing", "DiskFull", "", three));
  ASSERT_EQ(r.Status, 202) << r.Body;
  EXPECT_NE(r.Body.find(R"("message_numbers":[1,2])"), std::string::npos) << r.Body;  // the group's two members
  const std::string firing = "[FIRING:3] DiskFull: db1 disk at 95%; db2 disk at 95%; db3 disk at 95%";
  expected["1001"].push_back(firing);
  expected["1002"].push_back(firing);
  ASSERT_TRUE(arrived());

  std::string resolvedAlerts;
  for (int i = 1; i <= 3; ++i)
    resolvedAlerts += (i > 1 ? "," : "") + alert("resolved", "DiskFull", "db" + std::to_string(i), "");
  r = Post("/hooks/alertmanager?to=Ann",
           group("resolved", "DiskFull", R"("summary":"disks have room again")", resolvedAlerts));
  ASSERT_EQ(r.Status, 202) << r.Body;
  expected["1001"].push_back("[RESOLVED:3] DiskFull: disks have room again");
  ASSERT_TRUE(arrived());

  // 200 alerts in one group: one page each, cut to Ann's 80 and to the hook's 230 for Bob.
  std::string many;
  std::string whole = "[FIRING:200] Down";
  for (int i = 0; i < 200; ++i) {
    many += (i ? "," : "") + alert("firing", "Down", "host" + std::to_string(i), "");
    whole += (i ? "; instance=host" : ": instance=host") + std::to_string(i);
  }
  r = Post("/hooks/alertmanager?to=Ann,Bob", group("firing", "Down", "", many));
  ASSERT_EQ(r.Status, 202) << r.Body;
  expected["1001"].push_back("[FIRING:200] Down: instance=host0; instance=host1; instance=host2; instance=h...");
  expected["1002"].push_back(whole.substr(0, 227) + "...");
  ASSERT_EQ(expected["1001"].back().size(), 80u);
  ASSERT_TRUE(arrived());

  // Grafana first probes the URL (and its test may post nothing); neither pages anyone.
  const std::string auth = "Authorization: Bearer t0ken-for-tests";
  EXPECT_EQ(Run("/hooks/grafana?to=Bob", {"-H", auth}).Status, 200);
  EXPECT_EQ(Run("/hooks/grafana?to=Bob", {"-H", auth, "-X", "POST"}).Status, 200);
  r = Post(
      "/hooks/grafana?to=Bob",
      R"({"receiver":"pager","status":"firing","orgId":1,"alerts":[{"status":"firing","labels":{"alertname":"HighCPU"}}],"groupLabels":{},"commonLabels":{"alertname":"HighCPU"},"commonAnnotations":{},"externalURL":"http://grafana:3000/","version":"1","groupKey":"{}","truncatedAlerts":0,"title":"[FIRING:1] HighCPU","state":"alerting","message":"cpu at 99% on web1"})");
  EXPECT_EQ(r.Status, 202) << r.Body;
  expected["1002"].push_back("[FIRING:1] HighCPU - cpu at 99% on web1");
  ASSERT_TRUE(arrived());
  EXPECT_EQ(Post("/hooks/grafana?to=Bob", "{}", "").Status, 401);
  EXPECT_EQ(Post("/hooks/alertmanager?to=Bob,Nobody", group("firing", "X", "", "")).Status, 400);
  // Nothing more comes: the refused requests paged no one.
  EXPECT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "\"POST /hooks/alertmanager\" 400", kWaitMs));
  EXPECT_EQ(PagesInRecord(terminal.Record()), expected);
}

// Hal is hidden from the name lists, not from paging: by the API and the hooks alike.
TEST_F(HttpWithCorvd, HiddenPersonIsPagedButNotListed) {
  if (!testsupport::FileExists(testsupport::ProgramPath("corvsim"))) GTEST_SKIP() << "corvsim is not built";
  iptest::Corvsim terminal("[tap-tcp]\nport = 0\npassword = PW1\n");
  ASSERT_TRUE(terminal.Ok()) << terminal.Output();
  Start("", TerminalPageIni(terminal.Port("tap")));
  // One unknown name refuses the whole request before anyone is paged.
  Curl r = Post("/api/v1/pages", R"({"to": ["Hal", "Nobody"], "text": "never"})");
  EXPECT_EQ(r.Status, 400) << r.Body;
  EXPECT_NE(r.Body.find(R"("unknown":["Nobody"])"), std::string::npos) << r.Body;
  r = Post("/api/v1/pages", R"({"to": ["hal"], "text": "for Hal"})");
  EXPECT_EQ(r.Status, 202) << r.Body;
  EXPECT_NE(r.Body.find(R"({"message_numbers":[1],"status":"queued","to":"hal"})"), std::string::npos) << r.Body;
  r = Post("/api/v1/pages", R"({"to": ["Bob"], "text": "for Bob"})");
  EXPECT_EQ(r.Status, 202) << r.Body;
  r = Post("/hooks/grafana?to=Hal",
           R"({"version":"1","status":"resolved","title":"[RESOLVED] HighCPU","message":"cpu back to 20%"})");
  EXPECT_EQ(r.Status, 202) << r.Body;
  const std::map<std::string, std::vector<std::string>> expected = {
      {"1003", {"for Hal", "[RESOLVED] HighCPU - cpu back to 20%"}}, {"1002", {"for Bob"}}};
  EXPECT_TRUE(testsupport::WaitUntil([&] { return PagesInRecord(terminal.Record()) == expected; }, kWaitMs, 50))
      << terminal.Record();
  EXPECT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "Message(#1) sent to hal", kWaitMs))
      << dir_.Read("log.txt");

  const Curl names = Run("/api/v1/names", {"-H", "Authorization: Bearer t0ken-for-tests"});
  EXPECT_EQ(names.Status, 200);
  EXPECT_EQ(names.Body.find("Hal"), std::string::npos) << names.Body;
  // Bob, the last person, is on the second list page, after a first one short by Hal.
  EXPECT_NE(names.Body.find("\"Filler49\",\"Bob\"]}"), std::string::npos) << names.Body;
}

TEST_F(HttpWithCorvd, MetricsParseWithPrometheusOwnParser) {
  if (!testsupport::FileExists("/usr/lib/python3/dist-packages/prometheus_client/parser.py")) {
    GTEST_SKIP() << "python3-prometheus-client is not installed";
  }
  Start();
  ASSERT_EQ(Post("/api/v1/pages", R"({"to": ["Ann", "Bob"], "text": "m"})").Status, 202);
  EXPECT_TRUE(Received("Bob", "m"));
  dir_.Write("parse.py",
             "import sys\n"
             "from prometheus_client.parser import text_string_to_metric_families\n"
             "for family in text_string_to_metric_families(sys.stdin.read()):\n"
             "    for s in family.samples:\n"
             "        labels = ','.join(k + '=' + v for k, v in sorted(s.labels.items()))\n"
             "        print(family.type, s.name, labels, int(s.value))\n");
  const Curl metrics = Run("/metrics", {});  // from loopback: no token needed
  ASSERT_EQ(metrics.Status, 200) << metrics.Body;
  dir_.Write("metrics.txt", metrics.Body);
  testsupport::ChildProcess python("/bin/sh", {"-c", "/usr/bin/python3 parse.py < metrics.txt"}, dir_.Path());
  ASSERT_EQ(python.Wait(kWaitMs), 0) << python.Output() << metrics.Body;
  const std::string parsed = python.Output();
  EXPECT_NE(parsed.find("counter corvel_pages_accepted_total  2\n"), std::string::npos) << parsed;
  EXPECT_NE(parsed.find("gauge corvel_now_queue_pages queue=Main "), std::string::npos) << parsed;
  EXPECT_NE(parsed.find("gauge corvel_now_queue_pages queue=no-such-port/x "), std::string::npos) << parsed;
  EXPECT_NE(parsed.find("counter corvel_pipe_requests_total "), std::string::npos) << parsed;
  EXPECT_NE(parsed.find("gauge corvel_at_pages  0\n"), std::string::npos) << parsed;
}

TEST_F(HttpWithCorvd, HttpsOnATestCa) {
  if (!testsupport::FileExists("/usr/bin/openssl")) GTEST_SKIP() << "openssl is not installed";
  testsupport::ChildProcess ca(
      "/bin/sh",
      {"-c",
       "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=test-ca 2>/dev/null && "
       "openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1 2>/dev/null && "
       "printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext && "
       "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
       "-extfile san.ext 2>/dev/null"},
      dir_.Path());
  ASSERT_EQ(ca.Wait(60000), 0) << ca.Output();
  Start("TlsCertificate=server.pem\nTlsKey=server.key\n");
  dir_.Write("request.json", R"({"to": ["Ann"], "text": "over TLS"})");
  const Curl r = Run(
      "/api/v1/pages",
      {"--cacert", "ca.pem", "-H", "Authorization: Bearer t0ken-for-tests", "--data-binary", "@request.json"}, "https");
  EXPECT_EQ(r.Status, 202) << r.Body;
  EXPECT_TRUE(Received("Ann", "over TLS"));
  // Plain HTTP on the HTTPS port gets nothing, and a client that does not trust the CA stops.
  EXPECT_NE(Run("/metrics", {}).Status, 200);
  EXPECT_NE(Run("/metrics", {}, "https").Status, 200);
}

}  // namespace
