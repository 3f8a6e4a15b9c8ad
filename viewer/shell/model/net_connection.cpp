#include "viewer/shell/model/net_connection.h"

#include "viewer/net/camera_stream.h"

namespace model {
namespace {

class NetConnection final : public CameraConnection {
 public:
  NetConnection(std::uintptr_t owner_tag, int timeout_s) : stream_(owner_tag, timeout_s) {}

  void set_sinks(const net::StreamSinks& sinks) override { stream_.set_sinks(sinks); }
  void set_account(const ConnectionAccount& a) override {
    stream_.set_account({a.address, a.port, a.user, a.password});
  }
  int start() override { return stream_.start(); }
  void stop() override { stream_.stop(); }
  void pause() override { stream_.pause(); }
  void resume() override { stream_.resume(); }
  int connection_state() const override { return stream_.connection_state(); }
  bool connected() const override { return stream_.connected(); }
  bool wait_connected(std::uint32_t timeout_ms) override { return stream_.wait_connected(timeout_ms); }
  bool take_state_change() override { return stream_.take_state_change(); }
  bool has_audio() const override { return stream_.has_audio(); }
  int picture_width() const override { return stream_.picture_width(); }
  bool is_closed() const override { return stream_.is_closed(); }
  bool is_dead() const override { return stream_.is_dead(); }
  bool stopping() const override { return stream_.stopping(); }
  std::uint32_t header_length() const override { return stream_.header_length(); }
  void set_muted(bool muted) override { stream_.set_muted(muted); }
  void set_volume(int volume) override { stream_.set_volume(volume); }
  void set_cleanup_hook(std::function<void()> hook) override { stream_.set_cleanup_hook(std::move(hook)); }

 private:
  net::CameraStream stream_;
};

static_assert(kStatePaused == net::kStatePaused && kStatePlaying == net::kStatePlaying &&
              kStateRefused == net::kStateRefused);

}  // namespace

ConnectionFactory net_connection_factory(int timeout_s) {
  return [timeout_s](std::uintptr_t owner_tag) -> std::unique_ptr<CameraConnection> {
    return std::make_unique<NetConnection>(owner_tag, timeout_s);
  };
}

}  // namespace model
