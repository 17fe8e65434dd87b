// http/tokens.cpp
#include "http/tokens.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace corvhttp {

namespace {

bool SameBytes(std::string_view a, std::string_view b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

}  // namespace

int TokenSet::Load(const std::string& path, std::string& problem) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  std::ifstream file(path, std::ios::binary);
  if (ec || !file) {
    problem = "Tokens file " + path + " cannot be read";
    return kUnreadable;
  }
  using std::filesystem::perms;
  if ((status.permissions() & (perms::others_read | perms::others_write)) != perms::none) {
    problem = "Tokens file " + path + " is readable or writable by every user - make it chmod 640 or 600";
    return kOpenToOthers;
  }
  Parse(std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()));
  if (tokens_.empty()) {
    problem = "Tokens file " + path + " holds no token";
    return kNoTokens;
  }
  return kLoaded;
}

void TokenSet::Parse(std::string_view text) {
  tokens_.clear();
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty() || line[0] == '#') continue;
    tokens_.emplace_back(line);
  }
}

bool TokenSet::Accepts(std::string_view authorization) const {
  authorization = Trim(authorization);
  constexpr std::string_view kScheme = "bearer ";
  if (authorization.size() <= kScheme.size()) return false;
  for (size_t i = 0; i < kScheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(authorization[i])) != kScheme[i]) return false;
  }
  const std::string_view token = Trim(authorization.substr(kScheme.size()));
  bool found = false;
  for (const std::string& known : tokens_) found |= SameBytes(token, known);
  return found && !token.empty();
}

}  // namespace corvhttp
