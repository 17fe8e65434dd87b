// http/http_ini_fuzz.cpp - libFuzzer target: HTTP.INI lines.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "http/http_ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  corvhttp::HttpSettings settings;
  while (!rest.empty()) {
    const size_t length = std::min(rest.find('\n'), rest.size() - 1) + 1;
    corvhttp::ApplyHttpIniLine(rest.substr(0, length), settings);
    rest.remove_prefix(length);
  }
  if (settings.HttpPort == 0 || settings.HookMessageLength < 20) __builtin_trap();
  return 0;
}
