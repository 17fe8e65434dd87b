// tests/server_at_test.cpp - scheduled pages and page.ini edits in a running corvd32.
//
// CORVEL_TIME_SCALE=100 turns the 120 s page.ini check into 1.2 s; scheduled pages need no
// scale: they move when due and at.dat is written after every change.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>

#include "tests/server_harness.h"

namespace {

using servertest::Server;
using servertest::TotalAfter;

const std::map<std::string, std::string> kFast = {{"CORVEL_TIME_SCALE", "100"}};

common::RequestRecord At(int year, int month, int day, int hour, int minute) {
  common::RequestRecord head = Server::Head(common::kPageRequest, 1);
  head.Year = static_cast<uint16_t>(year);
  head.Month = static_cast<uint8_t>(month);
  head.Day = static_cast<uint8_t>(day);
  head.Hour = static_cast<uint8_t>(hour);
  head.Minute = minute;
  return head;
}

bool WaitForStatus(const Server& server, const std::string& prefix, int value, int timeoutMs) {
  return testsupport::WaitUntil([&] { return TotalAfter(server.Status(0), prefix) == value; }, timeoutMs, 50);
}

TEST(ServerAt, PageAtAPastTimeReachesTheNowQueues) {
  Server server;
  server.Dir().Write("page.ini", servertest::StandardIni());
  server.Start({}, kFast);
  EXPECT_EQ(server.Request(At(99, 1, 2, 3, 4), "Ann", "long overdue"), "OK");
  EXPECT_TRUE(testsupport::WaitForFileText(server.Dir().File("log.txt"),
                                           "CORVD32: Queued(#1): Will page Ann at 1999-1-2 3:04\n", 5000));
  // The AT delay thread moves a page that is due at once.
  EXPECT_TRUE(WaitForStatus(server, "Total pages in All NOW Queues: ", 1, 5000)) << server.Status(1);
  EXPECT_EQ(TotalAfter(server.Status(0), "Total pages in AT Queue: "), 0);
}

TEST(ServerAt, ScheduledPagesSurviveAStopAndAKillWithTheirNumbers) {
  Server server;
  server.Dir().Write("page.ini", servertest::StandardIni());
  server.Start();
  EXPECT_EQ(server.Page("Ann", "now first"), "OK");
  EXPECT_EQ(server.Request(At(2090, 5, 6, 7, 8), "Bob", "far future"), "OK");
  EXPECT_TRUE(
      testsupport::WaitForFileText(server.Dir().File("log.txt"), "Queued(#2): Will page Bob at 2090-5-6 7:08", 5000));
  EXPECT_EQ(server.Stop(SIGTERM), 0);
  ASSERT_TRUE(testsupport::FileExists(server.Dir().File("at.dat")));

  server.Start({}, kFast);
  std::string listing = server.Status(1);
  EXPECT_NE(listing.find("  2090-5-6 7:08   Bob\n"), std::string::npos) << listing;
  common::RequestRecord after = Server::Head(common::kPageRequest, 2);
  after.Minute = 600;
  EXPECT_EQ(server.Request(after, "Team", "later for both"), "OK");
  // Killed at once: the pages answered "OK" are in the page store, whatever at.dat holds.
  server.Stop(SIGKILL);

  server.Start();
  listing = server.Status(1);
  EXPECT_NE(listing.find("  2090-5-6 7:08   Bob\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("   Ann\n"), std::string::npos) << listing;
  EXPECT_EQ(TotalAfter(server.Status(0), "Total pages in AT Queue: "), 3);
  // The pages keep their numbers (Bob's AT page is still #2); the next page gets #5.
  common::RequestRecord record = Server::Head(common::kPageRecord);
  record.Minute = 2;
  const std::string bob = server.Request(record, "");
  EXPECT_NE(bob.find("\tstate=scheduled\tname=Bob\t"), std::string::npos) << bob;
  EXPECT_NE(bob.find("\tdue=2090-05-06 07:08:00\t"), std::string::npos) << bob;
  EXPECT_EQ(server.Page("Ann", "numbered after the stored ones"), "OK");
  EXPECT_TRUE(testsupport::WaitForFileText(server.Dir().File("log.txt"), "Page Queued(#5), Will page Ann now", 5000));
  // at.dat is written again from the table after a change: three slots.
  const std::string file = server.Dir().File("at.dat");
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] { return testsupport::ReadFile(file).size() == 2u * 3 + (10 + 167) + 2 * (14 + 167); }, 5000, 50));
}

TEST(ServerAt, DeleteByNameAnswersOk) {
  Server server;
  server.Dir().Write("page.ini", servertest::StandardIni());
  server.Start();
  EXPECT_EQ(server.Request(At(2090, 1, 1, 9, 30), "Ann", "a"), "OK");
  EXPECT_EQ(server.Request(At(2090, 1, 1, 9, 30), "1002", "b"), "OK");
  common::RequestRecord del = Server::Head(common::kDeleteAt);
  EXPECT_EQ(server.Request(del, "Ann"), "OK");
  EXPECT_TRUE(
      testsupport::WaitForFileText(server.Dir().File("log.txt"), "Deleting page for 'Ann' at 2090-1-1 9:30\n", 5000));
  EXPECT_EQ(TotalAfter(server.Status(0), "Total pages in AT Queue: "), 1);
  EXPECT_EQ(server.Request(del, "Ann"), "OK");
  EXPECT_TRUE(testsupport::WaitForFileText(server.Dir().File("log.txt"),
                                           "Error Deleting page for 'Ann' at 2000-0-0 0:00 - Page not found\n", 5000));
}

TEST(ServerAt, EditedPageIniIsReadAgain) {
  Server server;
  server.Dir().Write("page.ini", servertest::StandardIni());
  server.Start({}, kFast);
  testsupport::FileCloseWatch iniWatch(server.Dir().File("page.ini"));
  ASSERT_TRUE(iniWatch.Ok());
  EXPECT_EQ(server.Page("Cleo", "not yet"), "ERR: Invalid name or Now queue is full");
  // The first check (after 1.2 s) only takes the file's stamp; edit after it.
  ASSERT_TRUE(servertest::WaitForIniBaseline(iniWatch, 10000));
  // Cleo's system has a port not seen at start-up: the reload gives it a queue and a dial thread.
  server.Dir().Write("page.ini", servertest::StandardIni() + servertest::Person("Cleo", "1003") +
                                     "PagerSystemsSection\n[North]\nPort = '/nonexistent/tty3'\n" +
                                     "NameSection\n[Dan]\nPageID = '1004'\nPagerType = Alphanumeric\n" +
                                     "SystemName = 'North'\n");
  namespace fs = std::filesystem;
  const std::string ini = server.Dir().File("page.ini");
  fs::last_write_time(ini, fs::last_write_time(ini) + std::chrono::seconds(7));  // a new time of day
  EXPECT_TRUE(testsupport::WaitForFileText(server.Dir().File("log.txt"),
                                           "CORVD32: PAGE.INI has changed - Re-reading file\n", 10000));
  EXPECT_EQ(server.Page("Cleo", "now known"), "OK");
  EXPECT_EQ(server.Page("Dan", "through the new port"), "OK");
  EXPECT_TRUE(testsupport::WaitForFileText(server.Dir().File("log.txt"), "/nonexistent/tty3", 10000)) << server.Log();
  EXPECT_EQ(testsupport::CountInFile(server.Dir().File("log.txt"), "PAGE.INI has changed"), 1);
}

}  // namespace
