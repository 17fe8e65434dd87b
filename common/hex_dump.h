// common/hex_dump.h - a text dump of bytes, as the status report shows queued messages.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace common {

// One 79-character line per 16 bytes: offset, hexadecimal bytes with a "-" after the
// eighth, the printable form. Lines are joined without separators; no line is started
// once the text so far plus 80 would reach capacity.
std::string HexDump(std::span<const unsigned char> bytes, size_t capacity);

}  // namespace common
