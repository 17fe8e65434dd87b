// tests/server_startup_test.cpp - corvd32 from start to stop, as an administrator sees it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <csignal>
#include <sstream>
#include <vector>

#include "tests/server_harness.h"

namespace {

using servertest::Server;
using testsupport::CountInFile;
using testsupport::FileExists;
using testsupport::WaitForFileText;

// The lines of a log, each checked for the "%t CORVD32: " form and returned without it.
std::vector<std::string> LogTexts(const std::string& log) {
  const std::string shape = "9999-99-99 99:99 CORVD32: ";
  std::vector<std::string> texts;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    bool stamped = line.size() > shape.size();
    for (size_t i = 0; stamped && i < shape.size(); ++i) {
      stamped = shape[i] == '9' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == shape[i];
    }
    EXPECT_TRUE(stamped) << line;
    texts.push_back(stamped ? line.substr(shape.size()) : line);
  }
  return texts;
}

TEST(ServerStartup, WithPageIniLogsStartAndEndAndEndsWithStatusZeroOnSigint) {
  Server server;
  server.Dir().Write("page.ini", servertest::StandardIni());
  server.Start();
  EXPECT_NE(server.Output().find("Corvel. Paging Server.  Version 1.8 Rev 5\n"), std::string::npos);
  EXPECT_EQ(server.Stop(SIGINT), 0);
  const std::string log = server.Log();
  const std::vector<std::string> texts = LogTexts(log);
  ASSERT_GE(texts.size(), 3u) << log;
  EXPECT_EQ(texts[0], "Paging Server Starting.  Version 1.8 Rev 5");
  EXPECT_EQ(texts[1], "Paging server started successfully");
  EXPECT_EQ(texts.back(), "Paging server ended successfully");
  EXPECT_EQ(log.back(), '\n');
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

// The stop woke the pipe threads by connecting to the socket file; with the file gone
// (a temporary folder cleaned, an administrator's rm) corvd32 hung for ever on SIGTERM.
TEST(ServerStartup, EndsOnSigtermAfterItsSocketFileWasRemoved) {
  Server server;
  server.Start();
  ASSERT_EQ(::unlink(server.Pipe().c_str()), 0);
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
