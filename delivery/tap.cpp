// delivery/tap.cpp - TAP block mode: logon, one block per page, verdicts, logoff.
#include "delivery/tap.h"

#include <chrono>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "core/page_book.h"
#include "delivery/byte_stream.h"
#include "delivery/modem_control.h"

namespace delivery {
namespace {

constexpr int kLogonTries = 7;
constexpr int kVerdictGapMs = 10000;    // silence after the last byte that counts as no verdict
constexpr int kVerdictTotalMs = 60000;  // a terminal that never stops talking gets no longer
constexpr size_t kTraceTextMax = 200;   // the terminal's text kept for the debug trace

}  // namespace

unsigned char Cp850ToTap(unsigned char byte) {
  switch (byte) {
    case 0x84:
    case 0x91:
      return 0x7B;
    case 0x81:
    case 0x86:
      return 0x7D;
    case 0x8E:
    case 0x92:
      return 0x5B;
    case 0x8F:
    case 0x9A:
      return 0x5D;
    case 0x94:
    case 0x9B:
      return 0x7C;
    case 0x99:
    case 0x9D:
      return 0x5C;
    case 0xE1:
      return 0x7E;
    default:
      return byte;
  }
}

std::string MapTapMessage(std::string_view message, bool cp850) {
  std::string out(message);
  if (cp850) {
    for (char& c : out) c = static_cast<char>(Cp850ToTap(static_cast<unsigned char>(c)));
  }
  return out;
}

std::string TapChecksum(std::string_view stxToEtx) {
  unsigned sum = 0;
  for (char c : stxToEtx) sum += static_cast<unsigned char>(c) & 0x7Fu;  // the terminal sees 7 bits
  const unsigned low = sum & 0xFFFu;
  return {static_cast<char>('0' + (low >> 8)), static_cast<char>('0' + ((low >> 4) & 0xFu)),
          static_cast<char>('0' + (low & 0xFu))};
}

std::string TapBlock(std::string_view pagerId, std::string_view mappedMessage) {
  std::string block;
  block.reserve(pagerId.size() + mappedMessage.size() + 8);
  block += kStx;
  block += pagerId;
  block += kCr;
  block += mappedMessage;
  block += kCr;
  block += kEtx;
  block += TapChecksum(block);
  block += kCr;
  return block;
}

char VerdictByte(char byte) {
  switch (byte) {
    case kAck:
    case kNak:
    case kRs:
    case kEsc:
      return byte;
    default:
      return 0;
  }
}

int TapLogon(ByteStream& stream, std::string_view password) {
  const std::string logon = std::string(1, kEsc) + "PG1" + std::string(password) + "\r";
  const std::string goAhead = std::string(1, kEsc) + "[p\r";
  for (int attempt = 0; attempt < kLogonTries; ++attempt) {
    (void)stream.Write("\r");
    if (WaitForStreamText(stream, "ID=", 2) != 0) continue;
    Delay(1000);
    // Once per try: a second copy would be answered too, and that answer would be read as
    // the verdict on the first block.
    (void)stream.Write(logon);
    if (WaitForStreamText(stream, std::string(1, kAck), 10) != 0) continue;
    if (WaitForStreamText(stream, goAhead, 10) != 0) continue;
    // Whatever the terminal adds after its go-ahead is not a verdict on any block.
    DrainStream(stream);
    common::DebugLine("\n");
    return 0;
  }
  return 1;
}

int TapLogon(ComPort* port, std::string_view password) {
  ComPortStream stream(port);
  return TapLogon(stream, password);
}

size_t JudgeTapReply(std::string_view arrived, TapReply& reply) {
  size_t used = 0;
  while (reply.Verdict == 0 && used < arrived.size()) {
    const char byte = arrived[used++];
    reply.Verdict = VerdictByte(byte);
    const bool printable = static_cast<unsigned char>(byte) >= 0x20;
    if (reply.Verdict == 0 && printable && reply.Text.size() < kTraceTextMax) reply.Text += byte;
  }
  return used;
}

namespace {

// Logs, counts and removes the page as the terminal's verdict says. Its outcome is recorded
// before it leaves the queue, so a crash between the two sends it again rather than never.
int ApplyVerdict(DialWork& work, char verdict) {
  const std::string program = common::ProgramName();
  const int32_t number = work.Current.MessageNumber;
  const std::string name = common::FieldText(work.Current.Name);
  switch (verdict) {
    case 0:
      // No verdict in time: the page stays for another block.
      core::RecordRetry(work.State, work.Current,
                        common::FormatText("No answer from the paging system on message(#%ld)", number));
      return kVerdictRetry;
    case kNak:
      core::RecordRetry(work.State, work.Current,
                        core::LogResult("Error - Pager system rejected the message(#%ld)", number));
      ++work.State.FailedPages;
      return kVerdictRetry;
    case kRs: {
      const std::string words = core::LogResult("Error - ID or Message content based error on message(#%ld)", number);
      common::LogLine("%t %s: Error - Was not able send message(#%ld) for: %s\n", program, number,
                      common::Outside(name));
      core::RecordOutcome(work.State, work.Current, core::PageState::kGivenUp, words);
      static_cast<void>(core::DropHead(work.Queue));
      ++work.State.FailedPages;
      return kVerdictDone;
    }
    case kEsc:
      // ESC EOT: the terminal ends the session without accepting or refusing the block, so
      // the page stays at the head for the next call.
      core::RecordRetry(work.State, work.Current,
                        core::LogResult("Error - Pager system disconnected on message(#%ld)", number));
      return kVerdictDisconnected;
    default: {  // ACK
      const std::string words =
          work.State.LogMessages.load()
              ? core::LogResult("Message(#%ld) sent to %s with Message \"%s\"", number, common::Outside(name),
                                common::Outside(common::FieldText(work.Current.Message)))
              : core::LogResult("Message(#%ld) sent to %s", number, common::Outside(name));
      core::RecordOutcome(work.State, work.Current, core::PageState::kSent, words);
      ++work.State.PagesSent;
      static_cast<void>(core::DropHead(work.Queue));
      return kVerdictDone;
    }
  }
}

}  // namespace

int TapReadVerdict(DialWork& work, ByteStream& stream) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(kVerdictTotalMs);
  TapReply reply;
  while (reply.Verdict == 0) {
    const int byte = stream.ReadByte(kVerdictGapMs);
    if (byte < 0 || Clock::now() >= giveUp) break;
    common::DebugLine("ResponseData: 0x%X\n", byte);
    const char c = static_cast<char>(byte);
    JudgeTapReply(std::string_view(&c, 1), reply);
  }
  if (!reply.Text.empty()) common::DebugLine("Terminal says: %s\n", reply.Text);
  common::DebugLine("Status: 0x%X\n", static_cast<int>(reply.Verdict));
  return ApplyVerdict(work, reply.Verdict);
}

int TapReadVerdict(DialWork& work) {
  ComPortStream stream(&work.Port);
  return TapReadVerdict(work, stream);
}

int TapConversation(DialWork& work, ByteStream& stream) {
  const directory::SystemRecord& system = work.System();
  const std::string program = common::ProgramName();
  if (TapLogon(stream, system.TapPassWord) != 0) return kTapLogonFailed;
  const bool cp850 = work.State.MapCodePage.load() == 1;
  int failureRun = 0;
  for (int blocks = 0; !work.Stop.stop_requested(); ++blocks) {
    core::QueueEntry* head = core::PeekHead(work.State, work.Queue);
    if (head == nullptr) {
      // Safe choice: an empty queue ends the block loop instead of sending an empty block.
      common::LogLine("%t %s: Error - Peek Queue: NULL pointer\n", program);
      break;
    }
    // Recorded `sending` before its bytes go to the line: after a crash it is sent again.
    core::RecordSending(work.State, *head, work.SystemName());
    work.Current = *head;
    const std::string pagerId = common::FieldText(work.Current.PageID);
    const std::string message = common::FieldText(work.Current.Message);
    common::DebugLine("\n%s\n", pagerId);
    common::DebugLine("%s\n\n", message);
    (void)stream.Write(TapBlock(pagerId, MapTapMessage(message, cp850)));

    const int verdict = TapReadVerdict(work, stream);
    DrainStream(stream);
    failureRun = (verdict == kVerdictRetry || verdict == kVerdictDisconnected) ? failureRun + 1 : 0;
    if (verdict == kVerdictDisconnected) return kDeliverDisconnected;
    if (failureRun >= kMaxFailedBlocksInARow) {
      failureRun = 0;
      const std::string words =
          core::LogResult("Error - Paging System rejected message(#%ld)", work.Current.MessageNumber);
      common::LogLine("%t %s: Error - Was not able to send message(#%ld) for: %s\n", program,
                      work.Current.MessageNumber, common::Outside(common::FieldText(work.Current.Name)));
      core::RecordOutcome(work.State, work.Current, core::PageState::kGivenUp, words);
      static_cast<void>(core::DropHead(work.Queue));
    }
    if (!(HeadSystem(work) == work.SystemIndex && !HeadIsNumeric(work) && system.MultipleMessageMode &&
          system.MaxPagesPerConnection > blocks))
      break;
  }
  (void)stream.Write(std::string(1, kEot) + "\r");
  return kDeliverOk;
}

int DeliverTap(DialWork& work) {
  int result = 0;
  if (!PlaceCall(work, kTapCall, result)) return result;
  ComPortStream stream(&work.Port);
  result = TapConversation(work, stream);
  if (result == kTapLogonFailed) {
    CloseComPort(work.Port);
    common::LogLine("%t %s: Error - Can not login to paging system\n", common::ProgramName());
    return kDeliverFailed;
  }
  EndCall(work, kTapCall);
  return result;
}

}  // namespace delivery
