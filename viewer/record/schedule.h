// Schedule entries of one camera and the matching of their time windows.
//
// An entry is a schedule window (the camera is recorded for the whole window)
// or a motion-detection window (recorded while motion is seen). Its four
// numbers are also its stored form in "param.dat": kind, start (hhmm), day
// (frequency code 1..10, or a date YYYYMMDD for a one-time entry) and
// duration in minutes.
#pragma once

#include <array>
#include <cstdint>

#include "viewer/record/clock.h"

namespace record {

inline constexpr int kMaxScheduleEntries = 10;

enum ScheduleKind : int { kScheduleWindow = 0, kMotionWindow = 1 };

// Frequency codes stored in an entry's day (a day above 100 is a date).
enum Frequency : int {
  kOneTime = 0,
  kEveryDay = 1,
  kMonToFri = 2,
  kSatSun = 3,
  kSunday = 4,  // 4..10: Sunday .. Saturday
  kSaturday = 10,
};

struct ScheduleEntry {
  int kind = 0;            // 0 schedule window; any other value a motion window
  int start = 0;           // time of day as hhmm
  int day = 0;             // frequency code, or YYYYMMDD
  int duration = 0;        // minutes
  bool cancelled = false;  // stopped by the user; never stored

  bool is_motion() const { return kind != 0; }
  bool is_one_time() const { return day > 100; }
  bool same_as(int k, int d, int s, int m) const { return kind == k && day == d && start == s && duration == m; }
};

// What the schedule loop keeps per camera about the window it serves.
struct ScheduleState {
  int active_entry = -1;      // slot being served, or -1
  int active_reference = -1;  // slot of the window still current (see below), or -1
  std::int64_t window_start = 0;
  std::int64_t window_end = 0;
  bool continue_window = false;  // left early (split, quota, time-out) and to be picked up again
  std::int64_t file_start = 0;
  std::int64_t last_motion = 0;
  bool motion_continues = false;  // a motion file was split, not ended: next one opens at once
  // No new file before this time: a write failed in this window; trying
  // again every pass would only fail again.
  std::int64_t hold_until = 0;
  // "space full!" (or a missing quota) was reported for the window ending at
  // this time.
  std::int64_t quota_reported_until = 0;
  // A failed write was reported for the window ending at this time.
  std::int64_t write_failure_reported_until = 0;
  // A cancelled window stays stopped until this time, then its entry takes
  // part again.
  std::int64_t cancel_until = 0;

  // The reset done by removing or cancelling an entry (the references stay).
  void reset_window();
};

// A found window: slot, start and end (clock seconds).
struct WindowMatch {
  int slot = -1;
  std::int64_t start = 0;
  std::int64_t end = 0;
};

// The ten entry slots of one camera. Not thread-safe: the owner
// (CameraRecording) serialises access.
class ScheduleTable {
 public:
  struct Slot {
    bool in_use = false;
    ScheduleEntry entry;
  };

  // 1 added (first free slot, cancelled cleared); 2 an identical entry is in
  // use (nothing added); 0 all ten slots are in use.
  [[nodiscard]] int add(int kind, int day, int start, int duration);

  // Frees the first slot holding these four values and resets the window
  // state. 1 found, 0 not found. Closes no file.
  [[nodiscard]] int remove(int kind, int day, int start, int duration);

  // Marks the active reference's entry cancelled until its current window
  // ends and resets the window state. False when there is no active
  // reference.
  bool cancel_active(Clock& clock);

  // True when the active reference points at an entry that is not cancelled:
  // a schedule or motion window of this camera is current.
  bool has_active_schedule() const;

  // The window among the entries (not cancelled) that contains now strictly,
  // the one that started earliest; slot -1 when none.
  WindowMatch match(Clock& clock, std::int64_t now) const;

  int count() const;
  const Slot& slot(int i) const { return slots_[static_cast<std::size_t>(i)]; }
  Slot& slot(int i) { return slots_[static_cast<std::size_t>(i)]; }

  ScheduleState state;

 private:
  std::array<Slot, kMaxScheduleEntries> slots_{};
};

// The window of one entry that contains now (strictly), the earliest if
// several do; false when none. For a repeating entry the windows that start
// on each of the days that can still reach now are tried, so a window that
// crosses midnight is found after midnight too, and a weekday rule applies to
// the day on which the window starts.
[[nodiscard]] bool entry_window(const ScheduleEntry& e, Clock& clock, std::int64_t now, std::int64_t* start,
                                std::int64_t* end);

// Whether a repeating frequency code allows a window starting on a weekday
// (0 = Sunday .. 6 = Saturday).
[[nodiscard]] bool frequency_allows(int code, int weekday);

}  // namespace record
