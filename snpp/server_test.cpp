// snpp/server_test.cpp - the server in this process: sessions on real sockets against a
// stand-in pipe, and a stop that wakes and joins every thread it started.
#include "snpp/server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "common/log.h"
#include "platform/tcp.h"
#include "tests/support/fake_paging_server.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"

namespace snpp {
namespace {

constexpr int kWaitMs = 10000;
const std::string kGreeting = "220 SNPP Gateway Ready (Corvel.Version1.8 Rev 5)\r\n";

// Runs f on a thread of its own and waits at most kWaitMs for it. A call that does not
// return in time is a hang: the test ends the process rather than wait for ever.
template <typename F>
void WithinTheWait(F f, const char* what) {
  auto done = std::async(std::launch::async, f);
  if (done.wait_for(std::chrono::milliseconds(kWaitMs)) != std::future_status::ready) {
    ADD_FAILURE() << what << " did not return";
    std::abort();
  }
  done.get();
}

// Reads CR LF lines from a connection, each wait bounded.
class Client {
 public:
  bool Connect(uint16_t port) { return platform::TcpConnect("127.0.0.1", port, kWaitMs, fd_) == 0; }
  void Send(std::string_view text) { EXPECT_EQ(platform::TcpSendAll(fd_, text), 0); }
  std::string Line() {
    for (;;) {
      if (const size_t end = pending_.find("\r\n"); end != std::string::npos) {
        std::string line = pending_.substr(0, end + 2);
        pending_.erase(0, end + 2);
        return line;
      }
      char buf[512];
      const int n = platform::TcpReceive(fd_, buf, kWaitMs);
      if (n <= 0) return "";
      pending_.append(buf, static_cast<size_t>(n));
    }
  }
  // True when the server closed the connection (within the wait).
  bool Closed() {
    char buf[512];
    for (;;) {
      const int n = platform::TcpReceive(fd_, buf, kWaitMs);
      if (n == 0) return true;
      if (n < 0) return n != -ETIMEDOUT;
    }
  }

 private:
  platform::UniqueFd fd_;
  std::string pending_;
};

class SnppServerInProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    common::SetProgramName("CORVNET32");
    common::SetLogFileName(dir_.File("log.txt"));
    server_ = std::make_unique<SnppServer>(
        names_, [this](std::span<const char> request, std::span<char> reply) { return pipe_.Call(request, reply); });
  }
  void TearDown() override {
    if (server_) WithinTheWait([this] { server_.reset(); }, "the server's destructor");
  }
  uint16_t Start() {
    uint16_t port = 0;
    EXPECT_EQ(server_->Listen(0, port), kListening);
    server_->StartAccepting([this](int status) { lost_ = status; });
    return port;
  }

  testsupport::TempDir dir_;
  testsupport::DirectPagingServer pipe_;
  NameCache names_;
  std::atomic<int> lost_{0};
  std::unique_ptr<SnppServer> server_;
};

TEST_F(SnppServerInProcess, SessionsAreServedAndAStopClosesAndJoinsThemAll) {
  const uint16_t port = Start();
  names_.Replace({"ann"}, {});
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 3; ++i) {
    auto c = std::make_unique<Client>();
    ASSERT_TRUE(c->Connect(port));
    EXPECT_EQ(c->Line(), kGreeting);
    clients.push_back(std::move(c));
  }
  clients[0]->Send("PAGE ann\r\nMESS hi\r\nSEND\r\nLIST\r\n");
  EXPECT_EQ(clients[0]->Line(), "250 Pager ID Accepted\r\n");
  EXPECT_EQ(clients[0]->Line(), "250 Message OK\r\n");
  EXPECT_EQ(clients[0]->Line(), "250 Message Sent OK\r\n");
  EXPECT_EQ(clients[0]->Line(), "215 Start of Name and Group List\r\n");
  EXPECT_EQ(clients[0]->Line(), "216 ann\r\n");
  EXPECT_EQ(clients[0]->Line(), "217 End of Names and Groups\r\n");
  ASSERT_EQ(pipe_.Pages().size(), 1u);
  EXPECT_EQ(pipe_.Pages()[0].Message, "hi \n");
  clients[1]->Send("DATA\r\nhalf a messa");  // one waits in the middle of a message
  EXPECT_EQ(clients[1]->Line(), "354 Begin Input, End With <CRLF>.<CRLF>\r\n");
  EXPECT_EQ(server_->ConnectionCount(), 3);

  WithinTheWait([this] { server_->Stop(); }, "Stop");
  for (auto& c : clients) EXPECT_TRUE(c->Closed());
  EXPECT_EQ(server_->ConnectionCount(), 0);
  EXPECT_EQ(pipe_.Pages().size(), 1u);  // the message cut off by the stop went nowhere
  EXPECT_EQ(lost_.load(), 0);           // a stop is no lost listener
  EXPECT_EQ(dir_.Read("log.txt").find("Error accepting socket"), std::string::npos);
  Client late;
  EXPECT_FALSE(late.Connect(port) && late.Line() == kGreeting);
}

TEST_F(SnppServerInProcess, SlotOfAFinishedSessionIsTakenAgain) {
  const uint16_t port = Start();
  for (int i = 0; i < 3; ++i) {
    Client c;
    ASSERT_TRUE(c.Connect(port));
    EXPECT_EQ(c.Line(), kGreeting);
    c.Send("QUIT\r\n");
    EXPECT_EQ(c.Line(), "221 OK, Goodbye\r\n");
    EXPECT_TRUE(c.Closed());
    EXPECT_TRUE(testsupport::WaitUntil([this] { return server_->ConnectionCount() == 0; }, kWaitMs));
  }
}

TEST_F(SnppServerInProcess, StopCutsTheBindRetriesAndTheWatchShort) {
  platform::UniqueFd holder;
  uint16_t taken = 0;
  ASSERT_EQ(platform::TcpListen("", 0, 1, holder, taken), 0);
  dir_.Write("page.ini", "; directory\n");
  server_->StartWatch(dir_.File("page.ini"));  // takes its first stamp, then sleeps six minutes
  auto listening = std::async(std::launch::async, [this, taken] {
    uint16_t port = 0;
    return server_->Listen(taken, port);
  });
  ASSERT_TRUE(
      testsupport::WaitForFileText(dir_.File("log.txt"), "Error Binding to port - Will retry in 3 minutes", kWaitMs));
  WithinTheWait([this] { server_->Stop(); }, "Stop");
  ASSERT_EQ(listening.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
  EXPECT_EQ(listening.get(), kStoppedWhileBinding);
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "Error Binding to port"), 1);
}

}  // namespace
}  // namespace snpp
