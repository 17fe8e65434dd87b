// TCP helpers: the failures callers must tell apart, and a round trip.
#include "platform/tcp.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

namespace {

TEST(Tcp, RoundTripAndPeerClose) {
  platform::UniqueFd listener;
  uint16_t port = 0;
  ASSERT_EQ(platform::TcpListen("127.0.0.1", 0, 5, listener, port), 0);
  ASSERT_NE(port, 0);
  std::thread server([&] {
    platform::UniqueFd conn;
    std::string peer;
    if (platform::TcpAccept(listener, conn, peer) != 0) return;
    EXPECT_EQ(peer, "127.0.0.1");
    char buf[16];
    const int n = platform::TcpReceive(conn, buf, 2000);
    if (n > 0) (void)platform::TcpSendAll(conn, std::span<const char>(buf, n));
  });
  platform::UniqueFd client;
  ASSERT_EQ(platform::TcpConnect("localhost", port, 2000, client), 0);
  ASSERT_EQ(platform::TcpSendAll(client, std::string("PING")), 0);
  char buf[16];
  ASSERT_EQ(platform::TcpReceive(client, buf, 2000), 4);
  EXPECT_EQ(std::string(buf, 4), "PING");
  server.join();
  EXPECT_EQ(platform::TcpReceive(client, buf, 2000), 0) << "peer closed";
}

TEST(Tcp, FailuresAreDistinct) {
  platform::UniqueFd fd;
  EXPECT_EQ(platform::TcpConnect("no-such-host.invalid", 25, 2000, fd), -EHOSTUNREACH);

  platform::UniqueFd listener;
  uint16_t port = 0;
  ASSERT_EQ(platform::TcpListen("127.0.0.1", 0, 5, listener, port), 0);
  listener.Reset();  // nothing listens there any more
  EXPECT_EQ(platform::TcpConnect("127.0.0.1", port, 2000, fd), -ECONNREFUSED);

  ASSERT_EQ(platform::TcpListen("127.0.0.1", 0, 5, listener, port), 0);
  ASSERT_EQ(platform::TcpConnect("127.0.0.1", port, 2000, fd), 0);
  char buf[4];
  EXPECT_EQ(platform::TcpReceive(fd, buf, 100), -ETIMEDOUT) << "a silent peer is a time-out";
}

}  // namespace
