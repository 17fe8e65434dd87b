// Tests of the modem's result codes, the automatic init string and the dial command.
#include "delivery/modem_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/now_queue.h"
#include "tests/support/process.h"
#include "tests/support/pty_peer.h"
#include "tests/support/test_state.h"

namespace delivery {
namespace {

TEST(ModemResult, LinesAreClassifiedInSearchOrder) {
  EXPECT_EQ(ClassifyModemLine("\nOK"), kResultOk);
  EXPECT_EQ(ClassifyModemLine("CONNECT 9600/ARQ/V42BIS"), kResultConnect);
  EXPECT_EQ(ClassifyModemLine("NO CARRIER"), kResultNoCarrier);
  EXPECT_EQ(ClassifyModemLine("BUSY"), kResultBusy);
  EXPECT_EQ(ClassifyModemLine("NO DIALTONE"), kResultNoDialtone);
  EXPECT_EQ(ClassifyModemLine("NO ANSWER"), kResultNoAnswer);
  EXPECT_EQ(ClassifyModemLine("ATDT 5551234"), -1);  // an echoed command is no result
  EXPECT_EQ(ClassifyModemLine(""), -1);
}

TEST(ModemResult, Names) {
  EXPECT_STREQ(ModemResultName(kResultBusy), "BUSY");
  EXPECT_STREQ(ModemResultName(kResultTimeout), "TIMEOUT");
  EXPECT_STREQ(ModemResultName(kResultCanceled), "CANCELED");
  EXPECT_STREQ(ModemResultName(11), "Un-Known Code");
  EXPECT_STREQ(ModemResultName(-1), "Un-Known Code");
}

TEST(ModemInit, AutoInitStrings) {
  EXPECT_EQ(AutoInitString(true, true, true, true), "AT &FQ0V1&C1&D2");
  EXPECT_EQ(AutoInitString(true, false, true, false), "AT &F&C1");
  EXPECT_EQ(AutoInitString(false, true, true, true), "AT Z");  // without &F the others are left out
}

TEST(ModemDial, DialCommands) {
  EXPECT_EQ(DialCommand("", "5551234"), "ATDT 5551234\r");
  EXPECT_EQ(DialCommand("9", "5551234"), "ATDT 9,5551234\r");
}

class ModemLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.Ok());
    port = OpenComPort(peer.Path());
    ASSERT_TRUE(port);
    ASSERT_EQ(SetComParameters(&port, 9600, 'N', 8, 1), 0);
  }
  testsupport::PtyPeer peer;
  ComPort port;
};

TEST_F(ModemLineTest, EchoedCommandThenOk) {
  peer.Send("AT &F\r\r\nOK\r\n");
  EXPECT_EQ(ReadModemResult(&port, 1000), kResultOk);
}

TEST_F(ModemLineTest, ConnectWithSuffixAndNoCarrier) {
  peer.Send("ATDT 5551234\r\r\nCONNECT 2400/REL\r\n");
  EXPECT_EQ(ReadModemResult(&port, 1000), kResultConnect);
  peer.Send("\r\nNO CARRIER\r\n");
  EXPECT_EQ(ReadModemResult(&port, 1000), kResultNoCarrier);
}

TEST_F(ModemLineTest, FiveNoiseLinesGiveTimeoutAfterTheFourth) {
  peer.Send("noise 1\rnoise 2\rnoise 3\rnoise 4\rOK\r");
  EXPECT_EQ(ReadModemResult(&port, 1000), kResultTimeout);
  // The fifth line was not read: it is still there.
  EXPECT_EQ(ReadModemResult(&port, 1000), kResultOk);
}

TEST_F(ModemLineTest, SilenceIsTimeoutAndNoPortIsInvalid) {
  EXPECT_EQ(ReadModemResult(&port, 200), kResultTimeout);
  EXPECT_EQ(ReadModemResult(nullptr, 200), kResultInvalid);
}

// A modem that refuses AT &F: answers each command line with OK or ERROR.
TEST_F(ModemLineTest, ModemThatRefusesFactoryResetGetsAtZ) {
  std::atomic<bool> stop{false};
  std::vector<std::string> commands;
  std::thread modem([&] {
    while (!stop) {
      const std::string line = peer.ReceiveLine(100);
      if (line.empty()) continue;
      commands.push_back(line);
      peer.Send(line + "\r" + (line.find("&F") != std::string::npos ? "\r\nERROR\r\n" : "\r\nOK\r\n"));
    }
  });
  std::string init;
  EXPECT_EQ(AutoInitModem(init, &port), 0);
  stop = true;
  modem.join();
  EXPECT_EQ(init, "AT Z");
  const std::vector<std::string> expected = {"AT", "AT &F", "AT Z", "AT Q0V1", "AT &C1", "AT &D2", "AT Z"};
  EXPECT_EQ(commands, expected);
}

// Each driver's call on a line whose rate the port refuses (12345 baud): the failures are
// logged with that driver's texts and the call goes on. No number is dialled (direct lines,
// and the drivers that dial themselves), so the peer need not answer.
TEST(PlaceCall, LineFailuresAreLoggedWithEachDriversOwnText) {
  struct Case {
    const CallSetup* Call;
    std::vector<std::string> Lines;
  };
  const Case cases[] = {
      {&kTapCall,
       {"Error - Unable to set up com port for modem init string(1)\n",
        "Error - Unable to set up com port(1,12345,E,7,2)\n"}},
      {&kTapManualCall, {"Error - Unable to set up com port\n", "Error - Unable to set up com port\n"}},
      {&kScriptCall, {"Error - Unable to set up com port\n", "Error - Can not set up com port\n"}},
      {&kNumericCall, {"Error - Unable to set up com port\n"}},  // numeric sets only the system's line
  };
  for (const Case& c : cases) {
    testsupport::TempDir dir;
    testsupport::PtyPeer peer;
    ASSERT_TRUE(peer.Ok());
    auto state = core::StateFromIni("PagerSystemsSection\n[Sim]\nSystemType = Tap\nPort = '" + peer.Path() +
                                        "'\nBaud = 12345\nParity = Even\nDataBits = 7\nStopBits = 2\n",
                                    dir.File("log.txt"));
    DialWork work(*state, *core::FindPort(*state, peer.Path()));
    work.Dir = core::CurrentDirectory(*state);
    work.SystemIndex = 0;
    int result = -1;
    ASSERT_TRUE(PlaceCall(work, *c.Call, result)) << c.Call->TraceTitle;
    EXPECT_TRUE(work.Port);
    work.Port = ComPort();  // dropped: closed at once, without the close's pause
    const std::string log = dir.Read("log.txt");
    size_t at = 0;
    for (const std::string& line : c.Lines) {
      at = log.find("CORVD32: " + line, at);
      ASSERT_NE(at, std::string::npos) << c.Call->TraceTitle << log;
      ++at;
    }
    EXPECT_EQ(testsupport::CountInFile(dir.File("log.txt"), "Error"), static_cast<int>(c.Lines.size())) << log;
    EXPECT_EQ(peer.Received(50).find("ATD"), std::string::npos);  // nothing dialled
  }
}

// TAP, TAP manual mode and scripts log a port they cannot open; UCP and numeric paging leave
// it to the console trace.
TEST(PlaceCall, PortThatCannotBeOpenedIsLoggedByTapTapManualAndScript) {
  const std::pair<const CallSetup*, int> cases[] = {
      {&kTapCall, 1}, {&kTapManualCall, 1}, {&kScriptCall, 1}, {&kUcpCall, 0}, {&kNumericCall, 0}};
  for (const auto& [call, lines] : cases) {
    testsupport::TempDir dir;
    auto state = core::StateFromIni("PagerSystemsSection\n[Sim]\nSystemType = Tap\nPort = '/nonexistent/ttyX'\n",
                                    dir.File("log.txt"));
    DialWork work(*state, *core::FindPort(*state, "/nonexistent/ttyX"));
    work.Dir = core::CurrentDirectory(*state);
    work.SystemIndex = 0;
    int result = -1;
    EXPECT_FALSE(PlaceCall(work, *call, result));
    EXPECT_EQ(result, kDeliverFailed);
    EXPECT_EQ(
        testsupport::CountInFile(dir.File("log.txt"), "Error - Unable to open up the com port(/nonexistent/ttyX)\n"),
        lines)
        << call->TraceTitle;
  }
}

}  // namespace
}  // namespace delivery
