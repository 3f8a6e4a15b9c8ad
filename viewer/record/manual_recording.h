// Manual recording: started and stopped by the user from a camera's pop-up
// window, it runs for InstanceTime minutes in files of at most one hour
// ("LAN_R_..." / "INT_R_..." in RecordPath/MAC), carried on by the manual
// recording loop, a worker thread that serves every listed camera in turn.
//
// A lost connection closes the file (the stream's clean-up); the loop opens a
// new one when the stream is back, and the length is still counted from the
// recording's first start.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "viewer/record/disk_quota.h"
#include "viewer/record/loop_thread.h"
#include "viewer/record/notifier.h"
#include "viewer/record/recording_camera.h"

namespace record {

// Results of the user's record action.
enum RecordActionResult : int {
  kRecordFailed = 0,   // nothing recorded (a message was shown, or a schedule/motion file is open)
  kRecordStarted = 1,  // a manual recording runs
  kRecordRefused = 2,  // a schedule or motion window is current (message shown)
  kRecordAlreadyRunning = 3,
};

class ManualRecorder {
 public:
  ManualRecorder(RecordingEnv env, CameraSource& cameras, SettingsSource& settings, Notifier& notifier);
  ~ManualRecorder();  // stops and joins the loop
  ManualRecorder(const ManualRecorder&) = delete;
  ManualRecorder& operator=(const ManualRecorder&) = delete;

  // The record button of a pop-up window. User-interface thread: shows its
  // messages itself (modal). See RecordActionResult.
  [[nodiscard]] int record_action(RecordingCamera& camera);
  // The stop button: ends the manual recording, whatever state it is in.
  void stop_action(RecordingCamera& camera);

  // Opens the first file of a manual recording. 1 started (or already
  // running); 0 not started: a schedule or motion file is open, or the file
  // could not be created ("file name already exist!" is shown).
  [[nodiscard]] int start_manual(RecordingCamera& camera);
  // Ends the manual recording: clears the request and the indicator and
  // closes the file. Any thread.
  void stop_manual(RecordingCamera& camera);

  // One pass over the camera list (what the thread repeats). Tests call it
  // directly with a simulated clock.
  void run_pass();

  void start();  // starts the loop thread (once)
  void stop();   // asks the loop to stop and joins it; idempotent

 private:
  void serve(RecordingCamera& camera, const RecordingSettings& settings);
  bool open_next_file(RecordingCamera& camera, const RecordingSettings& settings, bool& write_failed);
  void end_recording(RecordingCamera& camera);

  RecordingEnv env_;
  CameraSource& cameras_;
  SettingsSource& settings_;
  Notifier& notifier_;
  DiskQuota quota_;
  std::vector<RecordingCamera*> list_;
  LoopThread loop_;
};

}  // namespace record
