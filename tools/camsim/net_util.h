// Socket plumbing for camsim: owned descriptors, a stop signal every wait
// watches, and sends and receives that give up when it fires.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace camsim {

// Owns a file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset();

 private:
  int fd_ = -1;
};

// A one-way stop signal: once fired, its descriptor stays readable, so every
// poll() that includes it wakes, now and later.
class Stopper {
 public:
  Stopper();
  void fire();
  bool fired() const { return fired_.load(); }
  int fd() const { return read_end_.get(); }
  // Sleeps up to `duration`; false when the stop fired meanwhile.
  bool sleep_for(std::chrono::milliseconds duration) const;

 private:
  Fd read_end_;
  Fd write_end_;
  std::atomic<bool> fired_{false};
};

// Parses a dotted IPv4 address (no host names: camsim only binds numbers).
[[nodiscard]] bool make_address(const std::string& ip, uint16_t port, sockaddr_in* out);

// A listening TCP socket on ip:port (port 0 picks one); *bound_port gets the
// real port. Invalid Fd and a reason on failure.
Fd listen_tcp(const std::string& ip, uint16_t port, uint16_t* bound_port, std::string* error);

// A UDP socket bound to ip:port.
Fd bind_udp(const std::string& ip, uint16_t port, uint16_t* bound_port, std::string* error);

// Sends all bytes, waiting for room as long as needed. False when the peer is
// gone or the stop fired.
[[nodiscard]] bool send_all(int fd, const void* data, size_t size, const Stopper& stop);
[[nodiscard]] inline bool send_all(int fd, const std::string& text, const Stopper& stop) {
  return send_all(fd, text.data(), text.size(), stop);
}

// Reads until the blank line that ends an HTTP request head (at most
// max_bytes, within timeout). The head, without what follows, goes to *head.
[[nodiscard]] bool read_request_head(int fd, std::string* head, size_t max_bytes, std::chrono::milliseconds timeout,
                                     const Stopper& stop);

// Waits until the peer closes, sends something, or the stop fires; true when
// the peer closed or failed.
bool wait_peer_closed(int fd, const Stopper& stop);

// Ends a connection so that the reply already sent is not lost to a reset:
// shut the sending side, read and drop what the client still sends (the
// viewer follows its request with a zero byte) until it closes or `linger`
// passes, then close.
void close_gracefully(Fd& fd, std::chrono::milliseconds linger, const Stopper& stop);

}  // namespace camsim
