#include "viewer/net/stream_connection.h"

#include <chrono>
#include <cstring>
#include <optional>
#include <system_error>

#include "viewer/net/camera_http.h"
#include "viewer/platform/http_fetch.h"
#include "viewer/platform/tick.h"
#include "viewer/platform/ui_seams.h"

namespace net {
namespace {

// The reply head is read one byte per receive, so that nothing of the stream
// behind it is taken out of the socket. The whole head has one deadline: each
// receive's own time-out alone would let a peer that sends a byte now and
// then hold the attempt for as long as the head's limits allow (100 lines of
// 8,191 bytes).
class SocketLineReader final : public ByteReader {
 public:
  using Clock = std::chrono::steady_clock;
  SocketLineReader(platform::TcpSocket& s, Clock::time_point deadline) : socket_(s), deadline_(deadline) {}
  bool read_byte(std::uint8_t* b) override {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    if (left <= 0 || !socket_.wait_readable(static_cast<int>(left))) return false;
    return socket_.read_exactly(b, 1) == 1;
  }

 private:
  platform::TcpSocket& socket_;
  const Clock::time_point deadline_;
};

}  // namespace

StreamConnection::StreamConnection(int timeout_s) : timeout_s_(timeout_s > 0 ? timeout_s : 1) {}

StreamConnection::~StreamConnection() { close(); }

int StreamConnection::start(const std::string& address, const std::string& port, const std::string& user,
                            const std::string& password) {
  close();
  const int result = connect_and_request(address, port, user, password);
  if (result != kConnectStreaming) close();
  return result;
}

bool StreamConnection::resolve_ddns(const std::string& name, std::string& host, int& port) {
  platform::HttpFetcher fetcher;
  {
    std::lock_guard lock(socket_mutex_);
    if (attempt_stopped_.load()) return false;
    fetcher_ = &fetcher;
  }
  const std::optional<std::string> reply = fetcher.fetch("http://" + name);
  {
    std::lock_guard lock(socket_mutex_);
    fetcher_ = nullptr;
  }
  std::string found_host, found_port;
  if (reply && parse_ddns_reply(*reply, found_host, found_port)) {
    host = found_host;
    port = parse_port_text(found_port);
  } else {
    port = 0;  // no address from the service: the attempt fails below
  }
  return true;
}

int StreamConnection::connect_and_request(const std::string& address, const std::string& port_text,
                                          const std::string& user, const std::string& password) {
  if (attempt_stopped_.load()) return kConnectRetry;
  int port = parse_port_text(port_text);
  if (!platform::resolve_ipv4(address)) return kConnectRetry;

  // An empty port names a dynamic-DNS entry: its page tells the camera's
  // current address and port.
  std::string host = address;
  if (port_text.empty() && !resolve_ddns(address, host, port)) return kConnectRetry;
  if (port == 0) return kConnectRetry;
  const std::optional<std::uint32_t> ip = platform::resolve_ipv4(host);
  if (!ip) return kConnectRetry;

  {
    std::lock_guard lock(socket_mutex_);
    if (attempt_stopped_.load() || !socket_.open()) return kConnectRetry;
  }
  if (!socket_.connect(platform::Ipv4Endpoint{*ip, static_cast<std::uint16_t>(port)}, timeout_s_, &attempt_stopped_)) {
    return kConnectRetry;
  }
  const std::string request = build_video_request(host, user, password);
  if (!socket_.send_all(request.data(), request.size(), timeout_s_)) return kConnectRetry;

  SocketLineReader reader(socket_, SocketLineReader::Clock::now() + std::chrono::seconds(timeout_s_));
  const ReplyStatus status = read_reply_head(reader);
  if (attempt_stopped_.load()) return kConnectRetry;
  switch (status) {
    case ReplyStatus::Streaming:
      break;
    case ReplyStatus::Retry:
      return kConnectRetry;
    case ReplyStatus::BadAccount:
    case ReplyStatus::Refused: {
      {
        std::lock_guard lock(socket_mutex_);
        socket_.close();
      }
      // A notice: the user reads it while this thread ends (or is stopped),
      // never waiting for them.
      platform::notify(status == ReplyStatus::BadAccount ? "account is error!" : "open connection fail!", "warning");
      return kConnectRefused;
    }
  }
  start_receiving();
  if (!receiver_.joinable()) return kConnectRetry;
  return kConnectStreaming;
}

void StreamConnection::start_receiving() {
  stop_.store(false);
  receive_failed_.store(false);
  {
    std::lock_guard lock(window_mutex_);
    begin_ = 0;
    end_ = 0;
    arrivals_.clear();
    received_ = 0;
    handed_ = 0;
    last_arrival_ = 0;
  }
  try {
    receiver_ = std::thread([this] { receive_loop(); });
  } catch (const std::system_error&) {
    receive_failed_.store(true);
  }
}

bool StreamConnection::free_space(std::uint32_t* at, std::uint32_t* room) {
  std::unique_lock lock(window_mutex_);
  // Wait while the window holds a whole window of unread bytes.
  space_freed_.wait(lock, [this] { return stop_.load() || aborted_.load() || end_ - begin_ < kWindowBytes; });
  if (stop_.load() || aborted_.load()) return false;
  if (end_ == kWindowBytes) {
    // The free space is in front of the unread bytes: move them there. The
    // reader copies only under the lock, so it never sees them moving.
    std::memmove(window_.data(), window_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  *at = end_;
  *room = kWindowBytes - end_;
  return true;
}

void StreamConnection::receive_loop() {
  for (;;) {
    std::uint32_t at = 0, room = 0;
    if (!free_space(&at, &room)) break;
    // Blocks until the network delivers something; the socket's receive
    // time-out ends a stalled stream, and close() or abort() shut it down.
    const std::size_t got = socket_.read_some(window_.data() + at, room);
    std::lock_guard lock(window_mutex_);
    if (got == 0) {
      // Wake a reader already waiting: the stream is over, and it must not
      // sit out the whole time-out to learn that.
      receive_failed_.store(true);
      data_arrived_.notify_all();
      break;
    }
    end_ += static_cast<std::uint32_t>(got);
    received_ += got;
    arrivals_.push_back({received_, platform::tick_ms()});
    data_arrived_.notify_all();
  }
}

int StreamConnection::read(std::uint8_t* destination, std::uint32_t n) {
  if (destination == nullptr || n == 0 || n > kWindowBytes) return -1;
  if (!receiver_.joinable() || !socket_.is_open()) return -1;
  std::unique_lock lock(window_mutex_);
  const bool ready = data_arrived_.wait_for(lock, std::chrono::seconds(timeout_s_), [&] {
    return end_ - begin_ >= n || stop_.load() || aborted_.load() || receive_failed_.load();
  });
  if (!ready || stop_.load() || aborted_.load() || end_ - begin_ < n) return -1;
  std::memcpy(destination, window_.data() + begin_, n);
  begin_ += n;
  handed_ += n;
  while (!arrivals_.empty() && arrivals_.front().end < handed_) arrivals_.pop_front();
  if (!arrivals_.empty()) last_arrival_ = arrivals_.front().tick;
  space_freed_.notify_all();
  return static_cast<int>(n);
}

void StreamConnection::close() {
  {
    // Shutting the socket down first wakes a receive thread blocked in recv.
    std::lock_guard lock(socket_mutex_);
    socket_.shutdown();
  }
  {
    std::lock_guard lock(window_mutex_);
    stop_.store(true);
    space_freed_.notify_all();
    data_arrived_.notify_all();
  }
  if (receiver_.joinable()) receiver_.join();
  {
    std::lock_guard lock(socket_mutex_);
    socket_.close();
  }
}

void StreamConnection::set_stop_reason(std::atomic<bool>& reason, bool on) {
  std::lock_guard lock(socket_mutex_);
  reason.store(on);
  attempt_stopped_.store(aborted_.load() || attempt_cancelled_.load());
  if (!on) return;
  // Wakes a send or a reply head in progress (and a receive); a connect
  // sees the flag.
  socket_.shutdown();
  if (fetcher_) fetcher_->cancel();
}

void StreamConnection::abort() {
  set_stop_reason(aborted_, true);
  // A reader waiting for the window, and a receive thread waiting for
  // room in it, see the abort at once.
  std::lock_guard lock(window_mutex_);
  data_arrived_.notify_all();
  space_freed_.notify_all();
}

void StreamConnection::clear_abort() { set_stop_reason(aborted_, false); }

void StreamConnection::cancel_attempt() { set_stop_reason(attempt_cancelled_, true); }

void StreamConnection::clear_attempt_cancel() { set_stop_reason(attempt_cancelled_, false); }

void StreamConnection::interrupt() {
  std::lock_guard lock(socket_mutex_);
  socket_.shutdown();
}

bool StreamConnection::is_dead() const {
  platform::TcpSocket probe;
  {
    std::lock_guard lock(socket_mutex_);
    if (!socket_.share_into(probe)) return true;
  }
  return probe.is_dead(timeout_s_);
}

}  // namespace net
