// A listed camera's schedule entries as the dialogs, the settings loader and
// the camera list's recording mark use them.
#include <gtest/gtest.h>

#include "shell/fake_connection.h"
#include "viewer/shell/model/camera_list.h"

namespace model {
namespace {

class CameraScheduleTest : public ::testing::Test {
 protected:
  CameraScheduleTest() : list(fakes.factory()) {
    EXPECT_EQ(list.add_camera(testing_support::camera_record(1)), 1);
    camera = list.camera_at(1);
  }
  void make_window_active(int slot) {
    std::lock_guard lock(camera->recording().mutex());
    record::ScheduleState& st = camera->recording().schedule().state;
    st.active_entry = slot;
    st.active_reference = slot;
    st.window_start = 1000;
    st.window_end = 4600;
    st.continue_window = true;
    st.file_start = 1200;
    st.last_motion = 1300;
    st.motion_continues = true;
  }
  record::ScheduleState state() {
    std::lock_guard lock(camera->recording().mutex());
    return camera->recording().schedule().state;
  }
  static void expect_window_reset(const record::ScheduleState& st) {
    EXPECT_EQ(st.active_entry, -1);
    EXPECT_EQ(st.window_start, 0);
    EXPECT_EQ(st.window_end, 0);
    EXPECT_FALSE(st.continue_window);
    EXPECT_EQ(st.file_start, 0);
    EXPECT_EQ(st.last_motion, 0);
    EXPECT_FALSE(st.motion_continues);
  }

  testing_support::FakeConnections fakes;
  CameraList list;
  Camera* camera = nullptr;
};

TEST_F(CameraScheduleTest, TenEntriesNoDuplicatesAndRemoveResetsTheWindow) {
  record::CameraRecording& rec = camera->recording();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(rec.add_entry(i % 2, 1, 800 + i, 30), 1);
  EXPECT_EQ(rec.add_entry(0, 2, 900, 30), 0);  // the eleventh
  EXPECT_EQ(rec.entries().size(), 10u);

  ASSERT_EQ(rec.remove_entry(1, 1, 803, 30), 1);
  EXPECT_EQ(rec.add_entry(0, 1, 800, 30), 2);  // identical to the first
  EXPECT_EQ(rec.add_entry(1, 1, 800, 30), 1);  // another kind is another entry

  make_window_active(4);
  EXPECT_EQ(rec.remove_entry(0, 1, 800, 61), 0);
  EXPECT_EQ(state().active_entry, 4);
  EXPECT_EQ(rec.remove_entry(0, 1, 804, 30), 1);
  expect_window_reset(state());
}

TEST_F(CameraScheduleTest, RecordingMarkCancelsTheActiveWindow) {
  ASSERT_EQ(camera->recording().add_entry(0, 1, 800, 60), 1);
  make_window_active(0);
  list.recording_mark_click(*camera);  // not recording: nothing changes
  EXPECT_EQ(state().active_entry, 0);

  camera->recording().recording_indicator = true;
  camera->recording().manual_request = true;
  list.recording_mark_click(*camera);
  EXPECT_FALSE(camera->recording_indicator());
  EXPECT_FALSE(camera->recording().manual_request);
  EXPECT_TRUE(camera->recording().entries()[0].cancelled);
  expect_window_reset(state());
}

}  // namespace
}  // namespace model
