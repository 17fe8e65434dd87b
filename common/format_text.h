// common/format_text.h - the system's own printf-like formatter with the %t time stamp.
//
// Directives: %% %c %s %d %D %ld %u %U %x %X %o %O %t, an optional width (a leading 0
// pads numbers with zeros). A width cuts numbers to their least significant digits
// ("%2d" of 123 gives "23") and pads strings on the right without ever cutting them.
// "%Nt" picks one of eight time-stamp layouts. Unknown directives vanish and take no
// argument. The output is a std::string, so no caller can overflow a buffer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace common {

// Text that came from outside (a name, a message, a peer's reply) on its way into a log
// line: %s writes its control characters escaped (\n, \r, \t, \x1b ...), so a line feed in
// it cannot start a line of its own that looks like the program's, and no escape sequence
// reaches a terminal showing the log. The log writer cannot tell such text from the format,
// so the call that formats it says so: LogLine("... %s\n", program, Outside(name)).
struct OutsideText {
  std::string_view Text;
};
inline OutsideText Outside(std::string_view text) { return {text}; }
inline OutsideText Outside(const char* text) { return {text ? std::string_view(text) : std::string_view()}; }

// The escaping Outside() asks for: bytes below 0x20 and 0x7F as \n, \r, \t or \xHH;
// every other byte (a backslash and 8-bit text included) as it is.
std::string EscapeControls(std::string_view text);

// One argument of FormatText: a 32-bit number or a text. Numbers given to %s and texts
// given to a number directive print as nothing and as 0.
class FormatArg {
 public:
  FormatArg() = default;
  FormatArg(OutsideText text) : isText_(true), escape_(true), text_(text.Text) {}  // NOLINT
  template <typename T, std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>, int> = 0>
  FormatArg(T value) : isText_(false), number_(static_cast<int64_t>(value)) {}                               // NOLINT
  FormatArg(const char* text) : isText_(true), text_(text ? std::string_view(text) : std::string_view()) {}  // NOLINT
  FormatArg(std::string_view text) : isText_(true), text_(text) {}                                           // NOLINT
  FormatArg(const std::string& text) : isText_(true), text_(text) {}                                         // NOLINT

  bool IsText() const { return isText_; }
  bool Escaped() const { return escape_; }
  int64_t Number() const { return number_; }
  std::string_view Text() const { return text_; }

 private:
  bool isText_ = false;
  bool escape_ = false;
  int64_t number_ = 0;
  std::string_view text_;
};

// Formats format with args. Arguments are taken in order, one per consuming directive;
// a missing argument prints as 0 or as nothing.
std::string FormatTextArgs(std::string_view format, std::span<const FormatArg> args);

template <typename... Args>
std::string FormatText(std::string_view format, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg()};
  return FormatTextArgs(format, std::span<const FormatArg>(list, sizeof...(Args)));
}

// The local time now in time-stamp layout 0..7 (any other number gives layout 0).
std::string TimeStamp(int layout);

}  // namespace common
