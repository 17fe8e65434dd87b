// The formatter: number fields, string widths, directives that take no argument, %t layouts.
#include "common/format_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <regex>
#include <string>

namespace common {
namespace {

TEST(FormatTextNumbers, WidthPadsOnTheLeftAndCutsTheMostSignificantDigits) {
  EXPECT_EQ(FormatText("%05d", 42), "00042");
  EXPECT_EQ(FormatText("%5d", 42), "   42");
  EXPECT_EQ(FormatText("%2d", 123), "23");
  EXPECT_EQ(FormatText("%1d", 987), "7");
  EXPECT_EQ(FormatText("%19d", 42), std::string(17, ' ') + "42");
  EXPECT_EQ(FormatText("%20d|%25d|%0d", 42, 42, 42), "42|42|42");  // 20 and up, or 0: no width
  EXPECT_EQ(FormatText("%d%D%ld", 1, 2, 3), "123");
  EXPECT_EQ(FormatText("%3ld", 12345), "345");
}

TEST(FormatTextNumbers, SignStandsAfterTheMostSignificantDigit) {
  EXPECT_EQ(FormatText("%d", -42), "-42");
  EXPECT_EQ(FormatText("%5d", -42), "  -42");
  EXPECT_EQ(FormatText("%05d", -42), "00-42");  // the pad fills beyond the sign
  EXPECT_EQ(FormatText("%2d", -42), "42");      // a width that cuts loses the sign first
  EXPECT_EQ(FormatText("%d", INT_MIN), "-2147483648");
  EXPECT_EQ(FormatText("%d", 0), "0");
  EXPECT_EQ(FormatText("%3d", 0), "  0");
}

TEST(FormatTextNumbers, UnsignedHexAndOctalTakeThirtyTwoBits) {
  EXPECT_EQ(FormatText("%x %X", 255, 255), "FF FF");
  EXPECT_EQ(FormatText("%04x", 0xAB), "00AB");
  EXPECT_EQ(FormatText("%u %U", -1, 7u), "4294967295 7");
  EXPECT_EQ(FormatText("%x", -1), "FFFFFFFF");
  EXPECT_EQ(FormatText("%o %O", 8, 0777), "10 777");
  EXPECT_EQ(FormatText("%d", 0x1'0000'0005LL), "5");  // one 32-bit value per argument
  EXPECT_EQ(FormatText("%u", 4294967295u), "4294967295");
}

TEST(FormatTextStrings, WidthPadsOnTheRightAndNeverCuts) {
  EXPECT_EQ(FormatText("%8s|", "ab"), "ab      |");
  EXPECT_EQ(FormatText("%2s|", "abcdef"), "abcdef|");
  EXPECT_EQ(FormatText("%s", std::string("std")), "std");
  EXPECT_EQ(FormatText("[%s]", static_cast<const char*>(nullptr)), "[]");
  EXPECT_EQ(FormatText("%c%c", 'O', 'K'), "OK");
  // A text that holds directives is an argument, never a format.
  EXPECT_EQ(FormatText("%s", "100% %d %t"), "100% %d %t");
}

TEST(FormatTextDirectives, UnknownAndPartialDirectivesTakeNoArgument) {
  EXPECT_EQ(FormatText("%%"), "%");
  EXPECT_EQ(FormatText("a%qb%d", 5), "ab5");
  EXPECT_EQ(FormatText("%5q%d", 5), "5");
  EXPECT_EQ(FormatText("%lu%d", 7), "u7");  // l without d: dropped, the u is plain text
  EXPECT_EQ(FormatText("%l%%d", 7), "%7");  // the copied % is plain text, "%d" follows
  EXPECT_EQ(FormatText("end%"), "end");
  EXPECT_EQ(FormatText("end%05"), "end");
  EXPECT_EQ(FormatText("%d and %s"), "0 and ");  // missing arguments
  EXPECT_EQ(FormatText("%s %d", 5, "x"), " 0");  // wrong kinds print as nothing and 0
}

// The local time now in a strftime layout, read independently of the formatter.
std::string Now(const char* layout) {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  return std::string(buf, std::strftime(buf, sizeof buf, layout, &tm));
}

TEST(FormatTextTime, LayoutsByWidthNumber) {
  const std::string plain = FormatText("%t");
  EXPECT_EQ(plain.size(), 16u);
  EXPECT_TRUE(std::regex_match(plain, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d)"))) << plain;
  EXPECT_TRUE(std::regex_match(FormatText("%0t"), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d)")));
  EXPECT_TRUE(std::regex_match(FormatText("%8t"), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d)")));
  EXPECT_TRUE(std::regex_match(FormatText("%99t"), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d)")));
  EXPECT_TRUE(std::regex_match(FormatText("%1t"), std::regex(R"(\d\d-\d\d-\d\d (0[1-9]|1[0-2]):\d\d (AM|PM))")));
  EXPECT_TRUE(std::regex_match(FormatText("%2t"), std::regex(R"(\d\d:\d\d:\d\d)")));
  EXPECT_TRUE(std::regex_match(FormatText("%3t"), std::regex(R"((0[1-9]|1[0-2]):\d\d:\d\d (AM|PM))")));
  EXPECT_TRUE(std::regex_match(FormatText("%4t"), std::regex(R"(\d\d-\d\d-\d\d)")));
  EXPECT_TRUE(std::regex_match(
      FormatText("%5t"), std::regex(R"(\d\d-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-\d{4} \d\d:\d\d:\d\d)")));
  EXPECT_TRUE(std::regex_match(FormatText("%6t"), std::regex(R"(\d\d/\d\d \d\d:\d\d)")));
  EXPECT_TRUE(std::regex_match(FormatText("%7t"), std::regex(R"(\d\d-\d\d-\d\d \d\d:\d\d)")));
  // Read around the call, so a minute turning over in between cannot fail the test.
  const std::string before = Now("%Y-%m-%d %H:%M");
  const std::string got = FormatText("%t");
  const std::string after = Now("%Y-%m-%d %H:%M");
  EXPECT_TRUE(got == before || got == after) << got << " vs " << before;
  const std::string before7 = Now("%m-%d-%y %H:%M");
  const std::string got7 = FormatText("%7t");
  EXPECT_TRUE(got7 == before7 || got7 == Now("%m-%d-%y %H:%M")) << got7;
  // %t takes no argument: the %s after it still gets the first one.
  const std::string line = FormatText("%t %s: ok", "CORVD32");
  EXPECT_EQ(line.substr(16), " CORVD32: ok");
}

TEST(FormatTextOutside, ControlCharactersEscapedOtherBytesKept) {
  EXPECT_EQ(FormatText("[%s]", Outside(std::string("a\nb\rc\td\x1b\x01\x7f", 10))), "[a\\nb\\rc\\td\\x1b\\x01\\x7f]");
  EXPECT_EQ(FormatText("[%s]", Outside(std::string("nul\0x", 5))), "[nul\\x00x]");
  // Backslashes, percent signs and 8-bit text stay as they are; a width counts the escapes.
  EXPECT_EQ(FormatText("[%s]", Outside("C:\\x %d \xe9")), "[C:\\x %d \xe9]");
  EXPECT_EQ(FormatText("[%6s]", Outside("a\n")), "[a\\n   ]");
  EXPECT_EQ(FormatText("[%s]", Outside(static_cast<const char*>(nullptr))), "[]");
  EXPECT_EQ(FormatText("[%s]", "as\nis"), "[as\nis]") << "only Outside text is escaped";
}

}  // namespace
}  // namespace common
