// directory/parse_machine.cpp - the configuration lexer shared by page.ini and POPPAGE.INI.
#include "directory/parse_machine.h"

#include <cctype>
#include <cstdio>
#include <limits>

#include "common/log.h"

namespace directory {

namespace {

bool IsDelimiter(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '=' || c == '+' || c == ',' || c == '*' || c == '"' ||
         c == '\0';
}

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Decimal conversion of the leading part, as atol reads it; a value beyond 32 bits is held
// at the nearest limit instead of wrapping into a different number.
int32_t LeadingNumber(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1)
      v = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<int32_t>::max()) v = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(v);
}

}  // namespace

int ReadIniFile(const std::string& path, std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return 1;
  std::string raw;
  char buf[8192];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) raw.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return 1;
  // Text mode: a CR LF pair reads as one LF (a page.ini edited on Windows reads the same).
  text.clear();
  text.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text.push_back(raw[i]);
  }
  return 0;
}

IniLexer::IniLexer(std::string_view text, std::span<const IniKeyword> keywords, size_t tokenMax)
    : text_(text), keywords_(keywords), tokenMax_(tokenMax) {}

int IniLexer::Get() {
  if (pos_ >= text_.size()) return -1;
  const int c = static_cast<unsigned char>(text_[pos_++]);
  if (c == '\n') ++lines_;
  return c;
}

void IniLexer::GiveBack(int c) {
  if (c < 0 || pos_ == 0) return;
  --pos_;
  if (c == '\n') --lines_;
}

void IniLexer::SkipLine() {
  for (int c = Get(); c >= 0 && c != '\n'; c = Get()) {
  }
}

TokenKind IniLexer::NextIniToken() {
  token_.clear();
  keyword_ = -1;
  int c = Get();
  while (c == ' ' || c == '\t' || c == '\r') c = Get();
  if (c < 0) return kind_ = TokenKind::EndOfFile;

  bool ended = false;  // a NUL inside quotes ends the text, as it always has for C strings
  const auto store = [this, &ended](int ch) {
    if (ch == '\0') ended = true;
    if (!ended && token_.size() < tokenMax_) token_.push_back(static_cast<char>(ch));  // longer tokens are cut
  };
  int closing = 0;       // the character that ends an open quote, 0 while none is open
  size_t wordChars = 0;  // characters of the word read so far, also past the cut
  for (;; c = Get()) {
    if (c < 0) {
      token_.clear();  // a word not yet ended is lost
      return kind_ = TokenKind::EndOfFile;
    }
    if (closing != 0) {
      if (c != closing) {
        store(c);
        continue;
      }
      GiveBack(Get());
      if (closing == ']') return kind_ = TokenKind::EntryName;
      lastString_ = token_;
      return kind_ = TokenKind::String;
    }
    if (c == '"' || c == '\'' || c == '[') {
      closing = c == '[' ? ']' : c;
      continue;
    }
    if (IsDelimiter(c)) {
      // A delimiter standing alone is a token; a one-character word takes its delimiter
      // with it; a longer word gives the delimiter back for the next token.
      if (wordChars == 0 && c != '\0') store(c);
      if (wordChars >= 2) GiveBack(c);
      break;
    }
    store(c);
    ++wordChars;
  }
  Classify();
  return kind_;
}

void IniLexer::Classify() {
  if (token_.empty()) {
    kind_ = TokenKind::BadWord;
    return;
  }
  const char first = token_[0];
  if (first == '-' || (first >= '0' && first <= '9')) {
    if (first != '-' && token_.find(':') != std::string::npos) {
      kind_ = TokenKind::Time;
      return;
    }
    kind_ = TokenKind::Number;
    value_ = longValue_ = LeadingNumber(token_);
    return;
  }
  for (size_t i = 0; i < keywords_.size(); ++i) {
    if (!SameWord(keywords_[i].Text, token_)) continue;
    kind_ = TokenKind::Keyword;
    keyword_ = static_cast<int>(i);
    value_ = keywords_[i].Value;
    if (token_ == ";") SkipLine();  // a comment runs to the end of its line
    return;
  }
  kind_ = TokenKind::BadWord;
}

void LogIniSyntaxError(std::string_view fileName, const IniLexer& lexer) {
  common::LogLine("%t %s: File: '%s'  Syntax error (%s) in line - %d\n", common::ProgramName(), fileName,
                  lexer.TokenText(), lexer.LineCount() + 1);
}

}  // namespace directory
