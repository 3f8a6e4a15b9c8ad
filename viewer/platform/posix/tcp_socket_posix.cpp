#include "viewer/platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace platform {
namespace {

int clamp_timeout_ms(int timeout_s) {
  if (timeout_s <= 0) return 0;
  if (timeout_s > 24 * 3600) timeout_s = 24 * 3600;
  return timeout_s * 1000;
}

// poll() for the given events, restarted after signals with the time left.
// Returns the revents, or 0 on time-out.
short poll_for(int fd, short events, int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, timeout_ms);
    if (r > 0) return p.revents;
    if (r == 0) return 0;
    if (errno != EINTR) return POLLERR;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    timeout_ms = static_cast<int>(left);
  }
}

}  // namespace

std::optional<std::uint32_t> resolve_ipv4(const std::string& host) {
  if (host.empty() || host.find('\0') != std::string::npos) return std::nullopt;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) return std::nullopt;
  std::optional<std::uint32_t> result;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr != nullptr && a->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in sin{};
      std::memcpy(&sin, a->ai_addr, sizeof sin);
      result = sin.sin_addr.s_addr;
      break;
    }
  }
  ::freeaddrinfo(list);
  return result;
}

std::string ipv4_text(std::uint32_t address_be) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = address_be;
  if (::inet_ntop(AF_INET, &a, text, sizeof text) == nullptr) return {};
  return text;
}

bool TcpSocket::open() {
  close();
  observer_ = false;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  fd_.store(fd, std::memory_order_release);
  return true;
}

void TcpSocket::close() {
  const int fd = fd_.exchange(-1, std::memory_order_acq_rel);
  if (fd < 0) return;
  if (!observer_) ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
}

void TcpSocket::shutdown() {
  const int fd = fd_.load(std::memory_order_acquire);
  if (fd >= 0 && !observer_) ::shutdown(fd, SHUT_RDWR);
}

bool TcpSocket::connect(const Ipv4Endpoint& endpoint, int timeout_s, const std::atomic<bool>* cancel) {
  const int fd = native_handle();
  if (fd < 0) return false;
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = endpoint.address_be;
  sin.sin_port = htons(endpoint.port);

  // Connect without blocking and wait for the outcome ourselves, so that the
  // wait is bounded by timeout_s and a shutdown() from another thread ends it.
  const int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;
  int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
  if (r != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return false;
    // Waited in slices so that a cancel request is seen even when it came
    // too early for a shutdown() to reach the connect.
    constexpr int kSliceMs = 100;
    short ev = 0;
    for (int left = clamp_timeout_ms(timeout_s); left > 0 && ev == 0; left -= kSliceMs) {
      if (cancel != nullptr && cancel->load()) return false;
      ev = poll_for(fd, POLLOUT, left < kSliceMs ? left : kSliceMs);
    }
    if (ev == 0 || (ev & (POLLOUT | POLLERR | POLLHUP)) == 0) return false;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return false;
    if (ev & (POLLERR | POLLHUP | POLLNVAL)) return false;
  }
  if (::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) return false;

  timeval tv{};
  tv.tv_sec = timeout_s > 0 ? timeout_s : 0;
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return false;
  // The request is one small write followed by a wait for the answer.
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

std::size_t TcpSocket::read_some(void* buffer, std::size_t n) {
  const int fd = native_handle();
  if (fd < 0 || buffer == nullptr || n == 0) return 0;
  for (;;) {
    const ssize_t r = ::recv(fd, buffer, n, 0);
    if (r > 0) return static_cast<std::size_t>(r);
    if (r < 0 && errno == EINTR) continue;
    return 0;  // peer closed, error, or the receive time-out
  }
}

std::size_t TcpSocket::read_exactly(void* buffer, std::size_t n) {
  const int fd = native_handle();
  if (fd < 0 || buffer == nullptr) return 0;
  auto* p = static_cast<std::uint8_t*>(buffer);
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::recv(fd, p + got, n - got, 0);
    if (r > 0) {
      got += static_cast<std::size_t>(r);
    } else if (r < 0 && errno == EINTR) {
      continue;
    } else {
      return 0;  // peer closed, error, or the receive time-out
    }
  }
  return n;
}

std::size_t TcpSocket::read_at_least(void* buffer, std::size_t at_least, std::size_t at_most,
                                     const std::function<void()>& before_wait) {
  const int fd = native_handle();
  if (fd < 0 || buffer == nullptr || at_least == 0 || at_most < at_least) return 0;
  auto* p = static_cast<std::uint8_t*>(buffer);
  std::size_t got = 0;
  for (;;) {
    const ssize_t r = ::recv(fd, p, at_most, MSG_DONTWAIT);
    if (r > 0) {
      got = static_cast<std::size_t>(r);
      break;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return 0;  // peer closed or error
  }
  if (got >= at_least) return got;
  if (before_wait) before_wait();
  for (;;) {
    // A receive that waits for all it asks returns less only when the
    // time-out passed, the peer closed or the socket was shut down: the
    // whole wait is bounded by one time-out, however slowly bytes trickle.
    const std::size_t wanted = at_least - got;
    const ssize_t r = ::recv(fd, p + got, wanted, MSG_WAITALL);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || static_cast<std::size_t>(r) != wanted) return 0;
    return at_least;
  }
}

bool TcpSocket::wait_readable(int timeout_ms) const {
  const int fd = native_handle();
  if (fd < 0 || timeout_ms <= 0) return false;
  return (poll_for(fd, POLLIN, timeout_ms) & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

std::size_t TcpSocket::send(const void* buffer, std::size_t n, int timeout_s) {
  const int fd = native_handle();
  if (fd < 0 || buffer == nullptr || n == 0) return 0;
  const short ev = poll_for(fd, POLLOUT, clamp_timeout_ms(timeout_s));
  if ((ev & POLLOUT) == 0 || (ev & (POLLERR | POLLHUP | POLLNVAL))) return 0;
  for (;;) {
    // MSG_NOSIGNAL: a peer that closed must give an error, not kill the process.
    const ssize_t r = ::send(fd, buffer, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r > 0) return static_cast<std::size_t>(r);
    if (r < 0 && errno == EINTR) continue;
    return 0;
  }
}

bool TcpSocket::send_all(const void* buffer, std::size_t n, int timeout_s) {
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  std::size_t sent = 0;
  while (sent < n) {
    const std::size_t r = send(p + sent, n - sent, timeout_s);
    if (r == 0) return false;
    sent += r;
  }
  return true;
}

bool TcpSocket::share_into(TcpSocket& observer) const {
  observer.close();
  const int fd = native_handle();
  if (fd < 0) return false;
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return false;
  observer.observer_ = true;
  observer.fd_.store(copy, std::memory_order_release);
  return true;
}

bool TcpSocket::is_dead(int timeout_s) const {
  const int fd = native_handle();
  if (fd < 0) return true;
  const int timeout_ms = clamp_timeout_ms(timeout_s);
  const short ev = poll_for(fd, POLLOUT, timeout_ms);
  if (ev & (POLLERR | POLLHUP | POLLNVAL)) return true;
  return (ev & POLLOUT) == 0;
}

}  // namespace platform
