// popgate/mail_rules.cpp - the mail-to-page rules and the page request of one recipient.
#include "popgate/mail_rules.h"

#include <cstring>

#include <cctype>
#include <cstdio>
#include <mutex>

#include "common/log.h"
#include "common/pipe_client.h"
#include "common/request_record.h"
#include "popgate/mime_mail.h"

namespace popgate {

namespace {

constexpr std::string_view kEndPageMarker = "%%EndPage%%";

bool IsLineEndOrBlank(char c) { return c == '\r' || c == '\n' || c == ' '; }

bool IsAddressChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '.' || c == '-' || c == '_' || c == '<' || c == '>' || c == '@';
}

// The value of a header found at pos: it starts offset characters after the header word
// (the word, its colon and one more character, normally a blank) and runs to the end of
// its line.
std::string_view ValueAt(std::string_view mail, size_t pos, size_t offset) {
  const size_t start = pos + offset;
  if (pos == std::string_view::npos || start > mail.size()) return {};
  size_t end = mail.find_first_of("\r\n", start);
  if (end == std::string_view::npos) end = mail.size();
  return mail.substr(start, end - start);
}

std::string CutTo(std::string_view text, size_t width) {
  return std::string(text.substr(0, std::min(text.size(), width - 1)));
}

std::string Trimmed(std::string_view text) {
  size_t b = 0;
  size_t e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  return std::string(text.substr(b, e - b));
}

std::mutex gDebugFileMutex;

void AppendDebugFile(const std::string& path, std::string_view mail) {
  std::lock_guard lock(gDebugFileMutex);  // several mailboxes share the one file
  std::FILE* f = std::fopen(path.c_str(), "a+b");
  if (f == nullptr) return;
  static constexpr std::string_view kSeparator = "\n----------------------------------------\n";
  std::fwrite(mail.data(), 1, mail.size(), f);
  std::fwrite(kSeparator.data(), 1, kSeparator.size(), f);
  std::fclose(f);
}

}  // namespace

void SplitAddress(std::string_view value, std::string& name, std::string& address) {
  name.clear();
  address.clear();
  const size_t at = value.find('@');
  if (at == std::string_view::npos) return;
  size_t b = at;
  while (b > 0 && IsAddressChar(value[b - 1]) && value[b - 1] != '@') --b;
  size_t e = at + 1;
  while (e < value.size() && IsAddressChar(value[e]) && value[e] != '@') ++e;
  address.assign(value.data() + b, e - b);
  name.reserve(value.size() - address.size());
  name.assign(value.data(), b);
  name.insert(name.end(), value.begin() + static_cast<std::ptrdiff_t>(e), value.end());
}

MailPlan PlanMailPages(std::string_view mail, bool complete) {
  MailPlan plan;
  const size_t subjectAt = mail.find("Subject:");
  if (subjectAt == std::string_view::npos) {
    plan.Result = MailPlan::kNoSubject;
    return plan;
  }
  const size_t emptyLine = mail.find("\r\n\r\n");
  if (emptyLine == std::string_view::npos) {
    plan.Result = MailPlan::kNoBody;
    return plan;
  }
  size_t bodyStart = emptyLine + 4;
  while (bodyStart < mail.size() && IsLineEndOrBlank(mail[bodyStart])) ++bodyStart;
  // The body's last character: searched backwards from the fourth character before the
  // end, which leaves out the closing ".\r\n"; a cut mail has no closing line to leave out.
  const size_t tail = complete ? 4 : 1;
  size_t bodyEnd = bodyStart;  // one past the last character; bodyStart means empty
  if (mail.size() >= tail) {
    for (size_t i = mail.size() - tail + 1; i > bodyStart; --i) {
      if (!IsLineEndOrBlank(mail[i - 1])) {
        bodyEnd = i;
        break;
      }
    }
  }
  const size_t marker = mail.find(kEndPageMarker);
  if (marker != std::string_view::npos) {
    // The buffer ends at the marker: the body keeps the line break that stood before it.
    mail = mail.substr(0, marker);
    bodyEnd = std::max(bodyStart, marker);
  }
  plan.Body = bodyStart < bodyEnd && bodyEnd <= mail.size() ? std::string(mail.substr(bodyStart, bodyEnd - bodyStart))
                                                            : std::string();

  std::string name;
  std::string address;
  const size_t fromAt = mail.find("From:");
  if (fromAt == std::string_view::npos) {
    plan.SenderName = "?";
  } else {
    SplitAddress(ValueAt(mail, fromAt, 6), name, address);
    plan.SenderName = CutTo(name, kSenderFieldWidth);
    plan.SenderAddress = CutTo(address, kSenderFieldWidth);
  }
  const size_t replyAt = mail.find("Reply-To:");
  if (replyAt != std::string_view::npos) {
    SplitAddress(ValueAt(mail, replyAt, 10), name, address);
    plan.ReplyAddress = CutTo(address, kSenderFieldWidth);
  }

  std::string_view subject = ValueAt(mail, subjectAt, 9);
  while (!subject.empty()) {
    const size_t comma = subject.find(',');
    const std::string_view piece = subject.substr(0, comma);
    if (!piece.empty()) plan.Recipients.push_back(Trimmed(piece.substr(0, std::min(piece.size(), kRecipientNameMax))));
    if (comma == std::string_view::npos) break;
    subject.remove_prefix(comma + 1);
  }
  plan.Result = MailPlan::kPage;
  return plan;
}

std::string MailPageText(std::string_view body) {
  std::string text(body.substr(0, std::min(body.size(), kPageTextMax)));
  for (char& c : text) {
    if (c == '\r') c = ' ';
  }
  return text;
}

int SendMailPage(std::string_view programName, std::string_view name, std::string_view text) {
  if (name.empty() || text.empty()) return 0;
  common::RequestRecord head{};
  head.RequestType = common::kPageRequest;
  head.TimeMode = 0;
  const std::vector<char> request = common::BuildRequest(head, name, MailPageText(text));
  std::vector<char> reply(common::kPipeReplyCapacity, '\0');
  if (common::CallPagingServer(request, reply) != 0) {
    common::LogLine("%t %s: Error queuing page for: %s\n", programName, common::Outside(name));
    const std::string_view answer(reply.data(), strnlen(reply.data(), reply.size()));
    // A refusal names the page's fault; a store failure or no answer at all is the server's,
    // and the page may be taken on the next poll.
    if (answer.rfind("ERR", 0) == 0 && answer.rfind("ERR: Page store failed", 0) != 0) return kPageRefused;
    return kPageNotTaken;
  }
  return kPageAccepted;
}

MailFate FateOfMail(int accepted, int refused, int notTaken) {
  if (notTaken > 0) return MailFate::kKeep;
  if (refused == 0) return MailFate::kDelete;
  return accepted > 0 ? MailFate::kKeep : MailFate::kDelete;
}

MailFate MailToPages(std::string_view received, std::string_view mail, bool complete, const MailOptions& options,
                     std::set<std::string>* paged) {
  if (options.Debug) AppendDebugFile(options.DebugFile, received);
  bool plainComplete = complete;
  std::string plain;
  if (NeedsMimeDecoding(mail) && PlainFormOfMimeMail(mail, complete, options.MapCodePage, plain)) {
    mail = plain;
    plainComplete = true;  // the plain form always ends with its closing dot line
  }
  const MailPlan plan = PlanMailPages(mail, plainComplete);
  const std::string& program = options.ProgramName;
  if (plan.Result == MailPlan::kNoSubject) {
    common::LogLine("%t %s: Error - Can not find Subject field in E-Mail.\n", program);
    return MailFate::kDelete;
  }
  if (plan.Result == MailPlan::kNoBody) {
    common::LogLine("%t %s: Error - Can not find message field in E-Mail(1).\n", program);
    return MailFate::kDelete;
  }
  int accepted = 0;
  int refused = 0;
  int notTaken = 0;
  for (const std::string& name : plan.Recipients) {
    if (paged && paged->contains(name)) continue;  // paged by an earlier poll of this mail
    common::DebugLine("Will Page: '%s'\n", name);
    common::DebugLine("With: '%s'\n", plan.Body);
    if (!plan.ReplyAddress.empty() && plan.ReplyAddress != plan.SenderAddress) {
      common::LogLine("%t %s: Sending Page for '%s' to Paging Server from %s %s or %s\n", program,
                      common::Outside(name), common::Outside(plan.SenderName), common::Outside(plan.SenderAddress),
                      common::Outside(plan.ReplyAddress));
    } else {
      common::LogLine("%t %s: Sending Page for '%s' to Paging Server from %s %s\n", program, common::Outside(name),
                      common::Outside(plan.SenderName), common::Outside(plan.SenderAddress));
    }
    switch (SendMailPage(program, name, plan.Body)) {
      case kPageAccepted:
        ++accepted;
        if (paged) paged->insert(name);
        break;
      case kPageRefused:
        ++refused;
        break;
      default:
        ++notTaken;
        break;
    }
  }
  return FateOfMail(accepted, refused, notTaken);
}

}  // namespace popgate
