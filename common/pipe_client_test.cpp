// The front ends' pipe client against a real socket server on a temporary path.
#include "common/pipe_client.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/pipe_endpoint.h"

namespace common {
namespace {

class PipeClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = "/tmp/corvpipec-" + std::to_string(::getpid());
    std::filesystem::remove_all(dir_);
    path_ = dir_ + "/CORVD";
    ::setenv("CORVEL_PIPE", path_.c_str(), 1);
  }
  void TearDown() override {
    if (server_.joinable()) server_.join();
    ::unsetenv("CORVEL_PIPE");
    std::filesystem::remove_all(dir_);
  }

  // Answers the next connection's request with reply; the request is kept in request_.
  void ServeOnce(std::string reply) {
    ASSERT_EQ(platform::PipeListen(path_, listener_), 0);
    server_ = std::thread([this, reply] {
      platform::UniqueFd conn;
      if (platform::PipeAccept(listener_, conn) != 0) return;
      std::vector<char> buf(5000);
      size_t real = 0;
      const int n = platform::PipeReceive(conn, buf, real);
      if (n > 0) request_.assign(buf.data(), static_cast<size_t>(n));
      (void)platform::PipeSend(conn, std::span<const char>(reply.data(), reply.size()));
    });
  }

  std::string dir_;
  std::string path_;
  platform::UniqueFd listener_;
  std::thread server_;
  std::string request_;
};

TEST_F(PipeClientTest, NoServerFailsAtOnceWithAClearedReply) {
  EXPECT_FALSE(IsPagingServerRunning());
  std::vector<char> reply(3100, 'x');
  const std::string req = "request";
  EXPECT_EQ(CallPagingServer(req, reply), 1);
  for (size_t i = 0; i < 3000; ++i) ASSERT_EQ(reply[i], '\0') << "byte " << i;
  int bytes = -1;
  bool remote = true;
  EXPECT_EQ(CallPagingServerCgi("", req, reply, bytes, remote), 1);
  EXPECT_FALSE(remote);
  EXPECT_EQ(bytes, 0);
}

TEST_F(PipeClientTest, GatewayNeedsOkAndKeepsTheReplyText) {
  ServeOnce("OK\r\nStatus text");
  std::vector<char> reply(3100);
  const std::string req = "page me";
  EXPECT_EQ(CallPagingServer(req, reply), 0);
  EXPECT_STREQ(reply.data(), "OK\r\nStatus text");
  server_.join();
  EXPECT_EQ(request_, req);
  listener_.Reset();
  std::filesystem::remove(path_);

  ServeOnce("ERR: At queue is full");
  EXPECT_EQ(CallPagingServer(req, reply), 1);
  EXPECT_STREQ(reply.data(), "ERR: At queue is full");
}

TEST_F(PipeClientTest, CgiVariantJudgesErrAndLongReplies) {
  ServeOnce("ERR: At queue is full");
  std::vector<char> reply(3100);
  int bytes = 0;
  bool remote = false;
  const std::string req = "r";
  EXPECT_EQ(CallPagingServerCgi(".", req, reply, bytes, remote), 1);
  EXPECT_EQ(bytes, 21);
  server_.join();
  listener_.Reset();
  std::filesystem::remove(path_);

  // 3000 bytes or more: used as it is, whatever it begins with, and still terminated.
  ServeOnce("ERR:" + std::string(3050, 'r'));
  EXPECT_EQ(CallPagingServerCgi("", req, reply, bytes, remote), 0);
  EXPECT_EQ(bytes, 3054);
  EXPECT_EQ(reply[3054], '\0');
  server_.join();
  listener_.Reset();
  std::filesystem::remove(path_);

  // A busy server's status report passes the area: still a success, cut to the area.
  ServeOnce("Corvel.  Version" + std::string(5000, 'q'));
  EXPECT_EQ(CallPagingServerCgi("", req, reply, bytes, remote), 0);
  EXPECT_EQ(bytes, 3099);
  EXPECT_EQ(reply[3099], '\0');
  EXPECT_EQ(std::string(reply.data(), 16), "Corvel.  Version");
  server_.join();
  listener_.Reset();
  std::filesystem::remove(path_);

  EXPECT_EQ(CallPagingServerCgi("otherhost", req, reply, bytes, remote), 1);
  EXPECT_TRUE(remote);
}

TEST_F(PipeClientTest, ReplyOfFullCapacityFitsAndLongerFails) {
  const std::string req = "r";
  std::vector<char> reply(4000);
  ServeOnce("OK" + std::string(3098, 'x'));  // exactly 3100 bytes
  EXPECT_EQ(CallPagingServer(req, reply), 0);
  EXPECT_EQ(reply[3100], '\0');
  server_.join();
  listener_.Reset();
  std::filesystem::remove(path_);

  ServeOnce("OK" + std::string(3099, 'x'));
  EXPECT_EQ(CallPagingServer(req, reply), 1);
}

TEST_F(PipeClientTest, PresenceTestSeesARunningServer) {
  ASSERT_EQ(platform::PipeListen(path_, listener_), 0);
  EXPECT_TRUE(IsPagingServerRunning());
}

}  // namespace
}  // namespace common
