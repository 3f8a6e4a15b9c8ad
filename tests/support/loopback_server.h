// A TCP server on 127.0.0.1 (ephemeral port) that plays a camera or a web
// server for tests. Each accepted connection runs the test's script on its
// own thread; everything is shut down and joined when the server is
// destroyed, so a test never leaves a thread or socket behind.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testnet {

class Conn {
 public:
  Conn(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}

  // Reads until the blank line of an HTTP request, then for up to
  // extra_wait_ms whatever else arrives (the zero byte the cameras get).
  std::string read_request(int extra_wait_ms = 200) {
    std::string r;
    char c;
    while (r.find("\r\n\r\n") == std::string::npos) {
      if (!wait_readable(5000) || ::recv(fd_, &c, 1, 0) != 1) return r;
      r.push_back(c);
    }
    while (wait_readable(extra_wait_ms)) {
      char buf[256];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      r.append(buf, static_cast<std::size_t>(n));
    }
    return r;
  }

  bool send(const void* data, std::size_t n) {
    const auto* p = static_cast<const char*>(data);
    while (n > 0) {
      if (stopping_.load()) return false;
      pollfd pf{fd_, POLLOUT, 0};
      if (::poll(&pf, 1, 100) <= 0) continue;
      const ssize_t r = ::send(fd_, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (r <= 0) return false;
      p += r;
      n -= static_cast<std::size_t>(r);
    }
    return true;
  }
  bool send(const std::string& s) { return send(s.data(), s.size()); }
  template <class Bytes>
  bool send_bytes(const Bytes& b) {
    return send(b.data(), b.size());
  }

  // Keeps the connection open, sending nothing, until the peer closes it or
  // the server stops. Returns true when the peer closed.
  bool hold() {
    while (!stopping_.load()) {
      pollfd pf{fd_, POLLIN, 0};
      if (::poll(&pf, 1, 50) > 0) {
        char buf[512];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
      }
    }
    return false;
  }

  // Keeps the connection open without reading anything until the server
  // stops: a peer whose receive buffer fills up.
  void sit() {
    while (!stopping_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  bool wait_readable(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!stopping_.load()) {
      pollfd pf{fd_, POLLIN, 0};
      if (::poll(&pf, 1, 20) > 0) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
    }
    return false;
  }

  int fd() const { return fd_; }

 private:
  int fd_;
  const std::atomic<bool>& stopping_;
};

class LoopbackServer {
 public:
  using Script = std::function<void(Conn&, int index)>;

  // port 0: an ephemeral port (the normal case); a fixed port only inside a
  // private network namespace.
  explicit LoopbackServer(Script script, std::uint16_t port = 0) : script_(std::move(script)) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_fd_, 16) != 0) {
      ::close(listen_fd_);
      listen_fd_ = -1;
      return;
    }
    socklen_t len = sizeof a;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
  }

  ~LoopbackServer() { stop(); }

  void stop() {
    stopping_.store(true);
    if (listen_fd_ >= 0) ::shutdown(listen_fd_, SHUT_RDWR);
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> workers;
    {
      std::lock_guard lock(mutex_);
      workers.swap(workers_);
    }
    for (auto& t : workers) t.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
  }

  std::uint16_t port() const { return port_; }
  std::string port_text() const { return std::to_string(port_); }
  int connections() const { return connections_.load(); }

  // Waits until at least n connections were accepted.
  bool wait_connections(int n, int timeout_ms) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (connections_.load() < n) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

 private:
  void accept_loop() {
    while (!stopping_.load()) {
      pollfd pf{listen_fd_, POLLIN, 0};
      if (::poll(&pf, 1, 50) <= 0) continue;
      const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      const int index = connections_.fetch_add(1);
      std::lock_guard lock(mutex_);
      workers_.emplace_back([this, fd, index] {
        Conn c(fd, stopping_);
        script_(c, index);
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
      });
    }
  }

  Script script_;
  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> workers_;
};

// Threads and open descriptors of this process, to check that nothing was
// left behind.
inline int count_dir_entries(const char* path) {
  int n = 0;
  if (DIR* d = ::opendir(path)) {
    while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] != '.') ++n;
    }
    ::closedir(d);
  }
  return n;
}
// ThreadSanitizer starts a helper thread of its own at the process's first
// thread creation; one short thread first makes a baseline taken before any
// other thread count it too.
inline int thread_count() {
  static const bool runtime_settled = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)runtime_settled;
  return count_dir_entries("/proc/self/task");
}
inline int open_fd_count() { return count_dir_entries("/proc/self/fd") - 1; }  // minus the directory itself

// A port on 127.0.0.1 where nothing listens (bound, then released).
inline std::uint16_t closed_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace testnet
