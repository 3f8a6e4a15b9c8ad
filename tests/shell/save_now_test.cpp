// "param.dat" written after each change the user makes, not only at exit:
// what a crash after the change leaves on disk.
#include <gtest/gtest.h>

#include "config/test_folders.h"
#include "shell/fake_connection.h"
#include "viewer/config/key_value_reader.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/shell/model/viewer_core.h"

namespace model {
namespace {

using testing_support::camera_record;
using testing_support::read_file;
using testing_support::TempFolder;

TEST(SaveNow, EachChangeIsOnDiskBeforeExit) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  testing_support::write_file(folder.file("param.dat"), "AutoPlay=0\nAutoRun=0\nJpegRatio=70\n");
  ViewerCore core;
  EXPECT_EQ(core.save_now(), 2);  // nothing loaded yet: nothing to save
  ASSERT_EQ(core.start(folder.path()), 1);

  // A camera added (unreachable, never started) and a schedule entry: both
  // in the file at once, as a crash right after would find them.
  CameraRecord r = camera_record(7);
  r.address = "127.0.0.1";
  r.port = "9";
  ASSERT_EQ(core.cameras().add_camera(r), 1);
  Camera& cam = *core.cameras().camera_at(1);
  ASSERT_EQ(cam.recording().add_entry(0, 1, 830, 45), 1);
  const std::string before = read_file(folder.file("param.dat"));
  EXPECT_EQ(before.find("cam7"), std::string::npos);
  ASSERT_EQ(core.save_now(), 1);
  const std::string text = read_file(folder.file("param.dat"));
  const config::KeyValueMap kv = config::parse_key_values(text);
  EXPECT_EQ(kv.at("JpegRatio"), "70");
  EXPECT_EQ(kv.at("CamInfo").rfind("cam7|127.0.0.1|9|00a0b0c00007|", 0), 0u) << kv.at("CamInfo");
  EXPECT_EQ(kv.at("CamSchedule"), "00a0b0c000070|1|0|1|830|45\\");

  // After the shutdown's own save there is nothing more to write.
  EXPECT_EQ(core.shutdown(), 1);
  EXPECT_EQ(core.save_now(), 2);
  EXPECT_TRUE(ui->shown().empty());
}

}  // namespace
}  // namespace model
