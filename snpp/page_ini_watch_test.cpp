// snpp/page_ini_watch_test.cpp - which page.ini changes refresh the names.
#include "snpp/page_ini_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "common/log.h"
#include "tests/support/process.h"

namespace snpp {
namespace {

// The 90 s wait after a change runs a thousand times faster here; set before any sleep
// reads the scale.
const bool kFastClock = [] { return setenv("CORVEL_TIME_SCALE", "1000", 1) == 0; }();

namespace fs = std::filesystem;

void SetStamp(const std::string& path, int hour, int minute, int second, int day = 10) {
  // A local time turned into the file clock: build it from a time_t of a known local time.
  std::tm tm{};
  tm.tm_year = 2026 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  const auto when = std::chrono::system_clock::from_time_t(std::mktime(&tm));
  fs::last_write_time(path, fs::file_time_type::clock::from_sys(when));
}

TEST(PageIniWatch, TimeOfDayChangesRefreshDateChangesDoNot) {
  ASSERT_TRUE(kFastClock);
  testsupport::TempDir dir;
  common::SetProgramName("CORVNET32");
  common::SetLogFileName(dir.File("log.txt"));
  const std::string path = dir.File("page.ini");
  int refreshes = 0;
  const auto refresh = [&] { ++refreshes; };
  PageIniStamp saved;

  EXPECT_FALSE(SeeIfWeShouldReadPageiniFile(saved, path, refresh));  // no file yet: nothing
  EXPECT_EQ(saved.Packed, 0u);
  dir.Write("page.ini", "[x]\n");
  SetStamp(path, 9, 30, 10);
  EXPECT_FALSE(SeeIfWeShouldReadPageiniFile(saved, path, refresh));  // first check takes the stamp
  EXPECT_NE(saved.Packed, 0u);
  SetStamp(path, 9, 30, 11);  // the same two-second unit
  EXPECT_FALSE(SeeIfWeShouldReadPageiniFile(saved, path, refresh));
  SetStamp(path, 9, 30, 10, 11);  // another day, same time of day
  EXPECT_FALSE(SeeIfWeShouldReadPageiniFile(saved, path, refresh));
  EXPECT_EQ(refreshes, 0);

  SetStamp(path, 9, 31, 10);
  EXPECT_TRUE(SeeIfWeShouldReadPageiniFile(saved, path, refresh));
  EXPECT_EQ(refreshes, 1);
  EXPECT_NE(dir.Read("log.txt").find("CORVNET32: PAGE.INI has changed - Getting new list from paging server\n"),
            std::string::npos);
  EXPECT_FALSE(SeeIfWeShouldReadPageiniFile(saved, path, refresh));  // the new time was kept
  EXPECT_EQ(refreshes, 1);
}

TEST(PageIniWatch, FileDated1980StillCountsAsStamped) {
  testsupport::TempDir dir;
  const std::string path = dir.File("page.ini");
  dir.Write("page.ini", "[x]\n");
  std::tm tm{};
  tm.tm_year = 80;
  tm.tm_mon = 5;
  tm.tm_mday = 1;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  fs::last_write_time(path,
                      fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(std::mktime(&tm))));
  PageIniStamp saved;
  int refreshes = 0;
  EXPECT_FALSE(SeeIfWeShouldReadPageiniFile(saved, path, [&] { ++refreshes; }));
  EXPECT_EQ(saved.Packed >> 25, 1u);  // year 0 is set to 1: the stamp was taken
  EXPECT_FALSE(SeeIfWeShouldReadPageiniFile(saved, path, [&] { ++refreshes; }));
  EXPECT_EQ(refreshes, 0);
}

}  // namespace
}  // namespace snpp
