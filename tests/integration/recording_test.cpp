// Recording through the real camera and the real loops: a manual recording
// is the connection's own header followed by its whole packets, which ffmpeg
// reads; the motion cells of a moving picture open a motion file in a motion
// window and those of a still one do not.
#include <gtest/gtest.h>

#include "integration/integration_util.h"
#include "record/record_fixtures.h"
#include "support/child_process.h"
#include "tools/camsim_process.h"
#include "viewer/record/manual_recording.h"
#include "viewer/record/motion_zones.h"

namespace integration {
namespace {

// The header camsim sends on a connection of its own: Header Object and
// Data Object start, length bytes.
std::vector<std::uint8_t> header_from_camera(int port, std::uint32_t length) {
  tooltest::Connection c(static_cast<std::uint16_t>(port));
  std::vector<std::uint8_t> header;
  if (!c.send_text(tooltest::viewer_request("admin", "admin"))) return header;
  if (c.read_head().find(" 200") == std::string::npos) return header;
  if (!c.read_exact(&header, length)) header.clear();
  return header;
}

TEST(CoreRecording, ManualRecordingIsTheStreamsHeaderAndWholePacketsFfmpegReads) {
  CoreRig rig("vga");
  ASSERT_TRUE(rig.start()) << rig.camsim->startup_text();
  model::Camera& camera = rig.camera();
  ASSERT_TRUE(rig.playing());

  ASSERT_EQ(rig.core->record_action(camera), record::kRecordStarted);
  EXPECT_TRUE(camera.recording_indicator());
  ASSERT_TRUE(wait_until([&] { return camera.writer_open(record::kManualWriter); }, 5000));
  // Long enough for a key frame (every 2 s) and the sound around it.
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  rig.core->stop_recording(camera);
  EXPECT_FALSE(camera.recording_indicator());
  EXPECT_FALSE(camera.writer_open(record::kManualWriter));

  const std::uint32_t header_length = camera.header_length();
  ASSERT_EQ(header_length, 431u + 50u);
  const std::vector<std::string> files = files_in(rig.record_folder());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(std::filesystem::path(files[0]).filename().string().rfind("LAN_R_", 0), 0u) << files[0];
  const std::vector<std::uint8_t> bytes = rectest::read_file(files[0]);
  ASSERT_GT(bytes.size(), header_length + 1600u);
  EXPECT_EQ((bytes.size() - header_length) % 1600, 0u) << bytes.size();

  const std::vector<std::uint8_t> header = header_from_camera(rig.camsim->port(), header_length);
  ASSERT_EQ(header.size(), header_length);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin())) << "the file does not start with the "
                                                                          "connection's header";

  EXPECT_EQ(rectest::probe_streams(files[0]), (std::vector<std::string>{"audio:adpcm_g726", "video:mpeg4"}));
  EXPECT_TRUE(rectest::decodes_cleanly(files[0]));
  EXPECT_TRUE(rig.ui->shown().empty());
}

// A clip whose picture never changes, with sound, as the cameras send it.
bool make_still_clip(const std::string& prefix) {
  const std::vector<std::string> ff = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
  std::vector<std::string> video = ff;
  video.insert(video.end(), {"-f",
                             "lavfi",
                             "-i",
                             "color=gray:size=320x240:rate=15",
                             "-t",
                             "4",
                             "-c:v",
                             "mpeg4",
                             "-threads",
                             "1",
                             "-bf",
                             "0",
                             "-sc_threshold",
                             "1000000000",
                             "-g",
                             "15",
                             "-b:v",
                             "100k",
                             "-flags:v",
                             "+bitexact",
                             "-fflags",
                             "+bitexact",
                             "-f",
                             "m4v",
                             prefix + ".m4v"});
  std::vector<std::string> audio = ff;
  audio.insert(audio.end(), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=8000", "-t", "4", "-ar", "8000",
                             "-ac", "1", "-c:a", "g726", "-b:a", "16k", "-f", "g726", prefix + ".g726"});
  using test_support::Stderr;
  return test_support::run_command(video, Stderr::Inherit).status == 0 &&
         test_support::run_command(audio, Stderr::Inherit).status == 0;
}

struct MotionCase {
  const char* name;
  bool moving;
};

class CoreMotion : public ::testing::TestWithParam<MotionCase> {};

TEST_P(CoreMotion, MotionNowAndTheMotionWindowFollowThePicture) {
  const bool moving = GetParam().moving;
  testing_support::TempFolder clips;
  std::string clip = "qvga";  // 320x240, a zooming picture, a key frame a second
  if (!moving) {
    clip = clips / "still";
    ASSERT_TRUE(make_still_clip(clip));
  }
  CoreRig rig(clip);
  ASSERT_TRUE(rig.start(3, all_day_motion_window())) << rig.camsim->startup_text();
  model::Camera& camera = rig.camera();
  ASSERT_TRUE(rig.playing());

  // Two key frames compared: the cells describe real change (or none).
  ASSERT_TRUE(wait_until([&] { return camera.video().motion_updates() >= 2; }, 10000));
  record::MotionSample sample;
  ASSERT_TRUE(camera.motion_sample(sample));
  EXPECT_EQ(sample.width, 320);
  EXPECT_EQ(sample.height, 240);
  EXPECT_EQ(sample.zones.sensitivity, 3);
  EXPECT_EQ(sample.zones.flags[0], 1);
  for (int level = 1; level <= 3; ++level) {
    sample.zones.sensitivity = level;
    EXPECT_EQ(record::motion_now(sample), moving) << "sensitivity " << level << ", sum " << record::motion_sum(sample);
  }

  // The schedule loop serves the current motion window: a moving picture
  // opens a motion file in MotionPath/MAC, a still one never does.
  const bool opened = wait_until([&] { return camera.writer_open(record::kMotionWriter); }, moving ? 8000 : 3000);
  EXPECT_EQ(opened, moving);
  EXPECT_EQ(camera.recording().motion_recording.load(), moving);
  if (moving) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_EQ(rig.core->shutdown(), 1);
    const std::vector<std::string> files = files_in(rig.motion_folder());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(std::filesystem::path(files[0]).extension(), ".asf");
    EXPECT_TRUE(rectest::decodes_cleanly(files[0]));
  } else {
    EXPECT_TRUE(files_in(rig.motion_folder()).empty());
  }
  EXPECT_TRUE(files_in(rig.record_folder()).empty());
}

INSTANTIATE_TEST_SUITE_P(Clips, CoreMotion, ::testing::Values(MotionCase{"Moving", true}, MotionCase{"Still", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace integration
