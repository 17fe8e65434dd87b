// snpp/snpp_ini.h - SNPP.INI, the SNPP server's one configuration file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ip_address.h"

namespace snpp {

constexpr int kDefaultIdleTimeoutSec = 600;
constexpr int kDefaultSessionsPerAddress = 20;

struct SnppSettings {
  uint16_t TcpPort = 0;    // 0: the system chooses a free port
  std::string BadTcpPort;  // the value of a TcpPort line that named no port, if any

  std::string BindAddress;                          // empty: every address
  std::vector<platform::AddressBlock> AllowFrom;    // empty: everyone may connect
  bool AllowFromBad = false;                        // an AllowFrom item was no address: the server must not start
  std::vector<platform::AddressBlock> ReportsFrom;  // who may use MSTA and MLOG
  bool ReportsFromSet = false;                      // false: loopback only
  int IdleTimeout = kDefaultIdleTimeoutSec;         // seconds without a line before "421"
  int SessionsPerAddress = kDefaultSessionsPerAddress;
  std::string Users;          // the LOGI users file; empty: any login is accepted
  bool RequireLogin = false;  // PAGE only after a good LOGI
  uint16_t TlsPort = 0;       // 0: no SNPP over TLS
  std::string TlsCertificate;
  std::string TlsKey;

  // One text per value that was refused ("IdleTimeout abc is not a number ..."), logged at
  // start-up; the setting keeps its default.
  std::vector<std::string> Problems;
};

// Applies one line (as read, at most 99 characters, line end included) to settings.
void ApplySnppIniLine(std::string_view line, SnppSettings& settings);

// Reads the file at path. 0, or 1 when it cannot be opened.
[[nodiscard]] int ReadSnppIni(const std::string& path, SnppSettings& settings);

// The blocks that may use the reports: ReportsFrom when it was given, else loopback.
std::vector<platform::AddressBlock> ReportsBlocks(const SnppSettings& settings);

}  // namespace snpp
