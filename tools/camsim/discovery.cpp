#include "tools/camsim/discovery.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace camsim {

const uint8_t kDiscoveryRequest[kDiscoveryRequestBytes] = {0x00, 0x00, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00};

namespace {

constexpr size_t kCodeOffset = 8;
constexpr size_t kMacOffset = 29;
constexpr size_t kNameOffset = 35;
constexpr size_t kNameSlot = 17;
constexpr size_t kDescriptionOffset = 52;
constexpr size_t kDescriptionSlot = 33;
constexpr size_t kFullReplyBytes = kDescriptionOffset + kDescriptionSlot;  // 85

void put_text(std::vector<uint8_t>& out, size_t offset, size_t slot, const std::string& text) {
  const size_t n = std::min(text.size(), slot - 1);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n),
            out.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace

std::vector<uint8_t> build_discovery_reply(int code, const std::array<uint8_t, 6>& mac, const std::string& name,
                                           const std::string& description, size_t length) {
  std::vector<uint8_t> out(std::max(length, kFullReplyBytes), 0);
  out[kCodeOffset] = static_cast<uint8_t>(code);
  out[kCodeOffset + 1] = static_cast<uint8_t>(code >> 8);
  std::copy(mac.begin(), mac.end(), out.begin() + kMacOffset);
  put_text(out, kNameOffset, kNameSlot, name);
  put_text(out, kDescriptionOffset, kDescriptionSlot, description);
  out.resize(length);
  return out;
}

DiscoveryResponder::~DiscoveryResponder() {
  if (thread_.joinable()) thread_.join();
}

bool DiscoveryResponder::open(std::string* error) {
  const std::string& ip = config_.discovery_bind.empty() ? config_.bind_address : config_.discovery_bind;
  socket_ = bind_udp(ip, config_.discovery_port, &port_, error);
  return socket_.valid();
}

void DiscoveryResponder::start() {
  thread_ = std::thread([this] { loop(); });
}

void DiscoveryResponder::loop() {
  std::vector<std::vector<uint8_t>> replies;
  for (const CameraConfig& camera : config_.cameras)
    replies.push_back(build_discovery_reply(config_.discovery_code, camera.mac, camera.name, camera.description,
                                            config_.discovery_length));
  pollfd fds[2] = {{socket_.get(), POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
  uint8_t buffer[3072];
  while (!stop_.fired()) {
    const int n = poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || fds[1].revents) break;
    sockaddr_storage from{};
    socklen_t from_len = sizeof from;
    const ssize_t got =
        recvfrom(socket_.get(), buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &from_len);
    if (got < static_cast<ssize_t>(kDiscoveryRequestBytes) ||
        std::memcmp(buffer, kDiscoveryRequest, kDiscoveryRequestBytes) != 0)
      continue;
    if (config_.verbose) std::fprintf(stderr, "camsim: discovery request, %zu replies\n", replies.size());
    for (const auto& reply : replies)
      sendto(socket_.get(), reply.data(), reply.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), from_len);
  }
}

}  // namespace camsim
