#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "viewer/net/discovery.h"

namespace {

std::vector<std::uint8_t> reply(unsigned code, std::size_t length = 128) {
  std::vector<std::uint8_t> b(length, 0);
  b[8] = code & 0xff;
  b[9] = code >> 8;
  const std::uint8_t mac[6] = {0x00, 0x0f, 0xA0, 0x12, 0xBC, 0xff};
  std::memcpy(&b[29], mac, 6);
  std::memcpy(&b[35], "Garage", 6);
  std::memcpy(&b[52], "Side entrance", 13);
  return b;
}

in_addr addr(const char* text) {
  in_addr a{};
  EXPECT_EQ(inet_pton(AF_INET, text, &a), 1);
  return a;
}

TEST(DiscoveryReply, AcceptedReplyBecomesARecord) {
  net::DiscoveredCamera r{};
  ASSERT_TRUE(net::parse_discovery_reply(reply(10), addr("192.0.2.77"), r));
  EXPECT_STREQ(r.mac, "000fa012bcff");
  EXPECT_STREQ(r.name, "Garage");
  EXPECT_STREQ(r.description, "Side entrance");
  EXPECT_STREQ(r.address, "192.0.2.77");
  EXPECT_EQ(r.port, 80);
  // The record keeps the byte layout other code relies on.
  const auto* bytes = reinterpret_cast<const char*>(&r);
  EXPECT_STREQ(bytes + 17, "Garage");
  EXPECT_STREQ(bytes + 67, "192.0.2.77");
}

TEST(DiscoveryReply, OnlyTheFourReplyCodesAreAccepted) {
  for (unsigned code : {10u, 15u, 16u, 19u}) {
    net::DiscoveredCamera r{};
    EXPECT_TRUE(net::parse_discovery_reply(reply(code), addr("192.0.2.1"), r)) << code;
  }
  // The code is little-endian: 10 in the high byte is 2560, not 10.
  for (unsigned code : {0u, 11u, 14u, 17u, 18u, 20u, 2560u, 0xffffu}) {
    net::DiscoveredCamera r{};
    EXPECT_FALSE(net::parse_discovery_reply(reply(code), addr("192.0.2.1"), r)) << code;
  }
}

TEST(DiscoveryReply, ShortRepliesAreIgnoredAndTheShortestFullOneIsRead) {
  net::DiscoveredCamera r{};
  EXPECT_FALSE(net::parse_discovery_reply(reply(10, 84), addr("192.0.2.1"), r));
  EXPECT_FALSE(net::parse_discovery_reply({}, addr("192.0.2.1"), r));
  EXPECT_TRUE(net::parse_discovery_reply(reply(10, 85), addr("192.0.2.1"), r));
}

TEST(DiscoveryReply, TextsFillingTheirWholeFieldStayTerminated) {
  std::vector<std::uint8_t> b = reply(16, 85);
  std::memset(&b[35], 'N', 17);
  std::memset(&b[52], 'D', 33);
  net::DiscoveredCamera r{};
  ASSERT_TRUE(net::parse_discovery_reply(b, addr("192.0.2.1"), r));
  EXPECT_EQ(std::string(r.name), std::string(16, 'N'));
  EXPECT_EQ(std::string(r.description), std::string(32, 'D'));
  EXPECT_STREQ(r.mac, "000fa012bcff");  // the name did not run into its neighbours
}

// getifaddrs-style entries for select_local_addresses.
struct FakeInterface {
  sockaddr_in address{};
  sockaddr_in broadcast{};
  ifaddrs entry{};
};

std::vector<FakeInterface> interfaces(std::size_t n) {
  std::vector<FakeInterface> list(n);
  for (std::size_t i = 0; i < n; ++i) {
    FakeInterface& f = list[i];
    f.address.sin_family = f.broadcast.sin_family = AF_INET;
    f.address.sin_addr.s_addr = htonl(0xC0000200u + static_cast<unsigned>(i) + 1);  // 192.0.2.(i+1)
    f.broadcast.sin_addr.s_addr = htonl(0xC00002FFu);
    f.entry.ifa_flags = IFF_UP | IFF_BROADCAST;
    f.entry.ifa_addr = reinterpret_cast<sockaddr*>(&f.address);
    f.entry.ifa_broadaddr = reinterpret_cast<sockaddr*>(&f.broadcast);
  }
  for (std::size_t i = 0; i + 1 < n; ++i) list[i].entry.ifa_next = &list[i + 1].entry;
  return list;
}

TEST(LocalAddresses, OnlyUsableIpv4InterfacesAreTaken) {
  std::vector<FakeInterface> list = interfaces(6);
  list[0].entry.ifa_flags |= IFF_LOOPBACK;
  list[1].entry.ifa_flags &= ~IFF_UP;
  list[2].entry.ifa_flags &= ~IFF_BROADCAST;  // point-to-point links cannot broadcast
  list[3].address.sin_family = AF_INET6;
  list[4].entry.ifa_addr = nullptr;
  const std::vector<net::LocalAddress> table = net::select_local_addresses(&list[0].entry);
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].address.s_addr, htonl(0xC0000206u));
  EXPECT_EQ(table[0].broadcast.s_addr, htonl(0xC00002FFu));
}

TEST(LocalAddresses, AtMostTenAreKeptInListOrder) {
  std::vector<FakeInterface> list = interfaces(14);
  const std::vector<net::LocalAddress> table = net::select_local_addresses(&list[0].entry);
  ASSERT_EQ(table.size(), 10u);
  EXPECT_EQ(table.front().address.s_addr, htonl(0xC0000201u));
  EXPECT_EQ(table.back().address.s_addr, htonl(0xC000020Au));
  EXPECT_TRUE(net::select_local_addresses(nullptr).empty());
}

}  // namespace
