// core/configuration_load.h - page.ini and at.dat into the paging server's state, at
// start-up and on a reload; corvsend reads its directory the same way.
#pragma once

#include <string>

#include "core/server_state.h"

namespace core {

constexpr const char* kPageIniName = "page.ini";

// Who reads page.ini. The paging server registers each system's ports with the NOW queues
// and resizes the Main queue. corvsend only routes by the directory and sends the ID on
// unchanged, so it registers nothing and keeps an Alphanumeric person whose system is
// unknown (the server drops one with "System Name not valid for name").
enum class PageIniReader { kServer, kClient };

// Reads page.ini into a fresh directory with the settings as they stand and swaps both in,
// so no reader ever sees a half-loaded directory. A file that cannot be opened at all keeps
// the directory in force (one that vanished for a moment must not empty it). Returns
// LoadPageIni's result: 0, or 1 for a missing file, no memory or a syntax error.
int LoadDirectory(ServerState& state, const std::string& path = kPageIniName,
                  PageIniReader reader = PageIniReader::kServer);

// Start-up: page.ini, then at.dat (which never fails). Returns the page.ini result.
int LoadConfiguration(ServerState& state, PageIniReader reader = PageIniReader::kServer);

}  // namespace core
