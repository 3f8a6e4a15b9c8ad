// The schedule and motion detection dialogs' rules on a listed camera: the
// rows as the list shows them, the pickers turned into entries, Add and
// Delete with their messages, the question on deleting the entry being
// recorded, and the zones and sensitivity applied by Add.
#include <gtest/gtest.h>

#include "shell/fake_connection.h"
#include "support/files.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/shell/model/camera_list.h"
#include "viewer/shell/model/schedule_dialog_model.h"

namespace model {
namespace {

using platform::MsgAnswer;
using record::ScheduleEntry;

ScheduleEntry entry(int kind, int day, int start, int duration) {
  ScheduleEntry e;
  e.kind = kind;
  e.day = day;
  e.start = start;
  e.duration = duration;
  return e;
}

SchedulePicks picks(int frequency, int start_hour, int start_minute, int hours, int minutes) {
  SchedulePicks p;
  p.frequency = frequency;
  p.year = 2024;
  p.month = 3;
  p.day = 7;
  p.start_hour = start_hour;
  p.start_minute = start_minute;
  p.duration_hours = hours;
  p.duration_minutes = minutes;
  return p;
}

TEST(ScheduleRows, TextsOfTheThreeColumns) {
  const ScheduleRow once = schedule_row(entry(0, 20240307, 905, 3));
  EXPECT_EQ(once.frequency, "2024/3/7");
  EXPECT_EQ(once.start, "09:05");
  EXPECT_EQ(once.duration, "00:03");
  const ScheduleRow weekly = schedule_row(entry(0, 4, 2330, 23 * 60 + 59));
  EXPECT_EQ(weekly.frequency, "Sun");
  EXPECT_EQ(weekly.start, "23:30");
  EXPECT_EQ(weekly.duration, "23:59");
  EXPECT_EQ(schedule_row(entry(1, 2, 0, 600)).frequency, "Mon~Fri");
  EXPECT_EQ(schedule_row(entry(1, 10, 0, 600)).frequency, "Sat");
  // A code the dialogs never write is served every day, and shown so.
  EXPECT_EQ(schedule_row(entry(0, 57, 0, 60)).frequency, "EveryDay");
}

TEST(ScheduleRows, PickersGiveTheEntryValues) {
  EntryValues v = entry_values(picks(kOneTimePosition, 14, 30, 1, 15));
  EXPECT_EQ(v.day, 20240307);  // "%d%0.2d%0.2d" read back as a number
  EXPECT_EQ(v.start, 1430);
  EXPECT_EQ(v.duration, 75);
  v = entry_values(picks(3, 0, 5, 23, 59));
  EXPECT_EQ(v.day, 3);
  EXPECT_EQ(v.start, 5);
  EXPECT_EQ(v.duration, 1439);
}

class ScheduleDialogTest : public ::testing::Test {
 protected:
  ScheduleDialogTest() : list(fakes.factory()) {
    EXPECT_EQ(list.add_camera(testing_support::camera_record(1)), 1);
    camera = list.camera_at(1);
  }
  std::vector<std::string> texts() { return ui->shown_texts(); }
  // The entry in this slot is being served now (what the schedule loop sets).
  void serving(int slot) {
    std::lock_guard lock(camera->recording().mutex());
    camera->recording().schedule().state.active_entry = slot;
    camera->recording().schedule().state.active_reference = slot;
  }

  platform::ScopedHeadlessUi ui;
  testing_support::FakeConnections fakes;
  CameraList list;
  Camera* camera = nullptr;
  int redraws = 0;
};

TEST_F(ScheduleDialogTest, ListsOnlyItsKindAndAddsWithEveryMessage) {
  ASSERT_EQ(camera->recording().add_entry(1, 1, 800, 60), 1);
  ASSERT_EQ(camera->recording().add_entry(0, 2, 900, 30), 1);
  ScheduleDialogModel dialog(*camera, record::kScheduleWindow);
  ASSERT_EQ(dialog.rows().size(), 1u);
  EXPECT_EQ(dialog.rows()[0].frequency, "Mon~Fri");

  EXPECT_FALSE(dialog.add(picks(-1, 8, 0, 0, 30)));
  EXPECT_EQ(texts().back(), "please select frequency");
  EXPECT_EQ(ui->shown().back().caption, "Warning");
  EXPECT_FALSE(dialog.changed());

  EXPECT_TRUE(dialog.add(picks(kOneTimePosition, 8, 0, 0, 30)));
  ASSERT_EQ(dialog.rows().size(), 2u);
  EXPECT_EQ(dialog.rows()[1].frequency, "2024/3/7");
  EXPECT_TRUE(dialog.changed());

  EXPECT_FALSE(dialog.add(picks(2, 9, 0, 0, 30)));  // the entry listed first
  EXPECT_EQ(texts().back(), "this recording schedule has already been added.");
  EXPECT_EQ(dialog.rows().size(), 2u);

  for (int i = 0; i < 7; ++i) EXPECT_TRUE(dialog.add(picks(1, 10, i, 1, 0)));
  EXPECT_EQ(camera->recording().entry_count(), 10);
  EXPECT_FALSE(dialog.add(picks(1, 11, 0, 1, 0)));
  EXPECT_EQ(texts().back(), "each cam maximum num is 10.");
  EXPECT_EQ(ui->shown().back().caption, "Warning");
  EXPECT_EQ(dialog.rows().size(), 9u);
}

TEST_F(ScheduleDialogTest, DeletingTheEntryBeingRecordedAsksAndYesStopsIt) {
  ASSERT_EQ(camera->recording().add_entry(0, 1, 800, 60), 1);
  ASSERT_EQ(camera->recording().add_entry(0, 3, 800, 60), 1);
  test_support::TempDir folder;
  record::RecordingWriter& writer = camera->recording().schedule_writer();
  ASSERT_EQ(writer.Open(folder.file("rec.asf")), 1);
  camera->recording().recording_indicator.store(true);
  serving(0);
  int resets = 0;
  camera->set_record_button_reset([&] { ++resets; });
  ScheduleDialogModel dialog(*camera, record::kScheduleWindow, [&] { ++redraws; });

  // No: nothing changes.
  ui->script_answers({MsgAnswer::No});
  EXPECT_FALSE(dialog.remove(0));
  EXPECT_EQ(texts(), std::vector<std::string>{"the process is recording, stop?"});
  EXPECT_EQ(ui->shown().back().caption, "");
  EXPECT_EQ(ui->shown().back().buttons, platform::MsgButtons::YesNo);
  EXPECT_TRUE(writer.IsOpen());
  EXPECT_EQ(dialog.rows().size(), 2u);
  EXPECT_EQ(camera->recording().entry_count(), 2);

  // Yes: the file is closed, the window cancelled and forgotten, the
  // indicator and the pop-up's record button reset, the list redrawn, and
  // the entry and its row gone.
  ui->script_answers({MsgAnswer::Yes});
  EXPECT_TRUE(dialog.remove(0));
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_FALSE(camera->recording_indicator());
  ScheduleEntry active;
  EXPECT_FALSE(camera->recording().active_reference_entry(&active));
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(redraws, 1);
  ASSERT_EQ(dialog.rows().size(), 1u);
  EXPECT_EQ(dialog.rows()[0].entry.day, 3);
  EXPECT_EQ(camera->recording().entry_count(), 1);

  // Another entry, not being served: deleted without a question.
  ui->clear();
  EXPECT_TRUE(dialog.remove(0));
  EXPECT_TRUE(texts().empty());
  EXPECT_TRUE(dialog.rows().empty());
  EXPECT_FALSE(dialog.remove(0));  // no row: nothing
}

TEST_F(ScheduleDialogTest, RowListedBeforeTheUserStoppedItIsNotTheRecordingOne) {
  // The camera list's stop marks the served entry cancelled; a row listed
  // before that no longer matches it and is deleted without the question.
  ASSERT_EQ(camera->recording().add_entry(0, 1, 800, 60), 1);
  serving(0);
  ScheduleDialogModel dialog(*camera, record::kScheduleWindow);
  camera->recording().stop_all();
  EXPECT_TRUE(dialog.remove(0));
  EXPECT_TRUE(texts().empty());
  EXPECT_EQ(camera->recording().entry_count(), 0);
}

TEST_F(ScheduleDialogTest, MotionAddAppliesZonesAlwaysAndKeepsOneRowPerEntry) {
  MotionSettings stored;
  stored.layout = 1;
  stored.sensitivity = 4;
  stored.flags[5] = 1;
  camera->set_motion_settings(stored);
  ScheduleDialogModel dialog(*camera, record::kMotionWindow);
  EXPECT_EQ(dialog.zones().layout(), 1);
  EXPECT_EQ(dialog.zones().sensitivity_position(), 3);  // the list opens at "Low"
  EXPECT_TRUE(dialog.zones().watched(5));

  // Zones change only through Add.
  dialog.zones().set_layout(0);
  dialog.zones().set_all(true);
  dialog.zones().toggle(4);
  dialog.zones().set_sensitivity_position(0);
  EXPECT_EQ(camera->motion_settings().layout, 1);
  EXPECT_FALSE(dialog.add(picks(-1, 8, 0, 1, 0)));  // refused before the zones
  EXPECT_EQ(camera->motion_settings().layout, 1);

  EXPECT_TRUE(dialog.add(picks(1, 8, 0, 1, 0)));
  MotionSettings applied = camera->motion_settings();
  EXPECT_EQ(applied.layout, 0);
  EXPECT_EQ(applied.sensitivity, 1);
  for (int z = 0; z < 25; ++z) EXPECT_EQ(applied.flags[z], z < 9 && z != 4 ? 1 : 0) << z;

  // The same entry again: no second row (it would stay behind as a ghost
  // once the first is deleted), no message, but the zones are applied.
  dialog.zones().set_sensitivity_position(4);
  EXPECT_FALSE(dialog.add(picks(1, 8, 0, 1, 0)));
  EXPECT_EQ(dialog.rows().size(), 1u);
  EXPECT_TRUE(texts().size() == 1 && texts()[0] == "please select frequency");
  EXPECT_EQ(camera->motion_settings().sensitivity, 5);
  EXPECT_TRUE(dialog.changed());
  EXPECT_EQ(camera->recording().entries()[0].kind, 1);
}

TEST(MotionZonesEdit, GridHitsMatchTheDrawnRectanglesAndLayoutsKeepFlags) {
  MotionZonesEdit zones;
  for (int layout = 0; layout < 3; ++layout) {
    zones.set_layout(layout);
    const int n = zones.side();
    // Every pixel of a 240 x 180 picture (and an odd 161 x 97 one) hits the
    // zone whose rectangle holds it.
    for (auto [w, h] : {std::pair{240, 180}, std::pair{161, 97}}) {
      for (int z = 0; z < n * n; ++z) {
        const auto r = zones.zone_rect(z, w, h);
        for (int y = r[1]; y < r[3]; ++y) {
          for (int x = r[0]; x < r[2]; ++x) ASSERT_EQ(zones.zone_at(x, y, w, h), z) << x << "," << y;
        }
      }
      EXPECT_EQ(zones.zone_rect(n * n - 1, w, h)[2], w);
      EXPECT_EQ(zones.zone_rect(n * n - 1, w, h)[3], h);
    }
  }
  EXPECT_EQ(zones.zone_at(-1, 0, 240, 180), -1);
  EXPECT_EQ(zones.zone_at(240, 0, 240, 180), -1);

  zones.set_layout(2);
  zones.toggle(24);
  zones.set_layout(0);
  EXPECT_FALSE(zones.watched(24));           // not part of a 3 x 3 grid
  EXPECT_EQ(zones.settings().flags[24], 0);  // nor applied with it
  zones.toggle(24);                          // a zone outside the grid is no zone
  zones.set_layout(2);
  EXPECT_TRUE(zones.watched(24));  // back in a 5 x 5 grid, as it was

  record::MotionZones odd;
  odd.layout = 7;
  odd.sensitivity = 9;
  const MotionZonesEdit from(odd);
  EXPECT_EQ(from.layout(), 0);
  EXPECT_EQ(from.sensitivity_position(), 2);  // "Normal"
}

}  // namespace
}  // namespace model
