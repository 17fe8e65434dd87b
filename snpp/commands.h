// snpp/commands.h - the SNPP command set: one connection's session, its commands and replies.
//
// DoCommand is handed one complete line at a time by the connection (snpp/connection.h) and
// answers with a reply code; the multi-line answers (HELP, LIST, MSTA, MLOG) go straight to
// the session's output. Each command word maps to its handler in one table. Pages leave
// only through DoSendPage, one pipe request per pager ID, on the pipe the session is given.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "snpp/name_cache.h"
#include "snpp/services.h"

namespace snpp {

// Reply codes (the gateway's own numbering of its reply table; the text of each is ReplyText(code)).
constexpr int kNoReply = 0;
constexpr int kReplyGreeting = 324;
constexpr int kReplyGoodbye = 325;
constexpr int kReplyEndOfHelp = 326;
constexpr int kReplyResetOk = 327;
constexpr int kReplyDataAccepted = 328;
constexpr int kReplyPagerIdAccepted = 329;
constexpr int kReplyMessageOk = 330;
constexpr int kReplyMessageSent = 331;
constexpr int kReplyAreaSelected = 332;
constexpr int kReplyDelayedOk = 333;
constexpr int kReplySubjectOk = 334;
constexpr int kReplyBeginInputDot = 335;
constexpr int kReplyBeginInput = 336;
constexpr int kReplyTooManyErrors = 337;
constexpr int kReplyUnavailable = 338;
constexpr int kReplyAlreadyEntered = 339;
constexpr int kReplyInvalidPagerId = 340;
constexpr int kReplyFailed550 = 341;
constexpr int kReplyFailed554 = 342;
constexpr int kReplyInvalidMessage = 343;
constexpr int kReplyIncomplete = 344;
constexpr int kReplyMessageFailed = 345;
constexpr int kReplyFailedInvalidId = 346;
constexpr int kReplyNotImplemented = 347;
constexpr int kReplyTryAgain = 348;
constexpr int kReplyEndOfNames = 349;
constexpr int kReplyEndOfStatus = 350;
constexpr int kReplyEndOfLog = 351;
// Level 2 (RFC 1861) and the server's own limits; the texts are the RFC's words.
constexpr int kReplyLoginOk = 352;
constexpr int kReplyLoginInvalid = 353;
constexpr int kReplyLevelOk = 354;
constexpr int kReplyLevelInvalid = 355;
constexpr int kReplyAlertOk = 356;
constexpr int kReplyAlertInvalid = 357;
constexpr int kReplyCallerIdOk = 358;
constexpr int kReplyHoldInvalid = 359;
constexpr int kReplyLoginRequired = 360;
constexpr int kReplyReportsRefused = 361;
constexpr int kReplyIdleTimeout = 362;

// The text of a reply code, without its CR LF; empty for a code outside the table.
std::string_view ReplyText(int code);

// Capacities of a session (each field width includes its terminator).
constexpr size_t kMaxRecipients = 300;
constexpr size_t kPagerIdField = 32;
constexpr size_t kHoldTimeField = 30;
constexpr size_t kCoverageAreaField = 30;
constexpr size_t kSubjectField = 230;
constexpr size_t kMessageTextField = 16100;  // MessageText keeps at most 16099 characters
constexpr size_t kSentMessageLength = 3999;  // what SEND forwards of MessageText
constexpr int kErrorLimit = 4;               // more counted errors than this end the connection
constexpr int kLoginAttempts = 3;            // failed LOGIs that end the connection
constexpr int kMaxServiceLevel = 11;         // LEVE 0..11
constexpr size_t kCallerIdField = 32;
constexpr int kNoLevel = -1;

struct Recipient {
  std::array<char, kPagerIdField> PagerId{};
  std::array<char, kHoldTimeField> HoldTime{};
  int Level = kNoLevel;  // the LEVE in force when the ID was given
};

// What the commands of one connection fill. A value-initialised record is an empty
// (zeroed) one; RESE and every SEND put it back to that.
struct SessionFields {
  bool DataMode = false;
  std::vector<Recipient> Recipients;  // never more than kMaxRecipients entries
  int CommandErrors = 0;
  std::array<char, kCoverageAreaField> CoverageArea{};
  std::array<char, kHoldTimeField> HoldTime{};
  std::array<char, kSubjectField> Subject{};
  std::string MessageText;                      // never more than kMessageTextField - 1 characters
  int Level = kNoLevel;                         // LEVE; kNoLevel until one is given
  bool Alert = false;                           // ALER 1: accepted, no paging system here offers it
  std::array<char, kCallerIdField> CallerId{};  // CALL: put after the message
};

class UserTable;

// What the connection is and may do; lives as long as the connection (SEND and RESE
// leave it alone).
struct ConnectionFields {
  std::string Peer;            // the client's address, for the log
  bool ReportsAllowed = true;  // MSTA and MLOG (the server decides by ReportsFrom)
  std::string LoginUser;       // after a good LOGI
  bool LoggedIn = false;
  int LoginFailures = 0;
};

// Where a connection's output goes: its socket, or a test's buffer. A send that fails (the
// peer went away) is dropped; the connection notices at its next receive.
class SnppOutput {
 public:
  virtual ~SnppOutput() = default;
  virtual void Send(std::string_view bytes) = 0;
};

// One connection's session: its fields, where its replies go and what its commands reach.
// The output and the services outlive the session.
struct SnppSession : SessionFields, ConnectionFields {
  SnppSession(SnppOutput& out, const SnppServices& services) : Out(out), Services(services) {}
  // Empties the fields of the page in hand; the connection's, the output and the
  // services stay.
  void Clear() { static_cast<SessionFields&>(*this) = SessionFields{}; }

  SnppOutput& Out;
  const SnppServices& Services;
};

// Sends the reply's text and CR LF.
void SendReply(int code, SnppOutput& out);

// Handles one line (ending in its line feed). Returns the reply code to send, or kNoReply.
// A missing session gives kNoReply.
int DoCommand(std::string_view line, SnppSession* session);

// The SEND step: one type-0 pipe request per recipient, for now or, after a HOLD whose
// time is still ahead, for that time (time mode 1). The text is the subject (SUBJ), ": ",
// the message and " Call " with the caller ID (CALL), cut to 3999 characters. 0 when every
// request was accepted, kReplyIncomplete without an ID or a message, kReplyMessageFailed
// when any request failed (the others stay queued; each outcome is logged).
[[nodiscard]] int DoSendPage(SnppSession& session);

// The text SEND forwards, before its CRs become blanks.
std::string PageText(const SnppSession& session);

// The HELP text, sent in one piece (no reply code follows it).
void DoHelp(SnppOutput& out);

// The 215 line and one 216 line per name (everything, or the members of one group).
void DoListNames(std::string_view rest, const NameCache& names, SnppOutput& out);

// The status (MSTA) or log (MLOG) report from the paging server, one 214 line per line.
enum class ServerReport { kStatus, kLog };
void DoServerReport(ServerReport which, SnppSession& session);

}  // namespace snpp
