// What recording needs to know about a camera, and the recording state each
// camera owns.
//
// CameraRecording is the concrete per-camera state: the packet buffer and
// the three writers it feeds (schedule, manual, motion), the recording flags,
// the schedule entries and the window being served. A camera object owns one
// for its whole life; it is also what the camera's stream hands its header
// and packets to.
//
// RecordingCamera is the small interface through which the recording loops
// reach the rest of a camera (identity, stream, motion cells, its pop-up
// window). The camera model implements it; tests use fakes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "viewer/net/stream_sinks.h"
#include "viewer/record/motion_zones.h"
#include "viewer/record/packet_buffer.h"
#include "viewer/record/recording_writer.h"
#include "viewer/record/schedule.h"

namespace record {

// The settings recording reads, with the names of their "param.dat" keys and
// the values a missing key gets.
struct RecordingSettings {
  std::string RecordPath;    // schedule and manual recordings, one folder per camera
  std::string MotionPath;    // motion recordings, one folder per camera
  std::string SnapshotPath;  // snapshots, one folder per camera
  int InstanceTime = 1;      // manual recording length, minutes
  int MotionTime = 1;        // minutes a motion recording goes on after the last motion
  int DiskLimit = 0;         // 0: no quota
  int MaxInsSpace = 0;       // quota of a camera's folder under RecordPath, MB of 1,000,000 bytes
  int MaxMotSpace = 0;       // quota of a camera's folder under MotionPath, MB
  int WriteStop = 0;         // 1: stop recording at the quota; otherwise delete the oldest files
  int JpegRatio = 80;        // snapshot JPEG quality (low 8 bits)
  int PreMotion = 5;         // seconds a motion recording begins before the motion; 0 off
};

// The seconds of PreMotion as milliseconds, within 0 and kMaxKeepMs.
std::uint32_t pre_motion_ms(const RecordingSettings& settings);

class SettingsSource {
 public:
  virtual ~SettingsSource() = default;
  // A consistent copy of the current settings. Any thread.
  virtual RecordingSettings recording_settings() const = 0;
};

// Settings held in memory under a lock; the user interface replaces them when
// a dialog stores new values.
class SharedRecordingSettings final : public SettingsSource {
 public:
  explicit SharedRecordingSettings(RecordingSettings s = {}) : settings_(std::move(s)) {}
  RecordingSettings recording_settings() const override {
    std::lock_guard lock(mutex_);
    return settings_;
  }
  void set(RecordingSettings s) {
    std::lock_guard lock(mutex_);
    settings_ = std::move(s);
  }

 private:
  mutable std::mutex mutex_;
  RecordingSettings settings_;
};

enum WriterIndex : int { kScheduleWriter = 0, kManualWriter = 1, kMotionWriter = 2 };

class CameraRecording final : public net::PacketSink {
 public:
  explicit CameraRecording(RecordingEnv env = {});
  CameraRecording(const CameraRecording&) = delete;
  CameraRecording& operator=(const CameraRecording&) = delete;

  RecordingWriter& writer(int index) { return writers_[index]; }
  RecordingWriter& schedule_writer() { return writers_[kScheduleWriter]; }
  RecordingWriter& manual_writer() { return writers_[kManualWriter]; }
  RecordingWriter& motion_writer() { return writers_[kMotionWriter]; }
  // The recent packets of the connection, from which files begin.
  PacketBuffer& packets() { return packets_; }

  // The stream side (stream thread): each connection's header, every packet,
  // and the end of the connection (as on_stream_cleanup).
  void SetHeader(const std::uint8_t* bytes, std::uint32_t length) override { packets_.set_header(bytes, length); }
  void AddPacket(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t arrival_tick,
                 std::uint32_t key_frame_at) override {
    packets_.add(bytes, length, arrival_tick, key_frame_at);
  }
  void StreamEnded() override { on_stream_cleanup(); }

  // Serialises the decisions about this camera's recordings (the manual and
  // schedule loops, the user's actions, the schedule dialogs). Never held
  // while calling out to the stream, the user interface or a sleep.
  std::mutex& mutex() { return mutex_; }

  // Flags, readable without the lock (the camera list shows them).
  std::atomic<bool> manual_request{false};       // a manual recording is wanted
  std::atomic<bool> recording_indicator{false};  // some recording of this camera runs
  std::atomic<bool> motion_recording{false};     // the open file is a motion recording
  std::atomic<int> manual_length{1};             // minutes, from InstanceTime

  // The entries and the window state; hold mutex() while using them.
  ScheduleTable& schedule() { return schedule_; }

  // Entry operations for the dialogs and the settings loader (take the lock).
  // add: 1 added, 2 identical entry exists, 0 ten entries already.
  [[nodiscard]] int add_entry(int kind, int day, int start, int duration);
  // remove: 1 removed, 0 not found. Closes no file.
  [[nodiscard]] int remove_entry(int kind, int day, int start, int duration);
  // The camera list's stop: cancels the active window, closes all three
  // writers and clears the recording flags and the manual request.
  void stop_all();
  // A dialog's delete of the row that is being recorded: closes the writer of
  // that kind, cancels the active window and clears the indicator.
  void stop_active_entry(int kind);
  // Cancels the active window (until it ends) without touching the files.
  void cancel_active_entry();
  // Forgets the active reference (a dialog deleted the active entry).
  void clear_active_reference();
  // Frees every slot and resets the window state (a pool camera reused).
  void clear_entries();
  int entry_count();
  // Copies of the entries in use, in slot order (for the dialogs and saving).
  std::vector<ScheduleEntry> entries();
  // True while a window of this camera is current and not cancelled.
  bool has_active_schedule();
  // The entry of the active reference (what a dialog compares its row with
  // before asking "the process is recording, stop?"); false when none.
  bool active_reference_entry(ScheduleEntry* out);

  // The stream's clean-up after a connection ended: closes the open writers,
  // drops the kept packets and clears the recording indicator and the
  // motion-recording flag. The manual request stays, so a manual recording
  // goes on when the stream is back. Stream thread; takes no recording lock
  // of the camera.
  void on_stream_cleanup();

  // Writes what is queued and closes every writer (shutdown, after the loops
  // have stopped).
  void flush_and_close_all();

 private:
  RecordingEnv env_;
  PacketBuffer packets_;  // before the writers, which detach from it when destroyed
  RecordingWriter writers_[3];
  std::mutex mutex_;
  ScheduleTable schedule_;
};

class RecordingCamera {
 public:
  virtual ~RecordingCamera() = default;

  virtual std::string mac() const = 0;  // 12 lower-case hex digits
  virtual int location() const = 0;     // 0 "LAN", 1 "INT"
  virtual void set_location(int location) = 0;
  virtual CameraRecording& recording() = 0;

  // Stream. connection_dead may wait up to its time-out; the others answer at
  // once.
  virtual bool connection_dead() = 0;
  virtual std::uint32_t header_length() const = 0;  // 0 until a header arrived on this connection
  virtual bool stream_connected() const = 0;
  virtual bool stream_stopping() const = 0;
  // Starts the stream (1 started, 6 busy).
  virtual int start_stream() = 0;
  // Waits until the stream is connected, at most timeout_ms (returning
  // earlier when it will not connect); true when connected.
  virtual bool wait_connected(std::uint32_t timeout_ms) { return stream_connected(); }
  virtual void resume_stream() = 0;
  // Mutes the camera and sets its output volume to silent.
  virtual void silence() = 0;

  // Copies the latest motion cells, picture size and zones; false when the
  // camera has no picture yet.
  virtual bool motion_sample(MotionSample& out) = 0;

  // The camera's pop-up window, if it shows the camera.
  virtual bool shown_in_popup() const = 0;
  virtual void reset_record_button() = 0;
};

// The camera list as the loops see it. Cameras must outlive the loops (the
// pool lives as long as the main window).
class CameraSource {
 public:
  virtual ~CameraSource() = default;
  // Fills out with the listed cameras, in list order. Any thread.
  virtual void list_cameras(std::vector<RecordingCamera*>& out) = 0;
  // The camera list should show changed recording flags. Returns at once.
  virtual void redraw_camera_list() {}
};

}  // namespace record
