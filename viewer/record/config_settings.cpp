#include "viewer/record/config_settings.h"

namespace record {

RecordingSettings recording_settings_from(const config::Settings& s) {
  RecordingSettings r;
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
  return r;
}

}  // namespace record
