#include "viewer/net/stream_connection.h"

#include <chrono>
#include <cstring>
#include <optional>
#include <system_error>

#include "viewer/net/camera_http.h"
#include "viewer/platform/http_fetch.h"
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
  if (!socket_.connect(platform::Ipv4Endpoint{*ip, static_cast<std::uint16_t>(port)}, timeout_s_,
                       &attempt_stopped_)) {
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
  // The first refill reads a whole window.
  consumed_ = kWindowBytes;
  consumed_pending_ = true;
  stop_.store(false);
  receive_failed_.store(false);
  window_.fill(0);
  data_ready_.reset();
  need_data_.set();
  try {
    receiver_ = std::thread([this] { receive_loop(); });
  } catch (const std::system_error&) {
    receive_failed_.store(true);
  }
}

void StreamConnection::receive_loop() {
  while (!stop_.load()) {
    (void)need_data_.wait(platform::kWaitForever);
    if (stop_.load()) break;
    if (!refill()) {
      receive_failed_.store(true);
      // Wake a reader already waiting for this refill: the stream is over,
      // and it must not sit out the whole time-out to learn that.
      data_ready_.set();
      break;
    }
  }
}

bool StreamConnection::refill() {
  if (stop_.load() || aborted_.load() || !socket_.is_open()) return false;
  if (!consumed_pending_) return true;
  const std::uint32_t kept = kWindowBytes - consumed_;
  std::memmove(window_.data(), window_.data() + consumed_, kept);
  if (socket_.read_exactly(window_.data() + kept, consumed_) != consumed_) return false;
  consumed_ = 0;
  consumed_pending_ = false;
  data_ready_.set();
  return true;
}

int StreamConnection::read(std::uint8_t* destination, std::uint32_t n) {
  if (destination == nullptr || n == 0 || n > kWindowBytes) return -1;
  if (!receiver_.joinable() || !socket_.is_open() || receive_failed_.load()) return -1;
  if (!data_ready_.wait(static_cast<std::uint32_t>(timeout_s_) * 1000u)) return -1;
  if (stop_.load() || aborted_.load() || receive_failed_.load()) return -1;
  std::memcpy(destination, window_.data(), n);
  consumed_ = n;
  consumed_pending_ = true;
  data_ready_.reset();
  need_data_.set();
  return static_cast<int>(n);
}

void StreamConnection::close() {
  {
    // Shutting the socket down first wakes a receive thread blocked in recv.
    std::lock_guard lock(socket_mutex_);
    socket_.shutdown();
  }
  stop_.store(true);
  need_data_.set();
  data_ready_.set();
  if (receiver_.joinable()) receiver_.join();
  {
    std::lock_guard lock(socket_mutex_);
    socket_.close();
  }
  data_ready_.reset();
  need_data_.reset();
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
  // A reader waiting for the window sees the abort at once.
  data_ready_.set();
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
