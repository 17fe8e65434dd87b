// The conversation's byte stream: over a socket (plain and TLS) and over a serial port, the
// text wait and the drain, a peer that goes, a stop from another thread, and host:port.
#include "delivery/byte_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/tcp.h"
#include "tests/ip_certificates.h"
#include "tests/support/pty_peer.h"

namespace delivery {
namespace {

using Clock = std::chrono::steady_clock;

// A terminal on 127.0.0.1 that plays a script on the one connection it accepts: each step
// waits waitMs, then sends its bytes; at the end it closes, or keeps the line open until
// the client closes it.
struct Step {
  int WaitMs;
  std::string Bytes;
};
class ScriptedPeer {
 public:
  ScriptedPeer(std::vector<Step> steps, bool closeAtEnd, const platform::TlsServerContext* tls = nullptr) {
    if (platform::TcpListen("127.0.0.1", 0, 2, listener_, port_) != 0) return;
    thread_ = std::thread([this, steps = std::move(steps), closeAtEnd, tls] {
      platform::UniqueFd conn;
      std::string peer;
      if (platform::TcpAccept(listener_, conn, peer) != 0) return;
      platform::NetStream s;
      if (s.Accept(std::move(conn), tls, 5000) != 0) return;
      for (const Step& step : steps) {
        std::this_thread::sleep_for(std::chrono::milliseconds(step.WaitMs));
        (void)s.Write(step.Bytes);
      }
      if (closeAtEnd) return;
      char buf[256];
      while (s.Read(buf, 10000) > 0) {
      }
    });
  }
  ~ScriptedPeer() {
    platform::TcpShutdown(listener_);
    if (thread_.joinable()) thread_.join();
  }
  uint16_t Port() const { return port_; }

 private:
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::thread thread_;
};

TEST(SocketStream, TextWaitSeesSevenBitsAcrossArrivalsThenThePeerCloses) {
  // "ID=" arrives in two pieces, its I with the eighth bit set as a 7E1 line might send it.
  ScriptedPeer peer({{0, "\r\nnoise "}, {50, "\xC9"}, {50, "D=xyz"}}, /*closeAtEnd=*/true);
  SocketStream stream;
  ASSERT_EQ(stream.Open("127.0.0.1", peer.Port(), {}, 2000), 0) << stream.FailureText();
  EXPECT_EQ(WaitForStreamText(stream, "ID=", 5), 0);
  EXPECT_EQ(stream.ReadByte(1000), 'x');  // the bytes after the text stay to be read
  DrainStream(stream);
  EXPECT_EQ(stream.ReadByte(2000), kStreamClosed);
  EXPECT_TRUE(stream.Closed());
  EXPECT_EQ(WaitForStreamText(stream, "ID=", 5), 1);  // a closed stream fails at once
  EXPECT_EQ(stream.Write("\r"), -EPIPE);
}

TEST(SocketStream, SilenceIsATimeOutNotAnEnd) {
  ScriptedPeer peer({{400, "late"}}, /*closeAtEnd=*/false);
  SocketStream stream;
  ASSERT_EQ(stream.Open("127.0.0.1", peer.Port(), {}, 2000), 0);
  const auto start = Clock::now();
  EXPECT_EQ(stream.ReadByte(100), kStreamTimeout);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
  EXPECT_FALSE(stream.Closed());
  EXPECT_EQ(WaitForStreamText(stream, "ID=", 1), 1);  // "late" came, but not the text
  EXPECT_FALSE(stream.Closed());
  stream.Close();
}

TEST(SocketStream, StopFromTheDialThreadEndsAWaitAtOnce) {
  ScriptedPeer peer({}, /*closeAtEnd=*/false);
  std::stop_source stop;
  SocketStream stream;
  ASSERT_EQ(stream.Open("127.0.0.1", peer.Port(), {}, 2000, stop.get_token()), 0);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.request_stop();
  });
  const auto start = Clock::now();
  EXPECT_EQ(WaitForStreamText(stream, "ID=", 20), 1);
  stopper.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(stream.Closed());

  SocketStream late;  // a stop already requested refuses to connect at all
  EXPECT_EQ(late.Open("127.0.0.1", peer.Port(), {}, 2000, stop.get_token()), -ECANCELED);
}

TEST(SocketStream, DrainOfAPeerThatNeverStopsTalkingEndsAtItsBound) {
  // The peer keeps the line full, so no 12 ms gap ever comes: the drain gives up after its
  // 5 s bound instead of waiting for ever.
  platform::UniqueFd listener;
  uint16_t port = 0;
  ASSERT_EQ(platform::TcpListen("127.0.0.1", 0, 1, listener, port), 0);
  std::thread talker([&] {
    platform::UniqueFd conn;
    std::string peer;
    if (platform::TcpAccept(listener, conn, peer) != 0) return;
    const std::string chunk(1024, '.');
    const auto end = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < end && platform::TcpSendAll(conn, chunk) == 0) {
    }
  });
  SocketStream stream;
  ASSERT_EQ(stream.Open("127.0.0.1", port, {}, 2000), 0);
  const auto start = Clock::now();
  DrainStream(stream);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(ms, 4900);
  EXPECT_LT(ms, 15000);
  stream.Close();  // the talker's next send fails and it ends
  talker.join();
}

TEST(SocketStream, TlsTerminalIsReachedWithItsCertificateChecked) {
  iptest::TestCa ca;
  ASSERT_TRUE(ca.Ok());
  platform::TlsServerContext context;
  std::string reason;
  ASSERT_EQ(context.Load(ca.CertFile, ca.KeyFile, reason), 0) << reason;
  {
    ScriptedPeer peer({{0, "ID="}}, /*closeAtEnd=*/false, &context);
    SocketStream stream;
    ASSERT_EQ(stream.Open("127.0.0.1", peer.Port(), {true, ca.CaFile, ""}, 5000), 0) << stream.FailureText();
    EXPECT_TRUE(stream.IsTls());
    EXPECT_EQ(WaitForStreamText(stream, "ID=", 5), 0);
    EXPECT_EQ(stream.Write("\x1bPG1\r"), 0);
  }
  {
    ScriptedPeer peer({{0, "ID="}}, /*closeAtEnd=*/false, &context);
    SocketStream stream;
    EXPECT_EQ(stream.Open("127.0.0.1", peer.Port(), {true, ca.OtherCaFile, ""}, 5000), platform::kTlsNotTrusted);
    EXPECT_TRUE(stream.Closed());
  }
}

TEST(ComPortStream, SerialPortReadsAndWritesAsTheSocketDoes) {
  testsupport::PtyPeer peer;
  ASSERT_TRUE(peer.Ok());
  ComPort port = OpenComPort(peer.Path());
  ASSERT_TRUE(port);
  ComPortStream stream(&port);
  EXPECT_EQ(stream.Write("ATZ\r"), 0);
  EXPECT_EQ(peer.ReceiveLine(2000), "ATZ");
  peer.Send("xxID=");
  EXPECT_EQ(WaitForStreamText(stream, "ID=", 2), 0);
  EXPECT_EQ(stream.ReadByte(50), kStreamTimeout);
  port = ComPort();
  EXPECT_TRUE(stream.Closed());
  EXPECT_EQ(stream.ReadByte(50), kStreamClosed);
  ComPortStream none(nullptr);
  EXPECT_EQ(none.Write("x"), -EPIPE);
}

}  // namespace
}  // namespace delivery
