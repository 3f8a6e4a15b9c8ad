// One camera of the pool: its identity and account, its place on a channel,
// its sound and motion settings, its schedule entries and its streaming side.
//
// The pool's 128 cameras live from start-up to exit. The user-interface
// thread changes them; the stream, decode and recording threads read the
// values they need concurrently, so the numbers are atomics and the texts and
// rectangles are copied out under a small lock.
//
// The media side is wired in by its owners through set_sinks(): the video
// pipeline and audio output (decoding and sound) and the three recording
// writers (schedule, manual, motion). Until they exist a camera streams into
// whatever sinks it was given, or none.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "viewer/net/stream_sinks.h"
#include "viewer/shell/model/camera_connection.h"
#include "viewer/shell/model/camera_record.h"
#include "viewer/shell/model/layout.h"
#include "viewer/shell/model/schedule_entries.h"

namespace model {

// Output volume that silences a camera, in hundredths of a decibel.
inline constexpr int kSilentVolume = -10000;
inline constexpr int kMinVolume = -3000;
inline constexpr int kMaxVolume = 0;
inline constexpr int kZoneCount = 25;
inline constexpr int kDefaultSensitivity = 3;

// Motion-detection settings edited in the motion dialog.
struct MotionSettings {
  std::array<std::uint8_t, kZoneCount> zone_mask{};  // 1 = zone watched
  int zone_layout = 0;                                // 1 = 4x4, 2 = 5x5, else 3x3
  int sensitivity = kDefaultSensitivity;              // 1 (very high) to 5 (very low)
};

// Indices of the recording writers in net::StreamSinks::writers.
inline constexpr int kScheduleWriter = 0;
inline constexpr int kManualWriter = 1;
inline constexpr int kMotionWriter = 2;

class Camera {
 public:
  Camera(int pool_index, const ConnectionFactory& make_connection);
  ~Camera();
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  int pool_index() const { return pool_index_; }
  // Identifies the camera in messages from its stream thread.
  std::uintptr_t tag() const { return reinterpret_cast<std::uintptr_t>(this); }
  bool listed() const { return listed_.load(); }

  // Identity, account and the stored values of the record (connected and
  // connection state as stored until the stream is first driven). Any thread.
  CameraRecord record() const;
  std::string name() const;
  std::string mac() const;
  int location() const { return location_.load(); }
  // Replaces name, address, port, MAC, description, user and password; used
  // from the next connection on. User-interface thread.
  void set_texts(const CameraRecord& texts);

  int channel() const { return channel_.load(); }
  void set_channel(int channel) { channel_.store(channel); }
  bool popup() const { return popup_.load(); }
  void set_popup(bool shown) { popup_.store(shown); }

  // Sound: the muted flag, the volume the user chose (-3000 to 0) and the
  // volume in effect at the output (kSilentVolume while silenced).
  bool muted() const { return muted_.load(); }
  void set_muted(bool muted);
  int volume() const { return volume_.load(); }
  void set_volume(int volume);
  int output_volume() const { return output_volume_.load(); }
  void set_output_volume(int volume);

  // Recording flags: any recording open, the open one is a motion recording,
  // a manual recording is requested.
  bool recording() const { return recording_.load(); }
  void set_recording(bool on) { recording_.store(on); }
  bool motion_recording() const { return motion_recording_.load(); }
  void set_motion_recording(bool on) { motion_recording_.store(on); }
  bool manual_request() const { return manual_request_.load(); }
  void set_manual_request(bool on) { manual_request_.store(on); }
  int reserved() const { return reserved_.load(); }

  MotionSettings motion_settings() const;
  void set_motion_settings(const MotionSettings& settings);

  // Where the camera's pictures are drawn in its view. Any thread.
  Rect picture_rect() const;
  void set_picture_rect(Rect rect);

  ScheduleTable& schedules() { return schedules_; }
  const ScheduleTable& schedules() const { return schedules_; }

  // The stream's consumers; applied at the next start.
  void set_sinks(const net::StreamSinks& sinks);
  net::StreamSinks sinks() const;
  // True when the writer (kScheduleWriter, ...) has a file open.
  bool writer_open(int writer) const;
  // Closes every writer that has a file open.
  void close_writers();

  // Streaming. start_stream() connects with the current address and account
  // and returns true when the stream was started; stop() ends it (its
  // clean-up closes open recordings). User-interface thread.
  [[nodiscard]] bool start_stream();
  void stop();
  void pause();
  void resume();
  // Started and not stopped since (connecting, playing, paused or reconnecting).
  bool running() const { return running_.load(); }
  int connection_state() const;
  int connected() const;
  bool header_arrived() const;

 private:
  friend class CameraList;
  // Takes this pool slot for a newly listed camera: copies the record and
  // resets everything the slot's previous camera left behind.
  void take_for(const CameraRecord& record, const std::string& mac, int location);
  void set_listed(bool listed) { listed_.store(listed); }

  const int pool_index_;
  std::unique_ptr<CameraConnection> connection_;

  mutable std::mutex mutex_;  // guards the texts, motion settings, picture rectangle and sinks
  CameraRecord texts_;
  MotionSettings motion_;
  Rect picture_rect_ = kOffWindowRect;
  net::StreamSinks sinks_;

  std::atomic<bool> listed_{false};
  std::atomic<int> location_{0};
  std::atomic<int> channel_{0};
  std::atomic<bool> popup_{false};
  std::atomic<bool> muted_{false};
  std::atomic<int> volume_{0};
  std::atomic<int> output_volume_{0};
  std::atomic<bool> recording_{false};
  std::atomic<bool> motion_recording_{false};
  std::atomic<bool> manual_request_{false};
  std::atomic<int> reserved_{0};
  // The stored state and connected flag count until the stream is driven
  // (started or stopped) for the first time in this run.
  std::atomic<bool> driven_{false};
  std::atomic<int> stored_state_{0};
  std::atomic<int> stored_connected_{0};
  std::atomic<bool> running_{false};

  ScheduleTable schedules_;
};

}  // namespace model
