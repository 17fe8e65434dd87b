// snpp/commands.cpp - the SNPP command table, the replies and the page hand-over.
#include "snpp/commands.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "common/fixed_field.h"
#include "common/log.h"
#include "common/request_record.h"
#include "common/version.h"
#include "platform/clock.h"
#include "snpp/command_line.h"
#include "snpp/hold_time.h"
#include "snpp/users.h"

namespace snpp {

namespace {

struct ReplyEntry {
  int Code;
  std::string_view Text;
};

const std::string kGreeting = "220 SNPP Gateway Ready (Corvel.Version" + std::string(common::kVersion) + ")";

const ReplyEntry kReplyTable[] = {
    {kReplyGreeting, kGreeting},
    {kReplyGoodbye, "221 OK, Goodbye"},
    {kReplyEndOfHelp, "250 End of Help Information"},
    {kReplyResetOk, "250 RESET OK"},
    {kReplyDataAccepted, "250 DATA Accepted"},
    {kReplyPagerIdAccepted, "250 Pager ID Accepted"},
    {kReplyMessageOk, "250 Message OK"},
    {kReplyMessageSent, "250 Message Sent OK"},
    {kReplyAreaSelected, "250 Alternate Area Selected"},
    {kReplyDelayedOk, "250 Delayed Message OK"},
    {kReplySubjectOk, "250 Message Subject OK"},
    {kReplyBeginInputDot, "354 Begin Input, End With '.'"},
    {kReplyBeginInput, "354 Begin Input, End With <CRLF>.<CRLF>"},
    {kReplyTooManyErrors, "421 Too Many Errors, Goodbye"},
    {kReplyUnavailable, "421 Gateway Service Unavailable"},
    {kReplyAlreadyEntered, "503 ERROR, Message Already Entered"},
    {kReplyInvalidPagerId, "550 Error, Invalid Pager ID"},
    {kReplyFailed550, "550 Error, failed"},
    {kReplyFailed554, "554 Error, failed"},
    {kReplyInvalidMessage, "550 ERROR, Invalid Message"},
    {kReplyIncomplete, "503 Error, Pager ID or Message Incomplete"},
    {kReplyMessageFailed, "554 Message Failed"},
    {kReplyFailedInvalidId, "554 Failed, Invalid Pager ID"},
    {kReplyNotImplemented, "500 Command Not Implemented"},
    {kReplyTryAgain, "500 Command Not Implemented, Try Again"},
    {kReplyEndOfNames, "217 End of Names and Groups"},
    {kReplyEndOfStatus, "217 End of Status report"},
    {kReplyEndOfLog, "217 End of Log"},
    {kReplyLoginOk, "250 Login Accepted"},
    {kReplyLoginInvalid, "550 Error, Invalid Login"},
    {kReplyLevelOk, "250 OK, Alternate Service Level Accepted"},
    {kReplyLevelInvalid, "550 Error, Invalid Service Level"},
    {kReplyAlertOk, "250 OK, Alert Override Accepted"},
    {kReplyAlertInvalid, "550 Error, Invalid Alert Parameter"},
    {kReplyCallerIdOk, "250 Caller ID Accepted"},
    {kReplyHoldInvalid, "550 Error, Invalid Delivery Date/Time"},
    {kReplyLoginRequired, "550 Error, Login Required"},
    {kReplyReportsRefused, "550 Error, Access Denied"},
    {kReplyIdleTimeout, "421 Timeout, Goodbye"},
};

constexpr std::string_view kHelpText =
    "214 SNPP supported functions. \r\n"
    "214 ------------------------ \r\n"
    "214 PAGE 5551212 5551234 bill \"Orlen Vask\" \r\n"
    "214 SUBJ The subject of the page \r\n"
    "214 MESS This is the message to send \r\n"
    "214 DATA - Enter message, the next lines will have data .<CRLF> ends \r\n"
    "214 SEND - Sends the page \r\n"
    "214 QUIT \r\n"
    "214 RESE - Resets session \r\n"
    "214 LIST - Lists all names and groups\r\n"
    "214 LIST GROUP_NAME - Lists the names in a group\r\n"
    "214 HELP \r\n"
    "214 MSTA - Status of the Paging Server\r\n"
    "214 MLOG - Shows the Log file on the Paging Server\r\n"
    "214 LOGI loginid [password] - Logs in\r\n"
    "214 LEVE 0-11 - Service level of the pages that follow\r\n"
    "214 HOLD YYMMDDHHMMSS [+/-GMT offset] - Sends the page at that time\r\n"
    "214 CALL 5551234 - Call-back number, put after the message\r\n"
    "214 ALER 0|1, COVE area - Accepted\r\n"
    "250 End of Help Information\r\n";

constexpr size_t kReportBytes = 3000;     // of the pipe reply walked for a report
constexpr size_t kReportLineChars = 193;  // what a 200-byte "214 ...\r\n" line holds

using Rest = std::optional<std::string_view>;

// A session without a pipe fails its requests, with the reply cleared as a failed call leaves it.
int CallPipe(SnppSession& session, std::span<const char> request, std::span<char> reply) {
  if (session.Services.CallPagingServer) return session.Services.CallPagingServer(request, reply);
  std::fill(reply.begin(), reply.end(), '\0');
  return 1;
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// PAGE: every token of rest becomes a recipient with the current HoldTime. The IDs of one
// PAGE are taken all or none: when they would not all fit the 300 entries, none is taken
// and the command fails, so every ID the client saw accepted is one SEND will reach.
int DoPagerId(SnppSession& session, const Rest& rest) {
  if (session.Services.RequireLogin && !session.LoggedIn) {
    ++session.CommandErrors;
    return kReplyLoginRequired;
  }
  std::vector<std::string_view> ids;
  for (auto token = NextToken(rest); token; token = NextToken(token->Rest)) {
    std::string_view id = token->Text;
    // A quote never closed drags the line end into the ID; it can name no pager and would
    // split the log line in two.
    if (const size_t end = id.find_first_of("\r\n"); end != std::string_view::npos) id = id.substr(0, end);
    if (!id.empty()) ids.push_back(id);
    if (!token->Rest) break;
  }
  if (ids.empty() || session.Recipients.size() + ids.size() > kMaxRecipients) {
    ++session.CommandErrors;
    return kReplyInvalidPagerId;
  }
  for (std::string_view id : ids) {
    Recipient& r = session.Recipients.emplace_back();
    common::CopyField(r.PagerId, id);
    r.HoldTime = session.HoldTime;
    r.Level = session.Level;
  }
  return kReplyPagerIdAccepted;
}

void AppendMessage(std::string& text, std::string_view more) {
  const size_t room = kMessageTextField - 1 - std::min(text.size(), kMessageTextField - 1);
  text.append(more.substr(0, std::min(more.size(), room)));
}

// COVE, HOLD and SUBJ: store the rest (with its line end), cut to the field.
template <size_t N>
int StoreArgument(SnppSession& session, std::array<char, N>& field, const Rest& rest, int reply) {
  if (!rest) {
    ++session.CommandErrors;
    return reply;
  }
  common::CopyField(field, *rest);
  return reply;
}

int DataModeLine(SnppSession& session, std::string_view line) {
  if (line.size() >= 2 && line[0] == '.' && line[1] == '\r') {
    session.DataMode = false;
    std::string& text = session.MessageText;
    if (text.size() > 2 && IsLineEnd(text.back())) {
      text.pop_back();
      if (IsLineEnd(text.back())) text.pop_back();
    }
    return kReplyDataAccepted;
  }
  AppendMessage(session.MessageText, line);
  return kNoReply;
}

int DoMessage(SnppSession& session, const Rest& rest) {
  if (!session.MessageText.empty()) {
    ++session.CommandErrors;
    return kReplyAlreadyEntered;
  }
  if (rest) AppendMessage(session.MessageText, *rest);
  return kReplyMessageOk;
}

int DoReset(SnppSession& session, const Rest&) {
  session.Clear();
  return kReplyResetOk;
}

// A SEND empties the session whatever its outcome; a failed one still counts its error.
int DoSend(SnppSession& session, const Rest&) {
  const int result = DoSendPage(session);
  const int errors = session.CommandErrors + 1;
  session.Clear();
  if (result == 0) return kReplyMessageSent;
  session.CommandErrors = errors;
  return result;
}

int DoQuit(SnppSession&, const Rest&) { return kReplyGoodbye; }

int DoHelpCommand(SnppSession& session, const Rest&) {
  DoHelp(session.Out);
  return kNoReply;
}

int DoData(SnppSession& session, const Rest&) {
  common::DebugLine("\nSeting to dataMode\n");
  session.DataMode = true;
  // SNPP clients wait for this go-ahead before they send the message lines.
  return kReplyBeginInput;
}

int DoList(SnppSession& session, const Rest& rest) {
  static const NameCache kNoNames;
  DoListNames(rest.value_or(std::string_view()), session.Services.Names ? *session.Services.Names : kNoNames,
              session.Out);
  return kReplyEndOfNames;
}

int DoStatus(SnppSession& session, const Rest&) {
  if (!session.ReportsAllowed) return kReplyReportsRefused;
  DoServerReport(ServerReport::kStatus, session);
  return kReplyEndOfStatus;
}

int DoLog(SnppSession& session, const Rest&) {
  if (!session.ReportsAllowed) return kReplyReportsRefused;
  DoServerReport(ServerReport::kLog, session);
  return kReplyEndOfLog;
}

int DoCoverage(SnppSession& session, const Rest& rest) {
  return StoreArgument(session, session.CoverageArea, rest, kReplyAreaSelected);
}

// The words of rest, split at blanks and tabs, without the line end.
std::vector<std::string_view> Words(const Rest& rest) {
  std::vector<std::string_view> words;
  if (!rest) return words;
  std::string_view text = *rest;
  if (const size_t end = text.find_first_of("\r\n"); end != std::string_view::npos) text = text.substr(0, end);
  while (!text.empty()) {
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    text.remove_prefix(start);
    const size_t end = std::min(text.find_first_of(" \t"), text.size());
    words.push_back(text.substr(0, end));
    text.remove_prefix(end);
  }
  return words;
}

// Client text for the log: on one line and of a bounded length.
std::string LogSafe(std::string_view text) {
  std::string out(text.substr(0, 64));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return out;
}

// A quoted password may hold blanks; the quotes are not part of it.
std::string_view Unquote(std::string_view word) {
  if (word.size() >= 2 && (word.front() == '"' || word.front() == '\'') && word.back() == word.front()) {
    return word.substr(1, word.size() - 2);
  }
  return word;
}

int DoLogin(SnppSession& session, const Rest& rest) {
  const std::vector<std::string_view> words = Words(rest);
  if (words.empty()) {
    ++session.CommandErrors;
    return kReplyLoginInvalid;
  }
  const std::string_view user = Unquote(words[0]);
  // The password is the rest of the line after the user, so it may hold blanks.
  std::string_view password;
  if (words.size() > 1) {
    const std::string_view line = *rest;
    const size_t from = static_cast<size_t>(words[1].data() - line.data());
    const size_t to = static_cast<size_t>(words.back().data() + words.back().size() - line.data());
    password = Unquote(line.substr(from, to - from));
  }
  const UserTable* users = session.Services.Users;
  // Without a users file every login is taken (HylaFAX's sendpage always sends one); with
  // one, only its users, and an empty file lets nobody in.
  if (users == nullptr || users->Check(user, password)) {
    session.LoggedIn = true;
    session.LoginUser = std::string(user);
    session.LoginFailures = 0;
    return kReplyLoginOk;
  }
  ++session.LoginFailures;
  common::LogLine("%t %s: Login failed for %s from %s\n", common::ProgramName(), LogSafe(user),
                  session.Peer.empty() ? std::string("?") : session.Peer);
  return kReplyLoginInvalid;
}

int DoLevel(SnppSession& session, const Rest& rest) {
  const std::vector<std::string_view> words = Words(rest);
  int level = -1;
  if (words.size() == 1 && words[0].size() <= 2 && words[0].find_first_not_of("0123456789") == std::string_view::npos) {
    level = std::stoi(std::string(words[0]));
  }
  if (level < 0 || level > kMaxServiceLevel) {
    ++session.CommandErrors;
    return kReplyLevelInvalid;
  }
  session.Level = level;
  for (Recipient& r : session.Recipients) {
    if (r.Level == kNoLevel) r.Level = level;  // Net::SNPP sends LEVE after PAGE
  }
  return kReplyLevelOk;
}

int DoAlert(SnppSession& session, const Rest& rest) {
  const std::vector<std::string_view> words = Words(rest);
  if (words.size() != 1 || (words[0] != "0" && words[0] != "1")) {
    ++session.CommandErrors;
    return kReplyAlertInvalid;
  }
  session.Alert = words[0] == "1";
  return kReplyAlertOk;
}

int DoCallerId(SnppSession& session, const Rest& rest) {
  const std::vector<std::string_view> words = Words(rest);
  if (words.empty()) {
    ++session.CommandErrors;
    return kReplyFailed550;
  }
  const std::string_view line = *rest;
  const size_t from = static_cast<size_t>(words.front().data() - line.data());
  const size_t to = static_cast<size_t>(words.back().data() + words.back().size() - line.data());
  common::CopyField(session.CallerId, line.substr(from, to - from));
  return kReplyCallerIdOk;
}

// HOLD: the time must be one that exists; it is kept as given and applies to the IDs
// given after it and, as Net::SNPP sends HOLD after PAGE, to those given before without
// a time of their own.
int DoHold(SnppSession& session, const Rest& rest) {
  HoldTime parsed;
  if (!rest || !ParseHoldTime(*rest, parsed)) {
    ++session.CommandErrors;
    return kReplyHoldInvalid;
  }
  std::string_view text = *rest;
  if (const size_t end = text.find_first_of("\r\n"); end != std::string_view::npos) text = text.substr(0, end);
  if (const size_t start = text.find_first_not_of(" \t"); start != std::string_view::npos) text.remove_prefix(start);
  common::CopyField(session.HoldTime, text);
  for (Recipient& r : session.Recipients) {
    if (r.HoldTime[0] == '\0') r.HoldTime = session.HoldTime;
  }
  return kReplyDelayedOk;
}

int DoSubject(SnppSession& session, const Rest& rest) {
  return StoreArgument(session, session.Subject, rest, kReplySubjectOk);
}

// Known to the protocol but not offered here: answered without counting an error.
int DoNotImplemented(SnppSession&, const Rest&) { return kReplyTryAgain; }

struct SnppCommand {
  std::string_view Word;  // matched on its first four letters, ignoring case
  int (*Handler)(SnppSession& session, const Rest& rest);
};

// Searched in this order; the first match wins.
constexpr SnppCommand kCommandTable[] = {
    {"PAGE", DoPagerId},
    {"MESS", DoMessage},
    {"RESE", DoReset},
    {"SEND", DoSend},
    {"QUIT", DoQuit},
    {"HELP", DoHelpCommand},
    {"DATA", DoData},
    {"LIST", DoList},
    {"LOGI", DoLogin},
    {"LEVE", DoLevel},
    {"ALER", DoAlert},
    {"COVE", DoCoverage},
    {"HOLD", DoHold},
    {"CALL", DoCallerId},
    {"SUBJ", DoSubject},
    {"2WAY", DoNotImplemented},
    {"EXPT", DoNotImplemented},
    {"NOQUEUE", DoNotImplemented},
    {"ACKR", DoNotImplemented},
    {"RTYP", DoNotImplemented},
    {"MCRE", DoNotImplemented},
    {"MSTA", DoStatus},
    {"MLOG", DoLog},
    {"KTAG", DoNotImplemented},
};

const SnppCommand* FindCommand(std::string_view word) {
  for (const SnppCommand& command : kCommandTable) {
    if (SameCommandWord(word, command.Word)) return &command;
  }
  return nullptr;
}

}  // namespace

std::string_view ReplyText(int code) {
  for (const ReplyEntry& entry : kReplyTable) {
    if (entry.Code == code) return entry.Text;
  }
  return {};
}

void SendReply(int code, SnppOutput& out) {
  const std::string_view text = ReplyText(code);
  common::DebugLine("SentRetMessageText: %s\n", text);
  std::string line(text);
  line += "\r\n";
  out.Send(line);
}

int DoCommand(std::string_view line, SnppSession* session) {
  if (session == nullptr) return kNoReply;
  // The line is text: a NUL from the peer ends it.
  if (const size_t nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
  common::DebugLine("\nDoCommand: DataMode=%d\n", session->DataMode ? 1 : 0);
  if (session->DataMode) return DataModeLine(*session, line);

  const std::optional<CommandLine> command = ParseCommandLine(line);
  if (!command) return kNoReply;
  const SnppCommand* entry = FindCommand(command->Word);
  if (entry == nullptr) {
    ++session->CommandErrors;
    return kReplyTryAgain;
  }
  return entry->Handler(*session, command->Rest);
}

std::string PageText(const SnppSession& session) {
  std::string text;
  const std::string subject = common::FieldText(session.Subject);
  std::string_view subjectLine = subject;
  if (const size_t end = subjectLine.find_first_of("\r\n"); end != std::string_view::npos) {
    subjectLine = subjectLine.substr(0, end);
  }
  if (const size_t start = subjectLine.find_first_not_of(" \t"); start != std::string_view::npos) {
    text += subjectLine.substr(start);
    text += ": ";
  }
  text += session.MessageText;
  const std::string caller = common::FieldText(session.CallerId);
  if (!caller.empty()) {
    while (!text.empty() && IsLineEnd(text.back())) text.pop_back();
    text += " Call ";
    text += caller;
  }
  return text.substr(0, kSentMessageLength);
}

int DoSendPage(SnppSession& session) {
  common::DebugLine("DoSendPage\n");
  if (session.Recipients.empty() || session.Recipients.front().PagerId[0] == '\0' || session.MessageText.empty()) {
    return kReplyIncomplete;
  }
  std::string text = PageText(session);
  std::replace(text.begin(), text.end(), '\r', ' ');

  std::vector<char> reply(common::kPipeReplyCapacity);
  const std::string program = common::ProgramName();
  const std::time_t now = platform::Now();
  bool failed = false;
  for (const Recipient& r : session.Recipients) {
    const std::string id = common::FieldText(r.PagerId);
    common::RequestRecord head{};
    head.RequestType = common::kPageRequest;
    // Level-2 details go into the log line after the ID; a level-1 page's line is as ever.
    std::string details;
    const std::string hold = common::FieldText(r.HoldTime[0] != '\0' ? r.HoldTime : session.HoldTime);
    HoldTime parsed;
    if (!hold.empty() && ParseHoldTime(hold, parsed)) {
      const std::time_t at = HoldEpoch(parsed);
      // A time already past (or one that cannot be represented) pages now.
      if (at > now) {
        const std::tm local = platform::LocalTime(at);
        head.TimeMode = 1;
        head.Minute = local.tm_min;
        head.Hour = static_cast<uint8_t>(local.tm_hour);
        head.Day = static_cast<uint8_t>(local.tm_mday);
        head.Month = static_cast<uint8_t>(local.tm_mon + 1);
        head.Year = static_cast<uint16_t>(local.tm_year + 1900);
        details += common::FormatText(", held until %d-%02d-%02d %02d:%02d", static_cast<int>(head.Year),
                                      static_cast<int>(head.Month), static_cast<int>(head.Day),
                                      static_cast<int>(head.Hour), static_cast<int>(head.Minute));
      }
    }
    const int level = r.Level != kNoLevel ? r.Level : session.Level;
    if (level != kNoLevel) details += common::FormatText(", service level %d", level);
    const std::vector<char> request = common::BuildRequest(head, id, text);
    if (CallPipe(session, request, reply) == 0) {
      common::LogLine("%t %s: Queued page for: %s%s\n", program, common::Outside(id), details);
    } else {
      common::LogLine("%t %s: Error queuing page for: %s\n", program, common::Outside(id));
      failed = true;
    }
  }
  return failed ? kReplyMessageFailed : 0;
}

void DoHelp(SnppOutput& out) {
  common::DebugLine("DoHelp\n");
  out.Send(kHelpText);
}

void DoListNames(std::string_view rest, const NameCache& names, SnppOutput& out) {
  common::DebugLine("DoListNames\n");
  if (const size_t end = rest.find_first_of("\r\n"); end != std::string_view::npos) rest = rest.substr(0, end);
  std::vector<std::string> list;
  if (rest.size() >= 2) {
    names.GroupMembers(rest, list);
  } else {
    list = names.NameList();
  }
  std::string text = "215 Start of Name and Group List\r\n";
  for (const std::string& name : list) {
    text += "216 ";
    text += name;
    text += "\r\n";
  }
  out.Send(text);
}

void DoServerReport(ServerReport which, SnppSession& session) {
  common::RequestRecord head{};
  if (which == ServerReport::kLog) {
    head.RequestType = common::kLogReport;
    head.Parameter = 0;  // the newest log page
  } else {
    head.RequestType = common::kStatusReport;
    head.Parameter = 1;  // every queued page listed
  }
  const std::vector<char> request = common::BuildRequest(head, "", "");
  std::vector<char> reply(common::kPipeReplyCapacity);
  (void)CallPipe(session, request, reply);  // a report is no "OK": its text is used anyway

  std::string text;
  std::string line;
  bool full = false;
  for (size_t i = 0; i < kReportBytes && reply[i] != '\0'; ++i) {
    const char c = reply[i];
    if (c == '\n') {
      text += "214 ";
      text += line;
      text += "\r\n";
      line.clear();
      full = false;
    } else if (!full) {
      line += c;
      full = line.size() >= kReportLineChars;  // the rest of an overlong line is dropped
    }
  }
  if (!text.empty()) session.Out.Send(text);
}

}  // namespace snpp
