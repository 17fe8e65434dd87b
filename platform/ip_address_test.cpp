// platform/ip_address_test.cpp - access-list blocks of both families.
#include "platform/ip_address.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(AddressBlocks, Ipv4Ipv6AndMappedAddresses) {
  std::vector<std::string> bad;
  const auto list = ParseAddressList("192.0.2.0/24, 10.1.2.3 2001:db8::/32,,fe80::/10", bad);
  EXPECT_TRUE(bad.empty());
  ASSERT_EQ(list.size(), 4u);
  EXPECT_TRUE(AddressInList(list, "192.0.2.255"));
  EXPECT_FALSE(AddressInList(list, "192.0.3.0"));
  EXPECT_TRUE(AddressInList(list, "::ffff:192.0.2.9"));  // an IPv4 client of a dual-stack socket
  EXPECT_TRUE(AddressInList(list, "10.1.2.3"));
  EXPECT_FALSE(AddressInList(list, "10.1.2.4"));
  EXPECT_TRUE(AddressInList(list, "2001:db8:ffff::1"));
  EXPECT_FALSE(AddressInList(list, "2001:db9::1"));
  EXPECT_TRUE(AddressInList(list, "fe80::1"));
  EXPECT_FALSE(AddressInList(list, "not an address"));
  EXPECT_FALSE(AddressInList({}, "127.0.0.1"));
  EXPECT_TRUE(AddressInList(LoopbackBlocks(), "127.8.9.1"));
  EXPECT_TRUE(AddressInList(LoopbackBlocks(), "::1"));
  EXPECT_FALSE(AddressInList(LoopbackBlocks(), "::2"));
}

TEST(AddressBlocks, MalformedItemsAreReported) {
  std::vector<std::string> bad;
  const auto list = ParseAddressList("10.0.0.0/33 ::/129 1.2.3.4/ 1.2.3.4/x 300.1.1.1 host 0.0.0.0/0", bad);
  EXPECT_EQ(bad, (std::vector<std::string>{"10.0.0.0/33", "::/129", "1.2.3.4/", "1.2.3.4/x", "300.1.1.1", "host"}));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_TRUE(AddressInList(list, "203.0.113.5"));  // /0 is everyone of that family
  EXPECT_FALSE(AddressInList(list, "::1"));
}

}  // namespace
}  // namespace platform
