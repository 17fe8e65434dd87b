// server/reports_test.cpp - the status report's exact text and the log report's windows.
#include "server/reports.h"

#include <gtest/gtest.h>

#include <cctype>

#include "server/at_queue.h"
#include "server/ip_worker.h"
#include "server/router.h"
#include "tests/support/process.h"
#include "tests/support/test_state.h"

namespace server {
namespace {

class Reports : public ::testing::Test {
 protected:
  void SetUp() override { state_ = core::StateFromIni(core::kTwoPortIni, dir_.File("log.txt")); }

  // The report without its clock line, after checking that line's form.
  static std::string WithoutClock(const std::string& report) {
    const size_t at = report.rfind("\nCurrent time is: ");
    EXPECT_NE(at, std::string::npos);
    if (at == std::string::npos) return report;
    // "\nCurrent time is: YYYY-MM-DD HH:MM:SS\n"
    const std::string clock = report.substr(at);
    const std::string shape = "\nCurrent time is: 9999-99-99 99:99:99\n";
    EXPECT_EQ(clock.size(), shape.size()) << clock;
    for (size_t i = 0; i < clock.size() && i < shape.size(); ++i) {
      if (shape[i] == '9') {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(clock[i]))) << clock;
      } else {
        EXPECT_EQ(clock[i], shape[i]) << clock;
      }
    }
    return report.substr(0, at);
  }

  testsupport::TempDir dir_;
  std::unique_ptr<core::ServerState> state_;
};

TEST_F(Reports, TotalsWithEmptyQueues) {
  EXPECT_EQ(WithoutClock(StatusReport(*state_, 0)),
            "Corvel.  Version 1.8 Rev 5\n\n"
            "Total Pages in Main Queue: 0\n"
            "Total Pages in COM1 Queue: 0\n"
            "Total Pages in COM2 Queue: 0\n"
            "Total Pages in COM3 Queue: 0\n"
            "Total pages in All NOW Queues: 0\n\n"
            "Total pages in AT Queue: 0\n");
}

TEST_F(Reports, ListingWithEmptyQueuesDropsTheQueueBlocks) {
  EXPECT_EQ(WithoutClock(StatusReport(*state_, 1)),
            "Corvel.  Version 1.8 Rev 5\n\nNOW Queue is Empty\n\nAT Queue is Empty\n");
}

TEST_F(Reports, PagesWaitingBehindAFullMainQueueAreCountedAndListedWithIt) {
  ASSERT_GE(core::InsertNow(*state_, *state_->Main, "Ann", "in the ring", true), 0);
  std::vector<core::QueueEntry> behind(2);
  core::FillEntry(behind[0], "Bob", "1002", "behind");
  core::FillEntry(behind[1], "Carl", "2001", "behind");
  {
    std::lock_guard<std::mutex> hold(state_->Main->Lock);  // as a restart leaves a full queue
    for (auto& e : behind) state_->Main->Backlog.push_back(e);
  }
  EXPECT_NE(StatusReport(*state_, 0).find("Total Pages in Main Queue: 3\n"), std::string::npos);
  const std::string listing = StatusReport(*state_, 1);
  EXPECT_NE(listing.find("  Queue: Main\n  -------------------\n    Ann\n    Bob\n    Carl\n"), std::string::npos)
      << listing;
}

TEST_F(Reports, ListingAsTheFrontEndsShowIt) {
  ASSERT_GE(core::InsertNow(*state_, *core::FindPort(*state_, "COM1"), "Ann", "hi", false), 0);
  ASSERT_GE(ScheduleAt(*state_, "Bob", "1002", "later", 5, 8, 9, 3, 1999), 0);
  EXPECT_EQ(WithoutClock(StatusReport(*state_, 1)),
            "Corvel.  Version 1.8 Rev 5\n\n"
            "NOW Queue List\n--------------\n"
            "\n  Queue: Main\n  -------------------\n    Queue is Empty\n"
            "\n  Queue: COM1\n  -------------------\n    Ann\n"
            "\n  Queue: COM2\n  -------------------\n    Queue is Empty\n"
            "\n  Queue: COM3\n  -------------------\n    Queue is Empty\n"
            "  -------------------\n  Total Pages: 1\n\n"
            "AT Queue List\n-------------\n  Date   Time    ID\n  ---------------------------------\n"
            "  1999-3-9 8:05   Bob\n"
            "  ---------------------------------\n  Total: 1\n");
  // A negative flag: totals in the listing's layout.
  EXPECT_EQ(WithoutClock(StatusReport(*state_, -1)),
            "Corvel.  Version 1.8 Rev 5\n\n"
            "  -------------------\n  Total Pages: 1\n\n"
            "  ---------------------------------\n  Total: 1\n");
}

// A page waiting for a carrier must show as queued: with only Main and the ports in the
// report it said "NOW Queue is Empty" while the page waited.
TEST_F(Reports, PagesOfSystemsReachedOverIpAreCountedAndListedUnderTheSystem) {
  auto ip = core::StateFromIni(
      "PagerSystemsSection\n"
      "[Carrier]\nSystemType = Wctp\nWctpUrl = 'http://127.0.0.1:9/wctp'\nWctpSenderID = 'corvel'\n"
      "NameSection\n[Wes]\nPageID = '2002'\nPagerType = Alphanumeric\nSystemName = 'Carrier'\n",
      dir_.File("log.txt"));
  ASSERT_TRUE(ip);
  SyncIpWorkers(*ip);  // the queues only: no worker runs before the dial threads start
  ASSERT_GE(core::InsertNow(*ip, *ip->Main, "Wes", "disk full", true), 0);
  ASSERT_EQ(RoutePass(*ip), RouteResult::kMoved);
  EXPECT_EQ(QueuedCount(*ip->Main), 0);
  EXPECT_EQ(WithoutClock(StatusReport(*ip, 0)),
            "Corvel.  Version 1.8 Rev 5\n\n"
            "Total Pages in Main Queue: 0\n"
            "Total Pages in Carrier Queue: 1\n"
            "Total pages in All NOW Queues: 1\n\n"
            "Total pages in AT Queue: 0\n");
  const std::string listing = StatusReport(*ip, 1);
  EXPECT_NE(listing.find("\n  Queue: Carrier\n  -------------------\n    Wes\n"), std::string::npos) << listing;
  StopIpWorkers(*ip);
}

TEST_F(Reports, DebugModeAddsHexDumpsAndBigReportsAreCut) {
  auto big = core::StateFromIni(std::string("QueueSize = 5000\n") + core::kTwoPortIni, dir_.File("log.txt"));
  ASSERT_GE(core::InsertNow(*big, *big->Main, "Ann", "ABC", false), 0);
  big->Debug = true;
  const std::string dumped = StatusReport(*big, 1);
  EXPECT_NE(dumped.find("    Ann\n  0000:  41 42 43"), std::string::npos) << dumped;
  big->Debug = false;
  for (int i = 0; i < 3000; ++i) ASSERT_GE(core::InsertNow(*big, *big->Main, "Bob", "x", false), 0);
  const std::string report = StatusReport(*big, 1);
  EXPECT_EQ(report.size(), kReplyCapacity - 1);
  EXPECT_EQ(report.rfind("Corvel.  Version", 0), 0u);
  EXPECT_NE(StatusReport(*big, 0).find("Total Pages in Main Queue: 3001\n"), std::string::npos);
}

TEST_F(Reports, LogWindows) {
  EXPECT_EQ(LogReport(*state_, 0, dir_.File("none.txt")), "No log file\n");
  EXPECT_EQ(state_->LogViewFailures.load(), 1);
  dir_.Write("empty.txt", "");
  EXPECT_EQ(LogReport(*state_, 0, dir_.File("empty.txt")), "No data in log file\n");

  std::string small(1000, 's');
  dir_.Write("small.txt", small);
  EXPECT_EQ(LogReport(*state_, 0, dir_.File("small.txt")), small);
  EXPECT_EQ(LogReport(*state_, 5, dir_.File("small.txt")), small);

  std::string text;
  for (int i = 0; i < 4000; ++i) text += static_cast<char>('a' + i % 26);
  dir_.Write("big.txt", text);
  EXPECT_EQ(LogReport(*state_, 0, dir_.File("big.txt")), text.substr(2400));
  EXPECT_EQ(LogReport(*state_, 1, dir_.File("big.txt")), text.substr(800, 1600));
  EXPECT_EQ(LogReport(*state_, 2, dir_.File("big.txt")), text.substr(0, 1600));
  EXPECT_EQ(LogReport(*state_, 9, dir_.File("big.txt")), text.substr(0, 1600));
}

}  // namespace
}  // namespace server
