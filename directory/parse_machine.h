// directory/parse_machine.h - the configuration lexer and the table-driven parse loop.
//
// page.ini and the mail gateway's POPPAGE.INI share this machinery; each grammar brings its
// own keyword list, state table and actions. A state table is data: row 0 is where a
// statement begins, each row lists the tokens it accepts, and each entry says which row
// follows and which action runs. A token the current row does not list is a syntax error:
// it is logged with its line number, the rest of the line is skipped and parsing goes on
// in row 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace directory {

enum class TokenKind : uint8_t {
  Keyword,    // a word of the keyword list, compared ignoring case
  Number,     // a word beginning with a digit or "-"
  Time,       // a word beginning with a digit and holding ":"; no rule accepts it
  String,     // text in double or single quotes
  EntryName,  // text in square brackets
  BadWord,    // any other word
  EndOfFile,
};

// One word of a grammar's keyword list and the value the lexer gives it (Enabled 1,
// Even 'E', ...; 0 for most). The list of a grammar holds its punctuation too: "=", ";"
// (a comment: the lexer skips the rest of its line), the line feed "\n", and so on.
struct IniKeyword {
  std::string_view Text;
  int32_t Value = 0;
};

constexpr size_t kIniTokenMax = 199;  // page.ini's token text; POPPAGE.INI uses 99

// Reads a whole configuration file as text mode does: CR LF becomes LF. 0, or 1 when the
// file cannot be opened or read.
[[nodiscard]] int ReadIniFile(const std::string& path, std::string& text);

// Splits configuration text into tokens. The lexer reads text in place: keep it alive.
class IniLexer {
 public:
  IniLexer(std::string_view text, std::span<const IniKeyword> keywords, size_t tokenMax = kIniTokenMax);

  // Reads the next token and returns its kind (also kept in Kind()).
  TokenKind NextIniToken();

  TokenKind Kind() const { return kind_; }
  int KeywordIndex() const { return keyword_; }            // index into the keyword list, or -1
  const std::string& TokenText() const { return token_; }  // cut to tokenMax characters
  int32_t Value() const { return value_; }                 // last number or keyword value
  int32_t LongValue() const { return longValue_; }         // last number
  const std::string& LastString() const { return lastString_; }
  int LineCount() const { return lines_; }  // line feeds read so far, given-back ones not counted

  // Skips the input up to and including the next line feed, or to the end of the text.
  void SkipLine();

 private:
  int Get();             // next character (0..255), or -1 at the end
  void GiveBack(int c);  // puts the last character read back
  void Classify();

  std::string_view text_;
  std::span<const IniKeyword> keywords_;
  size_t tokenMax_;
  size_t pos_ = 0;
  int lines_ = 0;
  TokenKind kind_ = TokenKind::EndOfFile;
  int keyword_ = -1;
  std::string token_;
  std::string lastString_;
  int32_t value_ = 0;
  int32_t longValue_ = 0;
};

constexpr int kFollowingRow = -1;  // an entry's next row: the row after the current one

template <typename Context>
using IniAction = void (*)(Context& context, const IniLexer& lexer);

template <typename Context>
struct IniTransition {
  TokenKind Kind;
  int Keyword;                // index into the keyword list when Kind is Keyword; ignored otherwise
  int NextRow;                // a row number, or kFollowingRow
  IniAction<Context> Action;  // nullptr for none
};

template <typename Context>
using IniStateRow = std::vector<IniTransition<Context>>;

// Logs "%t %s: File: '%s'  Syntax error (%s) in line - %d\n" with the program name, the
// file name, the token text and the line counter plus 1.
void LogIniSyntaxError(std::string_view fileName, const IniLexer& lexer);

// The parse loop: tokens until the end of the text, each looked up in the current row;
// a listed token runs its action and moves to its next row, any other is a syntax error.
// Returns the number of syntax errors logged.
template <typename Context>
int RunIniParseLoop(IniLexer& lexer, std::span<const IniStateRow<Context>> table, Context& context,
                    std::string_view fileName) {
  int errors = 0;
  int row = 0;
  while (lexer.NextIniToken() != TokenKind::EndOfFile) {
    const IniTransition<Context>* hit = nullptr;
    if (row >= 0 && static_cast<size_t>(row) < table.size()) {
      for (const IniTransition<Context>& t : table[static_cast<size_t>(row)]) {
        if (t.Kind == lexer.Kind() && (t.Kind != TokenKind::Keyword || t.Keyword == lexer.KeywordIndex())) {
          hit = &t;
          break;
        }
      }
    }
    if (hit == nullptr) {
      LogIniSyntaxError(fileName, lexer);
      ++errors;
      row = 0;
      lexer.SkipLine();
      continue;
    }
    if (hit->Action != nullptr) hit->Action(context, lexer);
    row = hit->NextRow == kFollowingRow ? row + 1 : hit->NextRow;
  }
  return errors;
}

}  // namespace directory
