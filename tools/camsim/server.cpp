#include "tools/camsim/server.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "tools/camsim/http.h"

namespace camsim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr size_t kMaxRequestHead = 16384;
constexpr auto kRequestTimeout = 10s;
constexpr auto kLinger = 500ms;

void reply(Fd& client, const std::string& text, const Stopper& stop) {
  (void)send_all(client.get(), text, stop);
  close_gracefully(client, kLinger, stop);
}

// A frame size no 640x480 picture needs (a viewer takes at most 307,200).
constexpr uint32_t kOversizedFrameBytes = 1u << 20;

// Rewrites the frame size in the replicated data of the packet's first
// payload that starts a video frame (stream byte, object number, offset,
// replicated length, then the size). True when the packet had one.
bool announce_oversized_frame(clipkit::AsfPacket& packet) {
  std::vector<uint8_t>& p = packet.bytes;
  size_t at = clipkit::kPacketHeaderBytes;
  if (p.size() <= at) return false;
  for (unsigned n = p[at - 1] & 0x3Fu; n > 0; --n) {
    if (at + 7 > p.size()) return false;
    const uint8_t stream = p[at];
    const uint8_t replicated = p[at + 6];
    if (at + 7 + replicated + 2 > p.size()) return false;
    if ((stream & 0x7F) == 1 && replicated >= 8) {
      for (int i = 0; i < 4; ++i) p[at + 7 + i] = static_cast<uint8_t>(kOversizedFrameBytes >> (8 * i));
      return true;
    }
    at += 7 + replicated;
    const size_t length = p[at] | static_cast<size_t>(p[at + 1]) << 8;
    at += 2 + length;
  }
  return false;
}

}  // namespace

Listener::~Listener() {
  if (accept_thread_.joinable()) accept_thread_.join();
  reap(true);
}

bool Listener::open(const std::string& ip, uint16_t port, std::string* error) {
  socket_ = listen_tcp(ip, port, &port_, error);
  return socket_.valid();
}

void Listener::start(Handler handler) {
  handler_ = std::move(handler);
  accept_thread_ = std::thread([this] { accept_loop(); });
}

void Listener::accept_loop() {
  pollfd fds[2] = {{socket_.get(), POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
  while (!stop_.fired()) {
    // Wake now and then to join the threads of finished connections.
    const int n = poll(fds, 2, 1000);
    reap(false);
    if (n < 0 && errno != EINTR) break;
    if (n <= 0 || fds[1].revents) continue;
    Fd client(accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.valid()) continue;
    auto connection = std::make_unique<Connection>();
    Connection* c = connection.get();
    c->thread = std::thread([this, c, fd = client.release()]() mutable {
      handler_(Fd(fd));
      c->done = true;
    });
    connections_.push_back(std::move(connection));
  }
  reap(true);
}

void Listener::reap(bool all) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (all || (*it)->done) {
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

CameraServer::CameraServer(int number, const CameraConfig& config, const clipkit::Clip& clip,
                           const ServerSettings& settings, const Stopper& stop)
    : number_(number), config_(config), clip_(clip), settings_(settings), stop_(stop), listener_(stop) {}

void CameraServer::start() {
  listener_.start([this](Fd client) { serve(std::move(client)); });
}

void CameraServer::serve(Fd client) {
  std::string head;
  if (!read_request_head(client.get(), &head, kMaxRequestHead, kRequestTimeout, stop_)) {
    close_gracefully(client, kLinger, stop_);
    return;
  }
  HttpRequest request;
  if (!parse_request_head(head, &request)) {
    if (settings_.verbose) std::fprintf(stderr, "camsim: camera %d: malformed request\n", number_);
    reply(client, simple_response(400, "text/plain", "bad request\r\n"), stop_);
    return;
  }
  const bool account_ok =
      request.has_authorization && basic_auth_matches(request.authorization, config_.user, config_.password);
  if (settings_.verbose)
    std::fprintf(stderr, "camsim: camera %d: %s %s (%s)\n", number_, request.method.c_str(), request.target.c_str(),
                 !request.has_authorization ? "no account"
                 : account_ok               ? "account ok"
                                            : "wrong account");
  if (request.method != "GET") {
    reply(client, simple_response(405, "text/plain", "GET only\r\n"), stop_);
    return;
  }

  if (request.path == "/img/video.asf") {
    const uint32_t n = ++video_requests_;
    if (n <= config_.fail_first) {
      reply(client, simple_response(config_.fail_status, "text/plain", status_text(config_.fail_status) + "\r\n"),
            stop_);
    } else if (!account_ok) {
      reply(client, simple_response(401, "text/plain", "", "WWW-Authenticate: Basic realm=\"camera\"\r\n"), stop_);
    } else {
      stream(client.get());
      close_gracefully(client, kLinger, stop_);
    }
    return;
  }
  if (request.path == "/util/util2.cgi") {
    const std::string body = config_.info_body_set
                                 ? config_.info_body
                                 : camera_info_body(config_.description, mac_with_colons(config_.mac), config_.name);
    reply(client, simple_response(200, "text/plain", body), stop_);
    return;
  }
  if (!settings_.ddns_path.empty() && request.path == settings_.ddns_path) {
    reply(client, settings_.ddns_reply, stop_);
    return;
  }
  reply(client, simple_response(404, "text/plain", "not found\r\n"), stop_);
}

void CameraServer::stream(int fd) {
  const uint32_t connection = ++stream_connections_;
  const Faults& faults = config_.faults;
  const bool faulty = faults.connections == 0 || connection <= faults.connections;

  clipkit::MuxOptions options;
  options.packet_bytes = config_.packet_bytes;
  options.audio = config_.audio;
  // A file ID of its own per camera, as each real camera has.
  options.file_id = {'c', 'a', 'm', 's', 'i', 'm', 0, static_cast<uint8_t>(number_)};
  std::copy(config_.mac.begin(), config_.mac.end(), options.file_id.begin() + 10);
  clipkit::CameraMuxer muxer(clip_, options);

  if (!send_all(fd, stream_response_head(config_.reply_header_lines), stop_)) return;
  if (!send_all(fd, muxer.header().data(), muxer.header().size(), stop_)) return;

  const auto start = Clock::now();
  uint64_t sent = 0;
  bool oversized = false;
  for (;;) {
    if (faulty && faults.close_after != 0 && sent == faults.close_after) {
      if (settings_.verbose)
        std::fprintf(stderr, "camsim: camera %d: closing after %llu packets\n", number_,
                     static_cast<unsigned long long>(sent));
      return;
    }
    if (faulty && faults.stall_after != 0 && sent == faults.stall_after) {
      if (settings_.verbose)
        std::fprintf(stderr, "camsim: camera %d: stalling after %llu packets\n", number_,
                     static_cast<unsigned long long>(sent));
      (void)wait_peer_closed(fd, stop_);
      return;
    }
    clipkit::AsfPacket packet = muxer.next_packet();
    if (faulty && faults.corrupt_after != 0 && sent == faults.corrupt_after)
      std::fill(packet.bytes.begin() + clipkit::kPacketHeaderBytes, packet.bytes.end(), 0xFF);
    if (faulty && faults.oversize_after != 0 && sent >= faults.oversize_after && !oversized)
      oversized = announce_oversized_frame(packet);
    if (!settings_.fast) {
      // A live camera has a packet only once its last object was captured.
      const auto due = start + std::chrono::milliseconds(packet.due_ms);
      const auto now = Clock::now();
      if (due > now && !stop_.sleep_for(std::chrono::duration_cast<std::chrono::milliseconds>(due - now) + 1ms)) return;
    }
    if (!send_all(fd, packet.bytes.data(), packet.bytes.size(), stop_)) return;
    ++sent;
  }
}

void DdnsServer::start() {
  listener_.start([this](Fd client) {
    std::string head;
    HttpRequest request;
    if (!read_request_head(client.get(), &head, kMaxRequestHead, kRequestTimeout, stop_) ||
        !parse_request_head(head, &request)) {
      close_gracefully(client, kLinger, stop_);
      return;
    }
    if (settings_.verbose)
      std::fprintf(stderr, "camsim: ddns: %s %s\n", request.method.c_str(), request.target.c_str());
    reply(client, settings_.ddns_reply, stop_);
  });
}

}  // namespace camsim
