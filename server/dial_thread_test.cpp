// The dial thread's retry policy: waits by error count and when the head page is given up.
#include "server/dial_thread.h"

#include <gtest/gtest.h>

namespace server {
namespace {

TEST(DialThreadPolicy, WaitsGrowWithTheErrorCount) {
  for (int errors : {0, 1, 2, 3}) EXPECT_EQ(DialWaitMs(errors), 1000) << errors;
  EXPECT_EQ(DialWaitMs(4), 180000);
  EXPECT_EQ(DialWaitMs(5), 300000);
  EXPECT_EQ(DialWaitMs(40), 300000);
}

TEST(DialThreadPolicy, GiveUpByMaxReTrys) {
  // 0 never gives up.
  for (int errors : {1, 4, 100}) EXPECT_FALSE(ShouldGiveUp(errors, 0));
  // 1 (and any negative value) after every failed round.
  EXPECT_TRUE(ShouldGiveUp(1, 1));
  EXPECT_TRUE(ShouldGiveUp(1, -5));
  // 3 after the third failed round in a row.
  EXPECT_FALSE(ShouldGiveUp(2, 3));
  EXPECT_TRUE(ShouldGiveUp(3, 3));
  // Nothing to give up without a failure.
  EXPECT_FALSE(ShouldGiveUp(0, 1));
  EXPECT_FALSE(ShouldGiveUp(0, -5));
}

}  // namespace
}  // namespace server
