// Tests of the serial port against a pseudo-terminal: the ring, timed reads, lines, waits.
#include "modem/com_port.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "modem/modem_pty_test_support.h"

namespace modem {
namespace {

using Clock = std::chrono::steady_clock;

class ComPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.Ok());
    port = OpenComPort(peer.Path());
    ASSERT_TRUE(port);
    ASSERT_EQ(SetComParameters(port.get(), 9600, 'N', 8, 1), 0);
  }
  void TearDown() override {
    if (port) CloseComPort(port);
  }
  PtyPeer peer;
  ComPortPtr port;
};

TEST_F(ComPortTest, ReadLineStopsAtCarriageReturn) {
  peer.Send("OK\r\nNEXT\r");
  char line[70] = {};
  int timedOut = 1;
  EXPECT_EQ(ReadComLine(port.get(), line, 1000, timedOut), 2);
  EXPECT_EQ(timedOut, 0);
  EXPECT_STREQ(line, "OK");
  char next[70] = {};
  EXPECT_EQ(ReadComLine(port.get(), next, 1000, timedOut), 5);  // the line feed starts the next line
  EXPECT_STREQ(next, "\nNEXT");
}

TEST_F(ComPortTest, ReadLineFillsTheBufferWithoutTerminator) {
  peer.Send(std::string(75, 'x'));
  char line[70];
  std::memset(line, '#', sizeof line);
  int timedOut = 1;
  EXPECT_EQ(ReadComLine(port.get(), line, 1000, timedOut), 70);
  EXPECT_EQ(timedOut, 0);
  EXPECT_EQ(line[69], 'x');
}

TEST_F(ComPortTest, ReadLineTimesOutWithWhatCame) {
  peer.Send("AB");
  char line[70] = {};
  int timedOut = 0;
  const auto start = Clock::now();
  EXPECT_EQ(ReadComLine(port.get(), line, 300, timedOut), 2);
  EXPECT_EQ(timedOut, 1);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(290));
  EXPECT_STREQ(line, "AB");
}

TEST_F(ComPortTest, NulBytesNeverReachTheRing) {
  peer.Send(std::string("A\0\0B", 4));
  char buf[4] = {};
  int timedOut = 0;
  EXPECT_EQ(ReadComBytes(port.get(), buf, 2, 1000, timedOut), 2);
  EXPECT_EQ(std::string(buf, 2), "AB");
  EXPECT_EQ(ReadComByteTimed(port.get(), 100, timedOut), 0);
  EXPECT_EQ(timedOut, 1);
}

TEST_F(ComPortTest, FullRingKeepsAtMost4095Bytes) {
  peer.Send(std::string(5000, 'z'));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int count = 0, timedOut = 0;
  while (ReadComByteTimed(port.get(), 50, timedOut) == 'z' && !timedOut) ++count;
  EXPECT_EQ(count, kRingSize - 1);
}

TEST_F(ComPortTest, WaitForTextMatchesInTheStream) {
  peer.Send("\r\nO");
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer.Send("K\r\n");
  });
  EXPECT_EQ(WaitForText(port.get(), "OK", 2), 0);  // split across reads
  later.join();
  peer.Send("xx\xCF\xCByy");  // O and K with the top bit set count as O and K
  EXPECT_EQ(WaitForText(port.get(), "OK", 2), 0);
  peer.Send("\x1b[p\r");
  EXPECT_EQ(WaitForText(port.get(), "^[[p^M", 2), 0);
}

TEST_F(ComPortTest, WaitForTextTimesOutAndEmptyTextTakesAnyByte) {
  const auto start = Clock::now();
  peer.Send("NO");
  EXPECT_EQ(WaitForText(port.get(), "OK", 1), 1);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(990));
  peer.Send("q");
  EXPECT_EQ(WaitForText(port.get(), "", 1), 0);
}

TEST_F(ComPortTest, WritesReachThePeerAndDrainEmptiesTheRing) {
  EXPECT_EQ(WriteComText(port.get(), "AT\r"), 0);
  EXPECT_EQ(WriteComByte(port.get(), 'x'), 0);
  EXPECT_EQ(peer.Received(), "AT\rx");
  peer.Send("garbage");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(DrainComInput(port.get()), 0);
  EXPECT_FALSE(ComDataAvailable(port.get()));
}

TEST_F(ComPortTest, SevenBitEvenParityIsAcceptedOnAPseudoTerminal) {
  EXPECT_EQ(SetComParameters(port.get(), 2400, 'E', 7, 1), 0);
  EXPECT_EQ(SetComParameters(port.get(), 2400, 'M', 7, 2), 0);
  EXPECT_EQ(SetComParameters(port.get(), 12345, 'N', 8, 1), 1);  // no such rate
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
  for (int i = 0; i < 2; ++i) {
    ComPortPtr port = OpenComPort(peer.Path());
    ASSERT_TRUE(port);
    const auto start = Clock::now();
    EXPECT_EQ(CloseComPort(port), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_FALSE(port);
  }
}

}  // namespace
}  // namespace modem
