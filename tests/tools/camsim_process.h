// Runs the camsim program for a test and talks to it over loopback the way
// the viewer does.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

extern char** environ;

namespace tooltest {

inline std::string camsim_path() { return std::string(CAMVIEWER_TOOLS_BIN_DIR) + "/camsim/camsim"; }

// Starts camsim with the given arguments and reads its start-up lines.
class CamsimProcess {
 public:
  explicit CamsimProcess(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> all = {camsim_path()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    stdout_fd_ = out[0];
    if (pid_ > 0) read_startup();
  }
  ~CamsimProcess() {
    stop();
    if (stdout_fd_ >= 0) close(stdout_fd_);
  }
  CamsimProcess(const CamsimProcess&) = delete;
  CamsimProcess& operator=(const CamsimProcess&) = delete;

  bool ready() const { return ready_; }
  const std::vector<uint16_t>& ports() const { return ports_; }
  uint16_t port(size_t i = 0) const { return i < ports_.size() ? ports_[i] : 0; }
  uint16_t ddns_port() const { return ddns_port_; }
  uint16_t discovery_port() const { return discovery_port_; }
  const std::string& startup_text() const { return text_; }

  // SIGTERM, then waits; the exit status, or -1 if it did not exit normally
  // within the time (it is then killed).
  int stop(std::chrono::milliseconds within = std::chrono::milliseconds(5000)) {
    if (pid_ <= 0) return status_;
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + within;
    int status = 0;
    for (;;) {
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        status_ = -1;
        break;
      }
      usleep(10000);
    }
    pid_ = -1;
    return status_;
  }

 private:
  void read_startup() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string line;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{stdout_fd_, POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char c;
      if (read(stdout_fd_, &c, 1) != 1) return;  // exited
      text_.push_back(c);
      if (c != '\n') {
        line.push_back(c);
        continue;
      }
      if (line == "ready") {
        ready_ = true;
        return;
      }
      const auto port = static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
      if (line.rfind("listening ", 0) == 0) ports_.push_back(port);
      if (line.rfind("ddns ", 0) == 0) ddns_port_ = port;
      if (line.rfind("discovery ", 0) == 0) discovery_port_ = port;
      line.clear();
    }
  }

  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  int status_ = -1;
  bool ready_ = false;
  std::string text_;
  std::vector<uint16_t> ports_;
  uint16_t ddns_port_ = 0, discovery_port_ = 0;
};

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
  std::string request = "GET " + path + " HTTP/1.1\r\nUser-Agent: test\r\nHost: 127.0.0.1\r\nAuthorization: Basic " +
                        b64 + "==\r\n\r\n";
  request.push_back('\0');
  return request;
}

}  // namespace tooltest
