// IPv4 TCP socket and host look-up.
//
// One TcpSocket is one connection attempt's socket; it closes itself when
// destroyed. All calls block the calling thread for at most the time-out they
// are given (a receive waits at most the time-out set by connect). Only
// shutdown() may be called from another thread, to wake an operation that is
// blocked; the owner must make sure that no other thread still uses the
// socket when it calls close() or destroys it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace platform {

struct Ipv4Endpoint {
  std::uint32_t address_be = 0;  // network byte order
  std::uint16_t port = 0;        // host byte order
};

// Looks up a host name or dotted quad and returns its first IPv4 address in
// network byte order, or nothing. Blocks for as long as the resolver takes.
// Thread-safe.
[[nodiscard]] std::optional<std::uint32_t> resolve_ipv4(const std::string& host);

// Dotted-quad text of an address in network byte order.
std::string ipv4_text(std::uint32_t address_be);

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket() { close(); }
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Creates the socket; false when the system refuses (no socket then).
  [[nodiscard]] bool open();

  // Shuts both directions and releases the socket; harmless when closed.
  void close();

  // Shuts both directions without releasing the socket: a connect, send or
  // receive blocked in another thread returns at once with a failure. Any
  // thread; harmless when closed.
  void shutdown();

  [[nodiscard]] bool is_open() const { return fd_.load(std::memory_order_acquire) >= 0; }
  int native_handle() const { return fd_.load(std::memory_order_acquire); }

  // Connects, waiting at most timeout_s seconds; gives up early once
  // *cancel (when given) becomes true. On success every later receive waits
  // at most timeout_s seconds for data.
  [[nodiscard]] bool connect(const Ipv4Endpoint& endpoint, int timeout_s, const std::atomic<bool>* cancel = nullptr);

  // Receives exactly n bytes: n, or 0 when the peer closed, an error occurred
  // or the receive time-out passed (the bytes already received are lost).
  [[nodiscard]] std::size_t read_exactly(void* buffer, std::size_t n);
  // Receives what has arrived, at least one byte and at most n, waiting
  // for it at most the receive time-out; 0 when the peer closed, on an
  // error or the time-out.
  [[nodiscard]] std::size_t read_some(void* buffer, std::size_t n);

  // Receives at least `at_least` and at most `at_most` bytes: first what
  // has already arrived, then, when that is short, waits for the rest in one
  // receive that returns only once all of it is there (so a stream read in
  // pieces wakes its reader once per piece, not once per network segment).
  // Each wait lasts at most the receive time-out. Returns the bytes
  // received, or 0 when the peer closed, on an error or the time-out (the
  // bytes already received are lost). before_wait, when given, is called
  // just before that wait, on this thread: everything that had arrived
  // was taken, and the caller is about to be idle.
  [[nodiscard]] std::size_t read_at_least(void* buffer, std::size_t at_least, std::size_t at_most,
                                          const std::function<void()>& before_wait = nullptr);

  // Waits up to timeout_ms milliseconds until there is something to read (or
  // the peer ended, or the socket was shut down). False on time-out or
  // without a socket.
  [[nodiscard]] bool wait_readable(int timeout_ms) const;

  // Waits up to timeout_s seconds until the socket can take data and sends
  // what it takes now: bytes sent, or 0 on time-out or error.
  [[nodiscard]] std::size_t send(const void* buffer, std::size_t n, int timeout_s);

  // Sends all n bytes, each piece within timeout_s; false when a piece fails.
  [[nodiscard]] bool send_all(const void* buffer, std::size_t n, int timeout_s);

  // True when there is no socket, it has failed, or it does not become
  // writable within timeout_s seconds.
  [[nodiscard]] bool is_dead(int timeout_s) const;

  // Makes observer a second handle on this socket, for a check made from
  // another thread while the owner may close its own handle; the observer's
  // close releases only its handle and leaves the connection alone. False
  // when there is no socket.
  [[nodiscard]] bool share_into(TcpSocket& observer) const;

 private:
  std::atomic<int> fd_{-1};
  bool observer_ = false;
};

}  // namespace platform
