// snpp/snpp_ini.cpp - SNPP.INI: "TcpPort=444" or "TcpPort 444", comments with ; or #.
#include "snpp/snpp_ini.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <iterator>

namespace snpp {

namespace {
constexpr size_t kLineChars = 99;  // a longer line is read in pieces, each taken as a line
constexpr size_t kShortestLine = 4;
constexpr std::string_view kSeparators = " \t\n\r=";
constexpr int kMaxIdleTimeoutSec = 86400;
constexpr int kMaxSessionsPerAddress = 150;  // every slot

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

// The leading decimal number of value, refused (false) when there is none or it passes max.
bool LeadingNumber(std::string_view value, uint32_t max, uint32_t& out) {
  uint32_t n = 0;
  size_t digits = 0;
  while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9' && n <= max) {
    n = n * 10 + static_cast<uint32_t>(value[digits] - '0');
    ++digits;
  }
  if (digits == 0 || n > max) return false;
  out = n;
  return true;
}

void SetPort(std::string_view key, std::string_view value, uint16_t& port, SnppSettings& settings) {
  uint32_t n = 0;
  if (!LeadingNumber(value, 65535, n) || n == 0) {
    settings.Problems.push_back(std::string(key) + " " + std::string(value) + " is not a port number (1-65535)");
    return;
  }
  port = static_cast<uint16_t>(n);
}

void SetNumber(std::string_view key, std::string_view value, int min, int max, int& field, SnppSettings& settings) {
  int n = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (value.empty() || ec != std::errc() || end != value.data() + value.size() || n < min || n > max) {
    settings.Problems.push_back(std::string(key) + " " + std::string(value) + " is not a number from " +
                                std::to_string(min) + " to " + std::to_string(max));
    return;
  }
  field = n;
}

// A list is the rest of the line after the key, so "AllowFrom = a, b" keeps both; a list
// key given on several lines adds up.
void AddBlocks(std::string_view key, std::string_view rest, std::vector<platform::AddressBlock>& list,
               SnppSettings& settings) {
  const size_t start = rest.find_first_not_of(kSeparators);
  rest = start == std::string_view::npos ? std::string_view() : rest.substr(start);
  std::vector<std::string> bad;
  for (const platform::AddressBlock& block : platform::ParseAddressList(rest, bad)) list.push_back(block);
  for (const std::string& item : bad) {
    settings.Problems.push_back(std::string(key) + " " + item + " is not an address or address/bits");
  }
}

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

void ApplySnppIniLine(std::string_view line, SnppSettings& settings) {
  if (line.size() < kShortestLine || line[0] == ';' || line[0] == '#') return;
  const std::string_view key = Piece(line);
  const std::string_view afterKey = line;
  const std::string_view value = Piece(line);
  if (key.empty() || value.empty()) return;

  if (key.find("TcpPort") != std::string_view::npos) {
    // The leading decimal number of the value. One that names no port is refused rather
    // than cut to 16 bits, which would listen on some unrelated port.
    uint32_t port = 0;
    if (!LeadingNumber(value, 65535, port)) {
      settings.BadTcpPort = std::string(value);
      return;
    }
    settings.TcpPort = static_cast<uint16_t>(port);
  } else if (key == "BindAddress") {
    platform::IpAddress ip;
    if (platform::ParseIpAddress(value, ip)) {
      settings.BindAddress = std::string(value);
    } else {
      settings.Problems.push_back("BindAddress " + std::string(value) + " is not an address");
    }
  } else if (key == "AllowFrom") {
    const size_t before = settings.Problems.size();
    AddBlocks(key, afterKey, settings.AllowFrom, settings);
    // Ignoring a bad item could leave the list empty, which lets everyone in.
    if (settings.Problems.size() != before) settings.AllowFromBad = true;
  } else if (key == "ReportsFrom") {
    settings.ReportsFromSet = true;
    AddBlocks(key, afterKey, settings.ReportsFrom, settings);
  } else if (key == "IdleTimeout") {
    SetNumber(key, value, 1, kMaxIdleTimeoutSec, settings.IdleTimeout, settings);
  } else if (key == "SessionsPerAddress") {
    SetNumber(key, value, 1, kMaxSessionsPerAddress, settings.SessionsPerAddress, settings);
  } else if (key == "Users") {
    settings.Users = std::string(value);
  } else if (key == "RequireLogin") {
    if (SameWord(value, "Enabled")) {
      settings.RequireLogin = true;
    } else if (SameWord(value, "Disabled")) {
      settings.RequireLogin = false;
    } else {
      settings.Problems.push_back("RequireLogin " + std::string(value) + " is neither Enabled nor Disabled");
    }
  } else if (key == "TlsPort") {
    SetPort(key, value, settings.TlsPort, settings);
  } else if (key == "TlsCertificate") {
    settings.TlsCertificate = std::string(value);
  } else if (key == "TlsKey") {
    settings.TlsKey = std::string(value);
  }
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

std::vector<platform::AddressBlock> ReportsBlocks(const SnppSettings& settings) {
  return settings.ReportsFromSet ? settings.ReportsFrom : platform::LoopbackBlocks();
}

}  // namespace snpp
