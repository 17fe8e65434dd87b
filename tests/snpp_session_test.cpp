// tests/snpp_session_test.cpp - corvnet32 over real TCP, with a stand-in paging server on its
// pipe, so every request that reaches the "paging server" can be checked exactly.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/snpp_fake_pipe.h"
#include "tests/snpp_test_client.h"

namespace {

using snpptest::Corvnet;
using snpptest::kGreeting;
using snpptest::SnppTestClient;

class SnppSession : public ::testing::Test {
 protected:
  void SetUp() override {
    pipe_ = std::make_unique<snpptest::FakePagingServer>(dir_.File("pipe"));
    ASSERT_TRUE(pipe_->Listening());
    pipe_->SetPersons({"ann", "bob", "Orlen Vask"});
    pipe_->SetGroup("Sales", {"ann", "bob"});
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
  std::unique_ptr<snpptest::FakePagingServer> pipe_;
  std::unique_ptr<Corvnet> server_;
};

TEST_F(SnppSession, TypicalExchangeQueuesThePageAndLogsIt) {
  Start();
  const std::string log = server_->Log();
  EXPECT_NE(log.find("CORVNET32: SNPP Server Starting.  Version 1.8 Rev 5\n"), std::string::npos);
  EXPECT_NE(log.find("CORVNET32: Total Names: 4  Total Groups: 1\n"), std::string::npos);
  EXPECT_EQ(server_->Process().Output().rfind(
                "Corvel.  Version 1.8 Rev 5\nSimple network paging protocol(SNPP) Server.\n"
                "For use with Corvel's Paging Server.\n", 0), 0u);

  auto c = Client();
  c->Send("PAGE \"Orlen Vask\"\r\n");
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

  const auto pages = pipe_->Pages();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].Name, "Orlen Vask");
  EXPECT_EQ(pages[0].Message, "First line \nsecond line");  // inner break as blank + LF, no final break
  EXPECT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "CORVNET32: Queued page for: Orlen Vask\n",
                                           snpptest::kWaitMs));
}

TEST_F(SnppSession, SegmentsAndBareLineFeedsDoNotChangeTheAnswers) {
  Start();
  auto c = Client();
  c->Send("PAGE 1\r\nPAGE 2\r\nRESE\r\n");  // three commands, one segment
  EXPECT_EQ(c->ReadLines(3), "250 Pager ID Accepted\r\n250 Pager ID Accepted\r\n250 RESET OK\r\n");
  c->Send("PA");
  EXPECT_TRUE(c->Quiet(200));
  c->Send("GE 123,,456\r");
  EXPECT_TRUE(c->Quiet(200));
  c->Send("\nmess bare line feed\nsend\n");
  EXPECT_EQ(c->ReadLines(3), "250 Pager ID Accepted\r\n250 Message OK\r\n250 Message Sent OK\r\n");
  const auto pages = pipe_->Pages();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].Name, "123");
  EXPECT_EQ(pages[0].Message, "bare line feed\n");
}

TEST_F(SnppSession, FiveErrorsThenTooManyErrors) {
  Start();
  auto c = Client();
  c->Send("FOO\r\nBARR\r\nPAGE\r\nMESS a\r\nMESS b\r\nBAZZ\r\nPAGE 1\r\n");
  bool closed = false;
  EXPECT_EQ(c->ReadUntilClosed(closed),
            "500 Command Not Implemented, Try Again\r\n"
            "500 Command Not Implemented, Try Again\r\n"
            "550 Error, Invalid Pager ID\r\n"
            "250 Message OK\r\n"
            "503 ERROR, Message Already Entered\r\n"
            "500 Command Not Implemented, Try Again\r\n"
            "421 Too Many Errors, Goodbye\r\n");
  EXPECT_TRUE(closed);
}

TEST_F(SnppSession, QuitEndsTheConnectionEvenWithCommandsBehindIt) {
  Start();
  auto c = Client();
  c->Send("PAGE 1\r\nMESS hi\r\nQUIT\r\nSEND\r\nHELP\r\n");
  bool closed = false;
  EXPECT_EQ(c->ReadUntilClosed(closed), "250 Pager ID Accepted\r\n250 Message OK\r\n221 OK, Goodbye\r\n");
  EXPECT_TRUE(closed);
  EXPECT_TRUE(pipe_->Pages().empty());
}

TEST_F(SnppSession, PeerThatLeavesMidMessageSendsNothing) {
  Start();
  {
    auto c = Client();
    c->Send("PAGE ann bob\r\nDATA\r\n");
    EXPECT_EQ(c->ReadLines(2), "250 Pager ID Accepted\r\n354 Begin Input, End With <CRLF>.<CRLF>\r\n");
    c->Send("half a mess");
    c->Close();
  }
  {
    auto c = Client();  // the server goes on; a RESE answers, and nothing was paged
    c->Send("RESE\r\n");
    EXPECT_EQ(c->ReadLines(1), "250 RESET OK\r\n");
  }
  EXPECT_TRUE(pipe_->Pages().empty());
}

TEST_F(SnppSession, QuotedIdsMessTwiceAndSendWithoutMessage) {
  Start();
  auto c = Client();
  c->Send("PAGE 5551212 5551234 bill \"Orlen Vask\"\r\nSEND\r\n");
  EXPECT_EQ(c->ReadLines(2), "250 Pager ID Accepted\r\n503 Error, Pager ID or Message Incomplete\r\n");
  c->Send("PAGE 5551212 'Orlen Vask'\r\nMESS Hello\r\nMESS Again\r\nSEND\r\n");
  EXPECT_EQ(c->ReadLines(4),
            "250 Pager ID Accepted\r\n250 Message OK\r\n503 ERROR, Message Already Entered\r\n250 Message Sent OK\r\n");
  const auto pages = pipe_->Pages();
  ASSERT_EQ(pages.size(), 2u);  // the first SEND emptied the session: its four IDs are gone
  EXPECT_EQ(pages[0].Name, "5551212");
  EXPECT_EQ(pages[1].Name, "Orlen Vask");
  EXPECT_EQ(pages[1].Message, "Hello \n");
}

TEST_F(SnppSession, ListFramesTheNamesAndMstaRelaysTheReport) {
  Start();
  auto c = Client();
  c->Send("LIST\r\n");
  EXPECT_EQ(c->ReadLines(6),
            "215 Start of Name and Group List\r\n216 ann\r\n216 bob\r\n216 Orlen Vask\r\n216 Sales\r\n"
            "217 End of Names and Groups\r\n");
  c->Send("list sales\r\n");
  EXPECT_EQ(c->ReadLines(4), "215 Start of Name and Group List\r\n216 ann\r\n216 bob\r\n217 End of Names and Groups\r\n");
  c->Send("LIST x\r\n");
  EXPECT_EQ(c->ReadLines(6),
            "215 Start of Name and Group List\r\n216 ann\r\n216 bob\r\n216 Orlen Vask\r\n216 Sales\r\n"
            "217 End of Names and Groups\r\n");
  c->Send("MSTA\r\n");
  EXPECT_EQ(c->ReadLines(6),
            "214 Corvel.  Version 1.8 Rev 5\r\n214 \r\n214 NOW Queue is Empty\r\n214 \r\n214 AT Queue is Empty\r\n"
            "217 End of Status report\r\n");
  c->Send("HELP\r\n");
  const std::string help = c->ReadLines(15);
  EXPECT_EQ(help.rfind("214 SNPP supported functions. \r\n", 0), 0u);
  EXPECT_NE(help.find("\r\n214 MLOG - Shows the Log file on the Paging Server\r\n250 End of Help Information\r\n"),
            std::string::npos);
  EXPECT_TRUE(c->Quiet(200));  // no reply code after the help text

  pipe_->Stop();  // the paging server is gone: the report is empty
  c->Send("MSTA\r\nMLOG\r\n");
  EXPECT_EQ(c->ReadLines(2), "217 End of Status report\r\n217 End of Log\r\n");
}

TEST_F(SnppSession, OneHundredFiftyConnectionsAndTheNextIsRefused) {
  Start();
  std::vector<std::unique_ptr<SnppTestClient>> clients;
  for (int i = 0; i < 150; ++i) clients.push_back(Client());
  SnppTestClient extra;
  ASSERT_TRUE(extra.Connect(server_->Port()));
  bool closed = false;
  EXPECT_EQ(extra.ReadUntilClosed(closed), "421 Gateway Service Unavailable\r\n");
  EXPECT_TRUE(closed);
  // Every held connection is still served, the first and the last alike.
  clients.front()->Send("RESE\r\n");
  EXPECT_EQ(clients.front()->ReadLines(1), "250 RESET OK\r\n");
  clients.back()->Send("RESE\r\n");
  EXPECT_EQ(clients.back()->ReadLines(1), "250 RESET OK\r\n");
  // One leaves; its slot takes the next connection.
  clients[70]->Send("QUIT\r\n");
  EXPECT_EQ(clients[70]->ReadUntilClosed(closed), "221 OK, Goodbye\r\n");
  bool served = false;
  for (int attempt = 0; attempt < 50 && !served; ++attempt) {  // the slot frees as its thread ends
    SnppTestClient next;
    ASSERT_TRUE(next.Connect(server_->Port()));
    const std::string first = next.ReadLines(1);
    served = first == kGreeting;
    if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(served);
  EXPECT_TRUE(server_->Process().Running());
}

TEST_F(SnppSession, StopSignalClosesEveryConnectionAndEndsWithStatusZero) {
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

TEST_F(SnppSession, PageIniChangeRefreshesTheNames) {
  dir_.Write("page.ini", "; directory\n");
  namespace fs = std::filesystem;
  fs::last_write_time(dir_.File("page.ini"), fs::file_time_type::clock::now() - std::chrono::hours(2));
  Start({{"CORVEL_TIME_SCALE", "1000"}});  // checks every 360 ms, 90 ms after a change
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the first check takes the stamp
  pipe_->SetPersons({"carl"});
  pipe_->ClearGroups();
  fs::last_write_time(dir_.File("page.ini"), fs::file_time_type::clock::now() - std::chrono::hours(1));
  ASSERT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "PAGE.INI has changed - Getting new list from paging server",
                                           snpptest::kWaitMs));
  ASSERT_TRUE(testsupport::WaitForFileText(dir_.File("log.txt"), "Total Names: 1  Total Groups: 0", snpptest::kWaitMs));
  auto c = Client();
  c->Send("LIST\r\n");
  EXPECT_EQ(c->ReadLines(3), "215 Start of Name and Group List\r\n216 carl\r\n217 End of Names and Groups\r\n");
}

// Start-up without its pieces: each ends the program as designed, with its line.
TEST_F(SnppSession, MissingSnppIniEndsWithStatusZero) {
  Corvnet server(dir_, dir_.File("pipe"), 0);
  EXPECT_EQ(server.Process().Wait(snpptest::kWaitMs), 0);
  EXPECT_NE(server.Log().find("CORVNET32: Error reading SNPP.INI\n"), std::string::npos);
}

TEST_F(SnppSession, CommentOnlySnppIniListensOnAPortTheSystemChose) {
  dir_.Write("SNPP.INI", "; no port here\n# nor here\n");
  Corvnet server(dir_, dir_.File("pipe"), 0);
  ASSERT_TRUE(server.Started()) << server.Process().Output();
  const std::string log = server.Log();
  const std::string key = "No TcpPort in SNPP.INI - listening on port ";
  const size_t at = log.find(key);
  ASSERT_NE(at, std::string::npos) << log;
  const int port = std::stoi(log.substr(at + key.size()));
  SnppTestClient c;
  ASSERT_TRUE(c.Connect(static_cast<uint16_t>(port)));
  EXPECT_EQ(c.ReadLines(1), kGreeting);
}

TEST_F(SnppSession, TcpPort444FromSnppIni) {
  {
    platform::UniqueFd probe;
    uint16_t bound = 0;
    if (platform::TcpListen("", 444, 1, probe, bound) != 0) GTEST_SKIP() << "port 444 cannot be bound here";
  }
  dir_.Write("SNPP.INI", "TcpPort=444\n");
  Corvnet server(dir_, dir_.File("pipe"), 0);
  ASSERT_TRUE(server.Started()) << server.Process().Output();
  SnppTestClient c;
  ASSERT_TRUE(c.Connect(444));
  EXPECT_EQ(c.ReadLines(1), kGreeting);
  EXPECT_EQ(server.Log().find("No TcpPort"), std::string::npos);
}

TEST_F(SnppSession, PortInUseIsTriedFiveTimesThenExitsWithStatusThree) {
  platform::UniqueFd holder;
  uint16_t port = 0;
  ASSERT_EQ(platform::TcpListen("", 0, 1, holder, port), 0);
  Corvnet server(dir_, dir_.File("pipe"), port, {{"CORVEL_TIME_SCALE", "1000"}});
  EXPECT_EQ(server.Process().Wait(snpptest::kWaitMs), 3);
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "Error Binding to port - Will retry in 3 minutes"), 5);
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "Error Binding to port - Exiting - Try ReBooting"), 1);
}

TEST_F(SnppSession, AbsentPagingServerIsAwaitedThenGivenUp) {
  pipe_->Stop();
  Corvnet server(dir_, dir_.File("pipe"), testsupport::FreeTcpPort(), {{"CORVEL_TIME_SCALE", "1000"}});
  EXPECT_EQ(server.Process().Wait(snpptest::kWaitMs), 0);
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "CORVNET32: Waiting for Paging Server to start"), 1);
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "CORVNET32: Timeout - Paging Server has not started"), 1);
}

// A real third-party client: Perl's Net::SNPP (Debian libnet-snpp-perl).
TEST_F(SnppSession, NetSnppSendsPagesThroughMessAndThroughData) {
  Start();
  dir_.Write("client.pl",
             "use strict; use Net::SNPP;\n"
             "my ($port) = @ARGV;\n"
             "my $s = Net::SNPP->new('127.0.0.1', Port => $port, Timeout => 10) or die \"no connection\\n\";\n"
             "my $ok = $s->send(Pager => ['ann', 'bob'], Message => 'Hello from Perl');\n"
             "print 'send: ', $s->code, ' ', $s->message;\n"
             "$s->pager_id('5551234') or die \"pager_id\\n\";\n"
             "$s->data(\"first line\\nsecond line\\n.dot line\\n\") or die \"data\\n\";\n"
             "print 'data: ', $s->code, ' ', $s->message;\n"
             "$s->_SEND or die \"send after data\\n\";\n"
             "print 'send2: ', $s->code, ' ', $s->message;\n"
             "$s->quit;\n"
             "print \"done\\n\";\n");
  testsupport::ChildProcess perl("/usr/bin/perl", {"client.pl", std::to_string(server_->Port())}, dir_.Path());
  ASSERT_EQ(perl.Wait(30000), 0) << perl.Output();
  EXPECT_NE(perl.Output().find("send: 250 Message Sent OK"), std::string::npos) << perl.Output();
  EXPECT_NE(perl.Output().find("data: 250 DATA Accepted"), std::string::npos) << perl.Output();
  EXPECT_NE(perl.Output().find("send2: 250 Message Sent OK"), std::string::npos) << perl.Output();
  EXPECT_NE(perl.Output().find("done"), std::string::npos);
  const auto pages = pipe_->Pages();
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0].Name, "ann");
  EXPECT_EQ(pages[1].Name, "bob");
  EXPECT_EQ(pages[0].Message, "Hello from Perl \n");
  EXPECT_EQ(pages[2].Name, "5551234");
  // Net::Cmd doubles a leading dot; the server keeps lines as they come.
  EXPECT_EQ(pages[2].Message, "first line \nsecond line \n..dot line");
}

}  // namespace
