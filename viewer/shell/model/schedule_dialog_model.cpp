#include "viewer/shell/model/schedule_dialog_model.h"

#include <algorithm>
#include <cstdio>

#include "viewer/platform/ui_seams.h"
#include "viewer/shell/model/camera.h"

namespace model {
namespace {

std::string format(const char* pattern, int a, int b) {
  char text[32];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

bool same_kind(const record::ScheduleEntry& e, int kind) { return (e.kind != 0) == (kind != 0); }

}  // namespace

ScheduleRow schedule_row(const record::ScheduleEntry& entry) {
  ScheduleRow row;
  row.entry = entry;
  if (entry.is_one_time()) {
    char date[40];
    std::snprintf(date, sizeof date, "%d/%d/%d", entry.day / 10000, entry.day / 100 % 100, entry.day % 100);
    row.frequency = date;
  } else {
    // Codes 0 and 11..100 never come from the dialogs; the loop serves them
    // every day, which the list then says.
    const int code = entry.day >= 1 && entry.day <= record::kSaturday ? entry.day : record::kEveryDay;
    row.frequency = kFrequencyTexts[static_cast<std::size_t>(code)];
  }
  row.start = format("%0.2d:%0.2d", entry.start / 100, entry.start % 100);
  row.duration = format("%.2d:%.2d", entry.duration / 60, entry.duration % 60);
  return row;
}

EntryValues entry_values(const SchedulePicks& picks) {
  EntryValues v;
  if (picks.frequency == kOneTimePosition) {
    // The date written "%d%0.2d%0.2d" and read back as a number.
    v.day = picks.year * 10000 + picks.month * 100 + picks.day;
  } else {
    v.day = picks.frequency;
  }
  v.start = picks.start_hour * 100 + picks.start_minute;
  v.duration = picks.duration_hours * 60 + picks.duration_minutes;
  return v;
}

// --- zones ---

MotionZonesEdit::MotionZonesEdit(const record::MotionZones& from) : flags_(from.flags) {
  layout_ = from.layout == 1 || from.layout == 2 ? from.layout : 0;
  // A level outside the list (the loader keeps what the file said) opens at
  // "Normal", the level of a new camera.
  sensitivity_position_ = from.sensitivity >= 1 && from.sensitivity <= 5 ? from.sensitivity - 1 : 2;
}

void MotionZonesEdit::set_layout(int position) { layout_ = std::clamp(position, 0, 2); }

bool MotionZonesEdit::watched(int zone) const {
  return zone >= 0 && zone < side() * side() && flags_[static_cast<std::size_t>(zone)] != 0;
}

void MotionZonesEdit::toggle(int zone) {
  if (zone < 0 || zone >= side() * side()) return;
  auto& f = flags_[static_cast<std::size_t>(zone)];
  f = f ? 0 : 1;
}

void MotionZonesEdit::set_all(bool on) {
  for (int z = 0; z < side() * side(); ++z) flags_[static_cast<std::size_t>(z)] = on ? 1 : 0;
}

void MotionZonesEdit::set_sensitivity_position(int position) {
  sensitivity_position_ = std::clamp(position, 0, static_cast<int>(kSensitivityTexts.size()) - 1);
}

record::MotionZones MotionZonesEdit::settings() const {
  record::MotionZones z;
  for (int i = 0; i < side() * side(); ++i)
    z.flags[static_cast<std::size_t>(i)] = flags_[static_cast<std::size_t>(i)] ? 1 : 0;
  z.layout = layout_;
  z.sensitivity = sensitivity_position_ + 1;
  return z;
}

int MotionZonesEdit::zone_at(int x, int y, int width, int height) const {
  if (width <= 0 || height <= 0 || x < 0 || y < 0 || x >= width || y >= height) return -1;
  const int n = side();
  // The inverse of zone_rect(): column c covers [width*c/n, width*(c+1)/n).
  int c = 0;
  while (c + 1 < n && x >= width * (c + 1) / n) ++c;
  int r = 0;
  while (r + 1 < n && y >= height * (r + 1) / n) ++r;
  return r * n + c;
}

std::array<int, 4> MotionZonesEdit::zone_rect(int zone, int width, int height) const {
  const int n = side();
  const int r = zone / n;
  const int c = zone % n;
  return {width * c / n, height * r / n, width * (c + 1) / n, height * (r + 1) / n};
}

// --- the dialog ---

ScheduleDialogModel::ScheduleDialogModel(Camera& camera, int kind, std::function<void()> redraw_list)
    : camera_(camera),
      kind_(kind != 0 ? record::kMotionWindow : record::kScheduleWindow),
      redraw_list_(std::move(redraw_list)),
      zones_(camera.motion_settings()) {
  list_entries();
}

void ScheduleDialogModel::list_entries() {
  rows_.clear();
  for (const record::ScheduleEntry& e : camera_.recording().entries()) {
    if (same_kind(e, kind_)) rows_.push_back(schedule_row(e));
  }
}

bool ScheduleDialogModel::add(const SchedulePicks& picks) {
  if (picks.frequency < 0 || picks.frequency >= static_cast<int>(kFrequencyTexts.size())) {
    (void)platform::ask(kMsgSelectFrequency, kCaptionScheduleWarning);
    return false;
  }
  const EntryValues v = entry_values(picks);
  const int result = camera_.recording().add_entry(kind_, v.day, v.start, v.duration);
  if (kind_ == record::kMotionWindow) {
    // The zones and the level take effect through Add, also when the entry
    // itself was there already.
    camera_.set_motion_settings(zones_.settings());
    changed_ = true;
  }
  switch (result) {
    case 1: {
      record::ScheduleEntry e;
      e.kind = kind_;
      e.day = v.day;
      e.start = v.start;
      e.duration = v.duration;
      rows_.push_back(schedule_row(e));
      changed_ = true;
      return true;
    }
    case 2:
      // The camera keeps one such entry, so the list keeps one row: a second
      // row would stay behind as a ghost once the first is deleted.
      if (kind_ == record::kScheduleWindow) (void)platform::ask(kMsgScheduleExists, kCaptionScheduleWarning);
      return false;
    default:
      (void)platform::ask(kMsgScheduleFull, kCaptionScheduleWarning);
      return false;
  }
}

bool ScheduleDialogModel::remove(int row) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
  const record::ScheduleEntry listed = rows_[static_cast<std::size_t>(row)].entry;
  record::CameraRecording& recording = camera_.recording();
  record::ScheduleEntry active;
  if (recording.active_reference_entry(&active) &&
      active.same_as(listed.kind, listed.day, listed.start, listed.duration) && active.cancelled == listed.cancelled) {
    if (platform::ask(kMsgStopRecording, "", platform::MsgButtons::YesNo) != platform::MsgAnswer::Yes) return false;
    recording.stop_active_entry(listed.kind);
    camera_.reset_record_button();
    if (redraw_list_) redraw_list_();
  }
  (void)recording.remove_entry(listed.kind, listed.day, listed.start, listed.duration);
  rows_.erase(rows_.begin() + row);
  changed_ = true;
  return true;
}

}  // namespace model
