// delivery/numeric_test.cpp - tone strings, the four dial-string forms and the hang-up wait.
#include "delivery/numeric.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "delivery/modem_control.h"
#include "tests/support/pty_peer.h"

namespace delivery {
namespace {

TEST(NumericToneString, KeepsDigitsStarAndHashAtMost99) {
  EXPECT_EQ(NumericToneString("Call 555-1234 #"), "5551234#");
  EXPECT_EQ(NumericToneString("*12 ab #3"), "*12#3");
  EXPECT_EQ(NumericToneString("no tones here"), "");
  std::string digits;
  for (int i = 0; i < 150; ++i) digits.push_back(static_cast<char>('0' + i % 10));
  EXPECT_EQ(NumericToneString(digits), digits.substr(0, 99));
  // The cut counts tones, not characters of the message.
  EXPECT_EQ(NumericToneString("x" + digits).size(), 99u);
}

TEST(NumericDialString, FourFormsByPrefixAndNumber) {
  EXPECT_EQ(NumericDialString("", "5551212", "1234567", "42"), "ATDT 5551212,,1234567,,,42\r");
  EXPECT_EQ(NumericDialString("9", "5551212", "1234567", "42"), "ATDT 9,5551212,,1234567,,,42\r");
  EXPECT_EQ(NumericDialString("", "", "1234567", "42"), "ATDT 1234567,,42\r");
  EXPECT_EQ(NumericDialString("9", "", "1234567", "42"), "ATDT 9,1234567,,42\r");
  EXPECT_EQ(NumericDialString("", "5551212", "1234567", ""), "ATDT 5551212,,1234567,,,\r");
}

TEST(NumericWait, AtLeastTwentySecondsAndLongerForLongStrings) {
  EXPECT_EQ(NumericWaitMs("ATDT 1234567,,42\r"), 20000);
  // 17 tones and 6 commas already need 20.4 s.
  EXPECT_EQ(NumericWaitMs("ATDT 9,5551212,,1234567,,,42\r"), 20400);
  // 7 + 7 digits, 99 tones, 5 commas: 113 x 0.2 s + 10 s + 5 s.
  const std::string dial = NumericDialString("", "5551212", "1234567", std::string(99, '7'));
  EXPECT_EQ(NumericWaitMs(dial), 113 * 200 + 5 * 2000 + 5000);
  EXPECT_EQ(NumericWaitMs("ATDT ,,,,,,,,,,\r"), 10 * 2000 + 5000);
}

TEST(NumericCall, ModemFailuresBeforeThePlayTimeCountAndNothingElseDoes) {
  testsupport::PtyPeer peer;
  ASSERT_TRUE(peer.Ok());
  ComPort port = OpenComPort(peer.Path());
  ASSERT_TRUE(port);
  // The echo of the dial command, then the modem's words: a busy line.
  peer.Send("ATDT 5551212,,123,,,42\r\r\nBUSY\r\n");
  EXPECT_EQ(WatchNumericCall(&port, 5000, 10000), kResultBusy);
  peer.Send("\r\nNO DIALTONE\r\n");
  EXPECT_EQ(WatchNumericCall(&port, 5000, 10000), kResultNoDialtone);
  // A silent line is a page played; OK or CONNECT say nothing against it.
  peer.Send("\r\nOK\r\nCONNECT 1200\r\n");
  EXPECT_EQ(WatchNumericCall(&port, 200, 400), -1);
  // NO CARRIER after the tones could have been played is the modem giving up on a carrier
  // no pager sends.
  std::jthread late([&peer] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    peer.Send("\r\nNO CARRIER\r\n");
  });
  EXPECT_EQ(WatchNumericCall(&port, 100, 800), -1);
}

}  // namespace
}  // namespace delivery
