// http/http_ini.cpp
#include "http/http_ini.h"

#include <charconv>
#include <fstream>
#include <iterator>

#include "platform/ip_address.h"

namespace corvhttp {

namespace {
constexpr std::string_view kSeparators = " \t\n\r=";
constexpr size_t kLineChars = 999;  // paths may be long; a longer line is read in pieces

std::string_view Piece(std::string_view& line) {
  const size_t start = line.find_first_not_of(kSeparators);
  if (start == std::string_view::npos) {
    line = {};
    return {};
  }
  line.remove_prefix(start);
  const size_t end = std::min(line.find_first_of(kSeparators), line.size());
  const std::string_view piece = line.substr(0, end);
  line.remove_prefix(end);
  return piece;
}

bool Number(std::string_view value, int min, int max, int& out) {
  int n = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (value.empty() || ec != std::errc() || end != value.data() + value.size() || n < min || n > max) return false;
  out = n;
  return true;
}
}  // namespace

void ApplyHttpIniLine(std::string_view line, HttpSettings& settings) {
  if (line.empty() || line[0] == ';' || line[0] == '#') return;
  const std::string_view key = Piece(line);
  const std::string_view value = Piece(line);
  if (key.empty() || value.empty()) return;
  int n = 0;
  if (key == "HttpPort") {
    if (Number(value, 1, 65535, n)) {
      settings.HttpPort = static_cast<uint16_t>(n);
    } else {
      settings.Problems.push_back("HttpPort " + std::string(value) + " is not a port number (1-65535)");
    }
  } else if (key == "BindAddress") {
    platform::IpAddress ip;
    if (platform::ParseIpAddress(value, ip)) {
      settings.BindAddress = std::string(value);
    } else {
      settings.Problems.push_back("BindAddress " + std::string(value) + " is not an address");
    }
  } else if (key == "TlsCertificate") {
    settings.TlsCertificate = std::string(value);
  } else if (key == "TlsKey") {
    settings.TlsKey = std::string(value);
  } else if (key == "Tokens") {
    settings.Tokens = std::string(value);
  } else if (key == "HookMessageLength") {
    if (Number(value, 20, 4000, n)) {
      settings.HookMessageLength = n;
    } else {
      settings.Problems.push_back("HookMessageLength " + std::string(value) + " is not a number from 20 to 4000");
    }
  }
}

int ReadHttpIni(const std::string& path, HttpSettings& settings) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return 1;
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::string_view rest = text;
  while (!rest.empty()) {
    size_t length = std::min(rest.find('\n'), rest.size() - 1) + 1;
    length = std::min(length, kLineChars);
    ApplyHttpIniLine(rest.substr(0, length), settings);
    rest.remove_prefix(length);
  }
  return 0;
}

}  // namespace corvhttp
