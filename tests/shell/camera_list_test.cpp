// Rules of the camera list and the channel grid, driven as the main window
// drives them, with fake connections and a headless message box.
#include <gtest/gtest.h>

#include "shell/fake_connection.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/shell/model/camera_list.h"

namespace model {
namespace {

using platform::MsgAnswer;
using testing_support::camera_record;

class CameraListTest : public ::testing::Test {
 protected:
  CameraListTest() : list(fakes.factory(), &hooks) { list.set_drop_wait_ms(0); }

  Camera& add(int n, int location = 0) {
    EXPECT_EQ(list.add_camera(camera_record(n, location)), 1);
    return *list.camera_at(list.count());
  }
  // The user picks row k of the first page and drops its camera on a cell.
  DropResult drag_row_to_cell(int row, int cell) {
    list.select(list.position_of_row(row));
    return list.drop(*list.selected_camera(), list.channel_of_cell(cell));
  }
  std::vector<std::string> messages() {
    std::vector<std::string> out;
    for (auto& m : ui->shown()) out.push_back(m.text);
    return out;
  }

  platform::ScopedHeadlessUi ui;
  testing_support::FakeConnections fakes;
  testing_support::RecordingHooks hooks;
  CameraList list;
};

TEST_F(CameraListTest, AddRefusesTheHundredTwentyNinthAndDuplicates) {
  for (int n = 0; n < kPoolSize; ++n) add(n);
  EXPECT_EQ(list.add_camera(camera_record(500)), 0);
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_EQ(ui->shown()[0].text, "already have 128 cameras, can't add anymore");
  EXPECT_EQ(ui->shown()[0].caption, "");
  EXPECT_EQ(list.count(), kPoolSize);

  ui->clear();
  list.select(3);
  ui->script_answers({MsgAnswer::Ok});
  ASSERT_TRUE(list.delete_selected());
  // Same MAC in upper case and same location: a duplicate; another location is not.
  CameraRecord dup = camera_record(7);
  for (char& c : dup.mac) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(list.add_camera(dup), 0);
  EXPECT_EQ(messages().back(), "cam had already exist.");
  dup.location = 1;
  EXPECT_EQ(list.add_camera(dup), 1);
  EXPECT_EQ(list.camera_at(kPoolSize)->mac(), "00a0b0c00007");  // stored lower case
  EXPECT_EQ(list.camera_at(kPoolSize)->pool_index(), 2);        // the freed pool slot
}

TEST_F(CameraListTest, AddRefusesTextsThatWouldBreakTheSettingsFile) {
  struct Case {
    void (*change)(CameraRecord&);
    const char* message;
  } cases[] = {
      {[](CameraRecord& r) { r.name = "a|b"; }, "the name can't include '\\' or '|'"},
      {[](CameraRecord& r) { r.name = "a\\b"; }, "the name can't include '\\' or '|'"},
      {[](CameraRecord& r) { r.description = "see http://x"; }, "the camera settings can't include '\\', '|' or '//'"},
      {[](CameraRecord& r) { r.password = "p|w"; }, "the camera settings can't include '\\', '|' or '//'"},
      {[](CameraRecord& r) { r.mac = "00:11:22:33:44:55"; }, "the MAC address must be 12 hexadecimal digits"},
      {[](CameraRecord& r) { r.mac = "../../etc/xx"; }, "the MAC address must be 12 hexadecimal digits"},
      {[](CameraRecord& r) { r.mac = "00112233445g"; }, "the MAC address must be 12 hexadecimal digits"},
  };
  for (const Case& c : cases) {
    CameraRecord r = camera_record(1);
    c.change(r);
    EXPECT_EQ(list.add_camera(r), 0);
    EXPECT_EQ(messages().back(), c.message);
  }
  EXPECT_EQ(list.count(), 0);
  // Loading may carry such texts (the file protects them); the MAC rule still holds.
  CameraRecord loaded = camera_record(1);
  loaded.password = "p|w//x";
  EXPECT_EQ(list.add_camera(loaded, AddOrigin::SettingsFile), 1);

  Camera& cam = *list.camera_at(1);
  CameraRecord edit = cam.record();
  edit.address = "http://x";
  EXPECT_EQ(list.change_camera(cam, edit), 0);
  edit.address = "10.0.0.9";
  EXPECT_EQ(list.change_camera(cam, edit), 0);  // the loaded password still breaks the rule
  edit.password = "p-w";
  EXPECT_EQ(list.change_camera(cam, edit), 1);
  EXPECT_EQ(cam.record().address, "10.0.0.9");
}

TEST_F(CameraListTest, DeleteAsksAndManagesScrollButtonsAndPage) {
  for (int n = 0; n < 9; ++n) add(n);
  EXPECT_TRUE(list.scroll_buttons_visible());
  list.page_down();
  Camera& cam = *list.camera_at(2);
  ASSERT_EQ(list.bind(cam, 4), 1);
  cam.set_channel(4);

  list.select(2);
  ui->script_answers({MsgAnswer::Cancel});
  EXPECT_FALSE(list.delete_selected());
  EXPECT_EQ(ui->shown().back().text, "cam1 will be removed from the list");
  EXPECT_EQ(ui->shown().back().caption, "WARNING");
  EXPECT_EQ(list.count(), 9);

  ui->script_answers({MsgAnswer::Ok});
  EXPECT_TRUE(list.delete_selected());
  EXPECT_EQ(list.count(), 8);
  EXPECT_FALSE(list.scroll_buttons_visible());
  EXPECT_EQ(list.list_page(), 1);
  EXPECT_EQ(list.slot(4), nullptr);
  EXPECT_EQ(cam.channel(), 0);
  EXPECT_FALSE(cam.listed());
  EXPECT_EQ(list.camera_at(2)->name(), "cam2");  // the list closed up
  EXPECT_EQ(hooks.controls_destroyed, 1);
}

TEST_F(CameraListTest, BindResults) {
  Camera& a = add(1);
  Camera& b = add(2);
  EXPECT_EQ(list.bind(a, 3), 1);
  EXPECT_EQ(list.bind(b, 3), -1);
  EXPECT_EQ(list.bind(b, 9), 0);
  EXPECT_EQ(list.bind(b, -1), 0);
  EXPECT_EQ(list.bind(b, 0), 1);  // lowest free slot
  for (int ch = 2; ch <= kChannelCount; ++ch) {
    if (ch != 3) {
      EXPECT_EQ(list.bind(b, ch), 1);
    }
  }
  EXPECT_EQ(list.bind(a, 0), -1);
  EXPECT_EQ(list.slot(3), &a);
}

TEST_F(CameraListTest, GridPositionsAndPictureRectangles) {
  Camera& one = add(1);
  Camera& five = add(5);
  ASSERT_EQ(list.drop(one, 0), DropResult::None);
  ASSERT_EQ(list.drop(one, kChannelCount + 1), DropResult::None);
  ASSERT_EQ(list.drop(one, list.channel_of_cell(0)), DropResult::Started);  // channel 1
  list.set_grid_position(2);
  ASSERT_EQ(list.drop(five, list.channel_of_cell(2)), DropResult::Started);  // channel 5 at position 2
  EXPECT_EQ(five.channel(), 5);
  EXPECT_EQ(list.cell_of_channel(3), 0);
  EXPECT_EQ(list.cell_of_channel(6), 3);
  EXPECT_EQ(list.cell_of_channel(1), -1);
  EXPECT_EQ(list.channel_label(0), "CHANNEL 3 : ");
  EXPECT_EQ(list.channel_label(2), "CHANNEL 5 : cam5");
  EXPECT_EQ(five.picture_rect(), list.cell_rect(2));
  EXPECT_EQ(five.picture_rect(), kHeadlessCellRects[2]);
  EXPECT_EQ(one.picture_rect(), kOffWindowRect);  // still streaming, unseen
  EXPECT_TRUE(one.running());

  // Scrolling stays within positions 1 to 3 and moves the pictures along.
  list.scroll_grid(1);
  EXPECT_EQ(list.grid_position(), 3);
  list.scroll_grid(1);
  EXPECT_EQ(list.grid_position(), 3);
  EXPECT_EQ(five.picture_rect(), list.cell_rect(0));
  list.scroll_grid(-5);
  EXPECT_EQ(list.grid_position(), 1);
  EXPECT_EQ(one.picture_rect(), list.cell_rect(0));
  EXPECT_EQ(five.picture_rect(), kOffWindowRect);
  list.set_grid_position(0);
  EXPECT_EQ(list.grid_position(), 1);
  list.set_grid_position(4);
  EXPECT_EQ(list.grid_position(), 3);
}

TEST_F(CameraListTest, PicturesGoToTheCellsTheWindowGave) {
  const CellRects cells = {Rect{10, 10, 20, 20}, Rect{30, 10, 40, 20}, Rect{10, 30, 20, 40}, Rect{30, 30, 40, 40}};
  CameraList own(fakes.factory(), &hooks, {}, cells);
  own.set_drop_wait_ms(0);
  ASSERT_EQ(own.add_camera(camera_record(1)), 1);
  Camera& cam = *own.camera_at(1);
  ASSERT_EQ(own.drop(cam, 4), DropResult::Started);
  EXPECT_EQ(cam.picture_rect(), cells[3]);
  own.scroll_grid(1);  // channels 3 to 6: channel 4 in the top right cell
  EXPECT_EQ(cam.picture_rect(), cells[1]);
  // Only what is drawn is converted for a view.
  EXPECT_TRUE(cam.video().wanted());
  own.scroll_grid(1);
  EXPECT_FALSE(cam.video().wanted());
}

TEST_F(CameraListTest, DoubleClickStartsOnAFreeChannelUntilAllAreUsed) {
  for (int n = 0; n < 9; ++n) add(n);
  Camera& fifth = *list.camera_at(5);
  fifth.set_channel(5);
  for (int pos = 1; pos <= 8; ++pos) list.start_on_free_channel(*list.camera_at(pos));
  EXPECT_EQ(fifth.channel(), 5);
  EXPECT_EQ(list.slot(5), &fifth);
  EXPECT_EQ(list.camera_at(1)->channel(), 1);
  EXPECT_EQ(list.camera_at(6)->channel(), 6);
  EXPECT_TRUE(list.camera_at(8)->muted());
  EXPECT_EQ(list.camera_at(8)->output_volume(), kSilentVolume);
  EXPECT_TRUE(ui->shown().empty());
  // Every channel is taken, even the camera's own: "All View is full".
  fifth.stop();
  list.start_on_free_channel(fifth);
  list.double_click_row(list.position_of_row(7));  // camera 8, already on channel 8
  ASSERT_EQ(ui->shown().size(), 2u);
  EXPECT_EQ(ui->shown()[0].text, "All View is full");
  EXPECT_FALSE(fifth.running());
}

TEST_F(CameraListTest, DropRules) {
  Camera& a = add(1);
  Camera& b = add(2);
  ASSERT_EQ(drag_row_to_cell(0, 1), DropResult::Started);  // a on channel 2
  EXPECT_EQ(list.selected(), 1);
  EXPECT_TRUE(a.muted());

  // Onto a running camera's channel: refused, nothing changes.
  EXPECT_EQ(drag_row_to_cell(1, 1), DropResult::Refused);
  EXPECT_EQ(b.channel(), 0);
  EXPECT_EQ(list.slot(2), &a);
  EXPECT_EQ(fakes.of(b).starts, 0);

  // Onto its own channel while stopped: rebinds without an error.
  a.stop();
  EXPECT_EQ(drag_row_to_cell(0, 1), DropResult::Started);
  EXPECT_EQ(a.channel(), 2);
  EXPECT_EQ(list.slot(2), &a);

  // Onto a stopped camera's channel: it is stopped again and loses the channel.
  a.stop();
  EXPECT_EQ(drag_row_to_cell(1, 1), DropResult::Started);
  EXPECT_EQ(a.channel(), 0);
  EXPECT_EQ(b.channel(), 2);
  EXPECT_EQ(list.slot(2), &b);

  // Moving to another channel frees the old slot; a failed start leaves it stopped there.
  fakes.of(b).start_result = 6;
  EXPECT_EQ(drag_row_to_cell(1, 3), DropResult::StartFailed);
  EXPECT_EQ(list.slot(2), nullptr);
  EXPECT_EQ(b.channel(), 4);
  EXPECT_FALSE(b.running());

  // A camera that left the list cannot be dropped.
  list.select(2);
  ui->script_answers({MsgAnswer::Ok});
  ASSERT_TRUE(list.delete_selected());
  EXPECT_EQ(list.drop(b, 1), DropResult::None);
  EXPECT_EQ(list.slot(1), nullptr);
}

TEST_F(CameraListTest, DropMovesAPopupWindowWithItsCamera) {
  Camera& a = add(1);
  ASSERT_EQ(list.drop(a, 1), DropResult::Started);
  // No pop-up before the stream's header has come (no picture size yet).
  list.double_click_channel(1);
  EXPECT_FALSE(a.popup());
  fakes.of(a).header = 431;
  list.double_click_channel(2);  // an empty channel
  EXPECT_EQ(hooks.popups_opened, 0);
  list.double_click_channel(1);
  ASSERT_TRUE(a.popup());
  EXPECT_EQ(list.cell_look(0), CellLook::Popup);
  const int starts = fakes.of(a).starts;
  EXPECT_EQ(list.drop(a, list.channel_of_cell(3)), DropResult::MovedPopup);
  EXPECT_EQ(hooks.popups_closed, 1);
  EXPECT_EQ(hooks.popups_opened, 2);
  EXPECT_EQ(a.channel(), 4);
  EXPECT_EQ(fakes.of(a).starts, starts);  // the stream was not restarted
  EXPECT_EQ(list.cell_look(0), CellLook::NoCamera);
}

TEST_F(CameraListTest, PagingStopsAtPageThirteen) {
  for (int n = 0; n < 110; ++n) add(n);
  for (int i = 0; i < 20; ++i) list.page_down();
  EXPECT_EQ(list.list_page(), 13);
  auto rows = list.visible_rows();
  EXPECT_EQ(rows[0].position, 97);
  EXPECT_EQ(rows[7].position, 104);  // positions 105 and later never show
  EXPECT_EQ(rows[7].name, "cam103");
  EXPECT_EQ(list.position_of_row(7), 104);
  for (int i = 0; i < 20; ++i) list.page_up();
  EXPECT_EQ(list.list_page(), 1);
}

TEST_F(CameraListTest, AtMostOneCameraIsAudible) {
  Camera& a = add(1);
  Camera& b = add(2);
  Camera& c = add(3);
  for (Camera* cam : {&a, &b, &c}) list.start_on_free_channel(*cam);
  b.set_volume(-600);
  auto audible = [&] { return int(!a.muted()) + int(!b.muted()) + int(!c.muted()); };
  list.audio_toggle(a);
  EXPECT_EQ(audible(), 1);
  list.audio_toggle(b);
  EXPECT_EQ(audible(), 1);
  EXPECT_FALSE(b.muted());
  EXPECT_EQ(b.output_volume(), -600);
  EXPECT_EQ(a.output_volume(), kSilentVolume);
  EXPECT_TRUE(fakes.of(a).muted);  // the stream keeps it silent across reconnections
  list.audio_toggle(b);
  EXPECT_EQ(audible(), 0);

  Camera& off_channel = add(4);
  off_channel.set_muted(false);
  list.audio_toggle(off_channel);  // no channel: no toggle
  EXPECT_FALSE(off_channel.muted());
  list.make_only_audible(c, true);  // the pop-up's rule leaves cameras without a channel alone
  EXPECT_FALSE(off_channel.muted());
  list.make_only_audible(c, false);
  EXPECT_TRUE(off_channel.muted());
}

TEST_F(CameraListTest, VideoToggleAndRecordingMark) {
  Camera& a = add(1);
  a.set_channel(3);
  list.click(2, ListControl::VideoToggle);  // an empty row: nothing
  EXPECT_FALSE(a.running());
  list.click(1, ListControl::VideoToggle);
  EXPECT_TRUE(a.running());
  EXPECT_EQ(list.slot(3), &a);

  a.recording().recording_indicator = true;
  list.click(1, ListControl::VideoToggle);
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_EQ(ui->shown()[0].text, "The cam is recording now, please delete the schedule first!");
  EXPECT_EQ(ui->shown()[0].caption, "waring");
  EXPECT_TRUE(a.running());
  EXPECT_EQ(list.visible_rows()[0].mark, RecordingMark::Red);
  list.click(1, ListControl::RecordingMark);
  EXPECT_EQ(list.visible_rows()[0].mark, RecordingMark::Hidden);

  list.video_toggle(a);
  EXPECT_FALSE(a.running());
  EXPECT_EQ(list.slot(3), nullptr);
  EXPECT_EQ(a.channel(), 3);  // the channel number survives stopping
  EXPECT_EQ(list.cell_look(0), CellLook::NoCamera);
  EXPECT_EQ(list.cell_look(1), CellLook::NoCamera);
  EXPECT_EQ(list.cell_look(2), CellLook::CameraOff);
}

TEST_F(CameraListTest, AReusedPoolSlotStartsClean) {
  Camera& a = add(1);
  ASSERT_EQ(a.recording().add_entry(1, 1, 1000, 30), 1);
  a.recording().manual_request = true;
  a.set_muted(true);
  a.set_volume(-900);
  a.set_motion_settings({{1, 1, 1}, 2, 5});
  list.select(1);
  ui->script_answers({MsgAnswer::Ok});
  ASSERT_TRUE(list.delete_selected());
  Camera& b = add(2);
  ASSERT_EQ(&a, &b);
  EXPECT_TRUE(b.recording().entries().empty());
  EXPECT_FALSE(b.recording().manual_request);
  EXPECT_FALSE(b.muted());
  EXPECT_EQ(b.volume(), 0);
  EXPECT_EQ(b.motion_settings().sensitivity, 3);
  EXPECT_EQ(b.motion_settings().flags[0], 0);
  EXPECT_EQ(b.name(), "cam2");
}

}  // namespace
}  // namespace model
