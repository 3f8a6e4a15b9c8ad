// One camera of the pool: its identity and account, its place on a channel,
// its sound and motion settings, its recording state (three writers, flags,
// schedule entries) and its streaming side.
//
// The pool's 128 cameras live from start-up to exit. The user-interface
// thread changes them; the stream, decode and recording threads read what
// they need concurrently, so the numbers are atomics and the texts and
// rectangles are copied out under a small lock.
//
// Each camera owns its media for its whole life: a video pipeline (decoding,
// motion cells, snapshots, the presented picture) and an audio output, fed by
// its stream together with its three recording writers. Where its picture is
// drawn is decided in one place, its picture rectangle: a cell of the main
// window, the pop-up window's picture area, or off the window (nothing is
// drawn, and no RGB picture is made). Views read the presented picture when
// they repaint; the camera never waits for them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "viewer/media/camera_media.h"
#include "viewer/net/stream_sinks.h"
#include "viewer/record/motion_zones.h"
#include "viewer/record/recording_camera.h"
#include "viewer/record/snapshot.h"
#include "viewer/shell/model/camera_connection.h"
#include "viewer/shell/model/camera_record.h"
#include "viewer/shell/model/grid.h"

namespace model {

// Output volume that silences a camera, in hundredths of a decibel.
inline constexpr int kSilentVolume = -10000;
inline constexpr int kMinVolume = -3000;
inline constexpr int kMaxVolume = 0;
inline constexpr int kZoneCount = record::kMaxZones;
inline constexpr int kDefaultSensitivity = 3;

// Motion-detection settings edited in the motion dialog: zone flags, layout
// and sensitivity level.
using MotionSettings = record::MotionZones;

class Camera final : public record::RecordingCamera, public record::SnapshotSource {
 public:
  Camera(int pool_index, const ConnectionFactory& make_connection, record::RecordingEnv env = {});
  ~Camera() override;
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
  std::string mac() const override;
  int location() const override { return location_.load(); }
  // Replaces name, address, port, MAC, description, user and password. The
  // stream uses the new address and account from its next connection
  // attempt on (a running stream that is not connected drops the attempt in
  // progress and tries them at once). User-interface thread.
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

  // Recording: writers, flags and schedule entries (their own lock).
  record::CameraRecording& recording() override { return recording_; }
  // Some recording of the camera runs (the list's recording mark).
  bool recording_indicator() const { return recording_.recording_indicator.load(); }
  bool writer_open(int writer) const;
  int reserved() const { return reserved_.load(); }

  MotionSettings motion_settings() const;
  void set_motion_settings(const MotionSettings& settings);

  // Where the camera's picture is drawn, in the coordinates of the window
  // that shows it (the main window, or the pop-up window while popup()):
  // kOffWindowRect when it is not drawn at all. device_scale is the
  // window's device pixels per coordinate unit: the picture is converted
  // no larger than the view needs. Any thread.
  Rect picture_rect() const;
  void set_picture_rect(Rect rect, double device_scale = 1.0);
  // The part of the picture to show (zoom), in picture coordinates; an
  // empty rectangle shows the whole picture. Any thread.
  void set_source_area(Rect area);
  Rect source_area() const;
  // The presented picture (nullptr: none to draw), and a number that
  // changes with every new picture. Any thread.
  std::shared_ptr<const media::Picture> picture() const { return media_->video.picture(); }
  std::uint64_t picture_sequence() const { return media_->video.picture_sequence(); }

  // What the windows ask of the current connection, cheaply, from any
  // thread: whether its stream carries sound, whether a picture was decoded
  // on it, the picture width its header announced (0 before the header).
  bool has_audio() const;
  bool video_decoded() const { return media_->video.video_decoded(); }
  int picture_width() const;
  // True once after each change of the connection state; the main window's
  // refresh tests and clears it.
  bool take_state_change();
  // Waits until the stream is connected, at most timeout_ms; false when it
  // is not (or the camera is stopped). Any thread but the stream's.
  bool wait_connected(std::uint32_t timeout_ms) override;

  // The camera's own pipeline and audio output (counters, the presented
  // picture). Any thread; they live as long as the camera.
  media::VideoPipeline& video() { return media_->video; }
  const media::VideoPipeline& video() const { return media_->video; }
  media::AudioOutput& audio() { return media_->audio; }
  const media::AudioOutput& audio() const { return media_->audio; }

  // The picture shown now, for a snapshot (record::SnapshotSource). Any thread.
  bool copy_snapshot(std::vector<std::uint8_t>& out, int* width, int* height) override;
  // What the pop-up window does when a recording loop ends the recording of
  // the camera it shows. Any thread may call it.
  void set_record_button_reset(std::function<void()> reset);

  // Streaming: connects with the current address and account; 1 started, 6
  // busy (a start or stop in progress), 0 without a connection. The
  // user-interface thread and the schedule loop call it.
  [[nodiscard]] int start_stream() override;
  // Ends the stream; its clean-up closes open recordings. User-interface thread.
  void stop();
  void pause();
  void resume_stream() override;
  // Started and not stopped since (connecting, playing, paused or reconnecting).
  bool running() const { return running_.load(); }
  int connection_state() const;
  int connected() const;
  bool header_arrived() const { return header_length() > 0; }

  // The rest of what the recording loops ask of a camera.
  bool connection_dead() override;
  std::uint32_t header_length() const override;
  bool stream_connected() const override { return connected() != 0; }
  bool stream_stopping() const override;
  void silence() override;
  bool motion_sample(record::MotionSample& out) override;
  bool shown_in_popup() const override { return popup(); }
  void reset_record_button() override;

 private:
  friend class CameraList;
  // Takes this pool slot for a newly listed camera: copies the record and
  // resets everything the slot's previous camera left behind.
  void take_for(const CameraRecord& record, const std::string& mac, int location);
  void set_listed(bool listed) { listed_.store(listed); }
  net::StreamSinks sinks_locked() const;

  const int pool_index_;
  // The writers and flags are synchronised inside; const queries reach them too.
  mutable record::CameraRecording recording_;
  // Declared before the connection, so the stream that feeds the media and
  // the writers is gone before either of them (the destructor stops it
  // first anyway).
  std::unique_ptr<media::CameraMedia> media_;
  std::unique_ptr<CameraConnection> connection_;

  mutable std::mutex mutex_;  // guards the texts, motion settings, picture rectangle and callback
  CameraRecord texts_;
  MotionSettings motion_;
  Rect picture_rect_ = kOffWindowRect;
  std::function<void()> reset_record_button_;

  std::atomic<bool> listed_{false};
  std::atomic<int> location_{0};
  std::atomic<int> channel_{0};
  std::atomic<bool> popup_{false};
  std::atomic<bool> muted_{false};
  std::atomic<int> volume_{0};
  std::atomic<int> output_volume_{0};
  std::atomic<int> reserved_{0};
  // The stored state and connected flag count until the stream is driven
  // (started or stopped) for the first time in this run.
  std::atomic<bool> driven_{false};
  std::atomic<int> stored_state_{0};
  std::atomic<int> stored_connected_{0};
  std::atomic<bool> running_{false};
};

}  // namespace model
