// tests/web_cgi_test.cpp - corvweb run by lighttpd in both modes, against the real corvd32
// (pipe mode) and corvnet32 (SNPP mode).
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/web_support.h"

namespace {

using webtest::Count;
using webtest::Http;

class WebCgi : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    stack_ = new webtest::PagingStack();
    web_ = new webtest::WebServer(*stack_);
  }
  static void TearDownTestSuite() {
    delete web_;
    delete stack_;
  }
  void SetUp() override {
    ASSERT_TRUE(stack_->Ready()) << stack_->LogText();
    ASSERT_TRUE(web_->Ready()) << web_->ErrorLog();
  }
  static std::string Get(const std::string& target) { return Http(web_->Port(), "GET", target).Body; }
  static std::string Post(const std::string& target, const std::string& body) {
    return Http(web_->Port(), "POST", target, body).Body;
  }
  static webtest::PagingStack* stack_;
  static webtest::WebServer* web_;
};

webtest::PagingStack* WebCgi::stack_ = nullptr;
webtest::WebServer* WebCgi::web_ = nullptr;

TEST_F(WebCgi, FormPageThroughTheExtraPathListsNamesEscaped) {
  for (const char* mode : {"/cgi-bin", "/snpp-bin"}) {
    const webtest::HttpResponse r = Http(web_->Port(), "GET", std::string(mode) + "/corvweb/form.htm");
    EXPECT_EQ(r.Status, 200) << mode;
    EXPECT_NE(r.Head.find("Content-type: text/html"), std::string::npos) << r.Head;
    EXPECT_NE(r.Body.find("<form method=\"POST\" action=\"" + std::string(mode) + "/corvweb\">"), std::string::npos)
        << mode << r.Body;
    EXPECT_NE(r.Body.find("<option> Ann\n<option> Bob\n<option> Cy\n<option> &lt;script&gt;alert(1)&lt;/script&gt;\n"
                          "<option> Sales\n"),
              std::string::npos)
        << mode << r.Body;
    EXPECT_EQ(r.Body.find("<script>"), std::string::npos) << mode;
    EXPECT_EQ(r.Body.find("%p"), std::string::npos);
  }
}

TEST_F(WebCgi, GroupQueryNarrowsTheListInBothModes) {
  for (const char* mode : {"/cgi-bin", "/snpp-bin"}) {
    const std::string body = Get(std::string(mode) + "/corvweb/form.htm?group=Sales");
    EXPECT_NE(
        body.find("<select name=\"name\" id=\"name\" multiple size=\"8\">\n<option> Ann\n<option> Bob\n</select>"),
        std::string::npos)
        << mode << body;
    EXPECT_EQ(body.find("<option> Cy"), std::string::npos) << mode;
  }
}

TEST_F(WebCgi, PostedPagesReachTheQueueAndTheResultSaysSo) {
  const std::string pipe = Post("/cgi-bin/corvweb", "name=Ann&name=Sales&message=Pipe+page+%231");
  EXPECT_NE(pipe.find("Page request has been sent for: Ann."), std::string::npos) << pipe;
  EXPECT_NE(pipe.find("Page request has been sent for: Sales."), std::string::npos) << pipe;
  const std::string snpp = Post("/snpp-bin/corvweb", "name=Cy&message=Snpp+page");
  EXPECT_NE(snpp.find("Page request has been sent for: Cy."), std::string::npos) << snpp;
  EXPECT_NE(snpp.find("<A HREF=\"/snpp-bin/corvweb?status\">"), std::string::npos) << snpp;

  ASSERT_TRUE(testsupport::WaitForFileText(stack_->Log(), "CORVNET32: Queued page for: Cy", 5000));
  const std::string log = stack_->LogText();
  EXPECT_NE(log.find("CORVD32: Page Queued("), std::string::npos) << log;
  EXPECT_GE(Count(log, "Will page Ann now"), 2);  // once by name, once as a member of Sales
  EXPECT_GE(Count(log, "Will page Bob now"), 1);
  EXPECT_GE(Count(log, "Will page Cy now"), 1);

  // The status view lists what waits in the queues.
  const std::string status = Get("/cgi-bin/corvweb?status");
  EXPECT_EQ(status.rfind("<PRE>\nCorvel.  Version 1.8 Rev 5\n", 0), 0u) << status;
  EXPECT_NE(status.find("    Cy\n"), std::string::npos) << status;
  EXPECT_NE(status.find("    Bob\n"), std::string::npos) << status;
}

TEST_F(WebCgi, FailedPagesAreShownAsFailed) {
  const std::string pipe = Post("/cgi-bin/corvweb", "name=Nobody&message=Hi");
  EXPECT_NE(pipe.find("The page for Nobody could not be sent."), std::string::npos) << pipe;
  EXPECT_EQ(pipe.find("Page request has been sent for"), std::string::npos) << pipe;
  const std::string snpp = Post("/snpp-bin/corvweb", "name=Nobody&message=Hi");
  EXPECT_NE(snpp.find("<pre>Error sending page to SNPP server.\n</pre>Error sending page request to:  Nobody.<P>"),
            std::string::npos)
      << snpp;
  const std::string date = Post("/cgi-bin/corvweb", "pagetype=2&date=someday&time=10:00&name=Ann&message=Hi");
  EXPECT_NE(date.find("Error: the date field \"someday\" is not a date"), std::string::npos) << date;
  EXPECT_NE(date.find("The page for Ann could not be sent."), std::string::npos) << date;
}

TEST_F(WebCgi, StatusAndLogViewsInBothModesShowMarkupAsText) {
  // A page for the person whose name is markup puts that name into the queue and the log.
  const std::string sent =
      Post("/cgi-bin/corvweb", "name=%3Cscript%3Ealert(1)%3C/script%3E&message=%3Cb%3Ebold%3C/b%3E");
  EXPECT_NE(sent.find("Page request has been sent for: &lt;script&gt;alert(1)&lt;/script&gt;."), std::string::npos)
      << sent;
  ASSERT_TRUE(testsupport::WaitForFileText(stack_->Log(), "Will page <script>alert(1)</script> now", 5000));
  for (const char* mode : {"/cgi-bin", "/snpp-bin"}) {
    for (const char* view : {"status", "log"}) {
      const std::string body = Get(std::string(mode) + "/corvweb?" + view);
      EXPECT_EQ(body.rfind("<PRE>\n", 0), 0u) << mode << view << body;
      EXPECT_EQ(body.find("<script>"), std::string::npos) << mode << view;
      EXPECT_NE(body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << mode << view << body;
    }
  }
  EXPECT_NE(Get("/snpp-bin/corvweb?status").find("NOW Queue List"), std::string::npos);
  EXPECT_NE(Get("/cgi-bin/corvweb?log").find("CORVD32: Paging server started successfully"), std::string::npos);
  EXPECT_EQ(Get("/cgi-bin/corvweb?help"), "");
}

TEST_F(WebCgi, RequestChecksThroughTheWebServer) {
  EXPECT_EQ(Get("/cgi-bin/corvweb"), "This script should be referenced with a METHOD of POST.\n");
  EXPECT_EQ(Http(web_->Port(), "POST", "/cgi-bin/corvweb", "name=Ann&message=x", "text/plain").Body,
            "This script can only be used to decode form results. \n");
  EXPECT_EQ(Http(web_->Port(), "POST", "/cgi-bin/corvweb", "name=Ann&message=x",
                 "application/x-www-form-urlencoded; charset=UTF-8")
                .Body,
            "This script can only be used to decode form results. \n");
  EXPECT_EQ(Http(web_->Port(), "GET", "/cgi-bin/corvweb/missing.htm").Body, "Error opening up missing.htm<p>\n");
  EXPECT_EQ(Http(web_->Port(), "GET", "/cgi-bin/wwwpage.ini").Status, 403);
}

// What a visitor may try through the web server: files outside corvweb's folder (the
// document root's own, a symlink to the password file, a climbing URL) are never printed,
// and a body over 64 KB is refused unread.
TEST_F(WebCgi, OnlyTemplatesOfTheProgramsFolderAndBoundedBodies) {
  const std::string root = web_->Dir().File("htdocs");
  testsupport::WriteFile(root + "/secret.htm", "SECRET");
  std::filesystem::create_symlink("/etc/passwd", root + "/cgi-bin/passwd.htm");
  EXPECT_EQ(Get("/cgi-bin/corvweb/secret.htm"), "Error opening up secret.htm<p>\n");
  EXPECT_EQ(Get("/cgi-bin/corvweb/passwd.htm"), "Error opening up passwd.htm<p>\n");
  for (const char* target : {"/cgi-bin/corvweb/../secret.htm", "/cgi-bin/corvweb/%2e%2e/secret.htm",
                             "/cgi-bin/corvweb/..%2f..%2f..%2fetc/passwd", "/cgi-bin/corvweb//etc/passwd"}) {
    const std::string body = Get(target);
    EXPECT_EQ(body.find("SECRET"), std::string::npos) << target;
    EXPECT_EQ(body.find("root:"), std::string::npos) << target;
  }
  const webtest::HttpResponse big =
      Http(web_->Port(), "POST", "/cgi-bin/corvweb", "name=Ann&message=" + std::string(70000, 'x'));
  EXPECT_EQ(big.Body, "This script accepts form results of at most 65536 bytes.\n");
}

}  // namespace
