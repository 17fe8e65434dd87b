// server/ip_worker_test.cpp - the queues of systems reached over IP: the router fills them
// and never a port with their pages, a full one keeps pages waiting in the Main queue, and
// pages the workers hold count against the system's places until they are done.
#include "server/ip_worker.h"

#include <gtest/gtest.h>

#include "core/now_queue.h"
#include "server/router.h"
#include "tests/support/process.h"
#include "tests/support/test_state.h"
#include "tests/support/wait.h"

namespace server {
namespace {

// Nothing listens on port 9 of 127.0.0.1 in the test machines: every submit fails at once.
const char* kIni =
    "MaxReTrys = 1\n"
    "PagerSystemsSection\n"
    "[Metro]\nSystemType = Tap\nPort = 'COM1'\n"
    "[Carrier]\nSystemType = Wctp\nWctpUrl = 'http://127.0.0.1:9/wctp'\nWctpSenderID = 'corvel'\nConnections = 2\n"
    "NameSection\n"
    "[Ann]\nPageID = '1001'\nPagerType = Alphanumeric\nSystemName = 'Metro'\n"
    "[Wes]\nPageID = '2002'\nPagerType = Alphanumeric\nSystemName = 'Carrier'\n";

class IpQueues : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ = core::StateFromIni(kIni, dir_.File("log.txt"));
    ASSERT_TRUE(state_);
    SyncIpWorkers(*state_);  // the queues only: the dial threads have not been started
  }
  void TearDown() override { StopIpWorkers(*state_); }
  void Queue(const char* name) { ASSERT_GE(core::InsertNow(*state_, *state_->Main, name, "text", true), 0); }
  core::DialContext& CarrierQueue() {
    core::DialContext* queue = nullptr;
    const int s = core::CurrentDirectory(*state_)->FindSystemByName("Carrier");
    IpQueueFor(*state_, s, queue);
    return queue ? *queue : *state_->Main;
  }

  testsupport::TempDir dir_;
  std::unique_ptr<core::ServerState> state_;
};

TEST_F(IpQueues, IpPagesGoToTheSystemsOwnQueueInOrderModemPagesToThePort) {
  Queue("Wes");
  Queue("Ann");
  Queue("Wes");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(RoutePass(*state_), RouteResult::kMoved);
  EXPECT_EQ(core::QueuedCount(*core::FindPort(*state_, "COM1")), 1);
  core::DialContext& carrier = CarrierQueue();
  ASSERT_NE(&carrier, state_->Main.get());
  EXPECT_EQ(IpQueuedCount(*state_, "carrier"), 2);
  core::QueueEntry first, second;
  ASSERT_EQ(core::PopHead(*state_, carrier, &first), 0);
  ASSERT_EQ(core::PopHead(*state_, carrier, &second), 0);
  EXPECT_LT(first.MessageNumber, second.MessageNumber);
  EXPECT_EQ(first.Name, "Wes");
}

TEST_F(IpQueues, AFullSystemQueueKeepsThePageInMainAndLosesNothing) {
  core::DialContext& carrier = CarrierQueue();
  for (int i = 0; i < core::kPortQueueEntries - 1; ++i) {
    Queue("Wes");
    ASSERT_EQ(RoutePass(*state_), RouteResult::kMoved);
  }
  Queue("Wes");
  EXPECT_EQ(RoutePass(*state_), RouteResult::kPortBusy);
  EXPECT_EQ(core::QueuedCount(*state_->Main), 1);
  // A place held by a page a worker took is not free either.
  core::QueueEntry entry;
  {
    std::lock_guard<std::mutex> hold(carrier.Lock);
    ++carrier.Reserved;
  }
  ASSERT_EQ(core::PopHead(*state_, carrier, &entry), 0);
  EXPECT_EQ(RoutePass(*state_), RouteResult::kPortBusy);
  {
    std::lock_guard<std::mutex> hold(carrier.Lock);
    --carrier.Reserved;
  }
  EXPECT_EQ(RoutePass(*state_), RouteResult::kMoved);
  EXPECT_EQ(core::QueuedCount(*state_->Main), 0);
}

TEST_F(IpQueues, AFullCarrierHoldsOnlyItsOwnPagesAndAModemPagePassesThem) {
  for (int i = 0; i < core::kPortQueueEntries - 1; ++i) {
    Queue("Wes");
    ASSERT_EQ(RoutePass(*state_), RouteResult::kMoved);
  }
  Queue("Wes");  // waits for the carrier
  Queue("Wes");
  Queue("Ann");  // behind them, for a modem system with room
  EXPECT_EQ(RoutePass(*state_), RouteResult::kMoved);
  EXPECT_EQ(core::QueuedCount(*core::FindPort(*state_, "COM1")), 1);
  EXPECT_EQ(RoutePass(*state_), RouteResult::kPortBusy);
  EXPECT_EQ(core::QueuedCount(*state_->Main), 2);  // the carrier's two, still in order
  core::QueueEntry head;
  ASSERT_EQ(core::PopHead(*state_, *state_->Main, &head), 0);
  EXPECT_EQ(head.Name, "Wes");
}

TEST_F(IpQueues, WorkersGiveThePlacesOfFinishedPagesBack) {
  state_->DialThreadsStarted = true;
  SyncIpWorkers(*state_);  // now with the two workers of Connections = 2
  Queue("Wes");
  Queue("Wes");
  Queue("Wes");
  for (int i = 0; i < 3; ++i) ASSERT_EQ(RoutePass(*state_), RouteResult::kMoved);
  // Every submit fails; MaxReTrys = 1 gives each page up after its first round.
  core::DialContext& carrier = CarrierQueue();
  const auto room = [&] {
    std::lock_guard<std::mutex> hold(carrier.Lock);
    return core::RoomLeft(carrier);
  };
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] { return IpQueuedCount(*state_, "Carrier") == 0 && room() == core::kPortQueueEntries - 1; }, 20000))
      << dir_.Read("log.txt");
  EXPECT_EQ(testsupport::CountInFile(dir_.File("log.txt"), "Error - Was not able to send message"), 3);
}

}  // namespace
}  // namespace server
