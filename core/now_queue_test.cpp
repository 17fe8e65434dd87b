// core/now_queue_test.cpp - splitting, ring edges, numbering, round robin, port contexts.
#include "core/now_queue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/test_state.h"

namespace core {
namespace {

std::vector<std::string> SplitAll(int limit, std::string text) {
  std::vector<std::string> pieces;
  std::string_view rest(text);
  while (auto piece = SplitMessage(limit, rest)) pieces.emplace_back(*piece);
  return pieces;
}

TEST(SplitMessage, TextWithoutBlanksIsCutAtTheLowerBoundAndLosesOneCharacter) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += static_cast<char>('a' + i % 26);
  const auto pieces = SplitAll(230, text);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0], text.substr(0, 210));
  EXPECT_EQ(pieces[1], text.substr(211));  // the 211th character is dropped
  EXPECT_EQ(pieces[1].size(), 89u);
}

TEST(SplitMessage, CutsAtTheRightmostBlankAboveTheLowerBoundAndConsumesIt) {
  const std::string text = std::string(215, 'x') + " " + std::string(100, 'y');
  const auto pieces = SplitAll(230, text);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0], std::string(215, 'x'));
  EXPECT_EQ(pieces[1], std::string(100, 'y'));
}

TEST(SplitMessage, LimitIsClampedAndSixtyGivesPiecesOfFiftyNine) {
  const std::string text(500, 'z');
  for (const auto& piece : SplitAll(60, text)) EXPECT_LE(piece.size(), 59u);
  for (const auto& piece : SplitAll(5, text)) EXPECT_LE(piece.size(), 59u);  // clamped to 60
  EXPECT_EQ(SplitAll(230, "short").size(), 1u);
  EXPECT_EQ(SplitAll(230, std::string(230, 'q')).size(), 1u);
  EXPECT_TRUE(SplitAll(230, "").empty());
}

class NowQueue : public ::testing::Test {
 protected:
  testsupport::TempDir dir_;
  std::string Log() const { return dir_.Read("log.txt"); }
  std::unique_ptr<ServerState> Load(const std::string& ini) { return StateFromIni(ini, dir_.File("log.txt")); }
};

TEST_F(NowQueue, MainQueueTakesNinetyNinePagesAndRefusesTheHundredth) {
  auto state = Load(kTwoPortIni);
  for (int i = 0; i < 99; ++i) ASSERT_GE(InsertNow(*state, *state->Main, "Ann", "hello", true), 0) << i;
  EXPECT_TRUE(IsFull(*state->Main));
  EXPECT_EQ(QueuedCount(*state->Main), 99);
  EXPECT_EQ(InsertNow(*state, *state->Main, "Ann", "one too many", true), -1);
  EXPECT_EQ(state->NowQueueFullCount.load(), 1);
  EXPECT_NE(Log().find("CORVD32: Error - The NOW queue is full\n"), std::string::npos);
  EXPECT_EQ(state->MessageCounter.load(), 99);
}

TEST_F(NowQueue, PortQueueHoldsFourteenPages) {
  auto state = Load(kTwoPortIni);
  DialContext* com1 = FindPort(*state, "com1");
  ASSERT_NE(com1, nullptr);
  EXPECT_EQ(com1->Capacity.load(), kPortQueueEntries);
  for (int i = 0; i < 14; ++i) ASSERT_GE(InsertNow(*state, *com1, "Ann", "x", false), 0);
  EXPECT_EQ(InsertNow(*state, *com1, "Ann", "x", false), -1);
}

TEST_F(NowQueue, LongMessageBecomesThreePiecesWithConsecutiveNumbers) {
  auto state = Load(kTwoPortIni);
  std::string text;
  while (text.size() < 500) text += "word ";
  text.resize(500);
  const int last = InsertNow(*state, *state->Main, "Ann", text.c_str(), true);
  EXPECT_EQ(last, 2);
  ASSERT_EQ(QueuedCount(*state->Main), 3);
  for (int i = 0; i < 3; ++i) {
    QueueEntry entry;
    ASSERT_EQ(PopHead(*state, *state->Main, &entry), 0);
    EXPECT_EQ(entry.MessageNumber, i + 1);
    EXPECT_EQ(entry.PageID, "1001");
    EXPECT_LE(entry.Message.size(), 230u);
    EXPECT_NE(Log().find("Page Queued(#" + std::to_string(i + 1) + "), Will page Ann now\n"), std::string::npos);
  }
}

TEST_F(NowQueue, RecipientsByNameGroupAndPagerId) {
  auto state = Load(kTwoPortIni);
  EXPECT_EQ(InsertNow(*state, *state->Main, "team", "to all", true), 2);  // groups compare ignoring case
  EXPECT_EQ(InsertNow(*state, *state->Main, "2001", "by id", true), 3);
  QueueEntry entry;
  std::vector<std::string> names;
  while (PopHead(*state, *state->Main, &entry) == 0) names.push_back(std::string(entry.Name) + "/" + entry.PageID);
  EXPECT_EQ(names, (std::vector<std::string>{"Ann/1001", "Bob/1002", "Carl/2001", "2001/2001"}));
  EXPECT_EQ(InsertNow(*state, *state->Main, "Nobody", "x", true), -1);
  EXPECT_NE(Log().find("CORVD32: Error - Nobody not found in paging list\n"), std::string::npos);
  EXPECT_EQ(InsertNow(*state, *state->Main, nullptr, "x", true), -1);
}

TEST_F(NowQueue, PiecesUseTheLimitOfTheRecipientsSystem) {
  auto state = Load(kTwoPortIni);
  // Carl is Numeric: the system named Numeric gives the limit 80 (lower bound 60).
  ASSERT_GE(InsertNow(*state, *state->Main, "Carl", std::string(200, '9').c_str(), true), 0);
  EXPECT_EQ(QueuedCount(*state->Main), 3);
  QueueEntry entry;
  ASSERT_EQ(PopHead(*state, *state->Main, &entry), 0);
  EXPECT_EQ(entry.Message.size(), 60u);
  EXPECT_EQ(state->Main->PagerType.load(), 0);  // recorded for the delivery routines
}

TEST_F(NowQueue, HeadOperationsWrapAroundTheRing) {
  auto state = Load(kTwoPortIni);
  DialContext& com1 = *FindPort(*state, "COM1");
  QueueEntry entry;
  EXPECT_EQ(PopHead(*state, com1, &entry), 1);
  EXPECT_EQ(PopHead(*state, com1, nullptr), 1);
  EXPECT_EQ(DropHead(com1), 1);
  EXPECT_FALSE(HeadMessageNumber(com1).has_value());
  for (int round = 0; round < 40; ++round) {
    ASSERT_GE(InsertNow(*state, com1, "Bob", "again", false, 100 + round), 0);
    ASSERT_EQ(HeadMessageNumber(com1).value(), 100 + round);
    QueueEntry* head = PeekHead(*state, com1);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->Name, "Bob");
    EXPECT_EQ(com1.PagerType.load(), 1);
    if (round % 2) {
      ASSERT_EQ(DropHead(com1), 0);
    } else {
      ASSERT_EQ(PopHead(*state, com1, &entry), 0);
      EXPECT_EQ(entry.MessageNumber, 100 + round);
    }
    EXPECT_FALSE(HasPages(com1));
  }
  ASSERT_GE(InsertNow(*state, com1, "Bob", "x", false), 0);
  DiscardAll(com1);
  EXPECT_FALSE(HasPages(com1));
}

TEST_F(NowQueue, RoundRobinSkipsAFullPortForOnePass) {
  auto state = Load(kTwoPortIni);
  const int metro = CurrentDirectory(*state)->FindSystemByName("Metro");
  DialContext* com1 = FindPort(*state, "COM1");
  DialContext* com2 = FindPort(*state, "COM2");
  EXPECT_EQ(ChoosePort(*state, metro), com1);
  EXPECT_EQ(ChoosePort(*state, metro), com2);
  EXPECT_EQ(ChoosePort(*state, metro), com1);
  for (int i = 0; i < 14; ++i) ASSERT_GE(InsertNow(*state, *com2, "Ann", "x", false), 0);
  EXPECT_EQ(ChoosePort(*state, metro), nullptr);  // COM2's turn, and it is full
  EXPECT_EQ(ChoosePort(*state, metro), com1);
  EXPECT_EQ(ChoosePort(*state, -1), nullptr);
}

TEST_F(NowQueue, PortNamesAreSharedIgnoringCaseAndTheTwentyFirstIsRefused) {
  auto state = Load(kTwoPortIni);
  EXPECT_EQ(state->PortCount.load(), 3);
  EXPECT_EQ(RegisterPort(*state, "com2"), 0);
  EXPECT_EQ(state->PortCount.load(), 3);
  for (int i = 4; i <= 20; ++i) EXPECT_EQ(RegisterPort(*state, "COM" + std::to_string(i)), 0);
  EXPECT_EQ(state->PortCount.load(), 20);
  EXPECT_EQ(RegisterPort(*state, "COM21"), 1);
  EXPECT_EQ(state->PortCount.load(), 20);
  EXPECT_NE(Log().find("Error - Too many ports, port COM21 not added (at most 20)\n"), std::string::npos);
  // Names compare over their first 29 characters.
  auto other = Load("PagerSystemsSection\n[S]\nPort = '" + std::string(29, 'P') + "A'\n");
  EXPECT_NE(FindPort(*other, std::string(29, 'p') + "B"), nullptr);
}

TEST_F(NowQueue, QueueSizeResizesOnlyAnEmptyMainQueue) {
  auto state = Load(std::string("QueueSize = 500\n") + kTwoPortIni);
  EXPECT_EQ(state->Main->Capacity.load(), 500);
  auto unchanged = Load(std::string("QueueSize = 30000\n") + kTwoPortIni);
  EXPECT_EQ(unchanged->Main->Capacity.load(), 100);
  ASSERT_GE(InsertNow(*state, *state->Main, "Ann", "waiting", true), 0);
  EXPECT_EQ(ResizeQueue(*state->Main, 200), 1);
  EXPECT_EQ(state->Main->Capacity.load(), 500);
  ASSERT_EQ(DropHead(*state->Main), 0);
  EXPECT_EQ(ResizeQueue(*state->Main, 200), 0);
  EXPECT_EQ(state->Main->Capacity.load(), 200);
}

TEST_F(NowQueue, ResolveHeadSystemByNameThenByPagerId) {
  auto state = Load(kTwoPortIni);
  auto dir = CurrentDirectory(*state);
  EXPECT_EQ(ResolveHeadSystem(*state, *state->Main), -1);
  ASSERT_GE(InsertNow(*state, *state->Main, "1002", "by id", true), 0);
  EXPECT_EQ(ResolveHeadSystem(*state, *state->Main), dir->FindSystemByName("Metro"));
  ASSERT_EQ(DropHead(*state->Main), 0);
  ASSERT_GE(InsertNow(*state, *state->Main, "Carl", "numeric", true), 0);
  EXPECT_EQ(ResolveHeadSystem(*state, *state->Main), dir->FindSystemByName("Numeric"));
}

// Ten producers and one consumer: every page arrives exactly once, numbers unique.
TEST_F(NowQueue, ConcurrentProducersAndConsumerLoseNothing) {
  auto state = Load(std::string("QueueSize = 5000\n") + kTwoPortIni);
  constexpr int kProducers = 10;
  constexpr int kPages = 200;
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&state, p] {
      for (int i = 0; i < kPages; ++i) {
        const std::string text = std::to_string(p) + ":" + std::to_string(i);
        while (InsertNow(*state, *state->Main, "Bob", text.c_str(), true) < 0) std::this_thread::yield();
      }
    });
  }
  std::set<std::string> seen;
  std::set<int> numbers;
  while (static_cast<int>(seen.size()) < kProducers * kPages) {
    if (!WaitForPages(*state->Main, 5000)) break;
    QueueEntry entry;
    while (PopHead(*state, *state->Main, &entry) == 0) {
      EXPECT_TRUE(seen.insert(entry.Message).second) << entry.Message;
      EXPECT_TRUE(numbers.insert(entry.MessageNumber).second);
    }
  }
  for (auto& t : producers) t.join();
  EXPECT_EQ(seen.size(), static_cast<size_t>(kProducers * kPages));
  EXPECT_EQ(state->MessageCounter.load(), kProducers * kPages);
}

}  // namespace
}  // namespace core
