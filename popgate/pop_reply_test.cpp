// POP3 replies from known byte strings: status lines, multi-line bodies and their dot
// stuffing, both kinds of line end, replies cut into pieces anywhere, over-long lines and
// bytes that are no reply at all.
#include "popgate/pop_reply.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace popgate {
namespace {

struct Parsed {
  bool Done = false;
  PopStatus Status = PopStatus::kNone;
  std::string StatusLine, Raw, Text, Body;
  bool Cut = false;
  size_t Taken = 0;  // bytes the parser took
  std::vector<std::string> Lines;

  bool operator==(const Parsed&) const = default;
};

// Feeds bytes to a parser in the pieces that the cut positions (ascending) make.
Parsed Parse(std::string_view bytes, bool multiLine, const std::vector<size_t>& cuts = {},
             size_t capacity = kMailBufferSize - 1) {
  PopReplyParser parser(multiLine, capacity);
  Parsed out;
  size_t from = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(bytes.size());
  for (size_t end : ends) {
    std::string_view piece = bytes.substr(from, end - from);
    from = end;
    while (!piece.empty() && !parser.Done()) {
      const size_t taken = parser.Feed(piece);
      out.Taken += taken;
      piece.remove_prefix(taken);
      if (parser.LineEnded()) out.Lines.push_back(parser.Line());
    }
  }
  out.Done = parser.Done();
  out.Status = parser.Status();
  out.StatusLine = parser.StatusLine();
  out.Raw = parser.Raw();
  out.Text = parser.Text();
  out.Body = std::string(parser.Body());
  out.Cut = parser.Cut();
  return out;
}

const char kRetrReply[] = "+OK 120 octets\r\nSubject: x\r\n\r\n..hidden\r\n...\r\nok\r\n.\r\n";

TEST(PopReply, StatusLineDecidesTheStatus) {
  const Parsed ok = Parse("+OK Dovecot ready.\r\n", false);
  EXPECT_TRUE(ok.Done);
  EXPECT_EQ(ok.Status, PopStatus::kOk);
  EXPECT_EQ(ok.StatusLine, "+OK Dovecot ready.");
  EXPECT_EQ(ok.Raw, "+OK Dovecot ready.\r\n");
  EXPECT_EQ(ok.Body, "");
  EXPECT_EQ(Parse("-ERR [AUTH] Authentication failed.\r\n", false).Status, PopStatus::kErr);
  EXPECT_EQ(Parse("+ok said in lower case\n", false).Status, PopStatus::kOk);
  EXPECT_EQ(Parse("+OK\r\n", false).StatusLine, "+OK");
  for (const char* notAReply : {"OK ready\r\n", "+\r\n", "-\r\n", "\r\n", "* OK IMAP4 ready\r\n", "SSH-2.0-x\r\n"}) {
    const Parsed bad = Parse(notAReply, false);
    EXPECT_TRUE(bad.Done) << notAReply;
    EXPECT_EQ(bad.Status, PopStatus::kBad) << notAReply;
  }
}

TEST(PopReply, ReplyIsCompleteOnlyAtItsLineEnd) {
  for (const char* partial : {"", "+", "+OK ready", "+OK ready\r"}) {
    const Parsed p = Parse(partial, false);
    EXPECT_FALSE(p.Done) << partial;
    EXPECT_EQ(p.Status, PopStatus::kNone) << partial;
  }
  const Parsed body = Parse("+OK 2 octets\r\nab\r\n", true);  // no closing line yet
  EXPECT_FALSE(body.Done);
  EXPECT_EQ(body.Body, "ab\r\n");
}

TEST(PopReply, MultiLineBodyLosesItsStuffedDotsAndEndsAtTheLoneDot) {
  const Parsed p = Parse(std::string(kRetrReply) + "+OK next reply\r\n", true);
  EXPECT_TRUE(p.Done);
  EXPECT_EQ(p.Status, PopStatus::kOk);
  EXPECT_EQ(p.Taken, sizeof kRetrReply - 1);  // what follows the closing line is not taken
  EXPECT_EQ(p.Raw, kRetrReply);
  EXPECT_EQ(p.Text, "+OK 120 octets\r\nSubject: x\r\n\r\n.hidden\r\n..\r\nok\r\n.\r\n");
  EXPECT_EQ(p.Body, "Subject: x\r\n\r\n.hidden\r\n..\r\nok\r\n");
  // Lines are shown as they came, stuffing and all.
  EXPECT_EQ(p.Lines, (std::vector<std::string>{"+OK 120 octets", "Subject: x", "", "..hidden", "...", "ok", "."}));
}

TEST(PopReply, DotsThatAreNotStuffingStay) {
  // In the status line, in the middle of a line, and a body line of one stuffed dot.
  const Parsed p = Parse("+OK ..\r\na..b\r\n..\r\n. \r\n.x\r\n.\r\n", true);
  EXPECT_TRUE(p.Done);
  EXPECT_EQ(p.Text, "+OK ..\r\na..b\r\n.\r\n. \r\n.x\r\n.\r\n");
  EXPECT_EQ(p.Body, "a..b\r\n.\r\n. \r\n.x\r\n");
}

TEST(PopReply, BareLineFeedsWorkLikeCrLf) {
  const Parsed p = Parse("+OK\n..x\nline\n.\n", true);
  EXPECT_TRUE(p.Done);
  EXPECT_EQ(p.Text, "+OK\n.x\nline\n.\n");
  EXPECT_EQ(p.Body, ".x\nline\n");
  EXPECT_EQ(p.Lines, (std::vector<std::string>{"+OK", "..x", "line", "."}));
  // A CR that no LF follows is part of the line.
  const Parsed cr = Parse("+OK\r\na\rb\r\n.\r\n", true);
  EXPECT_EQ(cr.Lines[1], "a\rb");
  EXPECT_TRUE(cr.Done);
}

TEST(PopReply, ErrAnswerToAMultiLineCommandIsOneLine) {
  const Parsed p = Parse("-ERR no such message\r\nSubject: x\r\n.\r\n", true);
  EXPECT_TRUE(p.Done);
  EXPECT_EQ(p.Status, PopStatus::kErr);
  EXPECT_EQ(p.Taken, 22u);
  EXPECT_EQ(p.Body, "");
  EXPECT_EQ(Parse("garbage\r\nSubject: x\r\n.\r\n", true).Taken, 9u);
}

TEST(PopReply, SplitAtEveryByteGivesTheSameReply) {
  const std::string replies[] = {kRetrReply, "+OK\n..x\nline\n.\n", "-ERR no\r\n", "+OK 3 120\r\n"};
  for (const std::string& reply : replies) {
    for (bool multiLine : {true, false}) {
      Parsed whole = Parse(reply, multiLine);
      for (size_t cut = 0; cut <= reply.size(); ++cut) {
        EXPECT_EQ(Parse(reply, multiLine, {cut}), whole) << "cut at " << cut << " of " << reply;
      }
      std::vector<size_t> everyByte;
      for (size_t i = 1; i < reply.size(); ++i) everyByte.push_back(i);
      EXPECT_EQ(Parse(reply, multiLine, everyByte), whole) << reply;
    }
  }
}

TEST(PopReply, OverlongLinesAreShownCutButKeptWhole) {
  const std::string longStatus = "+OK " + std::string(5000, 's');
  const Parsed status = Parse(longStatus + "\r\n", false);
  EXPECT_EQ(status.Status, PopStatus::kOk);
  EXPECT_EQ(status.StatusLine, longStatus.substr(0, kReplyLineMax));
  EXPECT_EQ(status.Raw.size(), longStatus.size() + 2);

  const std::string longLine(3000, 'b');
  const std::string dotAndBlanks = "." + std::string(2000, ' ');  // a dot line only at first sight
  const Parsed body = Parse("+OK\r\n" + longLine + "\r\n" + dotAndBlanks + "\r\n.\r\n", true);
  EXPECT_TRUE(body.Done);
  EXPECT_EQ(body.Body, longLine + "\r\n" + dotAndBlanks + "\r\n");
  ASSERT_EQ(body.Lines.size(), 4u);
  EXPECT_EQ(body.Lines[1].size(), kReplyLineMax);

  // The CR of a line that just fits is a line end, not a character to show.
  const std::string fits(kReplyLineMax, 'f');
  EXPECT_EQ(Parse(fits + "\r\n", false).StatusLine, fits);
  EXPECT_EQ(Parse(fits + "g\r\n", false).StatusLine, fits);
}

TEST(PopReply, ReplyLongerThanTheCapacityKeepsItsBeginningAndIsReadToItsEnd) {
  const std::string reply = "+OK\r\nSubject: a\r\n\r\n" + std::string(100, 'x') + "\r\n..\r\n.\r\n";
  const Parsed p = Parse(reply, true, {}, 40);
  EXPECT_TRUE(p.Done);
  EXPECT_TRUE(p.Cut);
  EXPECT_EQ(p.Taken, reply.size());
  EXPECT_EQ(p.Raw, reply.substr(0, 40));
  EXPECT_EQ(p.Text, p.Raw);
  EXPECT_EQ(p.Body, p.Text.substr(5));  // to the end of what is held
  EXPECT_FALSE(Parse(reply, true, {}, reply.size()).Cut);
}

TEST(PopReply, RandomBytesNeverOverrunAndEndAtTheirFirstLine) {
  const unsigned seed = std::random_device{}();
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 3000, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() % 4 == 0 ? "\r\n.+"[rng() % 4] : rng() % 256);
    const bool multiLine = rng() % 2 == 0;
    std::vector<size_t> cuts;
    for (size_t at = rng() % 700; at < bytes.size(); at += 1 + rng() % 700) cuts.push_back(at);
    const Parsed p = Parse(bytes, multiLine, cuts, 1000);
    EXPECT_LE(p.Raw.size(), 1000u);
    EXPECT_LE(p.Text.size(), p.Raw.size());
    EXPECT_LE(p.StatusLine.size(), kReplyLineMax);
    for (const std::string& line : p.Lines) EXPECT_LE(line.size(), kReplyLineMax);
    const size_t firstLf = bytes.find('\n');
    if (!multiLine || p.Status != PopStatus::kOk) {
      EXPECT_EQ(p.Done, firstLf != std::string::npos);
      EXPECT_EQ(p.Taken, firstLf == std::string::npos ? bytes.size() : firstLf + 1);
    }
  }
}

TEST(StatMailCount, CountOfAStatReplyWithinTheBound) {
  EXPECT_EQ(StatMailCount("+OK 2 320"), 2);
  EXPECT_EQ(StatMailCount("+OK 0 0"), 0);
  EXPECT_EQ(StatMailCount("+OK  17 9999"), 17);
  EXPECT_EQ(StatMailCount("-ERR 5 100"), 0);
  EXPECT_EQ(StatMailCount("+OK"), 0);
  EXPECT_EQ(StatMailCount("+OK none"), 0);
  EXPECT_EQ(StatMailCount("+OK -3 100"), 0);  // never a loop backwards
  EXPECT_EQ(StatMailCount("+OK 1000 5"), kMaxMailsPerPoll);
  EXPECT_EQ(StatMailCount("+OK 4294967297 5"), kMaxMailsPerPoll);  // 2^32 + 1: no wrap to 1
  EXPECT_EQ(StatMailCount("+OK 99999999999999999999999999 5"), kMaxMailsPerPoll);
}

}  // namespace
}  // namespace popgate
