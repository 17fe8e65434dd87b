// snpp/start_up.h - corvnet32 from its start to the moment it may listen.
#pragma once

#include "snpp/name_cache.h"
#include "snpp/services.h"
#include "snpp/snpp_ini.h"
#include "snpp/tls_channel.h"
#include "snpp/users.h"

namespace snpp {

constexpr const char* kSnppProgramName = "CORVNET32";

// StartUp's results.
constexpr int kStartUpOk = 0;
constexpr int kStartUpEnd = 1;      // end now with status 0 (no SNPP.INI, no paging server)
constexpr int kStartUpRefused = 2;  // a setting cannot be used safely: end with status 2

// Prints the banner, logs the start line, reads SNPP.INI into settings (refused values are
// logged and keep their defaults), loads the Users file into users and the TLS certificate
// into tls when SNPP.INI names them, waits for the paging server and fetches its names over
// call into names. One of the results above, the reason logged.
[[nodiscard]] int StartUp(SnppSettings& settings, NameCache& names, const PipeCall& call, UserTable& users,
                          TlsServerContext& tls);

}  // namespace snpp
