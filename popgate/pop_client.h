// popgate/pop_client.h - one poll of one mailbox: the POP3 dialogue (greeting, USER, PASS,
// STAT, RETR, DELE, QUIT), one command and one reply at a time on the poll thread.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <stop_token>
#include <string>

#include "popgate/mail_rules.h"
#include "popgate/mailbox.h"
#include "popgate/pop_connection.h"
#include "popgate/pop_reply.h"

namespace popgate {

constexpr size_t kReceiveBlock = 1000;  // bytes taken from the connection at a time
constexpr int kReplyWaitMs = 31 * 500;  // program time a reply's next line may take to come
constexpr int kConnectTimeoutMs = 20000;
constexpr int kGreetingPauseMs = 2000;  // between the greeting and USER

// The POP3 working state of one mailbox, made once by its poll thread and used for every
// poll; only that thread touches it.
struct PopSession {
  PopSession(const Mailbox& box, const MailOptions& options) : Box(box), Options(options) {}

  const Mailbox& Box;
  MailOptions Options;
  int EndOfMessage = 0;                // 1 once the last RETR's closing dot line came; reset at STAT and RETR
  int64_t ReplyWaitMs = kReplyWaitMs;  // program time each line of a reply may take
  PopConnection Connection;
  std::string Pending;  // bytes received after the reply they came with (at most one block)
  // Mails kept for the next poll because not all their pages were taken, by the hash of
  // their text: the recipients already paged, so a later poll pages only the others.
  std::map<size_t, std::set<std::string>> Paged;
};

// Sleeps ms of program time (CORVEL_TIME_SCALE applies) unless a stop comes first. False
// when stopped.
bool PauseUnlessStopped(std::stop_token stop, int64_t ms);

// Reads one reply into parser, a block at a time. Each line must end within ReplyWaitMs
// of program time after the one before: a server silent for longer is given up. Every non-empty
// line is shown with the debug switch on ("buf:'...'"). 0 when the reply is complete; 1
// when the server fell silent or the connection closed (also by a stop) first.
[[nodiscard]] int ReadPopReply(PopSession& session, PopReplyParser& parser);

// Connects to the mailbox's server, in TLS on port 995. 0 when open; 1 otherwise, with
// the cause logged when the debug switch is on (a TLS failure always on the console).
[[nodiscard]] int OpenPopConnection(PopSession& session);

// On an open connection: the greeting (any status will do), USER and PASS (each must be
// answered "+OK"), with the pause before USER. 0 when logged in, 1 otherwise.
[[nodiscard]] int PopLogin(PopSession& session, std::stop_token stop);

// One complete session: connect, login, STAT, then RETR / MailToPages / DELE for each
// waiting mail (at most kMaxMailsPerPoll), QUIT. Failures are logged and end the poll. A
// stop shuts the connection, which ends every wait at once; a poll cut off that way logs
// no failure.
void PollMailbox(PopSession& session, std::stop_token stop = {});

// Sends QUIT and closes the connection without waiting for the reply.
void QuitAndClose(PopSession& session);

}  // namespace popgate
