// http/http_ini.h - HTTP.INI, corvhttp's settings, in SNPP.INI's "Key=value" form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvhttp {

constexpr uint16_t kDefaultHttpPort = 8025;
constexpr int kDefaultHookMessageLength = 230;  // page.ini's default MaxMessageLength

struct HttpSettings {
  uint16_t HttpPort = kDefaultHttpPort;
  std::string BindAddress;  // empty: every address
  std::string TlsCertificate;
  std::string TlsKey;
  std::string Tokens;                                 // the bearer tokens file; empty: none (only loopback /metrics)
  int HookMessageLength = kDefaultHookMessageLength;  // a webhook's page text is cut to this
  std::vector<std::string> Problems;                  // refused values, for the log
};

// Applies one line (line end allowed): "Key=value" or "Key value"; ";" and "#" begin
// comments. Unknown keys are ignored, as in SNPP.INI.
void ApplyHttpIniLine(std::string_view line, HttpSettings& settings);

// Reads the file at path. 0, or 1 when it cannot be opened.
[[nodiscard]] int ReadHttpIni(const std::string& path, HttpSettings& settings);

}  // namespace corvhttp
