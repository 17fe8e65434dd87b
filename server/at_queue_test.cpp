// server/at_queue_test.cpp - scheduling, deleting and due pages.
#include "server/at_queue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/clock.h"
#include "tests/support/process.h"
#include "tests/support/test_state.h"

namespace server {
namespace {

class AtQueue : public ::testing::Test {
 protected:
  void SetUp() override { state_ = core::StateFromIni(core::kTwoPortIni, dir_.File("log.txt")); }
  std::string Log() const { return dir_.Read("log.txt"); }
  core::AtEntry& Slot(int i) { return state_->AtTable[static_cast<size_t>(i)]; }

  testsupport::TempDir dir_;
  std::unique_ptr<core::ServerState> state_;
};

// Sets TZ for one test and puts the old value back.
class ScopedTz {
 public:
  explicit ScopedTz(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTz() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

std::time_t LocalSeconds(int year, int month, int day, int hour, int minute) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST_F(AtQueue, ScheduleAtStoresTheRequestAndLogsIt) {
  EXPECT_EQ(ScheduleAt(*state_, "Ann", "1001", "at nine", 5, 9, 3, 4, 2031), 0);
  const core::AtEntry& s = Slot(0);
  EXPECT_EQ(+s.InUse, 1);
  EXPECT_EQ(+s.Year, 2031);
  EXPECT_EQ(+s.Month, 4);
  EXPECT_EQ(+s.Day, 3);
  EXPECT_EQ(+s.Hour, 9);
  EXPECT_EQ(+s.Minute, 5);
  EXPECT_EQ(+s.WeekDay, 0);
  EXPECT_STREQ(s.PageID, "1001");
  EXPECT_EQ(+s.MessageNumber, 1);
  EXPECT_TRUE(state_->AtDirty);
  EXPECT_NE(Log().find(" CORVD32: Queued(#1): Will page Ann at 2031-4-3 9:05\n"), std::string::npos);
}

TEST_F(AtQueue, TwoHundredSlotsThenFull) {
  for (int i = 0; i < core::kAtSlots; ++i) ASSERT_EQ(ScheduleAt(*state_, "Ann", "1001", "x", 0, 1, 1, 1, 2031), i);
  EXPECT_EQ(ScheduleAt(*state_, "Ann", "1001", "x", 0, 1, 1, 1, 2031), -1);
  EXPECT_EQ(ScheduleAfter(*state_, "Ann", "1001", "x", 5), -1);
  EXPECT_NE(Log().find("CORVD32: Error - The AT queue is full\n"), std::string::npos);
}

TEST_F(AtQueue, NinetyMinutesAfterElevenAtNightIsHalfPastMidnightNextDay) {
  ScopedTz tz("UTC0");
  const std::time_t at2300 = LocalSeconds(2026, 12, 31, 23, 0);
  ASSERT_EQ(ScheduleAfterFrom(*state_, "Bob", "1002", "late", 90, at2300), 0);
  const core::AtEntry& s = Slot(0);
  EXPECT_EQ(+s.Year, 2027);
  EXPECT_EQ(+s.Month, 1);
  EXPECT_EQ(+s.Day, 1);
  EXPECT_EQ(+s.Hour, 0);
  EXPECT_EQ(+s.Minute, 30);
  EXPECT_EQ(+s.WeekDay, 5);  // 1 January 2027 is a Friday
  EXPECT_EQ(+s.YearDay, 0);
  EXPECT_NE(Log().find("Queued(#1): Will delay page of Bob till 2027-1- 1 0:30\n"), std::string::npos);
}

TEST_F(AtQueue, DelayAcrossTheSpringClockChangeCountsRealMinutes) {
  ScopedTz tz("CET-1CEST,M3.5.0,M10.5.0/3");
  // 29 March 2026, 01:30 CET; 90 minutes later the clocks show 04:00 CEST.
  const std::time_t before = LocalSeconds(2026, 3, 29, 1, 30);
  ASSERT_EQ(ScheduleAfterFrom(*state_, "Bob", "1002", "dst", 90, before), 0);
  EXPECT_EQ(+Slot(0).Hour, 4);
  EXPECT_EQ(+Slot(0).Minute, 0);
  EXPECT_EQ(+Slot(0).DaylightSaving, 1);
}

TEST_F(AtQueue, DueWhenNotLaterThanNowSecondsIgnored) {
  ASSERT_EQ(ScheduleAt(*state_, "Ann", "1001", "x", 30, 14, 9, 3, 2027), 0);
  std::tm now{};
  now.tm_year = 2027 - 1900;
  now.tm_mon = 2;
  now.tm_mday = 9;
  now.tm_hour = 14;
  now.tm_min = 29;
  now.tm_sec = 59;
  EXPECT_FALSE(IsDue(Slot(0), now));
  now.tm_min = 30;
  now.tm_sec = 0;
  EXPECT_TRUE(IsDue(Slot(0), now));
  now.tm_year = 2026 - 1900;  // a later month of an earlier year is still earlier
  now.tm_mon = 11;
  EXPECT_FALSE(IsDue(Slot(0), now));
  core::AtEntry free{};
  EXPECT_FALSE(IsDue(free, now));
}

TEST_F(AtQueue, DuePassMovesPagesToMainWithTheirNumbers) {
  ASSERT_EQ(ScheduleAt(*state_, "Ann", "1001", "past", 0, 8, 1, 1, 2000), 0);
  ASSERT_EQ(ScheduleAt(*state_, "Bob", "1002", "future", 0, 8, 1, 1, 2099), 1);
  ASSERT_EQ(ScheduleAt(*state_, "Team", "Team", "group", 0, 8, 1, 1, 2001), 2);
  EXPECT_EQ(AtDuePass(*state_, platform::LocalTime(platform::Now())), 2);
  EXPECT_EQ(+Slot(0).InUse, 0);
  EXPECT_EQ(+Slot(1).InUse, 1);
  EXPECT_EQ(+Slot(2).InUse, 0);
  ASSERT_EQ(core::QueuedCount(*state_->Main), 4);  // Ann, then the three members of Team
  core::QueueEntry entry;
  ASSERT_EQ(core::PopHead(*state_, *state_->Main, &entry), 0);
  EXPECT_EQ(entry.Message, "past");
  EXPECT_EQ(+entry.MessageNumber, 1);
  ASSERT_EQ(core::PopHead(*state_, *state_->Main, &entry), 0);
  EXPECT_EQ(+entry.MessageNumber, 3);
}

TEST_F(AtQueue, DeletePatterns) {
  ASSERT_GE(ScheduleAt(*state_, "Ann", "1001", "a", 15, 10, 5, 6, 2030), 0);
  ASSERT_GE(ScheduleAt(*state_, "1001", "1001", "b", 30, 11, 5, 6, 2030), 0);
  ASSERT_GE(ScheduleAt(*state_, "Bob", "1002", "c", 30, 11, 5, 6, 2031), 0);
  ASSERT_GE(ScheduleAt(*state_, "Carl", "2001", "d", 0, 0, 1, 1, 2030), 0);

  // By the person's pager ID: the page scheduled for the ID itself goes too; hour 0 is any hour.
  EXPECT_EQ(0, DeleteAt(*state_, "Ann", "1001", 0, 0, 5, 6, 2030));
  EXPECT_EQ(+Slot(0).InUse, 0);
  EXPECT_EQ(+Slot(1).InUse, 0);
  EXPECT_EQ(+Slot(2).InUse, 1);
  EXPECT_NE(Log().find("CORVD32: Deleting page for 'Ann' at 2030-6-5 10:15\n"), std::string::npos);
  EXPECT_NE(Log().find("CORVD32: Deleting page for 'Ann' at 2030-6-5 11:30\n"), std::string::npos);

  // The pager ID compares with letter case; a miss is written to the log file only.
  EXPECT_EQ(0, DeleteAt(*state_, "Nobody", "NOBODY", 0, 0, 0, 0, 2031));
  EXPECT_NE(Log().find("CORVD32: Error Deleting page for 'Nobody' at 2031-0-0 0:00 - Page not found\n"),
            std::string::npos);
  EXPECT_EQ(AtSlotsInUse(*state_), 2);

  // Year 2000 (a request's 0), all zero fields and no name: every page.
  EXPECT_EQ(0, DeleteAt(*state_, "", "", 0, 0, 0, 0, 2000));
  EXPECT_EQ(AtSlotsInUse(*state_), 0);
}

TEST_F(AtQueue, LongMessageIsCutToWhatAnAtRecordCarries) {
  const std::string huge(4500, 'm');
  ASSERT_EQ(ScheduleAt(*state_, "Ann", "1001", huge.c_str(), 0, 0, 1, 1, 2035), 0);
  EXPECT_EQ(strlen(Slot(0).Message), static_cast<size_t>(core::kAtMessageMax));
  ASSERT_EQ(core::SaveAtFile(*state_, dir_.File("at.dat")), 0);
  auto reloaded = core::StateFromIni(core::kTwoPortIni, dir_.File("log.txt"));
  core::LoadAtFile(*reloaded, dir_.File("at.dat"));
  EXPECT_STREQ(reloaded->AtTable[0].Message, Slot(0).Message);
}

}  // namespace
}  // namespace server
