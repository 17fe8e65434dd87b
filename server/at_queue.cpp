// server/at_queue.cpp - the AT table: scheduling, deleting, the due pass and its threads.
#include "server/at_queue.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "core/page_book.h"
#include "platform/clock.h"
#include "server/threads.h"

namespace server {
namespace {

// The AT delay thread looks again at least this often (real time), so a change of the
// clock cannot keep a due page waiting for long.
constexpr int64_t kAtLongestWaitSec = 3600;
// A failed at.dat save is tried again after this long (program time).
constexpr int64_t kAtSaveRetryMs = 10000;
// Finished pages are purged from the page store this often (real time).
constexpr int64_t kPurgeEverySec = 3600;

// Caller holds AtLock.
int FirstFreeSlot(core::ServerState& state) {
  for (int i = 0; i < core::kAtSlots; ++i) {
    if (state.AtTable[static_cast<size_t>(i)].InUse == 0) return i;
  }
  return -1;
}

void ClearSlot(core::ServerState& state, int slot) {
  std::memset(&state.AtTable[static_cast<size_t>(slot)], 0, sizeof(core::AtEntry));
  state.AtAccepted[static_cast<size_t>(slot)] = 0;
  state.AtDirty = true;
  ++state.AtGeneration;
}

// Caller holds AtLock and has filled slot s (InUse still 0). Records it `scheduled` and
// takes it into the table; on a store failure the slot is emptied again. 0, or
// core::kNotRecorded (logged).
int TakeScheduled(core::ServerState& state, int s, const char* name, std::string* cause) {
  core::AtEntry& slot = state.AtTable[static_cast<size_t>(s)];
  const int64_t now = static_cast<int64_t>(platform::Now());
  if (state.Store) {
    core::StoreBatch batch;
    batch.Add.push_back(core::ScheduledRecord(slot, now));
    std::string why;
    if (state.Store->Commit(std::move(batch), why) != 0) {
      std::memset(&slot, 0, sizeof slot);
      common::LogLine("%t %s: Error - Page for %s not accepted, the page store failed: %s\n", common::ProgramName(),
                      common::Outside(name), why);
      if (cause) *cause = why;
      return core::kNotRecorded;
    }
  }
  slot.InUse = 1;
  state.AtAccepted[static_cast<size_t>(s)] = now;
  state.AtDirty = true;
  ++state.AtGeneration;
  state.AtChanged.notify_all();
  return 0;
}

void StoreTexts(core::AtEntry& slot, const char* name, const char* pageId, const char* message) {
  common::CopyField(slot.Name, name ? name : "");
  common::CopyField(slot.PageID, pageId ? pageId : "");
  std::string_view text(message ? message : "");
  common::CopyField(slot.Message, text.substr(0, core::kAtMessageMax));
}

// The queued lines carry the time stamp of the request, then are shown and appended plainly.
// Their minute is written with two digits ("%02d").
void LogQueuedLine(const std::string& line) {
  common::WriteConsole(line);
  common::AppendLogFile(std::string_view(line));
}

std::string SlotTime(int year, int month, int day, int hour, int minute) {
  return common::FormatText("%d-%d-%d %d:%02d", year, month, day, hour, minute);
}

}  // namespace

int ScheduleAt(core::ServerState& state, const char* name, const char* pageId, const char* message, int minute,
               int hour, int day, int month, int year, std::string* cause, std::vector<int32_t>* numbers) {
  const std::string stamp = common::FormatText("%t");
  int32_t number = 0;
  int s = -1;
  {
    std::lock_guard<std::mutex> hold(state.AtLock);
    s = FirstFreeSlot(state);
    if (s >= 0) {
      number = ++state.MessageCounter;
      core::AtEntry& slot = state.AtTable[static_cast<size_t>(s)];
      StoreTexts(slot, name, pageId, message);
      slot.Second = 0;
      slot.Minute = minute;
      slot.Hour = hour;
      slot.Day = day;
      slot.Month = month;
      slot.Year = year;
      slot.WeekDay = 0;
      slot.YearDay = 0;
      slot.DaylightSaving = 0;
      slot.MessageNumber = number;
      if (TakeScheduled(state, s, name, cause) != 0) return core::kNotRecorded;
    }
  }
  if (s < 0) {
    common::LogLine("%t %s: Error - The AT queue is full\n", common::ProgramName());
    return -1;
  }
  if (numbers) numbers->push_back(number);
  LogQueuedLine(stamp + common::FormatText(" %s: Queued(#%ld): Will page %s at %d-%d-%d %d:%02d\n",
                                           common::ProgramName(), number, common::Outside(name), year, month, day, hour,
                                           minute));
  return s;
}

int ScheduleAfter(core::ServerState& state, const char* name, const char* pageId, const char* message, int minutes,
                  std::string* cause, std::vector<int32_t>* numbers) {
  return ScheduleAfterFrom(state, name, pageId, message, minutes, platform::Now(), cause, numbers);
}

int ScheduleAfterFrom(core::ServerState& state, const char* name, const char* pageId, const char* message, int minutes,
                      std::time_t nowSec, std::string* cause, std::vector<int32_t>* numbers) {
  const std::string stamp = common::FormatText("%t");
  const std::tm when = platform::LocalTime(nowSec + static_cast<std::time_t>(minutes) * 60);
  if (state.Debug) common::WriteConsole(common::FormatText(":Min=%ld:", minutes));
  int32_t number = 0;
  int s = -1;
  {
    std::lock_guard<std::mutex> hold(state.AtLock);
    s = FirstFreeSlot(state);
    if (s >= 0) {
      core::AtEntry& slot = state.AtTable[static_cast<size_t>(s)];
      slot.Second = when.tm_sec;
      slot.Minute = when.tm_min;
      slot.Hour = when.tm_hour;
      slot.Day = when.tm_mday;
      slot.Month = when.tm_mon + 1;
      slot.Year = when.tm_year + 1900;
      slot.WeekDay = when.tm_wday;
      slot.YearDay = when.tm_yday;
      slot.DaylightSaving = when.tm_isdst;
      number = ++state.MessageCounter;
      slot.MessageNumber = number;
      StoreTexts(slot, name, pageId, message);
      if (TakeScheduled(state, s, name, cause) != 0) return core::kNotRecorded;
    }
  }
  if (s < 0) {
    common::LogLine("%t %s: Error - The AT queue is full\n", common::ProgramName());
    return -1;
  }
  if (numbers) numbers->push_back(number);
  LogQueuedLine(stamp + common::FormatText(" %s: Queued(#%ld): Will delay page of %s till %d-%d-%2d %d:%02d\n",
                                           common::ProgramName(), number, common::Outside(name), when.tm_year + 1900,
                                           when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min));
  return s;
}

int DeleteAt(core::ServerState& state, const char* name, const char* pageId, int minute, int hour, int day, int month,
             int year) {
  const std::string_view id(pageId ? pageId : "");
  const char* who = name ? name : "";
  if (state.Debug) {
    common::WriteConsole(
        common::FormatText("Delete time: %d-%d-%d %d:%02d name: '%s'\n", year, month, day, hour, minute, id));
  }
  std::vector<std::string> deleted;
  {
    std::lock_guard<std::mutex> hold(state.AtLock);
    std::vector<int> matched;
    core::StoreBatch batch;
    const int64_t now = static_cast<int64_t>(platform::Now());
    for (int i = 0; i < core::kAtSlots; ++i) {
      core::AtEntry& slot = state.AtTable[static_cast<size_t>(i)];
      if (slot.InUse != 1) continue;
      const std::string slotId = common::FieldText(slot.PageID);
      if (state.Debug) {
        // The slot is a packed record: its fields are copied, never referred to.
        common::WriteConsole(common::FormatText("AT index %d time: %d-%d-%d %d:%02d name: '%s'\n", i, int{slot.Year},
                                                int{slot.Month}, int{slot.Day}, int{slot.Hour}, int{slot.Minute},
                                                slotId));
      }
      const bool matches = (year == 2000 || year == slot.Year) && (month == 0 || month == slot.Month) &&
                           (day == 0 || day == slot.Day) && (hour == 0 || hour == slot.Hour) &&
                           (minute == 0 || minute == slot.Minute) && (id.empty() || id == slotId);
      if (!matches) continue;
      matched.push_back(i);
      const std::string when = SlotTime(slot.Year, slot.Month, slot.Day, slot.Hour, slot.Minute);
      deleted.push_back(when);
      core::PageChange change;
      change.Number = slot.MessageNumber;
      change.State = core::PageState::kDeleted;
      change.SetResult = true;
      change.Result = common::FormatText("Deleting page for '%s' at %s", who, when);
      change.Finished = now;
      batch.Change.push_back(std::move(change));
    }
    if (state.Store && !batch.Empty()) {
      std::string cause;
      if (state.Store->Commit(std::move(batch), cause) != 0) {
        // Deleted in memory but not in the store, the pages would come back after a
        // restart: they stay scheduled, and the sender hears the failure.
        common::LogLine("%t %s: Error - AT pages for '%s' not deleted, the page store failed: %s\n",
                        common::ProgramName(), common::Outside(who), cause);
        return core::kNotRecorded;
      }
    }
    for (int i : matched) ClearSlot(state, i);
    if (!matched.empty()) state.AtChanged.notify_all();
  }
  for (const std::string& when : deleted) {
    common::LogLine("%t %s: Deleting page for '%s' at %s\n", common::ProgramName(), common::Outside(who), when);
  }
  if (deleted.empty()) {
    common::LogFileLine("%t %s: Error Deleting page for '%s' at %s - Page not found\n", common::ProgramName(),
                        common::Outside(who), SlotTime(year, month, day, hour, minute));
  }
  return 0;
}

bool IsDue(const core::AtEntry& slot, const std::tm& now) {
  if (slot.InUse != 1) return false;
  const int current[] = {now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min};
  const int at[] = {slot.Year, slot.Month, slot.Day, slot.Hour, slot.Minute};
  for (int i = 0; i < 5; ++i) {
    if (at[i] != current[i]) return at[i] < current[i];
  }
  return true;
}

namespace {

// Caller holds AtLock. Moves the due page of slot i into the Main queue: its pieces (for
// every member of a group) share its number, and are recorded `waiting` in the same
// transaction that ends its `scheduled` record. A page that finds no room in the Main queue
// waits behind it and moves in as room frees. False when the page store failed (the page
// stays scheduled and is tried again at the next pass).
bool MoveDuePage(core::ServerState& state, int i) {
  core::AtEntry& slot = state.AtTable[static_cast<size_t>(i)];
  const int32_t number = slot.MessageNumber;
  const std::string name = common::FieldText(slot.Name);
  const std::string message = common::FieldText(slot.Message);
  std::vector<core::QueueEntry> pieces;
  std::vector<std::string> systems;
  std::vector<std::string> unknown;
  (void)core::PlanPage(state, name.c_str(), message.c_str(), pieces, systems, unknown);
  std::string lostWords;
  for (const std::string& who : unknown) {
    lostWords = core::LogResult("Error - %s not found in paging list", common::Outside(who));
    ++state.UnknownNameCount;
  }
  core::StoreBatch batch;
  const int64_t now = static_cast<int64_t>(platform::Now());
  const int64_t accepted = state.AtAccepted[static_cast<size_t>(i)];
  if (pieces.empty()) {
    core::PageChange change;
    change.Number = number;
    change.State = core::PageState::kGivenUp;
    change.SetResult = true;
    change.Result = lostWords;
    change.Finished = now;
    batch.Change.push_back(std::move(change));
  } else {
    batch.Remove.push_back(number);
    for (size_t p = 0; p < pieces.size(); ++p) {
      pieces[p].MessageNumber = number;
      pieces[p].Piece = static_cast<int32_t>(p);
      core::PageRecord r;
      r.Number = number;
      r.Piece = static_cast<int32_t>(p);
      r.Name = pieces[p].Name;
      r.PageId = pieces[p].PageID;
      r.System = systems[p];
      r.Text = pieces[p].Message;
      r.Accepted = accepted > 0 ? accepted : now;
      r.Due = core::AtSlotDue(slot);
      batch.Add.push_back(std::move(r));
    }
  }
  const int n = static_cast<int>(pieces.size());
  const bool room = n > 0 && core::ReserveRoom(*state.Main, n) == 0;
  if (state.Store) {
    std::string cause;
    if (state.Store->Commit(std::move(batch), cause) != 0) {
      if (room) core::ReleaseRoom(*state.Main, n);
      common::LogLine("%t %s: Error - Due AT page(#%ld) for %s stays scheduled, the page store failed: %s\n",
                      common::ProgramName(), static_cast<long>(number), common::Outside(name), cause);
      return false;
    }
  }
  ClearSlot(state, i);
  if (n == 0) return true;
  if (room) {
    (void)core::MoveIn(*state.Main, std::move(pieces), n);
  } else {
    core::AddToBacklog(*state.Main, std::move(pieces));
  }
  return true;
}

}  // namespace

int AtDuePass(core::ServerState& state, const std::tm& now) {
  int moved = 0;
  std::lock_guard<std::mutex> hold(state.AtLock);
  for (int i = 0; i < core::kAtSlots; ++i) {
    if (!IsDue(state.AtTable[static_cast<size_t>(i)], now)) continue;
    if (MoveDuePage(state, i)) ++moved;
  }
  if (moved > 0) state.AtChanged.notify_all();
  return moved;
}

// Caller holds AtLock. The earliest time a page in the table is due, 0 when none.
int64_t NextDueSec(core::ServerState& state) {
  int64_t next = 0;
  for (int i = 0; i < core::kAtSlots; ++i) {
    const core::AtEntry& slot = state.AtTable[static_cast<size_t>(i)];
    if (slot.InUse != 1) continue;
    const int64_t due = core::AtSlotDue(slot);
    if (next == 0 || due < next) next = due;
  }
  return next;
}

int AtSlotsInUse(core::ServerState& state) {
  std::lock_guard<std::mutex> hold(state.AtLock);
  int n = 0;
  for (int i = 0; i < core::kAtSlots; ++i) n += state.AtTable[static_cast<size_t>(i)].InUse == 1;
  return n;
}

void AtDelayThread(core::ServerState& state, std::stop_token stop) {
  int64_t lastPurge = 0;
  while (!stop.stop_requested()) {
    const int64_t nowSec = static_cast<int64_t>(platform::Now());
    AtDuePass(state, platform::LocalTime(static_cast<std::time_t>(nowSec)));
    common::DebugLine("|");
    if (nowSec - lastPurge >= kPurgeEverySec) {
      lastPurge = nowSec;
      const int64_t removed = core::PurgeHistory(state, state.HistoryDays.load(), nowSec);
      if (removed > 0) common::DebugLine("Purged %ld finished pages\n", static_cast<long>(removed));
    }
    // Sleeps until the earliest page is due, the table changes or a stop comes; never
    // longer than an hour of the wall clock, nor less than a second when a page is due
    // that the Main queue could not take.
    std::unique_lock<std::mutex> hold(state.AtLock);
    const int64_t next = NextDueSec(state);
    int64_t waitSec = kAtLongestWaitSec;
    if (next > 0) waitSec = std::clamp<int64_t>(next - static_cast<int64_t>(platform::Now()), 1, kAtLongestWaitSec);
    const uint64_t generation = state.AtGeneration;
    state.AtChanged.wait_for(hold, stop, std::chrono::seconds(waitSec),
                             [&] { return state.AtGeneration != generation; });
  }
}

void ChangedAtThread(core::ServerState& state, std::stop_token stop) {
  common::DebugLine("ChangedAtTask - Started\n");
  bool failing = false;
  while (!stop.stop_requested()) {
    {
      std::unique_lock<std::mutex> hold(state.AtLock);
      if (!state.AtChanged.wait(hold, stop, [&] { return state.AtDirty.load(); })) break;
    }
    common::DebugLine("@");
    const int saved = core::SaveAtFile(state);
    if (saved < 0 && !failing) {
      common::LogLine("%t %s: Error - %s could not be written; trying again\n", common::ProgramName(),
                      core::kAtFileName);
    }
    failing = saved < 0;
    if (failing && !SleepUnlessStopped(stop, kAtSaveRetryMs)) break;
  }
  (void)core::SaveAtFile(state);  // what changed last is written before the end
}

}  // namespace server
