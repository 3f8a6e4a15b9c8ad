#include "viewer/record/disk_quota.h"

#include <algorithm>

#include "viewer/record/recording_names.h"

namespace record {

namespace {

std::string stamp14(const LocalTime& t) { return stamp_text(t).substr(0, 14); }

}  // namespace

std::uint64_t DiskQuota::folder_bytes(const std::string& directory) {
  if (!fs_.list_directory(directory, entries_)) return 0;
  std::uint64_t total = 0;
  for (const DirEntry& e : entries_)
    if (!e.is_directory) total += e.size;
  return total;
}

int DiskQuota::check(const RecordingSettings& settings, RecordingCamera& camera, RecordFolder folder) {
  if (settings.DiskLimit == 0) return kQuotaOk;
  const bool motion = folder == RecordFolder::Motion;
  const std::int64_t limit_mb = motion ? settings.MaxMotSpace : settings.MaxInsSpace;
  if (limit_mb <= 0) return kQuotaNoValue;
  const std::string directory = camera_directory(motion ? settings.MotionPath : settings.RecordPath, camera.mac());
  const std::uint64_t used_mb = folder_bytes(directory) / 1000000;
  if (static_cast<std::int64_t>(used_mb) < limit_mb) return kQuotaOk;
  if (settings.WriteStop == 1) return kQuotaFull;

  CameraRecording& rec = camera.recording();
  std::string current;
  if (motion) {
    current = rec.motion_writer().path();
  } else {
    current = rec.schedule_writer().path();
    if (current.empty()) current = rec.manual_writer().path();
  }
  // Nothing of this camera is being written here: the recording about to
  // start makes room once its file exists.
  if (current.empty()) return kQuotaOk;
  return reclaim(directory, current);
}

int DiskQuota::reclaim(const std::string& directory, const std::string& current_path) {
  if (!fs_.list_directory(directory, entries_)) return kQuotaFull;
  order_.clear();
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const DirEntry& e = entries_[i];
    if (e.is_directory) continue;
    LocalTime t;
    // The start in a recording's name survives copies and touches that change
    // the modification time; other files are placed by their time.
    if (!parse_name_time(e.name, &t)) {
      const std::int64_t ms = e.mtime_ms;
      t = clock_.local(ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000));
    }
    order_.push_back(Candidate{stamp14(t), e.mtime_ms, i});
  }
  std::sort(order_.begin(), order_.end(), [this](const Candidate& a, const Candidate& b) {
    if (a.key != b.key) return a.key < b.key;
    if (a.mtime_ms != b.mtime_ms) return a.mtime_ms < b.mtime_ms;
    return entries_[a.index].name < entries_[b.index].name;
  });

  int counted = 0;
  bool saw_current = false;
  std::uint64_t freed = 0;
  for (const Candidate& c : order_) {
    const DirEntry& e = entries_[c.index];
    ++counted;
    const std::string path = join_path(directory, e.name);
    if (path == current_path) {
      saw_current = true;
    } else if (fs_.remove(path)) {
      freed += e.size;
    }
    if (freed > kReclaimStepBytes) break;
  }
  if (counted == 1 && saw_current) return kQuotaOnlyCurrent;
  if (freed == 0) return kQuotaFull;
  return kQuotaOk;
}

}  // namespace record
