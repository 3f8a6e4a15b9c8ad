// Schedule entries, window matching, names and the motion test: the pure
// rules, checked in simulated local time.
#include <gtest/gtest.h>

#include "viewer/record/clock.h"
#include "viewer/record/motion_zones.h"
#include "viewer/record/recording_names.h"
#include "viewer/record/schedule.h"

using namespace record;

namespace {

// 2005-04-11 is a Monday.
std::int64_t at(SimulatedClock& c, int y, int mo, int d, int h, int mi, int s) {
  return c.seconds_from_local(LocalTime{y, mo, d, h, mi, s});
}

int add(ScheduleTable& t, int kind, int day, int start, int duration) { return t.add(kind, day, start, duration); }

}  // namespace

TEST(Clock, SimulatedCalendarAndWeekdays) {
  SimulatedClock c;
  const std::int64_t t = at(c, 2005, 4, 11, 23, 59, 59);
  const LocalTime l = c.local(t + 1);
  EXPECT_EQ(l.day, 12);
  EXPECT_EQ(l.hour, 0);
  EXPECT_EQ(c.local(t).weekday, 1);                             // Monday
  EXPECT_EQ(c.local(at(c, 2005, 4, 17, 12, 0, 0)).weekday, 0);  // Sunday
  // Out-of-range fields carry over, as mktime does.
  EXPECT_EQ(at(c, 2005, 4, 31, 0, 0, 0), at(c, 2005, 5, 1, 0, 0, 0));
  EXPECT_EQ(at(c, 2004, 13, 1, 0, 0, 0), at(c, 2005, 1, 1, 0, 0, 0));
  EXPECT_EQ(at(c, 2004, 2, 29, 0, 0, 0) + 86400, at(c, 2004, 3, 1, 0, 0, 0));
}

TEST(RecordingNames, FollowTheLocalTimeAndLocation) {
  const LocalTime t{2005, 4, 12, 15, 30, 7};
  EXPECT_EQ(manual_file_name(0, t), "LAN_R_20050412_153007.asf");
  EXPECT_EQ(manual_file_name(1, t), "INT_R_20050412_153007.asf");
  EXPECT_EQ(schedule_file_name(0, t), "LAN_20050412_153007.asf");
  EXPECT_EQ(snapshot_file_name(t), "2005_0412_153007.jpg");
  EXPECT_EQ(stamp_text(t), "20050412153007.asf");
  EXPECT_EQ(camera_directory("/data/Record", "00aabbccddee"), "/data/Record/00aabbccddee");
  EXPECT_EQ(stamp_from_manual_name("/r/00aabbccddee/LAN_R_20050412_153007.asf"), "20050412153007");
  EXPECT_EQ(stamp_from_manual_name("/r/x/LAN_20050412_153007.asf"), "");
  LocalTime back;
  ASSERT_TRUE(parse_name_time("/r/x/INT_R_20050412_153007.asf", &back));
  EXPECT_EQ(back.minute, 30);
  EXPECT_FALSE(parse_name_time("/r/x/LAN_2005041215300.asf", &back));
  EXPECT_FALSE(parse_name_time("/r/x/LAN_20051312_153007.asf", &back));  // month 13
}

TEST(ScheduleTable, AddRemoveAndLimits) {
  ScheduleTable t;
  EXPECT_EQ(add(t, 0, kEveryDay, 1000, 60), 1);
  EXPECT_EQ(add(t, 0, kEveryDay, 1000, 60), 2);  // identical
  EXPECT_EQ(add(t, 1, kEveryDay, 1000, 60), 1);  // other kind is another entry
  for (int i = 2; i < 10; ++i) EXPECT_EQ(add(t, 0, kEveryDay, 1100 + i, 5), 1);
  EXPECT_EQ(t.count(), 10);
  EXPECT_EQ(add(t, 0, kSatSun, 900, 5), 0);  // the eleventh

  t.state.active_entry = 3;
  t.state.active_reference = 3;
  t.state.window_start = 5;
  EXPECT_EQ(t.remove(0, kEveryDay, 1000, 60), 1);
  EXPECT_EQ(t.state.active_entry, -1);
  EXPECT_EQ(t.state.window_start, 0);
  EXPECT_EQ(t.state.active_reference, 3);  // the reference survives a remove
  EXPECT_EQ(t.remove(0, kEveryDay, 1000, 60), 0);
  EXPECT_EQ(add(t, 0, kSatSun, 900, 5), 1);  // the freed slot is reused
  EXPECT_FALSE(t.slot(0).entry.cancelled);
}

TEST(ScheduleMatch, StrictWindowAcrossMidnight) {
  SimulatedClock c;
  ScheduleTable t;
  ASSERT_EQ(add(t, 0, kEveryDay, 2330, 120), 1);
  EXPECT_EQ(t.match(c, at(c, 2005, 4, 12, 23, 30, 0)).slot, -1);  // the start itself does not match
  const WindowMatch m = t.match(c, at(c, 2005, 4, 12, 23, 30, 1));
  EXPECT_EQ(m.slot, 0);
  EXPECT_EQ(m.start, at(c, 2005, 4, 12, 23, 30, 0));
  EXPECT_EQ(m.end, at(c, 2005, 4, 13, 1, 30, 0));
  // After midnight the window that started yesterday is still the one.
  const WindowMatch after = t.match(c, at(c, 2005, 4, 13, 0, 30, 1));
  EXPECT_EQ(after.start, m.start);
  EXPECT_EQ(t.match(c, at(c, 2005, 4, 13, 1, 30, 0)).slot, -1);  // the end does not match either
  EXPECT_EQ(t.match(c, at(c, 2005, 4, 13, 12, 0, 0)).slot, -1);
}

TEST(ScheduleMatch, FrequenciesPickTheirDays) {
  SimulatedClock c;
  ScheduleTable weekdays, weekend, wednesday, odd_code;
  ASSERT_EQ(add(weekdays, 0, kMonToFri, 1200, 60), 1);
  ASSERT_EQ(add(weekend, 0, kSatSun, 1200, 60), 1);
  ASSERT_EQ(add(wednesday, 0, kSunday + 3, 1200, 60), 1);  // "Wed"
  ASSERT_EQ(add(odd_code, 0, 57, 1200, 60), 1);            // unknown codes: every day
  for (int day = 11; day <= 17; ++day) {                   // Monday 11th .. Sunday 17th
    const std::int64_t noon = at(c, 2005, 4, day, 12, 30, 0);
    const bool is_weekend = day >= 16;
    EXPECT_EQ(weekdays.match(c, noon).slot == 0, !is_weekend) << day;
    EXPECT_EQ(weekend.match(c, noon).slot == 0, is_weekend) << day;
    EXPECT_EQ(wednesday.match(c, noon).slot == 0, day == 13) << day;
    EXPECT_EQ(odd_code.match(c, noon).slot, 0) << day;
  }
  // A Friday-night window belongs to Friday: it goes on into Saturday, and a
  // Saturday-night window of a Mon~Fri entry does not start.
  ScheduleTable late;
  ASSERT_EQ(add(late, 0, kMonToFri, 2330, 120), 1);
  EXPECT_EQ(late.match(c, at(c, 2005, 4, 16, 0, 30, 0)).slot, 0);   // Saturday 00:30
  EXPECT_EQ(late.match(c, at(c, 2005, 4, 17, 0, 30, 0)).slot, -1);  // Sunday 00:30
  EXPECT_EQ(late.match(c, at(c, 2005, 4, 16, 23, 45, 0)).slot, -1);
}

TEST(ScheduleMatch, OneTimeOverlapAndCancelled) {
  SimulatedClock c;
  ScheduleTable t;
  ASSERT_EQ(add(t, 0, 20050412, 1000, 60), 1);
  EXPECT_EQ(t.match(c, at(c, 2005, 4, 12, 10, 30, 0)).slot, 0);
  EXPECT_EQ(t.match(c, at(c, 2005, 4, 13, 10, 30, 0)).slot, -1);

  // Overlapping windows: the one that started earlier is served.
  ScheduleTable o;
  ASSERT_EQ(add(o, 0, kEveryDay, 1030, 60), 1);                  // slot 0, starts later
  ASSERT_EQ(add(o, 1, kEveryDay, 1000, 120), 1);                 // slot 1, starts earlier
  ASSERT_EQ(add(o, 0, kEveryDay, 1000, 30), 1);                  // slot 2, same start as slot 1
  EXPECT_EQ(o.match(c, at(c, 2005, 4, 12, 10, 20, 0)).slot, 1);  // tie: first slot
  EXPECT_EQ(o.match(c, at(c, 2005, 4, 12, 10, 45, 0)).slot, 1);
  EXPECT_EQ(o.match(c, at(c, 2005, 4, 12, 11, 45, 0)).slot, 1);
  EXPECT_EQ(o.match(c, at(c, 2005, 4, 12, 12, 0, 1)).slot, -1);

  // A cancelled entry takes no part until the window it was stopped in ends.
  o.state.active_reference = 1;
  o.state.window_end = at(c, 2005, 4, 12, 12, 0, 0);
  ASSERT_TRUE(o.cancel_active(c));
  EXPECT_TRUE(o.slot(1).entry.cancelled);
  EXPECT_FALSE(o.has_active_schedule());
  EXPECT_EQ(o.state.cancel_until, at(c, 2005, 4, 12, 12, 0, 0));
  EXPECT_EQ(o.match(c, at(c, 2005, 4, 12, 10, 45, 0)).slot, 0);
}

TEST(MotionTest, ThresholdTable) {
  EXPECT_EQ(motion_threshold(1, 160), 11);
  EXPECT_EQ(motion_threshold(1, 320), 32);
  EXPECT_EQ(motion_threshold(1, 640), 100);
  EXPECT_EQ(motion_threshold(3, 640), 42);
  EXPECT_EQ(motion_threshold(5, 640), 9);
  EXPECT_EQ(motion_threshold(4, 176), 15);  // any other width uses the 320 column
  EXPECT_EQ(motion_threshold(0, 640), 0);
  EXPECT_EQ(motion_threshold(6, 640), 0);

  MotionSample s;
  s.width = 640;
  s.height = 480;
  s.zones.flags.fill(1);
  s.zones.sensitivity = 3;
  s.cells[0] = 41;
  EXPECT_FALSE(motion_now(s));
  s.cells[41 * 29 + 39] = 1;  // last pixel-covering cell: 42 in all
  EXPECT_TRUE(motion_now(s));
  // The detector's spare column and row cover no pixels and never count.
  s.cells[41 * 29 + 39] = 0;
  s.cells[40] = 200;
  s.cells[41 * 30 + 5] = 200;
  EXPECT_EQ(motion_sum(s), 41);
}

TEST(MotionTest, ZonesAreRectanglesOfThePicture) {
  MotionSample s;
  s.width = 320;  // 20 x 15 cells, stored 21 per row
  s.height = 240;
  s.zones.layout = 0;  // 3 x 3
  s.zones.flags.fill(0);
  s.zones.flags[8] = 1;  // bottom-right zone only
  s.zones.sensitivity = 3;
  EXPECT_EQ(zone_of_cell(0, 0, 320, 240, 0), 0);
  EXPECT_EQ(zone_of_cell(14, 19, 320, 240, 0), 8);
  EXPECT_EQ(zone_of_cell(7, 10, 320, 240, 0), 4);
  EXPECT_EQ(zone_of_cell(0, 19, 320, 240, 2), 4);  // 5 x 5: top-right
  EXPECT_EQ(zone_of_cell(15, 0, 320, 240, 0), -1);
  s.cells[0] = 200;  // top-left: not watched
  EXPECT_FALSE(motion_now(s));
  s.cells[14 * 21 + 19] = 21;  // bottom-right cell
  EXPECT_TRUE(motion_now(s));
  // No picture, or a size the cell grid cannot hold: no motion.
  s.width = 0;
  EXPECT_EQ(motion_sum(s), 0);
  s.width = 1280;
  s.height = 960;
  EXPECT_EQ(motion_sum(s), 0);
}
