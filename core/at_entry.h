// core/at_entry.h - one slot of the AT queue; its first bytes are also an at.dat record body.
#pragma once

#include <cstddef>
#include <cstdint>

namespace core {

constexpr int kAtSlots = 200;
constexpr int kAtMessageWidth = 4000;
constexpr int kAtRecordExtra = 167;       // record length = strlen(Message) + this
constexpr int kAtMaxRecordLength = 4106;  // a whole slot

#pragma pack(push, 1)
struct AtEntry {
  uint16_t InUse;          // 0 free, 1 holds a page
  int32_t Second;          // 0 for time mode 1
  int32_t Minute;          // 0..59
  int32_t Hour;            // 0..23
  int32_t Day;             // 1..31
  int32_t Month;           // 1..12
  int32_t Year;            // four digits
  int32_t WeekDay;         // 0..6 for a delay, 0 for a fixed time
  int32_t YearDay;         // 0..365 for a delay, 0 for a fixed time
  int32_t DaylightSaving;  // from the local clock for a delay, 0 for a fixed time
  char Name[32];           // recipient as requested: person, pager ID or group
  char PageID[32];         // the pager ID resolved when the page was requested
  char Message[kAtMessageWidth];
  int32_t MessageNumber;  // given when scheduled or loaded
};
#pragma pack(pop)

static_assert(sizeof(AtEntry) == 4106);
static_assert(offsetof(AtEntry, Second) == 2);
static_assert(offsetof(AtEntry, Minute) == 6);
static_assert(offsetof(AtEntry, Hour) == 10);
static_assert(offsetof(AtEntry, Day) == 14);
static_assert(offsetof(AtEntry, Month) == 18);
static_assert(offsetof(AtEntry, Year) == 22);
static_assert(offsetof(AtEntry, WeekDay) == 26);
static_assert(offsetof(AtEntry, YearDay) == 30);
static_assert(offsetof(AtEntry, DaylightSaving) == 34);
static_assert(offsetof(AtEntry, Name) == 38);
static_assert(offsetof(AtEntry, PageID) == 70);
static_assert(offsetof(AtEntry, Message) == 102);
static_assert(offsetof(AtEntry, MessageNumber) == 4102);

}  // namespace core
