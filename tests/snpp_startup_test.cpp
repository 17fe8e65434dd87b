// tests/snpp_startup_test.cpp - corvnet32's start-up, configuration, shutdown and name
// refresh, with a stand-in paging server on its pipe whose answers the test controls, so
// every request that reaches the "paging server" can be checked byte for byte.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/snpp_test_client.h"
#include "tests/support/fake_paging_server.h"

namespace {

using snpptest::Corvnet;
using snpptest::kGreeting;
using snpptest::SnppTestClient;

class SnppStartup : public ::testing::Test {
 protected:
  void SetUp() override {
    pipe_ = std::make_unique<testsupport::FakePagingServer>(dir_.File("pipe"));
    ASSERT_TRUE(pipe_->Listening());
    pipe_->StandIn().SetPersons({"ann", "bob", "Orlen Vask"});
    pipe_->StandIn().SetGroup("Sales", {"ann", "bob"});
  }

  // Starts corvnet32 on a free port and connects one client, greeting read.
  void Start(std::map<std::string, std::string> env = {}) {
    server_ = std::make_unique<Corvnet>(dir_, dir_.File("pipe"), testsupport::FreeTcpPort(), env);
    ASSERT_TRUE(server_->Started()) << server_->Process().Output();
  }
  std::unique_ptr<SnppTestClient> Client() {
    auto c = std::make_unique<SnppTestClient>();
    EXPECT_TRUE(c->Connect(server_->Port()));
    EXPECT_EQ(c->ReadLines(1), kGreeting);
    return c;
  }

  testsupport::TempDir dir_;
  std::unique_ptr<testsupport::FakePagingServer> pipe_;
  std::unique_ptr<Corvnet> server_;
};

TEST_F(SnppStartup, BannerAndStartUpLines) {
  Start();
  const std::string log = server_->Log();
  EXPECT_NE(log.find("CORVNET32: SNPP Server Starting.  Version 1.8 Rev 5\n"), std::string::npos);
  EXPECT_NE(log.find("CORVNET32: Total Names: 4  Total Groups: 1\n"), std::string::npos);  // persons and groups
  EXPECT_NE(log.find("CORVNET32: Server started successfully\n"), std::string::npos);
  EXPECT_EQ(log.find("No TcpPort"), std::string::npos);
  EXPECT_EQ(
      server_->Process().Output().rfind("Corvel.  Version 1.8 Rev 5\nSimple network paging protocol(SNPP) Server.\n"
                                        "For use with Corvel's Paging Server.\n",
                                        0),
      0u);
  auto c = Client();
  c->Send("PAGE ann\r\nMESS hi\r\nSEND\r\n");
  EXPECT_EQ(c->ReadLines(3), "250 Pager ID Accepted\r\n250 Message OK\r\n250 Message Sent OK\r\n");
  ASSERT_EQ(pipe_->Pages().size(), 1u);
  EXPECT_EQ(pipe_->Pages()[0].Message, "hi \n");
}

TEST_F(SnppStartup, StopSignalClosesEveryConnectionAndEndsWithStatusZero) {
  Start();
  auto a = Client();
  auto b = Client();
  EXPECT_EQ(server_->Process().Stop(SIGTERM), 0);
  bool closed = false;
  a->ReadUntilClosed(closed);
  EXPECT_TRUE(closed);
  b->ReadUntilClosed(closed);
  EXPECT_TRUE(closed);
  EXPECT_NE(server_->Log().find("CORVNET32: Server ended successfully\n"), std::string::npos);
}

TEST_F(SnppStartup, PageIniChangeRefreshesTheNames) {
  dir_.Write("page.ini", "; directory\n");
  namespace fs = std::filesystem;
  fs::last_write_time(dir_.File("page.ini"), fs::file_time_type::clock::now() - std::chrono::hours(12));
  Start({{"CORVEL_TIME_SCALE", "1000"}});  // checks every 360 ms, 90 ms after a change
  pipe_->StandIn().SetPersons({"carl"});
  pipe_->StandIn().ClearGroups();
  // Until a check sees it: a change made before the first check only sets the first stamp.
  bool seen = false;
  for (int hoursBack = 1; hoursBack <= 5 && !seen; ++hoursBack) {
    fs::last_write_time(dir_.File("page.ini"), fs::file_time_type::clock::now() - std::chrono::hours(hoursBack) -
                                                   std::chrono::minutes(hoursBack));
    seen = testsupport::WaitForFileText(dir_.File("log.txt"),
                                        "PAGE.INI has changed - Getting new list from paging server", 2000);
  }
  ASSERT_TRUE(seen);
  ASSERT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "Total Names: 1  Total Groups: 0", snpptest::kWaitMs));
  auto c = Client();
  c->Send("LIST\r\n");
  EXPECT_EQ(c->ReadLines(3), "215 Start of Name and Group List\r\n216 carl\r\n217 End of Names and Groups\r\n");
}

// Out of descriptors, accepting fails: the failure is shown, the server goes on, and the
// clients that waited are greeted as soon as descriptors are free again.
TEST_F(SnppStartup, AcceptErrorsFromDescriptorExhaustionPass) {
  const uint16_t port = testsupport::FreeTcpPort();
  dir_.Write("SNPP.INI", "TcpPort=" + std::to_string(port) + "\n");
  testsupport::ChildProcess server("/bin/sh", {"-c", "ulimit -n 16 && exec " + testsupport::ProgramPath("corvnet32")},
                                   dir_.Path(), {{"CORVEL_PIPE", dir_.File("pipe")}});
  ASSERT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "Server started successfully", snpptest::kWaitMs))
      << server.Output();
  std::vector<std::unique_ptr<SnppTestClient>> greeted, waiting;
  for (int i = 0; i < 20; ++i) {
    auto c = std::make_unique<SnppTestClient>();
    ASSERT_TRUE(c->Connect(port));
    (c->ReadLines(1, 300) == kGreeting ? greeted : waiting).push_back(std::move(c));
  }
  ASSERT_FALSE(waiting.empty()) << "the descriptor limit did not bite";
  ASSERT_TRUE(
      testsupport::WaitForFileText(dir_.File("sh.out"), "CORVNET32: Error accepting socket", snpptest::kWaitMs));
  for (auto& c : greeted) c->Send("QUIT\r\n");
  greeted.clear();
  // Each waiting client is greeted in turn; each one served and gone frees the next descriptor.
  for (auto& c : waiting) {
    EXPECT_EQ(c->ReadLines(1), kGreeting);
    c->Send("RESE\r\nQUIT\r\n");
    EXPECT_EQ(c->ReadLines(2), "250 RESET OK\r\n221 OK, Goodbye\r\n");
    c->Close();
  }
  EXPECT_TRUE(server.Running());
}

// Start-up without its pieces: each ends the program with its status and its line.
TEST_F(SnppStartup, MissingSnppIniEndsWithStatusZero) {
  Corvnet server(dir_, dir_.File("pipe"), 0);
  EXPECT_EQ(server.Process().Wait(snpptest::kWaitMs), 0);
  EXPECT_NE(server.Log().find("CORVNET32: Error reading SNPP.INI\n"), std::string::npos);
}

TEST_F(SnppStartup, PortInUseIsTriedFiveTimesThenExitsWithStatusThree) {
  platform::UniqueFd holder;
  uint16_t port = 0;
  ASSERT_EQ(platform::TcpListen("", 0, 1, holder, port), 0);
  Corvnet server(dir_, dir_.File("pipe"), port, {{"CORVEL_TIME_SCALE", "1000"}});
  EXPECT_EQ(server.Process().Wait(snpptest::kWaitMs), 3);
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "Error Binding to port - Will retry in 3 minutes"), 5);
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "Error Binding to port - Exiting - Try ReBooting"), 1);
}

TEST_F(SnppStartup, StopSignalWhileABindWaitsToBeRetriedEndsAtOnce) {
  platform::UniqueFd holder;
  uint16_t port = 0;
  ASSERT_EQ(platform::TcpListen("", 0, 1, holder, port), 0);
  Corvnet server(dir_, dir_.File("pipe"), port);  // real time: the next attempt is 3 minutes away
  ASSERT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "Error Binding to port - Will retry in 3 minutes",
                                           snpptest::kWaitMs));
  EXPECT_EQ(server.Process().Stop(SIGTERM), 0);
  EXPECT_NE(server.Log().find("CORVNET32: Server ended successfully\n"), std::string::npos);
  EXPECT_EQ(server.Log().find("Exiting - Try ReBooting"), std::string::npos);
}

TEST_F(SnppStartup, FailedNameFetchEndsWithStatusZero) {
  // A paging server that answers, but every request with an error.
  pipe_.reset();
  pipe_ = std::make_unique<testsupport::FakePagingServer>(
      dir_.File("pipe"), [](const testsupport::PipeRequest&) { return testsupport::PipeReply("ERR"); });
  ASSERT_TRUE(pipe_->Listening());
  Corvnet server(dir_, dir_.File("pipe"), testsupport::FreeTcpPort());
  EXPECT_EQ(server.Process().Wait(snpptest::kWaitMs), 0);
  const std::string log = server.Log();
  EXPECT_NE(log.find("CORVNET32: Paging server not found.  Make sure Paging Server is running\n"), std::string::npos);
  EXPECT_NE(log.find("CORVNET32: Error geting Names and Groups from the paging server\n"), std::string::npos);
  EXPECT_EQ(log.find("Server started successfully"), std::string::npos);
}

TEST_F(SnppStartup, AbsentPagingServerIsAwaitedThenGivenUp) {
  pipe_->Stop();
  Corvnet server(dir_, dir_.File("pipe"), testsupport::FreeTcpPort(), {{"CORVEL_TIME_SCALE", "1000"}});
  EXPECT_EQ(server.Process().Wait(snpptest::kWaitMs), 0);
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "CORVNET32: Waiting for Paging Server to start"), 1);
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "CORVNET32: Timeout - Paging Server has not started"), 1);
}

}  // namespace
