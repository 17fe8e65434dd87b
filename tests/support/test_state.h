// tests/support/test_state.h - a ServerState loaded from page.ini text, for the unit tests
// of core/ and server/. Log lines go to a file of the test's own.
#pragma once

#include <memory>
#include <string>

#include "common/log.h"
#include "core/now_queue.h"
#include "core/server_state.h"
#include "directory/page_ini.h"

namespace core {

inline std::unique_ptr<ServerState> StateFromIni(const std::string& ini, const std::string& logFile) {
  common::SetProgramName(kServerProgramName);
  common::SetLogFileName(logFile);
  auto state = AllocateServerState();
  ApplyDefaults(*state);
  auto dir = std::make_shared<directory::Directory>();
  directory::PageIniSettings settings = CurrentSettings(*state);
  directory::PageIniHooks hooks;
  ServerState* s = state.get();
  hooks.RegisterPort = [s](std::string_view port) { (void)RegisterPort(*s, port); };
  hooks.ResizeMainQueue = [s](int entries) { (void)ResizeQueue(*s->Main, entries); };
  (void)directory::ParsePageIniText(ini, "page.ini", *dir, settings, hooks);
  InstallDirectory(*state, std::move(dir));
  InstallSettings(*state, settings);
  common::SetLogFileName(logFile);  // a LogFileName line in the text must not leave the test's file
  return state;
}

// Ann and Bob on Metro (COM1, COM2, limit 230), Carl numeric, the group Team of all three.
inline const char* kTwoPortIni =
    "PagerSystemsSection\n"
    "[Metro]\nSystemType = Tap\nPort = 'COM1'\nPort = 'COM2'\nMaxMessageLength = 230\n"
    "[Numeric]\nPort = 'COM3'\nMaxMessageLength = 80\n"
    "NameSection\n"
    "[Ann]\nPageID = '1001'\nPagerType = Alphanumeric\nSystemName = 'Metro'\nGroup = 'Team'\n"
    "[Bob]\nPageID = '1002'\nPagerType = Alphanumeric\nSystemName = 'Metro'\nGroup = 'Team'\n"
    "[Carl]\nPageID = '2001'\nPagerType = Numeric\nGroup = 'Team'\n";

}  // namespace core
