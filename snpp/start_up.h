// snpp/start_up.h - corvnet32 from its start to the moment it may listen.
#pragma once

#include "snpp/name_cache.h"
#include "snpp/services.h"
#include "snpp/snpp_ini.h"

namespace snpp {

constexpr const char* kSnppProgramName = "CORVNET32";

// Prints the banner, logs the start line, reads SNPP.INI into settings, waits for the
// paging server and fetches its names over call into names. 0 to go on; 1 when the program
// must end now (with status 0), the reason logged.
[[nodiscard]] int StartUp(SnppSettings& settings, NameCache& names, const PipeCall& call);

}  // namespace snpp
