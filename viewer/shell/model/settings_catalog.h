// The camera list as "param.dat" sees it: restoring cameras and schedules
// while the settings load, and listing them for the save at exit.
#pragma once

#include <vector>

#include "viewer/config/settings_file.h"
#include "viewer/record/recording_camera.h"
#include "viewer/shell/model/camera_list.h"

namespace model {

class SettingsCatalog final : public config::CameraCatalog {
 public:
  explicit SettingsCatalog(CameraList& list) : list_(list) {}

  // Adds the camera through the list (its messages on refusal; a full list
  // refuses silently, the loader counts those), then applies sensitivity,
  // zones, mute, volume and channel; values outside what the dialogs produce
  // fall back to safe ones (channel 0, volume limited to -3000..0,
  // sensitivity 3, layout 0 to 2, zone flags 0 or 1 and 0 beyond the
  // layout's zones, connected 0 or 1). Without auto_play the
  // camera is stopped; with it, a camera that was playing on a channel is
  // started and bound there, unless an earlier camera already plays on that
  // channel: then it keeps its channel number and stays stopped.
  config::RestoreResult restore_camera(const config::CamInfo& info, bool auto_play) override;

  // The MAC and location must match exactly, as the list stores them.
  bool restore_schedules(const config::CamScheduleRecord& record) override;

  std::vector<config::CamInfo> camera_records() const override;
  std::vector<config::CamScheduleRecord> schedule_records() const override;

 private:
  CameraList& list_;
};

// The part of the settings that the recording loops read.
[[nodiscard]] record::RecordingSettings recording_settings(const config::Settings& settings);

}  // namespace model
