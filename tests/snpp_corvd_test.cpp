// tests/snpp_corvd_test.cpp - SNPP sessions against the real pair: corvnet32 in front of
// corvd32, each in the test's own folder with its own page.ini, SNPP.INI and pipe path. What
// reached the paging server is read from the shared log.txt, from corvd32's status report and,
// with Debug = Enabled, from the "name:message" lines corvd32 shows for each request.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <vector>

#include "tests/snpp_test_client.h"
#include "tests/support/wait.h"

namespace {

using snpptest::Corvnet;
using snpptest::kGreeting;
using snpptest::kWaitMs;
using snpptest::SnppTestClient;

// A directory of five persons and one group on a system whose port does not exist: pages are
// queued and stay visible in the status report while the dial thread fails to open the port.
std::string PageIni(bool debug) {
  return std::string(debug ? "Debug = Enabled\n" : "") +
         "; test directory\n"
         "PagerSystemsSection\n"
         "[Metro]\n"
         "SystemType = Tap\n"
         "Port = 'no-such-port/x'\n"
         "Baud = 2400\n"
         "SystemPhoneNumber = '5550100'\n"
         "NameSection\n"
         "[Ann]\n"
         "PageID = '12345'\n"
         "PagerType = Alphanumeric\n"
         "SystemName = 'Metro'\n"
         "[Bob]\n"
         "PageID = '23456'\n"
         "SystemName = 'Metro'\n"
         "[Orlen Vask]\n"
         "PageID = '34567'\n"
         "SystemName = 'Metro'\n"
         "[123]\n"
         "PageID = '123'\n"
         "SystemName = 'Metro'\n"
         "[456]\n"
         "PageID = '456'\n"
         "SystemName = 'Metro'\n"
         "GroupSection\n"
         "[Sales]\n"
         "Name = 'Ann'\n"
         "Name = 'Bob'\n";
}

class SnppWithCorvd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::FileExists(testsupport::ProgramPath("corvd32"))) GTEST_SKIP() << "corvd32 is not built";
  }

  void Start(bool debug = false, uint16_t port = testsupport::FreeTcpPort()) {
    dir_.Write("page.ini", PageIni(debug));
    corvd_ = std::make_unique<testsupport::ChildProcess>(testsupport::ProgramPath("corvd32"),
                                                         std::vector<std::string>{}, dir_.Path(),
                                                         std::map<std::string, std::string>{{"CORVEL_PIPE", Pipe()}});
    ASSERT_TRUE(testsupport::WaitForPipe(Pipe(), kWaitMs)) << corvd_->Output();
    server_ = std::make_unique<Corvnet>(dir_, Pipe(), port);
    ASSERT_TRUE(server_->Started()) << server_->Process().Output();
  }
  std::string Pipe() const { return dir_.File("pipe"); }
  std::unique_ptr<SnppTestClient> Client() {
    auto c = std::make_unique<SnppTestClient>();
    EXPECT_TRUE(c->Connect(server_->Port()));
    EXPECT_EQ(c->ReadLines(1), kGreeting);
    return c;
  }
  std::string Log() const { return dir_.Read("log.txt"); }
  // Pages corvd32 put in its NOW queue for name.
  int Queued(const std::string& name) const {
    return testsupport::CountInFile(dir_.File("log.txt"), "), Will page " + name + " now\n");
  }
  bool WaitForCount(const std::string& text, int count) const {
    return testsupport::WaitUntil([&] { return testsupport::CountInFile(dir_.File("log.txt"), text) >= count; },
                                  kWaitMs, 20);
  }
  // The status report as the SNPP client sees it, up to its closing line.
  std::string Status() {
    auto c = Client();
    c->Send("MSTA\r\n");
    std::string text;
    for (int i = 0; i < 200 && text.find("217 End of Status report\r\n") == std::string::npos; ++i) {
      const std::string line = c->ReadLines(1);
      if (line.empty()) break;
      text += line;
    }
    return text;
  }

  testsupport::TempDir dir_;
  std::unique_ptr<testsupport::ChildProcess> corvd_;
  std::unique_ptr<Corvnet> server_;
};

TEST_F(SnppWithCorvd, TypicalExchangeArrivesInThePagingServersQueue) {
  Start(true);
  EXPECT_NE(Log().find("CORVNET32: Total Names: 6  Total Groups: 1\n"), std::string::npos);
  auto c = Client();
  c->Send("PAGE \"Ann\"\r\n");
  EXPECT_EQ(c->ReadLines(1), "250 Pager ID Accepted\r\n");
  c->Send("DATA\r\n");
  EXPECT_EQ(c->ReadLines(1), "354 Begin Input, End With <CRLF>.<CRLF>\r\n");
  c->Send("First line\r\nsecond line\r\n.\r\n");
  EXPECT_EQ(c->ReadLines(1), "250 DATA Accepted\r\n");
  c->Send("SEND\r\n");
  EXPECT_EQ(c->ReadLines(1), "250 Message Sent OK\r\n");
  c->Send("QUIT\r\n");
  bool closed = false;
  EXPECT_EQ(c->ReadUntilClosed(closed), "221 OK, Goodbye\r\n");
  EXPECT_TRUE(closed);

  EXPECT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "CORVNET32: Queued page for: Ann\n", kWaitMs));
  EXPECT_EQ(Queued("Ann"), 1);
  // Each inner line break arrives as a blank and a line feed, the final one not at all.
  EXPECT_NE(corvd_->Output().find("\nAnn:First line \nsecond line\n"), std::string::npos) << corvd_->Output();
  EXPECT_NE(Status().find("214     Ann\r\n"), std::string::npos);
}

TEST_F(SnppWithCorvd, SegmentsBareLineFeedsQuotedIdsAndTheEmptyToken) {
  Start();
  auto c = Client();
  c->Send("PAGE Ann\r\nPAGE 'Bob'\r\nPAGE 123,,456\r\n");  // three commands in one segment
  EXPECT_EQ(c->ReadLines(3), "250 Pager ID Accepted\r\n250 Pager ID Accepted\r\n250 Pager ID Accepted\r\n");
  c->Send("ME");  // one command over three segments, ended by a bare line feed
  EXPECT_TRUE(c->Quiet(200));
  c->Send("SS split");
  EXPECT_TRUE(c->Quiet(200));
  c->Send(" and bare\nSEND\n");
  EXPECT_EQ(c->ReadLines(2), "250 Message OK\r\n250 Message Sent OK\r\n");
  EXPECT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "CORVNET32: Queued page for: 123\n", kWaitMs));
  EXPECT_EQ(Queued("Ann"), 1);
  EXPECT_EQ(Queued("Bob"), 1);
  EXPECT_EQ(Queued("123"), 1);
  EXPECT_EQ(Queued("456"), 0);
}

TEST_F(SnppWithCorvd, QuotedNamesGroupsAndTwoMessages) {
  Start();
  auto c = Client();
  c->Send("PAGE \"Orlen Vask\" 'Sales'\r\nMESS Hello\r\nMESS Again\r\nSEND\r\n");
  EXPECT_EQ(c->ReadLines(4),
            "250 Pager ID Accepted\r\n250 Message OK\r\n503 ERROR, Message Already Entered\r\n250 Message Sent OK\r\n");
  EXPECT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "CORVNET32: Queued page for: Sales\n", kWaitMs));
  EXPECT_EQ(Queued("Orlen Vask"), 1);
  EXPECT_EQ(Queued("Ann"), 1);  // the group reaches each of its members
  EXPECT_EQ(Queued("Bob"), 1);
}

TEST_F(SnppWithCorvd, RefusedIdFailsTheSendWhileTheOthersStayQueued) {
  Start();
  auto c = Client();
  c->Send("PAGE Ann 5559999 Bob\r\nMESS hi\r\nSEND\r\n");
  EXPECT_EQ(c->ReadLines(3), "250 Pager ID Accepted\r\n250 Message OK\r\n554 Message Failed\r\n");
  EXPECT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "CORVNET32: Queued page for: Bob\n", kWaitMs));
  EXPECT_NE(Log().find("CORVNET32: Error queuing page for: 5559999\n"), std::string::npos);
  EXPECT_EQ(Queued("Ann"), 1);
  EXPECT_EQ(Queued("Bob"), 1);
}

TEST_F(SnppWithCorvd, SendWithoutMessageFiveErrorsAndTheEnd) {
  Start();
  auto c = Client();
  c->Send("PAGE Ann\r\nSEND\r\nNOPE\r\nPAGE\r\nMESS a\r\nMESS b\r\nWHAT\r\nSEND\r\n");
  bool closed = false;
  EXPECT_EQ(c->ReadUntilClosed(closed),
            "250 Pager ID Accepted\r\n"
            "503 Error, Pager ID or Message Incomplete\r\n"
            "500 Command Not Implemented, Try Again\r\n"
            "550 Error, Invalid Pager ID\r\n"
            "250 Message OK\r\n"
            "503 ERROR, Message Already Entered\r\n"
            "500 Command Not Implemented, Try Again\r\n"
            "421 Too Many Errors, Goodbye\r\n");
  EXPECT_TRUE(closed);
  EXPECT_EQ(Log().find("Page Queued"), std::string::npos);
}

TEST_F(SnppWithCorvd, QuitWithCommandsBehindItAndAPeerThatLeavesMidMessage) {
  Start();
  {
    auto c = Client();
    c->Send("PAGE Ann\r\nMESS hi\r\nQUIT\r\nSEND\r\nHELP\r\n");
    bool closed = false;
    EXPECT_EQ(c->ReadUntilClosed(closed), "250 Pager ID Accepted\r\n250 Message OK\r\n221 OK, Goodbye\r\n");
    EXPECT_TRUE(closed);
  }
  {
    auto c = Client();
    c->Send("PAGE Bob\r\nDATA\r\nthe first line\r\n");
    EXPECT_EQ(c->ReadLines(2), "250 Pager ID Accepted\r\n354 Begin Input, End With <CRLF>.<CRLF>\r\n");
    c->Send("and half a se");
    c->Close();
  }
  const std::string status = Status();  // a later connection is served as ever
  EXPECT_NE(status.find("214 NOW Queue is Empty\r\n"), std::string::npos) << status;
  EXPECT_EQ(Log().find("Page Queued"), std::string::npos);
  EXPECT_EQ(Log().find("Queued page for"), std::string::npos);
}

TEST_F(SnppWithCorvd, ListFramesTheServersNames) {
  Start();
  auto c = Client();
  c->Send("LIST\r\n");
  EXPECT_EQ(
      c->ReadLines(8),
      "215 Start of Name and Group List\r\n216 Ann\r\n216 Bob\r\n216 Orlen Vask\r\n216 123\r\n216 456\r\n216 Sales\r\n"
      "217 End of Names and Groups\r\n");
  c->Send("LIST sales\r\n");
  EXPECT_EQ(c->ReadLines(4),
            "215 Start of Name and Group List\r\n216 Ann\r\n216 Bob\r\n217 End of Names and Groups\r\n");
  c->Send("LIST S\r\n");
  EXPECT_EQ(
      c->ReadLines(8),
      "215 Start of Name and Group List\r\n216 Ann\r\n216 Bob\r\n216 Orlen Vask\r\n216 123\r\n216 456\r\n216 Sales\r\n"
      "217 End of Names and Groups\r\n");
  c->Send("LIST nobody\r\n");
  EXPECT_EQ(c->ReadLines(2), "215 Start of Name and Group List\r\n217 End of Names and Groups\r\n");
  c->Send("MLOG\r\n");
  std::string logReport;
  for (int i = 0; i < 100 && logReport.find("217 End of Log\r\n") == std::string::npos; ++i)
    logReport += c->ReadLines(1);
  EXPECT_NE(logReport.find("214 "), std::string::npos);
  EXPECT_NE(logReport.find("CORVNET32: Server started successfully\r\n"), std::string::npos) << logReport;
}

TEST_F(SnppWithCorvd, MstaWithThePagingServerStoppedAnswersOnlyItsClosingLine) {
  Start();
  auto c = Client();
  EXPECT_EQ(corvd_->Stop(SIGTERM), 0);
  c->Send("MSTA\r\n");
  // The pipe is tried for its full 10 s before the request counts as failed.
  EXPECT_EQ(c->ReadLines(1, 3 * kWaitMs), "217 End of Status report\r\n");
  c->Send("RESE\r\n");
  EXPECT_EQ(c->ReadLines(1), "250 RESET OK\r\n");
  EXPECT_TRUE(server_->Process().Running());
}

TEST_F(SnppWithCorvd, OneHundredFiftyConnectionsAndTheNextIsRefused) {
  // All from one address: the limit per address is raised to every slot for this test.
  const uint16_t port = testsupport::FreeTcpPort();
  dir_.Write("SNPP.INI", "TcpPort=" + std::to_string(port) + "\nSessionsPerAddress=150\n");
  Start(false, port);
  // All 150 connect at the same moment; each is greeted.
  std::vector<std::unique_ptr<SnppTestClient>> clients(150);
  std::vector<std::string> greetings(150);
  {
    std::vector<std::thread> connecting;
    for (size_t i = 0; i < clients.size(); ++i) {
      connecting.emplace_back([&, i] {
        clients[i] = std::make_unique<SnppTestClient>();
        if (clients[i]->Connect(server_->Port())) greetings[i] = clients[i]->ReadLines(1);
      });
    }
    for (std::thread& t : connecting) t.join();
  }
  for (const std::string& g : greetings) EXPECT_EQ(g, kGreeting);
  SnppTestClient extra;
  ASSERT_TRUE(extra.Connect(server_->Port()));
  bool closed = false;
  EXPECT_EQ(extra.ReadUntilClosed(closed), "421 Gateway Service Unavailable\r\n");
  EXPECT_TRUE(closed);
  EXPECT_NE(Log().find("CORVNET32: Connection from 127.0.0.1 refused - all 150 connections in use\n"),
            std::string::npos);
  // Every held connection is still served; a page from the last one arrives.
  clients.front()->Send("RESE\r\n");
  EXPECT_EQ(clients.front()->ReadLines(1), "250 RESET OK\r\n");
  clients.back()->Send("PAGE Ann\r\nMESS from the 150th\r\nSEND\r\n");
  EXPECT_EQ(clients.back()->ReadLines(3), "250 Pager ID Accepted\r\n250 Message OK\r\n250 Message Sent OK\r\n");
  // One leaves; its slot takes the next connection.
  clients[70]->Send("QUIT\r\n");
  EXPECT_EQ(clients[70]->ReadUntilClosed(closed), "221 OK, Goodbye\r\n");
  // The slot frees as its thread ends; until then the next one is refused.
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        SnppTestClient next;
        return next.Connect(server_->Port()) && next.ReadLines(1) == kGreeting;
      },
      kWaitMs, 20));
  EXPECT_TRUE(server_->Process().Running());
}

TEST_F(SnppWithCorvd, CommentOnlySnppIniAndTcpPort444) {
  dir_.Write("SNPP.INI", "; only comments\n# here\n");
  Start(false, 0);
  const std::string key = "No TcpPort in SNPP.INI - listening on port ";
  const std::string log = Log();
  const size_t at = log.find(key);
  ASSERT_NE(at, std::string::npos) << log;
  SnppTestClient c;
  ASSERT_TRUE(c.Connect(static_cast<uint16_t>(std::stoi(log.substr(at + key.size())))));
  EXPECT_EQ(c.ReadLines(1), kGreeting);
  EXPECT_EQ(server_->Process().Stop(SIGTERM), 0);

  {
    platform::UniqueFd probe;
    uint16_t bound = 0;
    if (platform::TcpListen("", 444, 1, probe, bound) != 0) GTEST_SKIP() << "port 444 cannot be bound here";
  }
  dir_.Write("SNPP.INI", "TcpPort=444\n");
  server_ = std::make_unique<Corvnet>(dir_, Pipe(), 444);
  ASSERT_TRUE(WaitForCount("CORVNET32: Server started successfully", 2)) << server_->Process().Output();
  SnppTestClient d;
  ASSERT_TRUE(d.Connect(444));
  EXPECT_EQ(d.ReadLines(1), kGreeting);
}

// A real third-party client: Perl's Net::SNPP (Debian libnet-snpp-perl).
TEST_F(SnppWithCorvd, NetSnppPagesArriveInThePagingServersQueue) {
  Start(true);
  dir_.Write("client.pl",
             "use strict; use Net::SNPP;\n"
             "my $s = Net::SNPP->new('127.0.0.1', Port => $ARGV[0], Timeout => 10) or die \"no connection\\n\";\n"
             "$s->send(Pager => 'Bob', Message => 'Paged by Net::SNPP') or die 'send: ' . $s->message;\n"
             "print 'send: ', $s->code, ' ', $s->message;\n"
             // data() waits for the 354 go-ahead, then sends the lines (a leading dot doubled).
             "$s->pager_id('Ann') or die \"pager_id\\n\";\n"
             "$s->data(\"first line\\n.dot line\\n\") or die 'data: ' . $s->message;\n"
             "print 'data: ', $s->code, ' ', $s->message;\n"
             "$s->_SEND or die 'send after data: ' . $s->message;\n"
             "print 'send2: ', $s->code, ' ', $s->message;\n"
             "$s->quit;\n");
  testsupport::ChildProcess perl("/usr/bin/perl", {"client.pl", std::to_string(server_->Port())}, dir_.Path());
  ASSERT_EQ(perl.Wait(30000), 0) << perl.Output();
  EXPECT_NE(perl.Output().find("send: 250 Message Sent OK"), std::string::npos) << perl.Output();
  EXPECT_NE(perl.Output().find("data: 250 DATA Accepted"), std::string::npos) << perl.Output();
  EXPECT_NE(perl.Output().find("send2: 250 Message Sent OK"), std::string::npos) << perl.Output();
  EXPECT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "CORVNET32: Queued page for: Ann\n", kWaitMs));
  EXPECT_NE(Log().find("CORVNET32: Queued page for: Bob\n"), std::string::npos);
  EXPECT_EQ(Queued("Bob"), 1);
  EXPECT_EQ(Queued("Ann"), 1);
  EXPECT_NE(corvd_->Output().find("\nBob:Paged by Net::SNPP \n"), std::string::npos) << corvd_->Output();
  EXPECT_NE(corvd_->Output().find("\nAnn:first line \n..dot line\n"), std::string::npos) << corvd_->Output();
  const std::string status = Status();
  EXPECT_NE(status.find("214     Bob\r\n"), std::string::npos) << status;
}

}  // namespace
