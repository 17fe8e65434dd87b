// common/hex_dump.cpp
#include "common/hex_dump.h"

namespace common {

std::string HexDump(std::span<const unsigned char> bytes, size_t capacity) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  constexpr size_t kLine = 79;
  std::string out;
  for (size_t start = 0; start < bytes.size(); start += 16) {
    if (out.size() + 80 >= capacity) break;
    std::string line(kLine, ' ');
    for (int k = 0; k < 4; ++k) line[2 + k] = kHex[(start >> (4 * (3 - k))) & 0xF];
    line[6] = ':';
    for (size_t j = 0; j < 16 && start + j < bytes.size(); ++j) {
      const unsigned char b = bytes[start + j];
      line[9 + 3 * j] = kHex[b >> 4];
      line[10 + 3 * j] = kHex[b & 0xF];
      line[60 + j] = (b < 0x20 || b == 0xFF) ? ' ' : static_cast<char>(b);
    }
    line[32] = '-';
    out += line;
  }
  return out;
}

}  // namespace common
