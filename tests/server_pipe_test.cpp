// tests/server_pipe_test.cpp - requests on the real pipe of a running corvd32.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/server_harness.h"

namespace {

using servertest::Server;
using servertest::TotalAfter;

class ServerPipe : public ::testing::Test {
 protected:
  void Start(const std::string& ini) {
    server_.Dir().Write("page.ini", ini);
    server_.Start();
  }
  // A client connection that has sent nothing (invalid when the connect failed).
  platform::UniqueFd Connect() {
    platform::UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, server_.Pipe().c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) fd.Reset(-1);
    return fd;
  }
  Server server_;
};

TEST_F(ServerPipe, PageIsQueuedAndLogged) {
  Start(servertest::StandardIni());
  EXPECT_EQ(server_.Page("Ann", "hello"), "OK");
  EXPECT_TRUE(testsupport::WaitForFileText(server_.Dir().File("log.txt"),
                                           "CORVD32: Page Queued(#1), Will page Ann now\n", 5000));
  EXPECT_EQ(server_.Page("Nobody", "x", common::kPageKnownPerson), "ERR - Name not valid");
  EXPECT_EQ(server_.Page("Nobody", "x"), "ERR: Invalid name or Now queue is full");
  EXPECT_TRUE(testsupport::WaitForFileText(server_.Dir().File("log.txt"),
                                           "CORVD32: Error - Nobody not found in paging list\n", 5000));
  EXPECT_EQ(server_.Page("Team", "both", common::kPageKnownPerson), "OK");
  const auto three = [](const std::string& r) { return TotalAfter(r, "Total pages in All NOW Queues: ") == 3; };
  EXPECT_TRUE(three(servertest::StatusWhen(server_, 0, three)));
}

TEST_F(ServerPipe, FullMainQueueRefusesThePage) {
  Start(servertest::StandardIni());
  // The router moves 14 pages to each port queue, whose dial threads cannot deliver them.
  for (int i = 0; i < 28; ++i) ASSERT_EQ(server_.Page("Ann", "port " + std::to_string(i)), "OK");
  const auto moved = [](const std::string& r) {
    return TotalAfter(r, "Total Pages in Main Queue: ") == 0 && TotalAfter(r, "Total pages in All NOW Queues: ") == 28;
  };
  ASSERT_TRUE(moved(servertest::StatusWhen(server_, 0, moved)));
  int accepted = 0;
  std::string reply;
  for (int i = 0; i < 200; ++i) {
    reply = server_.Page("Ann", "main " + std::to_string(i));
    if (reply != "OK") break;
    ++accepted;
  }
  EXPECT_EQ(reply, "ERR: Invalid name or Now queue is full");
  EXPECT_EQ(accepted, 99);
  const std::string status = server_.Status(0);
  EXPECT_EQ(TotalAfter(status, "Total Pages in Main Queue: "), 99) << status;
  EXPECT_EQ(TotalAfter(status, "Total pages in All NOW Queues: "), 127) << status;
  EXPECT_NE(server_.Log().find("CORVD32: Error - The NOW queue is full\n"), std::string::npos);
}

TEST_F(ServerPipe, ListPagesOfFiftyFiftyTwentyForOneHundredTwentyNames) {
  // 120 listed persons and, last, three left out of the lists: they take positions but no slot.
  std::string ini = std::string(servertest::kSystemsIni) + "NameSection\n";
  for (int i = 0; i < 123; ++i) {
    ini += servertest::Person("P" + std::to_string(i), std::to_string(5000 + i),
                              i >= 120 ? "SuppressNameDisplay = Enabled\n" : "");
  }
  Start(ini);
  EXPECT_EQ(server_.List(common::kListPersons, 0).size(), 50u);
  EXPECT_EQ(server_.List(common::kListPersons, 1).size(), 50u);
  const auto last = server_.List(common::kListPersons, 2);
  ASSERT_EQ(last.size(), 20u);
  EXPECT_EQ(last.front(), "P100");
  EXPECT_EQ(last.back(), "P119");
  common::RequestRecord head = Server::Head(common::kListPersons);
  head.Parameter = 3;
  EXPECT_EQ(server_.Request(head, ""), std::string("OK\0", 3) + std::string(13, '\0') + std::string(2, '\0'));
}

TEST_F(ServerPipe, GroupsMembersAndReports) {
  Start(servertest::StandardIni());
  EXPECT_EQ(server_.List(common::kListGroups, 0), (std::vector<std::string>{"Team"}));
  EXPECT_EQ(server_.List(common::kListMembers, 0, "Team"), (std::vector<std::string>{"Ann", "Bob"}));
  const std::string status = server_.Status(1);
  EXPECT_EQ(
      status.rfind("Corvel.  Version 1.8 Rev 5\n\nNOW Queue is Empty\n\nAT Queue is Empty\n\nCurrent time is: ", 0), 0u)
      << status;
  common::RequestRecord log = Server::Head(common::kLogReport);
  const std::string tail = server_.Request(log, "");
  EXPECT_NE(tail.find("CORVD32: Paging server started successfully\n"), std::string::npos);
}

TEST_F(ServerPipe, BadRecordsGetErrAndChangeNothing) {
  Start(servertest::StandardIni());
  std::vector<char> big = common::BuildRequest(Server::Head(0), "Ann", std::string(4900, 'x'));
  big.resize(7000, 'x');
  EXPECT_EQ(server_.Send(big).substr(0, 3), "ERR");
  std::vector<char> badLength = common::BuildRequest(Server::Head(0), "Ann", "hi");
  const int16_t length = 5000;
  std::memcpy(badLength.data() + 44, &length, 2);
  EXPECT_EQ(server_.Send(badLength).substr(0, 3), "ERR");
  EXPECT_EQ(server_.Page("Ann", "x", 12).substr(0, 3), "ERR");
  EXPECT_EQ(server_.Send(std::vector<char>(10, '\0')).substr(0, 3), "ERR");
  EXPECT_EQ(TotalAfter(server_.Status(0), "Total pages in All NOW Queues: "), 0);
  EXPECT_EQ(server_.Log().find("Page Queued"), std::string::npos);
}

TEST_F(ServerPipe, ClientThatLeavesWithoutReadingDoesNotDisturbTheServer) {
  Start(servertest::StandardIni());
  const std::vector<char> request = common::BuildRequest(Server::Head(common::kStatusReport), "", "");
  for (int i = 0; i < 30; ++i) {
    // Connect, send a status request and close at once, the reply unread.
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, server_.Pipe().c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    ::close(fd);
  }
  EXPECT_EQ(server_.Page("Bob", "still here"), "OK");
  EXPECT_EQ(server_.Stop(SIGTERM), 0);
}

TEST_F(ServerPipe, TenIdleConnectionsCannotJamThePipe) {
  Start(servertest::StandardIni());
  // Ten clients connect and say nothing: one for each pipe thread, all accepted before the
  // page request below connects.
  std::vector<platform::UniqueFd> idle;
  for (int i = 0; i < 10; ++i) {
    idle.push_back(Connect());
    ASSERT_TRUE(idle.back().Valid());
  }
  // The idle ones are dropped after the receive deadline, so the page is answered well
  // within twice that, while they still hold their ends open.
  const std::vector<char> request = common::BuildRequest(Server::Head(common::kPageRequest), "Ann", "through");
  std::vector<char> reply(100);
  const int n = platform::PipeTransact(server_.Pipe(), request, reply, 10000, 2 * platform::kPipeReceiveDeadlineMs);
  ASSERT_GT(n, 0) << n;
  EXPECT_STREQ(reply.data(), "OK");  // the text; the message number follows its terminator
  EXPECT_TRUE(
      testsupport::WaitForFileText(server_.Dir().File("log.txt"), "Page Queued(#1), Will page Ann now\n", 5000));

  // A client that gives up before its request is read (it sends and closes while the pipe
  // threads are held again) is not served late: its sender was told it failed.
  idle.clear();
  for (int i = 0; i < 10; ++i) idle.push_back(Connect());
  {
    platform::UniqueFd gaveUp = Connect();
    ASSERT_EQ(::send(gaveUp.Get(), request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  }
  EXPECT_TRUE(testsupport::WaitForFileText(
      server_.Dir().File("log.txt"), "Error - Request for 'Ann' not served: its client gave up before it was read\n",
      4 * platform::kPipeReceiveDeadlineMs));
  EXPECT_EQ(server_.Page("Bob", "next"), "OK");
  EXPECT_TRUE(
      testsupport::WaitForFileText(server_.Dir().File("log.txt"), "Page Queued(#2), Will page Bob now\n", 5000));
  EXPECT_EQ(testsupport::CountInFile(server_.Dir().File("log.txt"), "Will page Ann now"), 1);
}

}  // namespace
