#include "viewer/record/recording_service.h"

#include <vector>

namespace record {

RecordingService::RecordingService(RecordingEnv env, CameraSource& cameras, SettingsSource& settings,
                                   SoundPlayer* sound)
    : cameras_(cameras),
      manual_(env, cameras, settings, notifier_),
      schedule_(env, cameras, settings, notifier_),
      snapshots_(env, sound) {}

RecordingService::~RecordingService() { shutdown(); }

void RecordingService::start() {
  manual_.start();
  schedule_.start();
}

void RecordingService::shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  // The loops go first: a file is only closed once no loop can be writing
  // to it or opening its successor.
  manual_.stop();
  schedule_.stop();
  std::vector<RecordingCamera*> list;
  cameras_.list_cameras(list);
  for (RecordingCamera* camera : list) {
    CameraRecording& rec = camera->recording();
    std::lock_guard lock(rec.mutex());
    rec.flush_and_close_all();
    rec.recording_indicator.store(false);
    rec.motion_recording.store(false);
  }
  notifier_.stop();
}

}  // namespace record
