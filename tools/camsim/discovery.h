// The cameras' answer to the viewer's UDP discovery request.
//
// Request (8 bytes): 00 00 00 00 03 E8 00 00. Reply, zero-filled otherwise:
//   offset 8  reply code, 16-bit little-endian (the viewer accepts 10, 15,
//             16 and 19)
//   offset 29 MAC address, 6 bytes
//   offset 35 name, 17-byte slot, zero-terminated
//   offset 52 description, 33-byte slot, zero-terminated
// Only ever bound to loopback or inside a test's private network namespace:
// a responder on a real interface would answer real viewers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tools/camsim/net_util.h"
#include "tools/camsim/options.h"

namespace camsim {

constexpr size_t kDiscoveryRequestBytes = 8;
extern const uint8_t kDiscoveryRequest[kDiscoveryRequestBytes];

// One reply datagram of `length` bytes; the fields that do not fit a short
// reply are cut with it. Texts longer than their slot are cut so that the
// slot keeps its terminating zero.
std::vector<uint8_t> build_discovery_reply(int code, const std::array<uint8_t, 6>& mac, const std::string& name,
                                           const std::string& description, size_t length);

// Answers every datagram that starts with the request with one reply per
// camera, to the sender. One thread; ends when the Stopper fires.
class DiscoveryResponder {
 public:
  DiscoveryResponder(const Config& config, const Stopper& stop) : config_(config), stop_(stop) {}
  ~DiscoveryResponder();
  DiscoveryResponder(const DiscoveryResponder&) = delete;
  DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

  [[nodiscard]] bool open(std::string* error);
  uint16_t port() const { return port_; }
  void start();

 private:
  void loop();

  const Config& config_;
  const Stopper& stop_;
  Fd socket_;
  uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace camsim
