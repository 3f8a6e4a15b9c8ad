// The recording settings read from the program's settings record, which the
// user-interface thread changes in its dialogs while the loops run.
#pragma once

#include "viewer/config/settings.h"
#include "viewer/record/recording_camera.h"

namespace record {

// Copies the keys recording uses out of the shared settings record.
RecordingSettings recording_settings_from(const config::Settings& s);

class ConfigSettingsSource final : public SettingsSource {
 public:
  explicit ConfigSettingsSource(const config::SharedSettings& shared) : shared_(shared) {}
  RecordingSettings recording_settings() const override { return recording_settings_from(shared_.snapshot()); }

 private:
  const config::SharedSettings& shared_;
};

}  // namespace record
