#include "viewer/record/schedule.h"

#include <cstdio>

namespace record {

void ScheduleState::reset_window() {
  active_entry = -1;
  continue_window = false;
  motion_continues = false;
  window_start = 0;
  window_end = 0;
  file_start = 0;
  last_motion = 0;
}

int ScheduleTable::add(int kind, int day, int start, int duration) {
  int used = 0;
  for (const Slot& s : slots_) {
    if (!s.in_use) continue;
    ++used;
    if (s.entry.same_as(kind, day, start, duration)) return 2;
  }
  if (used > kMaxScheduleEntries - 1) return 0;
  for (Slot& s : slots_) {
    if (s.in_use) continue;
    s.in_use = true;
    s.entry = ScheduleEntry{kind, start, day, duration, false};
    return 1;
  }
  return 0;
}

int ScheduleTable::remove(int kind, int day, int start, int duration) {
  for (Slot& s : slots_) {
    if (s.in_use && s.entry.same_as(kind, day, start, duration)) {
      s.in_use = false;
      state.reset_window();
      return 1;
    }
  }
  return 0;
}

bool ScheduleTable::cancel_active(Clock& clock) {
  if (state.active_reference < 0) return false;
  ScheduleEntry& e = slots_[static_cast<std::size_t>(state.active_reference)].entry;
  std::int64_t until = state.window_end;
  if (until == 0) {
    // The window state was reset (another entry removed): find the window.
    const std::int64_t now = clock.now();
    std::int64_t ws = 0;
    if (!entry_window(e, clock, now, &ws, &until)) until = now;
  }
  e.cancelled = true;
  state.cancel_until = until;
  state.reset_window();
  return true;
}

bool ScheduleTable::has_active_schedule() const {
  const int ref = state.active_reference;
  if (ref < 0) return false;
  const Slot& s = slots_[static_cast<std::size_t>(ref)];
  return s.in_use && !s.entry.cancelled;
}

int ScheduleTable::count() const {
  int n = 0;
  for (const Slot& s : slots_) n += s.in_use ? 1 : 0;
  return n;
}

bool frequency_allows(int code, int weekday) {
  switch (code) {
    case kMonToFri:
      return weekday >= 1 && weekday <= 5;
    case kSatSun:
      return weekday == 0 || weekday == 6;
    default:
      if (code >= kSunday && code <= kSaturday) return weekday == code - kSunday;
      return true;  // every day, and any other code up to 100
  }
}

bool entry_window(const ScheduleEntry& e, Clock& clock, std::int64_t now, std::int64_t* start_out,
                  std::int64_t* end_out) {
  // hhmm read as its "%04d" text: the first two digits are the hours, the
  // next two the minutes (minutes past 59 carry into the next hour).
  char hhmm[16];
  std::snprintf(hhmm, sizeof hhmm, "%04d", e.start < 0 ? 0 : e.start);
  const int hour = (hhmm[0] - '0') * 10 + (hhmm[1] - '0');
  const int minute = (hhmm[2] - '0') * 10 + (hhmm[3] - '0');
  const std::int64_t length = static_cast<std::int64_t>(e.duration) * 60;
  if (length <= 0) return false;

  auto window_on = [&](int year, int month, int day, std::int64_t* ws) {
    LocalTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = 0;
    *ws = clock.seconds_from_local(t);
  };

  if (e.is_one_time()) {
    char text[16];
    std::snprintf(text, sizeof text, "%08d", e.day);
    auto digits = [&](int from, int n) {
      int v = 0;
      for (int i = from; i < from + n; ++i) v = v * 10 + (text[i] - '0');
      return v;
    };
    std::int64_t ws = 0;
    window_on(digits(0, 4), digits(4, 2), digits(6, 2), &ws);
    if (ws < now && now < ws + length) {
      *start_out = ws;
      *end_out = ws + length;
      return true;
    }
    return false;
  }

  // Windows that started on an earlier day may still be open: look back as
  // many days as the duration spans (bounded; a window longer than a month
  // is served only from its latest start).
  const LocalTime today = clock.local(now);
  const std::int64_t today_days = days_from_civil(today.year, today.month, today.day);
  std::int64_t back = length / 86400 + 1;
  if (back > 31) back = 31;
  for (std::int64_t i = back; i >= 0; --i) {  // earliest start first
    const std::int64_t d = today_days - i;
    const int weekday = static_cast<int>(((d % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
    if (!frequency_allows(e.day, weekday)) continue;
    int y = 0, m = 0, dd = 0;
    civil_from_days(d, &y, &m, &dd);
    std::int64_t ws = 0;
    window_on(y, m, dd, &ws);
    if (ws < now && now < ws + length) {
      *start_out = ws;
      *end_out = ws + length;
      return true;
    }
  }
  return false;
}

WindowMatch ScheduleTable::match(Clock& clock, std::int64_t now) const {
  WindowMatch best;
  for (int i = 0; i < kMaxScheduleEntries; ++i) {
    const Slot& s = slots_[static_cast<std::size_t>(i)];
    if (!s.in_use || s.entry.cancelled) continue;
    std::int64_t ws = 0, we = 0;
    if (!entry_window(s.entry, clock, now, &ws, &we)) continue;
    // Earliest start wins; on a tie the first slot keeps it.
    if (best.slot < 0 || ws < best.start) {
      best.slot = i;
      best.start = ws;
      best.end = we;
    }
  }
  return best;
}

}  // namespace record
