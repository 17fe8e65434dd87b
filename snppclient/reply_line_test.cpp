// snppclient/reply_line_test.cpp - reply lines out of known byte streams, and their codes
// and texts.
#include "snppclient/reply_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace snppclient {
namespace {

std::vector<std::string> Feed(ReplyLineReader& reader, std::string_view bytes) {
  std::vector<std::string> lines;
  reader.Feed(bytes, [&lines](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

TEST(ReplyLineReader, LinesEndAtLineFeedsWhateverTheBlocks) {
  ReplyLineReader reader;
  EXPECT_EQ(Feed(reader, "220 SNPP Gateway Ready\r\n250 Pager ID Accepted\r\n"),
            (std::vector<std::string>{"220 SNPP Gateway Ready\r\n", "250 Pager ID Accepted\r\n"}));
  EXPECT_TRUE(Feed(reader, "250 Mess").empty());  // a line split over three blocks
  EXPECT_TRUE(Feed(reader, "age OK\r").empty());
  EXPECT_EQ(Feed(reader, "\n2"), std::vector<std::string>{"250 Message OK\r\n"});
  EXPECT_EQ(reader.Partial(), "2");
  EXPECT_EQ(Feed(reader, "17 End\n"), std::vector<std::string>{"217 End\n"});  // a bare LF ends one too
  EXPECT_EQ(Feed(reader, std::string_view("\n\0\n", 3)), (std::vector<std::string>{"\n", std::string("\0\n", 2)}));
  reader.Feed("half", [](std::string_view) {});
  reader.Clear();
  EXPECT_EQ(Feed(reader, "221 OK\r\n"), std::vector<std::string>{"221 OK\r\n"});
}

TEST(ReplyLineReader, OverlongLineKeepsItsStartAndItsLineFeed) {
  ReplyLineReader reader;
  const std::string text = "214 " + std::string(1000, 'x');
  EXPECT_TRUE(Feed(reader, text).empty());
  EXPECT_EQ(reader.Partial().size(), kReplyLineLimit - 1);
  const std::vector<std::string> lines = Feed(reader, "tail\r\n250 next\r\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], text.substr(0, 298) + "\n");
  EXPECT_EQ(ReplyCode(lines[0]), 214);
  EXPECT_EQ(lines[1], "250 next\r\n");
}

TEST(ReplyCode, LeadingDecimalNumber) {
  EXPECT_EQ(ReplyCode("250 Message Sent OK\r\n"), 250);
  EXPECT_EQ(ReplyCode("  \t554 Message Failed\r\n"), 554);
  EXPECT_EQ(ReplyCode("221-continued\r\n"), 221);
  EXPECT_EQ(ReplyCode("no code here\n"), 0);
  EXPECT_EQ(ReplyCode("-250 signed\n"), 0);
  EXPECT_EQ(ReplyCode(""), 0);
  EXPECT_EQ(ReplyCode("99999999999999999999 long\n"), 999999);  // stops growing, never overflows
}

TEST(ReplyText, TextAfterTheCodeCutAtTheLineEndUnlessItIsAnEmptyLine) {
  EXPECT_EQ(ReplyText("216 Orlen Vask\r\n"), "Orlen Vask");
  EXPECT_EQ(ReplyText("214 NOW Queue is Empty\r\r\n"), "NOW Queue is Empty");
  EXPECT_EQ(ReplyText("214 \r\r\n"), "\r\r\n");  // an empty report line is kept whole
  EXPECT_EQ(ReplyText("214 \n"), "\n");
  EXPECT_EQ(ReplyText("216 a\nb\n"), "a");
  EXPECT_EQ(ReplyText("216\n"), "");
  EXPECT_EQ(ReplyText("214 "), "");
}

}  // namespace
}  // namespace snppclient
