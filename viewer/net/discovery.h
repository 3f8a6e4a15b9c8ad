// Finding cameras on the local network.
//
// Cameras listen on UDP port 916 for a small request and answer each one with
// a datagram that carries their MAC address, name and description. The search
// sends the request as a broadcast from every IPv4 interface of the computer,
// listens for answers, and hands back one fixed-size record per camera, sorted
// by MAC text. It blocks its caller (the camera dialog on the user-interface
// thread) for at least the listening time per interface.
#pragma once

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct ifaddrs;

namespace net {

// One found camera. The layout is fixed (92 bytes) because record blocks are
// handed around as whole arrays; every text is zero-terminated in its slot.
struct DiscoveredCamera {
  char mac[17];  // 12 lower-case hexadecimal digits
  char name[17];
  char description[33];
  char address[21];   // dotted IPv4 address the answer came from
  std::int32_t port;  // the camera's HTTP port; answers do not carry one, so 80
};
static_assert(sizeof(DiscoveredCamera) == 92);
static_assert(offsetof(DiscoveredCamera, name) == 17);
static_assert(offsetof(DiscoveredCamera, description) == 34);
static_assert(offsetof(DiscoveredCamera, address) == 67);
static_assert(offsetof(DiscoveredCamera, port) == 88);

inline constexpr std::size_t kMaxDiscoveredCameras = 384;
inline constexpr std::size_t kMaxLocalAddresses = 10;
inline constexpr std::uint16_t kDiscoveryPort = 916;
inline constexpr std::int32_t kDiscoveredCameraPort = 80;

// A block of records as the caller keeps it: room for every record one search
// can return (35,328 bytes).
using DiscoveredCameraBlock = std::array<DiscoveredCamera, kMaxDiscoveredCameras>;
static_assert(sizeof(DiscoveredCameraBlock) == 35328);

// The request every camera answers: 00 00 00 00 03 E8 00 00.
inline constexpr std::array<std::uint8_t, 8> kDiscoveryRequest = {0x00, 0x00, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00};

// Fixed places in an answer. Anything shorter than kMinReplyBytes cannot hold
// all fields and is ignored.
inline constexpr std::size_t kReplyCodeOffset = 8;
inline constexpr std::size_t kReplyMacOffset = 29;
inline constexpr std::size_t kReplyNameOffset = 35;
inline constexpr std::size_t kReplyDescriptionOffset = 52;
inline constexpr std::size_t kMinReplyBytes = 85;
inline constexpr std::size_t kReplyBufferBytes = 3072;

// Turns one received datagram into a record. Returns false (and leaves out
// untouched) when the datagram is too short or its 16-bit little-endian code
// at offset 8 is not one of 10, 15, 16, 19. Texts that fill their whole slot
// in the answer are cut by one character so that the record stays terminated.
// Pure; any thread.
[[nodiscard]] bool parse_discovery_reply(std::span<const std::uint8_t> datagram, const in_addr& sender,
                                         DiscoveredCamera& out);

// One IPv4 interface the search sends from.
struct LocalAddress {
  in_addr address{};
  in_addr broadcast{};  // the interface's own broadcast address
};

// The interfaces a search uses, picked from an interface list as getifaddrs
// returns it: IPv4, up, broadcast-capable, not loopback, at most
// kMaxLocalAddresses of them in list order. Pure; any thread.
[[nodiscard]] std::vector<LocalAddress> select_local_addresses(const ifaddrs* list);

// The same for this computer's current interfaces; empty when they cannot be
// read.
[[nodiscard]] std::vector<LocalAddress> local_address_table();

// Ends a running search early, from another thread: the search stops
// listening at once and returns no cameras. One per search; it is a pipe, so
// the search waits for it together with its socket.
class SearchCancel {
 public:
  SearchCancel();
  ~SearchCancel();
  SearchCancel(const SearchCancel&) = delete;
  SearchCancel& operator=(const SearchCancel&) = delete;

  // Any thread; later calls do nothing.
  void cancel();
  bool cancelled() const { return cancelled_.load(); }
  // Readable once cancelled (-1 when no pipe could be made: then only the
  // flag is seen, between waits).
  int wait_fd() const { return fds_[0]; }

 private:
  int fds_[2] = {-1, -1};
  std::atomic<bool> cancelled_{false};
};

// Where and how long a search asks. The program uses the defaults; tests aim
// the search elsewhere and shorten the waits.
struct DiscoveryOptions {
  std::string broadcast_address = "255.255.255.255";
  std::uint16_t port = kDiscoveryPort;
  int repeat_interval_ms = 600;  // the request goes out at 0, 600 and 1,200 ms
  int reply_wait_ms = 4000;      // listening ends this long after the last answer
  // Upper bound on the listening per interface, so that a host that keeps
  // answering cannot hold the user-interface thread forever.
  int max_listen_ms = 30000;
  // Set: the search ends as soon as it is cancelled (the camera dialog runs
  // it on a worker thread and cancels it when the dialog closes).
  const SearchCancel* cancel = nullptr;
};

// The search and the merged list it keeps between searches. One object for
// the program, created with the main window and used on its thread only.
class Discovery {
 public:
  Discovery();
  ~Discovery();
  Discovery(const Discovery&) = delete;
  Discovery& operator=(const Discovery&) = delete;

  // Prepares searching; returns 1. Calling it again does nothing.
  int start();
  // Frees the merged list. The object may be started again.
  void finish();

  // Searches the network and fills result with the found cameras, sorted by
  // MAC text, each listed once with the data of its first answer; count gets
  // their number. Always returns 0. An interface that cannot send is skipped;
  // what the others found is kept. Blocks for at least
  // options.reply_wait_ms per interface, unless options.cancel is cancelled
  // (then count is 0). Runs on whichever thread calls it, one search per
  // object at a time.
  [[nodiscard]] int search(DiscoveredCameraBlock& result, int& count, const DiscoveryOptions& options = {});

 private:
  std::unique_ptr<DiscoveredCameraBlock> merged_;
  std::size_t merged_count_ = 0;
  bool started_ = false;
};

}  // namespace net
