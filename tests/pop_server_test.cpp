// The whole road of a mail: dovecot -> corvpop32 -> corvd32, all three on this machine,
// the gateway and the paging server sharing their folder and log.txt.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/pop_support.h"

namespace {

using poptest::Dovecot;
using testsupport::ChildProcess;
using testsupport::TempDir;

constexpr int kWaitMs = 40000;  // a stopped server costs each recipient the 10 s pipe wait

// Persons on a system whose port does not exist: pages are queued and stay queued.
const char kPageIni[] =
    "PagerSystemsSection\n[Metro]\nSystemType = Tap\nPort = 'no-such-port/x'\nBaud = 2400\n"
    "SystemPhoneNumber = '5550100'\n"
    "NameSection\n[alice]\nPageID = '111'\nSystemName = 'Metro'\n"
    "[bob]\nPageID = '222'\nSystemName = 'Metro'\n";

class PopWithCorvd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::FileExists(testsupport::ProgramPath("corvd32"))) GTEST_SKIP() << "corvd32 is not built";
    ::chmod(work_.Path().c_str(), 0755);
    dovecot_.AddUser("ops", "pw-ops");
    ASSERT_TRUE(dovecot_.Start()) << dovecot_.Output() << dovecot_.LogText();
    work_.Write("page.ini", kPageIni);
    work_.Write("POPPAGE.INI",
                "[Ops]\nPopHostName = \"127.0.0.1\"\nPopUser = \"ops\"\nPopPassword = \"pw-ops\"\nPopPort = " +
                    std::to_string(dovecot_.Port()) + "\nPollTime = 3600\n");
    corvd_ = std::make_unique<ChildProcess>(testsupport::ProgramPath("corvd32"), std::vector<std::string>{},
                                            work_.Path(), Env());
    ASSERT_TRUE(testsupport::WaitForPipe(Pipe(), kWaitMs)) << corvd_->Output();
  }
  void TearDown() override {
    if (gateway_) gateway_->Stop(SIGKILL);
    if (corvd_) corvd_->Stop(SIGKILL);
  }
  std::string Pipe() const { return work_.File("pipe"); }
  std::map<std::string, std::string> Env() const { return {{"CORVEL_PIPE", Pipe()}, {"CORVEL_TIME_SCALE", "4"}}; }
  void StartGateway() {
    gateway_ = std::make_unique<ChildProcess>(testsupport::ProgramPath("corvpop32"), std::vector<std::string>{},
                                              work_.Path(), Env());
  }
  bool WaitForLog(const std::string& text) const {
    return testsupport::WaitForFileText(work_.File("log.txt"), text, kWaitMs);
  }
  std::string Log() const { return work_.Read("log.txt"); }

  TempDir work_;
  Dovecot dovecot_;
  std::unique_ptr<ChildProcess> corvd_;
  std::unique_ptr<ChildProcess> gateway_;
};

TEST_F(PopWithCorvd, MailInTheMailboxBecomesOneQueuedPagePerRecipient) {
  dovecot_.Drop("ops", "From: Monitor <monitor@example.org>\r\nSubject: alice, bob\r\n\r\nUPS on battery\r\n");
  StartGateway();
  EXPECT_TRUE(WaitForLog("CORVD32: Page Queued(#")) << Log();
  EXPECT_TRUE(WaitForLog("), Will page alice now\n")) << Log();
  EXPECT_TRUE(WaitForLog("), Will page bob now\n")) << Log();
  EXPECT_TRUE(dovecot_.WaitForMailCount("ops", 0, kWaitMs));
  const std::string log = Log();
  EXPECT_NE(log.find("CORVPOP32: Sending Page for 'alice' to Paging Server from Monitor  <monitor@example.org>\n"),
            std::string::npos);
  EXPECT_LT(log.find("Sending Page for 'alice'"), log.find("Will page alice now"));
  EXPECT_EQ(log.find("Error queuing page"), std::string::npos) << log;
}

TEST_F(PopWithCorvd, PagingServerStoppedKeepsTheMailAndTheNextPollPagesIt) {
  dovecot_.Drop("ops", "Subject: alice, bob\r\n\r\nUPS on battery\r\n");
  StartGateway();
  ASSERT_TRUE(WaitForLog("CORVPOP32: Gateway started successfully\n")) << Log();
  corvd_->Stop(SIGKILL);  // gone before the poll's first request (the login pauses first)
  EXPECT_TRUE(WaitForLog("CORVPOP32: Error queuing page for: alice\n")) << Log();
  EXPECT_TRUE(WaitForLog("CORVPOP32: Error queuing page for: bob\n")) << Log();
  EXPECT_TRUE(WaitForLog("CORVPOP32: Mail kept for the next poll")) << Log();
  gateway_->Stop(SIGTERM);
  EXPECT_EQ(dovecot_.MailCount("ops"), 1);
  // The paging server is back; the gateway's next poll (here: its start) pages the mail.
  corvd_ = std::make_unique<ChildProcess>(testsupport::ProgramPath("corvd32"), std::vector<std::string>{}, work_.Path(),
                                          Env());
  ASSERT_TRUE(testsupport::WaitForPipe(Pipe(), kWaitMs)) << corvd_->Output();
  StartGateway();
  EXPECT_TRUE(WaitForLog("Will page alice now\n")) << Log();
  EXPECT_TRUE(WaitForLog("Will page bob now\n")) << Log();
  EXPECT_TRUE(dovecot_.WaitForMailCount("ops", 0, kWaitMs));
}

TEST_F(PopWithCorvd, MailForNoKnownRecipientIsDeleted) {
  dovecot_.Drop("ops", "Subject: nobody\r\n\r\nLost\r\n");
  StartGateway();
  EXPECT_TRUE(WaitForLog("CORVPOP32: Error queuing page for: nobody\n")) << Log();
  EXPECT_TRUE(dovecot_.WaitForMailCount("ops", 0, kWaitMs));
}

}  // namespace
