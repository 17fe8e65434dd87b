// snpp/page_ini_watch.cpp - compares page.ini's time of day of last change between checks.
#include "snpp/page_ini_watch.h"

#include "common/log.h"
#include "platform/file_stamp.h"
#include "snpp/stoppable_sleep.h"

namespace snpp {

namespace {
constexpr uint32_t kYearBits = 0xFE000000u;
constexpr uint32_t kYearOne = 1u << 25;
constexpr uint32_t kTimeOfDayBits = 0x0000FFFFu;  // hours, minutes, two-second units
}  // namespace

bool SeeIfWeShouldReadPageiniFile(PageIniStamp& saved, const std::string& path, const std::function<void()>& refresh,
                                  std::stop_token stop) {
  if ((saved.Packed & kYearBits) == 0) {
    uint32_t first = 0;
    if (platform::PackedFileTime(path, first) != 0) return false;
    saved.Packed = first;
    if ((saved.Packed & kYearBits) == 0) {
      common::WriteConsole("SeeIfWeShouldReadPageiniFile( ) - Year = 0\n");
      saved.Packed |= kYearOne;  // marks the stamp as taken
    }
  }

  uint32_t now = 0;
  if (platform::PackedFileTime(path, now) != 0) return false;
  if ((now & kTimeOfDayBits) == (saved.Packed & kTimeOfDayBits)) return false;

  // Give the paging server time to reload the file before asking it for the new names.
  if (!SleepUnlessStopped(stop, kChangeDelayMs)) return false;
  common::LogLine("%t %s: PAGE.INI has changed - Getting new list from paging server\n", common::ProgramName());
  refresh();
  saved.Packed = (saved.Packed & ~kTimeOfDayBits) | (now & kTimeOfDayBits);
  return true;
}

}  // namespace snpp
