// Tests of the serial port against a pseudo-terminal: the ring, timed reads, lines, waits.
#include "delivery/com_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stop_token>
#include <thread>
#include <utility>

#include "tests/support/pty_peer.h"
#include "tests/support/wait.h"

namespace delivery {
namespace {

using Clock = std::chrono::steady_clock;
using testsupport::PtyPeer;

class ComPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.Ok());
    port = OpenComPort(peer.Path());
    ASSERT_TRUE(port);
    ASSERT_EQ(SetComParameters(&port, 9600, 'N', 8, 1), 0);
  }
  PtyPeer peer;
  ComPort port;
};

TEST_F(ComPortTest, ReadLineStopsAtCarriageReturn) {
  peer.Send("OK\r\nNEXT\r");
  char line[70] = {};
  int timedOut = 1;
  EXPECT_EQ(ReadComLine(&port, line, 1000, timedOut), 2);
  EXPECT_EQ(timedOut, 0);
  EXPECT_STREQ(line, "OK");
  char next[70] = {};
  EXPECT_EQ(ReadComLine(&port, next, 1000, timedOut), 5);  // the line feed starts the next line
  EXPECT_STREQ(next, "\nNEXT");
}

TEST_F(ComPortTest, ReadLineFillsTheBufferWithoutTerminator) {
  peer.Send(std::string(75, 'x'));
  char line[70];
  std::memset(line, '#', sizeof line);
  int timedOut = 1;
  EXPECT_EQ(ReadComLine(&port, line, 1000, timedOut), 70);
  EXPECT_EQ(timedOut, 0);
  EXPECT_EQ(line[69], 'x');
}

TEST_F(ComPortTest, ReadLineTimesOutWithWhatCame) {
  peer.Send("AB");
  char line[70] = {};
  int timedOut = 0;
  const auto start = Clock::now();
  EXPECT_EQ(ReadComLine(&port, line, 300, timedOut), 2);
  EXPECT_EQ(timedOut, 1);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(290));
  EXPECT_STREQ(line, "AB");
}

TEST_F(ComPortTest, NulBytesNeverReachTheRing) {
  peer.Send(std::string("A\0\0B", 4));
  char buf[4] = {};
  int timedOut = 0;
  EXPECT_EQ(ReadComBytes(&port, buf, 2, 1000, timedOut), 2);
  EXPECT_EQ(std::string(buf, 2), "AB");
  EXPECT_EQ(ReadComByteTimed(&port, 100, timedOut), 0);
  EXPECT_EQ(timedOut, 1);
}

TEST_F(ComPortTest, FullRingKeepsAtMost4095Bytes) {
  peer.Send(std::string(5000, 'z'));
  // Nothing is read until every byte reached the port: 4095 kept, the rest lost.
  ASSERT_TRUE(testsupport::WaitUntil([&] { return ComBytesLost(&port) == 5000 - (kRingSize - 1); }, 5000))
      << ComBytesLost(&port);
  int count = 0, timedOut = 0;
  while (ReadComByteTimed(&port, 50, timedOut) == 'z' && !timedOut) ++count;
  EXPECT_EQ(count, kRingSize - 1);
}

TEST_F(ComPortTest, WaitForTextMatchesInTheStream) {
  peer.Send("\r\nO");
  // The K goes out only once the O is in the ring, so the text arrives in two reads.
  ASSERT_TRUE(testsupport::WaitUntil([&] { return ComDataAvailable(&port); }, 2000));
  peer.Send("K\r\n");
  EXPECT_EQ(WaitForText(&port, "OK", 2), 0);
  peer.Send("xx\xCF\xCByy");  // O and K with the top bit set count as O and K
  EXPECT_EQ(WaitForText(&port, "OK", 2), 0);
  peer.Send("\x1b[p\r");
  EXPECT_EQ(WaitForText(&port, "^[[p^M", 2), 0);
}

TEST_F(ComPortTest, WaitForTextTimesOutAndEmptyTextTakesAnyByte) {
  const auto start = Clock::now();
  peer.Send("NO");
  EXPECT_EQ(WaitForText(&port, "OK", 1), 1);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(990));
  peer.Send("q");
  EXPECT_EQ(WaitForText(&port, "", 1), 0);
}

TEST_F(ComPortTest, WritesReachThePeerAndDrainEmptiesTheRing) {
  EXPECT_EQ(WriteComText(&port, "AT\r"), 0);
  EXPECT_EQ(WriteComByte(&port, 'x'), 0);
  EXPECT_EQ(peer.Received(), "AT\rx");
  peer.Send("garbage");
  ASSERT_TRUE(testsupport::WaitUntil([&] { return ComDataAvailable(&port); }, 2000));
  EXPECT_EQ(DrainComInput(&port), 0);
  EXPECT_FALSE(ComDataAvailable(&port));
}

TEST_F(ComPortTest, SevenBitEvenParityIsAcceptedOnAPseudoTerminal) {
  EXPECT_EQ(SetComParameters(&port, 2400, 'E', 7, 1), 0);
  EXPECT_EQ(SetComParameters(&port, 2400, 'M', 7, 2), 0);
  EXPECT_EQ(SetComParameters(&port, 12345, 'N', 8, 1), 1);  // no such rate
}

TEST(ComParameters, OutOfRangeBitsAreCorrected) {
  EXPECT_EQ(ComParameterText("COM2", 2400, 'E', 7, 1), "COM2: baud=2400 parity=E data=7 stop=1");
  EXPECT_EQ(ComParameterText("COM2", 9600, 'N', 9, 0), "COM2: baud=9600 parity=N data=8 stop=1");
  EXPECT_EQ(ComParameterText("COM2", 9600, 'N', 4, 3), "COM2: baud=9600 parity=N data=8 stop=1");
}

TEST(ComParameters, NullPortFails) { EXPECT_EQ(SetComParameters(nullptr, 9600, 'N', 8, 1), 1); }

TEST(CaretConvert, CaretTakesTheLowSixBits) {
  EXPECT_EQ(CaretConvert("^M"), "\r");
  EXPECT_EQ(CaretConvert("^[[p^M"), "\x1b[p\r");
  EXPECT_EQ(CaretConvert("ID="), "ID=");
  EXPECT_EQ(CaretConvert("A^"), "A^");  // a lone caret stands for itself
  EXPECT_EQ(CaretConvert(std::string(150, 'a')).size(), 100u);
}

TEST(ComPortOpen, MissingDeviceGivesNoPort) {
  int err = 0;
  EXPECT_FALSE(OpenComPort("/nonexistent/ttyCorvel", &err));
  EXPECT_EQ(err, -ENOENT);
  int timedOut = 7;
  EXPECT_EQ(ReadComByteTimed(nullptr, 10, timedOut), 1);
  EXPECT_EQ(timedOut, 7);
  EXPECT_EQ(WaitForText(nullptr, "OK", 1), 1);
  EXPECT_EQ(DrainComInput(nullptr), 1);
}

TEST(ComPortOpen, CloseTakesTwoSecondsAndThePortOpensAgain) {
  PtyPeer peer;
  ASSERT_TRUE(peer.Ok());
  ComPort port = OpenComPort(peer.Path());
  ASSERT_TRUE(port);
  const auto start = Clock::now();
  EXPECT_EQ(CloseComPort(port), 0);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2000));  // no CORVEL_TIME_SCALE here
  EXPECT_FALSE(port);
  port = OpenComPort(peer.Path());  // the exclusive open was given up with the close
  EXPECT_TRUE(port);
}

TEST(ComPortOwner, DroppedOrMovedPortStopsItsThreadAndFreesTheDevice) {
  PtyPeer peer;
  ASSERT_TRUE(peer.Ok());
  {
    ComPort first = OpenComPort(peer.Path());
    ASSERT_TRUE(first);
    ComPort moved = std::move(first);  // the receive thread goes with the owner
    EXPECT_FALSE(first);
    peer.Send("OK\r");
    EXPECT_EQ(WaitForText(&moved, "OK", 2), 0);
    EXPECT_EQ(WaitForText(&first, "OK", 1), 1);
  }  // dropped without CloseComPort: joined and closed, the program goes on
  ComPort again = OpenComPort(peer.Path());
  EXPECT_TRUE(again);
}

TEST(ComPortOwner, StopRequestEndsEveryWaitAtOnce) {
  PtyPeer peer;
  ASSERT_TRUE(peer.Ok());
  std::stop_source stop;
  ComPort port = OpenComPort(peer.Path(), nullptr, stop.get_token());
  ASSERT_TRUE(port);
  const auto start = Clock::now();
  int waited = -1;
  std::jthread waiter([&] { waited = WaitForText(&port, "never", 30); });
  stop.request_stop();  // before or during the wait: either way it ends now
  waiter.join();
  EXPECT_EQ(waited, 1);
  EXPECT_EQ(ReadComByte(&port), 0);  // no limit of its own, yet it returns once stopped
  int timedOut = 0;
  EXPECT_EQ(ReadComByteTimed(&port, 30000, timedOut), 0);
  EXPECT_EQ(timedOut, 1);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

TEST(ComPortLine, PortIsRawFromTheOpenEvenWhenItsLineSettingsFail) {
  PtyPeer peer;
  ASSERT_TRUE(peer.Ok());
  {
    // An earlier program left the line cooked, with echo and CR translation.
    platform::UniqueFd other(::open(peer.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(other.Valid());
    termios tio{};
    ASSERT_EQ(tcgetattr(other.Get(), &tio), 0);
    tio.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
    tio.c_iflag |= ICRNL;
    tio.c_oflag |= OPOST | ONLCR;
    ASSERT_EQ(tcsetattr(other.Get(), TCSANOW, &tio), 0);
  }
  ComPort port = OpenComPort(peer.Path());
  ASSERT_TRUE(port);
  EXPECT_EQ(SetComParameters(&port, 12345, 'N', 8, 1), 1);  // a rate no line takes
  peer.Send("OK\r");
  char got[3] = {};
  int timedOut = 1;
  EXPECT_EQ(ReadComBytes(&port, got, 3, 2000, timedOut), 3);
  EXPECT_EQ(std::string(got, 3), "OK\r");  // no line editing, no CR turned into LF
  WriteComText(&port, "AT\r");
  EXPECT_EQ(peer.Received(), "AT\r");  // the modem's reply was not echoed back to it
}

}  // namespace
}  // namespace delivery
