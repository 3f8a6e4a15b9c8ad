// A camera's recording schedule entries: ten slots of windows in which the
// camera is recorded (kind 0) or recorded on motion (kind 1), and the state
// of the window the schedule loop is serving.
//
// The dialogs (user-interface thread) add and remove entries while the
// schedule loop (its own thread) reads them and moves the state on, so the
// table has one lock. Nothing here calls out while holding it.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

namespace model {

inline constexpr int kScheduleSlots = 10;

// Results of ScheduleTable::add_entry.
inline constexpr int kEntryAdded = 1;
inline constexpr int kEntryExists = 2;
inline constexpr int kEntryTableFull = 0;

struct ScheduleEntry {
  int kind = 0;      // 0 schedule recording window; non-zero motion-detection window
  int day = 0;       // frequency code 1 to 10, or YYYYMMDD (> 100) for one date
  int start = 0;     // hhmm
  int duration = 0;  // minutes
  bool cancelled = false;  // the user stopped this entry's recording; not stored

  bool same_values(int k, int d, int s, int dur) const {
    return kind == k && day == d && start == s && duration == dur;
  }
};

struct ScheduleSlot {
  bool in_use = false;
  ScheduleEntry entry;
};

// The window being served, in local time seconds.
struct ScheduleState {
  int active_entry = -1;      // slot of the entry being served, or -1
  int active_reference = -1;  // slot whose recording is (or was) open; stays until its window ends
  std::int64_t window_start = 0;
  std::int64_t window_end = 0;
  bool continue_window = false;   // the window was left early and is to be picked up again
  std::int64_t file_start = 0;
  std::int64_t last_motion = 0;
  bool motion_continues = false;  // a motion file was closed only for the hourly split
};

class ScheduleTable {
 public:
  // Adds an entry into the first free slot: kEntryAdded; kEntryTableFull when
  // all ten slots are in use; kEntryExists when an entry in use has the same
  // four values (nothing is added).
  [[nodiscard]] int add_entry(int kind, int day, int start, int duration);

  // Frees the first slot in use with these values and resets the schedule
  // state (it does not close a file). Returns 1 when a slot was freed, else 0.
  [[nodiscard]] int remove_entry(int kind, int day, int start, int duration);

  // With an active reference: marks that entry cancelled and resets the
  // schedule state as remove_entry does.
  void cancel_active_entry();

  // Forgets the active reference (a dialog deleted the active entry).
  void clear_active_reference();

  // Frees every slot and resets the state (a pool camera taken for a new one).
  void clear();

  int count() const;
  std::vector<ScheduleEntry> entries_in_use() const;  // in slot order
  std::array<ScheduleSlot, kScheduleSlots> slots() const;
  ScheduleState state() const;

  // Runs f(slots, state) under the table's lock, for the schedule loop's
  // read-modify-write steps. f must not call out.
  template <class F>
  auto with_lock(F&& f) {
    std::lock_guard lock(mutex_);
    return f(slots_, state_);
  }

 private:
  void reset_state_locked();

  mutable std::mutex mutex_;
  std::array<ScheduleSlot, kScheduleSlots> slots_{};
  int in_use_ = 0;
  ScheduleState state_;
};

}  // namespace model
