// snpp/hold_time.cpp
#include "snpp/hold_time.h"

#include "platform/clock.h"

namespace snpp {

namespace {

bool IsDigits(std::string_view s) {
  if (s.empty()) return false;
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Number(std::string_view s) {
  int n = 0;
  for (const char c : s) n = n * 10 + (c - '0');
  return n;
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian), as in Howard Hinnant's
// days_from_civil: no time zone involved.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

bool ParseHoldTime(std::string_view text, HoldTime& out) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const size_t start = text.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return false;
  text.remove_prefix(start);
  const size_t end = std::min(text.find_first_of(kBlanks), text.size());
  const std::string_view stamp = text.substr(0, end);
  text.remove_prefix(end);
  const size_t offsetStart = text.find_first_not_of(kBlanks);
  std::string_view offset = offsetStart == std::string_view::npos ? std::string_view() : text.substr(offsetStart);
  if (const size_t offsetEnd = offset.find_first_of(kBlanks); offsetEnd != std::string_view::npos) {
    if (offset.find_first_not_of(kBlanks, offsetEnd) != std::string_view::npos) return false;  // more words
    offset = offset.substr(0, offsetEnd);
  }

  if (!IsDigits(stamp) || (stamp.size() != 10 && stamp.size() != 12 && stamp.size() != 14)) return false;
  HoldTime h;
  size_t at = 0;
  if (stamp.size() == 14) {
    h.Year = Number(stamp.substr(0, 4));
    at = 4;
  } else {
    h.Year = 2000 + Number(stamp.substr(0, 2));
    at = 2;
  }
  h.Month = Number(stamp.substr(at, 2));
  h.Day = Number(stamp.substr(at + 2, 2));
  h.Hour = Number(stamp.substr(at + 4, 2));
  h.Minute = Number(stamp.substr(at + 6, 2));
  h.Second = stamp.size() > at + 8 ? Number(stamp.substr(at + 8, 2)) : 0;
  if (h.Year < 1970 || h.Month < 1 || h.Month > 12 || h.Day < 1 || h.Day > DaysInMonth(h.Year, h.Month) ||
      h.Hour > 23 || h.Minute > 59 || h.Second > 59) {
    return false;
  }

  if (!offset.empty()) {
    if (offset[0] != '+' && offset[0] != '-') return false;
    const std::string_view digits = offset.substr(1);
    if (!IsDigits(digits) || digits.size() > 4) return false;
    int hours = 0;
    int minutes = 0;
    if (digits.size() <= 2) {
      hours = Number(digits);
    } else {
      hours = Number(digits.substr(0, digits.size() - 2));
      minutes = Number(digits.substr(digits.size() - 2));
    }
    if (minutes > 59 || hours * 60 + minutes > 14 * 60) return false;
    h.HasOffset = true;
    h.OffsetMinutes = (offset[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
  }
  out = h;
  return true;
}

std::time_t HoldEpoch(const HoldTime& hold) {
  if (hold.HasOffset) {
    const int64_t seconds = DaysFromCivil(hold.Year, hold.Month, hold.Day) * 86400 + hold.Hour * 3600 +
                            hold.Minute * 60 + hold.Second - static_cast<int64_t>(hold.OffsetMinutes) * 60;
    return static_cast<std::time_t>(seconds);
  }
  std::tm tm{};
  tm.tm_year = hold.Year - 1900;
  tm.tm_mon = hold.Month - 1;
  tm.tm_mday = hold.Day;
  tm.tm_hour = hold.Hour;
  tm.tm_min = hold.Minute;
  tm.tm_sec = hold.Second;
  tm.tm_isdst = -1;
  return platform::MakeLocalTime(tm);
}

}  // namespace snpp
