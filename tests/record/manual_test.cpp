// Manual recording from start to end, in simulated time.
#include <gtest/gtest.h>

#include "loop_rig.h"
#include "viewer/record/recording_names.h"

using namespace record;
using rectest::LoopRig;

namespace {

void instance_time(LoopRig& rig, int minutes) {
  static int m;
  m = minutes;
  rig.update([](RecordingSettings& s) { s.InstanceTime = m; });
}

}  // namespace

TEST(ManualRecording, StopsJustAfterItsLength) {
  LoopRig rig;
  instance_time(rig, 5);
  rig.packet_interval_ms = 10000;  // fewer packets than the clip holds, so they play in order
  rig.set_time(2005, 4, 12, 10, 0, 0);
  rig.cam.connect(rectest::asf_clip().header);
  rig.cam.popup = true;
  ASSERT_EQ(rig.manual.record_action(rig.cam), kRecordStarted);
  EXPECT_TRUE(rig.cam.recording().recording_indicator);

  auto& rec = rig.cam.recording();
  rig.manual_until(rig.at(2005, 4, 12, 10, 10, 0), [&] { return !rec.manual_request.load(); });
  const std::int64_t stopped = rig.clock.now();
  EXPECT_GT(stopped, rig.at(2005, 4, 12, 10, 5, 0));
  EXPECT_LE(stopped, rig.at(2005, 4, 12, 10, 5, 1));
  EXPECT_FALSE(rec.recording_indicator);
  EXPECT_FALSE(rec.manual_writer().IsOpen());
  EXPECT_EQ(rig.cam.button_resets, 1);

  EXPECT_EQ(rectest::list_names(rig.record_dir()), std::vector<std::string>{"LAN_R_20050412_100000.asf"});
  const std::string path = rig.record_dir() + "/LAN_R_20050412_100000.asf";
  std::size_t packets = 0;
  ASSERT_TRUE(rectest::is_header_and_whole_packets(rectest::read_file(path), &packets));
  EXPECT_NEAR(static_cast<double>(packets), 30.0, 1.0);  // one every ten seconds for five minutes
  EXPECT_TRUE(rectest::decodes_cleanly(path));
  EXPECT_EQ(rectest::probe_streams(path), (std::vector<std::string>{"audio:adpcm_g726", "video:mpeg4"}));
}

TEST(ManualRecording, SplitsHourlyAndEndsAfter90Minutes) {
  LoopRig rig;
  instance_time(rig, 90);
  rig.packet_interval_ms = 2000;
  rig.set_time(2005, 4, 12, 10, 0, 0);
  rig.cam.connect(rectest::asf_clip().header);
  ASSERT_EQ(rig.manual.start_manual(rig.cam), 1);
  auto& rec = rig.cam.recording();
  rig.manual_until(rig.at(2005, 4, 12, 12, 0, 0), [&] { return !rec.manual_request.load(); });
  EXPECT_LE(rig.clock.now(), rig.at(2005, 4, 12, 11, 30, 1));
  EXPECT_GT(rig.clock.now(), rig.at(2005, 4, 12, 11, 30, 0));
  const auto names = rectest::list_names(rig.record_dir());
  ASSERT_EQ(names, (std::vector<std::string>{"LAN_R_20050412_100000.asf", "LAN_R_20050412_110000.asf"}));
  // The second file begins at the key frame before the split, so it repeats
  // the few packets since then; joined without them the two are the stream.
  std::vector<std::size_t> overlaps;
  ASSERT_TRUE(rig.files_follow_the_stream(rig.record_dir(), &overlaps));
  ASSERT_EQ(overlaps.size(), 1u);
  std::size_t packets[2] = {};
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(
        rectest::is_header_and_whole_packets(rectest::read_file(rig.record_dir() + "/" + names[i]), &packets[i]));
  EXPECT_NEAR(static_cast<double>(packets[0]), 1800.0, 2.0);
  EXPECT_NEAR(static_cast<double>(packets[1] - overlaps[0]), 900.0, 2.0);
  EXPECT_LT(overlaps[0], 12u);  // within one group of pictures
}

TEST(ManualRecording, LostConnectionGoesOnInANewFileCountedFromTheStart) {
  LoopRig rig;
  instance_time(rig, 5);
  rig.set_time(2005, 4, 12, 10, 0, 0);
  rig.cam.connect(rectest::asf_clip().header);
  ASSERT_EQ(rig.manual.start_manual(rig.cam), 1);
  auto& rec = rig.cam.recording();
  rig.manual_until(rig.at(2005, 4, 12, 10, 1, 0));
  rig.cam.lose_connection();
  EXPECT_FALSE(rec.manual_writer().IsOpen());
  EXPECT_FALSE(rec.recording_indicator);
  EXPECT_TRUE(rec.manual_request);  // the recording itself goes on
  rig.manual_until(rig.at(2005, 4, 12, 10, 2, 0));
  EXPECT_EQ(rectest::list_names(rig.record_dir()).size(), 1u);  // no file while the stream is away
  rig.cam.connect(rectest::asf_clip().header);
  rig.manual_until(rig.at(2005, 4, 12, 10, 10, 0), [&] { return !rec.manual_request.load(); });
  EXPECT_LE(rig.clock.now(), rig.at(2005, 4, 12, 10, 5, 1));
  EXPECT_EQ(rectest::list_names(rig.record_dir()),
            (std::vector<std::string>{"LAN_R_20050412_100000.asf", "LAN_R_20050412_100200.asf"}));
  for (const auto& n : rectest::list_names(rig.record_dir()))
    EXPECT_TRUE(rectest::is_header_and_whole_packets(rectest::read_file(rig.record_dir() + "/" + n))) << n;
}

TEST(ManualRecording, StopWhileDisconnectedStaysStopped) {
  LoopRig rig;
  instance_time(rig, 60);
  rig.set_time(2005, 4, 12, 10, 0, 0);
  rig.cam.connect(rectest::asf_clip().header);
  ASSERT_EQ(rig.manual.record_action(rig.cam), kRecordStarted);
  rig.manual_until(rig.at(2005, 4, 12, 10, 0, 30));
  rig.cam.lose_connection();
  rig.manual.stop_action(rig.cam);
  EXPECT_FALSE(rig.cam.recording().manual_request);
  rig.cam.connect(rectest::asf_clip().header);
  rig.manual_until(rig.at(2005, 4, 12, 10, 2, 0));
  EXPECT_EQ(rectest::list_names(rig.record_dir()).size(), 1u);
  EXPECT_FALSE(rig.cam.recording().manual_writer().IsOpen());
}

TEST(ManualRecording, StartFailuresAndPrefixes) {
  LoopRig rig;
  rig.set_time(2005, 4, 12, 10, 0, 0);
  rig.cam.connect(rectest::asf_clip().header);
  ASSERT_TRUE(posix_file_system().make_directory(rig.record_dir()));
  rectest::write_file(rig.record_dir() + "/LAN_R_20050412_100000.asf", {1});
  EXPECT_EQ(rig.manual.record_action(rig.cam), kRecordFailed);
  auto shown = rig.ui->shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "file name already exist!");
  EXPECT_EQ(shown[0].caption, "warning");
  EXPECT_FALSE(rig.cam.recording().manual_request);
  EXPECT_FALSE(rig.cam.recording().recording_indicator);

  // Internet cameras record "INT_R_" files; a location beyond 1 counts as
  // "INT" there and stays as it is (the camera's schedules are keyed with it).
  rig.cam.set_location(5);
  EXPECT_EQ(rig.manual.start_manual(rig.cam), 1);
  EXPECT_EQ(rig.cam.location(), 5);
  EXPECT_EQ(rig.cam.recording().manual_writer().path(), rig.record_dir() + "/INT_R_20050412_100000.asf");
  EXPECT_EQ(rig.manual.record_action(rig.cam), kRecordAlreadyRunning);
  rig.manual.stop_action(rig.cam);
  EXPECT_FALSE(rig.cam.recording().recording_indicator);
}

TEST(ManualRecording, RefusedWhileAScheduleWindowIsCurrent) {
  LoopRig rig;
  rig.set_time(2005, 4, 12, 10, 0, 0);
  rig.cam.connect(rectest::asf_clip().header);
  auto& rec = rig.cam.recording();
  ASSERT_EQ(rec.add_entry(kMotionWindow, kEveryDay, 930, 120), 1);
  rig.schedule.run_pass();  // the motion window is current, waiting for motion
  EXPECT_FALSE(rec.motion_writer().IsOpen());
  EXPECT_EQ(rig.manual.record_action(rig.cam), kRecordRefused);
  ASSERT_EQ(rig.ui->shown().size(), 1u);
  EXPECT_EQ(rig.ui->shown()[0].text, "It's recording now, please remove the schedule or motion recording first. ");
  EXPECT_FALSE(rec.manual_request);
  EXPECT_FALSE(rectest::exists(rig.record_dir()));
  // Once the user stops the window from the camera list, recording by hand works.
  rec.stop_all();
  EXPECT_EQ(rig.manual.record_action(rig.cam), kRecordStarted);
}

TEST(ManualRecording, AFailedWriteStopsTheRecordingAndIsReportedOnce) {
  LoopRig rig;
  instance_time(rig, 60);
  rig.packet_interval_ms = 100;
  rig.set_time(2005, 4, 12, 10, 0, 0);
  rig.cam.connect(rectest::asf_clip().header);
  ASSERT_EQ(rig.manual.start_manual(rig.cam), 1);
  const auto& clip = rectest::asf_clip();
  rig.fs.write_budget = static_cast<std::int64_t>(clip.header.size() + 20 * clip.packet_size + 100);
  auto& rec = rig.cam.recording();
  rig.manual_until(rig.at(2005, 4, 12, 10, 1, 0));
  EXPECT_FALSE(rec.manual_request);
  EXPECT_FALSE(rec.recording_indicator);
  const auto shown = rig.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "disk write failed, recording stopped!");
  std::size_t packets = 0;
  ASSERT_TRUE(rectest::is_header_and_whole_packets(rectest::read_file(rig.record_dir() + "/LAN_R_20050412_100000.asf"),
                                                   &packets));
  EXPECT_EQ(packets, 20u);
}
