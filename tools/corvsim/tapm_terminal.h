// tools/corvsim/tapm_terminal.h - a TAP terminal in manual (interactive) mode.
//
// After the connection it greets with a line; it enters manual mode after the configured
// number of "M" lines (1 or 2) and then prompts for a pager ID and a message, each prompt
// ending in the word RETURN in the middle of a line. Every page it takes is recorded.
// Pure: bytes in, bytes out.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvsim {

struct TapmOptions {
  int MNeeded = 1;                        // "M" lines before the pager-ID prompt
  bool Greeting = true;                   // false: say nothing after CONNECT
  bool IdPrompt = true;                   // false: never leave the menu (no pager-ID prompt)
  std::set<std::string> NoMessagePrompt;  // pager IDs after which the terminal goes silent
};

class TapmTerminal {
 public:
  explicit TapmTerminal(TapmOptions options) : options_(std::move(options)) {}

  // What the terminal says when the call is connected.
  std::string OnConnect();
  // Bytes from the caller; returns the terminal's answer.
  std::string OnBytes(std::string_view bytes);

  const std::vector<std::string>& Records() const { return records_; }
  std::vector<std::string> TakeRecords() { return std::exchange(records_, {}); }

 private:
  std::string OnLine(const std::string& line);

  enum class State { Menu, PagerId, Message, Silent };
  TapmOptions options_;
  State state_ = State::Menu;
  int mSeen_ = 0;
  std::string line_;
  std::string pagerId_;
  std::vector<std::string> records_;
};

}  // namespace corvsim
