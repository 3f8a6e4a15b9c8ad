#include "viewer/net/stream_connection.h"

#include <chrono>
#include <cstring>
#include <optional>

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
  return kConnectStreaming;
}

void StreamConnection::start_receiving() {
  begin_ = 0;
  end_ = 0;
  arrivals_.clear();
  received_ = 0;
  handed_ = 0;
  last_arrival_ = 0;
  streaming_ = true;
}

void StreamConnection::make_room(std::uint32_t wanted) {
  if (kWindowBytes - end_ >= wanted) return;
  std::memmove(window_.data(), window_.data() + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
}

int StreamConnection::read(std::uint8_t* destination, std::uint32_t n) {
  if (destination == nullptr || n == 0 || n > kWindowBytes) return -1;
  if (!streaming_ || !socket_.is_open()) return -1;
  while (end_ - begin_ < n) {
    // A stop request shuts the socket down, which ends a receive in
    // progress; the flag covers one that came before this read.
    if (aborted_.load()) return -1;
    const std::uint32_t missing = n - (end_ - begin_);
    make_room(missing);
    // Blocks until the missing bytes are there; the socket's receive
    // time-out ends a stalled stream, and close(), abort() and interrupt()
    // shut it down.
    const std::size_t got = socket_.read_at_least(window_.data() + end_, missing, kWindowBytes - end_, before_wait_);
    if (got == 0) {
      streaming_ = false;  // the stream is over; the owner connects again
      return -1;
    }
    end_ += static_cast<std::uint32_t>(got);
    received_ += got;
    arrivals_.push_back({received_, platform::tick_ms()});
  }
  std::memcpy(destination, window_.data() + begin_, n);
  begin_ += n;
  handed_ += n;
  while (!arrivals_.empty() && arrivals_.front().end < handed_) arrivals_.pop_front();
  if (!arrivals_.empty()) last_arrival_ = arrivals_.front().tick;
  return static_cast<int>(n);
}

void StreamConnection::close() {
  std::lock_guard lock(socket_mutex_);
  streaming_ = false;
  socket_.close();
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
  // Shutting the socket down (set_stop_reason) ends a read in progress.
  set_stop_reason(aborted_, true);
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
