// platform/ip_address.cpp
#include "platform/ip_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <charconv>
#include <cstring>

namespace platform {

bool ParseIpAddress(std::string_view text, IpAddress& out) {
  if (text.empty() || text.size() > 63) return false;
  const std::string s(text);
  out = IpAddress{};
  if (s.find(':') == std::string::npos) {
    in_addr v4{};
    if (::inet_pton(AF_INET, s.c_str(), &v4) != 1) return false;
    std::memcpy(out.Bytes.data(), &v4, 4);
    return true;
  }
  in6_addr v6{};
  if (::inet_pton(AF_INET6, s.c_str(), &v6) != 1) return false;
  static constexpr uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::memcmp(&v6, kMapped, sizeof kMapped) == 0) {
    std::memcpy(out.Bytes.data(), reinterpret_cast<const uint8_t*>(&v6) + 12, 4);
    return true;
  }
  out.V6 = true;
  std::memcpy(out.Bytes.data(), &v6, 16);
  return true;
}

bool ParseAddressBlock(std::string_view text, AddressBlock& out) {
  const size_t slash = text.find('/');
  if (!ParseIpAddress(text.substr(0, slash), out.Base)) return false;
  const int maxBits = out.Base.V6 ? 128 : 32;
  out.PrefixBits = maxBits;
  if (slash == std::string_view::npos) return true;
  const std::string_view bits = text.substr(slash + 1);
  int n = -1;
  const auto [end, ec] = std::from_chars(bits.data(), bits.data() + bits.size(), n);
  if (bits.empty() || ec != std::errc() || end != bits.data() + bits.size() || n < 0 || n > maxBits) return false;
  out.PrefixBits = n;
  return true;
}

bool BlockContains(const AddressBlock& block, const IpAddress& address) {
  if (block.Base.V6 != address.V6) return false;
  int bits = block.PrefixBits;
  for (size_t i = 0; bits > 0; ++i, bits -= 8) {
    const uint8_t mask = bits >= 8 ? 0xff : static_cast<uint8_t>(0xff << (8 - bits));
    if ((block.Base.Bytes[i] & mask) != (address.Bytes[i] & mask)) return false;
  }
  return true;
}

std::vector<AddressBlock> ParseAddressList(std::string_view text, std::vector<std::string>& bad) {
  std::vector<AddressBlock> list;
  constexpr std::string_view kSeparators = ", \t\r\n";
  while (!text.empty()) {
    const size_t start = text.find_first_not_of(kSeparators);
    if (start == std::string_view::npos) break;
    text.remove_prefix(start);
    const size_t end = std::min(text.find_first_of(kSeparators), text.size());
    const std::string_view item = text.substr(0, end);
    text.remove_prefix(end);
    AddressBlock block;
    if (ParseAddressBlock(item, block)) {
      list.push_back(block);
    } else {
      bad.emplace_back(item);
    }
  }
  return list;
}

bool AddressInList(const std::vector<AddressBlock>& list, std::string_view address) {
  IpAddress ip;
  if (!ParseIpAddress(address, ip)) return false;
  for (const AddressBlock& block : list) {
    if (BlockContains(block, ip)) return true;
  }
  return false;
}

std::string SocketAddressText(const void* sockaddr) {
  if (sockaddr == nullptr) return {};
  char text[INET6_ADDRSTRLEN] = {};
  const auto* base = static_cast<const struct sockaddr*>(sockaddr);
  if (base->sa_family == AF_INET) {
    ::inet_ntop(AF_INET, &static_cast<const sockaddr_in*>(sockaddr)->sin_addr, text, sizeof text);
  } else if (base->sa_family == AF_INET6) {
    const in6_addr& a6 = static_cast<const sockaddr_in6*>(sockaddr)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a6)) {
      ::inet_ntop(AF_INET, reinterpret_cast<const uint8_t*>(&a6) + 12, text, sizeof text);
    } else {
      ::inet_ntop(AF_INET6, &a6, text, sizeof text);
    }
  }
  return text;
}

std::vector<AddressBlock> LoopbackBlocks() {
  std::vector<std::string> bad;
  return ParseAddressList("127.0.0.0/8 ::1", bad);
}

}  // namespace platform
