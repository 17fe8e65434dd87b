// The POP3 dialogue of one poll against scripted servers on 127.0.0.1: replies with bare
// line feeds, a STAT count no mailbox holds, refusals, and stops that must end every wait.
#include "popgate/pop_client.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include "common/log.h"
#include "platform/tcp.h"
#include "popgate/gateway.h"
#include "tests/support/wait.h"

namespace popgate {
namespace {

// The pause before USER at a quarter of its length, as the end-to-end tests run it; set
// before anything reads the clock's scale.
const int kTimeScaleSet = ::setenv("CORVEL_TIME_SCALE", "4", 1);

using testsupport::WaitUntil;

// A POP3 server for one test: greets, answers each command line with what answer returns
// ("" = silence) and records the commands. One connection at a time; closeAtOnce closes
// each connection as soon as it is accepted.
class ScriptedServer {
 public:
  using Answer = std::function<std::string(const std::string& command)>;
  ScriptedServer(std::string greeting, Answer answer, bool closeAtOnce = false)
      : greeting_(std::move(greeting)), answer_(std::move(answer)), closeAtOnce_(closeAtOnce) {
    if (platform::TcpListen("127.0.0.1", 0, 8, listener_, port_) != 0) return;
    thread_ = std::jthread([this](std::stop_token stop) { Serve(stop); });
  }
  ~ScriptedServer() {
    thread_.request_stop();
    platform::TcpShutdown(listener_);  // wakes the accept
  }
  uint16_t Port() const { return port_; }
  std::string Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  int Accepted() const { return accepted_; }
  int Closed() const { return closed_; }
  bool WaitForCommand(const std::string& text) const {
    return WaitUntil([&] { return Commands().find(text) != std::string::npos; }, 10000);
  }

 private:
  void Serve(std::stop_token stop) {
    while (!stop.stop_requested()) {
      platform::UniqueFd conn;
      std::string peer;
      if (platform::TcpAccept(listener_, conn, peer) != 0) return;
      ++accepted_;
      if (!closeAtOnce_) Converse(conn, stop);
      conn.Reset();
      ++closed_;
    }
  }
  void Converse(const platform::UniqueFd& conn, std::stop_token stop) {
    if (!greeting_.empty()) (void)platform::TcpSendAll(conn, greeting_);
    std::string pending;
    char buf[1024];
    while (!stop.stop_requested()) {
      const int n = platform::TcpReceive(conn, buf, 50);
      if (n == -ETIMEDOUT) continue;
      if (n <= 0) return;
      pending.append(buf, static_cast<size_t>(n));
      for (size_t eol; (eol = pending.find("\r\n")) != std::string::npos;) {
        const std::string command = pending.substr(0, eol);
        pending.erase(0, eol + 2);
        {
          std::lock_guard lock(mutex_);
          commands_ += command + "\n";
        }
        const std::string reply = answer_(command);
        if (!reply.empty()) (void)platform::TcpSendAll(conn, reply);
      }
    }
  }

  std::string greeting_;
  Answer answer_;
  bool closeAtOnce_;
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::atomic<int> accepted_{0};
  std::atomic<int> closed_{0};
  mutable std::mutex mutex_;
  std::string commands_;
  std::jthread thread_;  // last: joined before the members it uses go
};

// A mail whose subject names nobody: it is handled and deleted, and no page request (which
// would need a paging server) is made.
const char kMailForNobody[] = "+OK 40 octets\r\nSubject: ,\r\n\r\nHello\r\n.\r\n";

std::string Standard(const std::string& command, const std::string& stat, const std::string& retr) {
  if (command == "STAT") return stat;
  if (command.rfind("RETR", 0) == 0) return retr;
  if (command.rfind("USER", 0) == 0 || command.rfind("PASS", 0) == 0 || command.rfind("DELE", 0) == 0) {
    return "+OK\r\n";
  }
  return command == "QUIT" ? "+OK bye\r\n" : "-ERR what\r\n";
}

class PopDialogue : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(kTimeScaleSet, 0);
    char name[] = "/tmp/pop_client_test_XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    logPath_ = name;
    common::SetLogFileName(logPath_);
    common::SetProgramName("CORVPOP32");
    box_.PopHostName = "127.0.0.1";
    box_.PopUser = "u";
    box_.PopPassword = "p";
  }
  void TearDown() override {
    std::remove(logPath_.c_str());
    common::SetLogFileName("");
  }
  std::string Log() const {
    std::ifstream in(logPath_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  int Count(const std::string& text) const {
    const std::string log = Log();
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }

  Mailbox box_;
  MailOptions options_;
  std::string logPath_;
};

TEST_F(PopDialogue, BareLineFeedServerIsReadToTheEndOfEveryReply) {
  ScriptedServer pop("+OK ready\n", [](const std::string& c) {
    std::string reply = Standard(c, "+OK 1 40\r\n", kMailForNobody);
    for (size_t at; (at = reply.find("\r\n")) != std::string::npos;) reply.erase(at, 1);
    return reply;
  });
  box_.PopPort = pop.Port();
  options_.Debug = true;  // the mail as received goes to the debug file
  options_.DebugFile = logPath_ + ".debug";
  PopSession session(box_, options_);
  PollMailbox(session);
  ASSERT_TRUE(pop.WaitForCommand("QUIT"));
  EXPECT_EQ(pop.Commands(), "USER u\nPASS p\nSTAT\nRETR 1\nDELE 1\nQUIT\n");
  EXPECT_EQ(session.EndOfMessage, 1);
  // Every reply was read; the mail rules, which look for an empty line of CR LF, then
  // found no message in a mail written with bare line feeds.
  EXPECT_EQ(Count("CORVPOP32: Error - Can not find message field in E-Mail(1).\n"), 1) << Log();
  EXPECT_EQ(Count("CORVPOP32: "), 1) << Log();
  std::ifstream kept(options_.DebugFile);
  std::stringstream text;
  text << kept.rdbuf();
  EXPECT_EQ(text.str(), "+OK 40 octets\nSubject: ,\n\nHello\n.\n\n----------------------------------------\n");
  std::remove(options_.DebugFile.c_str());
}

TEST_F(PopDialogue, StatCountNoMailboxHoldsRetrievesAtMostTheBoundInOnePoll) {
  ScriptedServer pop("+OK ready\r\n",
                     [](const std::string& c) { return Standard(c, "+OK 99999999 0\r\n", kMailForNobody); });
  box_.PopPort = pop.Port();
  PopSession session(box_, options_);
  PollMailbox(session);
  ASSERT_TRUE(pop.WaitForCommand("QUIT"));
  const std::string commands = pop.Commands();
  int retrs = 0;
  for (size_t at = commands.find("RETR "); at != std::string::npos; at = commands.find("RETR ", at + 1)) ++retrs;
  EXPECT_EQ(retrs, kMaxMailsPerPoll);
  EXPECT_NE(commands.find("RETR 1000\nDELE 1000\nQUIT\n"), std::string::npos);
}

TEST_F(PopDialogue, ErrAnswerToRetrEndsThePollAndKeepsTheMail) {
  ScriptedServer pop("+OK ready\r\n",
                     [](const std::string& c) { return Standard(c, "+OK 2 80\r\n", "-ERR no such message\r\n"); });
  box_.PopPort = pop.Port();
  PopSession session(box_, options_);
  PollMailbox(session);
  ASSERT_TRUE(pop.WaitForCommand("QUIT"));
  EXPECT_EQ(pop.Commands(), "USER u\nPASS p\nSTAT\nRETR 1\nQUIT\n");  // no DELE, no RETR 2
  EXPECT_NE(Log().find("CORVPOP32: Error geting Mail message\n"), std::string::npos) << Log();
  EXPECT_EQ(session.EndOfMessage, 0);
}

TEST_F(PopDialogue, LineThatIsNoPop3ReplyIsNoGreeting) {
  ScriptedServer pop("SSH-2.0-OpenSSH_9.2\r\n", [](const std::string& c) { return Standard(c, "", ""); });
  box_.PopPort = pop.Port();
  PopSession session(box_, options_);
  PollMailbox(session);
  ASSERT_TRUE(pop.WaitForCommand("QUIT"));
  EXPECT_EQ(pop.Commands(), "QUIT\n");
  EXPECT_EQ(Count("CORVPOP32: Error connecting and logging in to the POP server(127.0.0.1)\n"), 1);
}

TEST_F(PopDialogue, StopEndsTheWaitForAReplyAtOnceAndIsNoFailure) {
  ScriptedServer silent("", [](const std::string&) { return std::string(); });
  box_.PopPort = silent.Port();
  PopSession session(box_, options_);
  session.ReplyWaitMs = 3600 * 1000;  // only the stop can end this wait in time
  std::atomic<bool> ended{false};
  std::jthread poll([&](std::stop_token stop) {
    PollMailbox(session, stop);
    ended = true;
  });
  ASSERT_TRUE(WaitUntil([&] { return silent.Accepted() == 1; }, 10000));
  poll.request_stop();
  EXPECT_TRUE(WaitUntil([&] { return ended.load(); }, 10000));
  poll.join();
  EXPECT_TRUE(WaitUntil([&] { return silent.Closed() == 1; }, 10000));
  EXPECT_EQ(Log(), "");
}

TEST_F(PopDialogue, PollThreadsStopInThePauseBetweenPollsAndAreJoined) {
  ScriptedServer refusing(
      "", [](const std::string&) { return std::string(); }, true);
  GatewayContext context;
  box_.PopPort = refusing.Port();
  box_.PollTime = 3600;
  context.Mailboxes = {box_, box_};
  PollThreads threads;
  ASSERT_EQ(threads.Start(context), 0);
  EXPECT_EQ(threads.Count(), 2u);
  const std::string failed = "CORVPOP32: Error connecting and logging in to the POP server(127.0.0.1)\n";
  ASSERT_TRUE(WaitUntil([&] { return Count(failed) == 2; }, 20000)) << Log();
  auto stopping = std::async(std::launch::async, [&threads] { threads.Stop(); });
  EXPECT_EQ(stopping.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  stopping.get();
  EXPECT_EQ(threads.Count(), 0u);
  EXPECT_EQ(Count(failed), 2);  // one poll each: the next was an hour away
}

}  // namespace
}  // namespace popgate
