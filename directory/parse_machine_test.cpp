// The configuration lexer: token boundaries, quotes, the line counter and the cut.
#include "directory/parse_machine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/log.h"

namespace directory {
namespace {

constexpr IniKeyword kWords[] = {{";"}, {"="}, {"\n"}, {"Baud"}, {"Enabled", 1}, {"Even", 'E'}, {","}};

struct Tok {
  TokenKind Kind;
  std::string Text;
  int Line;  // LineCount() after the token
};

std::vector<Tok> Lex(std::string_view text, size_t tokenMax = kIniTokenMax) {
  IniLexer lx(text, kWords, tokenMax);
  std::vector<Tok> out;
  for (int guard = 0; guard < 1000 && lx.NextIniToken() != TokenKind::EndOfFile; ++guard)
    out.push_back({lx.Kind(), lx.TokenText(), lx.LineCount()});
  return out;
}

TEST(IniLexer, DelimitersStandAloneOrAreGivenBackAfterLongerWords) {
  const auto t = Lex("Baud=2400\n");
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].Kind, TokenKind::Keyword);
  EXPECT_EQ(t[0].Text, "Baud");
  EXPECT_EQ(t[1].Text, "=");
  EXPECT_EQ(t[2].Kind, TokenKind::Number);
  EXPECT_EQ(t[2].Text, "2400");
  EXPECT_EQ(t[2].Line, 0);  // the line feed was given back
  EXPECT_EQ(t[3].Text, "\n");
  EXPECT_EQ(t[3].Line, 1);
}

TEST(IniLexer, OneCharacterWordSwallowsItsDelimiter) {
  // "7" takes the line feed with it, so no line-feed token follows, yet the line is counted.
  const auto t = Lex("x=7\nBaud ");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].Kind, TokenKind::BadWord);
  EXPECT_EQ(t[0].Text, "x");
  EXPECT_EQ(t[1].Text, "7");
  EXPECT_EQ(t[1].Line, 1);
  EXPECT_EQ(t[2].Text, "Baud");
}

TEST(IniLexer, QuotesAndBrackets) {
  auto t = Lex("[Metro North] \"a=b, c\" ab'cd ef'gh 'it''s' ");
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(t[0].Kind, TokenKind::EntryName);
  EXPECT_EQ(t[0].Text, "Metro North");
  EXPECT_EQ(t[1].Kind, TokenKind::String);
  EXPECT_EQ(t[1].Text, "a=b, c");
  // An apostrophe mid-word opens a string; what was read before it stays in the token.
  EXPECT_EQ(t[2].Kind, TokenKind::String);
  EXPECT_EQ(t[2].Text, "abcd ef");
  EXPECT_EQ(t[3].Kind, TokenKind::BadWord);
  EXPECT_EQ(t[3].Text, "gh");  // the character after a closing quote is given back
  EXPECT_EQ(t[4].Text, "it");
  EXPECT_EQ(t[5].Text, "s");  // a doubled quote is no escape: it closes and reopens
  // A quote held open to the end of the text loses its word.
  t = Lex("Baud 'COM1\n\n");
  ASSERT_EQ(t.size(), 1u);
}

TEST(IniLexer, ClassifiesNumbersTimesKeywordsAndBadWords) {
  const std::string text = "-5 - 12:30 0x1F 1.5 bAuD enabled EVEN Bau ";
  IniLexer lx(text, kWords);
  ASSERT_EQ(lx.NextIniToken(), TokenKind::Number);
  EXPECT_EQ(lx.Value(), -5);
  EXPECT_EQ(lx.LongValue(), -5);
  ASSERT_EQ(lx.NextIniToken(), TokenKind::Number);  // "-" is a number before it is a keyword
  EXPECT_EQ(lx.Value(), 0);
  EXPECT_EQ(lx.NextIniToken(), TokenKind::Time);
  ASSERT_EQ(lx.NextIniToken(), TokenKind::Number);
  EXPECT_EQ(lx.Value(), 0);  // leading decimal part only
  ASSERT_EQ(lx.NextIniToken(), TokenKind::Number);
  EXPECT_EQ(lx.Value(), 1);
  EXPECT_EQ(lx.TokenText(), "1.5");
  ASSERT_EQ(lx.NextIniToken(), TokenKind::Keyword);
  EXPECT_EQ(lx.KeywordIndex(), 3);
  ASSERT_EQ(lx.NextIniToken(), TokenKind::Keyword);
  EXPECT_EQ(lx.Value(), 1);
  ASSERT_EQ(lx.NextIniToken(), TokenKind::Keyword);
  EXPECT_EQ(lx.Value(), 'E');
  EXPECT_EQ(lx.NextIniToken(), TokenKind::BadWord);  // whole-word match only
  EXPECT_EQ(lx.NextIniToken(), TokenKind::EndOfFile);
}

TEST(IniLexer, HugeNumberIsHeldAtTheLimit) {
  IniLexer lx("99999999999999999999 -99999999999999999999 ", kWords);
  ASSERT_EQ(lx.NextIniToken(), TokenKind::Number);
  EXPECT_EQ(lx.Value(), 2147483647);
  ASSERT_EQ(lx.NextIniToken(), TokenKind::Number);
  EXPECT_EQ(lx.Value(), -2147483647 - 1);
}

TEST(IniLexer, CommentsSkipTheirLine) {
  // "; x" is a comment; ";x" is a bad word; a lone ";" swallows its line feed and the
  // comment then hides the next line.
  auto t = Lex("Baud ; fast line\nBaud ;x\n;\nhidden line\nBaud\n");
  std::vector<std::string> texts;
  for (const Tok& k : t) texts.push_back(k.Text);
  EXPECT_EQ(texts, (std::vector<std::string>{"Baud", ";", "Baud", ";x", "\n", ";", "Baud", "\n"}));
  EXPECT_EQ(t.back().Line, 5);
}

TEST(IniLexer, EndOfTextCutsTheLastWord) {
  EXPECT_TRUE(Lex("Baud").empty());
  const auto t = Lex("Baud\nEnabled");
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[1].Text, "\n");
}

TEST(IniLexer, CarriageReturnsAreBlanks) {
  const auto t = Lex("Baud\r\n=\r\n");
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].Text, "Baud");
  EXPECT_EQ(t[1].Text, "\n");
  EXPECT_EQ(t[2].Text, "=");  // "=" took its CR with it
  EXPECT_EQ(t[3].Text, "\n");
  EXPECT_EQ(t[3].Line, 2);
}

TEST(IniLexer, LongTokensAreCut) {
  const std::string word(250, 'w');
  const std::string quoted = "'" + std::string(300, 'q') + "'";
  const std::string text = word + " " + quoted + " Baud ";
  IniLexer lx(text, kWords);
  ASSERT_EQ(lx.NextIniToken(), TokenKind::BadWord);
  EXPECT_EQ(lx.TokenText(), std::string(199, 'w'));
  ASSERT_EQ(lx.NextIniToken(), TokenKind::String);
  EXPECT_EQ(lx.LastString(), std::string(199, 'q'));
  EXPECT_EQ(lx.NextIniToken(), TokenKind::Keyword);  // reading goes on after the cut
  const auto t = Lex(word + " ", 99);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].Text.size(), 99u);
}

TEST(IniLexer, NulEndsAWord) {
  const auto t = Lex(std::string("Baud\0Baud ", 10));
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].Text, "Baud");
  EXPECT_EQ(t[1].Kind, TokenKind::BadWord);
  EXPECT_EQ(t[1].Text, "");
  EXPECT_EQ(t[2].Text, "Baud");
  const auto q = Lex(std::string("'ab\0cd' ", 8));  // the text of a string ends at a NUL too
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].Text, "ab");
}

TEST(ReadIniFile, CrLfReadsAsLfAndMissingFileFails) {
  char dir[] = "/tmp/corvini.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/x.ini";
  std::ofstream(path, std::ios::binary) << "a\r\nb\rc\r\n";
  std::string text;
  ASSERT_EQ(ReadIniFile(path, text), 0);
  EXPECT_EQ(text, "a\nb\rc\n");
  EXPECT_EQ(ReadIniFile(std::string(dir) + "/none.ini", text), 1);
  EXPECT_EQ(ReadIniFile(dir, text), 1);  // a folder cannot be read
  std::remove(path.c_str());
  std::remove(dir);
}

// A second grammar plugs into the same loop with its own rows and actions.
struct Counts {
  int Values = 0;
  int Sum = 0;
};

TEST(IniParseLoop, RunsActionsAndRecoversFromSyntaxErrors) {
  char dir[] = "/tmp/corvloop.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string log = std::string(dir) + "/log.txt";
  common::SetProgramName("CORVPOP32");
  common::SetLogFileName(log);
  using Row = IniStateRow<Counts>;
  const IniAction<Counts> add = [](Counts& c, const IniLexer& lx) {
    ++c.Values;
    c.Sum += lx.Value();
  };
  const std::vector<Row> table = {
      {{TokenKind::Keyword, 2, 0, nullptr}, {TokenKind::Keyword, 3, kFollowingRow, nullptr}},
      {{TokenKind::Keyword, 1, kFollowingRow, nullptr}},
      {{TokenKind::Number, -1, 0, add}},
  };
  Counts counts;
  IniLexer lx("Baud = 10\nBaud = xy\nBaud = 5\n", kWords);
  EXPECT_EQ(RunIniParseLoop<Counts>(lx, table, counts, "test.ini"), 1);
  EXPECT_EQ(counts.Values, 2);
  EXPECT_EQ(counts.Sum, 15);
  // A one-character bad word swallows its line feed, so the skip takes the next line too.
  Counts quirk;
  IniLexer lx2("Baud = x\nBaud = 5\nBaud = 7\n", kWords);
  EXPECT_EQ(RunIniParseLoop<Counts>(lx2, table, quirk, "test.ini"), 1);
  EXPECT_EQ(quirk.Sum, 7);
  std::ifstream in(log);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first.substr(16), " CORVPOP32: File: 'test.ini'  Syntax error (xy) in line - 2");
  common::SetLogFileName("");
  std::remove(log.c_str());
  std::remove(dir);
}

}  // namespace
}  // namespace directory
