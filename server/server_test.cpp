// server/server_test.cpp - the pipe threads, the AT threads and the router in one process,
// under load from many clients, and the owners that stop every thread (CI runs this under
// ThreadSanitizer too).
#include "server/server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "common/request_record.h"
#include "core/now_queue.h"
#include "platform/pipe_endpoint.h"
#include "server/router.h"
#include "tests/support/process.h"
#include "tests/support/pty_peer.h"
#include "tests/support/test_state.h"

namespace server {
namespace {

std::string Transact(const std::string& pipe, common::RequestRecord head, const std::string& name,
                     const std::string& message = "") {
  std::vector<char> reply(20000);
  const int n = platform::PipeTransact(pipe, common::BuildRequest(head, name, message), reply, 10000);
  std::string text = n > 0 ? std::string(reply.data(), static_cast<size_t>(n)) : std::string();
  if (text.rfind(std::string("OK\0#", 4), 0) == 0) text.resize(2);  // a page's numbers follow its "OK"
  return text;
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

// The dial threads wait for pages without a port open: nothing here reaches a serial port.
TEST(ServerThreads, StopJoinsEveryDialThreadAlsoOfAPortAReloadNamedFirst) {
  testsupport::TempDir dir;
  auto state = core::StateFromIni(core::kTwoPortIni, dir.File("log.txt"));
  ServerThreads threads;
  StartDialThreads(*state, threads);
  ASSERT_EQ(state->PortCount.load(), 3);
  ASSERT_EQ(core::RegisterPort(*state, "/nonexistent/ttyNew"), 0);  // as a reload names a port
  StartNewDialThreads(*state);
  ASSERT_EQ(state->PortCount.load(), 4);
  for (int p = 0; p < 4; ++p) EXPECT_TRUE(state->Ports[static_cast<size_t>(p)]->DialThread.joinable()) << p;

  const auto start = std::chrono::steady_clock::now();
  threads.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));  // idle threads wake at once
  for (int p = 0; p < 4; ++p) {
    EXPECT_FALSE(state->Ports[static_cast<size_t>(p)]->DialThread.joinable()) << p;
    EXPECT_FALSE(state->Ports[static_cast<size_t>(p)]->DialThreadRunning.load()) << p;
  }
}

// A modem that never answers the dial: the stop ends the call's 50-second wait for the
// result at once, and the page stays queued, neither sent nor counted as failed.
TEST(ServerThreads, StopEndsACallInProgressAndKeepsItsPage) {
  testsupport::TempDir dir;
  testsupport::PtyPeer modem;
  ASSERT_TRUE(modem.Ok());
  auto state = core::StateFromIni(
      "MaxReTrys = 1\nPagerSystemsSection\n[Sim]\nSystemType = Tap\nPort = '" + modem.Path() +
          "'\nSystemPhoneNumber = '5551234'\nBaud = 9600\nParity = None\nDataBits = 8\nStopBits = 1\n"
          "NameSection\n[Ann]\nPageID = '123'\nPagerType = Alphanumeric\nSystemName = 'Sim'\n",
      dir.File("log.txt"));
  core::DialContext* port = core::FindPort(*state, modem.Path());
  ASSERT_NE(port, nullptr);
  ASSERT_GE(core::InsertNow(*state, *port, "Ann", "held", true), 0);
  ServerThreads threads;
  StartDialThreads(*state, threads);
  ASSERT_EQ(modem.ReceiveLine(10000), "ATDT 5551234");  // the call is waiting for the modem

  const auto start = std::chrono::steady_clock::now();
  threads.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));  // not the 50 s
  EXPECT_FALSE(port->DialThread.joinable());
  EXPECT_EQ(core::QueuedCount(*port), 1);
  EXPECT_EQ(state->PagesSent.load(), 0);
  EXPECT_EQ(state->FailedPages.load(), 0);
  EXPECT_EQ(testsupport::CountInFile(dir.File("log.txt"), "Was not able"), 0);
}

}  // namespace
}  // namespace server
