// The streaming side of one camera: its stream thread, connection and
// demultiplexer.
//
// While started, the stream thread connects to the camera, requests the video
// stream and demultiplexes it into the consumers' queues until the stream
// ends; then it cleans up (consumers stopped, open recordings closed, buffers
// freed, the change marked for the views) and connects again. Failed attempts are retried
// at most once per retry interval. Only a refusal by the camera (wrong
// account or an unexpected status, after the message box) ends the thread on
// its own; it then posts kMsgCameraRefused to the main window with lparam =
// the owner tag, and the main window stops the stream.
//
// Threads: start(), stop(), pause(), resume() and the setters are called by
// the user-interface thread or a recording thread; the queries by any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "viewer/net/asf_demux.h"
#include "viewer/net/stream_connection.h"
#include "viewer/net/stream_sinks.h"
#include "viewer/platform/event.h"

namespace net {

struct CameraAccount {
  std::string address;  // dotted quad or host name; with an empty port, a dynamic-DNS name
  std::string port;     // decimal text; empty: ask the dynamic-DNS page
  std::string user;
  std::string password;
};

// Connection states as the camera list stores them.
inline constexpr int kStatePaused = 0;  // also: stopped, or between connections
inline constexpr int kStatePlaying = 1;
inline constexpr int kStateRefused = 4;

// Results of CameraStream::start.
inline constexpr int kStartOk = 1;
inline constexpr int kStartBusy = 6;

inline constexpr int kMutedVolume = -10000;

class CameraStream {
 public:
  // owner_tag is posted back with kMsgCameraRefused; timeout_s bounds the
  // connect, the send, every receive and the wait for stream data.
  explicit CameraStream(std::uintptr_t owner_tag = 0, int timeout_s = 30);
  ~CameraStream();  // stops
  CameraStream(const CameraStream&) = delete;
  CameraStream& operator=(const CameraStream&) = delete;

  // The consumers fed from the stream. Only while stopped.
  void set_sinks(const StreamSinks& sinks);
  // Used from the next connection on. A changed account also cancels an
  // attempt in progress while not connected, so that a camera retrying old
  // values tries the new ones at once. Any thread.
  void set_account(const CameraAccount& account);
  CameraAccount account() const;

  // Starts the stream thread (kStartOk), or makes a running one drop its
  // connection and connect again (kStartOk); kStartBusy while another start
  // or a stop is in progress or when no thread could be created.
  [[nodiscard]] int start();
  // Ends the stream thread and waits for it, then cleans up. Returns within
  // about a second even while connecting (a host name look-up in progress is
  // the exception: it cannot be interrupted). Not from the stream thread's
  // own callbacks.
  void stop();

  // Pausing tells the consumers to drop what they get while the connection
  // and any recording go on; the state stays paused across reconnections.
  void pause();
  void resume();

  int connection_state() const { return state_.load(); }
  bool connected() const { return connected_.load(); }
  // Waits until the stream is connected, at most timeout_ms; true when it
  // is. Returns at once once the stream is stopped. Any thread but the
  // stream thread.
  [[nodiscard]] bool wait_connected(std::uint32_t timeout_ms);
  // True once after each change of the connection (connected, ended,
  // refused): the views' refresh tests and clears it. Any thread.
  bool take_state_change() { return state_changed_.exchange(false); }
  // What the header of the current connection announced: a sound stream,
  // and the picture width (0 before a header arrived). Any thread.
  bool has_audio() const { return demux_.stream_has_audio(); }
  int picture_width() const { return demux_.announced_width(); }
  bool is_closed() const { return connection_.is_closed(); }
  // True when the connection is gone or takes no data within the time-out;
  // may wait that long.
  bool is_dead() const { return connection_.is_dead(); }
  std::uint32_t header_length() const { return demux_.header_length(); }
  bool first_key_frame_seen() const { return demux_.first_key_frame_seen(); }
  // A stream thread exists and has not ended.
  bool running() const { return thread_running_.load(); }
  bool stopping() const { return stopping_.load(); }

  // Applied to the audio consumer at each connection: kMutedVolume while
  // muted, else the volume (hundredths of a decibel).
  void set_muted(bool muted) { muted_.store(muted); }
  void set_volume(int volume) { volume_.store(volume); }

  // Least time between the starts of two connection attempts (default
  // 1,000 ms), so that a camera that refuses at once is not hammered.
  void set_retry_delay_ms(int ms) { retry_delay_ms_.store(ms < 0 ? 0 : ms); }

  // Called on the stream thread (or in stop()) by each clean-up, after the
  // consumers were stopped and before open recordings are closed: the owner
  // clears its recording flags there. Only while stopped.
  void set_cleanup_hook(std::function<void()> hook);

 private:
  void thread_main();
  [[nodiscard]] int connect_camera();
  void cleanup();
  void pace_next_attempt(std::uint32_t last_attempt_tick, bool first);

  const std::uintptr_t owner_tag_;
  StreamConnection connection_;
  AsfDemux demux_;
  StreamBuffers buffers_;
  StreamSinks sinks_;
  std::function<void()> cleanup_hook_;

  mutable std::mutex account_mutex_;
  CameraAccount account_;

  // start() and stop() one at a time.
  std::mutex control_mutex_;
  std::thread thread_;
  std::atomic<std::thread::id> stream_thread_id_{};
  platform::Event wake_{platform::Event::Reset::Manual};  // ends a wait between attempts on stop
  // Set while connected, and on stop (so that nobody waits for a stream that
  // will not come).
  platform::Event connected_event_{platform::Event::Reset::Manual};
  std::atomic<bool> state_changed_{false};

  std::atomic<bool> stop_flag_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> thread_running_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> muted_{false};
  std::atomic<int> volume_{0};
  std::atomic<int> state_{kStatePaused};
  std::atomic<bool> connected_{false};
  std::atomic<int> retry_delay_ms_{1000};
};

}  // namespace net
