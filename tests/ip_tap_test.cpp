// TAP over TCP and TLS: the conversation's byte stream against corvsim's TAP terminal on the
// network (the program): several pages per session, NAK, RS, ESC EOT, the terminal closing
// after its goodbye or staying connected, TLS with its certificate checked, manual mode.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "delivery/byte_stream.h"
#include "delivery/tap.h"
#include "tests/ip_support.h"
#include "tests/support/wait.h"

namespace {

using delivery::kAck;
using delivery::kEsc;
using delivery::kNak;
using delivery::kRs;
using delivery::SocketStream;

// The client half of a TAP session, as a delivery driver holds it, over any byte stream.
bool Logon(delivery::ByteStream& s, const std::string& password) {
  for (int tries = 0; tries < 3; ++tries) {
    if (s.Write("\r") != 0) return false;
    if (delivery::WaitForStreamText(s, "ID=", 2) != 0) continue;
    (void)s.Write(std::string(1, kEsc) + "PG1" + password + "\r");
    if (delivery::WaitForStreamText(s, std::string(1, kAck), 10) != 0) continue;
    if (delivery::WaitForStreamText(s, std::string(1, kEsc) + "[p\r", 10) != 0) continue;
    delivery::DrainStream(s);
    return true;
  }
  return false;
}

char Block(delivery::ByteStream& s, const std::string& id, const std::string& message) {
  if (s.Write(delivery::TapBlock(id, message)) != 0) return 0;
  delivery::TapReply reply;
  for (int i = 0; i < 1000 && reply.Verdict == 0; ++i) {
    const int byte = s.ReadByte(10000);
    if (byte < 0) break;
    const char c = static_cast<char>(byte);
    delivery::JudgeTapReply(std::string_view(&c, 1), reply);
  }
  delivery::DrainStream(s);
  return reply.Verdict;
}

bool Logoff(delivery::ByteStream& s) {
  (void)s.Write(std::string(1, delivery::kEot) + "\r");
  return delivery::WaitForStreamText(s, std::string(1, kEsc) + std::string(1, delivery::kEot), 10) == 0;
}

class TapOverTcp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ca_ = new iptest::TestCa(); }
  static void TearDownTestSuite() {
    delete ca_;
    ca_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(ca_->Ok()); }
  std::unique_ptr<iptest::Corvsim> Terminal(const std::string& keys) {
    auto sim = std::make_unique<iptest::Corvsim>("[tap-tcp]\nport = 0\ntls_port = 0\ncert = " + ca_->CertFile +
                                                 "\nkey = " + ca_->KeyFile + "\npassword = PW1\n" + keys);
    EXPECT_TRUE(sim->Ok()) << sim->Output();
    return sim;
  }
  static iptest::TestCa* ca_;
};
iptest::TestCa* TapOverTcp::ca_ = nullptr;

TEST_F(TapOverTcp, SeveralPagesInOneSessionThenTheTerminalCloses) {
  auto sim = Terminal("");
  SocketStream s;
  ASSERT_EQ(s.Open("127.0.0.1", sim->Port("tap"), {}, 5000), 0) << s.FailureText();
  ASSERT_TRUE(Logon(s, "PW1"));
  EXPECT_EQ(Block(s, "1234567", "First"), kAck);
  EXPECT_EQ(Block(s, "1234567", "Second"), kAck);
  EXPECT_EQ(Block(s, "7654321", "Third"), kAck);
  EXPECT_TRUE(Logoff(s));
  // A terminal that closes after its ESC EOT is normal: the stream ends.
  EXPECT_TRUE(testsupport::WaitUntil([&] { return s.ReadByte(100) == delivery::kStreamClosed; }, 10000));
  EXPECT_TRUE(testsupport::WaitForFileText(sim->RecordPath(), "CLOSE call=1", 10000));
  const std::string record = sim->Record();
  EXPECT_NE(record.find("CONNECT call=1 tls=0"), std::string::npos) << record;
  EXPECT_NE(record.find("LOGON call=1 password=PW1"), std::string::npos);
  EXPECT_EQ(testsupport::CountInFile(sim->RecordPath(), "checksum=ok verdict=ACK"), 3);
  EXPECT_NE(record.find("PAGE call=1 id=7654321 len=5 hex=5468697264 text=Third"), std::string::npos);
  EXPECT_NE(record.find("LOGOFF call=1"), std::string::npos);
}

TEST_F(TapOverTcp, NakRsAndEscEotArriveAsOnTheModemLine) {
  auto sim = Terminal("nak_first = 1\nrs_ids = 666\ndisconnect_after = 2\nverdict_text = on\n");
  SocketStream s;
  ASSERT_EQ(s.Open("127.0.0.1", sim->Port("tap"), {}, 5000), 0);
  ASSERT_TRUE(Logon(s, "PW1"));
  EXPECT_EQ(Block(s, "1234567", "try"), kNak);  // text before the verdict is skipped
  EXPECT_EQ(Block(s, "1234567", "try"), kAck);
  EXPECT_EQ(Block(s, "666", "bad id"), kRs);
  EXPECT_EQ(Block(s, "1234567", "again"), kAck);
  EXPECT_EQ(Block(s, "1234567", "one too many"), kEsc);  // the terminal ends the session
  EXPECT_TRUE(testsupport::WaitForFileText(sim->RecordPath(), "reason=terminal-ended-session", 10000));
  EXPECT_EQ(testsupport::CountInFile(sim->RecordPath(), "verdict=NAK"), 1);
}

TEST_F(TapOverTcp, WrongPasswordIsNotLoggedOn) {
  auto sim = Terminal("");
  SocketStream s;
  ASSERT_EQ(s.Open("127.0.0.1", sim->Port("tap"), {}, 5000), 0);
  ASSERT_EQ(s.Write("\r"), 0);
  ASSERT_EQ(delivery::WaitForStreamText(s, "ID=", 5), 0);
  ASSERT_EQ(s.Write(std::string(1, kEsc) + "PG1WRONG\r"), 0);
  EXPECT_EQ(delivery::WaitForStreamText(s, std::string(1, kNak), 5), 0);  // refused, not ACKed
  EXPECT_TRUE(testsupport::WaitForFileText(sim->RecordPath(), "LOGON call=1 password=WRONG", 10000));
}

TEST_F(TapOverTcp, TlsTerminalIsVerifiedAndSpeaksTheSameTap) {
  auto sim = Terminal("");
  {
    SocketStream s;
    ASSERT_EQ(s.Open("127.0.0.1", sim->Port("tap-tls"), {true, ca_->CaFile, ""}, 5000), 0) << s.FailureText();
    ASSERT_TRUE(Logon(s, "PW1"));
    EXPECT_EQ(Block(s, "1234567", "Secure \x81"), kAck);
    EXPECT_TRUE(Logoff(s));
  }
  {
    SocketStream s;
    EXPECT_EQ(s.Open("127.0.0.1", sim->Port("tap-tls"), {true, ca_->OtherCaFile, ""}, 5000), platform::kTlsNotTrusted);
  }
  EXPECT_TRUE(testsupport::WaitForFileText(sim->RecordPath(), "CONNECT call=2 tls=1 failed=", 10000));
  const std::string record = sim->Record();
  EXPECT_NE(record.find("CONNECT call=1 tls=1\n"), std::string::npos) << record;
  EXPECT_NE(record.find("text=Secure\\x20\\x81 checksum=ok verdict=ACK"), std::string::npos) << record;
}

TEST_F(TapOverTcp, TerminalThatAsksClientsToStayConnectedTakesTheNextLogon) {
  auto sim = Terminal("after_logoff = stay\n");
  SocketStream s;
  ASSERT_EQ(s.Open("127.0.0.1", sim->Port("tap"), {}, 5000), 0);
  ASSERT_TRUE(Logon(s, "PW1"));
  EXPECT_EQ(Block(s, "1234567", "one"), kAck);
  EXPECT_TRUE(Logoff(s));
  ASSERT_TRUE(Logon(s, "PW1"));
  EXPECT_EQ(Block(s, "1234567", "two"), kAck);
  EXPECT_TRUE(Logoff(s));
  s.Close();
  EXPECT_TRUE(testsupport::WaitForFileText(sim->RecordPath(), "reason=port-closed", 10000));
  EXPECT_EQ(testsupport::CountInFile(sim->RecordPath(), "CONNECT "), 1);
  EXPECT_EQ(testsupport::CountInFile(sim->RecordPath(), "LOGOFF call=1"), 2);
}

TEST_F(TapOverTcp, ConnectionsRunSideBySide) {
  auto sim = Terminal("");
  std::vector<std::thread> clients;
  std::atomic<int> accepted{0};
  for (int c = 0; c < 4; ++c) {
    clients.emplace_back([&, c] {
      SocketStream s;
      if (s.Open("127.0.0.1", sim->Port("tap"), {}, 5000) != 0 || !Logon(s, "PW1")) return;
      for (int i = 0; i < 5; ++i)
        if (Block(s, "123456" + std::to_string(c), "page " + std::to_string(i)) == kAck) ++accepted;
      (void)Logoff(s);
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(accepted.load(), 20);
  EXPECT_EQ(testsupport::CountInFile(sim->RecordPath(), "verdict=ACK"), 20);
}

TEST_F(TapOverTcp, ManualModeTerminalOverTcp) {
  auto sim = Terminal("terminal = tapm\n");
  SocketStream s;
  ASSERT_EQ(s.Open("127.0.0.1", sim->Port("tap"), {}, 5000), 0);
  ASSERT_EQ(delivery::WaitForStreamText(s, "\r", 20), 0);  // the greeting
  ASSERT_EQ(s.Write("M\r"), 0);
  ASSERT_EQ(delivery::WaitForStreamText(s, "RETURN", 3), 0);
  ASSERT_EQ(s.Write("1234567\r"), 0);
  ASSERT_EQ(delivery::WaitForStreamText(s, "RETURN", 10), 0);
  ASSERT_EQ(s.Write("Manual page\r"), 0);
  EXPECT_TRUE(testsupport::WaitForFileText(sim->RecordPath(), "TAPM page call=1 id=1234567 msg=Manual", 10000))
      << sim->Record();
}

}  // namespace
