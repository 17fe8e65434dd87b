// tools/corvsim/script_endpoint.cpp - the simulated scripted paging system.
#include "tools/corvsim/script_endpoint.h"

#include "tools/corvsim/ucp_centre.h"

namespace corvsim {
namespace {

constexpr size_t kMaxRecorded = 65536;  // a call never sends more; beyond that is noise

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    const char e = text[++i];
    if (e == 'r') {
      out.push_back('\r');
    } else if (e == 'n') {
      out.push_back('\n');
    } else if (e == 'x' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
      i += 2;
    } else {
      out.push_back(e);
    }
  }
  return out;
}

}  // namespace

std::vector<ScriptStepOptions> ParseScriptSteps(std::string_view text) {
  std::vector<ScriptStepOptions> steps;
  size_t start = 0;
  while (start <= text.size()) {
    size_t bar = text.find('|', start);
    if (bar == std::string_view::npos) bar = text.size();
    const std::string_view item = text.substr(start, bar - start);
    if (!item.empty()) {
      ScriptStepOptions step;
      const size_t arrow = item.find("=>");
      if (arrow == std::string_view::npos) {
        step.Send = Unescape(item);
      } else {
        step.Expect = Unescape(item.substr(0, arrow));
        step.Send = Unescape(item.substr(arrow + 2));
      }
      steps.push_back(std::move(step));
    }
    start = bar + 1;
  }
  return steps;
}

std::string ScriptEndpoint::Advance() {
  std::string out;
  while (next_ < steps_.size()) {
    const ScriptStepOptions& step = steps_[next_];
    const size_t at = step.Expect.empty() ? 0 : window_.find(step.Expect);
    if (at == std::string::npos) break;
    window_.erase(0, at + step.Expect.size());
    out += step.Send;
    ++next_;
  }
  return out;
}

std::string ScriptEndpoint::OnConnect(int64_t nowMs) {
  connectMs_ = nowMs;
  return Advance();
}

std::string ScriptEndpoint::OnBytes(std::string_view bytes, int64_t nowMs) {
  for (char c : bytes) {
    if (all_.size() < kMaxRecorded) all_.push_back(c);
    if (window_.size() < kMaxRecorded) window_.push_back(c);
    line_.push_back(c);
    if (c == '\r' || c == '\n' || line_.size() >= kMaxRecorded) {
      records_.push_back("SCRIPT line t=" + std::to_string(nowMs - connectMs_) + " " + UcpEscape(line_));
      line_.clear();
    }
  }
  return Advance();
}

void ScriptEndpoint::OnHangup(int64_t nowMs) {
  if (!line_.empty()) {
    records_.push_back("SCRIPT line t=" + std::to_string(nowMs - connectMs_) + " " + UcpEscape(line_));
    line_.clear();
  }
  records_.push_back("SCRIPT end received=" + UcpEscape(all_) + " steps=" + std::to_string(next_) + "/" +
                     std::to_string(steps_.size()));
}

}  // namespace corvsim
