// Damaged and hostile mails: cut short, bytes changed, MIME structure broken. None may
// crash the reply parser, the rules or the decoder, and what they produce stays within
// its fields.
#include <gtest/gtest.h>

#include <random>

#include "popgate/mail_rules.h"
#include "popgate/mime_mail.h"
#include "popgate/pop_reply.h"

namespace popgate {
namespace {

const char* const kSeeds[] = {
    "+OK 1 octets\r\nFrom: A <a@b.c>\r\nReply-To: x@y\r\nSubject: alice, bob\r\n\r\nHi\r\n%%EndPage%%\r\n.\r\n",
    "+OK\r\nMIME-Version: 1.0\r\nSubject: =?UTF-8?B?SsO2cmc=?=\r\nContent-Type: multipart/alternative; "
    "boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: "
    "quoted-printable\r\n\r\nCaf=C3=A9=\r\n\r\n--b\r\nContent-Type: "
    "text/html\r\n\r\n<p>x&#9999999;</p>\r\n--b--\r\n.\r\n",
    "+OK\r\nSubject: x\r\nContent-Type: text/html; charset=koi8-r\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "PHNjcmlwdD4=\r\n.\r\n",
    "+OK\r\nSubject: ,,,,\r\nFrom: @@@@\r\nReply-To:\r\n\r\n\r\n.\r\n",
};

TEST(MailRobustness, MutatedMailsNeverCrashAndStayWithinTheirFields) {
  const unsigned seed = std::random_device{}();
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  const std::string specials[] = {"\r\n", ".", "=?", "?=", "--b",      "%%EndPage%%",
                                  "@",    ",", "<",  "&#", "\r\n\r\n", "=\r\n"};
  for (int round = 0; round < 1500; ++round) {
    std::string mail = kSeeds[rng() % std::size(kSeeds)];
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits && !mail.empty(); ++e) {
      const size_t at = rng() % mail.size();
      switch (rng() % 4) {
        case 0:
          mail[at] = static_cast<char>(rng() % 256);
          break;
        case 1:
          mail.insert(at, specials[rng() % std::size(specials)]);
          break;
        case 2:
          mail.erase(at, rng() % 16);
          break;
        default:
          mail.resize(at);
          break;
      }
    }
    PopReplyParser reply(true);
    for (size_t used = 0; used < mail.size() && !reply.Done();) used += reply.Feed(std::string_view(mail).substr(used));
    const bool complete = reply.Done() && !reply.Cut();
    EXPECT_LE(reply.Text().size(), reply.Raw().size());
    EXPECT_LE(reply.Body().size(), reply.Text().size());
    std::string handled = reply.Text();
    bool decoded = false;
    std::string plain;
    if (NeedsMimeDecoding(handled) && PlainFormOfMimeMail(handled, complete, static_cast<int>(rng() % 2), plain)) {
      ASSERT_GE(plain.size(), 3u);
      EXPECT_EQ(plain.substr(plain.size() - 3), ".\r\n");
      handled = plain;
      decoded = true;
    }
    const MailPlan plan = PlanMailPages(handled, complete || decoded);
    for (const std::string& name : plan.Recipients) EXPECT_LE(name.size(), kRecipientNameMax);
    EXPECT_LT(plan.SenderName.size(), kSenderFieldWidth);
    EXPECT_LT(plan.SenderAddress.size(), kSenderFieldWidth);
    EXPECT_LT(plan.ReplyAddress.size(), kSenderFieldWidth);
    EXPECT_LE(MailPageText(plan.Body).size(), kPageTextMax);
    EXPECT_LE(plan.Body.size(), handled.size());
  }
}

}  // namespace
}  // namespace popgate
