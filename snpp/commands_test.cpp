// snpp/commands_test.cpp - the command set and the page hand-over, with the session handed
// a stand-in paging server as its pipe and a name cache of the test's own.
#include "snpp/commands.h"

#include <gtest/gtest.h>

#include <string>

#include "common/log.h"
#include "snpp/name_cache.h"
#include "tests/support/fake_paging_server.h"
#include "tests/support/process.h"

namespace snpp {
namespace {

class Captured : public SnppOutput {
 public:
  void Send(std::string_view bytes) override { Text.append(bytes); }
  std::string Text;
};

// Each test gets its own stand-in, names and log file: the session reaches nothing else.
class SnppCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    common::SetProgramName("CORVNET32");
    common::SetLogFileName(dir_.File("log.txt"));
  }

  // Runs lines (each given without its CR LF) and returns the reply codes.
  std::vector<int> Run(std::initializer_list<std::string> lines) {
    std::vector<int> codes;
    for (const std::string& line : lines) codes.push_back(DoCommand(line + "\r\n", &session_));
    return codes;
  }
  std::string Log() const { return dir_.Read("log.txt"); }

  testsupport::TempDir dir_;
  testsupport::DirectPagingServer pipe_;
  NameCache names_;
  SnppServices services_{
      [this](std::span<const char> request, std::span<char> reply) { return pipe_.Call(request, reply); }, &names_};
  Captured out_;
  SnppSession session_{out_, services_};
};

TEST_F(SnppCommands, TypicalExchangeReachesThePagingServerOncePerId) {
  EXPECT_EQ(Run({"PAGE \"Orlen Vask\" 5551212", "DATA", "Hello there", ".", "SEND", "QUIT"}),
            (std::vector<int>{kReplyPagerIdAccepted, kReplyBeginInput, kNoReply, kReplyDataAccepted, kReplyMessageSent,
                              kReplyGoodbye}));
  const auto pages = pipe_.Pages();
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].Name, "Orlen Vask");
  EXPECT_EQ(pages[1].Name, "5551212");
  EXPECT_EQ(pages[0].Message, "Hello there");
  EXPECT_EQ(pages[0].Head.RecordKind, 1);
  EXPECT_EQ(pages[0].Head.TimeMode, 0);
  EXPECT_EQ(pages[0].Head.MessageLength, 11);
  EXPECT_EQ(pages[0].Bytes, 89u + 11u);
  EXPECT_NE(Log().find("CORVNET32: Queued page for: Orlen Vask\n"), std::string::npos);
  EXPECT_NE(Log().find("CORVNET32: Queued page for: 5551212\n"), std::string::npos);
}

TEST_F(SnppCommands, CommandWordsMatchOnFourLettersIgnoringCase) {
  EXPECT_EQ(Run({"page 1", "PAGEX 2", "mess hi", "send"}),
            (std::vector<int>{kReplyPagerIdAccepted, kReplyPagerIdAccepted, kReplyMessageOk, kReplyMessageSent}));
  EXPECT_EQ(pipe_.Pages().size(), 2u);
  // Recognised but not implemented: no error. Unknown or shorter than four letters: an error.
  EXPECT_EQ(Run({"NOQU", "NOQUEUE", "2WAY", "KTAG 1"}), std::vector<int>(4, kReplyTryAgain));
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
  EXPECT_EQ(DoCommand(std::string("PAGE ab\0cd\r\n", 12), &session_), kReplyPagerIdAccepted);
  EXPECT_STREQ(session_.Recipients[0].PagerId.data(), "ab");
  DoCommand("DATA\r\n", &session_);
  DoCommand(std::string("text\0hidden\r\n", 13), &session_);
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
  EXPECT_EQ(pipe_.Pages().at(0).Message, "Hello \n");  // CR turned to a blank
  EXPECT_EQ(session_.CommandErrors, 0);                // a good SEND clears the count
  EXPECT_EQ(Run({"DATA", "text", ".", "MESS more"}),
            (std::vector<int>{kReplyBeginInput, kNoReply, kReplyDataAccepted, kReplyAlreadyEntered}));
}

TEST_F(SnppCommands, DataModeKeepsEveryLineUntilTheDotLine) {
  EXPECT_EQ(DoCommand("DATA ignored\r\n", &session_), kReplyBeginInput);
  EXPECT_EQ(DoCommand("line one\r\n", &session_), kNoReply);
  EXPECT_EQ(DoCommand("QUIT\r\n", &session_), kNoReply);  // not a command here
  EXPECT_EQ(DoCommand(".\n", &session_), kNoReply);       // a bare LF does not end it
  EXPECT_EQ(DoCommand("..dotted\r\n", &session_), kNoReply);
  EXPECT_EQ(DoCommand(".\r\n", &session_), kReplyDataAccepted);
  EXPECT_FALSE(session_.DataMode);
  EXPECT_EQ(session_.MessageText, "line one\r\nQUIT\r\n.\n..dotted");
  EXPECT_EQ(session_.CommandErrors, 0);
  EXPECT_EQ(Run({"PAGE 1", "SEND"}), (std::vector<int>{kReplyPagerIdAccepted, kReplyMessageSent}));
  EXPECT_EQ(pipe_.Pages().at(0).Message, "line one \nQUIT \n.\n..dotted");
}

TEST_F(SnppCommands, MessageTextStopsAtItsCapacity) {
  DoCommand("DATA\r\n", &session_);
  const std::string line(998, 'x');
  for (int i = 0; i < 20; ++i) DoCommand(line + "\r\n", &session_);
  EXPECT_EQ(session_.MessageText.size(), kMessageTextField - 1);
  EXPECT_EQ(DoCommand(".\r\n", &session_), kReplyDataAccepted);
  EXPECT_EQ(Run({"PAGE 1", "SEND"}), (std::vector<int>{kReplyPagerIdAccepted, kReplyMessageSent}));
  const auto page = pipe_.Pages().at(0);
  EXPECT_EQ(page.Head.MessageLength, static_cast<int>(kSentMessageLength));
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
  EXPECT_TRUE(pipe_.Pages().empty());
}

TEST_F(SnppCommands, RefusedRecipientFailsTheSendButTheOthersStayQueued) {
  pipe_.StandIn().RefuseName("nobody");
  EXPECT_EQ(Run({"PAGE ann nobody bob", "MESS hi", "SEND"}),
            (std::vector<int>{kReplyPagerIdAccepted, kReplyMessageOk, kReplyMessageFailed}));
  EXPECT_EQ(pipe_.Pages().size(), 3u);
  EXPECT_EQ(session_.CommandErrors, 1);
  EXPECT_NE(Log().find("Queued page for: ann\n"), std::string::npos);
  EXPECT_NE(Log().find("Error queuing page for: nobody\n"), std::string::npos);
  EXPECT_NE(Log().find("Queued page for: bob\n"), std::string::npos);
}

TEST_F(SnppCommands, SendWithThePagingServerGoneFails) {
  pipe_.Stop();
  EXPECT_EQ(Run({"PAGE ann", "MESS hi", "SEND"}),
            (std::vector<int>{kReplyPagerIdAccepted, kReplyMessageOk, kReplyMessageFailed}));
  EXPECT_NE(Log().find("CORVNET32: Error queuing page for: ann\n"), std::string::npos);
}

TEST_F(SnppCommands, ThreeHundredRecipientsAndNoAcceptedIdIsDropped) {
  std::string ids;
  for (int i = 0; i < 299; ++i) ids += " " + std::to_string(1000 + i);
  EXPECT_EQ(DoCommand("PAGE" + ids + "\r\n", &session_), kReplyPagerIdAccepted);
  // Two more do not fit: neither is taken, and the client is told so.
  EXPECT_EQ(Run({"PAGE a b"}), std::vector<int>{kReplyInvalidPagerId});
  EXPECT_EQ(session_.CommandErrors, 1);
  EXPECT_EQ(session_.Recipients.size(), 299u);
  EXPECT_EQ(Run({"PAGE last", "PAGE over"}), (std::vector<int>{kReplyPagerIdAccepted, kReplyInvalidPagerId}));
  EXPECT_EQ(Run({"MESS m", "SEND"}), (std::vector<int>{kReplyMessageOk, kReplyMessageSent}));
  const auto pages = pipe_.Pages();
  ASSERT_EQ(pages.size(), 300u);
  EXPECT_EQ(pages.front().Name, "1000");
  EXPECT_EQ(pages.back().Name, "last");
}

TEST_F(SnppCommands, LongArgumentsAreCutToTheirFields) {
  const std::string id(40, 'i');
  // A HOLD time takes 12 or 14 digits and an offset, well within its field; anything longer
  // is no time at all.
  EXPECT_EQ(Run({"HOLD " + std::string(40, '1'), "PAGE " + id, "COVE " + std::string(40, 'c'),
                 "SUBJ " + std::string(300, 's')}),
            (std::vector<int>{kReplyHoldInvalid, kReplyPagerIdAccepted, kReplyAreaSelected, kReplySubjectOk}));
  session_.CommandErrors = 0;
  EXPECT_EQ(std::string(session_.Recipients[0].PagerId.data()), std::string(31, 'i'));
  EXPECT_EQ(std::string(session_.Recipients[0].HoldTime.data()), "");
  EXPECT_EQ(std::string(session_.CoverageArea.data()), std::string(29, 'c'));
  EXPECT_EQ(std::string(session_.Subject.data()), std::string(229, 's'));
  EXPECT_EQ(Run({"MESS x", "SEND"}), (std::vector<int>{kReplyMessageOk, kReplyMessageSent}));
  EXPECT_EQ(pipe_.Pages().at(0).Name, std::string(31, 'i'));
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
  EXPECT_EQ(DoCommand("PAGE 1\r\n", nullptr), kNoReply);
}

// What an SNPP client relies on: a multi-line reply of 214 lines, each ended by CR LF and
// ended by one 250 line, with nothing after it (HELP earns no reply code of its own).
TEST_F(SnppCommands, HelpIsA214ReplyEndedByOne250Line) {
  EXPECT_EQ(Run({"HELP"}), std::vector<int>{kNoReply});
  std::vector<std::string> lines;
  for (size_t at = 0; at < out_.Text.size();) {
    const size_t end = out_.Text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "a line without CR LF: " << out_.Text.substr(at);
    lines.push_back(out_.Text.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_GE(lines.size(), 3u);
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("214 ", 0), 0u) << lines[i];
    EXPECT_EQ(lines[i].find_first_of("\r\n"), std::string::npos) << i;
  }
  EXPECT_EQ(lines.back(), "250 End of Help Information");
  EXPECT_NE(out_.Text.find("214 PAGE "), std::string::npos);  // the commands a page needs are named
  EXPECT_NE(out_.Text.find("214 SEND "), std::string::npos);
}

TEST_F(SnppCommands, ListAnswersFromTheCache) {
  names_.Replace({"ann", "bob", "sales"}, {GroupEntry{"Sales", {"ann", "bob"}}});
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
}

TEST_F(SnppCommands, ReportsRelayEachLineAfter214) {
  pipe_.StandIn().SetStatusReport("Corvel.  Version 1.8 Rev 5\n\nNOW Queue is Empty\r\n" + std::string(250, 'L') +
                                  "\ntail without line feed");
  EXPECT_EQ(Run({"MSTA"}), std::vector<int>{kReplyEndOfStatus});
  EXPECT_EQ(out_.Text, "214 Corvel.  Version 1.8 Rev 5\r\n214 \r\n214 NOW Queue is Empty\r\r\n214 " +
                           std::string(193, 'L') + "\r\n");
  auto requests = pipe_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Type(), 4);
  EXPECT_EQ(requests[0].Head.Parameter, 1);
  EXPECT_EQ(requests[0].Bytes, 89u);

  out_.Text.clear();
  pipe_.StandIn().SetLogReport("line 1\nline 2\n");
  EXPECT_EQ(Run({"MLOG"}), std::vector<int>{kReplyEndOfLog});
  EXPECT_EQ(out_.Text, "214 line 1\r\n214 line 2\r\n");
  requests = pipe_.Requests();
  EXPECT_EQ(requests.back().Type(), 3);
  EXPECT_EQ(requests.back().Head.Parameter, 0);

  out_.Text.clear();
  pipe_.Stop();
  EXPECT_EQ(Run({"MSTA"}), std::vector<int>{kReplyEndOfStatus});
  EXPECT_EQ(out_.Text, "");
}

}  // namespace
}  // namespace snpp
