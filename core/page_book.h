// core/page_book.h - what the paging server records in its page store, and when.
//
// A page is recorded `waiting` (or `scheduled`) before its sender hears "OK"; `sending`,
// with its attempts, before its bytes go to the line; `sent` or `given up`, with the words
// of its log line, before it leaves its NOW queue. Without a store (the unit tests of the
// queues) every Record call does nothing and succeeds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"
#include "core/at_entry.h"
#include "core/page_store.h"
#include "core/server_state.h"

namespace core {

// Default number of days finished pages are kept (page.ini HistoryDays).
constexpr int kDefaultHistoryDays = 30;

// Records new NOW pages `waiting` (systems[i] is piece i's system name). 0, or -1 with the
// store's words in cause; nothing is recorded then.
[[nodiscard]] int RecordNewPages(ServerState& state, const std::vector<QueueEntry>& pieces,
                                 const std::vector<std::string>& systems, std::string& cause);

// Counts an attempt on entry and records it `sending` (waits for the disk), before its
// bytes go to the line. A failure is logged by the store; the page is sent all the same.
void RecordSending(ServerState& state, QueueEntry& entry, std::string_view system);

// Records entry's end (sent or given up) with result, the words of its log line, and waits
// for the disk: the caller then takes the page off its queue.
void RecordOutcome(ServerState& state, const QueueEntry& entry, PageState finished, std::string_view result);

// Records that entry stays queued for another try (back to `waiting`, with result). Not
// waited for: losing it in a crash only shows the page as `sending` after the restart.
void RecordRetry(ServerState& state, const QueueEntry& entry, std::string_view result);

// Logs "%t PROGRAM: words" and returns the words, which a Record call keeps as the result.
template <typename... Args>
std::string LogResult(std::string_view format, const Args&... args) {
  std::string words = common::FormatText(format, args...);
  common::LogLine("%t %s: %s\n", common::ProgramName(), words);
  return words;
}

// The at.dat record of one AT slot (length and body), as the store keeps it, and back. The
// slot read back is in use; false when the bytes hold no record.
std::string AtSlotRecord(const AtEntry& slot);
bool AtSlotFromRecord(std::string_view record, AtEntry& slot);
// The slot's local time in seconds since the epoch (0 when it cannot be represented).
int64_t AtSlotDue(const AtEntry& slot);

// A scheduled page's record (number = the slot's MessageNumber).
PageRecord ScheduledRecord(const AtEntry& slot, int64_t accepted);

// Start-up of the store: opens it at storePath and brings back what it holds: the NOW pages
// still to send (in number order, into the Main queue as far as it has room, the rest
// behind it; a page that was `sending` is logged "Page(#n) for NAME resent after a
// restart"), the AT pages with their numbers and times, and MessageCounter after the
// highest number. A new store (none before, or a damaged one moved aside) imports the AT
// pages of atPath instead, and at.dat is then rewritten. 0, or -1 when no store can be
// had (logged): the server cannot keep its promise of "OK" and must not run.
[[nodiscard]] int OpenPageStore(ServerState& state, const std::string& storePath, const std::string& atPath);

// Removes finished records older than days (before now). The number removed, or -1.
int64_t PurgeHistory(ServerState& state, int days, int64_t now);

// The reply to a page record request for number: "OK\n" and one line of tab-separated
// key=value fields (common/request_record.h), or "ERR - Page not found".
std::string PageRecordReply(ServerState& state, int32_t number);

// The line of fields for the records of one number (pieces in order); no line end.
std::string FormatPageRecord(const std::vector<PageRecord>& pieces);

// A value as the record line shows it: backslash, tab, line ends and other control
// characters escaped (\\, \t, \n, \r, \xHH).
std::string EscapeRecordValue(std::string_view value);

}  // namespace core
