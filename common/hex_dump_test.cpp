// The status report's hex dump: column positions and the capacity rule.
#include "common/hex_dump.h"

#include <gtest/gtest.h>

#include <vector>

namespace common {
namespace {

TEST(HexDump, ColumnsOfOneShortLine) {
  const std::vector<unsigned char> bytes = {'A', 0x00, 0xFF, 0x1F, 0x7F, 'z', '0', '1', '2'};
  const std::string d = HexDump(bytes, 208);
  ASSERT_EQ(d.size(), 79u);
  EXPECT_EQ(d.substr(0, 9), "  0000:  ");
  EXPECT_EQ(d.substr(9, 2), "41");
  EXPECT_EQ(d.substr(12, 2), "00");
  EXPECT_EQ(d.substr(15, 2), "FF");
  EXPECT_EQ(d.substr(30, 2), "31");  // byte 7
  EXPECT_EQ(d[32], '-');
  EXPECT_EQ(d.substr(33, 2), "32");  // byte 8 after the dash
  EXPECT_EQ(d.substr(35, 25), std::string(25, ' '));
  EXPECT_EQ(d.substr(60, 9), std::string("A   \x7Fz012"));  // NUL, 0xFF and 0x1F as blanks
  EXPECT_EQ(d.substr(69), std::string(10, ' '));
}

TEST(HexDump, CapacityLimitsTheLines) {
  std::vector<unsigned char> bytes(40);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>('a' + i % 26);
  const std::string d = HexDump(bytes, 208);  // the status report's capacity: two lines
  ASSERT_EQ(d.size(), 158u);
  EXPECT_EQ(d.substr(79, 7), "  0010:");
  EXPECT_EQ(d.substr(79 + 54, 2), "66");  // byte 31, 'f', ends the second line
  EXPECT_EQ(HexDump(bytes, 1000).size(), 237u);
  EXPECT_EQ(HexDump(bytes, 80), "");  // 0 + 80 reaches the capacity
  EXPECT_EQ(HexDump(bytes, 81).size(), 79u);
  EXPECT_EQ(HexDump({}, 208), "");
}

}  // namespace
}  // namespace common
