// server/configuration.h - loading page.ini (start-up and reload) and at.dat, and the
// page.ini change watch.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "core/server_state.h"

namespace server {

constexpr const char* kPageIniName = "page.ini";

// Reads page.ini into a fresh directory with the settings as they stand and swaps both in,
// so no reader ever sees a half-loaded directory; ports are registered and the Main queue
// resized (only while it is empty) on the way. A file that cannot be opened at all keeps
// the directory in force. Returns LoadPageIni's result (0, or 1).
int LoadDirectory(core::ServerState& state, const std::string& path = kPageIniName);

// Start-up: page.ini, then at.dat. Returns the page.ini result.
int LoadConfiguration(core::ServerState& state);

// The remembered last-write time of page.ini, packed (year field 0 = nothing yet).
struct IniWatch {
  uint32_t IniStamp = 0;
};

// One comparison of page.ini's time of day with the remembered one and, when it differs,
// one reload ("PAGE.INI has changed - Re-reading file"). True when it reloaded.
bool CheckPageIni(core::ServerState& state, IniWatch& watch, const std::string& path = kPageIniName);

// Called after each reload with the state; starts dial threads for new ports.
using NewPortsHook = void (*)(core::ServerState& state);

// The changed-INI thread: a check every 120 s, the first one 120 s after start.
void ChangedIniFileThread(core::ServerState& state, NewPortsHook newPorts, std::stop_token stop);

}  // namespace server
