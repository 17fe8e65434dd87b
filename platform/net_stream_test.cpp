// NetStream: plain and TLS round trips, certificate and name checks, time limits, a peer
// that goes away, and a stop from another thread.
#include "platform/net_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/tcp.h"
#include "tests/ip_certificates.h"

namespace {

using platform::NetStream;
using platform::TlsClientSettings;
using platform::TlsServerContext;

// A server on 127.0.0.1 that accepts one connection (with TLS when given a context) and
// echoes what it reads until the peer closes, or, when silent, reads and says nothing.
class OneShotServer {
 public:
  explicit OneShotServer(const TlsServerContext* tls, bool silent = false) {
    if (platform::TcpListen("127.0.0.1", 0, 4, listener_, port_) != 0) return;
    thread_ = std::thread([this, tls, silent] {
      platform::UniqueFd conn;
      std::string peer;
      if (platform::TcpAccept(listener_, conn, peer) != 0) return;
      NetStream stream;
      acceptResult_ = stream.Accept(std::move(conn), silent ? nullptr : tls, 5000);
      if (acceptResult_ != 0) return;
      char buf[256];
      for (int i = 0; i < 1000; ++i) {
        const int n = stream.Read(buf, 5000);
        if (n <= 0) break;
        if (!silent) (void)stream.Write(std::string_view(buf, static_cast<size_t>(n)));
      }
    });
  }
  ~OneShotServer() {
    platform::TcpShutdown(listener_);
    if (thread_.joinable()) thread_.join();
  }
  uint16_t Port() const { return port_; }
  int AcceptResult() {
    if (thread_.joinable()) thread_.join();
    return acceptResult_;
  }

 private:
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  int acceptResult_ = -1;
};

std::string ReadSome(NetStream& stream, size_t want) {
  std::string got;
  char buf[256];
  while (got.size() < want) {
    const int n = stream.Read(buf, 5000);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

class NetStreamTls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ca_ = new iptest::TestCa(); }
  static void TearDownTestSuite() {
    delete ca_;
    ca_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(ca_->Ok()) << "openssl could not make the test certificates"; }
  static iptest::TestCa* ca_;
};
iptest::TestCa* NetStreamTls::ca_ = nullptr;

TEST(NetStreamPlain, RoundTripPeerCloseAndRefusedPort) {
  OneShotServer server(nullptr);
  NetStream stream;
  ASSERT_EQ(stream.Connect("127.0.0.1", server.Port(), TlsClientSettings{}, 2000), 0);
  EXPECT_FALSE(stream.IsTls());
  ASSERT_EQ(stream.Write("PING\r\n"), 0);
  EXPECT_EQ(ReadSome(stream, 6), "PING\r\n");
  stream.Close();
  EXPECT_EQ(server.AcceptResult(), 0);

  uint16_t closedPort = 0;
  {
    platform::UniqueFd probe;
    ASSERT_EQ(platform::TcpListen("127.0.0.1", 0, 1, probe, closedPort), 0);
  }
  NetStream refused;
  EXPECT_EQ(refused.Connect("127.0.0.1", closedPort, TlsClientSettings{}, 2000), -ECONNREFUSED);
  EXPECT_NE(refused.FailureText().find("refused"), std::string::npos) << refused.FailureText();
  EXPECT_FALSE(refused.IsOpen());
  EXPECT_EQ(refused.Connect("no-such-host.invalid", 444, TlsClientSettings{}, 2000), -EHOSTUNREACH);
}

TEST(NetStreamPlain, ShutdownFromAnotherThreadWakesARead) {
  OneShotServer server(nullptr, /*silent=*/true);
  NetStream stream;
  ASSERT_EQ(stream.Connect("127.0.0.1", server.Port(), TlsClientSettings{}, 2000), 0);
  const auto start = std::chrono::steady_clock::now();
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stream.Shutdown();
  });
  char buf[16];
  EXPECT_EQ(stream.Read(buf, 10000), 0);
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(NetStreamPlain, WriteToAPeerThatLeftFailsWithoutKillingTheProgram) {
  platform::UniqueFd listener;
  uint16_t port = 0;
  ASSERT_EQ(platform::TcpListen("127.0.0.1", 0, 1, listener, port), 0);
  NetStream stream;
  ASSERT_EQ(stream.Connect("127.0.0.1", port, TlsClientSettings{}, 2000), 0);
  {
    platform::UniqueFd conn;
    std::string peer;
    ASSERT_EQ(platform::TcpAccept(listener, conn, peer), 0);
  }  // the peer closes at once
  char buf[16];
  EXPECT_EQ(stream.Read(buf, 2000), 0);
  int rc = 0;
  const std::string big(65536, 'x');
  for (int i = 0; i < 50 && rc == 0; ++i) rc = stream.Write(big);  // SIGPIPE would end the test here
  EXPECT_TRUE(rc == -EPIPE || rc == -ECONNRESET) << rc;
}

TEST(NetStreamPlain, WriteToAPeerThatStopsReadingGivesUpWithinTheLimit) {
  platform::UniqueFd listener;
  uint16_t port = 0;
  ASSERT_EQ(platform::TcpListen("127.0.0.1", 0, 1, listener, port), 0);
  NetStream stream;
  ASSERT_EQ(stream.Connect("127.0.0.1", port, TlsClientSettings{}, 2000), 0);
  platform::UniqueFd conn;
  std::string peer;
  ASSERT_EQ(platform::TcpAccept(listener, conn, peer), 0);  // accepted, never read
  stream.SetWriteLimit(300);
  const std::string big(1 << 20, 'x');
  const auto start = std::chrono::steady_clock::now();
  int rc = 0;
  for (int i = 0; i < 200 && rc == 0; ++i) rc = stream.Write(big);  // fills both buffers, then waits
  EXPECT_EQ(rc, -EAGAIN);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(NetStreamTls, VerifiedRoundTripBothWaysAndCleanClose) {
  TlsServerContext context;
  std::string reason;
  ASSERT_EQ(context.Load(ca_->CertFile, ca_->KeyFile, reason), 0) << reason;
  OneShotServer server(&context);
  NetStream stream;
  TlsClientSettings tls{true, ca_->CaFile, ""};
  ASSERT_EQ(stream.Connect("127.0.0.1", server.Port(), tls, 5000), 0) << stream.FailureText();
  EXPECT_TRUE(stream.IsTls());
  const std::string text = std::string(
                               "\x02"
                               "1234567\rHello\r\x03"
                               "1=5\r") +
                           std::string(3000, 'x');
  ASSERT_EQ(stream.Write(text), 0);
  EXPECT_EQ(ReadSome(stream, text.size()), text);
  stream.Close();
  EXPECT_EQ(server.AcceptResult(), 0);
}

TEST_F(NetStreamTls, UntrustedCertificateOrWrongNameIsRefused) {
  TlsServerContext context;
  std::string reason;
  ASSERT_EQ(context.Load(ca_->CertFile, ca_->KeyFile, reason), 0) << reason;
  {
    OneShotServer server(&context);
    NetStream stream;
    EXPECT_EQ(stream.Connect("127.0.0.1", server.Port(), {true, ca_->OtherCaFile, ""}, 5000), platform::kTlsNotTrusted);
    EXPECT_NE(stream.FailureText().find("not verified"), std::string::npos) << stream.FailureText();
    EXPECT_FALSE(stream.IsOpen());
  }
  TlsServerContext otherName;
  ASSERT_EQ(otherName.Load(ca_->OtherNameCertFile, ca_->OtherNameKeyFile, reason), 0) << reason;
  {
    // Signed by the trusted CA, but for carrier.example: reaching 127.0.0.1 with it is refused.
    OneShotServer server(&otherName);
    NetStream stream;
    EXPECT_EQ(stream.Connect("127.0.0.1", server.Port(), {true, ca_->CaFile, ""}, 5000), platform::kTlsNotTrusted);
  }
  {
    // The name the caller expects is what counts (a carrier reached by its address).
    OneShotServer server(&otherName);
    NetStream stream;
    EXPECT_EQ(stream.Connect("127.0.0.1", server.Port(), {true, ca_->CaFile, "carrier.example"}, 5000), 0)
        << stream.FailureText();
  }
  {
    NetStream stream;
    EXPECT_EQ(stream.Connect("127.0.0.1", 9, {true, "/nonexistent/ca.pem", ""}, 2000), -ECONNREFUSED);
  }
  TlsServerContext broken;
  EXPECT_EQ(broken.Load(ca_->CertFile, ca_->OtherNameKeyFile, reason), platform::kTlsSetupFailed);
  EXPECT_FALSE(reason.empty());
}

TEST_F(NetStreamTls, PeerThatNeverSpeaksTlsTimesOutWithinTheLimit) {
  OneShotServer server(nullptr, /*silent=*/true);
  NetStream stream;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(stream.Connect("127.0.0.1", server.Port(), {true, ca_->CaFile, ""}, 500), -ETIMEDOUT);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 400);
  EXPECT_LT(ms, 3000);
}

TEST_F(NetStreamTls, ReadOfAStreamThatWasClosedAfterTheHandshakeSeesTheEnd) {
  TlsServerContext context;
  std::string reason;
  ASSERT_EQ(context.Load(ca_->CertFile, ca_->KeyFile, reason), 0) << reason;
  platform::UniqueFd listener;
  uint16_t port = 0;
  ASSERT_EQ(platform::TcpListen("127.0.0.1", 0, 1, listener, port), 0);
  std::thread server([&] {
    platform::UniqueFd conn;
    std::string peer;
    if (platform::TcpAccept(listener, conn, peer) != 0) return;
    NetStream s;
    if (s.Accept(std::move(conn), &context, 5000) != 0) return;
    (void)s.Write("BYE\r");
    s.Close();  // close_notify, then the socket goes
  });
  NetStream stream;
  ASSERT_EQ(stream.Connect("localhost", port, {true, ca_->CaFile, ""}, 5000), 0) << stream.FailureText();
  EXPECT_EQ(ReadSome(stream, 4), "BYE\r");
  char buf[16];
  EXPECT_EQ(stream.Read(buf, 5000), 0);
  server.join();
}

}  // namespace
