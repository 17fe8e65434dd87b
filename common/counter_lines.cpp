// common/counter_lines.cpp
#include "common/counter_lines.h"

#include <charconv>

namespace common {

std::string EscapeCounterText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string UnescapeCounterText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
  }
  return out;
}

std::string CounterLine(const CounterFigure& figure) {
  std::string line = figure.Name;
  line += '\t';
  line += std::to_string(figure.Value);
  for (const auto& [label, value] : figure.Labels) {
    line += '\t';
    line += label;
    line += '=';
    line += EscapeCounterText(value);
  }
  line += '\n';
  return line;
}

namespace {

bool ParseLine(std::string_view line, CounterFigure& figure) {
  std::vector<std::string_view> fields;
  for (size_t start = 0;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  if (fields.size() < 2 || fields[0].empty()) return false;
  const std::string_view value = fields[1];
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), figure.Value);
  if (ec != std::errc() || end != value.data() + value.size()) return false;
  figure.Name = std::string(fields[0]);
  for (size_t i = 2; i < fields.size(); ++i) {
    const size_t eq = fields[i].find('=');
    if (eq == std::string_view::npos || eq == 0) return false;
    figure.Labels.emplace_back(std::string(fields[i].substr(0, eq)), UnescapeCounterText(fields[i].substr(eq + 1)));
  }
  return true;
}

}  // namespace

int ParseCounterReply(std::string_view reply, std::vector<CounterFigure>& figures, int& skipped) {
  figures.clear();
  skipped = 0;
  if (reply.substr(0, 3) != "OK\n") return 1;
  reply.remove_prefix(3);
  while (!reply.empty()) {
    const size_t end = reply.find('\n');
    const std::string_view line = reply.substr(0, end);
    reply.remove_prefix(end == std::string_view::npos ? reply.size() : end + 1);
    if (line.empty()) continue;
    CounterFigure figure;
    if (ParseLine(line, figure)) {
      figures.push_back(std::move(figure));
    } else {
      ++skipped;
    }
  }
  return 0;
}

}  // namespace common
