// popgate/mail_rules.h - how a retrieved mail becomes pages: the recipients come from the
// Subject line, the message from the body, the sender (for the log) from From and Reply-To.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace popgate {

constexpr size_t kMailBufferSize = 30000;  // mail bytes kept per message, terminator included
constexpr size_t kRecipientNameMax = 31;   // the request record's Name field
constexpr size_t kPageTextMax = 3999;      // characters of one mail page
constexpr size_t kSenderFieldWidth = 300;  // sender name, sender and reply address

// What the rules make of one mail.
struct MailPlan {
  enum Verdict { kPage, kNoSubject, kNoBody };
  Verdict Result = kNoSubject;
  std::string SenderName;               // the From value without the address; "?" without From
  std::string SenderAddress;            // the address run around the From value's first "@"
  std::string ReplyAddress;             // the same of Reply-To; empty without one
  std::string Body;                     // the message text, as it stands in the mail
  std::vector<std::string> Recipients;  // cut to 31 characters, then trimmed; may hold ""
};

// Applies the mail rules to mail as received after RETR (the server's reply line first, the
// line holding only "." last). complete is false when the mail was longer than the buffer
// and only its beginning is held: the body then runs to the held text's end, since there
// is no closing dot line to leave out.
MailPlan PlanMailPages(std::string_view mail, bool complete);

// The address run and the rest of a From or Reply-To value: letters, digits, ".", "-", "_",
// "<" and ">" around the first "@". Both empty without an at sign.
void SplitAddress(std::string_view value, std::string& name, std::string& address);

// The text one mail page carries: every CR turned into a blank, cut to 3999 characters.
std::string MailPageText(std::string_view body);

// How MailToPages works for one mailbox.
struct MailOptions {
  std::string ProgramName = "CORVPOP32";
  bool Debug = false;   // append each mail to debug.txt, print the debug lines
  int MapCodePage = 0;  // the code page MIME text is converted into (0 CP437, 1 CP850)
  std::string DebugFile = "debug.txt";
};

// SendMailPage's results.
constexpr int kPageAccepted = 0;  // "OK" (or nothing to send)
constexpr int kPageRefused = 1;   // the paging server answered with a refusal ("ERR...")
constexpr int kPageNotTaken = 2;  // no answer (server stopped or restarting), or its store failed

// One page request for name with text on the paging server's pipe. An empty name or text
// sends nothing. One of the results above; every failure is logged ("Error queuing page
// for: NAME").
int SendMailPage(std::string_view programName, std::string_view name, std::string_view text);

// What to do with a mail once its pages were asked for.
enum class MailFate { kDelete, kKeep };

// Whether a mail whose recipients got these answers may go. It is deleted once every
// recipient's page was accepted, and kept for the next poll when any was not taken (the
// paging server was away or could not record it). Refusals alone: kept while some other
// recipient was accepted in the same poll (the refused ones get one more try on their own),
// deleted when none was (the mail can never page anyone: no known recipient).
MailFate FateOfMail(int accepted, int refused, int notTaken);

// Handles one mail retrieved with RETR: received is the reply as it came (kept in the
// debug file), mail the same without the dot stuffing (PopReplyParser's Text). MIME
// decoding when the mail needs it, the rules, the log lines and one page request per
// recipient. complete as for PlanMailPages. paged, when given, holds the recipients this
// mail was already paged to in earlier polls (they are skipped) and gets the ones accepted
// now. A mail without subject, body or recipients is deleted, as the rules say.
MailFate MailToPages(std::string_view received, std::string_view mail, bool complete, const MailOptions& options,
                     std::set<std::string>* paged = nullptr);

}  // namespace popgate
