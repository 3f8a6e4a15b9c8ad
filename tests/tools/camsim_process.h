// Talks to a camsim started by the test over loopback the way the viewer
// does.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/camsim.h"

namespace tooltest {

using test_support::camsim_path;
using test_support::CamsimProcess;

// A TCP connection to 127.0.0.1:port with a receive time-out.
class Connection {
 public:
  explicit Connection(uint16_t port, int timeout_ms = 10000) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~Connection() {
    if (fd_ >= 0) close(fd_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  bool send_text(const std::string& text) {
    return fd_ >= 0 && ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }

  // Reads exactly n bytes; false on close, error or time-out.
  bool read_exact(std::vector<uint8_t>* out, size_t n) {
    out->resize(n);
    size_t got = 0;
    while (got < n) {
      const ssize_t r = recv(fd_, out->data() + got, n - got, 0);
      if (r <= 0) return false;
      got += static_cast<size_t>(r);
    }
    return true;
  }

  // Reads the reply head up to the blank line, byte by byte so nothing of
  // the stream behind it is taken.
  std::string read_head() {
    std::string head;
    char c;
    while (head.size() < 1 << 20 && recv(fd_, &c, 1, 0) == 1) {
      head.push_back(c);
      if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) break;
    }
    return head;
  }

  // Everything until the peer closes (or the time-out).
  std::string read_all() {
    std::string text;
    char buffer[4096];
    ssize_t r;
    while ((r = recv(fd_, buffer, sizeof buffer, 0)) > 0) text.append(buffer, static_cast<size_t>(r));
    return text;
  }

  // True when the peer closed within timeout_ms without sending anything
  // more; false on data or silence.
  bool closed_within(int timeout_ms, bool* got_data = nullptr) {
    pollfd p{fd_, POLLIN, 0};
    if (got_data) *got_data = false;
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    char c;
    const ssize_t r = recv(fd_, &c, 1, MSG_DONTWAIT);
    if (r > 0 && got_data) *got_data = true;
    return r == 0;
  }

 private:
  int fd_ = -1;
};

// The request as the viewer writes it: its own base64 text followed by two
// literal '=', and a terminating zero byte after the blank line.
inline std::string viewer_request(const std::string& user, const std::string& password,
                                  const std::string& path = "/img/video.asf") {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string in = user + ":" + password;
  std::string b64;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<uint8_t>(in[i + 1]) << 8;
    if (i + 2 < in.size()) v |= static_cast<uint8_t>(in[i + 2]);
    b64 += alphabet[(v >> 18) & 63];
    b64 += alphabet[(v >> 12) & 63];
    b64 += i + 1 < in.size() ? alphabet[(v >> 6) & 63] : '=';
    b64 += i + 2 < in.size() ? alphabet[v & 63] : '=';
  }
  std::string request =
      "GET " + path + " HTTP/1.1\r\nUser-Agent: test\r\nHost: 127.0.0.1\r\nAuthorization: Basic " + b64 + "==\r\n\r\n";
  request.push_back('\0');
  return request;
}

}  // namespace tooltest
