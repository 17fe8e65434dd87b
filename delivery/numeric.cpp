// delivery/numeric.cpp - numeric paging by DTMF dialling.
#include "delivery/numeric.h"

#include <algorithm>

#include "common/fixed_field.h"
#include "common/format_text.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "core/page_book.h"
#include "delivery/modem_control.h"

namespace delivery {
namespace {

// The pace of a typical Hayes modem: S8 (comma pause) 2 s, about 0.2 s per tone with its gap.
constexpr int64_t kCommaMs = 2000;
constexpr int64_t kToneMs = 200;
constexpr int64_t kMarginMs = 5000;
constexpr int64_t kMinimumWaitMs = 20000;

}  // namespace

std::string NumericToneString(std::string_view message) {
  std::string tones;
  for (char c : message) {
    if (tones.size() >= kMaxToneDigits) break;
    if ((c >= '0' && c <= '9') || c == '*' || c == '#') tones.push_back(c);
  }
  return tones;
}

std::string NumericDialString(std::string_view prefix, std::string_view number, std::string_view pagerId,
                              std::string_view tones) {
  if (!number.empty()) {
    if (prefix.empty()) return common::FormatText("ATDT %s,,%s,,,%s\r", number, pagerId, tones);
    return common::FormatText("ATDT %s,%s,,%s,,,%s\r", prefix, number, pagerId, tones);
  }
  if (prefix.empty()) return common::FormatText("ATDT %s,,%s\r", pagerId, tones);
  return common::FormatText("ATDT %s,%s,,%s\r", prefix, pagerId, tones);
}

int64_t NumericWaitMs(std::string_view dialString) {
  std::string_view dialled = dialString;
  if (dialled.substr(0, 4) == "ATDT") dialled.remove_prefix(4);
  int64_t playMs = 0;
  for (char c : dialled) {
    if (c == ',') {
      playMs += kCommaMs;
    } else if (c != ' ' && c != '\r' && c != '\n') {
      playMs += kToneMs;
    }
  }
  return std::max(kMinimumWaitMs, playMs + kMarginMs);
}

int DeliverNumeric(DialWork& work) {
  if (!core::HasPages(work.Queue)) {
    common::DebugLine("DoNumeric\n");
    return kDeliverFailed;
  }
  // The port is opened before the page leaves the queue, so a port that cannot be opened
  // keeps the page for the dial thread's retry instead of losing it without a word.
  int result = kDeliverOk;
  if (!PlaceCall(work, kNumericCall, result)) return result;
  core::QueueEntry* head = work.Stop.stop_requested() ? nullptr : core::PeekHead(work.State, work.Queue);
  if (head == nullptr) {
    EndCall(work, kNumericCall);
    return kDeliverFailed;
  }
  core::RecordSending(work.State, *head, work.SystemName());
  work.Current = *head;
  const directory::SystemRecord& system = work.System();
  const std::string tones = NumericToneString(common::FieldText(work.Current.Message));
  const std::string dial = NumericDialString(core::DialingPrefix(work.State), system.SystemPhoneNumber,
                                             common::FieldText(work.Current.PageID), tones);
  common::DebugLine("Calling System - Please Wait\n");
  WriteComText(&work.Port, dial);
  // The modem plays the string at its own pace; nothing it says is read. "ABCEDFG" never
  // comes, so this waits the whole time and swallows the modem's reports.
  const int waitSec = static_cast<int>((NumericWaitMs(dial) + 999) / 1000);
  (void)WaitForText(&work.Port, "ABCEDFG", waitSec);
  WriteComText(&work.Port, "\r");  // any character makes the modem abandon the call
  EndCall(work, kNumericCall);
  core::RecordOutcome(work.State, work.Current, core::PageState::kSent,
                      core::LogResult("Paged %s", common::Outside(common::FieldText(work.Current.Name))));
  static_cast<void>(core::DropHead(work.Queue));
  ++work.State.PagesSent;
  return kDeliverOk;
}

}  // namespace delivery
