// tests/send_snpp_test.cpp - corvsend against the real corvnet32 and corvd32, and against
// an SNPP server that never answers.
#include <gtest/gtest.h>

#include "tests/web_support.h"

namespace {

using testsupport::TempDir;

const char* kUsage =
    "Corvel.   Version 1.8 Rev 5\n"
    "corvsend [@msgfile.txt] id Message\n"
    "      corvsend \"Bill\" \"My message\"\n"
    "      corvsend @filename.txt\n"
    "      corvsend id @filename.txt";

class SendSnpp : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(stack_.Ready()) << stack_.LogText(); }
  // What this run of corvsend printed (its output file collects every run in the folder).
  std::string Send(const std::vector<std::string>& args, const std::string& folder, int timeoutMs = 20000) {
    const size_t before = testsupport::ReadFile(folder + "/corvsend.out").size();
    int status = -1;
    const std::string out = stack_.Run("corvsend", args, folder, status, timeoutMs).substr(before);
    EXPECT_EQ(status, 0) << out;
    return out;
  }
  webtest::PagingStack stack_;
};

TEST_F(SendSnpp, TypicalPagePrintsNothingAndReachesThePagingServer) {
  EXPECT_EQ(Send({"Ann", "Hello"}, stack_.Dir().Path()), "");
  stack_.Dir().Write("msg.txt", "Bob\nfrom a file\n");
  EXPECT_EQ(Send({"@msg.txt"}, stack_.Dir().Path()), "");
  // A file written on Windows with a line holding only a dot: the exchange stays in step.
  stack_.Dir().Write("dots.txt", "first\r\n.\r\nlast\r\n.");
  EXPECT_EQ(Send({"Cy", "@dots.txt"}, stack_.Dir().Path()), "");
  ASSERT_TRUE(testsupport::WaitForFileText(stack_.Log(), "CORVNET32: Queued page for: Cy", 5000)) << stack_.LogText();
  ASSERT_TRUE(testsupport::WaitForFileText(stack_.Log(), "Will page Bob now", 5000)) << stack_.LogText();
  const std::string log = stack_.LogText();
  EXPECT_NE(log.find("CORVNET32: Queued page for: Ann\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Will page Ann now"), std::string::npos) << log;
  EXPECT_NE(log.find("CORVNET32: Queued page for: Bob\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("CORVSEND: Error"), std::string::npos) << log;
}

TEST_F(SendSnpp, RefusedPageSaysSo) {
  EXPECT_EQ(Send({"Nobody", "Hello"}, stack_.Dir().Path()), "Error sending page to SNPP server.\n");
  const std::string log = stack_.LogText();
  EXPECT_NE(log.find("CORVNET32: Error queuing page for: Nobody"), std::string::npos) << log;
  EXPECT_NE(log.find("CORVSEND: Error - Page not accepted by server(554)"), std::string::npos) << log;
}

TEST_F(SendSnpp, UsageAndStartUpErrorsAreExact) {
  EXPECT_EQ(Send({}, stack_.Dir().Path()), kUsage);
  EXPECT_EQ(Send({"Bill"}, stack_.Dir().Path()), kUsage);
  EXPECT_EQ(Send({"a", "b", "c"}, stack_.Dir().Path()), kUsage);
  EXPECT_EQ(Send({"Bill", "@no-such-file.txt"}, stack_.Dir().Path()), kUsage);
  TempDir empty;
  // The page.ini failure is a log line, shown on the console as well; then the start-up text.
  const std::string out = Send({"Ann", "Hello"}, empty.Path());
  EXPECT_EQ(
      out.substr(out.find(" CORVSEND: ")),
      " CORVSEND: Error opening PAGE.INI file - File not found\nThere were startup errors.  Check LOG.TXT file.\n");
  EXPECT_NE(empty.Read("log.txt").find("CORVSEND: Error opening PAGE.INI file - File not found"), std::string::npos)
      << empty.Read("log.txt");
}

TEST_F(SendSnpp, OverrideHostIsUsedForPersonsOfItsSystem) {
  // corvsend's own page.ini sends everyone to a closed port, except Cy, whose system
  // overrides the host and port with corvnet32's. Ann's system is unknown: the client keeps
  // her without the server's "System Name not valid" line, and routes her to HostName.
  TempDir client;
  uint16_t closedPort = 0;
  {
    platform::UniqueFd probe;
    ASSERT_EQ(platform::TcpListen("127.0.0.1", 0, 1, probe, closedPort), 0);
  }
  client.Write("page.ini",
               "GlobalSection\nHostName = '127.0.0.1'\nTcpPort = " + std::to_string(closedPort) +
                   "\nPagerSystemsSection\n[Far]\nPort = 'COM1'\nOverrideHostName = '127.0.0.1'\nOverrideTcpPort = " +
                   std::to_string(stack_.SnppPort()) +
                   "\nNameSection\n[Cy]\nPageID = '1003'\nPagerType = Alphanumeric\nSystemName = 'Far'\n"
                   "[Ann]\nPageID = '1001'\nPagerType = Alphanumeric\nSystemName = 'Far2'\n");
  EXPECT_EQ(Send({"Cy", "Over there"}, client.Path()), "");
  ASSERT_TRUE(testsupport::WaitForFileText(stack_.Log(), "CORVNET32: Queued page for: Cy", 5000)) << stack_.LogText();
  EXPECT_EQ(Send({"Ann", "Not there"}, client.Path()), "Error sending page to SNPP server.\n");
  EXPECT_NE(client.Read("log.txt").find("CORVSEND: Error - Can not connect to server"), std::string::npos)
      << client.Read("log.txt");
}

TEST_F(SendSnpp, ServerThatNeverAnswersAndHostThatDoesNotResolve) {
  platform::UniqueFd silent;  // accepts connections (the kernel does) and never says a word
  uint16_t silentPort = 0;
  ASSERT_EQ(platform::TcpListen("127.0.0.1", 0, 4, silent, silentPort), 0);
  TempDir quiet;
  quiet.Write("page.ini", "GlobalSection\nHostName = '127.0.0.1'\nTcpPort = " + std::to_string(silentPort) + "\n");
  EXPECT_EQ(Send({"Ann", "Hello"}, quiet.Path()), "Error sending page to SNPP server.\n");
  EXPECT_NE(quiet.Read("log.txt").find("CORVSEND: Error - Did not get responce from PAGE command\n"), std::string::npos)
      << quiet.Read("log.txt");

  TempDir lost;
  lost.Write("page.ini", "GlobalSection\nHostName = 'no-such-host.invalid'\n");
  const std::string out = Send({"Ann", "Hello"}, lost.Path());
  EXPECT_NE(out.find(" Gethostbyname failed\nError sending page to SNPP server.\n"), std::string::npos) << out;
}

}  // namespace
