// snpp/snpp_ini.h - SNPP.INI, the SNPP server's one configuration file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace snpp {

struct SnppSettings {
  uint16_t TcpPort = 0;    // 0: the system chooses a free port
  std::string BadTcpPort;  // the value of a TcpPort line that named no port, if any
};

// Applies one line (as read, at most 99 characters, line end included) to settings.
void ApplySnppIniLine(std::string_view line, SnppSettings& settings);

// Reads the file at path. 0, or 1 when it cannot be opened.
[[nodiscard]] int ReadSnppIni(const std::string& path, SnppSettings& settings);

}  // namespace snpp
