// tools/corvsim/tapm_terminal.cpp - the simulated manual-mode TAP terminal.
#include "tools/corvsim/tapm_terminal.h"

#include "tools/corvsim/ucp_centre.h"

namespace corvsim {
namespace {

constexpr size_t kMaxLine = 4096;  // longer input is cut; a real terminal beeps instead
constexpr const char* kIdPrompt = "\r\nEnter pager ID and press RETURN: ";
constexpr const char* kMessagePrompt = "\r\nEnter message and press RETURN: ";

}  // namespace

std::string TapmTerminal::OnConnect() {
  if (!options_.Greeting) return {};
  return "\r\nPAGING CENTRAL 1.8\r\nType M for manual entry\r\n";
}

std::string TapmTerminal::OnBytes(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    if (state_ == State::Silent) continue;
    if (c == '\n') continue;  // a CR ends a line; a following LF is not part of the next
    if (c != '\r') {
      if (line_.size() < kMaxLine) line_.push_back(c);
      continue;
    }
    out += OnLine(std::exchange(line_, {}));
  }
  return out;
}

std::string TapmTerminal::OnLine(const std::string& line) {
  switch (state_) {
    case State::Menu:
      if (line != "M" && line != "m") {
        records_.push_back("TAPM menu input=" + UcpEscape(line));
        return "\r\nType M for manual entry\r\n";
      }
      ++mSeen_;
      records_.push_back("TAPM mode m=" + std::to_string(mSeen_));
      if (!options_.IdPrompt || mSeen_ < options_.MNeeded) return "\r\n";
      state_ = State::PagerId;
      return kIdPrompt;
    case State::PagerId:
      pagerId_ = line;
      if (options_.NoMessagePrompt.count(line) != 0) {
        records_.push_back("TAPM refused id=" + UcpEscape(line));
        state_ = State::Silent;
        return {};
      }
      state_ = State::Message;
      return kMessagePrompt;
    case State::Message:
      records_.push_back("TAPM page id=" + UcpEscape(pagerId_) + " msg=" + UcpEscape(line));
      state_ = State::PagerId;
      return std::string("\r\nMessage accepted") + kIdPrompt;
    case State::Silent:
      break;
  }
  return {};
}

}  // namespace corvsim
