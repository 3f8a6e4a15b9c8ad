#include "viewer/net/discovery.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace net {
namespace {

constexpr int kReceiveBufferBytes = 10240;
constexpr int kRepeatSends = 2;

// Owns one socket descriptor.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool send_request(int fd, const sockaddr_in& to) {
  const ssize_t sent = ::sendto(fd, kDiscoveryRequest.data(), kDiscoveryRequest.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&to), sizeof(to));
  return sent == static_cast<ssize_t>(kDiscoveryRequest.size());
}

// Sends the request again a few times at a fixed interval on its own thread,
// so that a camera that missed the first datagram still hears one while the
// caller listens. The socket must outlive this object; the destructor stops
// the thread early if the listening ended first, and joins it.
class RepeatSender {
 public:
  RepeatSender(int fd, std::vector<sockaddr_in> destinations, int interval_ms)
      : fd_(fd), destinations_(std::move(destinations)), interval_(interval_ms) {
    thread_ = std::thread([this] { run(); });
  }
  ~RepeatSender() {
    {
      std::lock_guard lock(mutex_);
      stop_.store(true);
    }
    wake_.notify_all();
    thread_.join();
  }
  RepeatSender(const RepeatSender&) = delete;
  RepeatSender& operator=(const RepeatSender&) = delete;

 private:
  void run() {
    for (int i = 0; i < kRepeatSends; ++i) {
      std::unique_lock lock(mutex_);
      if (wake_.wait_for(lock, interval_, [this] { return stop_.load(); })) return;
      lock.unlock();
      // A failed repeat is not worth reporting: the first send got through.
      for (const sockaddr_in& to : destinations_) (void)send_request(fd_, to);
    }
  }

  const int fd_;
  const std::vector<sockaddr_in> destinations_;
  const std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Copies a text field of an answer into its record slot. The answer's field
// is as wide as the slot and need not be terminated; the last byte of the slot
// is always a terminator, so a field that fills it loses its last character.
template <std::size_t N>
void copy_text(char (&slot)[N], const std::uint8_t* field) {
  std::memcpy(slot, field, N - 1);
  slot[N - 1] = '\0';
}

int mac_compare(const DiscoveredCamera& a, const DiscoveredCamera& b) {
  return std::strncmp(a.mac, b.mac, sizeof(a.mac));
}

bool contains_mac(const std::vector<DiscoveredCamera>& list, const DiscoveredCamera& record) {
  return std::any_of(list.begin(), list.end(), [&](const DiscoveredCamera& r) { return mac_compare(r, record) == 0; });
}

sockaddr_in endpoint(in_addr address, std::uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr = address;
  to.sin_port = htons(port);
  return to;
}

// Broadcasts from one local address and appends every new camera heard to
// found. Returns false when this address could not be used at all (socket,
// broadcast permission, bind or the first send failed).
bool search_from(const LocalAddress& local, in_addr broadcast, const DiscoveryOptions& options,
                 std::vector<std::uint8_t>& buffer, std::vector<DiscoveredCamera>& found) {
  UniqueFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!sock.valid()) return false;
  const int on = 1;
  if (::setsockopt(sock.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) != 0) return false;
  const sockaddr_in bind_to = endpoint(local.address, 0);
  if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&bind_to), sizeof(bind_to)) != 0) return false;
  const int rcvbuf = kReceiveBufferBytes;
  (void)::setsockopt(sock.get(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof(rcvbuf));

  // The limited broadcast leaves through one interface only (the one the
  // routing table picks), so a search aimed at it also goes to each
  // interface's own broadcast address. A search aimed elsewhere goes only
  // where it was aimed.
  std::vector<sockaddr_in> destinations{endpoint(broadcast, options.port)};
  if (broadcast.s_addr == htonl(INADDR_BROADCAST) && local.broadcast.s_addr != htonl(INADDR_ANY) &&
      local.broadcast.s_addr != htonl(INADDR_BROADCAST)) {
    destinations.push_back(endpoint(local.broadcast, options.port));
  }
  bool any_sent = false;
  for (const sockaddr_in& to : destinations) any_sent = send_request(sock.get(), to) || any_sent;
  if (!any_sent) return false;

  {
    RepeatSender repeats(sock.get(), destinations, options.repeat_interval_ms);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(options.max_listen_ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      if (options.cancel && options.cancel->cancelled()) break;
      pollfd p[2] = {{sock.get(), POLLIN, 0}, {options.cancel ? options.cancel->wait_fd() : -1, POLLIN, 0}};
      const int ready = ::poll(p, 2, static_cast<int>(std::min<long long>(left, options.reply_wait_ms)));
      if (ready == 0) break;                            // quiet for the whole wait: this address is done
      if (ready > 0 && (p[1].revents & POLLIN)) break;  // cancelled
      if (ready < 0) {
        if (errno == EINTR) continue;
        break;
      }
      sockaddr_in from{};
      socklen_t from_len = sizeof(from);
      const ssize_t n = ::recvfrom(sock.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &from_len);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        break;  // a receive error ends the listening on this address
      }
      DiscoveredCamera record{};
      if (!parse_discovery_reply({buffer.data(), static_cast<std::size_t>(n)}, from.sin_addr, record)) continue;
      // Duplicates are dropped as they arrive (the first answer wins), so a
      // camera answering every request, from every interface, takes one slot.
      if (found.size() >= kMaxDiscoveredCameras || contains_mac(found, record)) continue;
      found.push_back(record);
    }
  }  // the repeat thread is stopped and joined before the socket closes
  return true;
}

}  // namespace

bool parse_discovery_reply(std::span<const std::uint8_t> datagram, const in_addr& sender, DiscoveredCamera& out) {
  if (datagram.size() < kMinReplyBytes) return false;
  const std::uint8_t* d = datagram.data();
  const unsigned code = d[kReplyCodeOffset] | (d[kReplyCodeOffset + 1] << 8);
  if (code != 10 && code != 15 && code != 16 && code != 19) return false;

  DiscoveredCamera r{};
  const std::uint8_t* mac = d + kReplyMacOffset;
  std::snprintf(r.mac, sizeof(r.mac), "%02x%02x%02x%02x%02x%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  copy_text(r.name, d + kReplyNameOffset);
  copy_text(r.description, d + kReplyDescriptionOffset);
  if (::inet_ntop(AF_INET, &sender, r.address, sizeof(r.address)) == nullptr) return false;
  r.port = kDiscoveredCameraPort;
  out = r;
  return true;
}

std::vector<LocalAddress> select_local_addresses(const ifaddrs* list) {
  std::vector<LocalAddress> table;
  for (const ifaddrs* i = list; i != nullptr && table.size() < kMaxLocalAddresses; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    const unsigned flags = i->ifa_flags;
    if (!(flags & IFF_UP) || !(flags & IFF_BROADCAST) || (flags & IFF_LOOPBACK)) continue;
    LocalAddress a;
    a.address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr;
    if (i->ifa_broadaddr != nullptr && i->ifa_broadaddr->sa_family == AF_INET) {
      a.broadcast = reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr;
    }
    table.push_back(a);
  }
  return table;
}

std::vector<LocalAddress> local_address_table() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return {};
  std::vector<LocalAddress> table = select_local_addresses(list);
  ::freeifaddrs(list);
  return table;
}

SearchCancel::SearchCancel() {
  if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
}

SearchCancel::~SearchCancel() {
  for (int fd : fds_) {
    if (fd >= 0) ::close(fd);
  }
}

void SearchCancel::cancel() {
  if (cancelled_.exchange(true)) return;
  // The byte stays unread: the pipe remains readable for every later wait.
  if (fds_[1] >= 0) (void)!::write(fds_[1], "x", 1);
}

Discovery::Discovery() = default;
Discovery::~Discovery() = default;

int Discovery::start() {
  // POSIX sockets need no start-up; the flag only mirrors the start/finish
  // pairing the main window follows.
  started_ = true;
  return 1;
}

void Discovery::finish() {
  merged_.reset();
  merged_count_ = 0;
  started_ = false;
}

int Discovery::search(DiscoveredCameraBlock& result, int& count, const DiscoveryOptions& options) {
  count = 0;
  in_addr broadcast{};
  if (::inet_pton(AF_INET, options.broadcast_address.c_str(), &broadcast) != 1) return 0;

  std::vector<DiscoveredCamera> found;
  found.reserve(kMaxDiscoveredCameras);
  std::vector<std::uint8_t> buffer(kReplyBufferBytes);
  for (const LocalAddress& local : local_address_table()) {
    // An interface that cannot send (no permission, address gone) is skipped;
    // cameras heard on the others are kept.
    (void)search_from(local, broadcast, options, buffer, found);
    if (options.cancel && options.cancel->cancelled()) return 0;
  }

  if (!merged_) merged_ = std::make_unique<DiscoveredCameraBlock>();
  // found holds no duplicates already; sort by MAC text with the same
  // 17-character comparison that identified the duplicates.
  std::stable_sort(found.begin(), found.end(),
                   [](const DiscoveredCamera& a, const DiscoveredCamera& b) { return mac_compare(a, b) < 0; });
  merged_count_ = found.size();
  std::copy(found.begin(), found.end(), merged_->begin());
  std::copy(found.begin(), found.end(), result.begin());
  count = static_cast<int>(merged_count_);
  return 0;
}

}  // namespace net
