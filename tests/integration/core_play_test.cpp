// The application core on a param.dat naming a camsim camera: AutoPlay
// brings the camera up, its pictures reach its view, its sound clock runs,
// a snapshot is a JPEG of the picture, and shutdown is prompt and complete.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>

// libjpeg needs FILE and size_t declared first.
#include <jpeglib.h>

#include "integration/integration_util.h"
#include "record/record_fixtures.h"
#include "viewer/config/key_value_reader.h"
#include "viewer/config/settings_file.h"
#include "viewer/record/manual_recording.h"
#include "viewer/record/snapshot.h"

namespace integration {
namespace {

using std::chrono::steady_clock;

TEST(CorePlay, AutoPlayCameraShowsPicturesAndRunsItsSoundClock) {
  CoreRig rig("small");
  ASSERT_TRUE(rig.start()) << rig.camsim->startup_text();
  model::Camera& camera = rig.camera();
  EXPECT_TRUE(camera.running());
  EXPECT_EQ(rig.core->cameras().slot(1), &camera);

  ASSERT_TRUE(rig.playing()) << "no picture reached the view";
  EXPECT_EQ(camera.connected(), 1);
  EXPECT_EQ(camera.connection_state(), model::kStatePlaying);
  EXPECT_EQ(rig.view.width(), 160);
  EXPECT_EQ(rig.view.height(), 128);
  EXPECT_EQ(rig.view.missing_pixels(), 0);
  EXPECT_EQ(camera.video().frames_failed(), 0u);

  // The sound clock follows the stream's times: a second later it is
  // about a second further on (the virtual device plays in real time).
  const std::uint32_t clock_before = camera.audio().clock();
  const int shown_before = rig.view.count();
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  const std::uint32_t clock_after = camera.audio().clock();
  EXPECT_GE(clock_after, clock_before + 600) << clock_before << " -> " << clock_after;
  EXPECT_LE(clock_after, clock_before + 2400) << clock_before << " -> " << clock_after;
  // 15 pictures a second, paced against that clock.
  EXPECT_GE(rig.view.count() - shown_before, 8);
  EXPECT_LE(rig.view.count() - shown_before, 40);

  EXPECT_TRUE(rig.ui->shown().empty());
}

// libjpeg's own reading of a file: its size, or 0 x 0 when it is not a
// JPEG libjpeg decodes to the end.
struct JpegInfo {
  int width = 0;
  int height = 0;
  int components = 0;
};

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

JpegInfo decode_jpeg(const std::vector<std::uint8_t>& bytes) {
  JpegInfo info;
  jpeg_decompress_struct cinfo{};
  JpegError error{};
  cinfo.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); };
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return {};
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(cinfo.output_width) * cinfo.output_components);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&cinfo, rows, 1);
  }
  const bool clean = error.mgr.num_warnings == 0;
  jpeg_finish_decompress(&cinfo);
  if (clean)
    info = {static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), cinfo.output_components};
  jpeg_destroy_decompress(&cinfo);
  return info;
}

TEST(CorePlay, SnapshotOfAPlayingCameraIsAJpegOfThePicture) {
  CoreRig rig("qvga");
  ASSERT_TRUE(rig.start()) << rig.camsim->startup_text();
  model::Camera& camera = rig.camera();
  ASSERT_TRUE(rig.playing());

  ASSERT_EQ(rig.core->take_snapshot(camera), record::kSnapshotSaved);
  const std::vector<std::string> files = files_in(rig.snapshot_folder());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0], rig.core->recording().snapshots().last_path());
  EXPECT_EQ(files[0].substr(files[0].size() - 4), ".jpg");
  const JpegInfo info = decode_jpeg(rectest::read_file(files[0]));
  EXPECT_EQ(info.width, 320);
  EXPECT_EQ(info.height, 240);
  EXPECT_EQ(info.components, 3);

  // A stopped camera has no picture: nothing is written.
  camera.stop();
  EXPECT_EQ(rig.core->take_snapshot(camera), record::kSnapshotNone);
  EXPECT_EQ(files_in(rig.snapshot_folder()).size(), 1u);
}

TEST(CorePlay, ShutdownWhileStreamingAndRecordingIsPromptAndComplete) {
  const int threads_before = thread_count();
  CoreRig rig("small");
  ASSERT_TRUE(rig.start()) << rig.camsim->startup_text();
  model::Camera& camera = rig.camera();
  ASSERT_TRUE(rig.playing());
  ASSERT_EQ(rig.core->record_action(camera), record::kRecordStarted);
  ASSERT_TRUE(wait_until([&] { return camera.writer_open(record::kManualWriter); }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const std::uint32_t header_length = camera.header_length();
  ASSERT_GT(header_length, 0u);

  const auto t0 = steady_clock::now();
  EXPECT_EQ(rig.core->shutdown(), 1);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - t0);
  EXPECT_LT(took.count(), 3000) << "shutdown took " << took.count() << " ms";

  // Nothing runs any more, and the threads of the cameras, the loops, the
  // message box queue and the sound device are all gone.
  EXPECT_FALSE(camera.running());
  EXPECT_FALSE(camera.recording_indicator());
  for (int w = 0; w < 3; ++w) EXPECT_FALSE(camera.writer_open(w));
  EXPECT_EQ(thread_count(), threads_before);

  // param.dat: only its owner may read it, and the camera is stored as
  // playing, so the next start brings it back.
  const std::string path = config::settings_file_path(rig.folder.path());
  EXPECT_EQ(testing_support::file_mode(path), config::kSettingsFileMode);
  const auto values = config::read_key_values(path);
  ASSERT_TRUE(values.has_value());
  const auto cameras = config::parse_camera_text(values->at("CamInfo"));
  ASSERT_EQ(cameras.size(), 1u);
  EXPECT_EQ(cameras[0].connection_state, 1);
  EXPECT_EQ(cameras[0].channel, 1);
  EXPECT_EQ(cameras[0].recording, 0);

  // The recording ends on a whole packet (camsim's packets are 1600 bytes).
  const std::vector<std::string> files = files_in(rig.record_folder());
  ASSERT_EQ(files.size(), 1u);
  const auto size = std::filesystem::file_size(files[0]);
  ASSERT_GT(size, header_length);
  EXPECT_EQ((size - header_length) % 1600, 0u) << size;
  EXPECT_TRUE(rectest::decodes_cleanly(files[0]));

  // A second shutdown (the destructor's) does nothing more.
  EXPECT_EQ(rig.core->shutdown(), 1);
}

}  // namespace
}  // namespace integration
