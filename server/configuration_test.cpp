// server/configuration_test.cpp - the page.ini watch: which changes reload the directory.
#include "server/configuration.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>

#include "server/at_queue.h"
#include "tests/support/process.h"
#include "tests/support/test_state.h"

namespace server {
namespace {

namespace fs = std::filesystem;

void SetLocalWriteTime(const std::string& path, int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  const auto sys = std::chrono::system_clock::from_time_t(std::mktime(&tm));
  fs::last_write_time(path, std::chrono::file_clock::from_sys(sys));
}

class Reload : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("page.ini", core::kTwoPortIni);
    state_ = core::StateFromIni(core::kTwoPortIni, dir_.File("log.txt"));
  }
  void TearDown() override { common::SetDebug(false); }  // the debug switch is process-wide
  std::string Ini() const { return dir_.File("page.ini"); }
  std::string Log() const { return dir_.Read("log.txt"); }
  void Rewrite(const std::string& text, int hour, int minute, int second, int day = 10) {
    dir_.Write("page.ini", text);
    SetLocalWriteTime(Ini(), 2026, 6, day, hour, minute, second);
  }

  testsupport::TempDir dir_;
  std::unique_ptr<core::ServerState> state_;
  IniWatch watch_;
};

TEST_F(Reload, TimeOfDayChangeReloadsAndTheDateAloneDoesNot) {
  SetLocalWriteTime(Ini(), 2026, 6, 10, 10, 0, 0);
  EXPECT_FALSE(CheckPageIni(*state_, watch_, Ini()));  // the first check only takes the stamp
  const std::string withDora =
      std::string(core::kTwoPortIni) + "[Dora]\nPageID = '4001'\nPagerType = Alphanumeric\nSystemName = 'Metro'\n";
  Rewrite(withDora, 10, 0, 4);
  EXPECT_TRUE(CheckPageIni(*state_, watch_, Ini()));
  EXPECT_NE(Log().find("CORVD32: PAGE.INI has changed - Re-reading file\n"), std::string::npos);
  EXPECT_EQ(state_->ReloadCount.load(), 1);
  EXPECT_GE(core::CurrentDirectory(*state_)->FindPersonByName("Dora"), 0);
  Rewrite(core::kTwoPortIni, 10, 0, 4, 11);  // the same time of day on another day
  EXPECT_FALSE(CheckPageIni(*state_, watch_, Ini()));
  EXPECT_GE(core::CurrentDirectory(*state_)->FindPersonByName("Dora"), 0);
  Rewrite(core::kTwoPortIni, 10, 0, 5);  // within the same two seconds: not a change
  EXPECT_FALSE(CheckPageIni(*state_, watch_, Ini()));
}

TEST_F(Reload, FileFromNineteenEightyIsStillWatched) {
  SetLocalWriteTime(Ini(), 1980, 1, 1, 12, 0, 0);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(CheckPageIni(*state_, watch_, Ini()));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("SeeIfWeShouldReadPageiniFile( ) - Year = 0\n"),
            std::string::npos);
  SetLocalWriteTime(Ini(), 1980, 1, 1, 12, 30, 0);
  EXPECT_TRUE(CheckPageIni(*state_, watch_, Ini()));
}

}  // namespace
}  // namespace server
