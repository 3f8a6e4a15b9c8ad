// One camera's HTTP video connection and its receive window.
//
// start() resolves the camera (through its dynamic-DNS page when the port is
// empty), connects, sends the video request and reads the reply head. While
// streaming, read() serves the stream from a 12,800-byte window that it
// refills from the socket on the owner's own thread: each refill takes
// everything the network has delivered so far, and when that is still short
// of the bytes asked for, waits for exactly the rest. So a read never waits
// for more than it asks (a window that had to be full first would hold every
// picture back by 12,800 bytes of stream, 170 ms at 600 kbit/s), and a camera
// costs one wake-up per piece the demultiplexer asks for, not a hand-over
// between two threads for every network segment. The kernel's socket buffer
// keeps receiving while the owner parses.
//
// Threads: start(), read() and close() belong to one owner thread (the
// camera's stream thread). abort(), interrupt(), is_dead() and is_closed()
// may be called from any thread; they wake a blocked read by shutting the
// socket down.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "viewer/net/byte_source.h"
#include "viewer/platform/event.h"
#include "viewer/platform/tcp_socket.h"

namespace platform {
class HttpFetcher;
}

namespace net {

// Results of StreamConnection::start, as the stream thread knows them.
inline constexpr int kConnectStreaming = 1;
inline constexpr int kConnectRefused = 0;  // the camera refused; the user was told
inline constexpr int kConnectRetry = 5;    // failed quietly; try again

class StreamConnection final : public ByteSource {
 public:
  static constexpr std::uint32_t kWindowBytes = kStreamWindowBytes;

  explicit StreamConnection(int timeout_s = 30);
  ~StreamConnection() override;
  StreamConnection(const StreamConnection&) = delete;
  StreamConnection& operator=(const StreamConnection&) = delete;

  // Connects and requests the stream: kConnectStreaming, kConnectRefused (a
  // notice "account is error!" or "open connection fail!" was posted,
  // caption "warning") or kConnectRetry. The reply head must be complete
  // within the time-out from the request. Owner thread.
  [[nodiscard]] int start(const std::string& address, const std::string& port, const std::string& user,
                          const std::string& password);

  // Copies the next n bytes of the stream (1 <= n <= 12,800) once they have
  // arrived, waiting at most the time-out; n, or -1 when the stream failed,
  // timed out, was closed or aborted. Owner thread.
  [[nodiscard]] int read(std::uint8_t* destination, std::uint32_t n) override;
  std::uint32_t arrival_tick() const override { return last_arrival_; }

  // Called on the owner thread whenever a read is about to wait for the
  // network: everything that has arrived so far was taken from the socket,
  // and what the reader queued from it is all there is for now. Set before
  // the owner reads.
  void set_before_wait(std::function<void()> before_wait) { before_wait_ = std::move(before_wait); }

  // Closes the socket. Owner thread.
  void close();

  // Makes every blocking step of the owner fail promptly, now and until
  // clear_abort(): used by a stop request. Any thread.
  void abort();
  void clear_abort();

  // Makes the connection attempt in progress (look-up of a dynamic-DNS
  // name, connect, request, reply head) fail promptly, and any attempt
  // started before clear_attempt_cancel(): used when the address or account
  // changed, so that an attempt with the old ones is not waited out. The
  // owner clears it before it reads the values of its next attempt. Any
  // thread.
  void cancel_attempt();
  void clear_attempt_cancel();

  // Drops the current connection: the owner's next read fails and it
  // connects again. Any thread.
  void interrupt();

  // True when there is no connection, it has failed, or it does not take
  // data within the time-out. May wait that long. Any thread.
  [[nodiscard]] bool is_dead() const;

  // True when there is no socket. Any thread.
  [[nodiscard]] bool is_closed() const { return !socket_.is_open(); }

  int timeout_s() const { return timeout_s_; }

 private:
  [[nodiscard]] int connect_and_request(const std::string& address, const std::string& port, const std::string& user,
                                        const std::string& password);
  [[nodiscard]] bool resolve_ddns(const std::string& name, std::string& host, int& port);
  // Sets or clears one reason to stop attempts (aborted_ or
  // attempt_cancelled_); setting one also wakes what blocks now.
  void set_stop_reason(std::atomic<bool>& reason, bool on);
  void start_receiving();
  // Makes room behind the unread bytes for at least `wanted` more, moving
  // them to the window's front when the free space is in front of them.
  void make_room(std::uint32_t wanted);

  const int timeout_s_;
  platform::TcpSocket socket_;
  // Guards opening and closing socket_ and fetcher_ against abort(),
  // interrupt() and is_dead() from other threads.
  mutable std::mutex socket_mutex_;
  platform::HttpFetcher* fetcher_ = nullptr;
  std::atomic<bool> aborted_{false};
  std::atomic<bool> attempt_cancelled_{false};
  // aborted_ or attempt_cancelled_: what a connection attempt checks. The
  // three change together under socket_mutex_.
  std::atomic<bool> attempt_stopped_{false};

  // Receive side, the owner's alone: the unread bytes are
  // window_[begin_, end_).
  std::uint32_t begin_ = 0;
  std::uint32_t end_ = 0;
  std::array<std::uint8_t, kWindowBytes> window_{};
  // When the bytes in the window arrived: per refill, the stream offset
  // just past its bytes and the tick its last byte came in.
  struct Arrival {
    std::uint64_t end = 0;
    std::uint32_t tick = 0;
  };
  std::deque<Arrival> arrivals_;
  bool streaming_ = false;      // the reply head was read: the stream follows
  std::uint64_t received_ = 0;  // stream bytes taken from the socket
  std::uint64_t handed_ = 0;    // stream bytes handed to the reader
  std::uint32_t last_arrival_ = 0;
  std::function<void()> before_wait_;
};

}  // namespace net
