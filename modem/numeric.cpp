// modem/numeric.cpp - numeric paging by DTMF dialling.
#include "modem/numeric.h"

#include <algorithm>

#include "common/format_text.h"

namespace modem {
namespace {

// The pace of a typical Hayes modem: S8 (comma pause) 2 s, about 0.2 s per tone with its gap.
constexpr int64_t kCommaMs = 2000;
constexpr int64_t kToneMs = 200;
constexpr int64_t kMarginMs = 5000;
constexpr int64_t kMinimumWaitMs = 20000;

}  // namespace

std::string NumericToneString(std::string_view message) {
  std::string tones;
  for (char c : message) {
    if (tones.size() >= kMaxToneDigits) break;
    if ((c >= '0' && c <= '9') || c == '*' || c == '#') tones.push_back(c);
  }
  return tones;
}

std::string NumericDialString(std::string_view prefix, std::string_view number,
                              std::string_view pagerId, std::string_view tones) {
  if (!number.empty()) {
    if (prefix.empty()) return common::FormatText("ATDT %s,,%s,,,%s\r", number, pagerId, tones);
    return common::FormatText("ATDT %s,%s,,%s,,,%s\r", prefix, number, pagerId, tones);
  }
  if (prefix.empty()) return common::FormatText("ATDT %s,,%s\r", pagerId, tones);
  return common::FormatText("ATDT %s,%s,,%s\r", prefix, pagerId, tones);
}

int64_t NumericWaitMs(std::string_view dialString) {
  std::string_view dialled = dialString;
  if (dialled.substr(0, 4) == "ATDT") dialled.remove_prefix(4);
  int64_t playMs = 0;
  for (char c : dialled) {
    if (c == ',') {
      playMs += kCommaMs;
    } else if (c != ' ' && c != '\r' && c != '\n') {
      playMs += kToneMs;
    }
  }
  return std::max(kMinimumWaitMs, playMs + kMarginMs);
}

}  // namespace modem
