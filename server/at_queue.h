// server/at_queue.h - pages for later: the 200-slot AT table, its due pass and the
// threads that move due pages and save the table (its file is core/at_file.h).
//
// Every access to the table holds ServerState::AtLock.
#pragma once

#include <ctime>
#include <stop_token>
#include <string>
#include <vector>

#include "core/at_file.h"
#include "core/server_state.h"

namespace server {

// Schedules a page for a local date and time (year already four digits), recorded
// `scheduled` in the page store before it counts. Slot, -1 when the table is full ("Error -
// The AT queue is full" logged), or core::kNotRecorded when the store failed (logged; cause
// gets its words). numbers, when given, gets the page's message number.
[[nodiscard]] int ScheduleAt(core::ServerState& state, const char* name, const char* pageId, const char* message,
                             int minute, int hour, int day, int month, int year, std::string* cause = nullptr,
                             std::vector<int32_t>* numbers = nullptr);

// Schedules a page `minutes` after now (local time, so DST is counted right); nowSec lets
// tests fix the clock. Results as ScheduleAt.
[[nodiscard]] int ScheduleAfter(core::ServerState& state, const char* name, const char* pageId, const char* message,
                                int minutes, std::string* cause = nullptr, std::vector<int32_t>* numbers = nullptr);
[[nodiscard]] int ScheduleAfterFrom(core::ServerState& state, const char* name, const char* pageId, const char* message,
                                    int minutes, std::time_t nowSec, std::string* cause = nullptr,
                                    std::vector<int32_t>* numbers = nullptr);

// Deletes every scheduled page matching the pattern (year 2000 and 0 fields match all; an
// empty pageId matches every recipient), recording each `deleted`. Logs each deletion, or
// the not-found line to the log file only. 0, or core::kNotRecorded when the store failed
// (nothing deleted; logged).
[[nodiscard]] int DeleteAt(core::ServerState& state, const char* name, const char* pageId, int minute, int hour,
                           int day, int month, int year);

// True when the slot is in use and its time is not later than now (seconds not compared).
bool IsDue(const core::AtEntry& slot, const std::tm& now);

// Moves every due page into the Main queue: its pieces are recorded `waiting` as its slot is
// freed; what finds no room waits behind the Main queue, and a page whose recipient is
// unknown is given up with its log line. A page the store cannot record stays for the next
// pass. Returns the number of slots freed.
int AtDuePass(core::ServerState& state, const std::tm& now);

int AtSlotsInUse(core::ServerState& state);

// Thread bodies. The AT delay thread runs a due pass whenever the earliest page falls due or
// the table changes (and purges finished pages from the store hourly); the ChangedAt thread
// rewrites at.dat after every change, retrying a failed save, and once more as it ends.
void AtDelayThread(core::ServerState& state, std::stop_token stop);
void ChangedAtThread(core::ServerState& state, std::stop_token stop);

}  // namespace server
