// popgate/pop_client.cpp - the POP3 dialogue of one poll.
#include "popgate/pop_client.h"

#include <chrono>
#include <cstdlib>
#include <system_error>

#include "common/log.h"
#include "platform/clock.h"

namespace popgate {

namespace {

void ClearMail(PopSession& s) {
  std::lock_guard lock(s.Lock);
  s.MailBuffer.clear();
  s.MailCut = false;
}

// Sends one command. The line counter seen so far is taken as read first, so the wait
// that follows waits for the answer to this command, not for a late line of the last one.
int SendCommand(PopSession& s, const std::string& command) {
  {
    std::lock_guard lock(s.Lock);
    s.LastSeenCount = s.LineCounter;
  }
  return s.Connection.Send(command);
}

void EndLine(PopSession& s) {
  std::string& line = s.LineBuffer;
  if (!line.empty() && line[0] == '+' && line.size() > 3 && s.StatPending) {
    s.MessageCount = std::atoi(line.c_str() + 4);
  }
  if (line.size() >= 2 && line[0] == '.' && line[1] == '\r') s.EndOfMessage = 1;
  if (!line.empty()) line.pop_back();
  if (!line.empty()) common::DebugLine("buf:'%s'\n", line);
  line.clear();
  ++s.LineCounter;
}

}  // namespace

void HandleReceivedBlock(PopSession& s, std::string_view block) {
  {
    std::lock_guard lock(s.Lock);
    for (size_t i = 0; i < block.size(); ++i) {
      const char c = block[i];
      // A LF right after a CR only completes the CR's line; counting it as a line of its
      // own would let the next wait return on it before the next reply has come.
      const bool completesCr = c == '\n' && s.AfterCr;
      s.AfterCr = false;
      if (c != '\n' && s.LineBuffer.size() < kLineBufferSize - 1) s.LineBuffer.push_back(c);
      if (s.MailBuffer.size() < kMailBufferSize - 1) {
        s.MailBuffer.push_back(c);
      } else {
        s.MailCut = true;  // keep reading to the end of the mail, keep what fits
      }
      if (i == 1 && !s.LineBuffer.empty()) {
        if (s.LineBuffer[0] == '+') s.ReplyStatus = 0;
        if (s.LineBuffer[0] == '-') s.ReplyStatus = 1;
      }
      if (c == '\r') {
        EndLine(s);
        s.AfterCr = true;
      } else if (c == '\n' && !completesCr) {
        EndLine(s);
      }
    }
  }
  s.LineArrived.notify_all();
}

void PopReceiver(PopSession& s) {
  char block[kReceiveBlock + 1];
  for (;;) {
    const int n = s.Connection.Receive(std::span<char>(block, kReceiveBlock));
    if (n <= 0) break;
    HandleReceivedBlock(s, std::string_view(block, static_cast<size_t>(n)));
  }
  {
    std::lock_guard lock(s.Lock);
    s.ReceiverEnded = true;
  }
  s.LineArrived.notify_all();
}

int WaitForPopReply(PopSession& s) {
  std::unique_lock lock(s.Lock);
  const auto limit = std::chrono::milliseconds(platform::ScaledMs(int64_t{kReplyWaits} * kReplyWaitStepMs));
  const bool arrived =
      s.LineArrived.wait_for(lock, limit, [&s] { return s.LineCounter != s.LastSeenCount || s.ReceiverEnded; }) &&
      s.LineCounter != s.LastSeenCount;
  s.LastSeenCount = s.LineCounter;
  return arrived ? 0 : 1;
}

void QuitAndClose(PopSession& s) {
  (void)s.Connection.Send("QUIT\r\n");
  s.Connection.Shutdown();
  if (s.Receiver.joinable()) s.Receiver.join();
  s.Connection.Close();
}

int PopLogin(PopSession& s) {
  const Mailbox& box = s.Box;
  const std::string& program = s.Options.ProgramName;
  {
    std::lock_guard lock(s.Lock);
    s.MessageCount = 0;
    s.MailBuffer.clear();
    s.MailCut = false;
  }
  std::string reason;
  const bool useTls = box.PopPort == kPopsPort;
  // A port outside 1..65535 would wrap into some other port: no connection at all.
  const int opened = box.PopPort < 1 || box.PopPort > 65535
                         ? static_cast<int>(kConnectFailed)
                         : s.Connection.Open(box.PopHostName, static_cast<uint16_t>(box.PopPort), useTls,
                                       kConnectTimeoutMs, reason);
  switch (opened) {
    case kOpened:
      break;
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
  {
    std::lock_guard lock(s.Lock);
    s.MailBuffer.clear();
    s.ReplyStatus = -1;
    s.LineBuffer.clear();
    s.AfterCr = false;
    s.ReceiverEnded = false;
    s.LastSeenCount = s.LineCounter;
  }
  try {
    s.Receiver = std::thread(PopReceiver, std::ref(s));
  } catch (const std::system_error&) {
    s.Connection.Close();
    return 1;
  }
  auto status = [&s] {
    std::lock_guard lock(s.Lock);
    return s.ReplyStatus;
  };
  auto resetStatus = [&s] {
    std::lock_guard lock(s.Lock);
    s.ReplyStatus = -1;
  };

  (void)WaitForPopReply(s);
  if (status() == -1) {
    common::DebugLine("POP Server greeting not seen\n");
    QuitAndClose(s);
    return 1;
  }
  common::DebugLine("I Saw greeting\n");  // a "-" greeting is not judged: USER follows

  platform::SleepMs(kGreetingPauseMs);
  ClearMail(s);
  resetStatus();
  common::DebugLine("Sending user name\n");
  (void)SendCommand(s, common::FormatText("USER %s\r\n", box.PopUser));
  (void)WaitForPopReply(s);
  if (status() == -1) {
    common::DebugLine("Status from USER not reveived\n");
    QuitAndClose(s);
    return 1;
  }
  if (status() == 1) {
    common::DebugLine("Invalid USER\n");
    QuitAndClose(s);
    return 1;
  }

  resetStatus();
  common::DebugLine("Sending password\n");
  (void)SendCommand(s, common::FormatText("PASS %s\r\n", box.PopPassword));
  (void)WaitForPopReply(s);
  if (status() == -1) {
    common::DebugLine("Status from PASS not reveived\n");
    QuitAndClose(s);
    return 1;
  }
  if (status() == 1) {
    common::DebugLine("Invalid password\n");
    QuitAndClose(s);
    return 1;
  }
  return 0;
}

void PollMailbox(PopSession& s) {
  const std::string& program = s.Options.ProgramName;
  if (PopLogin(s) != 0) {
    common::LogLine("%t %s: Error connecting and logging in to the POP server(%s)\n", program, s.Box.PopHostName);
    return;
  }
  {
    std::lock_guard lock(s.Lock);
    s.MessageCount = 0;
    s.EndOfMessage = 0;
    s.StatPending = true;
  }
  (void)SendCommand(s, "STAT\r\n");
  (void)WaitForPopReply(s);
  int count = 0;
  {
    std::lock_guard lock(s.Lock);
    s.StatPending = false;
    count = s.MessageCount;
  }
  common::DebugLine("Number of messages in mail box: %d\n", count);

  for (int n = 1; n <= count; ++n) {
    common::DebugLine("Starting to work on message: %d\n", n);
    {
      std::lock_guard lock(s.Lock);
      s.MailBuffer.clear();
      s.MailCut = false;
      s.EndOfMessage = 0;
    }
    (void)SendCommand(s, common::FormatText("RETR %d\r\n", n));
    bool timedOut = false;
    for (;;) {
      const int waited = WaitForPopReply(s);
      std::lock_guard lock(s.Lock);
      if (s.EndOfMessage != 0) break;
      if (waited == 1) {
        timedOut = true;
        break;
      }
    }
    if (timedOut) {
      common::LogLine("%t %s: Error geting Mail message\n", program);
      break;  // not deleted: it waits for the next poll
    }
    std::string mail;
    bool cut = false;
    {
      std::lock_guard lock(s.Lock);
      mail = s.MailBuffer;
      cut = s.MailCut;
    }
    MailToPages(mail, !cut, s.Options);

    (void)SendCommand(s, common::FormatText("DELE %d\r\n", n));
    if (WaitForPopReply(s) == 1) {
      common::LogLine("%t %s: Error remove Mail message from server\n", program);
      break;
    }
    common::DebugLine("Done with message: %d\n", n);
  }
  if (count <= 0) ClearMail(s);
  QuitAndClose(s);
}

}  // namespace popgate
