// MIME mails as mail clients write them, decoded into the plain form the rules read.
#include "popgate/mime_mail.h"

#include <gtest/gtest.h>

#include "popgate/mail_rules.h"

namespace popgate {
namespace {

std::string Received(const std::string& mail) { return "+OK 900 octets\r\n" + mail + "\r\n.\r\n"; }

std::string Plain(const std::string& mail, bool complete, int codePage) {
  std::string plain;
  EXPECT_TRUE(PlainFormOfMimeMail(mail, complete, codePage, plain));
  return plain;
}

// What a common mail client (Thunderbird) sends for a short message with an HTML copy.
const char kAlternativeMail[] =
    "Message-ID: <0d5f@example.org>\r\n"
    "Date: Tue, 8 Dec 2026 09:12:44 +0100\r\n"
    "MIME-Version: 1.0\r\n"
    "User-Agent: Mozilla Thunderbird\r\n"
    "Content-Language: de-DE\r\n"
    "From: =?UTF-8?Q?J=C3=B6rg_M=C3=BCller?= <joerg@example.org>\r\n"
    "To: pager@example.org\r\n"
    "Subject: =?UTF-8?Q?J=C3=B6rg=2C_bob?=\r\n"
    "Content-Type: multipart/alternative;\r\n"
    " boundary=\"------------x3Bq0Dd2Y7\"\r\n"
    "\r\n"
    "This is a multi-part message in MIME format.\r\n"
    "--------------x3Bq0Dd2Y7\r\n"
    "Content-Type: text/plain; charset=UTF-8; format=flowed\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "Server f=C3=A4llt aus, bitte sofort r=C3=BCckrufen. Das ist eine lange Zeil=\r\n"
    "e mit weichem Umbruch.\r\n"
    "\r\n"
    "--------------x3Bq0Dd2Y7\r\n"
    "Content-Type: text/html; charset=UTF-8\r\n"
    "Content-Transfer-Encoding: 7bit\r\n"
    "\r\n"
    "<html><body><p>HTML copy</p></body></html>\r\n"
    "\r\n"
    "--------------x3Bq0Dd2Y7--\r\n";

TEST(NeedsMimeDecoding, PlainSevenBitMailIsLeftToTheRules) {
  EXPECT_FALSE(NeedsMimeDecoding(Received("From: a@b\r\nSubject: alice\r\n\r\nHello")));
  EXPECT_FALSE(
      NeedsMimeDecoding(Received("MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n"
                                 "Content-Transfer-Encoding: 7bit\r\nSubject: a\r\n\r\nHello")));
  EXPECT_FALSE(NeedsMimeDecoding(Received("Content-Type: text/plain; charset=UTF-8\r\nSubject: a\r\n\r\nonly ascii")));
}

TEST(NeedsMimeDecoding, EncodedOrStructuredMailIsDecoded) {
  EXPECT_TRUE(NeedsMimeDecoding(Received(kAlternativeMail)));
  EXPECT_TRUE(NeedsMimeDecoding(Received("Subject: =?ISO-8859-1?Q?Ren=E9?=\r\n\r\nx")));
  EXPECT_TRUE(NeedsMimeDecoding(Received("Content-Transfer-Encoding: base64\r\nSubject: a\r\n\r\neA==")));
  EXPECT_TRUE(NeedsMimeDecoding(Received("Content-Type: text/html\r\nSubject: a\r\n\r\n<b>x</b>")));
  EXPECT_TRUE(NeedsMimeDecoding(Received("Content-Type: text/plain; charset=\"utf-8\"\r\nSubject: a\r\n\r\n\xC3\xA9")));
}

TEST(PlainFormOfMimeMail, AlternativeMailPagesItsPlainTextToTheDecodedNames) {
  const std::string plain = Plain(Received(kAlternativeMail), true, 0);
  const MailPlan plan = PlanMailPages(plain, true);
  ASSERT_EQ(plan.Result, MailPlan::kPage) << plain;
  // CP437: o-umlaut 0x94, u-umlaut 0x81, a-umlaut 0x84.
  EXPECT_EQ(plan.Recipients, (std::vector<std::string>{"J\x94rg", "bob"}));
  EXPECT_EQ(plan.SenderName, "J\x94rg M\x81ller ");
  EXPECT_EQ(plan.SenderAddress, "<joerg@example.org>");
  EXPECT_EQ(plan.Body,
            "Server f\x84llt aus, bitte sofort r\x81"
            "ckrufen. Das ist eine lange Zeile mit weichem Umbruch.");
  EXPECT_EQ(plain.find("HTML copy"), std::string::npos);
  EXPECT_EQ(plain.find("x3Bq0Dd2Y7"), std::string::npos);
}

TEST(PlainFormOfMimeMail, Base64PartAttachmentsAndMixedMail) {
  const std::string mail =
      "MIME-Version: 1.0\r\nFrom: ops@example.org\r\nSubject: alice\r\n"
      "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
      "--b1\r\nContent-Type: text/plain; charset=us-ascii; name=\"notes.txt\"\r\n"
      "Content-Disposition: attachment; filename=\"notes.txt\"\r\n\r\nnot this\r\n"
      "--b1\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "RGlzayBmdWxsIG9uIGRiMQpDYWxsIG1lIQ==\r\n"  // "Disk full on db1\nCall me!"
      "--b1--\r\n";
  const MailPlan plan = PlanMailPages(Plain(Received(mail), true, 0), true);
  ASSERT_EQ(plan.Result, MailPlan::kPage);
  EXPECT_EQ(plan.Recipients, std::vector<std::string>{"alice"});
  EXPECT_EQ(plan.Body, "Disk full on db1\r\nCall me!");
}

TEST(PlainFormOfMimeMail, HtmlOnlyMailPagesItsText) {
  const std::string mail =
      "MIME-Version: 1.0\r\nSubject: alice\r\nContent-Type: text/html; charset=ISO-8859-1\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
      "<html><head><style>p {color:red}</style></head><body><p>Caf=E9 &amp; <b>bar</b></p>"
      "<p>line&nbsp;two<br>three</p><!-- hidden --></body></html>\r\n";
  const MailPlan plan = PlanMailPages(Plain(Received(mail), true, 0), true);
  ASSERT_EQ(plan.Result, MailPlan::kPage);
  EXPECT_EQ(plan.Body, "Caf\x82 & bar\r\nline two\r\nthree");
}

TEST(PlainFormOfMimeMail, MailWithoutTextPartHasNoMessage) {
  const std::string mail =
      "MIME-Version: 1.0\r\nSubject: alice\r\nContent-Type: image/png\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\niVBORw0KGgo=\r\n";
  EXPECT_EQ(PlanMailPages(Plain(Received(mail), true, 0), true).Result, MailPlan::kNoBody);
  // Without a Subject the rules still find none.
  EXPECT_EQ(
      PlanMailPages(Plain(Received("MIME-Version: 1.0\r\nContent-Type: text/html\r\n\r\n<p>x</p>"), true, 0), true)
          .Result,
      MailPlan::kNoSubject);
}

TEST(ToPagerCodePage, LettersTheCodePageLacksBecomeQuestionMarks) {
  EXPECT_EQ(ToPagerCodePage("caf\xC3\xA9 \xE2\x82\xAC", 0), "caf\x82 ?");  // euro sign: not in CP437
  EXPECT_EQ(ToPagerCodePage("\xC3\xB8", 0), "?");                          // o-slash: not in CP437
  EXPECT_EQ(ToPagerCodePage("\xC3\xB8", 1), "\x9B");                       // but in CP850
  EXPECT_EQ(ToPagerCodePage("bad \xFF byte", 0), "bad ? byte");
  EXPECT_EQ(ToPagerCodePage("\xE6\x97\xA5", 1), "?");
}

TEST(ToPagerCodePage, LettersLandOnThePublishedCodePoints) {
  // From the published IBM437 and IBM850 tables; "?" where the page has no such letter.
  const struct {
    const char* Utf8;
    const char* Cp437;
    const char* Cp850;
  } kLetters[] = {
      {"\xC3\x87", "\x80", "\x80"},  // C cedilla
      {"\xC3\x84", "\x8E", "\x8E"},  // A umlaut
      {"\xC3\x96", "\x99", "\x99"},  // O umlaut
      {"\xC3\x9C", "\x9A", "\x9A"},  // U umlaut
      {"\xC3\x9F", "\xE1", "\xE1"},  // sharp s
      {"\xC2\xA3", "\x9C", "\x9C"},  // pound sign
      {"\xC3\xB1", "\xA4", "\xA4"},  // n tilde
      {"\xC2\xB5", "\xE6", "\xE6"},  // micro sign
      {"\xC2\xA2", "\x9B", "\xBD"},  // cent sign: moved in IBM850 to make room for o slash
      {"\xC2\xA5", "\x9D", "\xBE"},  // yen sign
      {"\xC3\x98", "?", "\x9D"},     // O slash
      {"\xC3\x97", "?", "\x9E"},     // multiplication sign
      {"\xC3\xA3", "?", "\xC6"},     // a tilde
      {"\xC3\x81", "?", "\xB5"},     // A acute
      {"\xC3\xB0", "?", "\xD0"},     // eth
  };
  for (const auto& l : kLetters) {
    EXPECT_EQ(ToPagerCodePage(l.Utf8, 0), l.Cp437) << l.Utf8;
    EXPECT_EQ(ToPagerCodePage(l.Utf8, 1), l.Cp850) << l.Utf8;
  }
}

TEST(HtmlToText, NumericReferencesAndScripts) {
  EXPECT_EQ(HtmlToText("<div>A&#252;&#xE9;</div><script>alert('x')</script><div>B</div>"), "A\xC3\xBC\xC3\xA9\nB");
  EXPECT_EQ(HtmlToText("a &unknown; < b"), "a &unknown;");  // an unclosed tag runs to the end
}

}  // namespace
}  // namespace popgate
