// snppclient/snpp_client_test.cpp - the lock-step SNPP client against a fake server on 127.0.0.1.
#include "snppclient/snpp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/log.h"
#include "tests/support/fake_snpp_server.h"

namespace snppclient {
namespace {

using testsupport::FakeSnppBehaviour;
using testsupport::FakeSnppServer;

SnppClient ClientFor(const FakeSnppServer& server, std::string* response = nullptr) {
  SnppClient client;
  client.ServerHost = "127.0.0.1";
  client.ServerPort = server.Port();
  client.PagerId = "Ann";
  client.MessageText = "Hello";
  client.Response = response;
  return client;
}

// corvsend's failure lines go to the log file; each test gets its own.
class SnppClientLog : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "snpp_client_log_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    std::remove(path_.c_str());
    common::SetLogFileName(path_);
    common::SetProgramName("CORVSEND");
  }
  void TearDown() override {
    common::SetLogFileName("");
    std::remove(path_.c_str());
  }
  std::string Log() const {
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string path_;
};

TEST_F(SnppClientLog, TypicalPageSendsTheCommandsByteForByteAndSucceeds) {
  FakeSnppServer server(FakeSnppBehaviour{});
  SnppClient client = ClientFor(server);
  EXPECT_EQ(SnppSendPage(client), 0);
  EXPECT_EQ(server.Received(), "PAGE \"Ann\"\nDATA\nHello\r\n.\r\nSEND\nQUIT\n");
  EXPECT_EQ(client.LastReplyCode, 221);  // the goodbye was read, the close was clean
  EXPECT_EQ(client.ReplyLineCount, 5);
  EXPECT_EQ(Log(), "");
}

TEST_F(SnppClientLog, RefusedSendIsAFailureAlthoughTheMessageWasAccepted) {
  // A client that judges by whatever line came last would let the 250 of the message block
  // pass a refused page as sent. Only the reply to SEND counts.
  FakeSnppBehaviour refusing;
  refusing.SendReply = "554 Message Failed";
  FakeSnppServer server(refusing);
  SnppClient client = ClientFor(server);
  EXPECT_EQ(SnppSendPage(client), -1);
  EXPECT_NE(Log().find("CORVSEND: Error - Page not accepted by server(554)"), std::string::npos);

  refusing.SendReply = "503 Error, Pager ID or Message Incomplete";
  FakeSnppServer incomplete(refusing);
  SnppClient second = ClientFor(incomplete);
  EXPECT_EQ(SnppSendPage(second), -1);
}

TEST_F(SnppClientLog, SlowReplyToSendIsWaitedForNotGuessed) {
  // 700 ms is longer than one 500 ms poll: a polling client would take the 250 of the
  // message for the verdict. In lock step the 554 that comes late decides.
  FakeSnppBehaviour slow;
  slow.SendDelayMs = 700;
  slow.SendReply = "554 Message Failed";
  FakeSnppServer server(slow);
  SnppClient client = ClientFor(server);
  EXPECT_EQ(SnppSendPage(client), -1);
}

TEST_F(SnppClientLog, GoAheadAfterDataAndMissingGreetingKeepTheRepliesInStep) {
  FakeSnppBehaviour rfc;
  rfc.GoAheadAfterData = true;
  FakeSnppServer server(rfc);
  SnppClient client = ClientFor(server);
  EXPECT_EQ(SnppSendPage(client), 0);

  rfc.SendReply = "554 Message Failed";
  FakeSnppServer refusing(rfc);
  SnppClient second = ClientFor(refusing);
  EXPECT_EQ(SnppSendPage(second), -1);

  FakeSnppBehaviour quiet;
  quiet.Greet = false;
  FakeSnppServer noGreeting(quiet);
  SnppClient third = ClientFor(noGreeting);
  EXPECT_EQ(SnppSendPage(third), 0);

  FakeSnppBehaviour trickle;
  trickle.ByteByByte = true;
  FakeSnppServer slowBytes(trickle);
  SnppClient fourth = ClientFor(slowBytes);
  EXPECT_EQ(SnppSendPage(fourth), 0);
}

TEST_F(SnppClientLog, ServerThatNeverAnswersFailsAfterFiveAndAHalfSeconds) {
  FakeSnppBehaviour silent;
  silent.Silent = true;
  FakeSnppServer server(silent);
  SnppClient client = ClientFor(server);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SnppSendPage(client), -1);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_GE(ms.count(), 5400);
  EXPECT_LT(ms.count(), 9000);
  EXPECT_NE(Log().find("CORVSEND: Error - Did not get responce from PAGE command\n"), std::string::npos);
  EXPECT_EQ(server.Received(), "PAGE \"Ann\"\n");
}

TEST_F(SnppClientLog, ConnectionFailuresAreReported) {
  SnppClient client;
  client.ServerHost = "no-such-host.invalid";
  client.ServerPort = 5100;
  EXPECT_EQ(SnppSendPage(client), -1);
  EXPECT_NE(Log().find(" Gethostbyname failed\n"), std::string::npos);

  // A host beginning with a digit is an address; a text that is not one reaches nothing.
  client.ServerHost = "12345";
  EXPECT_EQ(SnppSendPage(client), -1);
  EXPECT_NE(Log().find("CORVSEND: Error - Can not connect to server\n"), std::string::npos);

  uint16_t closedPort = 0;
  {
    platform::UniqueFd probe;
    ASSERT_EQ(platform::TcpListen("127.0.0.1", 0, 1, probe, closedPort), 0);
  }
  client.ServerHost = "127.0.0.1";
  client.ServerPort = closedPort;
  EXPECT_EQ(SnppSendPage(client), -1);
}

TEST(SnppClientWeb, LookupFailureIsWrittenToTheResponseAndNothingIsLogged) {
  std::string response;
  SnppClient client;
  client.Response = &response;
  client.ServerHost = "no-such-host.invalid";
  EXPECT_EQ(SnppListNames(client), -1);
  EXPECT_EQ(response, "Gethostbyname failed\n");
}

TEST(SnppClientWeb, MessageIsCutToTheCommandArea) {
  FakeSnppServer server(FakeSnppBehaviour{});
  SnppClient client = ClientFor(server);
  constexpr size_t kArea = 4300;  // corvsend's command area
  client.CommandAreaSize = kArea;
  client.MessageText = std::string(5000, 'x');
  const std::string block = MessageBlock(client);
  EXPECT_EQ(block.size(), kArea - 1);  // the block and its NUL fill the area
  EXPECT_EQ(block.substr(block.size() - 5), "\r\n.\r\n");
  EXPECT_EQ(SnppSendPage(client), 0);
}

TEST(SnppClientWeb, DotLineInsideTheMessageCannotEndTheDataEarly) {
  SnppClient client;
  client.MessageText = ".\r\nfirst\r\n.\r\nlast .\r\n..\r\n.";
  EXPECT_EQ(MessageBlock(client), ". \nfirst\r\n. \nlast .\r\n..\r\n. \r\n.\r\n");

  FakeSnppServer server(FakeSnppBehaviour{});
  SnppClient paged = ClientFor(server);
  paged.MessageText = "one\r\n.\r\ntwo";
  EXPECT_EQ(SnppSendPage(paged), 0);
  EXPECT_EQ(server.Received(), "PAGE \"Ann\"\nDATA\none\r\n. \ntwo\r\n.\r\nSEND\nQUIT\n");
}

TEST(SnppClientWeb, PagerIdWithALineEndCannotStartACommandOfItsOwn) {
  FakeSnppServer server(FakeSnppBehaviour{});
  SnppClient client = ClientFor(server);
  client.PagerId = "Ann\nMLOG";
  EXPECT_EQ(SnppSendPage(client), 0);
  EXPECT_EQ(server.Received().rfind("PAGE \"Ann\"\nDATA\n", 0), 0u);
}

TEST(SnppClientWeb, ReportIsCollectedUntilItsEndLineOneLineEach) {
  FakeSnppBehaviour report;
  report.ReportLines = {"Paging server status", "\r", "Ann <b>"};
  FakeSnppServer server(report);
  std::string response;
  SnppClient client = ClientFor(server, &response);
  std::string text = "stale";
  EXPECT_EQ(SnppGetReport(client, "MSTA", text), 0);
  EXPECT_EQ(server.Received(), "MSTA\nQUIT\n");
  ASSERT_EQ(client.NameChoices.size(), 3u);
  EXPECT_EQ(client.NameChoices[1], "\r\r\n");                // an empty line is kept whole
  EXPECT_EQ(text, "Paging server status\n\r\r\nAnn <b>\n");  // and gets no line feed of its own
  EXPECT_EQ(response, "");                                   // what to make of the text is the caller's business

  client.ServerHost = "no-such-host.invalid";
  EXPECT_EQ(SnppGetReport(client, "MLOG", text), -1);
  EXPECT_EQ(text, "Paging server status\n\r\r\nAnn <b>\n");
  EXPECT_EQ(response, "Gethostbyname failed\n");
}

TEST(SnppClientWeb, ListFillsNameChoicesAndLongLinesAreCut) {
  FakeSnppBehaviour list;
  list.Names = {"Ann", "Bob", std::string(500, 'n')};
  list.ByteByByte = false;
  FakeSnppServer server(list);
  SnppClient client = ClientFor(server);
  client.ListArgument = "Sales";
  client.NameChoices = {"stale"};
  EXPECT_EQ(SnppListNames(client), 0);
  EXPECT_EQ(server.Received(), "LIST Sales\nQUIT\n");
  ASSERT_EQ(client.NameChoices.size(), 3u);
  EXPECT_EQ(client.NameChoices[0], "Ann");
  EXPECT_EQ(client.NameChoices[1], "Bob");
  EXPECT_EQ(client.NameChoices[2], std::string(kNameChoiceLength, 'n'));

  FakeSnppBehaviour empty;
  FakeSnppServer second(empty);
  SnppClient plain = ClientFor(second);
  EXPECT_EQ(SnppListNames(plain), 0);
  EXPECT_EQ(second.Received(), "LIST \nQUIT\n");
  EXPECT_TRUE(plain.NameChoices.empty());
}

TEST(SnppClientLines, RepliesAreCountedAndOverlongLinesKeepTheirCode) {
  SnppClient client;
  HandleReplyLine(client, "250 Pager ID Accepted\r\n");
  HandleReplyLine(client, "no code here\n");
  HandleReplyLine(client, "216 Ann\r\n");
  EXPECT_EQ(client.ReplyLineCount, 3);
  ASSERT_EQ(client.PendingReplies.size(), 2u);  // a line without a code is no reply
  EXPECT_EQ(client.PendingReplies[0], 250);
  EXPECT_EQ(client.PendingReplies[1], 216);
  ASSERT_EQ(client.NameChoices.size(), 1u);
  EXPECT_EQ(client.NameChoices[0], "Ann");
  HandleReplyLine(client, "215 Start of Name and Group List\r\n");
  EXPECT_TRUE(client.NameChoices.empty());
  for (size_t i = 0; i < kNameChoicesSize + 10; ++i) HandleReplyLine(client, "216 x\n");
  EXPECT_EQ(client.NameChoices.size(), kNameChoicesSize);
}

}  // namespace
}  // namespace snppclient
