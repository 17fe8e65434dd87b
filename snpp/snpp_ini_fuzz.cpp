// snpp/snpp_ini_fuzz.cpp - libFuzzer target: SNPP.INI lines, and the settings they leave.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "snpp/snpp_ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  snpp::SnppSettings settings;
  while (!rest.empty()) {  // as ReadSnppIni cuts the file
    size_t length = std::min(rest.find('\n'), rest.size() - 1) + 1;
    length = std::min<size_t>(length, 99);
    snpp::ApplySnppIniLine(rest.substr(0, length), settings);
    rest.remove_prefix(length);
  }
  if (settings.IdleTimeout < 1 || settings.SessionsPerAddress < 1) __builtin_trap();
  (void)snpp::ReportsBlocks(settings);
  return 0;
}
