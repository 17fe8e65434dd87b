// delivery/ucp_test.cpp - the UCP frame against the known example and the bytes that break it.
#include "delivery/ucp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace delivery {
namespace {

TEST(UcpFrame, KnownExampleTextChecksumAndFrame) {
  EXPECT_EQ(DigitsOnly("0172-1234567"), "01721234567");
  EXPECT_EQ(HexEncodeMessage("AB", false), "4142");
  const std::string text = BuildUcpText("0172-1234567", "AB", false);
  EXPECT_EQ(text, "00/00046/O/30/01721234567///1//0139////4142/");
  EXPECT_EQ(UcpChecksum(text) & 0xFF, 0x9Du);
  EXPECT_EQ(BuildUcpFrame("0172-1234567", "AB", false),
            "\x02"
            "00/00046/O/30/01721234567///1//0139////4142/9D\x03");
  // LEN counts TRN through the checksum digits: the frame less STX and ETX.
  EXPECT_EQ(text.size() + 2, 46u);
}

TEST(UcpFrame, PagerIdWithoutDigitsGivesEmptyAdc) {
  EXPECT_EQ(BuildUcpText("abc-def", "HI", false), "00/00035/O/30////1//0139////4849/");
}

TEST(UcpFrame, ChecksumDigitsAreUpperCaseAndKeepALeadingZero) {
  // Bytes of 0x80 or more count as unsigned values.
  EXPECT_EQ(UcpChecksum("\xFF\x01"), 0x100u);
  // The characters of this text add up to 0x70C: the frame carries the low byte as "0C".
  EXPECT_EQ(BuildUcpFrame("123", "HI", false),
            "\x02"
            "00/00038/O/30/123///1//0139////4849/0C\x03");
  // 0x60A: "0A", with the letter in upper case.
  EXPECT_EQ(BuildUcpFrame("99", "", false),
            "\x02"
            "00/00033/O/30/99///1//0139/////0A\x03");
}

TEST(UcpCharacterMap, Cp850BytesAreMappedOnlyWhenAsked) {
  EXPECT_EQ(HexEncodeMessage("\x81", true), "7E");
  EXPECT_EQ(HexEncodeMessage("\x81", false), "81");
  // 0xA5 maps into the upper half, and an unmapped high byte passes unchanged.
  EXPECT_EQ(HexEncodeMessage("\xA5\x83z", true), "9A837A");
  EXPECT_EQ(UcpMapCp850(0xE1), 0x1E);
  EXPECT_EQ(UcpMapCp850(0xBE), 0x03);
  EXPECT_EQ(UcpMapCp850('A'), 'A');
}

TEST(UcpFrame, LongMessageKeepsFiveDigitLength) {
  const std::string message(4000, 'x');
  const std::string text = BuildUcpText("12345678901234567890", message, false);
  EXPECT_EQ(text.substr(0, 9), "00/08051/");
  EXPECT_EQ(text.size() + 2, 8051u);
}

// A result frame's bytes between STX and ETX, with LEN and the checksum as a centre sends them.
std::string ResultBody(const std::string& rest, int lenChange = 0, unsigned sumChange = 0) {
  const size_t len = 2 + 1 + 5 + rest.size() + 2 + static_cast<size_t>(lenChange);
  char lenText[6];
  std::snprintf(lenText, sizeof lenText, "%05zu", len);
  const std::string text = "00/" + std::string(lenText) + rest;
  char sum[3];
  std::snprintf(sum, sizeof sum, "%02X", (UcpChecksum(text) + sumChange) & 0xFFu);
  return text + sum;
}

TEST(UcpResult, PositiveNegativeAndEverythingBrokenIsNoAnswer) {
  EXPECT_EQ(ClassifyUcpResult(ResultBody("/R/30/A//01721234567:081226120000/")), UcpAnswer::kPositive);
  EXPECT_EQ(ClassifyUcpResult(ResultBody("/R/30/N/06//")), UcpAnswer::kNegative);
  // Noise on the line: a checksum or a length that does not fit, a cut frame, another
  // operation, an answer letter that is neither, nothing at all.
  EXPECT_EQ(ClassifyUcpResult(ResultBody("/R/30/A//01721234567:081226120000/", 0, 1)), UcpAnswer::kNone);
  EXPECT_EQ(ClassifyUcpResult(ResultBody("/R/30/A//01721234567:081226120000/", 3)), UcpAnswer::kNone);
  EXPECT_EQ(ClassifyUcpResult(ResultBody("/R/30/A//").substr(0, 14)), UcpAnswer::kNone);
  EXPECT_EQ(ClassifyUcpResult(ResultBody("/R/31/A//")), UcpAnswer::kNone);
  EXPECT_EQ(ClassifyUcpResult(ResultBody("/O/30/A//")), UcpAnswer::kNone);
  EXPECT_EQ(ClassifyUcpResult(ResultBody("/R/30/X//")), UcpAnswer::kNone);
  EXPECT_EQ(ClassifyUcpResult(ResultBody("/R/30/A")), UcpAnswer::kNone);
  EXPECT_EQ(ClassifyUcpResult(""), UcpAnswer::kNone);
  EXPECT_EQ(ClassifyUcpResult("/A/"), UcpAnswer::kNone);
}

}  // namespace
}  // namespace delivery
