// web/cgi_test.cpp - the CGI flow against a stand-in for the paging server's pipe.
#include "web/cgi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/support/fake_paging_server.h"
#include "tests/support/fake_snpp_server.h"
#include "tests/support/process.h"
#include "tests/support/scoped_env.h"

namespace web {
namespace {

using testsupport::FakePagingServer;

constexpr const char* kHeader = "Content-type: text/html\n\n";

class Cgi : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // A folder of the test's own: a pipe server refuses folders others may write in (/tmp).
    prefix_ = dir_.Path() + "/cgi_" + test + "_";
    // The test's own pipe, also once its server is gone: nothing else may answer there.
    pipe_ = std::make_unique<testsupport::ScopedEnv>("CORVEL_PIPE", prefix_ + "pipe");
    server_ = std::make_unique<FakePagingServer>(prefix_ + "pipe");
    server_->StandIn().RefuseName("Nobody");
  }
  void TearDown() override {
    server_.reset();
    pipe_.reset();
    for (const auto& p : files_) std::remove(p.c_str());
  }
  std::string File(const std::string& name, const std::string& text) {
    const std::string path = prefix_ + name;
    std::ofstream(path, std::ios::binary) << text;
    files_.push_back(path);
    return path;
  }
  CgiRequest Post(const std::string& body) {
    CgiRequest r;
    r.Environment = {{"REQUEST_METHOD", "POST"},
                     {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                     {"CONTENT_LENGTH", std::to_string(body.size())},
                     {"SCRIPT_NAME", "/cgi-bin/corvweb"}};
    r.Arguments = {"/usr/lib/cgi-bin/corvweb"};
    auto at = std::make_shared<size_t>(0);
    r.Body = [body, at]() -> int { return *at < body.size() ? static_cast<unsigned char>(body[(*at)++]) : -1; };
    r.SettingsFile = prefix_ + "wwwpage.ini";
    return r;
  }
  CgiRequest View(const std::vector<std::string>& args, const std::string& query = "") {
    CgiRequest r;
    r.Environment = {{"REQUEST_METHOD", "GET"}, {"SCRIPT_NAME", "/cgi-bin/corvweb"}};
    if (!query.empty()) r.Environment["QUERY_STRING"] = query;
    r.Arguments = {"/usr/lib/cgi-bin/corvweb"};
    r.Arguments.insert(r.Arguments.end(), args.begin(), args.end());
    r.SettingsFile = prefix_ + "wwwpage.ini";
    return r;
  }
  testsupport::TempDir dir_;
  std::string prefix_;
  std::vector<std::string> files_;
  std::unique_ptr<testsupport::ScopedEnv> pipe_;
  std::unique_ptr<FakePagingServer> server_;
};

TEST_F(Cgi, RequestChecksRefuseWithTheirTextsAndStatusOne) {
  std::string out;
  EXPECT_EQ(RunCgi(View({}), out), 1);
  EXPECT_EQ(out, std::string(kHeader) + "This script should be referenced with a METHOD of POST.\n");

  CgiRequest lower = Post("name=A");
  lower.Environment["REQUEST_METHOD"] = "post";
  out.clear();
  EXPECT_EQ(RunCgi(lower, out), 1);
  EXPECT_EQ(out, std::string(kHeader) + "This script should be referenced with a METHOD of POST.\n");

  CgiRequest charset = Post("name=A");
  charset.Environment["CONTENT_TYPE"] = "application/x-www-form-urlencoded; charset=UTF-8";
  out.clear();
  EXPECT_EQ(RunCgi(charset, out), 1);
  EXPECT_EQ(out, std::string(kHeader) + "This script can only be used to decode form results. \n");

  CgiRequest noLength = Post("name=A");
  noLength.Environment.erase("CONTENT_LENGTH");
  out.clear();
  EXPECT_EQ(RunCgi(noLength, out), 1);
  EXPECT_EQ(out, std::string(kHeader) + "This script requires CONTENT_LENGTH environment variable.\n");
  EXPECT_TRUE(server_->Requests().empty());
}

TEST_F(Cgi, TwoNamesAreSentInBodyOrderWithTheBuiltInTexts) {
  std::string out;
  EXPECT_EQ(RunCgi(Post("name=A&name=B&message=Hi"), out), 0);
  EXPECT_EQ(out,
            std::string(kHeader) +
                "<H1>Corvel</H1><HR>"
                "Page request has been sent for: A.<P>"
                "Page request has been sent for: B.<P>"
                "<HR>To verify that your page has been sent, you can <A HREF=\"/cgi-bin/corvweb?status\"> "
                "Show the status of the paging system</A> or <A HREF=\"/cgi-bin/corvweb?log\"> Show the log file</A>");
  const auto requests = server_->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(common::FieldText(requests[0].Head.Name), "A");
  EXPECT_EQ(common::FieldText(requests[1].Head.Name), "B");
  EXPECT_EQ(requests[0].Head.RecordKind, 1);
  EXPECT_EQ(requests[0].Head.RequestType, 0);
  EXPECT_EQ(requests[0].Head.TimeMode, 0);
  EXPECT_EQ(requests[0].Message, "Hi");
  EXPECT_EQ(requests[0].Head.MessageLength, 2);
  EXPECT_EQ(requests[0].Bytes, 91u);
}

TEST_F(Cgi, MessageDecodingCarriageReturnsAndTheFirstFieldFallback) {
  std::string out;
  EXPECT_EQ(RunCgi(Post("message=a+b%21&name=X"), out), 0);
  EXPECT_EQ(RunCgi(Post("message=one%0D%0Atwo&name=X"), out), 0);
  EXPECT_EQ(RunCgi(Post("name=Y&message=first&message=last"), out), 0);
  EXPECT_EQ(RunCgi(Post("text=no+message+field&name=Z"), out), 0);
  const auto requests = server_->Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].Message, "a b!");
  EXPECT_EQ(requests[1].Message, "one \ntwo");
  EXPECT_EQ(requests[2].Message, "last");
  EXPECT_EQ(requests[3].Message, "no message field");
}

TEST_F(Cgi, AppendHostNameAddsTheSenderBounded) {
  CgiRequest r = Post("option=AppendHostName&name=X&message=Hi");
  r.Environment["REMOTE_ADDR"] = "10.1.2.3";
  std::string out;
  EXPECT_EQ(RunCgi(r, out), 0);
  r = Post("option=AppendHostName&name=X&message=Hi");
  r.Environment["REMOTE_HOST"] = std::string(300, 'h');
  EXPECT_EQ(RunCgi(r, out), 0);
  EXPECT_EQ(RunCgi(Post("option=AppendHostName&name=X&message=Hi"), out), 0);
  const auto requests = server_->Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].Message, "Hi From: 10.1.2.3");
  EXPECT_EQ(requests[1].Message, "Hi From: " + std::string(92, 'h'));  // " From: host" fits 99
  EXPECT_EQ(requests[2].Message, "Hi From: ?");
}

TEST_F(Cgi, ScheduledPagesCarryTheirTimes) {
  std::string out;
  EXPECT_EQ(RunCgi(Post("pagetype=2&date=12/31/99&time=17:05&name=X&message=Hi"), out), 0);
  EXPECT_EQ(RunCgi(Post("pagetype=3&date1=1-2-98&time1=8:00&name=X&message=Hi"), out), 0);
  EXPECT_EQ(RunCgi(Post("pagetype=1&delay=30&name=X&message=Hi"), out), 0);
  EXPECT_EQ(RunCgi(Post("pagetype=7&name=X&message=Hi"), out), 0);
  const auto r = server_->Requests();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].Head.RequestType, 0);
  EXPECT_EQ(r[0].Head.TimeMode, 1);
  EXPECT_EQ(static_cast<int>(r[0].Head.Month), 12);
  EXPECT_EQ(static_cast<int>(r[0].Head.Day), 31);
  EXPECT_EQ(static_cast<int>(r[0].Head.Year), 99);
  EXPECT_EQ(static_cast<int>(r[0].Head.Hour), 17);
  EXPECT_EQ(static_cast<int>(r[0].Head.Minute), 5);
  EXPECT_EQ(r[1].Head.RequestType, 5);
  EXPECT_EQ(r[1].Head.TimeMode, 0);
  EXPECT_EQ(static_cast<int>(r[1].Head.Month), 1);
  EXPECT_EQ(static_cast<int>(r[1].Head.Day), 2);
  EXPECT_EQ(static_cast<int>(r[1].Head.Year), 98);
  EXPECT_EQ(static_cast<int>(r[1].Head.Hour), 8);
  EXPECT_EQ(static_cast<int>(r[1].Head.Minute), 0);
  EXPECT_EQ(r[2].Head.TimeMode, 2);
  EXPECT_EQ(static_cast<int>(r[2].Head.Minute), 30);
  EXPECT_EQ(r[3].Head.TimeMode, 0);
}

TEST_F(Cgi, DateThatDoesNotParseSendsNothingAndSaysSo) {
  std::string out;
  EXPECT_EQ(RunCgi(Post("pagetype=2&date=tomorrow&time=25:00&name=X&message=Hi"), out), 0);
  EXPECT_NE(out.find("Error: the date field \"tomorrow\" is not a date"), std::string::npos);
  EXPECT_NE(out.find("Error: the time field \"25:00\" is not a time"), std::string::npos);
  EXPECT_NE(out.find("Error sending page request to:  X.<P>"), std::string::npos);
  EXPECT_EQ(out.find("has been sent for"), std::string::npos);
  out.clear();
  EXPECT_EQ(RunCgi(Post("pagetype=3&time1=8:00&name=X&message=Hi"), out), 0);  // no date1 at all
  EXPECT_NE(out.find("Error: the date1 field \"\" is not a date"), std::string::npos);
  EXPECT_TRUE(server_->Requests().empty());
}

TEST_F(Cgi, RefusedPageIsShownAsFailedWithTheBadFileWhenConfigured) {
  std::string out;
  EXPECT_EQ(RunCgi(Post("name=Nobody&name=%3Cscript%3E&message=Hi"), out), 0);
  EXPECT_NE(out.find("Error sending page request to:  Nobody.<P>"), std::string::npos);
  EXPECT_NE(out.find("Page request has been sent for: &lt;script&gt;.<P>"), std::string::npos);
  EXPECT_EQ(out.find("<script>"), std::string::npos);

  File("wwwpage.ini", "HtmlFolder = \"" + dir_.Path() + "\"\nOkHtmlFile = \"" + prefix_ + "ok.htm\"\nBadHtmlFile = \"" +
                          prefix_ + "bad.htm\"\nStartingHtmlFile = \"" + prefix_ + "start.htm\"\nEndingHtmlFile = \"" +
                          prefix_ + "missing.htm\"\n");
  File("ok.htm", "[sent %n]");
  File("bad.htm", "[FAILED %n]");
  File("start.htm", "<h1>Start%n</h1>");
  out.clear();
  EXPECT_EQ(RunCgi(Post("name=Ann&name=Nobody&message=Hi"), out), 0);
  EXPECT_EQ(out, std::string(kHeader) + "<h1>Start</h1>[sent Ann][FAILED Nobody]");
}

TEST_F(Cgi, LongNameIsCutToTheRecordAndBadEscapeIsNamed) {
  std::string out;
  EXPECT_EQ(RunCgi(Post("name=" + std::string(40, 'n') + "&message=100%"), out), 0);
  EXPECT_NE(out.find("Error: the form field message holds a % that is not followed by two hex digits"),
            std::string::npos);
  const auto r = server_->Requests();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(common::FieldText(r[0].Head.Name), std::string(31, 'n'));
  EXPECT_EQ(r[0].Message, "100%");
}

TEST_F(Cgi, ViewsByArgumentOrBareQueryString) {
  const std::string logText = "2026-12-08 01:00 CORVD32: Paging server started successfully\n";
  server_->StandIn().SetStatusReport("Queue: Ann <script>alert(1)</script>\n");
  server_->StandIn().SetLogReport(logText);
  const std::string status = std::string(kHeader) + "<PRE>\nQueue: Ann &lt;script&gt;alert(1)&lt;/script&gt;\n</PRE>\n";
  const std::string log = std::string(kHeader) + "<PRE>\n" + logText + "</PRE>\n";
  std::string out;
  EXPECT_EQ(RunCgi(View({"status"}), out), 0);
  EXPECT_EQ(out, status);
  out.clear();
  EXPECT_EQ(RunCgi(View({"stat"}), out), 0);
  EXPECT_EQ(out, status);
  out.clear();
  EXPECT_EQ(RunCgi(View({""}), out), 0);
  EXPECT_EQ(out, status);
  out.clear();
  EXPECT_EQ(RunCgi(View({"lo"}), out), 0);
  EXPECT_EQ(out, log);
  out.clear();
  EXPECT_EQ(RunCgi(View({"help"}), out), 0);
  EXPECT_EQ(out, kHeader);
  out.clear();
  EXPECT_EQ(RunCgi(View({}, "log"), out), 0);  // lighttpd passes no argument for ?log
  EXPECT_EQ(out, log);
  const auto r = server_->Requests();
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0].Head.RequestType, 4);
  EXPECT_EQ(r[0].Head.Parameter, 1);
  EXPECT_EQ(r[0].Bytes, 89u);
  EXPECT_EQ(r[3].Head.RequestType, 3);
  EXPECT_EQ(r[3].Head.Parameter, 0);
}

TEST_F(Cgi, FailedViewAndRemotePipeSayWhatHappened) {
  server_.reset();  // no paging server
  std::string out;
  EXPECT_EQ(RunCgi(View({"status"}), out), 0);
  EXPECT_EQ(out, std::string(kHeader) + "<H1>Error getting status.</H1>\n");
  out.clear();
  EXPECT_EQ(RunCgi(View({"log"}), out), 0);
  EXPECT_EQ(out, std::string(kHeader) + "<H1>Error getting log.</H1>\n");

  File("wwwpage.ini", "LanServerName = \"pagerhost\"\n");
  out.clear();
  EXPECT_EQ(RunCgi(Post("name=Ann&message=Hi"), out), 0);
  EXPECT_NE(out.find("reaches a remote paging server over SNPP only"), std::string::npos);
  EXPECT_NE(out.find("Error sending page request to:  Ann.<P>"), std::string::npos);
}

TEST_F(Cgi, PageModeServesTheTemplateWithTheGroupOfTheQuery) {
  server_->StandIn().SetGroup("Sales", {"Ann", "Bob"});
  const std::string form = File("form.htm", "<form action=\"%e\"><select name=name>%p</select></form>");
  File("wwwpage.ini", "HtmlFolder = \"" + dir_.Path() + "\"\n");
  CgiRequest r = View({}, "group=Sales");
  r.Environment["PATH_INFO"] = form.substr(dir_.Path().size());
  r.Environment["PATH_TRANSLATED"] = "/var/www" + r.Environment["PATH_INFO"];
  std::string out;
  EXPECT_EQ(RunCgi(r, out), 0);
  EXPECT_EQ(out,
            std::string(kHeader) +
                "<form action=\"/cgi-bin/corvweb\"><select name=name><option> Ann\n<option> Bob\n</select></form>");
  const auto requests = server_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(common::FieldText(requests[0].Head.Name), "Sales");

  r.Environment["QUERY_STRING"] = "group=Night+Shift%21";
  out.clear();
  EXPECT_EQ(RunCgi(r, out), 0);
  ASSERT_EQ(server_->Requests().size(), 2u);
  EXPECT_EQ(common::FieldText(server_->Requests()[1].Head.Name), "Night Shift!");

  r.Environment["PATH_INFO"] = "/<none>.htm?x=1";
  out.clear();
  EXPECT_EQ(RunCgi(r, out), 0);
  EXPECT_EQ(out, std::string(kHeader) + "Error opening up &lt;none&gt;.htm<p>\n");
}

// Whatever the URL or wwwpage.ini name, only files inside the template folder are copied
// into a page: no climbing out with "..", no symlink leading out, no absolute path elsewhere.
TEST_F(Cgi, TemplatesComeOnlyFromTheirFolder) {
  namespace fs = std::filesystem;
  const std::string www = dir_.File("www");
  fs::create_directories(www + "/sub");
  dir_.Write("secret.htm", "SECRET");
  dir_.Write("www/form.htm", "FORM");
  dir_.Write("www/sub/head.htm", "HEAD;");
  fs::create_symlink("../secret.htm", www + "/out.htm");
  fs::create_symlink("form.htm", www + "/alias.htm");
  fs::create_symlink(dir_.Path(), www + "/up");
  auto page = [&](const std::string& pathInfo, const std::string& argv0) {
    CgiRequest r = View({});
    r.Arguments[0] = argv0;
    r.Environment["PATH_INFO"] = pathInfo;
    r.Environment["PATH_TRANSLATED"] = "/var/www" + pathInfo;
    std::string out;
    EXPECT_EQ(RunCgi(r, out), 0);
    return out.substr(std::strlen(kHeader));
  };
  // Without HtmlFolder the program's own folder holds the templates.
  const std::string program = www + "/corvweb";
  EXPECT_EQ(page("/form.htm", program), "FORM");
  EXPECT_EQ(page("/alias.htm", program), "FORM");  // a symlink that stays inside is fine
  EXPECT_EQ(page("/sub/head.htm", program), "HEAD;");
  for (const std::string& bad :
       std::vector<std::string>{"/../secret.htm", "/sub/../form.htm", "/out.htm", "/up/secret.htm", "/sub",
                                "//etc/passwd", "/" + dir_.File("secret.htm")}) {
    EXPECT_EQ(page(bad, program), "Error opening up " + bad.substr(bad.find_first_not_of('/')) + "<p>\n") << bad;
  }
  // HtmlFolder wins over the program's folder, and bounds the result page's files too.
  File("wwwpage.ini", "HtmlFolder = \"" + www + "\"\n");
  EXPECT_EQ(page("/form.htm", "/usr/lib/cgi-bin/corvweb"), "FORM");
  File("wwwpage.ini", "HtmlFolder = \"" + www + "\"\nStartingHtmlFile = \"" + www +
                          "/sub/head.htm\"\nOkHtmlFile = \"../secret.htm\"\nEndingHtmlFile = \"" +
                          dir_.File("secret.htm") + "\"\n");
  std::string out;
  EXPECT_EQ(RunCgi(Post("name=Ann&message=Hi"), out), 0);
  EXPECT_EQ(out, std::string(kHeader) + "HEAD;Page request has been sent for: Ann.<P>");
}

TEST_F(Cgi, LongStatusReportIsShownCutToTheReplyArea) {
  std::string report;
  for (int i = 0; report.size() < 5000; ++i) report += "  page " + std::to_string(i) + " for Ann\n";
  server_->StandIn().SetStatusReport(report);
  std::string out;
  EXPECT_EQ(RunCgi(View({"status"}), out), 0);
  EXPECT_EQ(out, std::string(kHeader) + "<PRE>\n" + report.substr(0, kCgiReplyArea - 1) + "</PRE>\n");
}

// The body is read whole and bounded before anything is sent.
TEST_F(Cgi, OversizedShortOrUnreadableBodiesSendNothing) {
  CgiRequest big = Post("name=Ann&message=Hi");
  big.Environment["CONTENT_LENGTH"] = std::to_string(kMaxFormBody + 1);
  auto reads = std::make_shared<int>(0);
  big.Body = [reads] { return ++*reads, 'x'; };
  std::string out;
  EXPECT_EQ(RunCgi(big, out), 1);
  EXPECT_EQ(out, std::string(kHeader) + "This script accepts form results of at most 65536 bytes.\n");
  EXPECT_EQ(*reads, 0);  // refused before a byte is read

  for (const char* length : {"-1", "12abc", "", "99999999999999999999"}) {
    CgiRequest odd = Post("name=Ann&message=Hi");
    odd.Environment["CONTENT_LENGTH"] = length;
    out.clear();
    EXPECT_EQ(RunCgi(odd, out), 1) << length;
    EXPECT_EQ(out, std::string(kHeader) + "This script requires CONTENT_LENGTH environment variable.\n") << length;
  }

  const std::string body = "name=Ann&name=Bob&message=Hi";
  CgiRequest cut = Post(body);
  cut.Environment["CONTENT_LENGTH"] = std::to_string(body.size() + 10);
  out.clear();
  EXPECT_EQ(RunCgi(cut, out), 1);
  EXPECT_EQ(out,
            std::string(kHeader) + "The form results ended after 28 of the 38 bytes announced; nothing was sent.\n");
  EXPECT_TRUE(server_->Requests().empty());

  // The largest body taken is sent as usual.
  const std::string tail = "&name=Ann&message=Hi";
  const std::string full = "pad=" + std::string(kMaxFormBody - 4 - tail.size(), 'p') + tail;
  out.clear();
  EXPECT_EQ(RunCgi(Post(full), out), 0);
  EXPECT_NE(out.find("Page request has been sent for: Ann."), std::string::npos);
  ASSERT_EQ(server_->Requests().size(), 1u);
  EXPECT_EQ(server_->Requests()[0].Message, "Hi");
}

TEST_F(Cgi, SnppModeSendsAtOnceAndReportsFailures) {
  testsupport::FakeSnppBehaviour good;
  testsupport::FakeSnppServer snpp(good);
  File("wwwpage.ini", "HostName = \"127.0.0.1\"\nTcpPort = " + std::to_string(snpp.Port()) + "\n");
  std::string out;
  EXPECT_EQ(RunCgi(Post("pagetype=1&delay=30&name=Ann&message=Hi"), out), 0);
  EXPECT_NE(out.find("Page request has been sent for: Ann.<P>"), std::string::npos);
  EXPECT_EQ(snpp.Received(), "PAGE \"Ann\"\nDATA\nHi\r\n.\r\nSEND\nQUIT\n");
  EXPECT_TRUE(server_->Requests().empty());

  testsupport::FakeSnppBehaviour refusing;
  refusing.SendReply = "554 Message Failed";
  testsupport::FakeSnppServer bad(refusing);
  File("wwwpage.ini", "HostName = \"127.0.0.1\"\nTcpPort = " + std::to_string(bad.Port()) + "\n");
  out.clear();
  EXPECT_EQ(RunCgi(Post("name=Ann&message=Hi"), out), 0);
  EXPECT_NE(out.find("<pre>Error sending page to SNPP server.\n</pre>Error sending page request to:  Ann.<P>"),
            std::string::npos);
  EXPECT_EQ(out.find("Page request has been sent"), std::string::npos);
}

TEST_F(Cgi, SnppModeViewsAndAnUnknownHost) {
  testsupport::FakeSnppBehaviour report;
  report.ReportLines = {"Corvel.  Version 1.8 Rev 5", "<b>Ann</b>"};
  testsupport::FakeSnppServer snpp(report);
  File("wwwpage.ini", "HostName = \"127.0.0.1\"\nTcpPort = " + std::to_string(snpp.Port()) + "\n");
  std::string out;
  EXPECT_EQ(RunCgi(View({"status"}), out), 0);
  EXPECT_EQ(out, std::string(kHeader) + "<PRE>\nCorvel.  Version 1.8 Rev 5\n&lt;b&gt;Ann&lt;/b&gt;\n</PRE>\n");
  EXPECT_EQ(snpp.Received(), "MSTA\nQUIT\n");

  File("wwwpage.ini", "HostName = \"no-such-host.invalid\"\n");
  out.clear();
  EXPECT_EQ(RunCgi(View({"log"}), out), 0);
  EXPECT_EQ(out, std::string(kHeader) + "Gethostbyname failed\n<H1>Error getting log.</H1>\n");
  out.clear();
  EXPECT_EQ(RunCgi(Post("name=Ann&message=Hi"), out), 0);
  EXPECT_NE(out.find("Gethostbyname failed\n<pre>Error sending page to SNPP server.\n</pre>"), std::string::npos);
}

TEST(FormDates, ParseAndRanges) {
  int a, b, c;
  EXPECT_TRUE(ParseFormDate("12/31/99", a, b, c));
  EXPECT_EQ(a * 10000 + b * 100 + c, 123199);
  EXPECT_TRUE(ParseFormDate("01-02-2027", a, b, c));
  EXPECT_TRUE(ParseFormDate("1-2-98", a, b, c));  // the third character is no separator
  EXPECT_EQ(a * 10000 + b * 100 + c, 10298);
  EXPECT_FALSE(ParseFormDate("1-2", a, b, c));
  EXPECT_FALSE(ParseFormDate("13/01/99", a, b, c));
  EXPECT_FALSE(ParseFormDate("", a, b, c));
  EXPECT_TRUE(ParseFormTime("8:00", a, b));
  EXPECT_FALSE(ParseFormTime("8", a, b));
  EXPECT_FALSE(ParseFormTime("8:60", a, b));
}

}  // namespace
}  // namespace web
