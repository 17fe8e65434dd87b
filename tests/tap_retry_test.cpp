// End-to-end retry policy of the dial threads: failed calls, the waits between them, the
// give-up of the head page, an unopenable port, and a port that a reload names first.
// CORVEL_TIME_SCALE=60 shortens the dial threads' waits (3 minutes become 3 s) and the
// calls' fixed pauses; the limits on the simulator's answers stay real.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "tests/modem_harness.h"

namespace {

using modemtest::Rig;
using modemtest::SimIni;
using modemtest::TapIni;

const std::map<std::string, std::string> kFast = {{"CORVEL_TIME_SCALE", "60"}};

// Milliseconds between the starts of calls a and b (1-based) in the record.
long Gap(const Rig& rig, int a, int b) {
  const auto calls = rig.RecordLines("CALL ");
  if (static_cast<int>(calls.size()) < b) return -1;
  return std::stol(Rig::Field(calls[static_cast<size_t>(b - 1)], "t")) -
         std::stol(Rig::Field(calls[static_cast<size_t>(a - 1)], "t"));
}

TEST(TapRetry, BusyIsRetriedWithGrowingWaitsThenGivenUp) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n", "MaxReTrys = 5\n"), SimIni("result = BUSY\n"), kFast);
  ASSERT_EQ(rig.Page("Ann", "busy"), "OK");
  ASSERT_TRUE(rig.WaitLog("Error - Was not able to send message(#1) for: Ann\n", 90000)) << rig.Log();
  EXPECT_EQ(rig.CountLog("Error - No CONNECT message - Modems response was(BUSY)\n"), 5) << rig.Log();
  EXPECT_EQ(rig.CountLog("Waiting 3 minutes to page - There has been 4 Errors\n"), 1);
  EXPECT_EQ(rig.CountRecord("CALL "), 5);
  // After the third failure 1 s (17 ms here), after the fourth 3 minutes (3 s here).
  const long gap34 = Gap(rig, 3, 4), gap45 = Gap(rig, 4, 5);
  EXPECT_GT(gap45 - gap34, 2000) << gap34 << " " << gap45;
  EXPECT_LT(gap34, 8000);
}

TEST(TapRetry, SuccessAfterThreeFailuresResetsTheCount) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n", "MaxReTrys = 5\n"), SimIni("fail_first = 3\n"),
            kFast);
  ASSERT_EQ(rig.Page("Ann", "fourth time lucky"), "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#1) sent to Ann", 90000)) << rig.Log();
  ASSERT_EQ(rig.Page("Bob", "at once"), "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#2) sent to Bob", 30000)) << rig.Log();
  EXPECT_EQ(rig.CountLog("Modems response was(BUSY)"), 3);
  EXPECT_EQ(rig.CountLog("Waiting 3 minutes"), 0);
  EXPECT_EQ(rig.CountLog("Was not able"), 0);
}

TEST(TapRetry, NegativeMaxReTrysGivesUpAfterEveryFailedRound) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n", "MaxReTrys = -5\n"), SimIni("result = NO CARRIER\n"),
            kFast);
  ASSERT_EQ(rig.Page("Ann", "one"), "OK");
  ASSERT_EQ(rig.Page("Bob", "two"), "OK");
  ASSERT_TRUE(rig.WaitLog("Error - Was not able to send message(#2) for: Bob\n", 60000)) << rig.Log();
  EXPECT_EQ(rig.CountLog("Error - Was not able to send message(#1) for: Ann\n"), 1);
  EXPECT_EQ(rig.CountLog("Modems response was(NO CARRIER)"), 2);
  EXPECT_EQ(rig.CountRecord("CALL "), 2);
}

TEST(TapRetry, MaxReTrysZeroNeverGivesUp) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n", "MaxReTrys = 0\n"), SimIni("result = NO ANSWER\n"),
            kFast);
  ASSERT_EQ(rig.Page("Ann", "patience"), "OK");
  ASSERT_TRUE(rig.WaitRecord("CALL call=6 ", 90000)) << rig.Record();
  EXPECT_EQ(rig.CountLog("Waiting 3 minutes to page - There has been 4 Errors\n"), 1);
  EXPECT_EQ(rig.CountLog("Was not able"), 0);
  EXPECT_GT(Gap(rig, 5, 6) - Gap(rig, 2, 3), 3500);  // 5 minutes (5 s here) after the fifth
}

TEST(TapRetry, PortThatCannotBeOpened) {
  Rig rig;
  const std::string missing = rig.Dir().File("nope");
  rig.Start(TapIni(missing, "SystemPhoneNumber = '5551234'\n", "MaxReTrys = 1\n"), SimIni(), kFast);
  ASSERT_EQ(rig.Page("Ann", "nowhere"), "OK");
  ASSERT_TRUE(rig.WaitLog("Error - Was not able to send message(#1) for: Ann\n", 30000)) << rig.Log();
  EXPECT_EQ(rig.CountLog("Error - Unable to open up the com port(" + missing + ")\n"), 1) << rig.Log();
}

TEST(TapRetry, PortFirstNamedByAReloadGetsItsDialThread) {
  Rig rig;
  const std::string before =
      "PagerSystemsSection\n[Other]\nSystemType = Tap\nPort = '/nonexistent/tty9'\n"
      "NameSection\n[Zed]\nPageID = '9'\nPagerType = Alphanumeric\nSystemName = 'Other'\n";
  rig.Start(before, SimIni(), kFast);
  // The first check (2 minutes, 2 s here) takes the file's time as its baseline.
  testsupport::FileCloseWatch ini(rig.Dir().File("page.ini"));
  ASSERT_TRUE(ini.Ok());
  ASSERT_TRUE(servertest::WaitForIniBaseline(ini, 20000));
  rig.Dir().Write("page.ini", TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n"));
  std::filesystem::last_write_time(rig.Dir().File("page.ini"),
                                   std::filesystem::file_time_type::clock::now() + std::chrono::minutes(3));
  ASSERT_TRUE(rig.WaitLog("PAGE.INI has changed - Re-reading file", 20000)) << rig.Log();
  ASSERT_EQ(rig.Page("Ann", "after the reload"), "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#1) sent to Ann", 30000)) << rig.Log() << rig.Record();
}

}  // namespace
