// Discovery answers arrive from anyone on the local network.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "viewer/net/discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  in_addr sender{};
  sender.s_addr = htonl(0xC0000201u);
  net::DiscoveredCamera record{};
  if (net::parse_discovery_reply({data, size}, sender, record)) {
    // Every text of an accepted record must be terminated inside its slot.
    if (std::memchr(record.mac, 0, sizeof(record.mac)) == nullptr ||
        std::memchr(record.name, 0, sizeof(record.name)) == nullptr ||
        std::memchr(record.description, 0, sizeof(record.description)) == nullptr ||
        std::memchr(record.address, 0, sizeof(record.address)) == nullptr || std::strlen(record.mac) != 12) {
      __builtin_trap();
    }
  }
  return 0;
}
