// server/configuration.cpp - the page.ini change watch: reloads when the file changes.
#include "server/configuration.h"

#include <cstdio>

#include "common/config_path.h"
#include "common/log.h"
#include "platform/file_stamp.h"
#include "server/threads.h"

namespace server {
namespace {

constexpr int64_t kIniCheckMs = 120000;
constexpr uint32_t kYearMask = 0xFE000000u;  // bits 25-31
constexpr uint32_t kYearOne = 0x02000000u;
constexpr uint32_t kTimeOfDayMask = 0x0000FFFFu;  // seconds/2, minutes, hours

bool CanOpen(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  std::fclose(f);
  return true;
}

}  // namespace

bool CheckPageIni(core::ServerState& state, IniWatch& watch, const std::string& path) {
  uint32_t stamp = 0;
  if ((watch.IniStamp & kYearMask) == 0) {
    if (!CanOpen(path) || platform::PackedFileTime(path, stamp) != 0) return false;
    watch.IniStamp = stamp;
    if ((watch.IniStamp & kYearMask) == 0) {
      common::WriteConsole("SeeIfWeShouldReadPageiniFile( ) - Year = 0\n");
      watch.IniStamp |= kYearOne;
    }
  }
  if (!CanOpen(path) || platform::PackedFileTime(path, stamp) != 0) return false;
  if ((stamp & kTimeOfDayMask) == (watch.IniStamp & kTimeOfDayMask)) return false;
  common::LogLine("%t %s: PAGE.INI has changed - Re-reading file\n", common::ProgramName());
  (void)core::LoadDirectory(state, path);
  watch.IniStamp = (watch.IniStamp & ~kTimeOfDayMask) | (stamp & kTimeOfDayMask);
  ++state.ReloadCount;
  return true;
}

void ChangedIniFileThread(core::ServerState& state, NewPortsHook newPorts, std::stop_token stop) {
  IniWatch watch;
  bool first = true;
  for (;;) {
    common::DebugLine(first ? "ChangedIniFileTask - Started\n" : "@");
    first = false;
    if (!SleepUnlessStopped(stop, kIniCheckMs)) return;
    if (CheckPageIni(state, watch, common::ConfigFile(core::kPageIniName)) && newPorts) newPorts(state);
  }
}

}  // namespace server
