// The live path as the windows meet it: what they ask of a camera, a window
// that stalls, a message that arrives while the user-interface thread is
// busy stopping the camera that sent it, and shutdown with every camera
// streaming and recording.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "integration_util.h"
#include "record/record_fixtures.h"
#include "viewer/shell/model/net_connection.h"

namespace {

using namespace integration;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

std::string mac_of(int i) {
  char mac[16];
  std::snprintf(mac, sizeof mac, "000e530000%02x", (i + 1) & 0xFF);
  return mac;
}

// camsim cameras, one per clip (with its own options), all listed in a
// param.dat on channels 1, 2, ... and playing.
class Cameras {
 public:
  struct Camera {
    std::string clip;
    std::vector<std::string> options;
  };

  explicit Cameras(const std::vector<Camera>& cameras) {
    std::vector<std::string> args;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
      if (i == 0) {
        args.insert(args.end(), {"--port", "0", "--mac", mac_of(0)});
        args.insert(args.end(), cameras[i].options.begin(), cameras[i].options.end());
        args.push_back(cameras[i].clip);
      } else {
        args.insert(args.end(), {"--camera", "0:admin:admin:" + cameras[i].clip, "--mac", mac_of(static_cast<int>(i))});
        args.insert(args.end(), cameras[i].options.begin(), cameras[i].options.end());
      }
    }
    camsim = std::make_unique<test_support::CamsimProcess>(args);
    count = static_cast<int>(cameras.size());
  }

  bool start(int instance_minutes = 1) {
    if (!camsim->ready() || static_cast<int>(camsim->ports().size()) != count) return false;
    std::string text = "AutoPlay=1\nAutoRun=0\nInstanceTime=" + std::to_string(instance_minutes) +
                       "\nMotionTime=1\nJpegRatio=80\nCamInfo=";
    for (int i = 0; i < count; ++i)
      text += camera_record(camsim->port(static_cast<std::size_t>(i)), i + 1, 3, mac_of(i));
    testing_support::write_file(folder / "param.dat", text + "\n");
    model::ViewerCoreOptions options;
    options.stream_timeout_s = 5;
    core = std::make_unique<model::ViewerCore>(options);
    return core->start(folder.path()) == 1 && core->cameras().count() == count;
  }

  model::Camera& camera(int i) { return *core->cameras().camera_at(i + 1); }

  platform::ScopedHeadlessUi ui;
  std::unique_ptr<test_support::CamsimProcess> camsim;
  testing_support::TempFolder folder;
  int count = 0;
  std::unique_ptr<model::ViewerCore> core;
};

TEST(LivePath, WhatTheWindowsAskOfACamera) {
  Cameras rig({{"small", {}}, {"qvga", {"--no-audio"}}, {"vga", {}}});
  ASSERT_TRUE(rig.start()) << rig.camsim->startup_text();
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(wait_until([&] { return rig.camera(i).video_decoded(); }, 15000)) << "camera " << i;
  }
  // Sound only where the stream carries it; the native width of each.
  EXPECT_TRUE(rig.camera(0).has_audio());
  EXPECT_FALSE(rig.camera(1).has_audio());
  EXPECT_TRUE(rig.camera(2).has_audio());
  EXPECT_EQ(rig.camera(0).picture_width(), 160);
  EXPECT_EQ(rig.camera(1).picture_width(), 320);
  EXPECT_EQ(rig.camera(2).picture_width(), 640);
  // Channels 1 to 3 are in view: their pictures are there to draw (a frame
  // counts as decoded before it is paced and published).
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(wait_until([&] { return rig.camera(i).picture() != nullptr; }, 5000)) << "camera " << i;
    std::shared_ptr<const media::Picture> p = rig.camera(i).picture();
    EXPECT_EQ(p->width * p->scale, rig.camera(i).picture_width());
    EXPECT_EQ(p->rgb.size(), std::size_t{3} * p->width * p->height);
  }
  // A cell is 176 x 132: the 640 camera's pictures are converted at half
  // size for it, the smaller ones at their own.
  EXPECT_EQ(rig.camera(2).picture()->scale, 2);
  EXPECT_EQ(rig.camera(1).picture()->scale, 1);
  // Each connection was reported once to the refresh.
  EXPECT_TRUE(rig.camera(1).take_state_change());
  EXPECT_FALSE(rig.camera(1).take_state_change());

  // A stopped camera has decoded nothing; its next connection decodes again.
  model::Camera& qvga = rig.camera(1);
  qvga.stop();
  EXPECT_FALSE(qvga.video_decoded());
  EXPECT_EQ(qvga.picture_width(), 0);
  EXPECT_TRUE(qvga.take_state_change());
  ASSERT_EQ(qvga.start_stream(), 1);
  EXPECT_TRUE(qvga.wait_connected(5000));
  ASSERT_TRUE(wait_until([&] { return qvga.video_decoded(); }, 15000));

  // Scrolled out of view: nothing is drawn, and no RGB picture is kept.
  rig.core->cameras().set_grid_position(3);  // channels 5 to 8
  EXPECT_EQ(rig.camera(2).picture_rect(), model::kOffWindowRect);
  EXPECT_EQ(rig.camera(2).picture(), nullptr);
  rig.core->cameras().set_grid_position(1);
  ASSERT_TRUE(wait_until([&] { return rig.camera(2).picture() != nullptr; }, 3000));

  // The tray animates while a file is open, and stops with it.
  EXPECT_FALSE(rig.core->cameras().any_recording_open());
  ASSERT_EQ(rig.core->record_action(rig.camera(0)), record::kRecordStarted);
  EXPECT_TRUE(rig.core->cameras().any_recording_open());
  rig.core->stop_recording(rig.camera(0));
  EXPECT_FALSE(rig.core->cameras().any_recording_open());
  EXPECT_TRUE(rig.ui->shown().empty());
}

TEST(LivePath, AStalledWindowCostsOtherCamerasNothingAndStopsPromptly) {
  Cameras rig({{"qvga", {}}, {"qvga", {}}});
  ASSERT_TRUE(rig.start()) << rig.camsim->startup_text();
  model::Camera& stalled = rig.camera(0);
  model::Camera& other = rig.camera(1);
  ASSERT_TRUE(wait_until([&] { return stalled.picture() && other.picture(); }, 15000));

  // A window that sleeps five seconds in the middle of drawing the first
  // camera's picture.
  std::thread window([picture = stalled.picture()] { std::this_thread::sleep_for(milliseconds(5000)); });
  const std::uint64_t other0 = other.video().frames_presented();
  const std::uint64_t stalled0 = stalled.video().frames_presented();
  std::this_thread::sleep_for(milliseconds(2000));
  // The clip runs at 15 pictures a second.
  EXPECT_GE(other.video().frames_presented() - other0, 22u);
  EXPECT_GE(stalled.video().frames_presented() - stalled0, 22u);
  const auto t0 = steady_clock::now();
  stalled.stop();
  EXPECT_LT(steady_clock::now() - t0, milliseconds(500));
  window.join();
  EXPECT_EQ(other.video().frames_dropped(), 0u);
}

// A user interface whose thread never gets round to showing anything: it is
// stuck in the stop below.
class BusyUi final : public platform::UiBackend {
 public:
  platform::MsgAnswer ask(std::string_view, std::string_view, platform::MsgButtons) override {
    asked.fetch_add(1);
    return platform::MsgAnswer::Ok;
  }
  void notices_waiting() override { woken.fetch_add(1); }
  void post_to_main_window(std::uint32_t, std::uintptr_t, std::uintptr_t) override { posted.fetch_add(1); }
  std::atomic<int> asked{0}, woken{0}, posted{0};
};

TEST(LivePath, ARefusalNoticeNeverWaitsForAUserInterfaceBusyStoppingThatCamera) {
  test_support::CamsimProcess camsim({"--port", "0", "--user", "admin", "--password", "right", "qvga"});
  ASSERT_TRUE(camsim.ready()) << camsim.startup_text();
  BusyUi busy;
  platform::set_ui_backend(&busy);
  {
    model::CameraList list(model::net_connection_factory(5));
    model::CameraRecord r;
    r.name = "wrong";
    r.address = "127.0.0.1";
    r.port = std::to_string(camsim.port());
    r.mac = "000e53000001";
    r.user = "admin";
    r.password = "wrong";
    ASSERT_EQ(list.add_camera(r), 1);
    model::Camera& camera = *list.camera_at(1);
    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
      ASSERT_EQ(camera.start_stream(), 1);
      // Stop at any moment: before, during or after the refusal.
      std::this_thread::sleep_for(milliseconds(random() % 40));
      const auto t0 = steady_clock::now();
      camera.stop();
      EXPECT_LT(steady_clock::now() - t0, milliseconds(1000)) << "round " << round;
    }
  }
  // The refusals reached the board and wait there, one box for all of them.
  EXPECT_GE(busy.woken.load(), 1);
  EXPECT_EQ(platform::notices().waiting(), 1u);
  EXPECT_EQ(busy.asked.load(), 0);
  platform::set_ui_backend(nullptr);
}

TEST(LivePath, ShutdownWithEightCamerasStreamingAndRecordingIsQuickAndComplete) {
  const int threads_before = thread_count();
  std::vector<Cameras::Camera> cams(8, Cameras::Camera{"small", {}});
  auto rig = std::make_unique<Cameras>(cams);
  ASSERT_TRUE(rig->start(60)) << rig->camsim->startup_text();
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(wait_until([&] { return rig->camera(i).video_decoded(); }, 20000)) << "camera " << i;
    ASSERT_EQ(rig->core->record_action(rig->camera(i)), record::kRecordStarted) << "camera " << i;
  }
  std::this_thread::sleep_for(milliseconds(1500));
  const auto t0 = steady_clock::now();
  EXPECT_EQ(rig->core->shutdown(), 1);
  EXPECT_LT(steady_clock::now() - t0, milliseconds(2000));
  const std::string record_folder = rig->folder / "Record";
  rig->core.reset();
  EXPECT_EQ(thread_count(), threads_before);

  for (int i = 0; i < 8; ++i) {
    const std::vector<std::string> files = files_in(record_folder + "/" + mac_of(i));
    ASSERT_EQ(files.size(), 1u) << mac_of(i);
    // camsim's header with sound (431 bytes) and the Data Object's 50, then
    // whole packets of 1,600 bytes, which ffmpeg decodes.
    const std::size_t size = rectest::read_file(files[0]).size();
    EXPECT_EQ((size - 481) % 1600, 0u) << files[0] << ": " << size << " bytes";
    EXPECT_GT(size, 481u + 3 * 1600) << files[0];
    EXPECT_TRUE(rectest::decodes_cleanly(files[0]));
  }
  rig.reset();
}

}  // namespace
