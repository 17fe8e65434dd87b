// Tests of the serial device layer: port names, line settings on a pseudo-terminal, locks.
#include "platform/serial_device.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace platform {
namespace {

TEST(SerialDevicePath, PortNamesMapToDevices) {
  EXPECT_EQ(SerialDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(SerialDevicePath("com12"), "/dev/ttyS11");
  EXPECT_EQ(SerialDevicePath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(SerialDevicePath("COM0"), "/dev/COM0");  // COMn counts from 1
  EXPECT_EQ(SerialDevicePath("/tmp/x/port"), "/tmp/x/port");
}

class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OpenPseudoTerminal(master, slave, path), 0); }
  UniqueFd master, slave;
  std::string path;
};

TEST_F(PtyTest, LineSettingsAreParsedAndApplied) {
  UniqueFd port;
  ASSERT_EQ(OpenSerialDevice(path, port), 0);
  EXPECT_EQ(SetSerialLine(port, "X: baud=2400 parity=E data=7 stop=1"), 0);  // a pty keeps CS8: fine
  EXPECT_EQ(SetSerialLine(port, "X: baud=9600 parity=N data=8 stop=2"), 0);
  EXPECT_EQ(SetSerialLine(port, "X: baud=9601 parity=N data=8 stop=1"), -EINVAL);
  EXPECT_EQ(SetSerialLine(port, "X: baud=9600 parity=Q data=8 stop=1"), -EINVAL);
  EXPECT_EQ(SetSerialLine(port, "X: baud=9600 parity=N data=9 stop=1"), -EINVAL);
  EXPECT_EQ(SetSerialLine(port, "X: parity=N data=8 stop=1"), -EINVAL);
}

TEST_F(PtyTest, BytesFlowBothWaysAndClosesAreSeen) {
  UniqueFd watch;
  ASSERT_EQ(WatchDeviceOpenClose(path, watch), 0);
  {
    UniqueFd port;
    ASSERT_EQ(OpenSerialDevice(path, port), 0);
    ASSERT_EQ(SetSerialLine(port, "X: baud=9600 parity=N data=8 stop=1"), 0);
    ASSERT_EQ(WriteSerial(master, "ping"), 0);
    ASSERT_EQ(WaitSerialInput(port, -1, 1000), 1);
    char buf[16];
    EXPECT_EQ(ReadSerialNow(port, buf), 4);
    ASSERT_EQ(WriteSerial(port, "pong"), 0);
    ASSERT_EQ(WaitSerialInput(master, -1, 1000), 1);
    EXPECT_EQ(ReadSerialNow(master, buf), 4);
    EXPECT_EQ(std::string(buf, 4), "pong");
  }
  int opens = 0, closes = 0;
  ASSERT_EQ(ReadDeviceOpenClose(watch, opens, closes), 0);
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(closes, 1);
  // Unread input is dropped and the port can be opened again, as after a real port's close.
  ASSERT_EQ(WriteSerial(master, "stale"), 0);
  EXPECT_EQ(ResetPseudoTerminalSlave(slave), 0);
  UniqueFd again;
  ASSERT_EQ(OpenSerialDevice(path, again), 0);
  EXPECT_EQ(SerialBytesWaiting(again), 0);
}

TEST_F(PtyTest, WakeEventEndsAWait) {
  UniqueFd wake;
  ASSERT_EQ(MakeWakeEvent(wake), 0);
  SignalWakeEvent(wake);
  EXPECT_EQ(WaitSerialInput(slave, wake.Get(), 1000), 2);
}

TEST_F(PtyTest, UucpLockOfALiveProcessRefusesThePort) {
  if (access("/var/lock", W_OK) != 0) GTEST_SKIP() << "/var/lock is not writable here";
  const std::string lock = "/var/lock/LCK.." + std::filesystem::path(path).filename().string();
  std::ofstream(lock) << "      " << getppid() << "\n";
  UniqueFd port;
  EXPECT_EQ(OpenSerialDevice(path, port), -EBUSY);
  std::filesystem::remove(lock);
  EXPECT_EQ(OpenSerialDevice(path, port), 0);
}

TEST(SerialDevice, MissingDeviceAndNonTerminal) {
  UniqueFd port;
  EXPECT_EQ(OpenSerialDevice("/nonexistent/tty0", port), -ENOENT);
  EXPECT_EQ(OpenSerialDevice("/dev/null", port), -ENOTTY);
}

}  // namespace
}  // namespace platform
