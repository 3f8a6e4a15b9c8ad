#include "viewer/shell/model/schedule_entries.h"

namespace model {

int ScheduleTable::add_entry(int kind, int day, int start, int duration) {
  std::lock_guard lock(mutex_);
  if (in_use_ > kScheduleSlots - 1) return kEntryTableFull;
  for (const ScheduleSlot& s : slots_) {
    if (s.in_use && s.entry.same_values(kind, day, start, duration)) return kEntryExists;
  }
  for (ScheduleSlot& s : slots_) {
    if (s.in_use) continue;
    s.in_use = true;
    s.entry = ScheduleEntry{kind, day, start, duration, false};
    ++in_use_;
    return kEntryAdded;
  }
  return kEntryTableFull;
}

int ScheduleTable::remove_entry(int kind, int day, int start, int duration) {
  std::lock_guard lock(mutex_);
  for (ScheduleSlot& s : slots_) {
    if (!s.in_use || !s.entry.same_values(kind, day, start, duration)) continue;
    s.in_use = false;
    --in_use_;
    reset_state_locked();
    return 1;
  }
  return 0;
}

void ScheduleTable::cancel_active_entry() {
  std::lock_guard lock(mutex_);
  if (state_.active_reference < 0) return;
  slots_[state_.active_reference].entry.cancelled = true;
  reset_state_locked();
}

void ScheduleTable::clear_active_reference() {
  std::lock_guard lock(mutex_);
  state_.active_reference = -1;
}

void ScheduleTable::clear() {
  std::lock_guard lock(mutex_);
  slots_ = {};
  in_use_ = 0;
  state_ = ScheduleState{};
}

int ScheduleTable::count() const {
  std::lock_guard lock(mutex_);
  return in_use_;
}

std::vector<ScheduleEntry> ScheduleTable::entries_in_use() const {
  std::lock_guard lock(mutex_);
  std::vector<ScheduleEntry> out;
  for (const ScheduleSlot& s : slots_) {
    if (s.in_use) out.push_back(s.entry);
  }
  return out;
}

std::array<ScheduleSlot, kScheduleSlots> ScheduleTable::slots() const {
  std::lock_guard lock(mutex_);
  return slots_;
}

ScheduleState ScheduleTable::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void ScheduleTable::reset_state_locked() {
  // The active reference survives: it is what the dialogs compare against to
  // know which recording is running, until its window ends.
  const int reference = state_.active_reference;
  state_ = ScheduleState{};
  state_.active_reference = reference;
}

}  // namespace model
