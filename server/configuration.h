// server/configuration.h - the page.ini change watch of the paging server. The loads
// themselves (start-up and reload) are core/configuration_load.h.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "core/configuration_load.h"
#include "core/server_state.h"

namespace server {

// The remembered last-write time of page.ini, packed (year field 0 = nothing yet).
struct IniWatch {
  uint32_t IniStamp = 0;
};

// One comparison of page.ini's time of day with the remembered one and, when it differs,
// one reload ("PAGE.INI has changed - Re-reading file"). True when it reloaded.
bool CheckPageIni(core::ServerState& state, IniWatch& watch, const std::string& path = core::kPageIniName);

// Called after each reload with the state; starts dial threads for new ports.
using NewPortsHook = void (*)(core::ServerState& state);

// The changed-INI thread: a check every 120 s, the first one 120 s after start.
void ChangedIniFileThread(core::ServerState& state, NewPortsHook newPorts, std::stop_token stop);

}  // namespace server
