// Tests of the TAP block, its checksum and the character map.
#include "modem/tap.h"

#include <gtest/gtest.h>

namespace modem {
namespace {

TEST(TapChecksum, KnownBlocks) {
  EXPECT_EQ(TapChecksum("\x02" "123\rHI\r\x03"), "146");   // 0x146
  EXPECT_EQ(TapChecksum("\x02" "123\rABC\r\x03"), "17;");  // 0x17B
  EXPECT_EQ(TapChecksum(""), "000");
}

TEST(TapChecksum, EightBitByteCountsByItsSevenBits) {
  // 0x81 is seen as 0x01 on a 7-bit line: the terminal's sum is 0x0?6, not a signed sum.
  EXPECT_EQ(TapChecksum("\x02" "123\r\x81\r\x03"), "0;6");
}

TEST(TapChecksum, KeepsTwelveBits) {
  const std::string big(40, '\x7F');  // 40 * 127 = 5080 = 0x13D8 -> 0x3D8
  EXPECT_EQ(TapChecksum(big), "3=8");
}

TEST(TapBlock, LayoutOfShortPage) {
  EXPECT_EQ(TapBlock("123", "HI"), std::string("\x02" "123\rHI\r\x03" "146\r"));
  EXPECT_EQ(TapBlock("", ""), std::string("\x02\r\r\x03") + TapChecksum("\x02\r\r\x03") + "\r");
}

TEST(TapCharacterMap, Cp850LettersBecomeNationalReplacements) {
  const std::pair<unsigned char, unsigned char> cases[] = {
      {0x84, 0x7B}, {0x91, 0x7B}, {0x81, 0x7D}, {0x86, 0x7D}, {0x8E, 0x5B}, {0x92, 0x5B}, {0x8F, 0x5D},
      {0x9A, 0x5D}, {0x94, 0x7C}, {0x9B, 0x7C}, {0x99, 0x5C}, {0x9D, 0x5C}, {0xE1, 0x7E}};
  for (const auto& [from, to] : cases) EXPECT_EQ(Cp850ToTap(from), to) << std::hex << int(from);
  for (unsigned char other : {0x41, 0x80, 0x82, 0xFF, 0x00}) EXPECT_EQ(Cp850ToTap(other), other);
}

TEST(TapCharacterMap, MappedByteIsWhatTheChecksumCovers) {
  const std::string message("\x81", 1);
  EXPECT_EQ(MapTapMessage(message, false), message);  // CP437 leaves the byte as it is
  const std::string mapped = MapTapMessage(message, true);
  ASSERT_EQ(mapped, "}");
  EXPECT_EQ(TapBlock("123", mapped), std::string("\x02" "123\r}\r\x03") + TapChecksum("\x02" "123\r}\r\x03") + "\r");
}

TEST(TapVerdict, OnlyTheFourVerdictBytesCount) {
  for (char c : {kAck, kNak, kRs, kEsc}) EXPECT_EQ(VerdictByte(c), c);
  for (char c : {'2', '1', '\r', '\n', kStx, kEot}) EXPECT_EQ(VerdictByte(c), 0);
}

}  // namespace
}  // namespace modem
