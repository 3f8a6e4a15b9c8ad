// camsim's TCP side: a listener that runs one thread per connection, the
// camera that answers on it, and the dynamic-DNS page.
//
// Threads: each Listener has an accept thread and one thread per open
// connection. All of them wait only in poll() calls that include the shared
// Stopper, so firing it ends every thread promptly; the Listener's destructor
// joins them (fire the Stopper first).
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "tools/camsim/net_util.h"
#include "tools/camsim/options.h"
#include "tools/clipkit/asf.h"

namespace camsim {

class Listener {
 public:
  using Handler = std::function<void(Fd client)>;

  explicit Listener(const Stopper& stop) : stop_(stop) {}
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Binds and listens; false with a reason.
  [[nodiscard]] bool open(const std::string& ip, uint16_t port, std::string* error);
  uint16_t port() const { return port_; }
  // Starts accepting; each connection runs handler on its own thread.
  void start(Handler handler);

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void accept_loop();
  void reap(bool all);

  const Stopper& stop_;
  Fd socket_;
  uint16_t port_ = 0;
  Handler handler_;
  std::thread accept_thread_;
  std::list<std::unique_ptr<Connection>> connections_;  // accept thread only
};

// What every HTTP endpoint of the process shares, fixed before start.
struct ServerSettings {
  bool fast = false;
  bool verbose = false;
  std::string ddns_path;   // served on camera ports when not empty
  std::string ddns_reply;  // the whole DDNS reply
};

class CameraServer {
 public:
  // config, clip and settings must outlive the server.
  CameraServer(int number, const CameraConfig& config, const clipkit::Clip& clip, const ServerSettings& settings,
               const Stopper& stop);

  [[nodiscard]] bool open(const std::string& ip, std::string* error) { return listener_.open(ip, config_.port, error); }
  uint16_t port() const { return listener_.port(); }
  void start();

 private:
  void serve(Fd client);
  void stream(int fd);

  int number_;
  const CameraConfig& config_;
  const clipkit::Clip& clip_;
  const ServerSettings& settings_;
  const Stopper& stop_;
  std::atomic<uint32_t> video_requests_{0};
  std::atomic<uint32_t> stream_connections_{0};
  Listener listener_;  // last: its threads use the members above
};

// Answers every GET on its port with the dynamic-DNS page.
class DdnsServer {
 public:
  DdnsServer(const ServerSettings& settings, const Stopper& stop) : settings_(settings), stop_(stop), listener_(stop) {}
  [[nodiscard]] bool open(const std::string& ip, uint16_t port, std::string* error) {
    return listener_.open(ip, port, error);
  }
  uint16_t port() const { return listener_.port(); }
  void start();

 private:
  const ServerSettings& settings_;
  const Stopper& stop_;
  Listener listener_;
};

}  // namespace camsim
