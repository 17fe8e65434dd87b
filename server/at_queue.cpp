// server/at_queue.cpp - the AT table: scheduling, deleting, the due pass and its threads.
#include "server/at_queue.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "common/fixed_field.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "platform/clock.h"
#include "server/threads.h"

namespace server {
namespace {

constexpr int64_t kAtDelayMs = 40000;
constexpr int64_t kChangedAtMs = 180000;

// Caller holds AtLock.
int FirstFreeSlot(core::ServerState& state) {
  for (int i = 0; i < core::kAtSlots; ++i) {
    if (state.AtTable[static_cast<size_t>(i)].InUse == 0) return i;
  }
  return -1;
}

void ClearSlot(core::ServerState& state, int slot) {
  std::memset(&state.AtTable[static_cast<size_t>(slot)], 0, sizeof(core::AtEntry));
  state.AtDirty = true;
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
               int hour, int day, int month, int year) {
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
      slot.InUse = 1;
      state.AtDirty = true;
    }
  }
  if (s < 0) {
    common::LogLine("%t %s: Error - The AT queue is full\n", common::ProgramName());
    return -1;
  }
  LogQueuedLine(stamp + common::FormatText(" %s: Queued(#%ld): Will page %s at %d-%d-%d %d:%02d\n",
                                           common::ProgramName(), number, common::Outside(name), year, month, day, hour,
                                           minute));
  return s;
}

int ScheduleAfter(core::ServerState& state, const char* name, const char* pageId, const char* message, int minutes) {
  return ScheduleAfterFrom(state, name, pageId, message, minutes, platform::Now());
}

int ScheduleAfterFrom(core::ServerState& state, const char* name, const char* pageId, const char* message, int minutes,
                      std::time_t nowSec) {
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
      slot.InUse = 1;
      state.AtDirty = true;
    }
  }
  if (s < 0) {
    common::LogLine("%t %s: Error - The AT queue is full\n", common::ProgramName());
    return -1;
  }
  LogQueuedLine(stamp + common::FormatText(" %s: Queued(#%ld): Will delay page of %s till %d-%d-%2d %d:%02d\n",
                                           common::ProgramName(), number, common::Outside(name), when.tm_year + 1900,
                                           when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min));
  return s;
}

void DeleteAt(core::ServerState& state, const char* name, const char* pageId, int minute, int hour, int day, int month,
              int year) {
  const std::string_view id(pageId ? pageId : "");
  const char* who = name ? name : "";
  if (state.Debug) {
    common::WriteConsole(
        common::FormatText("Delete time: %d-%d-%d %d:%02d name: '%s'\n", year, month, day, hour, minute, id));
  }
  bool found = false;
  std::vector<std::string> deleted;
  {
    std::lock_guard<std::mutex> hold(state.AtLock);
    for (int i = 0; i < core::kAtSlots; ++i) {
      core::AtEntry& slot = state.AtTable[static_cast<size_t>(i)];
      if (slot.InUse == 0) continue;
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
      deleted.push_back(SlotTime(slot.Year, slot.Month, slot.Day, slot.Hour, slot.Minute));
      ClearSlot(state, i);
      found = true;
    }
  }
  for (const std::string& when : deleted) {
    common::LogLine("%t %s: Deleting page for '%s' at %s\n", common::ProgramName(), common::Outside(who), when);
  }
  if (!found) {
    common::LogFileLine("%t %s: Error Deleting page for '%s' at %s - Page not found\n", common::ProgramName(),
                        common::Outside(who), SlotTime(year, month, day, hour, minute));
  }
}

bool IsDue(const core::AtEntry& slot, const std::tm& now) {
  if (slot.InUse == 0) return false;
  const int current[] = {now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min};
  const int at[] = {slot.Year, slot.Month, slot.Day, slot.Hour, slot.Minute};
  for (int i = 0; i < 5; ++i) {
    if (at[i] != current[i]) return at[i] < current[i];
  }
  return true;
}

int AtDuePass(core::ServerState& state, const std::tm& now) {
  struct DuePage {
    std::string Name;
    std::string Message;
    int32_t MessageNumber;
  };
  std::vector<DuePage> due;
  {
    std::lock_guard<std::mutex> hold(state.AtLock);
    for (int i = 0; i < core::kAtSlots; ++i) {
      core::AtEntry& slot = state.AtTable[static_cast<size_t>(i)];
      if (!IsDue(slot, now)) continue;
      due.push_back({common::FieldText(slot.Name), common::FieldText(slot.Message), slot.MessageNumber});
      ClearSlot(state, i);
    }
  }
  // Inserted outside the AT lock; a refused page is lost, and the insert has logged why.
  for (const DuePage& page : due) {
    (void)core::InsertNow(state, *state.Main, page.Name.c_str(), page.Message.c_str(), false, page.MessageNumber);
  }
  return static_cast<int>(due.size());
}

int AtSlotsInUse(core::ServerState& state) {
  std::lock_guard<std::mutex> hold(state.AtLock);
  int n = 0;
  for (int i = 0; i < core::kAtSlots; ++i) n += state.AtTable[static_cast<size_t>(i)].InUse != 0;
  return n;
}

void AtDelayThread(core::ServerState& state, std::stop_token stop) {
  do {
    AtDuePass(state, platform::LocalTime(platform::Now()));
    common::DebugLine("|");
  } while (SleepUnlessStopped(stop, kAtDelayMs));
}

void ChangedAtThread(core::ServerState& state, std::stop_token stop) {
  bool first = true;
  do {
    common::DebugLine(first ? "ChangedAtTask - Started\n" : "@");
    first = false;
    (void)core::SaveAtFile(state);
  } while (SleepUnlessStopped(stop, kChangedAtMs));
}

}  // namespace server
