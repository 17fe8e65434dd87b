// common/format_text.cpp - the formatter's one pass over its format.
#include "common/format_text.h"

#include <ctime>

#include "platform/clock.h"

namespace common {

namespace {

constexpr int kNumberField = 20;  // digits are built into a field of this many positions

enum class Base { kDecimal = 10, kHex = 16, kOctal = 8 };

// Builds a number the way the log lines always have: digits least significant first into a
// field pre-filled with the pad, the minus sign after the most significant digit, then the
// field read back from position w - 1 (or from the last digit when there is no width).
void AppendNumber(std::string& out, uint64_t magnitude, bool negative, Base base, char pad, int width) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char field[kNumberField + 2];
  for (char& c : field) c = pad;
  int used = 0;
  const unsigned radix = static_cast<unsigned>(base);
  do {
    field[used++] = kDigits[magnitude % radix];
    magnitude /= radix;
  } while (magnitude != 0 && used < kNumberField + 1);
  if (negative) field[used++] = '-';
  const int emit = (width >= 1 && width < kNumberField) ? width : used;
  for (int pos = emit - 1; pos >= 0; --pos) out.push_back(field[pos]);
}

const FormatArg* Next(std::span<const FormatArg> args, size_t& index) {
  static const FormatArg kMissing;
  if (index >= args.size()) return &kMissing;
  return &args[index++];
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      out.push_back(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xf]);
    }
  }
  return out;
}

std::string TimeStamp(int layout) {
  static constexpr const char* kLayouts[] = {
      "%Y-%m-%d %H:%M", "%m-%d-%y %I:%M %p", "%H:%M:%S",    "%I:%M:%S %p",
      "%m-%d-%y",       "%d-%b-%Y %H:%M:%S", "%m/%d %H:%M", "%m-%d-%y %H:%M",
  };
  if (layout < 0 || layout > 7) layout = 0;
  const std::tm tm = platform::LocalTime(platform::Now());
  char text[60] = {};  // the stamp is at most 59 characters
  const size_t n = std::strftime(text, sizeof text, kLayouts[layout], &tm);
  return std::string(text, n);
}

std::string FormatTextArgs(std::string_view format, std::span<const FormatArg> args) {
  std::string out;
  out.reserve(format.size() + 32);
  size_t argIndex = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (++i >= format.size()) break;  // a lone percent sign at the end prints nothing
    const char pad = format[i] == '0' ? '0' : ' ';
    int width = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
      if (width < 1000) width = width * 10 + (format[i] - '0');
      ++i;
    }
    if (i >= format.size()) break;
    char directive = format[i];
    if (directive == 'l') {
      if (i + 1 < format.size() && format[i + 1] == 'd') {
        ++i;
        directive = 'd';
      } else {
        // An l without d is dropped; the next character is ordinary text.
        if (i + 1 < format.size()) out.push_back(format[++i]);
        continue;
      }
    }
    switch (directive) {
      case '%':
        out.push_back('%');
        break;
      case 'c': {
        const FormatArg* a = Next(args, argIndex);
        if (!a->IsText()) out.push_back(static_cast<char>(a->Number()));
        break;
      }
      case 's': {
        const FormatArg* a = Next(args, argIndex);
        const std::string_view raw = a->IsText() ? a->Text() : std::string_view();
        const std::string escaped = a->Escaped() ? EscapeControls(raw) : std::string();
        const std::string_view text = a->Escaped() ? std::string_view(escaped) : raw;
        out.append(text);
        if (width > 0 && static_cast<size_t>(width) > text.size()) out.append(width - text.size(), ' ');
        break;
      }
      case 'd':
      case 'D': {
        const FormatArg* a = Next(args, argIndex);
        const int32_t v = a->IsText() ? 0 : static_cast<int32_t>(a->Number());
        const bool negative = v < 0;
        const uint64_t magnitude =
            negative ? static_cast<uint64_t>(-static_cast<int64_t>(v)) : static_cast<uint64_t>(v);
        AppendNumber(out, magnitude, negative, Base::kDecimal, pad, width);
        break;
      }
      case 'u':
      case 'U':
      case 'x':
      case 'X':
      case 'o':
      case 'O': {
        const FormatArg* a = Next(args, argIndex);
        const uint32_t v = a->IsText() ? 0u : static_cast<uint32_t>(a->Number());
        const Base base = (directive == 'u' || directive == 'U')   ? Base::kDecimal
                          : (directive == 'x' || directive == 'X') ? Base::kHex
                                                                   : Base::kOctal;
        AppendNumber(out, v, false, base, pad, width);
        break;
      }
      case 't':
        out.append(TimeStamp(width));
        break;
      default:
        break;  // unknown directive: no output, no argument
    }
  }
  return out;
}

}  // namespace common
