// popgate/pop_reply.cpp - POP3 replies from bytes, one byte at a time.
#include "popgate/pop_reply.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace popgate {

namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != word[i]) return false;
  }
  return true;
}

PopStatus JudgeStatusLine(std::string_view line) {
  if (StartsWithIgnoringCase(line, "+OK")) return PopStatus::kOk;
  if (StartsWithIgnoringCase(line, "-ERR")) return PopStatus::kErr;
  return PopStatus::kBad;
}

}  // namespace

PopReplyParser::PopReplyParser(bool multiLine, size_t capacity) : multiLine_(multiLine), capacity_(capacity) {}

size_t PopReplyParser::Feed(std::string_view bytes) {
  lineEnded_ = false;
  if (done_) return 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    TakeByte(bytes[i]);
    if (lineEnded_) return i + 1;
  }
  return bytes.size();
}

std::string_view PopReplyParser::Body() const {
  if (!inBody_) return {};
  const size_t end = done_ ? bodyEnd_ : text_.size();
  return std::string_view(text_).substr(bodyStart_, end - bodyStart_);
}

void PopReplyParser::Keep(char c, bool inText) {
  if (raw_.size() >= capacity_) {
    cut_ = true;  // the reply is still read to its end, so the next reply starts clean
    return;
  }
  raw_.push_back(c);
  if (inText) text_.push_back(c);
}

void PopReplyParser::TakeByte(char c) {
  if (lineLength_ == 0) {
    lineTextStart_ = text_.size();
    current_.clear();
  }
  if (c == '\n') {
    Keep(c, true);
    EndLine();
    return;
  }
  // A body line that begins with "." was sent with one more "." in front (the server's
  // dot stuffing, so that only the closing line holds a lone dot): one of the two goes.
  const bool stuffedDot = inBody_ && lineLength_ == 1 && current_[0] == '.' && c == '.';
  Keep(c, !stuffedDot);
  if (current_.size() <= kReplyLineMax) current_.push_back(c);  // room for a CR before the LF
  ++lineLength_;
}

void PopReplyParser::EndLine() {
  const bool whole = current_.size() == lineLength_;
  if (whole && !current_.empty() && current_.back() == '\r') current_.pop_back();
  if (current_.size() > kReplyLineMax) current_.resize(kReplyLineMax);
  line_ = current_;
  lineEnded_ = true;
  const bool loneDot = whole && line_ == ".";
  lineLength_ = 0;
  if (!inBody_) {
    statusLine_ = line_;
    status_ = JudgeStatusLine(line_);
    bodyStart_ = text_.size();
    inBody_ = multiLine_ && status_ == PopStatus::kOk;
    done_ = !inBody_;
  } else if (loneDot) {
    bodyEnd_ = std::max(bodyStart_, std::min(lineTextStart_, text_.size()));
    done_ = true;
  }
}

int StatMailCount(std::string_view statusLine) {
  if (JudgeStatusLine(statusLine) != PopStatus::kOk) return 0;
  size_t i = 3;
  while (i < statusLine.size() && (statusLine[i] == ' ' || statusLine[i] == '\t')) ++i;
  if (i < statusLine.size() && statusLine[i] == '+') ++i;
  int64_t count = 0;
  for (; i < statusLine.size() && std::isdigit(static_cast<unsigned char>(statusLine[i])); ++i) {
    count = count * 10 + (statusLine[i] - '0');
    if (count >= kMaxMailsPerPoll) return kMaxMailsPerPoll;
  }
  return static_cast<int>(count);
}

}  // namespace popgate
