// The request pipe's socket: message boundaries, oversize messages, stale and live paths.
#include "platform/pipe_endpoint.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

TEST(PipeEndpoint, ReplyLongerThanCapacityIsFailure) {
  const std::string path = TempSocketPath("long");
  platform::UniqueFd listener;
  ASSERT_EQ(platform::PipeListen(path, listener), 0);
  std::thread server([&] {
    platform::UniqueFd conn;
    if (platform::PipeAccept(listener, conn) != 0) return;
    char buf[100];
    size_t real = 0;
    if (platform::PipeReceive(conn, buf, real) <= 0) return;
    const std::string reply(200, 'r');
    (void)platform::PipeSend(conn, std::span<const char>(reply.data(), reply.size()));
  });
  char reply[100];
  EXPECT_EQ(platform::PipeTransact(path, std::string("x"), reply, 2000), -EMSGSIZE);
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
  EXPECT_EQ(platform::PipeTransact(path, std::string("x"), reply, 300), -ETIMEDOUT);
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

TEST(PipeEndpoint, PathFollowsEnvironment) {
  ::setenv("CORVEL_PIPE", "/tmp/x/y", 1);
  EXPECT_EQ(platform::PipePath(), "/tmp/x/y");
  ::unsetenv("CORVEL_PIPE");
  EXPECT_EQ(platform::PipePath(), "/tmp/corvel/CORVD");
}

}  // namespace
