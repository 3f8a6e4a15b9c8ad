#include "tools/camsim/net_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace camsim {
namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Polls fd for `events` and the stopper; returns the fd's revents, 0 on
// time-out, -1 when the stop fired.
int wait_for(int fd, short events, const Stopper& stop, int timeout_ms) {
  pollfd fds[2] = {{fd, events, 0}, {stop.fd(), POLLIN, 0}};
  for (;;) {
    const int n = poll(fds, 2, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return POLLERR;
    if (fds[1].revents) return -1;
    return fds[0].revents;
  }
}

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK); }

Fd bound_socket(int type, const std::string& ip, uint16_t port, uint16_t* bound_port, std::string* error) {
  sockaddr_in addr{};
  if (!make_address(ip, port, &addr)) {
    *error = "not an IPv4 address: " + ip;
    return Fd();
  }
  Fd fd(socket(AF_INET, type | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    *error = std::string("socket: ") + std::strerror(errno);
    return Fd();
  }
  const int one = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    *error = "bind " + ip + ":" + std::to_string(port) + ": " + std::strerror(errno);
    return Fd();
  }
  socklen_t len = sizeof addr;
  getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len);
  *bound_port = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

void Fd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Stopper::Stopper() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    read_end_ = Fd(fds[0]);
    write_end_ = Fd(fds[1]);
  }
}

void Stopper::fire() {
  if (fired_.exchange(true)) return;
  const char byte = 1;
  // Async-signal-safe: fire() may be called from a signal handler.
  [[maybe_unused]] const ssize_t n = ::write(write_end_.get(), &byte, 1);
}

bool Stopper::sleep_for(std::chrono::milliseconds duration) const {
  if (fired()) return false;
  pollfd p{read_end_.get(), POLLIN, 0};
  const auto deadline = Clock::now() + duration;
  for (;;) {
    const int n = poll(&p, 1, remaining_ms(deadline));
    if (n > 0) return false;
    if (n == 0 || (n < 0 && errno != EINTR)) return !fired();
  }
}

bool make_address(const std::string& ip, uint16_t port, sockaddr_in* out) {
  *out = sockaddr_in{};
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  return inet_pton(AF_INET, ip.c_str(), &out->sin_addr) == 1;
}

Fd listen_tcp(const std::string& ip, uint16_t port, uint16_t* bound_port, std::string* error) {
  Fd fd = bound_socket(SOCK_STREAM, ip, port, bound_port, error);
  if (fd.valid() && listen(fd.get(), 16) != 0) {
    *error = std::string("listen: ") + std::strerror(errno);
    return Fd();
  }
  if (fd.valid()) set_nonblocking(fd.get());
  return fd;
}

Fd bind_udp(const std::string& ip, uint16_t port, uint16_t* bound_port, std::string* error) {
  Fd fd = bound_socket(SOCK_DGRAM, ip, port, bound_port, error);
  if (fd.valid()) set_nonblocking(fd.get());
  return fd;
}

bool send_all(int fd, const void* data, size_t size, const Stopper& stop) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    if (stop.fired()) return false;
    const ssize_t n = send(fd, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      p += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int revents = wait_for(fd, POLLOUT, stop, -1);
      if (revents < 0 || (revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
      continue;
    }
    return false;
  }
  return true;
}

bool read_request_head(int fd, std::string* head, size_t max_bytes, std::chrono::milliseconds timeout,
                       const Stopper& stop) {
  head->clear();
  const auto deadline = Clock::now() + timeout;
  char buffer[1024];
  for (;;) {
    // Stop at the blank line, whichever line ending the client uses.
    const size_t crlf = head->find("\r\n\r\n");
    const size_t lf = head->find("\n\n");
    if (crlf != std::string::npos || lf != std::string::npos) {
      const size_t end = std::min(crlf == std::string::npos ? head->size() : crlf + 4,
                                  lf == std::string::npos ? head->size() : lf + 2);
      head->resize(end);
      return true;
    }
    if (head->size() >= max_bytes) return false;
    const int revents = wait_for(fd, POLLIN, stop, remaining_ms(deadline));
    if (revents <= 0) return false;  // time-out or stop
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    head->append(buffer, static_cast<size_t>(n));
  }
}

bool wait_peer_closed(int fd, const Stopper& stop) {
  char buffer[512];
  for (;;) {
    const int revents = wait_for(fd, POLLIN, stop, -1);
    if (revents < 0) return false;
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return true;
  }
}

void close_gracefully(Fd& fd, std::chrono::milliseconds linger, const Stopper& stop) {
  if (!fd.valid()) return;
  shutdown(fd.get(), SHUT_WR);
  const auto deadline = Clock::now() + linger;
  char buffer[512];
  while (!stop.fired()) {
    const int revents = wait_for(fd.get(), POLLIN, stop, remaining_ms(deadline));
    if (revents <= 0) break;
    const ssize_t n = recv(fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) break;
  }
  fd.reset();
}

}  // namespace camsim
