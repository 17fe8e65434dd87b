// server/at_queue.h - pages for later: the 200-slot AT table, its due pass and at.dat.
//
// Every access to the table holds ServerState::AtLock. at.dat is a sequence of records,
// each a 16-bit length L = strlen(Message) + 167 and the first L bytes of the slot.
#pragma once

#include <ctime>
#include <stop_token>
#include <string>

#include "core/server_state.h"

namespace server {

constexpr const char* kAtFileName = "at.dat";
// Longest AT message: one more character would make the at.dat record run past the slot.
constexpr int kAtMessageMax = core::kAtMaxRecordLength - core::kAtRecordExtra - 1;  // 3938

// Schedules a page for a local date and time (year already four digits). Slot, or -1 when
// the table is full ("Error - The AT queue is full" logged).
[[nodiscard]] int ScheduleAt(core::ServerState& state, const char* name, const char* pageId,
                             const char* message, int minute, int hour, int day, int month, int year);

// Schedules a page `minutes` after now (local time, so DST is counted right); nowSec lets
// tests fix the clock. Slot, or -1 when full.
[[nodiscard]] int ScheduleAfter(core::ServerState& state, const char* name, const char* pageId,
                                const char* message, int minutes);
[[nodiscard]] int ScheduleAfterFrom(core::ServerState& state, const char* name, const char* pageId,
                                    const char* message, int minutes, std::time_t nowSec);

// Deletes every scheduled page matching the pattern (year 2000 and 0 fields match all; an
// empty pageId matches every recipient). Logs each deletion, or the not-found line to the
// log file only.
void DeleteAt(core::ServerState& state, const char* name, const char* pageId, int minute,
              int hour, int day, int month, int year);

// True when the slot is in use and its time is not later than now (seconds not compared).
bool IsDue(const core::AtEntry& slot, const std::tm& now);

// Moves every due page into the Main queue (the slot is freed even when the queue refuses
// it). Returns the number of slots freed.
int AtDuePass(core::ServerState& state, const std::tm& now);

int AtSlotsInUse(core::ServerState& state);

// Reads at.dat into the slots from 0 on, numbering each loaded page anew.
void LoadAtFile(core::ServerState& state, const std::string& path = kAtFileName);

// Writes the table when it changed since the last save: into path + ".tmp", then renamed
// over path, so a crash mid-save never leaves a cut file. 0 written, 1 nothing to do,
// -1 the file could not be written (not retried until the table changes again).
int SaveAtFile(core::ServerState& state, const std::string& path = kAtFileName);

// Thread bodies: due pass every 40 s; save every 180 s.
void AtDelayThread(core::ServerState& state, std::stop_token stop);
void ChangedAtThread(core::ServerState& state, std::stop_token stop);

}  // namespace server
