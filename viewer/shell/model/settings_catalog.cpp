#include "viewer/shell/model/settings_catalog.h"

#include <algorithm>

namespace model {

bool SettingsCatalog::restore_camera(const config::CamInfo& info, bool auto_play) {
  CameraRecord record;
  record.name = info.name;
  record.address = info.address;
  record.port = info.port;
  record.mac = info.mac;
  record.description = info.description;
  record.user = info.user;
  record.password = info.password;
  record.connected = info.connected;
  record.location = info.location;
  record.recording = info.recording;
  record.motion_recording = info.motion_recording;
  record.connection_state = info.connection_state;
  record.reserved = info.reserved;
  if (list_.add_camera(record, AddOrigin::SettingsFile) != 1) return false;
  Camera& camera = *list_.camera_at(list_.count());

  MotionSettings motion;
  motion.sensitivity = info.sensitivity >= 1 && info.sensitivity <= 5 ? info.sensitivity : kDefaultSensitivity;
  for (int z = 0; z < kZoneCount; ++z) motion.flags[z] = static_cast<std::uint8_t>(info.zone_mask[z]);
  motion.layout = info.zone_layout;
  camera.set_motion_settings(motion);
  camera.set_muted(info.muted != 0);
  camera.set_volume(std::clamp(info.volume, kMinVolume, kMaxVolume));
  // The channel indexes the channel table: only 0 to 8 are meaningful.
  const int channel = info.channel >= 0 && info.channel <= kChannelCount ? info.channel : 0;
  camera.set_channel(channel);

  if (!auto_play) {
    camera.stop();
  } else if (info.connection_state == kStatePlaying && channel != 0) {
    if (camera.muted()) camera.set_output_volume(kSilentVolume);
    if (camera.start_stream() == 1) {
      (void)list_.bind(camera, channel);
      // Its picture goes to its cell when the channel is in view.
      list_.reposition_pictures(true);
    }
  }
  return true;
}

bool SettingsCatalog::restore_schedules(const config::CamScheduleRecord& record) {
  std::optional<std::string> mac = normalize_mac(record.mac);
  Camera* camera = mac ? list_.find_camera(*mac, record.location) : nullptr;
  if (!camera) return false;
  for (const config::ScheduleValues& e : record.entries) {
    (void)camera->recording().add_entry(e.kind, e.day, e.start, e.duration);
  }
  return true;
}

std::vector<config::CamInfo> SettingsCatalog::camera_records() const {
  std::vector<config::CamInfo> out;
  for (int position = 1; position <= list_.count(); ++position) {
    const Camera& camera = *list_.camera_at(position);
    const CameraRecord r = camera.record();
    config::CamInfo info;
    info.name = r.name;
    info.address = r.address;
    info.port = r.port;
    info.mac = r.mac;
    info.description = r.description;
    info.user = r.user;
    info.password = r.password;
    info.connected = r.connected;
    info.channel = camera.channel();
    info.location = r.location;
    info.recording = r.recording;
    info.motion_recording = r.motion_recording;
    info.connection_state = r.connection_state;
    info.reserved = r.reserved;
    info.muted = camera.muted() ? 1 : 0;
    info.volume = camera.volume();
    const MotionSettings motion = camera.motion_settings();
    for (int z = 0; z < kZoneCount; ++z) info.zone_mask[z] = motion.flags[z];
    info.zone_layout = motion.layout;
    info.sensitivity = motion.sensitivity;
    out.push_back(std::move(info));
  }
  return out;
}

std::vector<config::CamScheduleRecord> SettingsCatalog::schedule_records() const {
  std::vector<config::CamScheduleRecord> out;
  for (int position = 1; position <= list_.count(); ++position) {
    Camera& camera = *list_.camera_at(position);
    config::CamScheduleRecord record;
    record.mac = camera.mac();
    record.location = camera.location();
    for (const record::ScheduleEntry& e : camera.recording().entries()) {
      record.entries.push_back({e.kind, e.day, e.start, e.duration});
    }
    out.push_back(std::move(record));
  }
  return out;
}

record::RecordingSettings recording_settings(const config::Settings& s) {
  record::RecordingSettings r;
  r.RecordPath = s.RecordPath;
  r.MotionPath = s.MotionPath;
  r.SnapshotPath = s.SnapshotPath;
  r.InstanceTime = s.InstanceTime;
  r.MotionTime = s.MotionTime;
  r.DiskLimit = s.DiskLimit;
  r.MaxInsSpace = s.MaxInsSpace;
  r.MaxMotSpace = s.MaxMotSpace;
  r.WriteStop = s.WriteStop;
  r.JpegRatio = s.JpegRatio;
  r.PreMotion = s.PreMotion;
  return r;
}

}  // namespace model
