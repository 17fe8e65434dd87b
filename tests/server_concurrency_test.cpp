// tests/server_concurrency_test.cpp - ten clients at once on the real pipe.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <thread>

#include "tests/server_harness.h"

namespace {

using servertest::Server;
using servertest::TotalAfter;

TEST(ServerConcurrency, TenClientsPagesAndListsEveryPageOnce) {
  constexpr int kClients = 10;
  constexpr int kPagesEach = 20;
  // One person per page, so the status listing names each page by its recipient.
  std::string ini = "QueueSize = 1000\n" + std::string(servertest::kSystemsIni) + "NameSection\n";
  for (int c = 0; c < kClients; ++c) {
    for (int i = 0; i < kPagesEach; ++i) {
      ini += servertest::Person("C" + std::to_string(c) + "P" + std::to_string(i), std::to_string(10000 + c * 100 + i));
    }
  }
  Server server;
  server.Dir().Write("page.ini", ini);
  server.Start();

  std::atomic<int> accepted{0};
  std::atomic<int> badLists{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; i < kPagesEach; ++i) {
        if (server.Page("C" + std::to_string(c) + "P" + std::to_string(i), "page " + std::to_string(i)) == "OK")
          ++accepted;
        const auto names = server.List(common::kListPersons, (c + i) % 5);
        const size_t expected = (c + i) % 5 < 4 ? 50u : 0u;
        if (names.size() != expected) ++badLists;
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(accepted.load(), kClients * kPagesEach);
  EXPECT_EQ(badLists.load(), 0);

  // Once both port queues are full nothing moves any more, and the listing is exact.
  std::map<std::string, int> seen;
  const auto everyPageOnce = [&seen](const std::string& listing) {
    seen.clear();
    std::istringstream lines(listing);
    for (std::string text; std::getline(lines, text);) {
      if (text.rfind("    C", 0) == 0) ++seen[text.substr(4)];
    }
    if (seen.size() != static_cast<size_t>(kClients * kPagesEach)) return false;
    for (const auto& entry : seen) {
      if (entry.second != 1) return false;
    }
    return true;
  };
  const std::string listing = servertest::StatusWhen(server, 1, everyPageOnce);
  EXPECT_TRUE(everyPageOnce(listing)) << listing;
  EXPECT_EQ(seen.size(), static_cast<size_t>(kClients * kPagesEach));
  for (const auto& [name, count] : seen) EXPECT_EQ(count, 1) << name;
  EXPECT_EQ(TotalAfter(server.Status(0), "Total pages in All NOW Queues: "), kClients * kPagesEach);

  // Every number from 1 to 200 was given out exactly once.
  for (int n = 1; n <= kClients * kPagesEach; ++n) {
    EXPECT_EQ(testsupport::CountInFile(server.Dir().File("log.txt"), "Page Queued(#" + std::to_string(n) + "),"), 1)
        << n;
  }
  EXPECT_EQ(testsupport::CountInFile(server.Dir().File("log.txt"), "Page Queued(#"), kClients * kPagesEach);
}

}  // namespace
