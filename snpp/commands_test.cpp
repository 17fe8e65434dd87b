// snpp/commands_test.cpp - the tokenizer, the command set and the page hand-over, against a
// stand-in paging server on a private pipe.
#include "snpp/commands.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/log.h"
#include "snpp/name_cache.h"
#include "tests/snpp_fake_pipe.h"
#include "tests/support/process.h"

namespace snpp {
namespace {

class Captured : public SnppOutput {
 public:
  void Send(std::string_view bytes) override { Text.append(bytes); }
  std::string Text;
};

std::vector<std::string> Tokens(std::string_view text) {
  std::vector<std::string> out;
  for (auto t = NextToken(text); t; t = NextToken(t->Rest)) out.emplace_back(t->Text);
  return out;
}

TEST(NextToken, SplitsAtItsSeparatorsAndKeepsQuotedBlanks) {
  EXPECT_EQ(Tokens("5551212 5551234 bill \"Orlen Vask\"\r\n"),
            (std::vector<std::string>{"5551212", "5551234", "bill", "Orlen Vask"}));
  EXPECT_EQ(Tokens("a=b+c,d\te\r\n"), (std::vector<std::string>{"a", "b", "c", "d\te"}));  // a tab ends no token
  EXPECT_EQ(Tokens("'it''s'"), (std::vector<std::string>{"it", "s"}));
}

TEST(NextToken, EmptyTokenEndsTheList) {
  EXPECT_EQ(Tokens("123,,456\r\n"), (std::vector<std::string>{"123"}));
  EXPECT_FALSE(NextToken(std::string_view("=abc")));
  EXPECT_FALSE(NextToken(std::string_view(" \r\n")));
  EXPECT_FALSE(NextToken(std::string_view("\"\"x")));
  EXPECT_FALSE(NextToken(std::nullopt));
}

TEST(NextToken, RestIsWhatFollowsTheEnderAndIsAbsentAtTheEnd) {
  auto t = NextToken(std::string_view("DATA\r\n"));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Text, "DATA");
  ASSERT_TRUE(t->Rest);
  EXPECT_EQ(*t->Rest, "\n");
  t = NextToken(std::string_view("  word"));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Text, "word");
  EXPECT_FALSE(t->Rest);
  t = NextToken(std::string_view("\"never closed\r\n"));  // runs to the end, line end included
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Text, "never closed\r\n");
  EXPECT_FALSE(t->Rest);
}

// Each test gets its own pipe and log file, so the stand-in sees only its own requests.
class SnppCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("CORVEL_PIPE", dir_.File("pipe").c_str(), 1);
    common::SetProgramName("CORVNET32");
    common::SetLogFileName(dir_.File("log.txt"));
    server_ = std::make_unique<snpptest::FakePagingServer>(dir_.File("pipe"));
    ASSERT_TRUE(server_->Listening());
  }
  void TearDown() override { server_.reset(); }

  // Runs lines (each given without its CR LF) and returns the reply codes.
  std::vector<int> Run(std::initializer_list<std::string> lines) {
    std::vector<int> codes;
    for (const std::string& line : lines) codes.push_back(DoCommand(line + "\r\n", &session_, out_));
    return codes;
  }
  std::string Log() const { return dir_.Read("log.txt"); }

  testsupport::TempDir dir_;
  std::unique_ptr<snpptest::FakePagingServer> server_;
  SnppSession session_;
  Captured out_;
};

TEST_F(SnppCommands, TypicalExchangeReachesThePagingServerOncePerId) {
  EXPECT_EQ(Run({"PAGE \"Orlen Vask\" 5551212", "DATA", "Hello there", ".", "SEND", "QUIT"}),
            (std::vector<int>{kReplyPagerIdAccepted, kReplyBeginInput, kNoReply, kReplyDataAccepted,
                              kReplyMessageSent, kReplyGoodbye}));
  const auto pages = server_->Pages();
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].Name, "Orlen Vask");
  EXPECT_EQ(pages[1].Name, "5551212");
  EXPECT_EQ(pages[0].Message, "Hello there");
  EXPECT_EQ(pages[0].TimeMode, 0);
  EXPECT_EQ(pages[0].MessageLength, 11);
  EXPECT_EQ(pages[0].Bytes, 89u + 11u);
  EXPECT_NE(Log().find("CORVNET32: Queued page for: Orlen Vask\n"), std::string::npos);
  EXPECT_NE(Log().find("CORVNET32: Queued page for: 5551212\n"), std::string::npos);
}

TEST_F(SnppCommands, CommandWordsMatchOnFourLettersIgnoringCase) {
  EXPECT_EQ(Run({"page 1", "PAGEX 2", "mess hi", "send"}),
            (std::vector<int>{kReplyPagerIdAccepted, kReplyPagerIdAccepted, kReplyMessageOk, kReplyMessageSent}));
  EXPECT_EQ(server_->Pages().size(), 2u);
  // Recognised but not implemented: no error. Unknown or shorter than four letters: an error.
  EXPECT_EQ(Run({"NOQU", "NOQUEUE", "LOGI x", "2WAY", "KTAG 1"}), std::vector<int>(5, kReplyTryAgain));
  EXPECT_EQ(session_.CommandErrors, 0);
  EXPECT_EQ(Run({"PAG 1", "XYZZY"}), std::vector<int>(2, kReplyTryAgain));
  EXPECT_EQ(session_.CommandErrors, 2);
  EXPECT_EQ(Run({""}), std::vector<int>{kNoReply});
}

TEST_F(SnppCommands, PageWithoutIdAndTheEmptyTokenRule) {
  EXPECT_EQ(Run({"PAGE"}), std::vector<int>{kReplyInvalidPagerId});
  EXPECT_EQ(session_.CommandErrors, 1);
  EXPECT_EQ(Run({"PAGE 123,,456"}), std::vector<int>{kReplyPagerIdAccepted});
  ASSERT_EQ(session_.Recipients.size(), 1u);
  EXPECT_STREQ(session_.Recipients[0].PagerId.data(), "123");
}

TEST_F(SnppCommands, NulFromThePeerEndsTheLine) {
  EXPECT_EQ(DoCommand(std::string("PAGE ab\0cd\r\n", 12), &session_, out_), kReplyPagerIdAccepted);
  EXPECT_STREQ(session_.Recipients[0].PagerId.data(), "ab");
  DoCommand("DATA\r\n", &session_, out_);
  DoCommand(std::string("text\0hidden\r\n", 13), &session_, out_);
  EXPECT_EQ(session_.MessageText, "text");
}

TEST_F(SnppCommands, UnclosedQuoteDoesNotCarryTheLineEndIntoTheId) {
  EXPECT_EQ(Run({"PAGE \"bill"}), std::vector<int>{kReplyPagerIdAccepted});
  EXPECT_STREQ(session_.Recipients[0].PagerId.data(), "bill");
}

TEST_F(SnppCommands, SecondMessageIsRefusedAndCounted) {
  EXPECT_EQ(Run({"MESS Hello", "MESS Again"}), (std::vector<int>{kReplyMessageOk, kReplyAlreadyEntered}));
  EXPECT_EQ(session_.MessageText, "Hello\r\n");
  EXPECT_EQ(session_.CommandErrors, 1);
  EXPECT_EQ(Run({"PAGE 7", "SEND"}), (std::vector<int>{kReplyPagerIdAccepted, kReplyMessageSent}));
  EXPECT_EQ(server_->Pages().at(0).Message, "Hello \n");  // CR turned to a blank
  EXPECT_EQ(session_.CommandErrors, 0);                   // a good SEND clears the count
  EXPECT_EQ(Run({"DATA", "text", ".", "MESS more"}),
            (std::vector<int>{kReplyBeginInput, kNoReply, kReplyDataAccepted, kReplyAlreadyEntered}));
}

TEST_F(SnppCommands, DataModeKeepsEveryLineUntilTheDotLine) {
  EXPECT_EQ(DoCommand("DATA ignored\r\n", &session_, out_), kReplyBeginInput);
  EXPECT_EQ(DoCommand("line one\r\n", &session_, out_), kNoReply);
  EXPECT_EQ(DoCommand("QUIT\r\n", &session_, out_), kNoReply);    // not a command here
  EXPECT_EQ(DoCommand(".\n", &session_, out_), kNoReply);        // a bare LF does not end it
  EXPECT_EQ(DoCommand("..dotted\r\n", &session_, out_), kNoReply);
  EXPECT_EQ(DoCommand(".\r\n", &session_, out_), kReplyDataAccepted);
  EXPECT_FALSE(session_.DataMode);
  EXPECT_EQ(session_.MessageText, "line one\r\nQUIT\r\n.\n..dotted");
  EXPECT_EQ(session_.CommandErrors, 0);
  EXPECT_EQ(Run({"PAGE 1", "SEND"}), (std::vector<int>{kReplyPagerIdAccepted, kReplyMessageSent}));
  EXPECT_EQ(server_->Pages().at(0).Message, "line one \nQUIT \n.\n..dotted");
}

TEST_F(SnppCommands, MessageTextStopsAtItsCapacity) {
  DoCommand("DATA\r\n", &session_, out_);
  const std::string line(998, 'x');
  for (int i = 0; i < 20; ++i) DoCommand(line + "\r\n", &session_, out_);
  EXPECT_EQ(session_.MessageText.size(), kMessageTextField - 1);
  EXPECT_EQ(DoCommand(".\r\n", &session_, out_), kReplyDataAccepted);
  EXPECT_EQ(Run({"PAGE 1", "SEND"}), (std::vector<int>{kReplyPagerIdAccepted, kReplyMessageSent}));
  const auto page = server_->Pages().at(0);
  EXPECT_EQ(page.MessageLength, static_cast<int>(kSentMessageLength));
  EXPECT_EQ(page.Message.size(), kSentMessageLength);
  EXPECT_EQ(page.Bytes, 89u + kSentMessageLength);
}

TEST_F(SnppCommands, SendWithoutMessageOrIdFailsCountsAndEmptiesTheSession) {
  EXPECT_EQ(Run({"PAGE 1 2", "SEND"}), (std::vector<int>{kReplyPagerIdAccepted, kReplyIncomplete}));
  EXPECT_EQ(session_.CommandErrors, 1);
  EXPECT_TRUE(session_.Recipients.empty());
  EXPECT_EQ(Run({"MESS hi", "SEND"}), (std::vector<int>{kReplyMessageOk, kReplyIncomplete}));
  EXPECT_EQ(session_.CommandErrors, 2);
  EXPECT_TRUE(session_.MessageText.empty());
  EXPECT_TRUE(server_->Pages().empty());
}

TEST_F(SnppCommands, RefusedRecipientFailsTheSendButTheOthersStayQueued) {
  server_->RefuseName("nobody");
  EXPECT_EQ(Run({"PAGE ann nobody bob", "MESS hi", "SEND"}),
            (std::vector<int>{kReplyPagerIdAccepted, kReplyMessageOk, kReplyMessageFailed}));
  EXPECT_EQ(server_->Pages().size(), 3u);
  EXPECT_EQ(session_.CommandErrors, 1);
  EXPECT_NE(Log().find("Queued page for: ann\n"), std::string::npos);
  EXPECT_NE(Log().find("Error queuing page for: nobody\n"), std::string::npos);
  EXPECT_NE(Log().find("Queued page for: bob\n"), std::string::npos);
}

TEST_F(SnppCommands, SendWithThePagingServerGoneFails) {
  server_->Stop();
  EXPECT_EQ(Run({"PAGE ann", "MESS hi", "SEND"}),
            (std::vector<int>{kReplyPagerIdAccepted, kReplyMessageOk, kReplyMessageFailed}));
  EXPECT_NE(Log().find("CORVNET32: Error queuing page for: ann\n"), std::string::npos);
}

TEST_F(SnppCommands, ThreeHundredRecipientsAndNoAcceptedIdIsDropped) {
  std::string ids;
  for (int i = 0; i < 299; ++i) ids += " " + std::to_string(1000 + i);
  EXPECT_EQ(DoCommand("PAGE" + ids + "\r\n", &session_, out_), kReplyPagerIdAccepted);
  // Two more do not fit: neither is taken, and the client is told so.
  EXPECT_EQ(Run({"PAGE a b"}), std::vector<int>{kReplyInvalidPagerId});
  EXPECT_EQ(session_.CommandErrors, 1);
  EXPECT_EQ(session_.Recipients.size(), 299u);
  EXPECT_EQ(Run({"PAGE last", "PAGE over"}), (std::vector<int>{kReplyPagerIdAccepted, kReplyInvalidPagerId}));
  EXPECT_EQ(Run({"MESS m", "SEND"}), (std::vector<int>{kReplyMessageOk, kReplyMessageSent}));
  const auto pages = server_->Pages();
  ASSERT_EQ(pages.size(), 300u);
  EXPECT_EQ(pages.front().Name, "1000");
  EXPECT_EQ(pages.back().Name, "last");
}

TEST_F(SnppCommands, LongArgumentsAreCutToTheirFields) {
  const std::string id(40, 'i');
  EXPECT_EQ(Run({"HOLD " + std::string(40, 'h'), "PAGE " + id, "COVE " + std::string(40, 'c'),
                 "SUBJ " + std::string(300, 's')}),
            (std::vector<int>{kReplyDelayedOk, kReplyPagerIdAccepted, kReplyAreaSelected, kReplySubjectOk}));
  EXPECT_EQ(std::string(session_.Recipients[0].PagerId.data()), std::string(31, 'i'));
  EXPECT_EQ(std::string(session_.Recipients[0].HoldTime.data()), std::string(29, 'h'));
  EXPECT_EQ(std::string(session_.CoverageArea.data()), std::string(29, 'c'));
  EXPECT_EQ(std::string(session_.Subject.data()), std::string(229, 's'));
  EXPECT_EQ(Run({"MESS x", "SEND"}), (std::vector<int>{kReplyMessageOk, kReplyMessageSent}));
  EXPECT_EQ(server_->Pages().at(0).Name, std::string(31, 'i'));
  EXPECT_EQ(session_.CommandErrors, 0);
}

TEST_F(SnppCommands, ResetEmptiesEverythingIncludingTheErrorCount) {
  Run({"XX1", "XX2", "PAGE 5", "MESS m", "DATA"});
  EXPECT_TRUE(session_.DataMode);
  session_.DataMode = false;
  EXPECT_EQ(Run({"RESE"}), std::vector<int>{kReplyResetOk});
  EXPECT_EQ(session_.CommandErrors, 0);
  EXPECT_TRUE(session_.Recipients.empty());
  EXPECT_TRUE(session_.MessageText.empty());
  EXPECT_EQ(DoCommand("PAGE 1\r\n", nullptr, out_), kNoReply);
}

TEST_F(SnppCommands, HelpTextIsExactAndHasNoReplyCodeAfterIt) {
  EXPECT_EQ(Run({"HELP"}), std::vector<int>{kNoReply});
  EXPECT_EQ(out_.Text,
            "214 SNPP supported functions. \r\n"
            "214 ------------------------ \r\n"
            "214 PAGE 5551212 5551234 bill \"Orlen Vask\" \r\n"
            "214 SUBJ The subject of the page \r\n"
            "214 MESS This is the message to send \r\n"
            "214 DATA - Enter message, the next lines will have data .<CRLF> ends \r\n"
            "214 SEND - Sends the page \r\n"
            "214 QUIT \r\n"
            "214 RESE - Resets session \r\n"
            "214 LIST - Lists all names and groups\r\n"
            "214 LIST GROUP_NAME - Lists the names in a group\r\n"
            "214 HELP \r\n"
            "214 MSTA - Status of the Paging Server\r\n"
            "214 MLOG - Shows the Log file on the Paging Server\r\n"
            "250 End of Help Information\r\n");
}

TEST_F(SnppCommands, ListAnswersFromTheCache) {
  Names().Replace({"ann", "bob", "sales"}, {GroupEntry{"Sales", {"ann", "bob"}}});
  EXPECT_EQ(Run({"LIST"}), std::vector<int>{kReplyEndOfNames});
  EXPECT_EQ(out_.Text, "215 Start of Name and Group List\r\n216 ann\r\n216 bob\r\n216 sales\r\n");
  out_.Text.clear();
  EXPECT_EQ(Run({"LIST sALes"}), std::vector<int>{kReplyEndOfNames});
  EXPECT_EQ(out_.Text, "215 Start of Name and Group List\r\n216 ann\r\n216 bob\r\n");
  out_.Text.clear();
  Run({"LIST s"});  // one character: the whole list
  EXPECT_EQ(out_.Text, "215 Start of Name and Group List\r\n216 ann\r\n216 bob\r\n216 sales\r\n");
  out_.Text.clear();
  Run({"LIST  sales"});  // the second blank belongs to the name: no such group
  EXPECT_EQ(out_.Text, "215 Start of Name and Group List\r\n");
  Names().Replace({}, {});
}

TEST_F(SnppCommands, ReportsRelayEachLineAfter214) {
  server_->SetStatusReport("Corvel.  Version 1.8 Rev 5\n\nNOW Queue is Empty\r\n" + std::string(250, 'L') +
                           "\ntail without line feed");
  EXPECT_EQ(Run({"MSTA"}), std::vector<int>{kReplyEndOfStatus});
  EXPECT_EQ(out_.Text, "214 Corvel.  Version 1.8 Rev 5\r\n214 \r\n214 NOW Queue is Empty\r\r\n214 " +
                           std::string(193, 'L') + "\r\n");
  auto requests = server_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Type, 4);
  EXPECT_EQ(requests[0].Parameter, 1);
  EXPECT_EQ(requests[0].Bytes, 89u);

  out_.Text.clear();
  server_->SetLogReport("line 1\nline 2\n");
  EXPECT_EQ(Run({"MLOG"}), std::vector<int>{kReplyEndOfLog});
  EXPECT_EQ(out_.Text, "214 line 1\r\n214 line 2\r\n");
  requests = server_->Requests();
  EXPECT_EQ(requests.back().Type, 3);
  EXPECT_EQ(requests.back().Parameter, 0);

  out_.Text.clear();
  server_->Stop();
  EXPECT_EQ(Run({"MSTA"}), std::vector<int>{kReplyEndOfStatus});
  EXPECT_EQ(out_.Text, "");
}

}  // namespace
}  // namespace snpp
