// End-to-end TAP delivery: a page posted on the pipe goes through the router and the dial
// thread to corvsim's TAP terminal. Each case is a test of its own, so ctest -j runs them
// side by side; the rig's time scale keeps a call's fixed pauses short.
#include <gtest/gtest.h>

#include "tests/modem_harness.h"

namespace {

using modemtest::Rig;
using modemtest::SimIni;
using modemtest::TapIni;

constexpr int kCallMs = 30000;  // a generous bound for one call

TEST(TapDelivery, OnePageIsOneBlockWithCorrectChecksum) {
  Rig rig;
  rig.Start(TapIni(rig.Server().Dir().File("p"), "SystemPhoneNumber = '5551234'\nModemInitString = 'AT &F'\n"),
            SimIni());
  ASSERT_EQ(rig.Page("Ann", "HI"), "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#1) sent to Ann\n", kCallMs)) << rig.Log() << rig.Record();
  ASSERT_TRUE(rig.WaitRecord("LOGOFF", 5000)) << rig.Record();
  const auto pages = rig.RecordLines("PAGE ");
  ASSERT_EQ(pages.size(), 1u) << rig.Record();
  EXPECT_EQ(Rig::Field(pages[0], "id"), "123");
  EXPECT_EQ(Rig::Field(pages[0], "hex"), "4849");
  EXPECT_EQ(Rig::Field(pages[0], "checksum"), "ok");
  EXPECT_EQ(Rig::Field(pages[0], "verdict"), "ACK");
  // The init string, the dial command with the number, and the log-on exactly once.
  EXPECT_EQ(rig.CountRecord("COMMAND AT&F\n"), 1) << rig.Record();
  EXPECT_EQ(rig.CountRecord("number=5551234"), 1);
  EXPECT_EQ(rig.CountRecord("LOGON "), 1) << rig.Record();
  EXPECT_EQ(rig.CountRecord(" again"), 0);
  EXPECT_EQ(rig.CountLog("Error"), 0) << rig.Log();
}

TEST(TapDelivery, TwentyFivePagesGoAsTwentyOneBlocksThenFour) {
  Rig rig;
  // The call connects once the port's queue is full (14 pages, 11 more in the Main queue).
  // At line speed each block takes far longer than a router pass, so the router refills the
  // port's queue long before it could run dry, and the split depends only on the 21-block
  // limit.
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n"), SimIni("baud = 2400\n" + rig.Hold()));
  for (int i = 1; i <= 25; ++i) ASSERT_EQ(rig.Page("Ann", "page " + std::to_string(i)), "OK");
  rig.ReleaseWhenQueued(14);
  ASSERT_TRUE(rig.WaitLog("Message(#25) sent to Ann", 2 * kCallMs)) << rig.Log();
  ASSERT_TRUE(rig.WaitRecord("LOGOFF call=2", 5000)) << rig.Record();
  EXPECT_EQ(rig.CountRecord("PAGE call=1 "), 21) << rig.Record();
  EXPECT_EQ(rig.CountRecord("PAGE call=2 "), 4) << rig.Record();
  EXPECT_EQ(rig.CountRecord("verdict=ACK"), 25);
  EXPECT_EQ(rig.CountRecord("LOGON "), 2);  // once per call
  // Pages go out in their order.
  const auto pages = rig.RecordLines("PAGE ");
  ASSERT_EQ(pages.size(), 25u);
  EXPECT_EQ(Rig::Field(pages[0], "text"), "page\\x201");
  EXPECT_EQ(Rig::Field(pages[24], "text"), "page\\x2025");
}

TEST(TapDelivery, SingleMessageModeSendsOneBlockPerCallAndAutoInitsOnce) {
  Rig rig;
  rig.Start(
      TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\nMultipleMessageMode = Disabled\nModemInitString = Auto\n"),
      SimIni("", "refuse = &F\n"));
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(rig.Page("Ann", "m" + std::to_string(i)), "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#3) sent to Ann", 3 * kCallMs)) << rig.Log();
  ASSERT_TRUE(rig.WaitRecord("LOGOFF call=3", 5000)) << rig.Record();
  for (int call = 1; call <= 3; ++call)
    EXPECT_EQ(rig.CountRecord("PAGE call=" + std::to_string(call) + " "), 1) << rig.Record();
  // The modem refused AT &F: the probe ran once and built "AT Z", which later calls send as
  // their init string.
  EXPECT_EQ(rig.CountRecord("COMMAND AT&F\n"), 1) << rig.Record();
  EXPECT_EQ(rig.CountRecord("COMMAND ATQ0V1\n"), 1);
  // Call 1: the probe's Z, the built string's check and the init string; calls 2 and 3: the init.
  EXPECT_EQ(rig.CountRecord("COMMAND ATZ\n"), 3 + 1 + 1);
}

TEST(TapDelivery, NakThenAckInOneCall) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n", "MaxReTrys = 3\nDialingPrefix = '9'\n"),
            SimIni("nak_first = 1\n"));
  ASSERT_EQ(rig.Page("Ann", "again"), "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#1) sent to Ann", kCallMs)) << rig.Log();
  EXPECT_EQ(rig.CountLog("Error - Pager system rejected the message(#1)\n"), 1) << rig.Log();
  EXPECT_EQ(rig.CountRecord("PAGE call=1 "), 2) << rig.Record();
  EXPECT_EQ(rig.CountRecord("verdict=NAK"), 1);
  EXPECT_EQ(rig.CountRecord("CALL "), 1);
  EXPECT_EQ(rig.CountRecord(" dialled=9,5551234 number=5551234"), 1) << rig.Record();  // prefix, comma, number
}

TEST(TapDelivery, SixNaksInARowDropThePageAndTheNextIsSent) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n"), SimIni("nak_first = 6\n" + rig.Hold()));
  ASSERT_EQ(rig.Page("Ann", "refused"), "OK");
  ASSERT_EQ(rig.Page("Bob", "next"), "OK");
  rig.ReleaseWhenQueued(2);  // both in the one call
  ASSERT_TRUE(rig.WaitLog("Message(#2) sent to Bob", kCallMs)) << rig.Log();
  EXPECT_EQ(rig.CountLog("Error - Pager system rejected the message(#1)\n"), 6) << rig.Log();
  EXPECT_EQ(rig.CountLog("Error - Paging System rejected message(#1)\n"), 1);
  EXPECT_EQ(rig.CountLog("Error - Was not able to send message(#1) for: Ann\n"), 1);
  EXPECT_EQ(rig.CountLog("sent to Ann"), 0);
  EXPECT_EQ(rig.CountRecord("PAGE call=1 "), 7) << rig.Record();
}

TEST(TapDelivery, RecordSeparatorDropsThePageForGood) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n"), SimIni("rs_ids = 666\n"));
  ASSERT_EQ(rig.Page("Bob", "bad id"), "OK");
  ASSERT_EQ(rig.Page("Ann", "good"), "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#2) sent to Ann", kCallMs)) << rig.Log();
  EXPECT_EQ(rig.CountLog("Error - ID or Message content based error on message(#1)\n"), 1) << rig.Log();
  EXPECT_EQ(rig.CountLog("Error - Was not able send message(#1) for: Bob\n"), 1);
  EXPECT_EQ(rig.CountRecord("verdict=RS"), 1);
  EXPECT_EQ(rig.CountRecord("PAGE "), 2);  // RS is final: no second block for Bob
}

TEST(TapDelivery, EscEotAfterABlockKeepsThePageForTheNextCall) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n"), SimIni("disconnect_after = 1\n" + rig.Hold()));
  ASSERT_EQ(rig.Page("Ann", "first"), "OK");
  ASSERT_EQ(rig.Page("Bob", "second"), "OK");
  rig.ReleaseWhenQueued(2);  // both in the first call
  ASSERT_TRUE(rig.WaitLog("Message(#2) sent to Bob", 2 * kCallMs)) << rig.Log() << rig.Record();
  EXPECT_EQ(rig.CountLog("Message(#1) sent to Ann"), 1);
  EXPECT_EQ(rig.CountLog("Error - Pager system disconnected on message(#2)\n"), 1) << rig.Log();
  EXPECT_EQ(rig.CountLog("Was not able send message(#2)"), 0);
  EXPECT_EQ(rig.CountRecord("PAGE call=1 "), 2) << rig.Record();
  EXPECT_EQ(rig.CountRecord("PAGE call=2 "), 1);
  EXPECT_EQ(rig.CountRecord("LOGOFF call=1"), 0);  // the terminal ended that session
}

TEST(TapDelivery, MessageSequencesBeforeVerdictsAreSkipped) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n"),
            SimIni("verdict_text = on\nnak_first = 1\nrs_ids = 666\n"));
  ASSERT_EQ(rig.Page("Ann", "retried"), "OK");
  ASSERT_EQ(rig.Page("Bob", "refused"), "OK");
  ASSERT_EQ(rig.Page("Ann", "plain"), "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#3) sent to Ann", kCallMs)) << rig.Log();
  // "514 ..." NAK: retried and then sent; "511 ..." RS: dropped; "211 ..." ACK: delivered.
  EXPECT_EQ(rig.CountLog("Error - Pager system rejected the message(#1)\n"), 1) << rig.Log();
  EXPECT_EQ(rig.CountLog("Message(#1) sent to Ann"), 1);
  EXPECT_EQ(rig.CountLog("Error - Was not able send message(#2) for: Bob\n"), 1);
  EXPECT_EQ(rig.CountLog("sent to Bob"), 0);
  EXPECT_EQ(rig.CountRecord("PAGE "), 4) << rig.Record();
}

TEST(TapDelivery, NoiseAndNulBytesOnTheLineAreTolerated) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n"),
            SimIni("noise = on\nnul_bytes = on\n", "nul_bytes = on\n"));
  ASSERT_EQ(rig.Page("Ann", "through noise"), "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#1) sent to Ann", kCallMs)) << rig.Log() << rig.Record();
  EXPECT_EQ(rig.CountRecord("PAGE "), 1);
}

TEST(TapDelivery, ByteAbove0x7FIsAcceptedByTheSevenBitChecksum) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n"), SimIni());
  ASSERT_EQ(rig.Page("Ann", "gr\x81n"), "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#1) sent to Ann", kCallMs)) << rig.Log() << rig.Record();
  const auto pages = rig.RecordLines("PAGE ");
  ASSERT_EQ(pages.size(), 1u) << rig.Record();
  EXPECT_EQ(Rig::Field(pages[0], "hex"), "6772816E");  // CP437: the byte goes out as it is
  EXPECT_EQ(Rig::Field(pages[0], "checksum"), "ok");
  EXPECT_EQ(Rig::Field(pages[0], "verdict"), "ACK");
}

TEST(TapDelivery, Cp850MapsTheByteBeforeTheChecksum) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n",
                   "MaxReTrys = 3\nMapCodePage = CP850\nLogMessages = Enabled\n"),
            SimIni());
  ASSERT_EQ(rig.Page("Ann", "gr\x81n"), "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#1) sent to Ann with Message \"gr\x81n\"", kCallMs)) << rig.Log();
  const auto pages = rig.RecordLines("PAGE ");
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(Rig::Field(pages[0], "hex"), "67727D6E");
  EXPECT_EQ(Rig::Field(pages[0], "checksum"), "ok");
}

TEST(TapDelivery, EmptyPhoneNumberTalksWithoutDialling) {
  Rig rig;
  rig.Start(TapIni(rig.Port()), "[direct]\npassword = PW\n");
  ASSERT_EQ(rig.Page("Ann", "direct line"), "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#1) sent to Ann", kCallMs)) << rig.Log() << rig.Record();
  EXPECT_EQ(rig.CountRecord(" direct\n"), 1);
  EXPECT_EQ(rig.CountRecord("COMMAND ATD"), 0);
  EXPECT_EQ(rig.CountLog("No CONNECT"), 0);
}

TEST(TapDelivery, ControlCharactersInTheTextReachTheTerminalAsBlanks) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n"), SimIni());
  // An ETX inside the text would end the block early, a CR would split it.
  ASSERT_EQ(rig.Page("Ann",
                     "A\rB\x03"
                     "C\x7F"
                     "D"),
            "OK");
  ASSERT_TRUE(rig.WaitLog("Message(#1) sent to Ann\n", kCallMs)) << rig.Log() << rig.Record();
  const auto pages = rig.RecordLines("PAGE ");
  ASSERT_EQ(pages.size(), 1u) << rig.Record();
  EXPECT_EQ(Rig::Field(pages[0], "hex"), "41204220432044");
  EXPECT_EQ(Rig::Field(pages[0], "checksum"), "ok");
  EXPECT_EQ(Rig::Field(pages[0], "verdict"), "ACK");
  EXPECT_EQ(rig.CountLog("rejected"), 0) << rig.Log();
}

TEST(TapDelivery, TerminalThatNeverPromptsFailsTheLogon) {
  Rig rig;
  rig.Start(TapIni(rig.Port(), "SystemPhoneNumber = '5551234'\n", "MaxReTrys = 1\n"), SimIni("no_id = on\n"));
  ASSERT_EQ(rig.Page("Ann", "never"), "OK");
  ASSERT_TRUE(rig.WaitLog("Error - Can not login to paging system\n", 2 * kCallMs)) << rig.Log();
  ASSERT_TRUE(rig.WaitLog("Error - Was not able to send message(#1) for: Ann\n", 10000)) << rig.Log();
  EXPECT_EQ(rig.CountRecord("NOID call=1"), 7) << rig.Record();  // seven tries, one CR each
  EXPECT_EQ(rig.CountRecord("LOGON "), 0);
}

}  // namespace
