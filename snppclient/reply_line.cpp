// snppclient/reply_line.cpp - reply codes and texts.
#include "snppclient/reply_line.h"

#include <cctype>

namespace snppclient {

namespace {
constexpr int kCodeCap = 100000;  // beyond any reply code; stops an overflow on a digit run
}  // namespace

int ReplyCode(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  int value = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) && value < kCodeCap) {
    value = value * 10 + (line[i] - '0');
    ++i;
  }
  return value;
}

std::string_view ReplyText(std::string_view line) {
  std::string_view text = line.size() > 4 ? line.substr(4) : std::string_view();
  if (!text.empty() && (text[0] == '\r' || text[0] == '\n')) return text;
  return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace snppclient
