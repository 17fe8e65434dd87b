// common/request_record_test.cpp - the message numbers after a page reply's text.
#include "common/request_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace common {
namespace {

std::vector<int32_t> Read(const std::string& reply) { return ReplyMessageNumbers(reply); }

TEST(ReplyNumbers, WrittenAfterTheTerminatorAndReadBack) {
  std::string reply = "OK";
  AppendMessageNumbers(reply, std::vector<int32_t>{});
  EXPECT_EQ(reply, "OK");  // nothing numbered: the reply stays as it always was
  const std::vector<int32_t> numbers{7, 8, 2147483647};
  AppendMessageNumbers(reply, numbers);
  EXPECT_EQ(reply, std::string("OK\0#7 #8 #2147483647", 20));
  EXPECT_STREQ(reply.c_str(), "OK");  // a reader of the text sees "OK" alone
  EXPECT_EQ(Read(reply), numbers);
  EXPECT_EQ(Read(reply + std::string(40, '\0')), numbers);  // a client's zeroed buffer

  std::string many = "OK";
  AppendMessageNumbers(many, std::vector<int32_t>(kMaxReplyNumbers + 50, 3));
  EXPECT_EQ(Read(many).size(), kMaxReplyNumbers);
}

TEST(ReplyNumbers, OldRepliesAndGarbageGiveNone) {
  EXPECT_TRUE(Read("OK").empty());
  EXPECT_TRUE(Read("ERR: Invalid name or Now queue is full").empty());
  EXPECT_TRUE(Read(std::string("OK\0", 3)).empty());
  EXPECT_TRUE(Read(std::string("OK\0# #x #-4 #0 ##", 18)).empty());
  EXPECT_EQ(Read(std::string("OK\0#5 junk #99999999999 #6\0#7", 30)), (std::vector<int32_t>{5, 6}));
}

}  // namespace
}  // namespace common
