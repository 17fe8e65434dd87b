// tests/protocols_pipe_test.cpp - pages posted on the pipe of a real corvd32 reach the
// simulator's UCP centre, numeric pager, TAP manual-mode terminal and scripted system
// through the router, the dial thread and the drivers; log.txt and the simulator's record
// must agree on every page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/modem_harness.h"
#include "tests/support/wait.h"

namespace {

using modemtest::Rig;

std::string System(const std::string& name, const std::string& type, const std::string& port, const std::string& phone,
                   const std::string& extra = "") {
  return "[" + name + "]\nSystemType = " + type + "\nPort = '" + port +
         "'\nBaud = 9600\nParity = None\n"
         "DataBits = 8\nStopBits = 1\nSystemPhoneNumber = '" +
         phone + "'\n" + extra;
}

std::string Person(const std::string& name, const std::string& id, const std::string& system,
                   const std::string& type = "Alphanumeric") {
  return "[" + name + "]\nPageID = '" + id + "'\nPagerType = " + type + "\nSystemName = '" + system + "'\n";
}

std::string Number(const std::string& number, const std::string& lines) { return "[number " + number + "]\n" + lines; }

const char* kModem = "[modem]\ndial_ms = 100\n";

TEST(ProtocolsPipe, OnePageIniWithEveryKindDeliversAPageToEach) {
  Rig rig;
  const std::string port = rig.Port();
  rig.Dir().Write("dial.scr", "ATDT%p\\r\nCONNECT\n%i\\r%m\\r\nACCEPTED\n");
  const std::string ini =
      "MaxReTrys = 3\nPagerSystemsSection\n" + System("Block", "Tap", port, "5550001", "TapPassWord = 'PW'\n") +
      System("Manual", "TapM", port, "5550002") + System("Centre", "UCP", port, "5550003") +
      System("Scripted", "Script", port, "5550004", "ScriptFileName = '" + rig.Dir().File("dial.scr") + "'\n") +
      System("Beeper", "Tap", port, "5550005") + "NameSection\n" + Person("Tess", "101", "Block") +
      Person("Manny", "202", "Manual") + Person("Ursula", "0303-333", "Centre") + Person("Scott", "404", "Scripted") +
      Person("Nora", "505", "Beeper", "Numeric");
  const std::string sim = std::string(kModem) + Number("5550001", "terminal = tap\npassword = PW\n") +
                          Number("5550002", "terminal = tapm\n") + Number("5550003", "terminal = ucp\n") +
                          Number("5550004", "terminal = script\nsteps = Script page\\r=>ACCEPTED\\r\\n\n") +
                          Number("5550005", "terminal = numeric\n");
  rig.Start(ini, sim);
  EXPECT_EQ(rig.Page("Tess", "Tap page"), "OK");
  EXPECT_EQ(rig.Page("Manny", "Manual page"), "OK");
  EXPECT_EQ(rig.Page("Ursula", "Ucp page"), "OK");
  EXPECT_EQ(rig.Page("Scott", "Script page"), "OK");
  EXPECT_EQ(rig.Page("Nora", "4242"), "OK");
  ASSERT_TRUE(rig.WaitLog("Paged Nora\n", 120000)) << rig.Log() << rig.Record();

  EXPECT_EQ(rig.CountLog("Message(#1) sent to Tess\n"), 1);
  EXPECT_EQ(rig.CountLog("CORVD32: Paged Manny\n"), 1);
  EXPECT_EQ(rig.CountLog("CORVD32: Paged Ursula\n"), 1);
  EXPECT_EQ(rig.CountLog("CORVD32: Paged Scott\n"), 1);
  EXPECT_EQ(rig.CountLog("CORVD32: Paged Nora\n"), 1);
  EXPECT_EQ(rig.CountLog("Error"), 0) << rig.Log();

  const std::vector<std::string> tap = rig.RecordLines("PAGE ");
  ASSERT_EQ(tap.size(), 1u) << rig.Record();
  EXPECT_EQ(Rig::Field(tap[0], "id"), "101");
  EXPECT_EQ(rig.RecordLines("TAPM page"), std::vector<std::string>{"TAPM page call=2 id=202 msg=Manual page"});
  const std::vector<std::string> ucp = rig.RecordLines("UCP ");
  ASSERT_EQ(ucp.size(), 1u);
  EXPECT_NE(ucp[0].find("frame=00/00054/O/30/0303333///1//0139////5563702070616765/ "), std::string::npos) << ucp[0];
  EXPECT_NE(ucp[0].find("len=ok sum=ok adc=0303333 msg=Ucp page answer=A"), std::string::npos) << ucp[0];
  const std::vector<std::string> script = rig.RecordLines("SCRIPT end");
  ASSERT_EQ(script.size(), 1u);
  EXPECT_NE(script[0].find("received=404\\x0DScript page\\x0D steps=1/1"), std::string::npos) << script[0];
  const std::vector<std::string> numeric = rig.RecordLines("NUMERIC ");
  ASSERT_EQ(numeric.size(), 1u);
  EXPECT_NE(numeric[0].find("dial=5550005,,505,,,4242 played=5550005,,505,,,4242 complete=yes"), std::string::npos)
      << numeric[0];
}

TEST(ProtocolsPipe, UcpSecondOfThreeRejectedIsLostAndTheThirdGoesOutInTheNextRound) {
  Rig rig;
  const std::string ini = "MaxReTrys = 3\nPagerSystemsSection\n" + System("Centre", "UCP", rig.Port(), "5550003") +
                          "NameSection\n" + Person("Ann", "0172-1111111", "Centre") +
                          Person("Bob", "0172-2222222", "Centre") + Person("Cyd", "0172-3333333", "Centre");
  rig.Start(ini, std::string(kModem) + Number("5550003", "terminal = ucp\nreject = 01722222222\n"));
  EXPECT_EQ(rig.Page("Ann", "AB"), "OK");
  EXPECT_EQ(rig.Page("Bob", "CD"), "OK");
  EXPECT_EQ(rig.Page("Cyd", "EF"), "OK");
  ASSERT_TRUE(rig.WaitLog("Paged Cyd\n", 90000)) << rig.Log() << rig.Record();
  const std::string log = rig.Log();
  const size_t ann = log.find("CORVD32: Paged Ann\n");
  const size_t rejected = log.find("CORVD32: Error - System rejected pager\n");
  const size_t cyd = log.find("CORVD32: Paged Cyd\n");
  ASSERT_NE(ann, std::string::npos);
  ASSERT_NE(rejected, std::string::npos);
  EXPECT_LT(ann, rejected);
  EXPECT_LT(rejected, cyd);
  EXPECT_EQ(rig.CountLog("Paged Bob"), 0);
  EXPECT_EQ(rig.CountLog("Was not able"), 0);  // the lost page is not given up a second time
  const std::vector<std::string> frames = rig.RecordLines("UCP ");
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_NE(frames[0].find("adc=01721111111 msg=AB answer=A"), std::string::npos);
  EXPECT_NE(frames[1].find("adc=01722222222 msg=CD answer=N"), std::string::npos);
  EXPECT_NE(frames[2].find("adc=01723333333 msg=EF answer=A"), std::string::npos);
  EXPECT_EQ(rig.RecordLines("CALL ").size(), 3u);
}

TEST(ProtocolsPipe, UcpFrameAndChecksumAsReceivedAndCp850Byte81As7E) {
  Rig rig;
  const std::string ini = "MapCodePage = CP850\nPagerSystemsSection\n" +
                          System("Centre", "UCP", rig.Port(), "5550003") + "NameSection\n" +
                          Person("Ann", "0172-1234567", "Centre");
  rig.Start(ini, std::string(kModem) + Number("5550003", "terminal = ucp\n"));
  EXPECT_EQ(rig.Page("Ann", "AB"), "OK");
  EXPECT_EQ(rig.Page("Ann", "\x81"), "OK");
  ASSERT_TRUE(testsupport::WaitForFileText(rig.Dir().File("rec.txt"), "////7E/", 60000)) << rig.Record();
  ASSERT_TRUE(rig.WaitLog("Paged Ann\n", 10000));
  const std::vector<std::string> frames = rig.RecordLines("UCP ");
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_NE(frames[0].find("frame=00/00046/O/30/01721234567///1//0139////4142/ checksum=9D len=ok sum=ok"),
            std::string::npos)
      << frames[0];
  EXPECT_NE(frames[1].find("frame=00/00044/O/30/01721234567///1//0139////7E/ "), std::string::npos) << frames[1];
}

TEST(ProtocolsPipe, NumericWithPrefixAndSystemNumber) {
  Rig rig;
  const std::string ini = "DialingPrefix = '9'\nPagerSystemsSection\n" +
                          System("Numeric", "Tap", rig.Port(), "5551212") + "NameSection\n" +
                          "[Ann]\nPageID = '1234567'\nPagerType = Numeric\n";
  rig.Start(ini, std::string(kModem) + Number("5551212", "terminal = numeric\n"));
  EXPECT_EQ(rig.Page("Ann", "42"), "OK");
  ASSERT_TRUE(rig.WaitLog("Paged Ann\n", 60000)) << rig.Log() << rig.Record();
  ASSERT_TRUE(rig.WaitRecord("NUMERIC ", 10000));
  EXPECT_EQ(rig.RecordLines("COMMAND ATD"), std::vector<std::string>{"COMMAND ATD9,5551212,,1234567,,,42"});
  const std::vector<std::string> calls = rig.RecordLines("NUMERIC ");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find("played=9,5551212,,1234567,,,42 complete=yes"), std::string::npos) << calls[0];
  EXPECT_NE(calls[0].find("reason=key"), std::string::npos) << calls[0];
}

TEST(ProtocolsPipe, Numeric150DigitsWithoutPrefixOrNumberCutTo99AllPlayedBeforeTheHangUp) {
  Rig rig;
  // Without a system number the pager ID itself is dialled: the simulator answers on it.
  const std::string ini = "PagerSystemsSection\n" + System("Numeric", "Tap", rig.Port(), "") + "NameSection\n" +
                          "[Ann]\nPageID = '1234567'\nPagerType = Numeric\nSystemName = 'Numeric'\n";
  rig.Start(ini, std::string(kModem) + Number("1234567", "terminal = numeric\n"));
  std::string digits;
  for (int i = 0; i < 150; ++i) digits.push_back(static_cast<char>('0' + (i * 3) % 10));
  EXPECT_EQ(rig.Page("Ann", digits), "OK");
  ASSERT_TRUE(rig.WaitLog("Paged Ann\n", 90000)) << rig.Log() << rig.Record();
  ASSERT_TRUE(rig.WaitRecord("NUMERIC ", 10000));
  const std::string dialled = "1234567,," + digits.substr(0, 99);
  const std::vector<std::string> calls = rig.RecordLines("NUMERIC ");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(Rig::Field(calls[0], "dial"), dialled);
  EXPECT_EQ(Rig::Field(calls[0], "played"), dialled);
  EXPECT_EQ(Rig::Field(calls[0], "complete"), "yes");
}

TEST(ProtocolsPipe, NumericCallTheModemReportsBusyIsAFailedRoundThenPaged) {
  Rig rig;
  const std::string ini = "MaxReTrys = 3\nPagerSystemsSection\n" + System("Numeric", "Tap", rig.Port(), "5551212") +
                          "NameSection\n" + "[Ann]\nPageID = '1234567'\nPagerType = Numeric\n";
  rig.Start(ini, std::string(kModem) + Number("5551212", "terminal = numeric\nfail_first = 1\n"));
  EXPECT_EQ(rig.Page("Ann", "42"), "OK");
  ASSERT_TRUE(rig.WaitLog("Paged Ann\n", 90000)) << rig.Log() << rig.Record();
  ASSERT_TRUE(rig.WaitRecord("NUMERIC ", 10000));
  // The busy call paged nobody: logged with the modem's words, and the page was played on
  // the next call.
  const std::string log = rig.Log();
  const size_t busy = log.find("CORVD32: Error - Numeric page for Ann not sent - Modems response was(BUSY)\n");
  ASSERT_NE(busy, std::string::npos) << log;
  EXPECT_LT(busy, log.find("CORVD32: Paged Ann\n"));
  EXPECT_EQ(rig.CountLog("Paged Ann"), 1);
  EXPECT_EQ(rig.RecordLines("CALL ").size(), 2u) << rig.Record();
  EXPECT_EQ(rig.RecordLines("RESULT call=1 BUSY").size(), 1u) << rig.Record();
  const std::vector<std::string> played = rig.RecordLines("NUMERIC ");
  ASSERT_EQ(played.size(), 1u);
  EXPECT_NE(played[0].find("complete=yes"), std::string::npos) << played[0];
}

TEST(ProtocolsPipe, NumericPersonOnATapSystemIsDialledNumerically) {
  Rig rig;
  const std::string ini = "PagerSystemsSection\n" +
                          System("Metro", "Tap", rig.Port(), "5550007", "ModemInitString = 'ATX4'\n") +
                          "NameSection\n" + Person("Num", "7654321", "Metro", "Numeric");
  rig.Start(ini, std::string(kModem) + Number("5550007", "terminal = numeric\n"));
  EXPECT_EQ(rig.Page("Num", "Call 555-1234 #"), "OK");
  ASSERT_TRUE(rig.WaitLog("Paged Num\n", 60000)) << rig.Log() << rig.Record();
  ASSERT_TRUE(rig.WaitRecord("NUMERIC ", 10000));
  const std::vector<std::string> commands = rig.RecordLines("COMMAND ");
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(commands[0], "COMMAND ATX4");
  EXPECT_EQ(commands.back(), "COMMAND ATD5550007,,7654321,,,5551234#");
  EXPECT_TRUE(rig.RecordLines("LOGON ").empty());
}

TEST(ProtocolsPipe, TapManualThreePagesInOneCallAndTheFourthForAnotherSystemInTheNext) {
  Rig rig;
  const std::string ini = "PagerSystemsSection\n" + System("Manual", "TapM", rig.Port(), "5550002") +
                          System("Other", "TapM", rig.Port(), "5550012") + "NameSection\n" +
                          Person("Ann", "111", "Manual") + Person("Bob", "222", "Manual") +
                          Person("Cyd", "333", "Manual") + Person("Dan", "444", "Other");
  rig.Start(ini, std::string(kModem) + Number("5550002", "terminal = tapm\n" + rig.Hold()) +
                     Number("5550012", "terminal = tapm\n"));
  EXPECT_EQ(rig.Page("Ann", "first"), "OK");
  EXPECT_EQ(rig.Page("Bob", "second"), "OK");
  EXPECT_EQ(rig.Page("Cyd", "third"), "OK");
  EXPECT_EQ(rig.Page("Dan", "fourth"), "OK");
  // The first call connects only once all four wait in the port's queue: a page the router
  // has not handed over yet when a page goes out would wait for the next call.
  rig.ReleaseWhenQueued(4);
  ASSERT_TRUE(rig.WaitLog("Paged Dan\n", 60000)) << rig.Log() << rig.Record();
  const std::vector<std::string> pages = rig.RecordLines("TAPM page");
  ASSERT_EQ(pages.size(), 4u) << rig.Record();
  const std::string firstCall = pages[0].substr(0, pages[0].find(" id="));
  EXPECT_EQ(pages[1].substr(0, pages[1].find(" id=")), firstCall);
  EXPECT_EQ(pages[2].substr(0, pages[2].find(" id=")), firstCall);
  EXPECT_NE(pages[3].substr(0, pages[3].find(" id=")), firstCall);
  EXPECT_NE(pages[3].find("id=444 msg=fourth"), std::string::npos);
  EXPECT_EQ(rig.CountLog("CORVD32: Paged "), 4);
}

TEST(ProtocolsPipe, TapManualTerminalThatNeedsTwoM) {
  Rig rig;
  const std::string ini = "PagerSystemsSection\n" + System("Manual", "TapM", rig.Port(), "5550002") + "NameSection\n" +
                          Person("Ann", "111", "Manual");
  rig.Start(ini, std::string(kModem) + Number("5550002", "terminal = tapm\nm = 2\n"));
  EXPECT_EQ(rig.Page("Ann", "hello"), "OK");
  ASSERT_TRUE(rig.WaitLog("Paged Ann\n", 60000)) << rig.Log() << rig.Record();
  EXPECT_EQ(rig.RecordLines("TAPM mode").size(), 2u);
  EXPECT_EQ(rig.RecordLines("TAPM page").size(), 1u);
}

TEST(ProtocolsPipe, TapManualTextWithCrCannotPageAnotherId) {
  Rig rig;
  const std::string ini = "PagerSystemsSection\n" + System("Manual", "TapM", rig.Port(), "5550002") + "NameSection\n" +
                          Person("Ann", "111", "Manual");
  rig.Start(ini, std::string(kModem) + Number("5550002", "terminal = tapm\n"));
  // Sent as it stands, the terminal would read 999 as a new pager ID and "evil" as its page.
  EXPECT_EQ(rig.Page("Ann", "hi\r999\revil\x1b"), "OK");
  ASSERT_TRUE(rig.WaitLog("Paged Ann\n", 60000)) << rig.Log() << rig.Record();
  ASSERT_TRUE(rig.WaitRecord("HANGUP ", 10000)) << rig.Record();
  EXPECT_EQ(rig.RecordLines("TAPM page"), std::vector<std::string>{"TAPM page call=1 id=111 msg=hi 999 evil "})
      << rig.Record();
}

TEST(ProtocolsPipe, ScriptsDialIdOnlyPauseAndMissingFile) {
  Rig rig;
  rig.Dir().Write("idonly.scr", "ATDT%p\\r\nCONNECT\n%i\\r\n\n");
  rig.Dir().Write("pause.scr", "ATDT%p\\r\nCONNECT\n%i\\r%d%m\\r\nOK\\r\n");
  const std::string ini =
      "PagerSystemsSection\n" +
      System("IdOnly", "Script", rig.Port(), "5550021", "ScriptFileName = '" + rig.Dir().File("idonly.scr") + "'\n") +
      System("Pause", "Script", rig.Port(), "5550022", "ScriptFileName = '" + rig.Dir().File("pause.scr") + "'\n") +
      System("Gone", "Script", rig.Port(), "5550023", "ScriptFileName = '" + rig.Dir().File("gone.scr") + "'\n") +
      "NameSection\n" + Person("Ann", "111", "IdOnly") + Person("Bob", "222", "Pause") + Person("Cyd", "333", "Gone");
  const std::string sim = std::string(kModem) + Number("5550021", "terminal = script\nsteps = \\r=>\\r\\n\n") +
                          Number("5550022", "terminal = script\nsteps = Two\\r=>OK\\r\\n\n") +
                          Number("5550023", "terminal = script\n");
  rig.Start(ini, sim);
  EXPECT_EQ(rig.Page("Ann", "One"), "OK");
  EXPECT_EQ(rig.Page("Bob", "Two"), "OK");
  EXPECT_EQ(rig.Page("Cyd", "Three"), "OK");
  ASSERT_TRUE(rig.WaitLog("open up script file", 60000)) << rig.Log() << rig.Record();
  ASSERT_TRUE(testsupport::WaitForFileText(rig.Dir().File("log.txt"), "Paged Bob\n", 5000));
  // Ann's script sends no %m; Cyd's file does not exist. Both pages are dropped as unsent.
  testsupport::WaitUntil([&] { return rig.CountLog("CORVD32: Error - Unalbe to send page.\n") >= 2; }, 10000);
  EXPECT_EQ(rig.CountLog("CORVD32: Error - Unalbe to send page.\n"), 2) << rig.Log();
  EXPECT_EQ(rig.CountLog("Error - Unable to open up script file(" + rig.Dir().File("gone.scr") + ")"), 1);
  EXPECT_EQ(rig.CountLog("Paged Ann"), 0);
  EXPECT_EQ(rig.CountLog("Paged Cyd"), 0);

  std::vector<std::string> dials = rig.RecordLines("COMMAND ATD");
  const std::vector<std::string> expectedDials = {"COMMAND ATD5550021", "COMMAND ATD5550022"};
  EXPECT_EQ(dials, expectedDials);  // the missing script dials nothing
  const std::vector<std::string> calls = rig.RecordLines("SCRIPT end");
  ASSERT_EQ(calls.size(), 2u) << rig.Record();
  EXPECT_NE(calls[0].find("received=111\\x0D steps=1/1"), std::string::npos) << calls[0];
  EXPECT_NE(calls[1].find("received=222\\x0DTwo\\x0D steps=1/1"), std::string::npos) << calls[1];
  const std::vector<std::string> lines = rig.RecordLines("SCRIPT line");
  ASSERT_EQ(lines.size(), 3u);
  auto at = [](const std::string& r) { return std::stoll(Rig::Field(r, "t")); };
  // The %d pause: 2000 ms of program time.
  EXPECT_GE(at(lines[2]) - at(lines[1]), 2000 / modemtest::kTimeScale - 10) << lines[1] << "\n" << lines[2];
}

}  // namespace
