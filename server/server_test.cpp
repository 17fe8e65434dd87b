// server/server_test.cpp - the pipe threads, the AT threads and the router in one process,
// under load from many clients (CI runs this under ThreadSanitizer too).
#include "server/server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/request_record.h"
#include "tests/support/test_state.h"
#include "platform/pipe_endpoint.h"
#include "server/router.h"
#include "tests/support/process.h"

namespace server {
namespace {

std::string Transact(const std::string& pipe, common::RequestRecord head, const std::string& name,
                     const std::string& message = "") {
  std::vector<char> reply(20000);
  const int n = platform::PipeTransact(pipe, common::BuildRequest(head, name, message), reply, 10000);
  return n > 0 ? std::string(reply.data(), static_cast<size_t>(n)) : std::string();
}

TEST(ServerThreads, ManyClientsAtOnceLoseNothing) {
  testsupport::TempDir dir;
  auto state = core::StateFromIni(std::string("QueueSize = 2000\n") + core::kTwoPortIni, dir.File("log.txt"));
  ServerThreads threads;
  StartServiceThreads(*state, threads, dir.File("CORVD"));
  ASSERT_TRUE(testsupport::WaitForPipe(dir.File("CORVD"), 5000));
  std::jthread router([&state](std::stop_token stop) { RouterThread(*state, stop); });

  constexpr int kClients = 8;
  constexpr int kRounds = 25;
  std::atomic<int> ok{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; i < kRounds; ++i) {
        common::RequestRecord page{};
        page.RequestType = common::kPageRequest;
        if (Transact(threads.PipePath, page, c % 2 ? "Ann" : "Team", "load") == "OK") ++ok;
        common::RequestRecord at = page;
        at.TimeMode = 1;
        at.Year = 2090;
        at.Month = 1;
        at.Day = 1;
        at.Hour = static_cast<uint8_t>(c);
        if (Transact(threads.PipePath, at, "Bob", "later") == "OK") ++ok;
        common::RequestRecord list{};
        list.RequestType = static_cast<int16_t>(common::kListPersons + i % 3);
        if (Transact(threads.PipePath, list, "Team").rfind("OK", 0) == 0) ++ok;
        common::RequestRecord status{};
        status.RequestType = common::kStatusReport;
        status.Parameter = static_cast<int16_t>(i % 2);
        if (Transact(threads.PipePath, status, "").rfind("Corvel.", 0) == 0) ++ok;
      }
      common::RequestRecord del{};
      del.RequestType = common::kDeleteAt;
      del.Year = 2090;
      del.Hour = static_cast<uint8_t>(c);
      if (Transact(threads.PipePath, del, "Bob") == "OK") ++ok;
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(ok.load(), kClients * (4 * kRounds + 1));
  EXPECT_EQ(state->RequestCount.load(), kClients * (4 * kRounds + 1));
  // Four clients paged Ann, four the group of three: 4*25 + 4*25*3 pages, each numbered once,
  // plus one number per AT page.
  const int pages = 4 * kRounds + 4 * kRounds * 3;
  EXPECT_EQ(state->MessageCounter.load(), pages + kClients * kRounds);
  int queued = core::QueuedCount(*state->Main);
  for (int p = 0; p < state->PortCount.load(); ++p) queued += core::QueuedCount(*state->Ports[static_cast<size_t>(p)]);
  EXPECT_EQ(queued, pages);
  // Hours 1..7 were deleted by their own client; hour 0 matches every hour, so all are gone.
  int atLeft = 0;
  {
    std::lock_guard<std::mutex> hold(state->AtLock);
    for (int i = 0; i < core::kAtSlots; ++i) atLeft += state->AtTable[static_cast<size_t>(i)].InUse;
  }
  EXPECT_EQ(atLeft, 0);
  router.request_stop();
  threads.Stop();
}

}  // namespace
}  // namespace server
