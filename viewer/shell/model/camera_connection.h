// The streaming side of a camera as the model drives it: start, stop, pause,
// resume and the connection state. The program plugs in the network stream
// (net_connection.h); tests plug in a fake that answers as scripted.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "viewer/net/stream_sinks.h"

namespace model {

// Connection states of a camera.
inline constexpr int kStatePaused = 0;  // stopped or paused
inline constexpr int kStatePlaying = 1;
inline constexpr int kStateRefused = 4;  // the camera refused the account or the request

struct ConnectionAccount {
  std::string address;
  std::string port;
  std::string user;
  std::string password;
};

// start() and stop() are called by the user-interface thread and by the
// schedule loop (one at a time); the const queries by any thread.
class CameraConnection {
 public:
  virtual ~CameraConnection() = default;
  // The consumers of the stream; only while stopped.
  virtual void set_sinks(const net::StreamSinks& sinks) = 0;
  // Address and account used from the next connection on.
  virtual void set_account(const ConnectionAccount& account) = 0;
  // Starts (or restarts) streaming: 1 started, 6 a start or stop is already in
  // progress.
  [[nodiscard]] virtual int start() = 0;
  // Ends streaming and waits for the stream's threads; closes open recordings.
  virtual void stop() = 0;
  virtual void pause() = 0;
  virtual void resume() = 0;
  virtual int connection_state() const = 0;  // kStatePaused, kStatePlaying, kStateRefused
  virtual bool connected() const = 0;        // the last request succeeded
  // Waits until connected, at most timeout_ms; true when connected. Returns
  // early once the connection is stopped or its thread ended.
  [[nodiscard]] virtual bool wait_connected(std::uint32_t timeout_ms) = 0;
  // True once after each change of the connection state.
  virtual bool take_state_change() = 0;
  // What the current connection's header announced.
  virtual bool has_audio() const = 0;
  virtual int picture_width() const = 0;
  virtual bool is_closed() const = 0;
  // True when the connection is gone or takes no data; may wait its time-out.
  virtual bool is_dead() const = 0;
  // A stop is in progress.
  virtual bool stopping() const = 0;
  virtual std::uint32_t header_length() const = 0;  // 0 until the stream header arrived
  // What the stream applies to the sound output at each connection.
  virtual void set_muted(bool muted) = 0;
  virtual void set_volume(int volume) = 0;
  // Called by every clean-up after a connection ended (on the stream thread,
  // or in stop()); the camera closes its recordings there. Only while stopped.
  virtual void set_cleanup_hook(std::function<void()> hook) = 0;
};

// Makes the connection of one pool camera; owner_tag identifies the camera in
// the main window's refusal message.
using ConnectionFactory = std::function<std::unique_ptr<CameraConnection>(std::uintptr_t owner_tag)>;

}  // namespace model
