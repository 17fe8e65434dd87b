// server/pipe_server_test.cpp - request records as the pipe threads handle them.
#include "server/pipe_server.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/test_state.h"

namespace server {
namespace {

class Requests : public ::testing::Test {
 protected:
  void Load(const std::string& ini) { state_ = core::StateFromIni(ini, dir_.File("log.txt")); }
  void SetUp() override { Load(core::kTwoPortIni); }

  // Sends bytes as one received message of realLength bytes.
  std::string Raw(const std::vector<char>& bytes, size_t realLength = 0) {
    std::vector<char> buffer(common::kMaxRequestBytes + 1, '\0');
    const size_t n = std::min(bytes.size(), common::kMaxRequestBytes);
    std::memcpy(buffer.data(), bytes.data(), n);
    std::string reply;
    HandleMessage(*state_, buffer, n, realLength ? realLength : bytes.size(), reply);
    return reply;
  }
  // The reply as a sender reads its text: a page reply's message numbers after the
  // terminator are left out (Numbers gives them).
  std::string Send(common::RequestRecord head, const std::string& name, const std::string& message = "") {
    std::string reply = Raw(common::BuildRequest(head, name, message));
    if (head.RequestType <= common::kPageAsGiven && reply.rfind(std::string("OK\0", 3), 0) == 0) reply.resize(2);
    return reply;
  }
  std::vector<int32_t> Numbers(common::RequestRecord head, const std::string& name, const std::string& message) {
    const std::string reply = Raw(common::BuildRequest(head, name, message));
    EXPECT_EQ(reply.substr(0, 3), std::string("OK\0", 3)) << reply;
    return common::ReplyMessageNumbers(reply);
  }
  static common::RequestRecord Head(int type, int timeMode = 0) {
    common::RequestRecord head{};
    head.RequestType = static_cast<int16_t>(type);
    head.TimeMode = static_cast<int16_t>(timeMode);
    return head;
  }
  std::vector<std::string> Names(const std::string& reply) {
    std::vector<std::string> names;
    const std::span<const char> bytes(reply.data(), reply.size());
    EXPECT_EQ(reply.substr(0, 3), std::string("OK\0", 3));
    const int count = common::ListReplyCount(bytes);
    EXPECT_EQ(reply.size(), 18u + 32u * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) names.emplace_back(common::ListReplyName(bytes, i));
    return names;
  }
  std::string Log() const { return dir_.Read("log.txt"); }

  testsupport::TempDir dir_;
  std::unique_ptr<core::ServerState> state_;
};

TEST_F(Requests, PageIsQueuedAndAnsweredOk) {
  EXPECT_EQ(Send(Head(0), "Ann", "hello"), "OK");
  EXPECT_EQ(core::QueuedCount(*state_->Main), 1);
  EXPECT_NE(Log().find("CORVD32: Page Queued(#1), Will page Ann now\n"), std::string::npos);
  EXPECT_EQ(Send(Head(0), "Zed", "x"), "ERR: Invalid name or Now queue is full");
  EXPECT_EQ(Send(Head(1), "Zed", "x"), "ERR - Name not valid");
  EXPECT_EQ(Send(Head(1), "1001", "by id is no person's name"), "ERR - Name not valid");
  EXPECT_EQ(state_->UnknownNameCount.load(), 2);
  EXPECT_EQ(Send(Head(2), "2001", "as given"), "OK");
  EXPECT_EQ(core::QueuedCount(*state_->Main), 2);
  EXPECT_EQ(state_->RequestCount.load(), 5);
}

TEST_F(Requests, GroupRepliesWithTheLastMembersResultAndCountsOnce) {
  EXPECT_EQ(Send(Head(1), "Team", "to the team"), "OK");  // type 1: every member is a person
  EXPECT_EQ(core::QueuedCount(*state_->Main), 3);
  EXPECT_EQ(state_->RequestCount.load(), 1);
  // Room for one page only: Ann's is queued, the others are refused, and so is the reply.
  for (int i = 0; i < 95; ++i) ASSERT_EQ(Send(Head(0), "Bob", "fill"), "OK");
  EXPECT_EQ(Send(Head(0), "Team", "too many"), "ERR: Invalid name or Now queue is full");
  EXPECT_EQ(core::QueuedCount(*state_->Main), 99);
}

TEST_F(Requests, PageRepliesCarryTheNumbersGivenAfterTheirText) {
  EXPECT_EQ(Numbers(Head(0), "Ann", "one"), (std::vector<int32_t>{1}));
  EXPECT_EQ(Numbers(Head(1), "Team", "each member"), (std::vector<int32_t>{2, 3, 4}));
  common::RequestRecord at = Head(0, 1);
  at.Year = 2031;
  at.Month = 6;
  at.Day = 1;
  at.Hour = 12;
  EXPECT_EQ(Numbers(at, "Bob", "later"), (std::vector<int32_t>{5}));
  common::RequestRecord after = Head(2, 2);
  after.Minute = 30;
  EXPECT_EQ(Numbers(after, "2001", "delayed"), (std::vector<int32_t>{6}));
  // Refusals and deletes carry none, and nothing is numbered for them.
  EXPECT_EQ(Raw(common::BuildRequest(Head(0), "Zed", "x")), "ERR: Invalid name or Now queue is full");
  EXPECT_EQ(Raw(common::BuildRequest(Head(5), "Bob", "")), "OK");
  EXPECT_EQ(Numbers(Head(0), "Ann", "next"), (std::vector<int32_t>{7}));
}

TEST_F(Requests, GroupsFromGroupSectionAndFromAPersonsGroupList) {
  Load(std::string(core::kTwoPortIni) +
       "GroupSection\n[Mixed]\nName = 'Ann'\nName = 'Carl'\n"
       "NameSection\n[Late]\nPageID = '3001'\nPagerType = Alphanumeric\nSystemName = 'Metro'\nGroup = 'Late'\n");
  // Type 1 to a group whose members are all persons: each is handled as a known person.
  EXPECT_EQ(Send(Head(1), "Mixed", "x"), "OK");
  EXPECT_EQ(Send(Head(0), "Late", "x"), "OK");
}

TEST_F(Requests, GroupWithoutMembersIsAnUnknownName) {
  Load(std::string(core::kTwoPortIni) + "GroupSection\n[Empty]\n");
  EXPECT_EQ(Send(Head(0), "Empty", "x"), "ERR: Invalid name or Now queue is full");
  EXPECT_EQ(Send(Head(1), "Empty", "x"), "ERR - Name not valid");
  EXPECT_EQ(core::QueuedCount(*state_->Main), 0);
}

TEST_F(Requests, YearRuleForScheduledPages) {
  const std::pair<int, int> cases[] = {{98, 1998}, {5, 2005}, {0, 2000}, {1996, 2096}, {2031, 2031}};
  int slot = 0;
  for (auto [given, year] : cases) {
    common::RequestRecord head = Head(0, 1);
    head.Year = static_cast<uint16_t>(given);
    head.Month = 6;
    head.Day = 1;
    head.Hour = 12;
    head.Minute = 30;
    ASSERT_EQ(Send(head, "Ann", "at"), "OK");
    EXPECT_EQ(+state_->AtTable[static_cast<size_t>(slot)].Year, year) << given;
    EXPECT_STREQ(state_->AtTable[static_cast<size_t>(slot++)].PageID, "1001");
  }
  common::RequestRecord after = Head(0, 2);
  after.Minute = 30;
  EXPECT_EQ(Send(after, "2001", "delayed"), "OK");
  EXPECT_STREQ(state_->AtTable[static_cast<size_t>(slot)].PageID, "2001");
  common::RequestRecord del = Head(5);
  EXPECT_EQ(Send(del, "Ann"), "OK");  // year 0 reads as 2000: all of Ann's pages
  int left = 0;
  for (int i = 0; i < core::kAtSlots; ++i) left += state_->AtTable[static_cast<size_t>(i)].InUse;
  EXPECT_EQ(left, 1);
}

TEST_F(Requests, ListPagesOfFiftyFiftyTwenty) {
  std::string ini = "PagerSystemsSection\n[Metro]\nPort = 'COM1'\nNameSection\n";
  for (int i = 0; i < 120; ++i) {
    ini += "[P" + std::to_string(i) + "]\nPageID = '" + std::to_string(i) + "'\nPagerType = Numeric\n";
    if (i == 3 || i == 10 || i == 40) ini += "SuppressNameDisplay = Enabled\n";
  }
  Load(ini);
  common::RequestRecord head = Head(6);
  EXPECT_EQ(Names(Send(head, "")).size(), 47u);  // three suppressed among the first 50
  head.Parameter = 1;
  EXPECT_EQ(Names(Send(head, "")).size(), 50u);
  head.Parameter = 2;
  const auto last = Names(Send(head, ""));
  ASSERT_EQ(last.size(), 20u);
  EXPECT_EQ(last.front(), "P100");
  head.Parameter = 3;
  EXPECT_EQ(Send(head, "").size(), 18u);
  head.Parameter = -1;
  EXPECT_EQ(Send(head, "").size(), 18u);
}

TEST_F(Requests, GroupsAndMembersWithLongNamesCut) {
  const std::string longName(45, 'G');
  Load(std::string(core::kTwoPortIni) + "GroupSection\n[" + longName + "]\nName = 'Bob'\nName = 'Ann'\n");
  EXPECT_EQ(Names(Send(Head(7), "")), (std::vector<std::string>{"Team", longName.substr(0, 31)}));
  EXPECT_EQ(Names(Send(Head(8), "team")), (std::vector<std::string>{"Ann", "Bob", "Carl"}));
  EXPECT_EQ(Names(Send(Head(8), "Nobody")).size(), 0u);
}

TEST_F(Requests, BadRecordsAreRefusedAndChangeNothing) {
  std::vector<char> big = common::BuildRequest(Head(0), "Ann", std::string(4000, 'x'));
  big.resize(6000, 'y');
  EXPECT_EQ(Raw(big).substr(0, 3), "ERR");
  EXPECT_EQ(Raw(big, 6000), kErrTooLong);

  std::vector<char> badLength = common::BuildRequest(Head(0), "Ann", "hi");
  int16_t length = 4912;
  std::memcpy(badLength.data() + 44, &length, 2);
  EXPECT_EQ(Raw(badLength), kErrBadLength);
  length = -1;
  std::memcpy(badLength.data() + 44, &length, 2);
  EXPECT_EQ(Raw(badLength), kErrBadLength);

  EXPECT_EQ(Send(Head(11), "Ann", "x"), kErrBadType);  // 9 asks for a page record, 10 for the counters
  EXPECT_EQ(Send(Head(-3), "Ann", "x"), kErrBadType);
  EXPECT_EQ(Raw(std::vector<char>(40, '\1')), kErrTooShort);

  EXPECT_EQ(core::QueuedCount(*state_->Main), 0);
  EXPECT_EQ(state_->RequestCount.load(), 0);
  EXPECT_EQ(state_->MessageCounter.load(), 0);
}

TEST_F(Requests, MessageEndsAtItsLengthWhateverFollows) {
  std::vector<char> bytes = common::BuildRequest(Head(0), "Ann", "hello world");
  int16_t length = 5;
  std::memcpy(bytes.data() + 44, &length, 2);
  ASSERT_EQ(Raw(bytes).substr(0, 3), std::string("OK\0", 3));
  core::QueueEntry entry;
  ASSERT_EQ(core::PopHead(*state_, *state_->Main, &entry), 0);
  EXPECT_EQ(entry.Message, "hello");
}

TEST_F(Requests, ImpossibleSchedulesAndNamelessDeletesAreRefusedAndLogged) {
  ASSERT_EQ(Send(Head(0, 1), "Ann", "placeholder"), kErrBadTime);  // all zero: month 0, day 0
  struct Case {
    int type, mode, minute, hour, day, month, year;
  };
  const Case refused[] = {
      {0, 3, 0, 0, 0, 0, 0},       {2, -1, 0, 0, 0, 0, 0},      {1, 1, 30, 12, 1, 200, 2090},
      {0, 1, 30, 250, 1, 1, 2090}, {0, 1, 60, 12, 1, 1, 2090},  {0, 1, -5, 12, 1, 1, 2090},
      {0, 1, 30, 12, 32, 1, 2090}, {0, 1, 30, 12, 29, 2, 2091}, {0, 1, 30, 12, 31, 4, 2090},
      {0, 2, -10, 0, 0, 0, 0},     {5, 0, 0, 250, 0, 0, 0},     {5, 0, 0, 0, 0, 13, 0},
  };
  for (const Case& c : refused) {
    common::RequestRecord head = Head(c.type, c.mode);
    head.Minute = c.minute;
    head.Hour = static_cast<uint8_t>(c.hour);
    head.Day = static_cast<uint8_t>(c.day);
    head.Month = static_cast<uint8_t>(c.month);
    head.Year = static_cast<uint16_t>(c.year);
    EXPECT_EQ(Send(head, "Ann", "x"), kErrBadTime) << c.type << " " << c.mode << " " << c.month << " " << c.hour;
  }
  EXPECT_EQ(core::QueuedCount(*state_->Main), 0);
  for (int i = 0; i < core::kAtSlots; ++i) EXPECT_EQ(state_->AtTable[static_cast<size_t>(i)].InUse, 0);
  EXPECT_NE(Log().find("Error - Request for 'Ann' refused - unknown time mode 3\n"), std::string::npos) << Log();
  EXPECT_NE(Log().find("refused - no such time 2090-200-1 12:30\n"), std::string::npos) << Log();

  // Possible edges still go in: a leap day, the last minute of a year, a delay of 0.
  common::RequestRecord leap = Head(0, 1);
  leap.Year = 2096, leap.Month = 2, leap.Day = 29, leap.Hour = 23, leap.Minute = 59;
  EXPECT_EQ(Send(leap, "Ann", "leap"), "OK");
  common::RequestRecord now = Head(0, 2);
  EXPECT_EQ(Send(now, "Ann", "no delay"), "OK");

  // A delete without a name would have matched every AT page: refused, nothing deleted.
  common::RequestRecord del = Head(5);
  EXPECT_EQ(Send(del, ""), kErrNoName);
  EXPECT_NE(Log().find("Error - Request for '' refused - a delete must name a person or pager ID\n"),
            std::string::npos);
  int left = 0;
  for (int i = 0; i < core::kAtSlots; ++i) left += state_->AtTable[static_cast<size_t>(i)].InUse;
  EXPECT_EQ(left, 2);
}

TEST_F(Requests, ReportsAndDeletesAnswer) {
  EXPECT_EQ(Send(Head(4), "").rfind("Corvel.  Version 1.8 Rev 5\n\n", 0), 0u);
  common::RequestRecord del = Head(5);
  del.Year = 2031;
  EXPECT_EQ(Send(del, "Nobody"), "OK");
}

}  // namespace
}  // namespace server
