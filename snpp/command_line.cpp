// snpp/command_line.cpp - tokens and command words.
#include "snpp/command_line.h"

#include <cctype>

namespace snpp {

namespace {
constexpr std::string_view kTokenEnders = " =+\r\n,";
constexpr std::string_view kBlanks = "\t\r\n ";
constexpr size_t kCommandLetters = 4;
}  // namespace

std::optional<Token> NextToken(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  std::string_view s = *text;
  const size_t start = s.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return std::nullopt;
  s.remove_prefix(start);

  size_t end = 0;
  size_t skip = 0;  // characters of s before the token
  if (s[0] == '"' || s[0] == '\'') {
    skip = 1;
    end = s.find(s[0], 1);
  } else {
    end = s.find_first_of(kTokenEnders);
  }
  if (end == std::string_view::npos) end = s.size();
  if (end == skip) return std::nullopt;

  Token token{s.substr(skip, end - skip), std::nullopt};
  if (end < s.size()) token.Rest = s.substr(end + 1);
  return token;
}

std::optional<CommandLine> ParseCommandLine(std::string_view line) {
  if (const size_t nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
  const std::optional<Token> word = NextToken(line);
  if (!word) return std::nullopt;
  return CommandLine{word->Text, word->Rest};
}

bool SameCommandWord(std::string_view word, std::string_view tableWord) {
  if (word.size() < kCommandLetters || tableWord.size() < kCommandLetters) return false;
  for (size_t i = 0; i < kCommandLetters; ++i) {
    if (std::toupper(static_cast<unsigned char>(word[i])) != std::toupper(static_cast<unsigned char>(tableWord[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace snpp
