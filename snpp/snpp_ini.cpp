// snpp/snpp_ini.cpp - SNPP.INI: "TcpPort=444" or "TcpPort 444", comments with ; or #.
#include "snpp/snpp_ini.h"

#include <fstream>
#include <iterator>

namespace snpp {

namespace {
constexpr size_t kLineChars = 99;  // a longer line is read in pieces, each taken as a line
constexpr size_t kShortestLine = 4;
constexpr std::string_view kSeparators = " \t\n\r=";

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
}  // namespace

void ApplySnppIniLine(std::string_view line, SnppSettings& settings) {
  if (line.size() < kShortestLine || line[0] == ';' || line[0] == '#') return;
  const std::string_view key = Piece(line);
  const std::string_view value = Piece(line);
  if (key.empty() || value.empty()) return;
  if (key.find("TcpPort") == std::string_view::npos) return;

  // The leading decimal number of the value. One that names no port is refused rather than
  // cut to 16 bits, which would listen on some unrelated port.
  uint32_t port = 0;
  size_t digits = 0;
  while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9' && port <= 65535) {
    port = port * 10 + static_cast<uint32_t>(value[digits] - '0');
    ++digits;
  }
  if (digits == 0 || port > 65535) {
    settings.BadTcpPort = std::string(value);
    return;
  }
  settings.TcpPort = static_cast<uint16_t>(port);
}

int ReadSnppIni(const std::string& path, SnppSettings& settings) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return 1;
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::string_view rest = text;
  while (!rest.empty()) {
    size_t length = std::min(rest.find('\n'), rest.size() - 1) + 1;  // line end included
    length = std::min(length, kLineChars);
    ApplySnppIniLine(rest.substr(0, length), settings);
    rest.remove_prefix(length);
  }
  return 0;
}

}  // namespace snpp
