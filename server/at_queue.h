// server/at_queue.h - pages for later: the 200-slot AT table, its due pass and the
// threads that move due pages and save the table (its file is core/at_file.h).
//
// Every access to the table holds ServerState::AtLock.
#pragma once

#include <ctime>
#include <stop_token>
#include <string>

#include "core/at_file.h"
#include "core/server_state.h"

namespace server {

// Schedules a page for a local date and time (year already four digits). Slot, or -1 when
// the table is full ("Error - The AT queue is full" logged).
[[nodiscard]] int ScheduleAt(core::ServerState& state, const char* name, const char* pageId, const char* message,
                             int minute, int hour, int day, int month, int year);

// Schedules a page `minutes` after now (local time, so DST is counted right); nowSec lets
// tests fix the clock. Slot, or -1 when full.
[[nodiscard]] int ScheduleAfter(core::ServerState& state, const char* name, const char* pageId, const char* message,
                                int minutes);
[[nodiscard]] int ScheduleAfterFrom(core::ServerState& state, const char* name, const char* pageId, const char* message,
                                    int minutes, std::time_t nowSec);

// Deletes every scheduled page matching the pattern (year 2000 and 0 fields match all; an
// empty pageId matches every recipient). Logs each deletion, or the not-found line to the
// log file only.
void DeleteAt(core::ServerState& state, const char* name, const char* pageId, int minute, int hour, int day, int month,
              int year);

// True when the slot is in use and its time is not later than now (seconds not compared).
bool IsDue(const core::AtEntry& slot, const std::tm& now);

// Moves every due page into the Main queue (the slot is freed even when the queue refuses
// it). Returns the number of slots freed.
int AtDuePass(core::ServerState& state, const std::tm& now);

int AtSlotsInUse(core::ServerState& state);

// Thread bodies: due pass every 40 s; save every 180 s.
void AtDelayThread(core::ServerState& state, std::stop_token stop);
void ChangedAtThread(core::ServerState& state, std::stop_token stop);

}  // namespace server
