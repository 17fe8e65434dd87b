// snpp/command_line_test.cpp - command lines out of known byte streams, the tokenizer, and
// command words.
#include "snpp/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace snpp {
namespace {

std::vector<std::string> Tokens(std::string_view text) {
  std::vector<std::string> out;
  for (auto t = NextToken(text); t; t = NextToken(t->Rest)) out.emplace_back(t->Text);
  return out;
}

std::vector<std::string> Lines(CommandLineReader& reader, std::string_view bytes, bool* whole = nullptr) {
  std::vector<std::string> lines;
  const bool all = reader.Feed(bytes, [&lines](std::string_view line) {
    lines.emplace_back(line);
    return true;
  });
  if (whole) *whole = all;
  return lines;
}

TEST(CommandLineReader, LinesEndAtLineFeedsWhateverTheSegments) {
  CommandLineReader reader;
  EXPECT_EQ(Lines(reader, "PAGE 1\r\nSEND\r\n"), (std::vector<std::string>{"PAGE 1\r\n", "SEND\r\n"}));
  EXPECT_TRUE(Lines(reader, "ME").empty());
  EXPECT_TRUE(Lines(reader, "SS hi\r").empty());
  EXPECT_EQ(Lines(reader, "\nQUIT\n"), (std::vector<std::string>{"MESS hi\r\n", "QUIT\n"}));  // a bare LF ends one too
  EXPECT_EQ(Lines(reader, "\n"), std::vector<std::string>{"\n"});
}

TEST(CommandLineReader, OverlongLineKeepsItsFirst3999CharactersAndItsLineFeed) {
  CommandLineReader reader;
  const std::string body = "MESS " + std::string(5000, 'x');
  EXPECT_TRUE(Lines(reader, body).empty());
  const std::vector<std::string> lines = Lines(reader, "\r\nRESE\r\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], body.substr(0, 3999) + "\n");  // the CR took the last place, then the LF
  EXPECT_EQ(lines[1], "RESE\r\n");
}

TEST(CommandLineReader, StopsWhenTheLineHandlerSaysTheConnectionEnds) {
  CommandLineReader reader;
  std::vector<std::string> seen;
  const bool all = reader.Feed("QUIT\r\nSEND\r\n", [&seen](std::string_view line) {
    seen.emplace_back(line);
    return false;
  });
  EXPECT_FALSE(all);
  EXPECT_EQ(seen, std::vector<std::string>{"QUIT\r\n"});
}

TEST(NextToken, SplitsAtItsSeparatorsAndKeepsQuotedBlanks) {
  EXPECT_EQ(Tokens("5551212 5551234 bill \"Orlen Vask\"\r\n"),
            (std::vector<std::string>{"5551212", "5551234", "bill", "Orlen Vask"}));
  EXPECT_EQ(Tokens("a=b+c,d\te\r\n"), (std::vector<std::string>{"a", "b", "c", "d\te"}));  // a tab ends no token
  EXPECT_EQ(Tokens("'it''s'"), (std::vector<std::string>{"it", "s"}));
}

TEST(NextToken, EmptyTokenEndsTheList) {
  EXPECT_EQ(Tokens("123,,456\r\n"), (std::vector<std::string>{"123"}));
  EXPECT_FALSE(NextToken(std::string_view("=abc")));
  EXPECT_FALSE(NextToken(std::string_view(" \r\n")));
  EXPECT_FALSE(NextToken(std::string_view("\"\"x")));
  EXPECT_FALSE(NextToken(std::nullopt));
}

TEST(NextToken, RestIsWhatFollowsTheEnderAndIsAbsentAtTheEnd) {
  auto t = NextToken(std::string_view("DATA\r\n"));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Text, "DATA");
  ASSERT_TRUE(t->Rest);
  EXPECT_EQ(*t->Rest, "\n");
  t = NextToken(std::string_view("  word"));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Text, "word");
  EXPECT_FALSE(t->Rest);
  t = NextToken(std::string_view("\"never closed\r\n"));  // runs to the end, line end included
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Text, "never closed\r\n");
  EXPECT_FALSE(t->Rest);
}

TEST(ParseCommandLine, WordAndRestWithItsLineEnd) {
  auto c = ParseCommandLine("PAGE 5551212 \"Orlen Vask\"\r\n");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Word, "PAGE");
  ASSERT_TRUE(c->Rest);
  EXPECT_EQ(*c->Rest, "5551212 \"Orlen Vask\"\r\n");

  c = ParseCommandLine("HOLD=0930\n");  // "=" ends a word as a blank does
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Word, "HOLD");
  EXPECT_EQ(c->Rest.value_or("none"), "0930\n");

  c = ParseCommandLine("SUBJ");  // the word ran to the end: no rest at all
  ASSERT_TRUE(c);
  EXPECT_FALSE(c->Rest);

  c = ParseCommandLine(std::string_view("PAGE ab\0cd\r\n", 12));  // a NUL ends the line
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Rest.value_or("none"), "ab");
  EXPECT_FALSE(ParseCommandLine("\r\n"));
  EXPECT_FALSE(ParseCommandLine(" \t\r\n"));
  EXPECT_FALSE(ParseCommandLine(std::string_view("\0PAGE 1\r\n", 9)));
}

TEST(SameCommandWord, FirstFourLettersIgnoringCase) {
  EXPECT_TRUE(SameCommandWord("page", "PAGE"));
  EXPECT_TRUE(SameCommandWord("PAGEX", "PAGE"));
  EXPECT_TRUE(SameCommandWord("NOQU", "NOQUEUE"));
  EXPECT_TRUE(SameCommandWord("2way", "2WAY"));
  EXPECT_FALSE(SameCommandWord("PAG", "PAGE"));
  EXPECT_FALSE(SameCommandWord("PAGF", "PAGE"));
  EXPECT_FALSE(SameCommandWord("", "PAGE"));
}

}  // namespace
}  // namespace snpp
