// tests/protocols_sim_test.cpp - the simulator's UCP, numeric, TAP manual-mode and scripted
// endpoints against the frames and lines the drivers build, and its line's hang-ups.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "delivery/numeric.h"
#include "delivery/ucp.h"
#include "platform/serial_device.h"
#include "platform/unique_fd.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"
#include "tools/corvsim/numeric_endpoint.h"
#include "tools/corvsim/script_endpoint.h"
#include "tools/corvsim/sim_line.h"
#include "tools/corvsim/tapm_terminal.h"
#include "tools/corvsim/ucp_centre.h"

namespace {

using corvsim::UcpCentre;

corvsim::TapmOptions TapmNeeding(int mNeeded) {
  corvsim::TapmOptions options;
  options.MNeeded = mNeeded;
  return options;
}

TEST(SimUcpCentre, AcceptsTheDriversFrameAndDecodesIt) {
  UcpCentre centre({});
  const std::string reply = centre.OnBytes("noise" + delivery::BuildUcpFrame("0172-1234567", "AB", false));
  ASSERT_EQ(centre.Records().size(), 1u);
  EXPECT_EQ(centre.Records()[0],
            "UCP frame=00/00046/O/30/01721234567///1//0139////4142/ checksum=9D len=ok sum=ok "
            "adc=01721234567 msg=AB answer=A");
  EXPECT_NE(reply.find("/R/30/A//01721234567:"), std::string::npos);
  EXPECT_EQ(reply.front(), '\x02');
  EXPECT_EQ(reply.back(), '\x03');
  // The answer is a well-formed frame itself: its LEN and checksum hold.
  const corvsim::UcpFrameReport answer = corvsim::ParseUcpFrame(reply.substr(1, reply.size() - 2));
  EXPECT_TRUE(answer.LengthOk);
  EXPECT_TRUE(answer.ChecksumOk);
}

TEST(SimUcpCentre, FrameSplitAcrossReadsAndEightBitMessage) {
  UcpCentre centre({});
  const std::string frame = delivery::BuildUcpFrame("42", "\x81", true);
  std::string reply = centre.OnBytes(frame.substr(0, 10));
  EXPECT_TRUE(reply.empty());
  reply = centre.OnBytes(frame.substr(10));
  ASSERT_EQ(centre.Records().size(), 1u);
  EXPECT_NE(centre.Records()[0].find("////7E/"), std::string::npos);
  EXPECT_NE(centre.Records()[0].find("msg=~ answer=A"), std::string::npos);
}

TEST(SimUcpCentre, BadChecksumBadLengthAndRefusedRecipientGetNegativeResults) {
  corvsim::UcpCentreOptions options;
  options.RejectAdc = {"555"};
  UcpCentre centre(options);
  std::string good = delivery::BuildUcpFrame("1", "HI", false);
  std::string badSum = good;
  badSum[badSum.size() - 2] = badSum[badSum.size() - 2] == '0' ? '1' : '0';
  std::string badLen = delivery::BuildUcpFrame("1", "HI", false);
  badLen[8] = '9';  // LEN 00036 becomes 00039
  const std::string refused = delivery::BuildUcpFrame("555", "HI", false);
  EXPECT_NE(centre.OnBytes(badSum).find("/R/30/N/01//"), std::string::npos);
  EXPECT_NE(centre.OnBytes(badLen).find("/R/30/N/"), std::string::npos);
  EXPECT_NE(centre.OnBytes(refused).find("/R/30/N/06//"), std::string::npos);
  ASSERT_EQ(centre.Records().size(), 3u);
  EXPECT_NE(centre.Records()[0].find("len=ok sum=bad"), std::string::npos);
  EXPECT_NE(centre.Records()[1].find("len=bad"), std::string::npos);
  EXPECT_NE(centre.Records()[2].find("adc=555 msg=HI answer=N"), std::string::npos);
  // A negative result never contains the driver's acceptance text.
  EXPECT_EQ(centre.OnBytes(refused).find("/A/"), std::string::npos);
}

TEST(SimNumericEndpoint, PlaysAtAModemsPaceAndHangUpCutsIt) {
  const std::string command = delivery::NumericDialString("9", "5551212", "1234567", "42");
  const std::string dialled = corvsim::NumericDialled(command);
  EXPECT_EQ(dialled, "9,5551212,,1234567,,,42");
  EXPECT_EQ(corvsim::NumericPlayMs(dialled), 17 * 200 + 6 * 2000);
  EXPECT_EQ(corvsim::NumericPlayedBy(dialled, 199), "");
  EXPECT_EQ(corvsim::NumericPlayedBy(dialled, 2200), "9,");
  EXPECT_EQ(corvsim::NumericPlayedBy(dialled, corvsim::NumericPlayMs(dialled)), dialled);
  // The driver's wait always lets the whole string play before its CR hangs up.
  for (const std::string& tones : {std::string("42"), std::string(99, '5')}) {
    const std::string cmd = delivery::NumericDialString("9", "5551212", "1234567", tones);
    const std::string d = corvsim::NumericDialled(cmd);
    EXPECT_NE(corvsim::NumericRecord(d, delivery::NumericWaitMs(cmd)).find("complete=yes"), std::string::npos);
  }
  // A fixed 20 s wait would have cut a 99-digit page short.
  const std::string longCmd = delivery::NumericDialString("", "5551212", "1234567", std::string(99, '5'));
  EXPECT_NE(corvsim::NumericRecord(corvsim::NumericDialled(longCmd), 20000).find("complete=no"), std::string::npos);
}

TEST(SimTapmTerminal, OneOrTwoMAndPagesInARow) {
  corvsim::TapmTerminal one(TapmNeeding(1));
  EXPECT_NE(one.OnConnect().find('\r'), std::string::npos);
  EXPECT_NE(one.OnBytes("M\r").find("RETURN"), std::string::npos);
  EXPECT_NE(one.OnBytes("123\r").find("RETURN"), std::string::npos);
  // The answer to a message prompts for the next pager ID, so it ends in RETURN too.
  EXPECT_NE(one.OnBytes("HELLO\r456\r").find("RETURN"), std::string::npos);
  one.OnBytes("WORLD\r");
  const std::vector<std::string> expected = {"TAPM mode m=1", "TAPM page id=123 msg=HELLO",
                                             "TAPM page id=456 msg=WORLD"};
  EXPECT_EQ(one.Records(), expected);

  corvsim::TapmTerminal two(TapmNeeding(2));
  two.OnConnect();
  EXPECT_EQ(two.OnBytes("M\r").find("RETURN"), std::string::npos);
  EXPECT_NE(two.OnBytes("M\r").find("RETURN"), std::string::npos);
}

TEST(SimTapmTerminal, RefusedIdGetsNoMessagePrompt) {
  corvsim::TapmOptions options;
  options.NoMessagePrompt = {"999"};
  corvsim::TapmTerminal t(options);
  t.OnConnect();
  t.OnBytes("M\r");
  EXPECT_TRUE(t.OnBytes("999\r").empty());
  EXPECT_TRUE(t.OnBytes("text\r").empty());
  EXPECT_EQ(t.Records().back(), "TAPM refused id=999");
}

TEST(SimScriptEndpoint, AnswersConfiguredPairsAndRecordsLinesWithTimes) {
  const auto steps = corvsim::ParseScriptSteps("ATDT=>\\r\\nCONNECT 2400\\r\\n|\\r=>\\n|ID?");
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].Expect, "ATDT");
  EXPECT_EQ(steps[0].Send, "\r\nCONNECT 2400\r\n");
  EXPECT_EQ(steps[2].Expect, "");
  corvsim::ScriptEndpoint e(steps);
  EXPECT_EQ(e.OnConnect(1000), "");
  EXPECT_EQ(e.OnBytes("AT", 1100), "");
  EXPECT_EQ(e.OnBytes("DT5551212\r", 1200), "\r\nCONNECT 2400\r\n\nID?");
  e.OnBytes("1234567\r", 1300);
  e.OnBytes("Hello\r", 3400);
  e.OnHangup(3500);
  const std::vector<std::string> expected = {"SCRIPT line t=200 ATDT5551212\\x0D", "SCRIPT line t=300 1234567\\x0D",
                                             "SCRIPT line t=2400 Hello\\x0D",
                                             "SCRIPT end received=ATDT5551212\\x0D1234567\\x0DHello\\x0D steps=3/3"};
  EXPECT_EQ(e.Records(), expected);
}

// The simulator's side of a pty, and the computer's opens and closes of the other side. The
// line is read only after the computer is done, as when the simulator falls behind.
class LineFixture {
 public:
  LineFixture() {
    platform::UniqueFd master, slave, watch;
    ok_ = platform::OpenPseudoTerminal(master, slave, path_) == 0 && platform::WatchDeviceOpenClose(path_, watch) == 0;
    masterView_.Reset(::dup(master.Get()));
    line_ = std::make_unique<corvsim::SimLine>(std::move(master), std::move(slave), std::move(watch), dir_.File("rec"));
  }
  bool Ok() const { return ok_ && masterView_.Valid(); }
  corvsim::SimLine& Line() { return *line_; }
  // Opens the port as the computer does and writes bytes; they are on the simulator's side
  // of the line before this returns. Then closes the port, or keeps it open.
  void Call(const std::string& bytes, bool close) {
    computer_.Reset(::open(path_.c_str(), O_RDWR | O_NOCTTY));
    ASSERT_TRUE(computer_.Valid());
    ASSERT_EQ(platform::WriteSerial(computer_, bytes), 0);
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return platform::SerialBytesWaiting(masterView_) == static_cast<int>(bytes.size()); }, 5000));
    if (close) computer_.Reset();
  }

 private:
  testsupport::TempDir dir_;
  std::string path_;
  bool ok_ = false;
  platform::UniqueFd masterView_;  // the simulator's end, only to see what waits on it
  std::unique_ptr<corvsim::SimLine> line_;
  platform::UniqueFd computer_;
};

TEST(SimLine, BytesWrittenBeforeTheCloseComeBeforeTheHangUp) {
  LineFixture f;
  ASSERT_TRUE(f.Ok());
  f.Call("AT\r", true);
  std::string got;
  int c = 0;
  while ((c = f.Line().ReadByte(2000)) >= 0) got += static_cast<char>(c);
  EXPECT_EQ(got, "AT\r");
  EXPECT_EQ(c, corvsim::SimLine::kHangup);
  EXPECT_EQ(f.Line().ReadByte(100), corvsim::SimLine::kTimeout);  // reported once
}

TEST(SimLine, ANewCallSeenTogetherWithTheLastCloseStartsAfterTheHangUp) {
  LineFixture f;
  ASSERT_TRUE(f.Ok());
  f.Call("", true);          // a call ended ...
  f.Call("ATDT1\r", false);  // ... and the next began before the line was read
  EXPECT_EQ(f.Line().ReadByte(2000), corvsim::SimLine::kHangup);
  std::string got;
  for (int c; (c = f.Line().ReadByte(500)) >= 0;) got += static_cast<char>(c);
  EXPECT_EQ(got, "ATDT1\r");
}

TEST(SimLine, StopEndsEveryWaitAtOnceAsAHangUp) {
  LineFixture f;
  ASSERT_TRUE(f.Ok());
  f.Line().Stop();
  EXPECT_EQ(f.Line().ReadByte(60000), corvsim::SimLine::kHangup);
  EXPECT_FALSE(f.Line().InputWithin(60000));
  EXPECT_FALSE(f.Line().Pause(60000));
  EXPECT_TRUE(f.Line().Stopped());
}

}  // namespace
