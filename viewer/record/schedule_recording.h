// The schedule loop: a worker thread that evaluates every camera's schedule
// entries over and over, connects a camera whose window is current, and
// opens, splits, flushes and closes its schedule writer (schedule windows,
// RecordPath/MAC) and motion writer (motion windows, MotionPath/MAC).
//
// A schedule window is recorded whole, in files of one hour. A motion window
// records from the first motion inside it until MotionTime minutes pass
// without motion, also in files of at most one hour. A window that ends
// closes its file at once; a one-time entry is removed when its window ends.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "viewer/record/disk_quota.h"
#include "viewer/record/loop_thread.h"
#include "viewer/record/notifier.h"
#include "viewer/record/recording_camera.h"

namespace record {

class ScheduleRecorder {
 public:
  ScheduleRecorder(RecordingEnv env, CameraSource& cameras, SettingsSource& settings, Notifier& notifier);
  ~ScheduleRecorder();  // stops and joins the loop
  ScheduleRecorder(const ScheduleRecorder&) = delete;
  ScheduleRecorder& operator=(const ScheduleRecorder&) = delete;

  // One pass over the camera list (what the thread repeats). Tests call it
  // directly with a simulated clock.
  void run_pass();

  void start();  // starts the loop thread (once)
  void stop();   // asks the loop to stop and joins it; idempotent

 private:
  void serve(RecordingCamera& camera, const RecordingSettings& settings);

  RecordingEnv env_;
  CameraSource& cameras_;
  SettingsSource& settings_;
  Notifier& notifier_;
  DiskQuota quota_;
  std::vector<RecordingCamera*> list_;
  MotionSample sample_;  // reused reading of a camera's motion cells
  LoopThread loop_;
};

}  // namespace record
