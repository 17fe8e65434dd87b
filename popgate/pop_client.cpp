// popgate/pop_client.cpp - the POP3 dialogue of one poll.
#include "popgate/pop_client.h"

#include <functional>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>

#include "common/log.h"
#include "platform/clock.h"

namespace popgate {

namespace {

using Clock = std::chrono::steady_clock;

// Blocks read off before closing: a bound against a server that keeps sending.
constexpr int kMaxDrainBlocks = 64;

// Sends one command. Bytes still pending belong to an earlier reply (a server that said
// more than it was asked): they are dropped, so the next read is the answer to this command.
int SendCommand(PopSession& s, const std::string& command) {
  s.Pending.clear();
  return s.Connection.Send(command);
}

// Feeds the pending bytes to parser until they are used up or the reply is complete.
// True when at least one line ended.
bool FeedPending(PopSession& s, PopReplyParser& parser) {
  bool lineEnded = false;
  size_t used = 0;
  while (used < s.Pending.size() && !parser.Done()) {
    used += parser.Feed(std::string_view(s.Pending).substr(used));
    if (!parser.LineEnded()) continue;
    lineEnded = true;
    if (!parser.Line().empty()) common::DebugLine("buf:'%s'\n", parser.Line());
  }
  s.Pending.erase(0, used);
  return lineEnded;
}

void LogLoginFailed(const PopSession& s) {
  common::LogLine("%t %s: Error connecting and logging in to the POP server(%s)\n", s.Options.ProgramName,
                  s.Box.PopHostName);
}

// Sends command and reads its one-line reply. 0 for "+OK"; otherwise 1, with the debug
// line unanswered (no reply, or a line that is none) or refused ("-ERR").
int Command(PopSession& s, const std::string& command, const char* unanswered, const char* refused) {
  (void)SendCommand(s, command);
  PopReplyParser reply(false);
  if (ReadPopReply(s, reply) != 0 || reply.Status() == PopStatus::kBad) {
    common::DebugLine("%s", unanswered);
    return 1;
  }
  if (reply.Status() != PopStatus::kOk) {
    common::DebugLine("%s", refused);
    return 1;
  }
  return 0;
}

// RETR, MailToPages and DELE of mail number n. 0 when done; 1 when the poll is to end
// (the failure logged unless a stop cut it off).
int HandleMail(PopSession& s, int n, std::stop_token stop) {
  const std::string& program = s.Options.ProgramName;
  common::DebugLine("Starting to work on message: %d\n", n);
  s.EndOfMessage = 0;
  (void)SendCommand(s, common::FormatText("RETR %d\r\n", n));
  PopReplyParser mail(true);
  if (ReadPopReply(s, mail) != 0 || mail.Status() != PopStatus::kOk) {
    if (!stop.stop_requested()) common::LogLine("%t %s: Error geting Mail message\n", program);
    return 1;  // not deleted: it waits for the next poll
  }
  s.EndOfMessage = 1;
  const size_t key = std::hash<std::string_view>{}(mail.Text());
  if (MailToPages(mail.Raw(), mail.Text(), !mail.Cut(), s.Options, &s.Paged[key]) == MailFate::kKeep) {
    // Not every page was taken: the mail stays for the next poll, which pages the rest.
    common::LogLine("%t %s: Mail kept for the next poll - not every page was accepted\n", program);
    common::DebugLine("Done with message: %d\n", n);
    return 0;
  }
  s.Paged.erase(key);

  (void)SendCommand(s, common::FormatText("DELE %d\r\n", n));
  PopReplyParser deleted(false);
  if (ReadPopReply(s, deleted) != 0) {  // any answer will do: the mail has been handled
    if (!stop.stop_requested()) common::LogLine("%t %s: Error remove Mail message from server\n", program);
    return 1;
  }
  common::DebugLine("Done with message: %d\n", n);
  return 0;
}

// STAT, then every waiting mail in number order.
void HandleMailbox(PopSession& s, std::stop_token stop) {
  s.EndOfMessage = 0;
  (void)SendCommand(s, "STAT\r\n");
  PopReplyParser stat(false);
  const int count = ReadPopReply(s, stat) == 0 ? StatMailCount(stat.StatusLine()) : 0;
  common::DebugLine("Number of messages in mail box: %d\n", count);
  for (int n = 1; n <= count && !stop.stop_requested(); ++n) {
    if (HandleMail(s, n, stop) != 0) break;
  }
}

}  // namespace

bool PauseUnlessStopped(std::stop_token stop, int64_t ms) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock hold(mutex);
  wake.wait_for(hold, stop, std::chrono::milliseconds(platform::ScaledMs(ms)), [] { return false; });
  return !stop.stop_requested();
}

int ReadPopReply(PopSession& s, PopReplyParser& parser) {
  const auto lineWait = std::chrono::milliseconds(platform::ScaledMs(s.ReplyWaitMs));
  auto deadline = Clock::now() + lineWait;
  char block[kReceiveBlock];
  for (;;) {
    if (FeedPending(s, parser)) deadline = Clock::now() + lineWait;
    if (parser.Done()) return 0;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return 1;
    const int n = s.Connection.Receive(block, static_cast<int>(std::min<int64_t>(left.count(), INT_MAX)));
    if (n <= 0) return 1;  // silent (-ETIMEDOUT), closed or broken: no reply either way
    s.Pending.assign(block, static_cast<size_t>(n));
  }
}

int OpenPopConnection(PopSession& s) {
  const Mailbox& box = s.Box;
  const std::string& program = s.Options.ProgramName;
  s.Pending.clear();
  std::string reason;
  // A port outside 1..65535 would wrap into some other port: no connection at all.
  const int opened = box.PopPort < 1 || box.PopPort > 65535
                         ? static_cast<int>(kConnectFailed)
                         : s.Connection.Open(box.PopHostName, static_cast<uint16_t>(box.PopPort),
                                             box.PopPort == kPopsPort, kConnectTimeoutMs, reason);
  switch (opened) {
    case kOpened:
      return 0;
    case kLookUpFailed:
      if (common::DebugOn()) common::LogLine("%t %s: Gethostbyname failed\n", program);
      return 1;
    case kNoSocket:
      if (common::DebugOn()) common::LogLine("%t %s: Error - Can not Open Socket\n", program);
      return 1;
    case kTlsFailed:
      // Always said: a certificate that does not verify is a setup fault the user must see.
      common::WriteConsole("POP server " + box.PopHostName + " TLS: " + reason + "\n");
      return 1;
    default:
      if (common::DebugOn()) common::LogLine("%t %s: Error - Can not connect to server\n", program);
      return 1;
  }
}

int PopLogin(PopSession& s, std::stop_token stop) {
  PopReplyParser greeting(false);
  if (ReadPopReply(s, greeting) != 0 || greeting.Status() == PopStatus::kBad) {
    common::DebugLine("POP Server greeting not seen\n");
    return 1;
  }
  common::DebugLine("I Saw greeting\n");  // a "-ERR" greeting is not judged: USER follows

  if (!PauseUnlessStopped(stop, kGreetingPauseMs)) return 1;
  common::DebugLine("Sending user name\n");
  if (Command(s, common::FormatText("USER %s\r\n", s.Box.PopUser), "Status from USER not reveived\n",
              "Invalid USER\n") != 0) {
    return 1;
  }
  common::DebugLine("Sending password\n");
  return Command(s, common::FormatText("PASS %s\r\n", s.Box.PopPassword), "Status from PASS not reveived\n",
                 "Invalid password\n");
}

void PollMailbox(PopSession& s, std::stop_token stop) {
  if (OpenPopConnection(s) != 0) {
    if (!stop.stop_requested()) LogLoginFailed(s);
    return;
  }
  bool loggedIn = false;
  {
    // Every wait of the dialogue is a receive on this connection: shutting it ends them.
    std::stop_callback wake(stop, [&s] { s.Connection.Shutdown(); });
    loggedIn = PopLogin(s, stop) == 0;
    if (loggedIn) HandleMailbox(s, stop);
  }  // no Shutdown from a stop after this point: the connection is closed next
  QuitAndClose(s);
  if (!loggedIn && !stop.stop_requested()) LogLoginFailed(s);
}

void QuitAndClose(PopSession& s) {
  (void)SendCommand(s, "QUIT\r\n");
  // Closing a socket with bytes unread resets the connection, and the reset may overtake
  // the QUIT, which is what makes the server delete the mails marked with DELE: read off
  // what is already there first.
  char block[kReceiveBlock];
  for (int i = 0; i < kMaxDrainBlocks && s.Connection.Receive(block, 0) > 0; ++i) {
  }
  s.Connection.Shutdown();
  s.Connection.Close();
}

}  // namespace popgate
