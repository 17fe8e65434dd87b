// platform/ip_address.h - IPv4 and IPv6 addresses and CIDR blocks, for the servers' access
// lists (who may connect, who may read the reports).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct IpAddress {
  bool V6 = false;
  std::array<uint8_t, 16> Bytes{};  // V4: the first 4 bytes
};

// Parses a dotted IPv4 or a textual IPv6 address (an IPv4-mapped IPv6 address such as
// ::ffff:127.0.0.1, which a dual-stack listener reports, is read as the IPv4 address).
// False when text is no address.
bool ParseIpAddress(std::string_view text, IpAddress& out);

struct AddressBlock {
  IpAddress Base;
  int PrefixBits = 0;  // 0..32 or 0..128
};

// "192.0.2.0/24", "2001:db8::/32", or a lone address (all its bits). False when malformed
// (no address, a prefix that is no number or too long for the family).
bool ParseAddressBlock(std::string_view text, AddressBlock& out);

// True when address lies in block (of the same family).
bool BlockContains(const AddressBlock& block, const IpAddress& address);

// A comma- or blank-separated list of blocks. Each item that is no block goes to bad.
std::vector<AddressBlock> ParseAddressList(std::string_view text, std::vector<std::string>& bad);

// True when the textual address lies in any block of the list.
bool AddressInList(const std::vector<AddressBlock>& list, std::string_view address);

// The address of a sockaddr (IPv4, or IPv6 with an IPv4-mapped one shown dotted) as text;
// empty for other families or null.
std::string SocketAddressText(const void* sockaddr);

// 127.0.0.0/8 and ::1.
std::vector<AddressBlock> LoopbackBlocks();

}  // namespace platform
