// tests/web_browser_test.cpp - a real browser at the form: Debian's chromium (driven by
// playwright-core, headless) picks two names, types a message and sends it through
// lighttpd and corvweb to corvd32, in pipe mode and in SNPP mode.
#include <gtest/gtest.h>

#include "tests/web_support.h"

namespace {

// JSON strings of the browser's report keep "<" and ">" as they are; only quotes and
// backslashes are escaped, and none of the checked texts holds either.
struct BrowserRun {
  int Status = -1;
  std::string Report;
};

BrowserRun SendFromBrowser(const webtest::WebServer& web, const testsupport::TempDir& dir, const std::string& mode,
                           const std::string& first, const std::string& second, const std::string& message,
                           const std::string& screenshot) {
  const std::string job = "{\"formUrl\":\"" + web.Url(mode + "/corvweb/form.htm") + "\",\"statusUrl\":\"" +
                          web.Url(mode + "/corvweb?status") + "\",\"names\":[\"" + first + "\",\"" + second +
                          "\"],\"message\":\"" + message + "\",\"userDataDir\":\"" + dir.File("profile") +
                          "\",\"screenshot\":\"" + screenshot + "\"}";
  testsupport::ChildProcess node("/usr/bin/node", {testsupport::SourcePath("tests/browser/send_page.js"), job},
                                 dir.Path(), {{"PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD", "1"}});
  BrowserRun run;
  run.Status = node.Wait(100000);
  if (run.Status == -1) node.Stop(9, 5000);
  run.Report = node.Output();
  return run;
}

class WebBrowser : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::FileExists("/usr/bin/chromium")) << "chromium is installed by tools/packages/web.txt";
    ASSERT_TRUE(testsupport::FileExists(testsupport::SourcePath("tests/browser/node_modules/playwright-core")))
        << "playwright-core is installed by tools/setup-web.sh";
    ASSERT_TRUE(stack_.Ready()) << stack_.LogText();
    ASSERT_TRUE(web_.Ready()) << web_.ErrorLog();
  }
  webtest::PagingStack stack_;
  webtest::WebServer web_{stack_};
  testsupport::TempDir browserDir_;
};

TEST_F(WebBrowser, PipeModePostReachesTheQueue) {
  const std::string shot = std::string(CORVEL_BINARY_DIR) + "/web-form.png";
  const BrowserRun run = SendFromBrowser(web_, browserDir_, "/cgi-bin", "Ann", "Bob", "Hello from the browser", shot);
  ASSERT_EQ(run.Status, 0) << run.Report;
  EXPECT_NE(run.Report.find("\"options\":[\"Ann\",\"Bob\",\"Cy\",\"<script>alert(1)</script>\",\"Sales\"]"),
            std::string::npos)
      << run.Report;
  EXPECT_NE(run.Report.find("\"formAction\":\"/cgi-bin/corvweb\""), std::string::npos) << run.Report;
  EXPECT_NE(run.Report.find("\"dialogs\":[]"), std::string::npos) << run.Report;
  EXPECT_NE(run.Report.find("Page request has been sent for: Ann."), std::string::npos) << run.Report;
  EXPECT_NE(run.Report.find("Page request has been sent for: Bob."), std::string::npos) << run.Report;
  EXPECT_TRUE(testsupport::FileExists(shot));

  ASSERT_TRUE(testsupport::WaitForFileText(stack_.Log(), "Will page Bob now", 5000)) << stack_.LogText();
  EXPECT_NE(stack_.LogText().find("Will page Ann now"), std::string::npos);
  // The status page the browser opened after the post lists both pages in a queue.
  EXPECT_NE(run.Report.find("    Ann\\n    Bob\\n"), std::string::npos) << run.Report;
}

TEST_F(WebBrowser, SnppModePostWithAMarkupNameRunsNoScript) {
  const BrowserRun run = SendFromBrowser(web_, browserDir_, "/snpp-bin", "Cy", "<script>alert(1)</script>",
                                         "Via SNPP <img src=x onerror=alert(2)>", "");
  ASSERT_EQ(run.Status, 0) << run.Report;
  EXPECT_NE(run.Report.find("\"dialogs\":[]"), std::string::npos) << run.Report;
  EXPECT_NE(run.Report.find("Page request has been sent for: Cy."), std::string::npos) << run.Report;
  EXPECT_NE(run.Report.find("Page request has been sent for: <script>alert(1)</script>."), std::string::npos)
      << run.Report;
  ASSERT_TRUE(testsupport::WaitForFileText(stack_.Log(), "CORVNET32: Queued page for: <script>alert(1)</script>", 5000))
      << stack_.LogText();
  EXPECT_NE(stack_.LogText().find("CORVNET32: Queued page for: Cy"), std::string::npos);
  EXPECT_NE(stack_.LogText().find("Will page Cy now"), std::string::npos);
}

}  // namespace
