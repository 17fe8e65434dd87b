// tools/corvsim/script_endpoint.h - a paging system with a dialogue of its own, for the
// script driver: configured pairs of a text to wait for and an answer to send, and a
// record of everything the computer sent, line by line with the time it arrived.
// Pure: bytes in, bytes out; the caller passes the time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvsim {

struct ScriptStepOptions {
  std::string Expect;  // text to see in what the computer sends; empty = at once
  std::string Send;    // answer once it was seen
};

class ScriptEndpoint {
 public:
  explicit ScriptEndpoint(std::vector<ScriptStepOptions> steps) : steps_(std::move(steps)) {}

  // The call is connected at nowMs; answers of steps that expect nothing go out now.
  std::string OnConnect(int64_t nowMs);
  // Bytes from the computer at nowMs; returns the answers that became due.
  std::string OnBytes(std::string_view bytes, int64_t nowMs);
  // The call ended: the unfinished line and the whole stream are recorded.
  void OnHangup(int64_t nowMs);

  const std::vector<std::string>& Records() const { return records_; }
  std::vector<std::string> TakeRecords() { return std::exchange(records_, {}); }

 private:
  std::string Advance();

  std::vector<ScriptStepOptions> steps_;
  size_t next_ = 0;
  std::string window_;  // received since the last step matched
  std::string line_;    // received since the last CR or LF
  std::string all_;     // everything received in this call (bounded)
  int64_t connectMs_ = 0;
  std::vector<std::string> records_;
};

// Parses "expect=>send|expect=>send" (the simulator's configuration form; \r, \n and \xHH
// escapes in both texts). Pairs without "=>" are answers to nothing (expect empty).
std::vector<ScriptStepOptions> ParseScriptSteps(std::string_view text);

}  // namespace corvsim
