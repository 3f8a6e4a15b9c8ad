// What the schedule dialog and the motion detection dialog do, without the
// dialogs: the list of a camera's entries of one kind with its row texts,
// the pickers turned into entry values, Add and Delete with their messages,
// and (motion dialog) the zones and the sensitivity edited over the
// camera's picture.
//
// The dialogs read their pickers into SchedulePicks, call add() or remove(),
// and show rows() again. Everything runs on the user-interface thread; the
// entries themselves are shared with the schedule loop through the camera's
// recording state, which serialises them.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "viewer/record/motion_zones.h"
#include "viewer/record/schedule.h"

namespace model {

class Camera;

// The frequency list, in the order of the codes ("One Time" stores a date).
inline constexpr std::array<const char*, 11> kFrequencyTexts = {
    "One Time", "EveryDay", "Mon~Fri", "Sat~Sun", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
inline constexpr int kOneTimePosition = 0;

// Column titles of the list.
inline constexpr std::array<const char*, 3> kScheduleColumns = {"Frequency", "Start Time", "Duration"};

// The duration picker: 00:03 to 23:59, opening at 00:03.
inline constexpr int kMinDurationMinutes = 3;
inline constexpr int kMaxDurationMinutes = 23 * 60 + 59;

// Messages (caption "Warning"; the stop question has an empty one).
inline constexpr const char* kMsgSelectFrequency = "please select frequency";
inline constexpr const char* kMsgScheduleExists = "this recording schedule has already been added.";
inline constexpr const char* kMsgScheduleFull = "each cam maximum num is 10.";
inline constexpr const char* kCaptionScheduleWarning = "Warning";
inline constexpr const char* kMsgStopRecording = "the process is recording, stop?";

// The motion dialog's lists.
inline constexpr std::array<const char*, 3> kZoneLayoutTexts = {"3x3", "4x4", "5x5"};
inline constexpr std::array<const char*, 5> kSensitivityTexts = {"Very High", "High", "Normal", "Low", "Very Low"};

// One row of the list: its three texts and the entry as it was when listed.
struct ScheduleRow {
  std::string frequency;  // the frequency text, or the date "%d/%d/%d" (year/month/day)
  std::string start;      // "%0.2d:%0.2d"
  std::string duration;   // "%.2d:%.2d" (hours, minutes)
  record::ScheduleEntry entry;
};
[[nodiscard]] ScheduleRow schedule_row(const record::ScheduleEntry& entry);

// What the pickers show when Add is pressed.
struct SchedulePicks {
  int frequency = -1;                // position in the frequency list; -1: none selected
  int year = 0, month = 0, day = 0;  // the date picker (used for "One Time")
  int start_hour = 0, start_minute = 0;
  int duration_hours = 0, duration_minutes = kMinDurationMinutes;
};

// The entry values the picks give: day (the frequency's position, or the
// date as YYYYMMDD), start (hhmm) and duration (minutes).
struct EntryValues {
  int day = 0;
  int start = 0;
  int duration = 0;
};
[[nodiscard]] EntryValues entry_values(const SchedulePicks& picks);

// The zones and the sensitivity as the motion dialog edits them: the grid
// side follows the layout list, every zone keeps its flag while the layout
// changes, and only the zones of the chosen grid are applied.
class MotionZonesEdit {
 public:
  MotionZonesEdit() = default;
  explicit MotionZonesEdit(const record::MotionZones& from);

  // 0 "3x3", 1 "4x4", 2 "5x5".
  int layout() const { return layout_; }
  void set_layout(int position);
  int side() const { return record::zones_per_side(layout_); }
  bool watched(int zone) const;
  void toggle(int zone);
  void set_all(bool on);

  // 0 "Very High" .. 4 "Very Low".
  int sensitivity_position() const { return sensitivity_position_; }
  void set_sensitivity_position(int position);

  // What Add applies to the camera: the chosen grid's flags (the others
  // cleared), the layout and the level (position + 1).
  record::MotionZones settings() const;

  // The zone under a point of a picture of width x height drawn at (0, 0),
  // numbered row by row; -1 outside it.
  int zone_at(int x, int y, int width, int height) const;
  // The rectangle of a zone in such a picture: left, top, right, bottom
  // (exclusive), the n x n grid of equal parts.
  std::array<int, 4> zone_rect(int zone, int width, int height) const;

 private:
  std::array<std::uint8_t, record::kMaxZones> flags_{};
  int layout_ = 0;
  int sensitivity_position_ = 2;
};

class ScheduleDialogModel {
 public:
  // The dialog of one kind (record::kScheduleWindow or kMotionWindow) for a
  // listed camera. redraw_list: the camera list shows changed recording
  // marks.
  ScheduleDialogModel(Camera& camera, int kind, std::function<void()> redraw_list = {});

  int kind() const { return kind_; }
  const std::vector<ScheduleRow>& rows() const { return rows_; }

  // Add with the pickers' values. Returns true when a row was added.
  // Refusals are told ("please select frequency", "this recording schedule
  // has already been added.", "each cam maximum num is 10."). In the motion
  // dialog an identical entry is refused silently (the camera keeps one
  // entry, the list one row), and every Add past the frequency check
  // applies the zones and the sensitivity, whatever its result.
  bool add(const SchedulePicks& picks);

  // Deletes the entry of a row. When that entry is being recorded now, asks
  // "the process is recording, stop?" first; No keeps everything, Yes ends
  // the recording. Returns true when the row went; an index out of range
  // does nothing.
  bool remove(int row);

  // Entries or motion settings were changed (the main window then saves).
  bool changed() const { return changed_; }

  MotionZonesEdit& zones() { return zones_; }
  const MotionZonesEdit& zones() const { return zones_; }

 private:
  void list_entries();

  Camera& camera_;
  const int kind_;
  std::function<void()> redraw_list_;
  std::vector<ScheduleRow> rows_;
  MotionZonesEdit zones_;
  bool changed_ = false;
};

}  // namespace model
