// delivery/tap_manual.cpp - TAP manual mode.
#include "delivery/tap_manual.h"

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "core/page_book.h"
#include "delivery/modem_control.h"
#include "delivery/tap.h"

namespace delivery {
namespace {

// The head page goes to this call only when it is for the same system and its recipient
// is not a Numeric person (those are always served by numeric dialling).
bool NextPageForThisSystem(DialWork& work) {
  if (core::PeekHead(work.State, work.Queue) == nullptr) return false;
  if (work.Queue.PagerType.load() == static_cast<int>(directory::PagerType::Numeric)) return false;
  return HeadSystem(work) == work.SystemIndex;  // in the directory this round runs on
}

}  // namespace

std::string TapManualIdLine(std::string_view pagerId) {
  std::string line(pagerId);
  line.push_back('\r');
  return line;
}

std::string TapManualMessageLine(std::string_view message, bool cp850) {
  std::string line = MapTapMessage(message, cp850);
  line.push_back('\r');
  return line;
}

int TapManualConversation(DialWork& work, ByteStream& stream) {
  if (WaitForStreamText(stream, "\r", kTapManualGreetingSec) != 0) {
    common::LogLine("%t %s: Error - No ID message\n", common::ProgramName());
    return kDeliverFailed;
  }
  bool prompted = false;
  for (int i = 0; i < kTapManualModeTries && !prompted; ++i) {
    (void)stream.Write("M\r");
    prompted = WaitForStreamText(stream, "RETURN", kTapManualModeSec) == 0;
  }
  if (!prompted) {
    common::LogLine("%t %s: Error - Pager ID prompt not seen\n", common::ProgramName());
    return kDeliverFailed;
  }

  const bool cp850 = work.State.MapCodePage.load() == 1;
  int result = kDeliverOk;
  while (true) {
    core::QueueEntry* head = work.Stop.stop_requested() ? nullptr : core::PeekHead(work.State, work.Queue);
    if (head == nullptr) {
      common::DebugLine("Done\n");
      break;
    }
    // Recorded `sending` before the ID goes out; the page leaves the queue only once its
    // outcome is recorded.
    core::RecordSending(work.State, *head, work.SystemName());
    work.Current = *head;
    const std::string name = common::FieldText(work.Current.Name);
    (void)stream.Write(TapManualIdLine(common::FieldText(work.Current.PageID)));
    if (WaitForStreamText(stream, "RETURN", kTapManualPromptSec) != 0) {
      core::RecordOutcome(work.State, work.Current, core::PageState::kGivenUp,
                          core::LogResult("Error - Pager message prompt not seen"));
      static_cast<void>(core::DropHead(work.Queue));
      ++work.State.FailedPages;
      result = kDeliverFailed;
      break;
    }
    (void)stream.Write(TapManualMessageLine(common::FieldText(work.Current.Message), cp850));
    common::DebugLine("\n");
    core::RecordOutcome(work.State, work.Current, core::PageState::kSent,
                        core::LogResult("Paged %s", common::Outside(name)));
    static_cast<void>(core::DropHead(work.Queue));
    ++work.State.PagesSent;
    if (!NextPageForThisSystem(work)) {
      common::DebugLine("Done\n");
      break;
    }
    // The terminal answers a message with its prompt for the next pager ID. Taken here, it
    // cannot pass for the message prompt of the next page, so a terminal that refuses the
    // next ID is noticed. A terminal that does not prompt costs this wait only.
    (void)WaitForStreamText(stream, "RETURN", kTapManualPromptSec);
  }
  return result;
}

int DeliverTapManual(DialWork& work) {
  int result = 0;
  if (!PlaceCall(work, kTapManualCall, result)) return result;
  ComPortStream stream(&work.Port);
  result = TapManualConversation(work, stream);
  EndCall(work, kTapManualCall);
  return result;
}

}  // namespace delivery
