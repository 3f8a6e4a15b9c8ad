// The recording side of the program in one object: the message thread, the
// manual recording loop, the schedule loop and the snapshot taker. The main
// window creates it after the settings and the camera list are loaded and
// starts it; at exit shutdown() stops both loops and joins them before any
// file is closed, then writes what is still queued and closes every file, so
// each recording ends on a whole packet.
#pragma once

#include "viewer/record/manual_recording.h"
#include "viewer/record/notifier.h"
#include "viewer/record/recording_camera.h"
#include "viewer/record/schedule_recording.h"
#include "viewer/record/snapshot.h"

namespace record {

class RecordingService {
 public:
  RecordingService(RecordingEnv env, CameraSource& cameras, SettingsSource& settings, SoundPlayer* sound = nullptr);
  ~RecordingService();  // shutdown()
  RecordingService(const RecordingService&) = delete;
  RecordingService& operator=(const RecordingService&) = delete;

  // Starts both loops. User-interface thread, once.
  void start();

  // Stops and joins both loops, then flushes and closes every listed
  // camera's writers, then stops the message thread. Idempotent.
  void shutdown();

  ManualRecorder& manual() { return manual_; }
  ScheduleRecorder& schedule() { return schedule_; }
  Snapshotter& snapshots() { return snapshots_; }
  Notifier& notifier() { return notifier_; }

 private:
  CameraSource& cameras_;
  Notifier notifier_;
  ManualRecorder manual_;
  ScheduleRecorder schedule_;
  Snapshotter snapshots_;
  bool shut_down_ = false;
};

}  // namespace record
