// The README's first command, run bounded: the whole gateway on 127.0.0.1 (corvd32 on
// simulated modems, corvnet32, corvpop32 with dovecot, corvweb under lighttpd) delivers a
// page from corvsend, one from a mail and one from the web form to the simulated pagers,
// and one to the simulated WCTP carrier, then stops everything it started.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/tcp.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;

bool PortAnswers(uint16_t port) {
  platform::UniqueFd fd;
  return platform::TcpConnect("127.0.0.1", port, 500, fd) == 0;
}

int FilesIn(const std::string& folder) {
  int n = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) n += e.is_regular_file() ? 1 : 0;
  return n;
}

TEST(Demo, PagesFromEveryFrontEndReachTheSimulatedPagersAndCarrier) {
  testsupport::TempDir dir;
  // The scratch folder itself: the modems' links in it must fit a port name (29 characters).
  const std::string scratch = dir.Path();
  const uint16_t http = testsupport::FreeTcpPort(), snpp = testsupport::FreeTcpPort(), pop = testsupport::FreeTcpPort(),
                 wctp = testsupport::FreeTcpPort();
  testsupport::ChildProcess demo("/bin/bash", {testsupport::SourcePath("tools/demo.sh"), "--bounded", "120"},
                                 dir.Path(),
                                 {{"CORVEL_BUILD_DIR", CORVEL_BINARY_DIR},
                                  {"CORVEL_DEMO_SKIP_BUILD", "1"},
                                  {"CORVEL_DEMO_DIR", scratch},
                                  {"CORVEL_DEMO_HTTP_PORT", std::to_string(http)},
                                  {"CORVEL_DEMO_SNPP_PORT", std::to_string(snpp)},
                                  {"CORVEL_DEMO_POP_PORT", std::to_string(pop)},
                                  {"CORVEL_DEMO_WCTP_PORT", std::to_string(wctp)}});
  const int status = demo.Wait(200000);
  const std::string out = demo.Output();
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("all four pages arrived"), std::string::npos) << out;
  EXPECT_NE(testsupport::ReadFile(scratch + "/record-wctp.txt").find("recipient=5559876"), std::string::npos);
  EXPECT_NE(out.find("http://127.0.0.1:" + std::to_string(http) + "/"), std::string::npos) << "the form's URL";

  // At the pagers: each text with the terminal's ACK, the form's page for both of Support.
  const std::string records =
      testsupport::ReadFile(scratch + "/record-tty1.txt") + testsupport::ReadFile(scratch + "/record-tty2.txt");
  EXPECT_NE(records.find("id=1234567 len=18 hex=53656E74207769746820636F727673656E64"), std::string::npos)
      << records;  // "Sent with corvsend" to Ann
  EXPECT_NE(records.find("text=Sent\\x20by\\x20mail"), std::string::npos) << records;
  EXPECT_NE(records.find("id=1234567 len=22 hex=53656E742066726F6D207468652077656220666F726D"), std::string::npos);
  EXPECT_NE(records.find("id=2345678 len=22 hex=53656E742066726F6D207468652077656220666F726D"), std::string::npos);
  EXPECT_EQ(records.find("verdict=NAK"), std::string::npos) << records;

  const std::string log = testsupport::ReadFile(scratch + "/log.txt");
  EXPECT_NE(log.find("CORVNET32: Queued page for: Ann"), std::string::npos) << log;  // corvsend went by SNPP
  EXPECT_NE(log.find("CORVPOP32: Sending Page for 'Bob'"), std::string::npos) << log;
  EXPECT_NE(testsupport::ReadFile(scratch + "/form-reply.html").find("Page request has been sent for: Support"),
            std::string::npos);
  // The mail was paged and then taken out of the mailbox.
  const std::string maildir = scratch + "/dovecot/mail/pager/Maildir";
  EXPECT_EQ(FilesIn(maildir + "/new") + FilesIn(maildir + "/cur"), 0);

  // Everything the demo started has stopped.
  EXPECT_NE(log.find("CORVD32: Paging server ended successfully"), std::string::npos);
  EXPECT_NE(log.find("CORVNET32: Server ended successfully"), std::string::npos);
  EXPECT_NE(log.find("CORVPOP32: Server ended successfully"), std::string::npos);
  for (const uint16_t port : {http, snpp, pop}) EXPECT_FALSE(PortAnswers(port)) << "port " << port << " still open";
  EXPECT_FALSE(fs::exists(scratch + "/tty1")) << "corvsim still running";
}

}  // namespace
