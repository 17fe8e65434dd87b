// The receiving side of a POP3 connection: lines, reply status, STAT count, the end of a
// mail and the bounded mail buffer, fed block by block as the connection delivers them.
#include "popgate/pop_client.h"

#include <gtest/gtest.h>

namespace popgate {
namespace {

class Receiving : public ::testing::Test {
 protected:
  Mailbox box_;
  MailOptions options_;
  PopSession s_{box_, options_};
};

TEST_F(Receiving, CrLfLineCountsOnceAndStatusComesFromTheBlocksSecondByte) {
  HandleReceivedBlock(s_, "+OK ready\r\n");
  EXPECT_EQ(s_.LineCounter, 1);
  EXPECT_EQ(s_.ReplyStatus, 0);
  s_.ReplyStatus = -1;
  HandleReceivedBlock(s_, "-ERR no\r\n");
  EXPECT_EQ(s_.ReplyStatus, 1);
  EXPECT_EQ(s_.LineCounter, 2);
}

TEST_F(Receiving, LineEndSplitBetweenBlocksIsStillOneLine) {
  HandleReceivedBlock(s_, "+OK fine\r");
  HandleReceivedBlock(s_, "\n");
  EXPECT_EQ(s_.LineCounter, 1);  // so the next wait waits for the next reply
  HandleReceivedBlock(s_, "bare line\n");
  EXPECT_EQ(s_.LineCounter, 2);
}

TEST_F(Receiving, StatCountIsReadOnlyWhileAStatIsPending) {
  HandleReceivedBlock(s_, "+OK 7 1234\r\n");
  EXPECT_EQ(s_.MessageCount, 0);
  s_.StatPending = true;
  HandleReceivedBlock(s_, "+OK 2 320\r\n");
  EXPECT_EQ(s_.MessageCount, 2);
}

TEST_F(Receiving, EndOfMessageOnlyAtALineHoldingJustADot) {
  HandleReceivedBlock(s_, "+OK 30 octets\r\nSubject: a\r\n\r\n..not the end\r\n");
  EXPECT_EQ(s_.EndOfMessage, 0);
  HandleReceivedBlock(s_, ".\r\n");
  EXPECT_EQ(s_.EndOfMessage, 1);
}

TEST_F(Receiving, MailLongerThanTheBufferKeepsWhatFitsAndItsEndIsStillSeen) {
  const std::string line(98, 'x');
  HandleReceivedBlock(s_, "+OK 40000 octets\r\nSubject: a\r\n\r\n");
  for (int i = 0; i < 400; ++i) HandleReceivedBlock(s_, line + "\r\n");
  HandleReceivedBlock(s_, ".\r\n");
  EXPECT_EQ(s_.MailBuffer.size(), kMailBufferSize - 1);
  EXPECT_TRUE(s_.MailCut);
  EXPECT_EQ(s_.EndOfMessage, 1);
}

TEST_F(Receiving, OverlongLineIsHeldToTheLineBuffer) {
  HandleReceivedBlock(s_, std::string(5000, 'y'));
  EXPECT_EQ(s_.LineBuffer.size(), kLineBufferSize - 1);
  HandleReceivedBlock(s_, "\r\n");
  EXPECT_TRUE(s_.LineBuffer.empty());
}

TEST_F(Receiving, WaitReturnsAtOnceForANewLineAndTimesOutWhenTheConnectionHasEnded) {
  HandleReceivedBlock(s_, "+OK\r\n");
  EXPECT_EQ(WaitForPopReply(s_), 0);
  {
    std::lock_guard lock(s_.Lock);
    s_.ReceiverEnded = true;
  }
  EXPECT_EQ(WaitForPopReply(s_), 1);  // no 15.5 s wait for a connection that is gone
}

}  // namespace
}  // namespace popgate
