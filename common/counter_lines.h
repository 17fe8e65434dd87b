// common/counter_lines.h - the figure lines of the pipe's counters reply (request type 10):
// "name<TAB>value[<TAB>label=value]..." one a line after "OK\n". corvd32 writes them,
// corvhttp reads them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace common {

struct CounterFigure {
  std::string Name;
  int64_t Value = 0;
  std::vector<std::pair<std::string, std::string>> Labels;  // in the order written
};

// A label value with its backslash, tab, CR and line feed escaped, so it stays in its field.
std::string EscapeCounterText(std::string_view text);
// The reverse; an unknown escape keeps its character, a lone final backslash stays.
std::string UnescapeCounterText(std::string_view text);

// One line, with its line feed.
std::string CounterLine(const CounterFigure& figure);

// Reads a counters reply. 0 with every well-formed line in figures; 1 when the reply does
// not begin with "OK\n" (figures then empty). A malformed line (no value, a value that is
// no integer, a label without "=") is skipped and counted in skipped.
[[nodiscard]] int ParseCounterReply(std::string_view reply, std::vector<CounterFigure>& figures, int& skipped);

}  // namespace common
