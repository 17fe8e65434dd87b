// server/configuration.cpp - page.ini loads, at.dat at start-up, the change watch.
#include "server/configuration.h"

#include <cstdio>
#include <memory>
#include <new>

#include "common/config_path.h"
#include "common/log.h"
#include "core/now_queue.h"
#include "directory/page_ini.h"
#include "platform/file_stamp.h"
#include "server/at_queue.h"
#include "server/threads.h"

namespace server {
namespace {

constexpr int64_t kIniCheckMs = 120000;
constexpr uint32_t kYearMask = 0xFE000000u;   // bits 25-31
constexpr uint32_t kYearOne = 0x02000000u;
constexpr uint32_t kTimeOfDayMask = 0x0000FFFFu;  // seconds/2, minutes, hours

bool CanOpen(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  std::fclose(f);
  return true;
}

void ResizeMain(core::ServerState& state, int entries) {
  if (entries == state.Main->Capacity.load()) return;
  if (core::ResizeQueue(*state.Main, entries) == 1) {
    common::LogLine("%t %s: QueueSize %d not applied - pages are waiting in the Main queue\n",
                    common::ProgramName(), entries);
  }
}

}  // namespace

int LoadDirectory(core::ServerState& state, const std::string& path) {
  const bool present = CanOpen(path);
  std::shared_ptr<directory::Directory> dir;
  try {
    dir = std::make_shared<directory::Directory>();
  } catch (const std::bad_alloc&) {
    common::LogLine("%t %s: Error getting memeory for PAGE.INI file\n", common::ProgramName());
    return 1;
  }
  directory::PageIniSettings settings = core::CurrentSettings(state);
  directory::PageIniHooks hooks;
  hooks.RegisterPort = [&state](std::string_view port) { (void)core::RegisterPort(state, port); };
  hooks.ResizeMainQueue = [&state](int entries) { ResizeMain(state, entries); };
  const int result = directory::LoadPageIni(path, *dir, settings, hooks);
  // A page.ini that vanished for a moment must not empty the directory in force.
  if (!present) return result;
  core::InstallDirectory(state, std::move(dir));
  core::InstallSettings(state, settings);
  return result;
}

int LoadConfiguration(core::ServerState& state) {
  const int result = LoadDirectory(state, common::ConfigFile(kPageIniName));
  LoadAtFile(state);
  return result;
}

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
  (void)LoadDirectory(state, path);
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
    if (CheckPageIni(state, watch, common::ConfigFile(kPageIniName)) && newPorts) newPorts(state);
  }
}

}  // namespace server
