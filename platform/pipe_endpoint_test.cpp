// The request pipe's socket: message boundaries, oversize messages, stale and live paths.
#include "platform/pipe_endpoint.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string TempSocketPath(const char* tag) {
  return "/tmp/corvel-pipe-" + std::to_string(::getpid()) + "-" + tag + "/CORVD";
}

// Serves one connection: answers each message with "OK:" and the message's real length.
void ServeOnce(const platform::UniqueFd& listener, size_t capacity) {
  platform::UniqueFd conn;
  if (platform::PipeAccept(listener, conn) != 0) return;
  std::vector<char> buf(capacity);
  for (;;) {
    size_t real = 0;
    const int n = platform::PipeReceive(conn, buf, real);
    if (n <= 0) return;
    const std::string reply = "OK:" + std::to_string(real);
    (void)platform::PipeSend(conn, std::span<const char>(reply.data(), reply.size()));
  }
}

TEST(PipeEndpoint, OneMessageOneReplyAndOversizeSeenWhole) {
  const std::string path = TempSocketPath("msg");
  platform::UniqueFd listener;
  ASSERT_EQ(platform::PipeListen(path, listener), 0);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u) << "anyone may connect";

  std::thread server([&] { ServeOnce(listener, 5000); });
  std::thread server2([&] { ServeOnce(listener, 5000); });
  char reply[64] = {};
  const std::string small(89, 'a');
  int n = platform::PipeTransact(path, small, reply, 2000);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(reply, n), "OK:89");

  // A message longer than the server's buffer is reported with its real length, never cut.
  const std::string big(6000, 'b');
  n = platform::PipeTransact(path, big, reply, 2000);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(reply, n), "OK:6000");
  server.join();
  server2.join();
  ::unlink(path.c_str());
}

TEST(PipeEndpoint, ReplyLongerThanCapacityIsCutAndItsLengthTold) {
  const std::string path = TempSocketPath("long");
  platform::UniqueFd listener;
  ASSERT_EQ(platform::PipeListen(path, listener), 0);
  std::thread server([&] {
    platform::UniqueFd conn;
    if (platform::PipeAccept(listener, conn) != 0) return;
    char buf[100];
    size_t real = 0;
    if (platform::PipeReceive(conn, buf, real) <= 0) return;
    const std::string reply = std::string(100, 'r') + std::string(100, 's');
    (void)platform::PipeSend(conn, std::span<const char>(reply.data(), reply.size()));
  });
  char reply[100];
  size_t real = 0;
  EXPECT_EQ(platform::PipeTransact(path, std::string("x"), reply, 2000, 2000, &real), 100);
  EXPECT_EQ(real, 200u) << "the caller can tell the reply was cut";
  EXPECT_EQ(std::string(reply, 100), std::string(100, 'r'));
  server.join();
  ::unlink(path.c_str());
}

TEST(PipeEndpoint, MissingSocketFailsAtOnceAndSilentServerTimesOut) {
  char reply[16];
  EXPECT_EQ(platform::PipeTransact("/tmp/corvel-no-such-dir/CORVD", std::string("x"), reply, 5000), -ENOENT);
  EXPECT_FALSE(platform::PipeAnswers("/tmp/corvel-no-such-dir/CORVD"));

  const std::string path = TempSocketPath("silent");
  platform::UniqueFd listener;
  ASSERT_EQ(platform::PipeListen(path, listener), 0);
  // Nobody accepts or answers: the transaction gives up after its wait instead of hanging.
  EXPECT_EQ(platform::PipeTransact(path, std::string("x"), reply, 300, 300), -ETIMEDOUT);
  ::unlink(path.c_str());
}

TEST(PipeEndpoint, FullBacklogFailsTheConnectWithinItsWaitAndSendsNothing) {
  const std::string path = TempSocketPath("full");
  platform::UniqueFd listener;
  ASSERT_EQ(platform::PipeListen(path, listener), 0);
  // Fill the backlog with connections nobody accepts, until a further one is turned away.
  std::vector<int> held;
  for (int i = 0; i < platform::kPipeBacklog + 50; ++i) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      break;
    }
    held.push_back(fd);
  }
  ASSERT_LT(held.size(), static_cast<size_t>(platform::kPipeBacklog + 50)) << "the backlog never filled";
  EXPECT_TRUE(platform::PipeAnswers(path)) << "a busy server is still there";
  char reply[16];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(platform::PipeTransact(path, std::string("x"), reply, 300), -EAGAIN);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "connect must not block for ever";
  for (int fd : held) ::close(fd);
  ::unlink(path.c_str());
}

TEST(PipeEndpoint, SilentConnectionMeetsTheReceiveDeadline) {
  const std::string path = TempSocketPath("idle");
  platform::UniqueFd listener;
  ASSERT_EQ(platform::PipeListen(path, listener), 0);
  std::atomic<int> result{1};
  std::thread server([&] {
    platform::UniqueFd conn;
    if (platform::PipeAccept(listener, conn, 200) != 0) return;
    char buf[100];
    size_t real = 0;
    result = platform::PipeReceive(conn, buf, real);
  });
  // Connects and says nothing, as a jamming client would.
  platform::UniqueFd idle(::socket(AF_UNIX, SOCK_SEQPACKET, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(::connect(idle.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
  server.join();  // returns only because of the deadline: the client never closes first
  EXPECT_EQ(result.load(), -ETIMEDOUT);
  ::unlink(path.c_str());
}

TEST(PipeEndpoint, StaleSocketIsReplacedLiveServerIsNot) {
  const std::string path = TempSocketPath("stale");
  {
    platform::UniqueFd first;
    ASSERT_EQ(platform::PipeListen(path, first), 0);
    EXPECT_TRUE(platform::PipeAnswers(path));
    platform::UniqueFd second;
    EXPECT_EQ(platform::PipeListen(path, second), -EADDRINUSE) << "a live server keeps its path";
  }
  // The first server is gone; its socket file stays behind and is taken over.
  EXPECT_FALSE(platform::PipeAnswers(path));
  platform::UniqueFd third;
  EXPECT_EQ(platform::PipeListen(path, third), 0);
  EXPECT_TRUE(platform::PipeAnswers(path));
  ::unlink(path.c_str());
}

}  // namespace
