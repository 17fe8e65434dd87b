// server/router_test.cpp - routing passes: round robin, waits behind a full port, drops.
#include "server/router.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/process.h"
#include "tests/support/test_state.h"
#include "tests/support/wait.h"

namespace server {
namespace {

class Router : public ::testing::Test {
 protected:
  void Load(const std::string& ini) { state_ = core::StateFromIni(ini, dir_.File("log.txt")); }
  void SetUp() override { Load(core::kTwoPortIni); }
  core::DialContext& Port(const char* name) { return *core::FindPort(*state_, name); }
  void Queue(const char* name, const char* text = "page") {
    ASSERT_GE(core::InsertNow(*state_, *state_->Main, name, text, true), 0);
  }
  std::string Log() const { return dir_.Read("log.txt"); }

  testsupport::TempDir dir_;
  std::unique_ptr<core::ServerState> state_;
};

TEST_F(Router, AlternatesPortsAndPagesKeepTheirNumbers) {
  for (int i = 0; i < 4; ++i) Queue("Ann");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(RoutePass(*state_), RouteResult::kMoved);
  EXPECT_EQ(RoutePass(*state_), RouteResult::kEmpty);
  ASSERT_EQ(core::QueuedCount(Port("COM1")), 2);
  ASSERT_EQ(core::QueuedCount(Port("COM2")), 2);
  core::QueueEntry entry;
  ASSERT_EQ(core::PopHead(*state_, Port("COM1"), &entry), 0);
  EXPECT_EQ(entry.MessageNumber, 1);
  ASSERT_EQ(core::PopHead(*state_, Port("COM2"), &entry), 0);
  EXPECT_EQ(entry.MessageNumber, 2);
  ASSERT_EQ(core::PopHead(*state_, Port("COM1"), &entry), 0);
  EXPECT_EQ(entry.MessageNumber, 3);
}

TEST_F(Router, FullPortMakesThePageWaitThenTheOtherPortTakesIt) {
  for (int i = 0; i < 14; ++i) ASSERT_GE(core::InsertNow(*state_, Port("COM2"), "Bob", "x", false), 0);
  Queue("Ann");
  Queue("Ann");
  EXPECT_EQ(RoutePass(*state_), RouteResult::kMoved);     // COM1
  EXPECT_EQ(RoutePass(*state_), RouteResult::kPortBusy);  // COM2's turn, full: the page waits
  EXPECT_EQ(core::QueuedCount(*state_->Main), 1);
  EXPECT_EQ(RoutePass(*state_), RouteResult::kMoved);  // the next pass tries COM1
  EXPECT_EQ(core::QueuedCount(Port("COM1")), 2);
}

TEST_F(Router, DeadPortHoldsOnlyItsOwnSystemsPagesWhichKeepTheirOrder) {
  for (int i = 0; i < 14; ++i) ASSERT_GE(core::InsertNow(*state_, Port("COM3"), "Carl", "x", false), 0);
  Queue("Carl", "c1");  // Numeric system, only COM3, which is full: a dead port
  Queue("Ann", "a1");
  Queue("Carl", "c2");
  Queue("Bob", "b1");
  // The other system's pages pass the held ones, in their order.
  EXPECT_EQ(RoutePass(*state_), RouteResult::kMoved);
  EXPECT_EQ(RoutePass(*state_), RouteResult::kMoved);
  EXPECT_EQ(RoutePass(*state_), RouteResult::kPortBusy);
  EXPECT_EQ(core::QueuedCount(*state_->Main), 2);
  core::QueueEntry entry;
  ASSERT_EQ(core::PopHead(*state_, Port("COM1"), &entry), 0);
  EXPECT_EQ(entry.Message, "a1");
  EXPECT_EQ(entry.MessageNumber, 2);
  ASSERT_EQ(core::PopHead(*state_, Port("COM2"), &entry), 0);
  EXPECT_EQ(entry.Message, "b1");
  EXPECT_EQ(entry.MessageNumber, 4);
  // Once the dead port frees one place, Carl's first page goes before his second.
  ASSERT_EQ(core::DropHead(Port("COM3")), 0);
  EXPECT_EQ(RoutePass(*state_), RouteResult::kMoved);
  EXPECT_EQ(RoutePass(*state_), RouteResult::kPortBusy);
  ASSERT_EQ(core::DropHead(Port("COM3")), 0);
  EXPECT_EQ(RoutePass(*state_), RouteResult::kMoved);
  EXPECT_EQ(RoutePass(*state_), RouteResult::kEmpty);
  std::vector<std::string> carl;
  while (core::PopHead(*state_, Port("COM3"), &entry) == 0) carl.push_back(entry.Message);
  ASSERT_GE(carl.size(), 2u);
  EXPECT_EQ(carl[carl.size() - 2], "c1");
  EXPECT_EQ(carl.back(), "c2");
}

TEST_F(Router, PageTakenFromTheMiddleLeavesTheRingInOrderAcrossItsWrap) {
  // Move the ring's indexes near its end, so the pages wrap around slot 0.
  for (int i = 0; i < 97; ++i) Queue("Ann");
  for (int i = 0; i < 97; ++i) ASSERT_EQ(core::DropHead(*state_->Main), 0);
  for (int i = 0; i < 6; ++i) Queue("Ann", std::to_string(i).c_str());
  core::QueueEntry entry;
  ASSERT_EQ(core::TakeEntryAt(*state_->Main, 4, &entry), 0);
  EXPECT_EQ(entry.Message, "4");
  EXPECT_NE(core::TakeEntryAt(*state_->Main, 5, &entry), 0);  // past the tail
  std::string rest;
  while (core::PopHead(*state_, *state_->Main, &entry) == 0) rest += entry.Message;
  EXPECT_EQ(rest, "01235");
}

TEST_F(Router, UnknownSystemAndPortlessSystemAreDroppedAndCounted) {
  Load(
      "PagerSystemsSection\n[Lonely]\nSystemType = Tap\nNameSection\n"
      "[Eve]\nPageID = '7'\nPagerType = Alphanumeric\nSystemName = 'Lonely'\n"
      "[Num]\nPageID = '8'\nPagerType = Numeric\n"
      "[Ann]\nPageID = '1001'\nPagerType = Numeric\nSystemName = 'Lonely'\n");
  Queue("Num");  // Numeric without a system named Numeric
  Queue("Eve");  // its system has no port: it would block the Main queue for ever
  EXPECT_EQ(RoutePass(*state_), RouteResult::kDropped);
  EXPECT_NE(Log().find("CORVD32: Can not find system\n"), std::string::npos);
  EXPECT_EQ(RoutePass(*state_), RouteResult::kDropped);
  EXPECT_NE(Log().find("CORVD32: Error - System Lonely has no port, message(#2) for Eve dropped\n"), std::string::npos);
  EXPECT_EQ(state_->FailedPages.load(), 2);
  EXPECT_EQ(RoutePass(*state_), RouteResult::kEmpty);
}

TEST_F(Router, ThreadMovesPagesAsTheyArriveAndStops) {
  std::jthread router([this](std::stop_token stop) { RouterThread(*state_, stop); });
  for (int i = 0; i < 25; ++i) Queue("Bob");  // more than one pass of 19
  testsupport::WaitUntil([&] { return core::QueuedCount(Port("COM1")) + core::QueuedCount(Port("COM2")) >= 25; }, 5000);
  EXPECT_EQ(core::QueuedCount(Port("COM1")) + core::QueuedCount(Port("COM2")), 25);
  router.request_stop();
}

}  // namespace
}  // namespace server
