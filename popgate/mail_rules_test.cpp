// The mail-to-page rules on mails as a POP3 server sends them after RETR.
#include "popgate/mail_rules.h"

#include <gtest/gtest.h>

namespace popgate {
namespace {

// A mail as received: the RETR reply line, the mail with CR LF line ends, the dot line.
std::string Received(const std::string& mail) { return "+OK 120 octets\r\n" + mail + "\r\n.\r\n"; }

TEST(PlanMailPages, SubjectNamesEveryRecipientAndTheBodyIsTheMessage) {
  const MailPlan plan = PlanMailPages(Received("From: a@b.c\r\nSubject: alice, bob\r\n\r\nCall me\r\nsoon"), true);
  ASSERT_EQ(plan.Result, MailPlan::kPage);
  EXPECT_EQ(plan.Recipients, (std::vector<std::string>{"alice", "bob"}));
  EXPECT_EQ(plan.Body, "Call me\r\nsoon");
}

TEST(PlanMailPages, EmptyPiecesAreSkippedNamesTrimmedAndCut) {
  EXPECT_EQ(PlanMailPages(Received("Subject: , alice\r\n\r\nx"), true).Recipients, std::vector<std::string>{"alice"});
  EXPECT_EQ(PlanMailPages(Received("Subject: a,,b,\r\n\r\nx"), true).Recipients, (std::vector<std::string>{"a", "b"}));
  const std::string longName(40, 'n');
  const MailPlan plan = PlanMailPages(Received("Subject:   carol  ," + longName + "\r\n\r\nx"), true);
  // The cut comes first, then the trim: "  carol  " keeps its 5 letters.
  EXPECT_EQ(plan.Recipients, (std::vector<std::string>{"carol", std::string(31, 'n')}));
  const MailPlan padded = PlanMailPages(Received("Subject: " + std::string(30, ' ') + "dave\r\n\r\nx"), true);
  EXPECT_EQ(padded.Recipients, (std::vector<std::string>{"d"}));  // 31 characters: 30 blanks and "d"
}

TEST(PlanMailPages, EndPageMarkerEndsTheMessageKeepingTheLineBreakBeforeIt) {
  const MailPlan plan =
      PlanMailPages(Received("Subject: alice\r\n\r\nCall me\r\n%%EndPage%% signature\r\n-- \r\nBob"), true);
  EXPECT_EQ(plan.Body, "Call me\r\n");
  EXPECT_EQ(MailPageText(plan.Body), "Call me \n");
}

TEST(PlanMailPages, MissingSubjectOrEmptyLine) {
  EXPECT_EQ(PlanMailPages(Received("From: a@b\r\n\r\nHello"), true).Result, MailPlan::kNoSubject);
  EXPECT_EQ(PlanMailPages("+OK\r\nSubject: x\r\nFrom: a@b\r\n.\r\n", true).Result, MailPlan::kNoBody);
  // The subject is searched anywhere, in the letter case written.
  EXPECT_EQ(PlanMailPages(Received("subject: x\r\n\r\nHello"), true).Result, MailPlan::kNoSubject);
}

TEST(PlanMailPages, BodySkipsLeadingBlankLinesAndTheClosingDotLine) {
  const MailPlan plan = PlanMailPages(Received("Subject: a\r\n\r\n\r\n   Text  \r\n\r\n"), true);
  EXPECT_EQ(plan.Body, "Text");
  EXPECT_EQ(PlanMailPages(Received("Subject: a\r\n\r\n"), true).Body, "");
}

TEST(PlanMailPages, CutMailRunsToTheEndOfWhatIsHeld) {
  const std::string held = "+OK\r\nSubject: a\r\n\r\nabcdefgh";  // no closing line: cut short
  EXPECT_EQ(PlanMailPages(held, false).Body, "abcdefgh");
  EXPECT_EQ(PlanMailPages(held, true).Body, "abcde");  // what the closing line rule would lose
}

TEST(PlanMailPages, FromWithDisplayNameAndAngleBrackets) {
  const MailPlan plan = PlanMailPages(Received("From: Alice Smith <alice@example.com>\r\nSubject: x\r\n\r\nHi"), true);
  EXPECT_EQ(plan.SenderName, "Alice Smith ");
  EXPECT_EQ(plan.SenderAddress, "<alice@example.com>");
  EXPECT_EQ(plan.ReplyAddress, "");
}

TEST(PlanMailPages, FromWithoutAtSignOrMissing) {
  const MailPlan noAt = PlanMailPages(Received("From: postmaster\r\nSubject: x\r\n\r\nHi"), true);
  EXPECT_EQ(noAt.SenderName, "");
  EXPECT_EQ(noAt.SenderAddress, "");
  const MailPlan none = PlanMailPages(Received("Subject: x\r\n\r\nHi"), true);
  EXPECT_EQ(none.SenderName, "?");
  EXPECT_EQ(none.SenderAddress, "");
}

TEST(PlanMailPages, ReplyToAddressIsTakenTheSameWay) {
  const MailPlan plan =
      PlanMailPages(Received("From: bob@x.org (Bob)\r\nReply-To: Desk <desk@x.org>\r\nSubject: x\r\n\r\nHi"), true);
  EXPECT_EQ(plan.SenderAddress, "bob@x.org");
  EXPECT_EQ(plan.SenderName, " (Bob)");
  EXPECT_EQ(plan.ReplyAddress, "<desk@x.org>");
}

TEST(SplitAddress, RunStopsAtCharactersOutsideTheSetAndAtASecondAtSign) {
  std::string name;
  std::string address;
  SplitAddress("\"O'Hara, Jo\" <jo.o-hara_1@mail.example.org>, x", name, address);
  EXPECT_EQ(address, "<jo.o-hara_1@mail.example.org>");
  EXPECT_EQ(name, "\"O'Hara, Jo\" , x");
  SplitAddress("a@b@c", name, address);
  EXPECT_EQ(address, "a@b");
  EXPECT_EQ(name, "@c");
}

TEST(MailPageText, CarriageReturnsBecomeBlanksAndTheTextIsCut) {
  EXPECT_EQ(MailPageText("a\r\nb\rc"), "a \nb c");
  EXPECT_EQ(MailPageText(std::string(5000, 'x')).size(), 3999u);
}

TEST(FateOfMail, DeletedOnlyWhenEveryPageWasTakenOrNoRecipientCanBePaged) {
  EXPECT_EQ(FateOfMail(2, 0, 0), MailFate::kDelete);  // every page accepted
  EXPECT_EQ(FateOfMail(0, 0, 0), MailFate::kDelete);  // nothing to send
  EXPECT_EQ(FateOfMail(1, 0, 1), MailFate::kKeep);    // the server was away for one
  EXPECT_EQ(FateOfMail(0, 2, 1), MailFate::kKeep);
  EXPECT_EQ(FateOfMail(1, 1, 0), MailFate::kKeep);    // a refusal gets one more poll of its own
  EXPECT_EQ(FateOfMail(0, 3, 0), MailFate::kDelete);  // no known recipient: it can never page anyone
}

}  // namespace
}  // namespace popgate
