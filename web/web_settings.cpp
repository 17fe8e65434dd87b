// web/web_settings.cpp
#include "web/web_settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace web {

namespace {

constexpr int kReadPiece = 140;  // fgets keeps 139 characters and the NUL

// The quoted value after the key word. The usual form is: key = "value". When the quote
// follows the key word at once (key="value") the first piece is the value itself.
bool QuotedValue(std::string_view rest, std::string& value) {
  std::vector<std::string_view> pieces;
  size_t at = 0;
  while (at <= rest.size() && pieces.size() < 2) {
    size_t quote = rest.find('"', at);
    if (quote == std::string_view::npos) quote = rest.size();
    if (quote > at) pieces.push_back(rest.substr(at, quote - at));
    at = quote + 1;
  }
  const bool quoteFirst = !rest.empty() && rest[0] == '"';
  if (quoteFirst && !pieces.empty() && rest.find('"', 1) != std::string_view::npos) {
    value = std::string(pieces[0]);
    return true;
  }
  if (pieces.size() < 2) return false;
  value = std::string(pieces[1]);
  return true;
}

}  // namespace

void ReadWebSettings(const std::string& fileName, WebSettings& settings) {
  std::FILE* file = std::fopen(fileName.c_str(), "r");
  if (file == nullptr) return;
  char buffer[kReadPiece];
  while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
    const std::string_view line(buffer);
    const size_t wordStart = line.find_first_not_of(" =\n");
    if (wordStart == std::string_view::npos) continue;
    size_t wordEnd = line.find_first_of(" =\n", wordStart);
    if (wordEnd == std::string_view::npos) wordEnd = line.size();
    const std::string_view word = line.substr(wordStart, wordEnd - wordStart);
    const std::string_view rest = wordEnd < line.size() ? line.substr(wordEnd + 1) : std::string_view();

    struct TextKey {
      const char* Name;
      std::string* Field;
    };
    const TextKey textKeys[] = {
        {"LanServerName", &settings.LanServerName},   {"StartingHtmlFile", &settings.StartingHtmlFile},
        {"OkHtmlFile", &settings.OkHtmlFile},         {"BadHtmlFile", &settings.BadHtmlFile},
        {"EndingHtmlFile", &settings.EndingHtmlFile}, {"HostName", &settings.HostName},
        {"HtmlFolder", &settings.HtmlFolder},
    };
    bool matched = false;
    for (const TextKey& key : textKeys) {
      if (word.find(key.Name) == std::string_view::npos) continue;
      matched = true;
      std::string value;
      if (QuotedValue(rest, value)) {
        // An empty pair of quotes leaves only the line end as the piece; that means no value.
        while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
        if (key.Field == &settings.HostName && value.size() > kHostNameField - 1) value.resize(kHostNameField - 1);
        *key.Field = value;
      }
      break;
    }
    if (matched || word.find("TcpPort") == std::string_view::npos) continue;
    const size_t numberStart = rest.find_first_not_of(" =\"");
    if (numberStart == std::string_view::npos) continue;
    const long port = std::strtol(std::string(rest.substr(numberStart)).c_str(), nullptr, 10);
    if (port > 0 && port <= 65535) settings.TcpPort = static_cast<uint16_t>(port);
  }
  std::fclose(file);
}

}  // namespace web
