// tools/corvsim/numeric_endpoint.cpp - pacing of a simulated touch-tone call.
#include "tools/corvsim/numeric_endpoint.h"

namespace corvsim {

std::string NumericDialled(std::string_view command) {
  std::string_view rest = command;
  if (rest.size() >= 4 && (rest.substr(0, 4) == "ATDT" || rest.substr(0, 4) == "atdt")) rest.remove_prefix(4);
  std::string dialled;
  for (char c : rest) {
    if (c == '\r' || c == '\n') break;
    if (c != ' ') dialled.push_back(c);
  }
  return dialled;
}

int64_t NumericPlayMs(std::string_view dialled) {
  int64_t ms = 0;
  for (char c : dialled) ms += c == ',' ? kNumericCommaMs : kNumericToneMs;
  return ms;
}

std::string NumericPlayedBy(std::string_view dialled, int64_t elapsedMs) {
  int64_t at = 0;
  size_t n = 0;
  for (; n < dialled.size(); ++n) {
    at += dialled[n] == ',' ? kNumericCommaMs : kNumericToneMs;
    if (at > elapsedMs) break;
  }
  return std::string(dialled.substr(0, n));
}

std::string NumericRecord(std::string_view dialled, int64_t elapsedMs) {
  const std::string played = NumericPlayedBy(dialled, elapsedMs);
  return "NUMERIC dial=" + std::string(dialled) + " played=" + played +
         " complete=" + (played.size() == dialled.size() ? "yes" : "no") + " hangup_ms=" + std::to_string(elapsedMs);
}

}  // namespace corvsim
