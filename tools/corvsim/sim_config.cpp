// tools/corvsim/sim_config.cpp - reading the simulator's configuration.
#include "tools/corvsim/sim_config.h"

#include <cctype>
#include <cstdlib>

namespace corvsim {
namespace {

std::string Trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return std::string(s.substr(a, b - a));
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string SectionConfig::Get(const std::string& key, const std::string& fallback) const {
  const auto it = Options.find(key);
  return it == Options.end() ? fallback : it->second;
}

long SectionConfig::GetInt(const std::string& key, long fallback) const {
  const std::string text = Get(key);
  if (text.empty()) return fallback;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  return (end && *end == '\0') ? value : fallback;
}

bool SectionConfig::GetBool(const std::string& key, bool fallback) const {
  const std::string text = Lower(Get(key));
  if (text.empty()) return fallback;
  return text == "on" || text == "yes" || text == "true" || text == "1";
}

std::vector<std::string> SectionConfig::GetList(const std::string& key) const {
  std::vector<std::string> items;
  std::string item;
  for (char c : Get(key) + " ") {
    if (c == ' ' || c == ',' || c == '\t') {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  return items;
}

const SectionConfig* SimConfig::FindNumber(std::string_view dialled) const {
  size_t at = 0;
  while (at <= dialled.size()) {
    size_t end = dialled.find(',', at);
    if (end == std::string_view::npos) end = dialled.size();
    const std::string field = Trim(dialled.substr(at, end - at));
    if (!field.empty()) {
      for (const SectionConfig& number : Numbers) {
        if (number.Number == field) return &number;
      }
    }
    at = end + 1;
  }
  return nullptr;
}

bool ParseSimConfig(std::string_view text, SimConfig& config, std::string& error) {
  config = SimConfig{};
  SectionConfig* section = &config.Modem;
  int lineNumber = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string line = Trim(text.substr(at, end - at));
    at = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') {
        error = "line " + std::to_string(lineNumber) + ": section header without ]";
        return false;
      }
      const std::string name = Trim(std::string_view(line).substr(1, line.size() - 2));
      const std::string lower = Lower(name);
      if (lower == "modem") {
        section = &config.Modem;
      } else if (lower == "direct") {
        config.Direct.emplace();
        section = &*config.Direct;
      } else if (lower == "tap-tcp") {
        config.TapTcp.emplace();
        section = &*config.TapTcp;
      } else if (lower == "wctp") {
        config.Wctp.emplace();
        section = &*config.Wctp;
      } else if (lower.rfind("number", 0) == 0 && name.size() > 6) {
        config.Numbers.push_back(SectionConfig{Trim(std::string_view(name).substr(6)), {}});
        section = &config.Numbers.back();
      } else {
        error = "line " + std::to_string(lineNumber) + ": unknown section [" + name + "]";
        return false;
      }
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      error = "line " + std::to_string(lineNumber) + ": expected key = value";
      return false;
    }
    std::string value = Trim(std::string_view(line).substr(eq + 1));
    // A comment may follow the value after blanks.
    for (const char* mark : {" #", " ;", "\t#", "\t;"}) {
      const size_t c = value.find(mark);
      if (c != std::string::npos) value = Trim(std::string_view(value).substr(0, c));
    }
    section->Options[Lower(Trim(std::string_view(line).substr(0, eq)))] = value;
  }
  return true;
}

}  // namespace corvsim
