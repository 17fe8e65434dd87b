// tests/server_startup_test.cpp - corvd32 from start to stop, as an administrator sees it.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>

#include "tests/server_harness.h"

namespace {

using servertest::Server;
using testsupport::CountInFile;
using testsupport::FileExists;
using testsupport::WaitForFileText;

const char* kStamp = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d CORVD32: ";

TEST(ServerStartup, WithPageIniLogsStartAndEndAndEndsWithStatusZeroOnSigint) {
  Server server;
  server.Dir().Write("page.ini", servertest::StandardIni());
  server.Start();
  EXPECT_NE(server.Output().find("Corvel. Paging Server.  Version 1.8 Rev 5\n"), std::string::npos);
  EXPECT_EQ(server.Stop(SIGINT), 0);
  const std::string log = server.Log();
  EXPECT_TRUE(std::regex_search(log, std::regex(std::string("^") + kStamp + "Paging Server Starting\\.  Version 1\\.8 Rev 5\n" +
                                                kStamp + "Paging server started successfully\n")))
      << log;
  EXPECT_TRUE(std::regex_search(log, std::regex(std::string(kStamp) + "Paging server ended successfully\n$"))) << log;
  EXPECT_EQ(log.find("Error opening PAGE.INI"), std::string::npos);
  EXPECT_FALSE(FileExists(server.Dir().File("err.dat")));
}

TEST(ServerStartup, WithoutPageIniStillStartsAndEndsOnSigterm) {
  Server server;
  server.Start();
  const std::string log = server.Log();
  const size_t missing = log.find("CORVD32: Error opening PAGE.INI file - File not found\n");
  ASSERT_NE(missing, std::string::npos) << log;
  EXPECT_GT(log.find("CORVD32: Paging server started successfully\n"), missing);
  EXPECT_EQ(server.Page("Ann", "nobody is known"), "ERR: Invalid name or Now queue is full");
  EXPECT_EQ(server.Stop(SIGTERM), 0);
  EXPECT_EQ(CountInFile(server.Dir().File("log.txt"), "Paging server ended successfully\n"), 1);
}

TEST(ServerStartup, DebugInPageIniCreatesErrDat) {
  Server server;
  server.Dir().Write("page.ini", "Debug = Enabled\n" + servertest::StandardIni());
  server.Start();
  EXPECT_TRUE(FileExists(server.Dir().File("err.dat")));
  EXPECT_EQ(testsupport::ReadFile(server.Dir().File("err.dat")), "");
  EXPECT_NE(server.Output().find("NamePipe Thread started\n"), std::string::npos);
  EXPECT_EQ(server.Stop(SIGINT), 0);
}

TEST(ServerStartup, DebugSwitchTracesWithoutErrDat) {
  Server server;
  server.Dir().Write("page.ini", servertest::StandardIni());
  server.Start({"-debugmode"});
  EXPECT_EQ(server.Page("Ann", "traced"), "OK");
  EXPECT_TRUE(WaitForFileText(server.Dir().File("corvd32.out"), "\nAnn:traced\n", 5000)) << server.Output();
  EXPECT_FALSE(FileExists(server.Dir().File("err.dat")));
  EXPECT_EQ(server.Stop(SIGINT), 0);
}

TEST(ServerStartup, UpperCaseDebugIsNoSwitch) {
  Server server;
  server.Dir().Write("page.ini", servertest::StandardIni());
  server.Start({"DEBUG"});
  EXPECT_EQ(server.Page("Ann", "quiet"), "OK");
  EXPECT_TRUE(WaitForFileText(server.Dir().File("log.txt"), "Will page Ann now", 5000));
  EXPECT_EQ(server.Output().find("\nAnn:quiet\n"), std::string::npos);
  EXPECT_EQ(server.Stop(SIGTERM), 0);
}

}  // namespace
