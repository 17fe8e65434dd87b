// tests/snpp_level2_test.cpp - corvnet32's level 2 and its limits against the real corvd32:
// Perl's Net::SNPP logging in, holding and giving a subject; a session inside TLS through
// openssl s_client; AllowFrom, ReportsFrom, the idle time-out and the per-address limit;
// the listening socket handed over by systemd-socket-activate.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/snpp_test_client.h"
#include "tests/support/wait.h"

namespace {

using snpptest::Corvnet;
using snpptest::kGreeting;
using snpptest::kWaitMs;
using snpptest::SnppTestClient;

const char* kPageIni =
    "PagerSystemsSection\n"
    "[Metro]\n"
    "SystemType = Tap\n"
    "Port = 'no-such-port/x'\n"
    "Baud = 2400\n"
    "SystemPhoneNumber = '5550100'\n"
    "NameSection\n"
    "[Ann]\n"
    "PageID = '12345'\n"
    "SystemName = 'Metro'\n"
    "[Bob]\n"
    "PageID = '23456'\n"
    "SystemName = 'Metro'\n";

class SnppLevelTwo : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::FileExists(testsupport::ProgramPath("corvd32"))) GTEST_SKIP() << "corvd32 is not built";
    dir_.Write("page.ini", kPageIni);
    corvd_ = std::make_unique<testsupport::ChildProcess>(
        testsupport::ProgramPath("corvd32"), std::vector<std::string>{"debug"}, dir_.Path(),
        std::map<std::string, std::string>{{"CORVEL_PIPE", dir_.File("pipe")}});
    ASSERT_TRUE(testsupport::WaitForPipe(dir_.File("pipe"), kWaitMs)) << corvd_->Output();
  }
  // corvnet32 with SNPP.INI's TcpPort and the lines given.
  void Start(const std::string& ini, std::map<std::string, std::string> env = {}) {
    port_ = testsupport::FreeTcpPort();
    dir_.Write("SNPP.INI", "TcpPort=" + std::to_string(port_) + "\n" + ini);
    const int before = testsupport::CountInFile(dir_.File("log.txt"), "CORVNET32: Server started successfully");
    server_ = std::make_unique<Corvnet>(dir_, dir_.File("pipe"), port_, std::move(env));
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
          return testsupport::CountInFile(dir_.File("log.txt"), "CORVNET32: Server started successfully") > before;
        },
        kWaitMs, 20))
        << server_->Process().Output();
  }
  void WriteUsers() {
    testsupport::ChildProcess perl("/usr/bin/perl", {"-e", "print 'ann:', crypt('good pw', '$6$saltsalt$'), \"\\n\""},
                                   dir_.Path());
    ASSERT_EQ(perl.Wait(kWaitMs), 0);
    dir_.Write("users", "# LOGI users\n" + perl.Output());
    std::filesystem::permissions(dir_.File("users"),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  bool Received(const std::string& name, const std::string& text) {
    return testsupport::WaitUntil(
        [&] { return corvd_->Output().find("\n" + name + ":" + text + "\n") != std::string::npos; }, kWaitMs, 20);
  }
  std::string Log() const { return dir_.Read("log.txt"); }

  testsupport::TempDir dir_;
  uint16_t port_ = 0;
  std::unique_ptr<testsupport::ChildProcess> corvd_;
  std::unique_ptr<Corvnet> server_;
};

TEST_F(SnppLevelTwo, NetSnppLogsInHoldsAndGivesASubject) {
  WriteUsers();
  Start("Users=users\nRequireLogin=Enabled\n");
  dir_.Write("client.pl",
             "use strict; use Net::SNPP;\n"
             "my $s = Net::SNPP->new('127.0.0.1', Port => $ARGV[0], Timeout => 10) or die \"no connection\\n\";\n"
             "print 'early: ', ($s->pager_id('Ann') ? 'taken' : $s->code . ' ' . $s->message);\n"
             "$s->login('ann', 'good pw') or die 'login: ' . $s->message;\n"
             "print 'login: ', $s->code, ' ', $s->message;\n"
             "$s->subject('Disk full') or die 'subj: ' . $s->message;\n"
             "$s->send(Pager => 'Ann', Message => 'on db1') or die 'send: ' . $s->message;\n"
             "print 'send: ', $s->code, ' ', $s->message;\n"
             "$s->send(Pager => 'Bob', Message => 'tomorrow', Hold => time + 86400) or die 'hold: ' . $s->message;\n"
             "print 'hold: ', $s->code, ' ', $s->message;\n"
             "$s->pager_id('Ann');\n"
             "$s->data(\"strict\\n.data\\n\") or die 'data: ' . $s->message;\n"
             "print 'data: ', $s->code, ' ', $s->message;\n"
             "$s->_SEND or die 'send after data: ' . $s->message;\n"
             "$s->quit;\n");
  testsupport::ChildProcess perl("/usr/bin/perl", {"client.pl", std::to_string(port_)}, dir_.Path());
  ASSERT_EQ(perl.Wait(30000), 0) << perl.Output();
  const std::string out = perl.Output();
  EXPECT_NE(out.find("early: 550 Error, Login Required"), std::string::npos) << out;
  EXPECT_NE(out.find("login: 250 Login Accepted"), std::string::npos) << out;
  EXPECT_NE(out.find("send: 250 Message Sent OK"), std::string::npos) << out;
  EXPECT_NE(out.find("hold: 250 Message Sent OK"), std::string::npos) << out;
  EXPECT_NE(out.find("data: 250 DATA Accepted"), std::string::npos) << out;
  EXPECT_TRUE(Received("Ann", "Disk full: on db1 "));
  EXPECT_TRUE(Received("Ann", "strict \n..data"));
  // The held page waits in the AT queue instead of the NOW queue.
  EXPECT_TRUE(
      testsupport::WaitForFileText(dir_.File("log.txt"), "CORVNET32: Queued page for: Bob, held until ", kWaitMs));
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "Will page Bob now"), 0);
}

// HylaFAX's sendpage logs in and asks SITE HELP before it pages; a hold time is sent as
// YYMMDDHHMM. It must page through corvnet32 now and later, and fail for an unknown name.
TEST_F(SnppLevelTwo, HylafaxSendpagePagesNowAndLater) {
  if (!testsupport::FileExists("/usr/bin/sendpage")) GTEST_SKIP() << "hylafax-client is not installed";
  Start("");
  const std::string host = "127.0.0.1:" + std::to_string(port_);
  auto sendpage = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"-h", host});
    testsupport::ChildProcess client("/usr/bin/sendpage", args, dir_.Path());
    const int status = client.Wait(30000);
    return std::make_pair(status, client.Output());
  };
  auto [status, out] = sendpage({"-p", "Ann", "Disk full on db1"});
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(Received("Ann", "Disk full on db1 "));  // MESS's line end is kept, its CR a blank
  std::tie(status, out) = sendpage({"-a", "now + 2 hours", "-p", "Bob", "see you later"});
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(
      testsupport::WaitForFileText(dir_.File("log.txt"), "CORVNET32: Queued page for: Bob, held until ", kWaitMs));
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "Will page Bob now"), 0);
  std::tie(status, out) = sendpage({"-p", "Nobody", "lost"});
  EXPECT_NE(status, 0) << out;  // refused, and sendpage says so
  EXPECT_NE(out.find("Nobody"), std::string::npos) << out;
}

TEST_F(SnppLevelTwo, WrongPasswordsAreLoggedAndTheThirdClosesTheSession) {
  WriteUsers();
  Start("Users=users\nRequireLogin=Enabled\n");
  SnppTestClient c;
  ASSERT_TRUE(c.Connect(port_));
  EXPECT_EQ(c.ReadLines(1), kGreeting);
  c.Send("LOGI ann bad\r\nLOGI ann worse\r\nLOGI ann good pw\r\nPAGE Ann\r\nMESS hi\r\nSEND\r\nRESE\r\n");
  EXPECT_EQ(c.ReadLines(6),
            "550 Error, Invalid Login\r\n550 Error, Invalid Login\r\n250 Login Accepted\r\n"
            "250 Pager ID Accepted\r\n250 Message OK\r\n250 Message Sent OK\r\n");
  EXPECT_TRUE(Received("Ann", "hi "));
  SnppTestClient d;
  ASSERT_TRUE(d.Connect(port_));
  EXPECT_EQ(d.ReadLines(1), kGreeting);
  d.Send("LOGI ann 1\r\nLOGI ann 2\r\nLOGI ann 3\r\nLOGI ann good pw\r\n");
  bool closed = false;
  EXPECT_EQ(d.ReadUntilClosed(closed),
            "550 Error, Invalid Login\r\n550 Error, Invalid Login\r\n550 Error, Invalid Login\r\n"
            "421 Too Many Errors, Goodbye\r\n");
  EXPECT_TRUE(closed);
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "CORVNET32: Login failed for ann from 127.0.0.1\n"), 5);
}

TEST_F(SnppLevelTwo, UsersFileReadableByEveryoneStopsTheStart) {
  WriteUsers();
  std::filesystem::permissions(dir_.File("users"), std::filesystem::perms::others_read,
                               std::filesystem::perm_options::add);
  dir_.Write("SNPP.INI", "TcpPort=" + std::to_string(testsupport::FreeTcpPort()) + "\nUsers=users\n");
  Corvnet server(dir_, dir_.File("pipe"), 0);
  EXPECT_EQ(server.Process().Wait(kWaitMs), 2);
  EXPECT_NE(Log().find("is readable or writable by every user - make it chmod 640 or 600 - not starting"),
            std::string::npos)
      << Log();
}

TEST_F(SnppLevelTwo, TlsSessionThroughOpensslSClient) {
  testsupport::ChildProcess ca(
      "/bin/sh",
      {"-c",
       "openssl req -x509 -newkey rsa:2048 -nodes -keyout snpp.key -out snpp.pem -days 2 -subj /CN=127.0.0.1 "
       "-addext subjectAltName=IP:127.0.0.1 2>/dev/null"},
      dir_.Path());
  ASSERT_EQ(ca.Wait(60000), 0) << ca.Output();
  const uint16_t tlsPort = testsupport::FreeTcpPort();
  Start("TlsPort=" + std::to_string(tlsPort) + "\nTlsCertificate=snpp.pem\nTlsKey=snpp.key\n");
  EXPECT_NE(Log().find("CORVNET32: SNPP over TLS on port " + std::to_string(tlsPort)), std::string::npos);
  testsupport::ChildProcess client(
      "/bin/sh",
      {"-c",
       "printf 'PAGE Ann\\r\\nMESS inside TLS\\r\\nSEND\\r\\nQUIT\\r\\n' | timeout 20 openssl s_client -quiet "
       "-verify_return_error -CAfile snpp.pem -connect 127.0.0.1:" +
           std::to_string(tlsPort) + " 2>/dev/null"},
      dir_.Path());
  ASSERT_NE(client.Wait(30000), -1) << client.Output();
  EXPECT_NE(client.Output().find(kGreeting + "250 Pager ID Accepted\r\n250 Message OK\r\n250 Message Sent OK\r\n"
                                             "221 OK, Goodbye\r\n"),
            std::string::npos)
      << client.Output();
  EXPECT_TRUE(Received("Ann", "inside TLS "));
  // The plain port still serves plain SNPP.
  SnppTestClient plain;
  ASSERT_TRUE(plain.Connect(port_));
  EXPECT_EQ(plain.ReadLines(1), kGreeting);
}

TEST_F(SnppLevelTwo, AccessListsIdleTimeOutAndSessionsPerAddress) {
  Start("IdleTimeout=1\nSessionsPerAddress=2\nReportsFrom=192.0.2.1\n");
  SnppTestClient a;
  ASSERT_TRUE(a.Connect(port_));
  EXPECT_EQ(a.ReadLines(1), kGreeting);
  a.Send("MSTA\r\nMLOG\r\n");
  EXPECT_EQ(a.ReadLines(2), "550 Error, Access Denied\r\n550 Error, Access Denied\r\n");
  SnppTestClient b;
  ASSERT_TRUE(b.Connect(port_));
  EXPECT_EQ(b.ReadLines(1), kGreeting);
  SnppTestClient third;
  ASSERT_TRUE(third.Connect(port_));
  bool closed = false;
  EXPECT_EQ(third.ReadUntilClosed(closed), "421 Gateway Service Unavailable\r\n");
  EXPECT_NE(Log().find("Connection from 127.0.0.1 refused - 2 connections from that address"), std::string::npos);
  // Silent for a second: told so and closed, and the slots are free again.
  EXPECT_EQ(a.ReadUntilClosed(closed, 5000), "421 Timeout, Goodbye\r\n");
  EXPECT_TRUE(closed);
  EXPECT_EQ(b.ReadUntilClosed(closed, 5000), "421 Timeout, Goodbye\r\n");
  EXPECT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "closed - nothing received for 1 seconds", kWaitMs));
  SnppTestClient again;
  ASSERT_TRUE(again.Connect(port_));
  EXPECT_EQ(again.ReadLines(1), kGreeting);
  EXPECT_TRUE(server_->Process().Running());

  // Not in AllowFrom: closed without a word.
  EXPECT_EQ(server_->Process().Stop(SIGTERM), 0);
  Start("AllowFrom=192.0.2.0/24, 2001:db8::/32\n");
  SnppTestClient stranger;
  ASSERT_TRUE(stranger.Connect(port_));
  EXPECT_EQ(stranger.ReadUntilClosed(closed), "");
  EXPECT_TRUE(closed);
  EXPECT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "Connection from 127.0.0.1 refused - not in AllowFrom",
                                           kWaitMs));
  // A malformed item could leave the list empty, which would let everyone in: no start.
  EXPECT_EQ(server_->Process().Stop(SIGTERM), 0);
  dir_.Write("SNPP.INI", "TcpPort=" + std::to_string(port_) + "\nAllowFrom=192.0.2.0/40\n");
  Corvnet refused(dir_, dir_.File("pipe"), 0);
  EXPECT_EQ(refused.Process().Wait(kWaitMs), 2);
}

TEST_F(SnppLevelTwo, ListeningSocketFromSystemd) {
  if (!testsupport::FileExists("/usr/bin/systemd-socket-activate")) GTEST_SKIP() << "no systemd-socket-activate";
  const uint16_t port = testsupport::FreeTcpPort();
  dir_.Write("SNPP.INI", "; the port comes from the socket\n");
  testsupport::ChildProcess server("/usr/bin/systemd-socket-activate",
                                   {"-l", "127.0.0.1:" + std::to_string(port), "-E", "CORVEL_PIPE=" + dir_.File("pipe"),
                                    testsupport::ProgramPath("corvnet32")},
                                   dir_.Path());
  // systemd-socket-activate starts the program at the first connection.
  SnppTestClient c;
  ASSERT_TRUE(testsupport::WaitUntil([&] { return c.Connect(port); }, kWaitMs, 50));
  EXPECT_EQ(c.ReadLines(1, 3 * kWaitMs), kGreeting) << server.Output();
  EXPECT_NE(Log().find("CORVNET32: Listening on port " + std::to_string(port) + " from systemd"), std::string::npos)
      << Log();
  c.Send("PAGE Bob\r\nMESS by socket\r\nSEND\r\n");
  EXPECT_EQ(c.ReadLines(3), "250 Pager ID Accepted\r\n250 Message OK\r\n250 Message Sent OK\r\n");
  EXPECT_TRUE(Received("Bob", "by socket "));
  EXPECT_EQ(server.Stop(SIGTERM), 0);
}

}  // namespace
