// snpp/page_ini_watch.h - notices page.ini changes, so the name cache follows the paging
// server's directory.
#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

namespace snpp {

constexpr int64_t kWatchPeriodMs = 360000;  // between checks
constexpr int64_t kChangeDelayMs = 90000;   // after a change, so the paging server reloads first

// The packed date and time of page.ini's last change as last seen; year bits 0 means no
// stamp has been taken yet.
struct PageIniStamp {
  uint32_t Packed = 0;
};

// One check. The first check only takes the stamp. Later checks compare the time of day
// (hours, minutes, two-second units; not the date); when it differs: wait 90 s, log the
// change, run refresh, keep the new time of day. True when refresh ran. A file that cannot
// be examined is skipped until the next check; a stop during the wait skips the refresh
// (the change is seen again by the next check, if there is one).
bool SeeIfWeShouldReadPageiniFile(PageIniStamp& saved, const std::string& path, const std::function<void()>& refresh,
                                  std::stop_token stop = {});

}  // namespace snpp
