// delivery/numeric.cpp - numeric paging by DTMF dialling.
#include "delivery/numeric.h"

#include <algorithm>
#include <chrono>

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

// Results by which a modem says the call did not go through.
bool CallFailed(int code) {
  return code == kResultBusy || code == kResultNoDialtone || code == kResultNoAnswer || code == kResultNoCarrier ||
         code == kResultError;
}

}  // namespace

int WatchNumericCall(ComPort* port, int64_t reportMs, int64_t limitMs) {
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::milliseconds(limitMs);
  std::string line;
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    if (left.count() <= 0) return -1;
    int timedOut = 0;
    const int byte = ReadComByteTimed(port, static_cast<int>(left.count()), timedOut);
    if (byte < 0 || timedOut) return -1;
    if (byte != '\r' && byte != '\n') {
      if (line.size() < kModemLineMax) line.push_back(static_cast<char>(byte));
      continue;
    }
    const int code = ClassifyModemLine(line);
    line.clear();
    // Once the tones could have been played, a modem giving up on a carrier that a pager
    // never sends says nothing about the page.
    const bool early = std::chrono::steady_clock::now() - start <= std::chrono::milliseconds(reportMs);
    if (early && CallFailed(code)) return code;
  }
}

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

int64_t NumericPlayMs(std::string_view dialString) {
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
  return playMs;
}

int64_t NumericWaitMs(std::string_view dialString) {
  return std::max(kMinimumWaitMs, NumericPlayMs(dialString) + kMarginMs);
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
  // The modem plays the string at its own pace and says nothing while the call goes
  // through: a silent line is a page played. A modem that reports the call failed before
  // the tones could have been played (busy, no dial tone, ...) has paged nobody.
  const int64_t waitMs = (NumericWaitMs(dial) + 999) / 1000 * 1000;
  const int failure = WatchNumericCall(&work.Port, NumericPlayMs(dial), waitMs);
  WriteComText(&work.Port, "\r");  // any character makes the modem abandon the call
  EndCall(work, kNumericCall);
  if (failure >= 0) {
    // The page stays at the head: the failed round lets the retry policy call again.
    core::RecordRetry(work.State, work.Current,
                      core::LogResult("Error - Numeric page for %s not sent - Modems response was(%s)",
                                      common::Outside(common::FieldText(work.Current.Name)), ModemResultName(failure)));
    return kDeliverFailed;
  }
  core::RecordOutcome(work.State, work.Current, core::PageState::kSent,
                      core::LogResult("Paged %s", common::Outside(common::FieldText(work.Current.Name))));
  static_cast<void>(core::DropHead(work.Queue));
  ++work.State.PagesSent;
  return kDeliverOk;
}

}  // namespace delivery
