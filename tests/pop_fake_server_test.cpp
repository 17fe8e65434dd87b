// corvpop32 against scripted POP3 servers: the odd greetings, silences and refusals that a
// real dovecot will not produce on demand.
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>

#include "tests/pop_support.h"
#include "tests/support/wait.h"

namespace {

using poptest::FakePagingServer;
using testsupport::ChildProcess;
using testsupport::TempDir;

constexpr int kWaitMs = 20000;

// A POP3 server that answers each command line with what Reply returns ("" = silence) and
// records the commands and when each connection came. One connection at a time; without
// a Reply each connection is closed as soon as it is accepted.
class ScriptedPopServer {
 public:
  using Reply = std::function<std::string(const std::string& command)>;
  ScriptedPopServer(std::string greeting, Reply reply) : greeting_(std::move(greeting)), reply_(std::move(reply)) {
    if (platform::TcpListen("127.0.0.1", 0, 4, listener_, port_) != 0) return;
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedPopServer() {
    platform::TcpShutdown(listener_);
    if (thread_.joinable()) thread_.join();
  }
  uint16_t Port() const { return port_; }
  std::string Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  bool WaitForCommand(const std::string& text, int timeoutMs) const {
    return testsupport::WaitUntil([&] { return Commands().find(text) != std::string::npos; }, timeoutMs);
  }
  std::vector<std::chrono::steady_clock::time_point> Connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
  }

 private:
  void Serve() {
    for (;;) {
      platform::UniqueFd conn;
      std::string peer;
      if (platform::TcpAccept(listener_, conn, peer) != 0) return;
      {
        std::lock_guard lock(mutex_);
        connections_.push_back(std::chrono::steady_clock::now());
      }
      if (!reply_) continue;
      if (!greeting_.empty()) (void)platform::TcpSendAll(conn, greeting_);
      std::string pending;
      char buf[1024];
      for (;;) {
        const int n = platform::TcpReceive(conn, buf, 30000);
        if (n <= 0) break;
        pending.append(buf, static_cast<size_t>(n));
        size_t eol;
        while ((eol = pending.find("\r\n")) != std::string::npos) {
          const std::string command = pending.substr(0, eol);
          pending.erase(0, eol + 2);
          {
            std::lock_guard lock(mutex_);
            commands_ += command + "\n";
          }
          const std::string answer = reply_(command);
          if (!answer.empty()) (void)platform::TcpSendAll(conn, answer);
        }
      }
    }
  }

  std::string greeting_;
  Reply reply_;
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::string commands_;
  std::vector<std::chrono::steady_clock::time_point> connections_;
};

class GatewayRun {
 public:
  GatewayRun(uint16_t port, const std::vector<std::string>& args = {}) {
    ::chmod(work_.Path().c_str(), 0755);
    work_.Write("POPPAGE.INI", "[Box]\nPopHostName = \"127.0.0.1\"\nPopUser = \"u\"\nPopPassword = \"p\"\nPopPort = " +
                                   std::to_string(port) + "\nPollTime = 3600\n");
    server_ = std::make_unique<FakePagingServer>(work_.File("corvd.sock"));
    process_ = std::make_unique<ChildProcess>(
        testsupport::ProgramPath("corvpop32"), args, work_.Path(),
        std::map<std::string, std::string>{{"CORVEL_PIPE", work_.File("corvd.sock")}, {"CORVEL_TIME_SCALE", "4"}});
  }
  ~GatewayRun() { process_->Stop(SIGKILL, 5000); }
  bool WaitForLog(const std::string& text, int timeoutMs = kWaitMs) const {
    return testsupport::WaitForFileText(work_.File("log.txt"), text, timeoutMs);
  }
  std::string Log() const { return work_.Read("log.txt"); }
  FakePagingServer& Server() { return *server_; }
  std::string Output() const { return process_->Output(); }

 private:
  TempDir work_;
  std::unique_ptr<FakePagingServer> server_;
  std::unique_ptr<ChildProcess> process_;
};

std::string Standard(const std::string& command, int messages, const std::string& mail) {
  if (command.rfind("USER", 0) == 0 || command.rfind("PASS", 0) == 0) return "+OK\r\n";
  if (command == "STAT") return "+OK " + std::to_string(messages) + " 100\r\n";
  if (command.rfind("RETR", 0) == 0) return mail;
  if (command.rfind("DELE", 0) == 0) return "+OK deleted\r\n";
  if (command == "QUIT") return "+OK bye\r\n";
  return "-ERR what\r\n";
}

TEST(PopScriptedServer, GreetingBeginningWithMinusIsStillSentUser) {
  ScriptedPopServer pop("-ERR not quite ready\r\n", [](const std::string& c) { return Standard(c, 0, ""); });
  GatewayRun g(pop.Port());
  ASSERT_TRUE(pop.WaitForCommand("QUIT", kWaitMs)) << pop.Commands();
  EXPECT_EQ(pop.Commands(), "USER u\nPASS p\nSTAT\nQUIT\n");
}

TEST(PopScriptedServer, RetrThatFallsSilentIsLoggedAndTheMailIsNotDeleted) {
  ScriptedPopServer pop("+OK ready\r\n", [](const std::string& c) {
    return Standard(c, 2, "+OK 100 octets\r\nSubject: alice\r\n\r\nthe rest never comes");
  });
  GatewayRun g(pop.Port());
  ASSERT_TRUE(g.WaitForLog("CORVPOP32: Error geting Mail message\n")) << g.Log();
  ASSERT_TRUE(pop.WaitForCommand("QUIT", kWaitMs)) << pop.Commands();
  EXPECT_EQ(pop.Commands(), "USER u\nPASS p\nSTAT\nRETR 1\nQUIT\n");  // no DELE, no RETR 2
  EXPECT_TRUE(g.Server().Requests().empty());
}

TEST(PopScriptedServer, UnansweredDeleEndsThePollAfterTheMailWasPaged) {
  ScriptedPopServer pop("+OK ready\r\n", [](const std::string& c) {
    if (c.rfind("DELE", 0) == 0) return std::string();
    return Standard(c, 2, "+OK 40 octets\r\nSubject: alice\r\n\r\nHello\r\n.\r\n");
  });
  GatewayRun g(pop.Port());
  ASSERT_TRUE(g.WaitForLog("CORVPOP32: Error remove Mail message from server\n")) << g.Log();
  ASSERT_TRUE(pop.WaitForCommand("QUIT", kWaitMs));
  EXPECT_EQ(pop.Commands(), "USER u\nPASS p\nSTAT\nRETR 1\nDELE 1\nQUIT\n");
  ASSERT_EQ(g.Server().Requests().size(), 1u);
  EXPECT_EQ(g.Server().Requests()[0].Message, "Hello");
}

TEST(PopScriptedServer, SilentServerFailsTheLoginAfterTheGreetingWait) {
  ScriptedPopServer pop("", [](const std::string&) { return std::string(); });
  GatewayRun g(pop.Port(), {"debug"});
  ASSERT_TRUE(g.WaitForLog("CORVPOP32: Error connecting and logging in to the POP server(127.0.0.1)\n")) << g.Log();
  EXPECT_TRUE(pop.WaitForCommand("QUIT", kWaitMs));
  EXPECT_EQ(pop.Commands(), "QUIT\n");
  EXPECT_NE(g.Output().find("POP Server greeting not seen\n"), std::string::npos) << g.Output();
}

TEST(PopScriptedServer, RefusedUserEndsTheLogin) {
  ScriptedPopServer pop("+OK ready\r\n", [](const std::string& c) {
    return c.rfind("USER", 0) == 0 ? std::string("-ERR no such user\r\n") : Standard(c, 0, "");
  });
  GatewayRun g(pop.Port(), {"debug"});
  ASSERT_TRUE(g.WaitForLog("CORVPOP32: Error connecting and logging in to the POP server(127.0.0.1)\n")) << g.Log();
  EXPECT_TRUE(pop.WaitForCommand("QUIT", kWaitMs));
  EXPECT_EQ(pop.Commands(), "USER u\nQUIT\n");
  EXPECT_NE(g.Output().find("Invalid USER\n"), std::string::npos);
}

TEST(PopScriptedServer, ConnectionRefusedIsLoggedInDetailWithDebugOn) {
  const uint16_t port = testsupport::FreeTcpPort();  // nobody listens there
  GatewayRun g(port, {"debug"});
  ASSERT_TRUE(g.WaitForLog("CORVPOP32: Error connecting and logging in to the POP server(127.0.0.1)\n")) << g.Log();
  EXPECT_NE(g.Log().find("CORVPOP32: Error - Can not connect to server\n"), std::string::npos) << g.Log();
}

TEST(PopScriptedServer, PollTimeOfZeroPollsAtMostOnceASecond) {
  ScriptedPopServer closing("", nullptr);  // every poll fails at once: only the pause parts them
  TempDir work;
  work.Write("POPPAGE.INI",
             "[Box]\nPopHostName = \"127.0.0.1\"\nPopPort = " + std::to_string(closing.Port()) + "\nPollTime = 0\n");
  FakePagingServer server(work.File("corvd.sock"));
  ChildProcess gateway(testsupport::ProgramPath("corvpop32"), {}, work.Path(),
                       {{"CORVEL_PIPE", work.File("corvd.sock")}, {"CORVEL_TIME_SCALE", "4"}});
  constexpr size_t kPolls = 6;
  ASSERT_TRUE(testsupport::WaitUntil([&] { return closing.Connections().size() >= kPolls; }, kWaitMs));
  gateway.Stop(SIGKILL);
  // Five pauses of at least a second of program time (250 ms here) lie between the first
  // and the sixth poll; without the pause the polls would follow each other within
  // milliseconds. The margin is for a slow accept of the first connection.
  const auto connections = closing.Connections();
  EXPECT_GE(connections[kPolls - 1] - connections[0], std::chrono::milliseconds(1000));
  EXPECT_GE(testsupport::CountInFile(work.File("log.txt"), "Error connecting and logging in"), 5);
}

TEST(PopScriptedServer, PortOutsideTheTcpRangeConnectsNowhere) {
  ScriptedPopServer pop("+OK ready\r\n", [](const std::string& c) { return Standard(c, 0, ""); });
  // 65536 + the server's port would wrap onto the server's port in 16 bits.
  TempDir work;
  work.Write("POPPAGE.INI", "[Box]\nPopHostName = \"127.0.0.1\"\nPopPort = " + std::to_string(65536 + pop.Port()) +
                                "\nPollTime = 3600\n");
  FakePagingServer server(work.File("corvd.sock"));
  ChildProcess gateway(testsupport::ProgramPath("corvpop32"), {}, work.Path(),
                       {{"CORVEL_PIPE", work.File("corvd.sock")}, {"CORVEL_TIME_SCALE", "4"}});
  ASSERT_TRUE(testsupport::WaitForFileText(work.File("log.txt"), "Error connecting and logging in", kWaitMs));
  EXPECT_EQ(pop.Commands(), "");
  gateway.Stop(SIGKILL);
}

}  // namespace
