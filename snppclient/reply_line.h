// snppclient/reply_line.h - the pure half of the SNPP client: reply lines out of the
// server's byte stream, and what one line says. Nothing here touches a socket.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace snppclient {

constexpr size_t kReplyLineLimit = 299;  // a held line and its line feed stay below this

// Cuts a byte stream into lines at each line feed. A line is handed on with its line end;
// one longer than kReplyLineLimit - 1 characters keeps its first 298 and its line feed (the
// rest is dropped), so its code survives and nothing a server sends can grow without bound.
class ReplyLineReader {
 public:
  // Takes one received block and calls onLine(line) for each line it completes; an
  // unfinished line waits for the next block.
  template <typename OnLine>
  void Feed(std::string_view bytes, OnLine&& onLine) {
    for (const char c : bytes) {
      if (c == '\n') {
        partial_ += c;
        onLine(std::string_view(partial_));
        partial_.clear();
      } else if (partial_.size() < kReplyLineLimit - 1) {
        partial_ += c;
      }
    }
  }
  // Forgets an unfinished line (a new connection starts clean).
  void Clear() { partial_.clear(); }
  const std::string& Partial() const { return partial_; }

 private:
  std::string partial_;
};

// The decimal number at the start of a line (after blanks and tabs); 0 when the line
// starts with no digit (a sign is no digit). A run of digits longer than a reply code stops
// growing the value, so no line can overflow it.
int ReplyCode(std::string_view line);

// The text of a 214 (report) or 216 (name) line: what follows the code and its separator,
// cut at its first CR or LF. A text that begins with CR or LF is an empty line of a report
// and is kept whole, line end included, so it can be shown as the server sent it.
std::string_view ReplyText(std::string_view line);

}  // namespace snppclient
