#include "viewer/record/recording_camera.h"

#include <algorithm>

namespace record {

std::uint32_t pre_motion_ms(const RecordingSettings& settings) {
  if (settings.PreMotion <= 0) return 0;
  return std::min(static_cast<std::uint32_t>(settings.PreMotion), kMaxKeepMs / 1000) * 1000;
}

CameraRecording::CameraRecording(RecordingEnv env)
    : env_(env),
      writers_{RecordingWriter(env, &packets_), RecordingWriter(env, &packets_), RecordingWriter(env, &packets_)} {}

int CameraRecording::add_entry(int kind, int day, int start, int duration) {
  std::lock_guard lock(mutex_);
  return schedule_.add(kind, day, start, duration);
}

int CameraRecording::remove_entry(int kind, int day, int start, int duration) {
  std::lock_guard lock(mutex_);
  return schedule_.remove(kind, day, start, duration);
}

void CameraRecording::stop_all() {
  std::lock_guard lock(mutex_);
  schedule_.cancel_active(*env_.clock);
  for (RecordingWriter& w : writers_) w.Close();
  recording_indicator.store(false);
  motion_recording.store(false);
  manual_request.store(false);
}

void CameraRecording::stop_active_entry(int kind) {
  std::lock_guard lock(mutex_);
  if (kind != 0) {
    motion_writer().Close();
    motion_recording.store(false);
  } else {
    schedule_writer().Close();
  }
  schedule_.cancel_active(*env_.clock);
  schedule_.state.active_reference = -1;
  recording_indicator.store(false);
}

void CameraRecording::cancel_active_entry() {
  std::lock_guard lock(mutex_);
  schedule_.cancel_active(*env_.clock);
}

void CameraRecording::clear_active_reference() {
  std::lock_guard lock(mutex_);
  schedule_.state.active_reference = -1;
}

void CameraRecording::clear_entries() {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < kMaxScheduleEntries; ++i) schedule_.slot(i) = ScheduleTable::Slot{};
  schedule_.state = ScheduleState{};
}

int CameraRecording::entry_count() {
  std::lock_guard lock(mutex_);
  return schedule_.count();
}

std::vector<ScheduleEntry> CameraRecording::entries() {
  std::lock_guard lock(mutex_);
  std::vector<ScheduleEntry> out;
  for (int i = 0; i < kMaxScheduleEntries; ++i)
    if (schedule_.slot(i).in_use) out.push_back(schedule_.slot(i).entry);
  return out;
}

bool CameraRecording::has_active_schedule() {
  std::lock_guard lock(mutex_);
  return schedule_.has_active_schedule();
}

bool CameraRecording::active_reference_entry(ScheduleEntry* out) {
  std::lock_guard lock(mutex_);
  const int ref = schedule_.state.active_reference;
  if (ref < 0 || !schedule_.slot(ref).in_use) return false;
  *out = schedule_.slot(ref).entry;
  return true;
}

void CameraRecording::on_stream_cleanup() {
  recording_indicator.store(false);
  motion_recording.store(false);
  for (RecordingWriter& w : writers_)
    if (w.IsOpen()) w.Close();
  packets_.end_stream();
}

void CameraRecording::flush_and_close_all() {
  for (RecordingWriter& w : writers_) {
    (void)w.Flush();
    w.Close();
  }
}

}  // namespace record
