// core/page_book.cpp - recording the pages' lives in the page store, and bringing them
// back at start-up.
#include "core/page_book.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include "common/fixed_field.h"
#include "core/at_file.h"
#include "core/now_queue.h"
#include "core/sqlite_page_store.h"
#include "platform/clock.h"

namespace core {
namespace {

int64_t NowSeconds() { return static_cast<int64_t>(platform::Now()); }

PageChange ChangeOf(const QueueEntry& entry, PageState state) {
  PageChange c;
  c.Number = entry.MessageNumber;
  c.Piece = entry.Piece;
  c.State = state;
  return c;
}

std::string TimeText(int64_t seconds) {
  if (seconds <= 0) return {};
  const std::tm t = platform::LocalTime(static_cast<std::time_t>(seconds));
  char text[32];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &t);
  return std::string(text, n);
}

}  // namespace

int RecordNewPages(ServerState& state, const std::vector<QueueEntry>& pieces, const std::vector<std::string>& systems,
                   std::string& cause) {
  if (!state.Store || pieces.empty()) return 0;
  StoreBatch batch;
  const int64_t now = NowSeconds();
  for (size_t i = 0; i < pieces.size(); ++i) {
    const QueueEntry& e = pieces[i];
    PageRecord r;
    r.Number = e.MessageNumber;
    r.Piece = e.Piece;
    r.State = PageState::kWaiting;
    r.Name = e.Name;
    r.PageId = e.PageID;
    r.System = i < systems.size() ? systems[i] : std::string();
    r.Text = e.Message;
    r.Attempts = e.Attempts;
    r.Accepted = now;
    batch.Add.push_back(std::move(r));
  }
  return state.Store->Commit(std::move(batch), cause);
}

void RecordSending(ServerState& state, QueueEntry& entry, std::string_view system) {
  ++entry.Attempts;
  if (!state.Store) return;
  StoreBatch batch;
  PageChange c = ChangeOf(entry, PageState::kSending);
  c.Attempts = entry.Attempts;
  c.System = std::string(system);
  batch.Change.push_back(std::move(c));
  std::string cause;
  (void)state.Store->Commit(std::move(batch), cause);  // logged by the store
}

void RecordOutcome(ServerState& state, const QueueEntry& entry, PageState finished, std::string_view result) {
  if (!state.Store) return;
  StoreBatch batch;
  PageChange c = ChangeOf(entry, finished);
  c.SetResult = true;
  c.Result = std::string(result);
  c.Finished = NowSeconds();
  batch.Change.push_back(std::move(c));
  std::string cause;
  (void)state.Store->Commit(std::move(batch), cause);
}

void RecordRetry(ServerState& state, const QueueEntry& entry, std::string_view result) {
  if (!state.Store) return;
  StoreBatch batch;
  PageChange c = ChangeOf(entry, PageState::kWaiting);
  c.SetResult = true;
  c.Result = std::string(result);
  batch.Change.push_back(std::move(c));
  state.Store->CommitLater(std::move(batch));
}

std::string AtSlotRecord(const AtEntry& slot) {
  AtEntry copy = slot;
  copy.InUse = 1;
  return EncodeAtRecords(std::span<const AtEntry>(&copy, 1));
}

bool AtSlotFromRecord(std::string_view record, AtEntry& slot) {
  const AtDecodeResult r = DecodeAtRecords(record, std::span<AtEntry>(&slot, 1));
  if (r.Filled != 1) return false;
  slot.InUse = 1;
  return true;
}

int64_t AtSlotDue(const AtEntry& slot) {
  std::tm t{};
  t.tm_year = slot.Year - 1900;
  t.tm_mon = slot.Month - 1;
  t.tm_mday = slot.Day;
  t.tm_hour = slot.Hour;
  t.tm_min = slot.Minute;
  t.tm_isdst = -1;
  const std::time_t due = platform::MakeLocalTime(t);
  return due < 0 ? 0 : static_cast<int64_t>(due);
}

PageRecord ScheduledRecord(const AtEntry& slot, int64_t accepted) {
  PageRecord r;
  r.Number = slot.MessageNumber;
  r.Piece = 0;
  r.State = PageState::kScheduled;
  r.Name = common::FieldText(slot.Name);
  r.PageId = common::FieldText(slot.PageID);
  r.Text = common::FieldText(slot.Message);
  r.Accepted = accepted;
  r.Due = AtSlotDue(slot);
  r.AtRecord = AtSlotRecord(slot);
  return r;
}

namespace {

// Puts the store's pending records back: AT pages into their slots, NOW pages behind the
// Main queue (they move in as it has room). Returns the highest number seen.
int32_t RestorePages(ServerState& state, const std::vector<PageRecord>& records) {
  int32_t highest = 0;
  std::vector<QueueEntry> now;
  StoreBatch back;  // pages found `sending` are `waiting` again until their next attempt
  int atSlot = 0;
  {
    std::lock_guard<std::mutex> hold(state.AtLock);
    std::memset(static_cast<void*>(state.AtTable.get()), 0, sizeof(AtEntry) * kAtSlots);
    state.AtAccepted.fill(0);
    for (const PageRecord& r : records) {
      highest = std::max(highest, r.Number);
      if (r.State == PageState::kScheduled) {
        if (atSlot >= kAtSlots) {
          common::LogLine("%t %s: Error - AT page #%ld for %s does not fit the AT queue\n", common::ProgramName(),
                          static_cast<long>(r.Number), r.Name);
          continue;
        }
        AtEntry& slot = state.AtTable[static_cast<size_t>(atSlot)];
        if (!AtSlotFromRecord(r.AtRecord, slot)) {
          std::memset(static_cast<void*>(&slot), 0, sizeof slot);
          common::LogLine("%t %s: Error - AT page #%ld for %s has no time in the page store\n", common::ProgramName(),
                          static_cast<long>(r.Number), r.Name);
          continue;
        }
        slot.MessageNumber = r.Number;
        state.AtAccepted[static_cast<size_t>(atSlot)] = r.Accepted;
        ++atSlot;
        continue;
      }
      QueueEntry e;
      FillEntry(e, r.Name, r.PageId, r.Text);
      e.MessageNumber = r.Number;
      e.Piece = r.Piece;
      e.Attempts = r.Attempts;
      if (r.State == PageState::kSending) {
        // The terminal may have taken it before the process ended: it goes out again.
        common::LogLine("%t %s: Page(#%ld) for %s resent after a restart\n", common::ProgramName(),
                        static_cast<long>(r.Number), common::Outside(r.Name));
        PageChange c = ChangeOf(e, PageState::kWaiting);
        c.SetResult = true;
        c.Result = "resent after a restart";
        back.Change.push_back(std::move(c));
      }
      now.push_back(std::move(e));
    }
  }
  if (!back.Empty()) state.Store->CommitLater(std::move(back));
  if (!now.empty()) {
    common::LogLine("%t %s: %d page(s) waiting in the page store are queued again\n", common::ProgramName(),
                    static_cast<int>(now.size()));
    AddToBacklog(*state.Main, std::move(now));
  }
  return highest;
}

// The AT pages of at.dat into the table and the new store (numbered anew, as at.dat holds
// no numbers).
void ImportAtFile(ServerState& state, const std::string& atPath) {
  LoadAtFile(state, atPath);
  StoreBatch batch;
  const int64_t now = NowSeconds();
  {
    std::lock_guard<std::mutex> hold(state.AtLock);
    for (int i = 0; i < kAtSlots; ++i) {
      const AtEntry& slot = state.AtTable[static_cast<size_t>(i)];
      if (slot.InUse != 1) continue;
      state.AtAccepted[static_cast<size_t>(i)] = now;
      batch.Add.push_back(ScheduledRecord(slot, now));
    }
  }
  if (batch.Add.empty()) return;
  const int n = static_cast<int>(batch.Add.size());
  std::string cause;
  if (state.Store->Commit(std::move(batch), cause) != 0) {
    common::LogLine("%t %s: Error - The AT pages of %s could not be put in the page store: %s\n", common::ProgramName(),
                    atPath, cause);
    return;
  }
  common::LogLine("%t %s: %d AT page(s) of %s imported into the page store\n", common::ProgramName(), n, atPath);
  std::lock_guard<std::mutex> hold(state.AtLock);
  state.AtDirty = true;  // rewritten in full, as it is after every change
}

}  // namespace

int OpenPageStore(ServerState& state, const std::string& storePath, const std::string& atPath) {
  std::unique_ptr<SqlitePageStore> store;
  StoreOpenResult opened;
  std::string cause;
  if (SqlitePageStore::Open(storePath, store, opened, cause) != 0) {
    common::LogLine("%t %s: Error - The page store %s cannot be opened: %s\n", common::ProgramName(), storePath, cause);
    return -1;
  }
  state.Store = std::move(store);
  int32_t highest = 0;
  if (opened.Created) {
    ImportAtFile(state, atPath);
  } else {
    std::vector<PageRecord> pending;
    if (state.Store->LoadPending(pending, cause) != 0) {
      common::LogLine("%t %s: Error - The page store %s cannot be read: %s\n", common::ProgramName(), storePath, cause);
      state.Store.reset();
      return -1;
    }
    highest = RestorePages(state, pending);
    // at.dat follows the store, which may hold changes a crash kept from at.dat.
    std::lock_guard<std::mutex> hold(state.AtLock);
    state.AtDirty = true;
  }
  int32_t stored = 0;
  if (state.Store->HighestNumber(stored, cause) == 0) highest = std::max(highest, stored);
  if (highest > state.MessageCounter.load()) state.MessageCounter = highest;
  return 0;
}

int64_t PurgeHistory(ServerState& state, int days, int64_t now) {
  if (!state.Store || days < 0) return 0;
  int64_t removed = 0;
  std::string cause;
  if (state.Store->Purge(now - static_cast<int64_t>(days) * 86400, removed, cause) != 0) return -1;
  return removed;
}

std::string EscapeRecordValue(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    const unsigned char b = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (b < 0x20 || b == 0x7F) {
          out += "\\x";
          out += kHex[b >> 4];
          out += kHex[b & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string FormatPageRecord(const std::vector<PageRecord>& pieces) {
  if (pieces.empty()) return {};
  // A page of several pieces shows the piece that is furthest from done: the first one not
  // finished, else the one that ended last (a given-up piece wins over a sent one).
  const PageRecord* shown = nullptr;
  int32_t attempts = 0;
  int64_t accepted = pieces.front().Accepted;
  int64_t finished = 0;
  bool allFinished = true;
  for (const PageRecord& r : pieces) {
    attempts = std::max(attempts, r.Attempts);
    if (r.Accepted > 0 && (accepted == 0 || r.Accepted < accepted)) accepted = r.Accepted;
    if (!IsFinished(r.State)) {
      allFinished = false;
      if (!shown || IsFinished(shown->State)) shown = &r;
      continue;
    }
    finished = std::max(finished, r.Finished);
    if (allFinished && (!shown || r.State == PageState::kGivenUp || shown->State != PageState::kGivenUp)) shown = &r;
  }
  std::string line;
  auto field = [&line](std::string_view key, std::string_view value) {
    if (!line.empty()) line += '\t';
    line += key;
    line += '=';
    line += EscapeRecordValue(value);
  };
  field("number", std::to_string(shown->Number));
  field("state", PageStateName(shown->State));
  field("name", shown->Name);
  field("pageid", shown->PageId);
  field("system", shown->System);
  field("attempts", std::to_string(attempts));
  field("accepted", TimeText(accepted));
  field("due", TimeText(pieces.front().Due));
  field("finished", allFinished ? TimeText(finished) : std::string());
  field("result", shown->Result);
  if (pieces.size() > 1) field("pieces", std::to_string(pieces.size()));
  return line;
}

std::string PageRecordReply(ServerState& state, int32_t number) {
  if (!state.Store) return "ERR - No page store";
  std::vector<PageRecord> pieces;
  std::string cause;
  if (state.Store->Lookup(number, pieces, cause) != 0) return "ERR - Page store failed: " + cause;
  if (pieces.empty()) return "ERR - Page not found";
  return "OK\n" + FormatPageRecord(pieces) + "\n";
}

}  // namespace core
