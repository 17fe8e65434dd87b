// popgate/pop_client.h - one poll of one mailbox: the POP3 dialogue (greeting, USER, PASS,
// STAT, RETR, DELE, QUIT) and the receiving thread that reads the server's replies.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "popgate/mail_rules.h"
#include "popgate/mailbox.h"
#include "popgate/pop_connection.h"

namespace popgate {

constexpr size_t kReceiveBlock = 1000;    // bytes taken from the connection at a time
constexpr size_t kLineBufferSize = 1000;  // the reply line being assembled, terminator included
constexpr int kReplyWaits = 31;           // WaitForPopReply: 31 waits of 500 ms
constexpr int kReplyWaitStepMs = 500;
constexpr int kConnectTimeoutMs = 20000;
constexpr int kGreetingPauseMs = 2000;    // between the greeting and USER

// The POP3 working state of one mailbox; the poll thread and the receiving thread share it
// under Lock. Made once per mailbox by its poll thread and used for every poll.
struct PopSession {
  PopSession(const Mailbox& box, const MailOptions& options) : Box(box), Options(options) {}

  const Mailbox& Box;
  MailOptions Options;

  std::mutex Lock;
  std::condition_variable LineArrived;
  std::string MailBuffer;      // every byte received since its last reset, at most 29999
  bool MailCut = false;        // bytes were dropped because MailBuffer was full
  int ReplyStatus = -1;        // -1 none seen, 0 "+", 1 "-"
  std::string LineBuffer;      // the reply line being assembled (its first 999 characters)
  bool AfterCr = false;        // the last line ended at a CR: a LF now only completes it
  int MessageCount = 0;
  int EndOfMessage = 0;        // 1 once the line holding only "." has been seen
  int LineCounter = 0;
  int LastSeenCount = 0;
  bool StatPending = false;
  bool ReceiverEnded = false;

  PopConnection Connection;
  std::thread Receiver;
};

// The receiving thread of one connection: reads blocks until the connection closes.
void PopReceiver(PopSession& session);

// 0 when a new line arrived since the last wait, 1 when none came within 31 x 500 ms (or
// the connection closed first).
int WaitForPopReply(PopSession& session);

// Connects, reads the greeting and logs in. 0 when logged in; 1 otherwise, with the
// connection closed (QUIT sent first once the receiving thread runs).
int PopLogin(PopSession& session);

// One complete session: login, STAT, RETR / MailToPages / DELE for every waiting mail,
// QUIT. Failures are logged; the receiving thread is joined before this returns.
void PollMailbox(PopSession& session);

// Sends QUIT, closes the connection without waiting for the reply, joins the receiver.
void QuitAndClose(PopSession& session);

// Handles one received block as the receiving thread does (tests feed it directly).
void HandleReceivedBlock(PopSession& session, std::string_view block);

}  // namespace popgate
