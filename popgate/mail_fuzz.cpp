// popgate/mail_fuzz.cpp - libFuzzer target: any bytes as a whole mail after RETR (complete,
// or cut short), through MIME decoding and the mail-to-page rules, as MailToPages takes
// them, without the pipe. The plan must hold what the page requests rely on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "popgate/mail_rules.h"
#include "popgate/mime_mail.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void CheckPlan(const popgate::MailPlan& plan) {
  for (const std::string& name : plan.Recipients) Check(name.size() <= popgate::kRecipientNameMax);
  Check(plan.SenderName.size() < popgate::kSenderFieldWidth);
  Check(plan.SenderAddress.size() < popgate::kSenderFieldWidth);
  Check(plan.ReplyAddress.size() < popgate::kSenderFieldWidth);
  if (plan.Result == popgate::MailPlan::kPage) {
    const std::string text = popgate::MailPageText(plan.Body);
    Check(text.size() <= popgate::kPageTextMax);
    Check(text.find('\r') == std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool complete = data[0] & 1;
  const int codePage = (data[0] >> 1) & 1;
  const std::string_view mail(reinterpret_cast<const char*>(data) + 1, size - 1);
  CheckPlan(popgate::PlanMailPages(mail, complete));
  if (popgate::NeedsMimeDecoding(mail)) {
    std::string plain;
    if (popgate::PlainFormOfMimeMail(mail, complete, codePage, plain))
      CheckPlan(popgate::PlanMailPages(plain, complete));
  }
  (void)popgate::HtmlToText(mail);
  (void)popgate::ToPagerCodePage(mail, codePage);
  std::string name, address;
  popgate::SplitAddress(mail, name, address);
  return 0;
}
