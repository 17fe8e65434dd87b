// core/configuration_load.cpp - page.ini loads that swap the directory whole, and at.dat.
#include "core/configuration_load.h"

#include <cstdio>
#include <memory>
#include <new>

#include "common/config_path.h"
#include "common/log.h"
#include "core/at_file.h"
#include "core/now_queue.h"
#include "directory/page_ini.h"

namespace core {

namespace {

bool CanOpen(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  std::fclose(f);
  return true;
}

void ResizeMain(ServerState& state, int entries) {
  if (entries == state.Main->Capacity.load()) return;
  if (ResizeQueue(*state.Main, entries) == 1) {
    common::LogLine("%t %s: QueueSize %d not applied - pages are waiting in the Main queue\n", common::ProgramName(),
                    entries);
  }
}

}  // namespace

int LoadDirectory(ServerState& state, const std::string& path, PageIniReader reader) {
  const bool present = CanOpen(path);
  std::shared_ptr<directory::Directory> dir;
  try {
    dir = std::make_shared<directory::Directory>();
  } catch (const std::bad_alloc&) {
    common::LogLine("%t %s: Error getting memeory for PAGE.INI file\n", common::ProgramName());
    return 1;
  }
  directory::PageIniSettings settings = CurrentSettings(state);
  directory::PageIniHooks hooks;
  if (reader == PageIniReader::kServer) {
    hooks.RegisterPort = [&state](std::string_view port) { (void)RegisterPort(state, port); };
    hooks.ResizeMainQueue = [&state](int entries) { ResizeMain(state, entries); };
  } else {
    dir->CheckPersonSystems = false;
  }
  const int result = directory::LoadPageIni(path, *dir, settings, hooks);
  if (!present) return result;
  InstallDirectory(state, std::move(dir));
  InstallSettings(state, settings);
  return result;
}

int LoadConfiguration(ServerState& state, PageIniReader reader) {
  const int result = LoadDirectory(state, common::ConfigFile(kPageIniName), reader);
  LoadAtFile(state);
  return result;
}

}  // namespace core
