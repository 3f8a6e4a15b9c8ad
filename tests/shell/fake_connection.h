// A camera connection that answers as the test says, and a factory that
// keeps a handle on every connection it made (by owner tag).
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "viewer/shell/model/camera_connection.h"
#include "viewer/shell/model/camera_list.h"

namespace testing_support {

struct FakeConnectionState {
  std::atomic<int> start_result{1};  // what start() answers
  std::atomic<bool> connects{true};  // a started stream reports connected
  std::atomic<int> starts{0};
  std::atomic<int> stops{0};
  std::atomic<int> state{0};
  std::atomic<bool> is_connected{false};
  std::atomic<std::uint32_t> header{0};
  std::atomic<bool> muted{false};
  std::atomic<int> volume{0};
  std::atomic<bool> audio{true};  // the header announces sound
  std::atomic<int> width{320};    // the header's picture width
  std::atomic<bool> state_changed{false};
  std::atomic<int> connect_waits{0};
  model::ConnectionAccount account;
};

class FakeConnection final : public model::CameraConnection {
 public:
  explicit FakeConnection(std::shared_ptr<FakeConnectionState> s) : s_(std::move(s)) {}
  void set_sinks(const net::StreamSinks&) override {}
  void set_account(const model::ConnectionAccount& a) override { s_->account = a; }
  int start() override {
    ++s_->starts;
    int r = s_->start_result.load();
    if (r == 1) {
      s_->state = model::kStatePlaying;
      s_->is_connected = s_->connects.load();
    }
    return r;
  }
  void stop() override {
    ++s_->stops;
    if (hook_) hook_();
    s_->state = model::kStatePaused;
    s_->is_connected = false;
    s_->header = 0;
  }
  void pause() override { s_->state = model::kStatePaused; }
  void resume() override { s_->state = model::kStatePlaying; }
  int connection_state() const override { return s_->state; }
  bool connected() const override { return s_->is_connected; }
  bool wait_connected(std::uint32_t) override {
    ++s_->connect_waits;
    return s_->is_connected;
  }
  bool take_state_change() override { return s_->state_changed.exchange(false); }
  bool has_audio() const override { return s_->header != 0 && s_->audio; }
  int picture_width() const override { return s_->header != 0 ? s_->width.load() : 0; }
  bool is_closed() const override { return !s_->is_connected; }
  bool is_dead() const override { return !s_->is_connected; }
  bool stopping() const override { return false; }
  void set_cleanup_hook(std::function<void()> hook) override { hook_ = std::move(hook); }
  std::uint32_t header_length() const override { return s_->header; }
  void set_muted(bool m) override { s_->muted = m; }
  void set_volume(int v) override { s_->volume = v; }

 private:
  std::shared_ptr<FakeConnectionState> s_;
  std::function<void()> hook_;
};

class FakeConnections {
 public:
  model::ConnectionFactory factory() {
    return [this](std::uintptr_t tag) {
      auto state = std::make_shared<FakeConnectionState>();
      states_[tag] = state;
      return std::make_unique<FakeConnection>(state);
    };
  }
  FakeConnectionState& of(const model::Camera& camera) { return *states_.at(camera.tag()); }

 private:
  std::map<std::uintptr_t, std::shared_ptr<FakeConnectionState>> states_;
};

// Hooks that record what the list asked for; pop-ups open when allowed.
struct RecordingHooks final : model::ShellHooks {
  int list_redraws = 0;
  int popups_opened = 0;
  int popups_closed = 0;
  int controls_created = 0;
  int controls_destroyed = 0;
  bool allow_popup = true;
  void redraw_list() override { ++list_redraws; }
  void create_list_controls(model::Camera&) override { ++controls_created; }
  void destroy_list_controls(model::Camera&) override { ++controls_destroyed; }
  bool open_popup(model::Camera&, int) override {
    ++popups_opened;
    return allow_popup;
  }
  void close_popup(model::Camera&) override { ++popups_closed; }
};

// A record that passes every rule; n makes the MAC unique.
inline model::CameraRecord camera_record(int n, int location = 0) {
  model::CameraRecord r;
  char mac[16];
  std::snprintf(mac, sizeof mac, "00a0b0c0%04x", n);
  r.name = "cam" + std::to_string(n);
  r.address = "127.0.0.1";
  r.port = "80";
  r.mac = mac;
  r.user = "admin";
  r.password = "secret";
  r.location = location;
  return r;
}

}  // namespace testing_support
