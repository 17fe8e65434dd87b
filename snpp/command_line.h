// snpp/command_line.h - the pure half of the SNPP server: command lines out of a
// connection's byte stream, and a line cut into its command word and the rest. Nothing here
// touches a socket or a session.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace snpp {

constexpr size_t kLineCapacity = 4000;  // characters held of one line

// Cuts a byte stream into lines at each line feed (a bare LF ends a line as CR LF does);
// each line is handed on with its line end. A line is held to 4000 characters: past that
// each character takes the last one's place, so an overlong line arrives as its first 3999
// characters and the line feed that ends it.
class CommandLineReader {
 public:
  // Takes received bytes and calls onLine(line) for each line completed. When onLine
  // returns false the rest of bytes is dropped (the connection is ending) and Feed returns
  // false; true when every byte was taken.
  template <typename OnLine>
  bool Feed(std::string_view bytes, OnLine&& onLine) {
    for (const char c : bytes) {
      if (line_.size() < kLineCapacity) {
        line_ += c;
      } else {
        line_.back() = c;
      }
      if (c != '\n') continue;
      const bool more = onLine(std::string_view(line_));
      line_.clear();
      if (!more) return false;
    }
    return true;
  }

 private:
  std::string line_;
};

// The tokenizer. A token ends at a blank, "=", "+", CR, LF or ",", or is quoted with " or '
// (and then runs to the same quote, or to the end of the text when it is never closed).
// Leading blanks, tabs, CRs and LFs are skipped. An empty token gives no token and no rest;
// a token that ran to the end of the text gives no rest.
struct Token {
  std::string_view Text;
  std::optional<std::string_view> Rest;
};
std::optional<Token> NextToken(std::optional<std::string_view> text);

// A command line: its first token, and everything after the character that ended it (line
// end included; none when the word ran to the end of the line). The line is text, so a NUL
// from the peer ends it. No command at all (an empty or blank line): nothing.
struct CommandLine {
  std::string_view Word;
  std::optional<std::string_view> Rest;
};
std::optional<CommandLine> ParseCommandLine(std::string_view line);

// Whether a command word names the table's word: their first four characters match,
// ignoring case. Shorter words never match, and longer ones match on their first four
// (so NOQUEUE is known by NOQU, and PAGEX counts as PAGE).
bool SameCommandWord(std::string_view word, std::string_view tableWord);

}  // namespace snpp
