// Recording a real stream: camsim on loopback, the network stream feeding
// the writers, the manual loop on its thread with the real clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "record_fixtures.h"
#include "support/camsim.h"
#include "support/wait.h"
#include "viewer/net/camera_stream.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/record/manual_recording.h"

using namespace record;

namespace {

// A camera whose stream is the network client.
class StreamCamera final : public RecordingCamera {
 public:
  StreamCamera(RecordingEnv env, std::uint16_t port) : rec_(env), stream_(0, 5) {
    net::StreamSinks sinks;
    sinks.recording = &rec_;
    stream_.set_sinks(sinks);
    stream_.set_cleanup_hook([this] { rec_.on_stream_cleanup(); });
    stream_.set_account({"127.0.0.1", std::to_string(port), "admin", "secret"});
    stream_.set_retry_delay_ms(50);
  }
  ~StreamCamera() override { stream_.stop(); }

  std::string mac() const override { return "000e53000001"; }
  int location() const override { return 0; }
  CameraRecording& recording() override { return rec_; }
  bool connection_dead() override { return stream_.is_dead(); }
  std::uint32_t header_length() const override { return stream_.header_length(); }
  bool stream_connected() const override { return stream_.connected(); }
  bool stream_stopping() const override { return stream_.stopping(); }
  int start_stream() override { return stream_.start(); }
  void resume_stream() override { stream_.resume(); }
  void silence() override { stream_.set_muted(true); }
  bool motion_sample(MotionSample&) override { return false; }
  bool shown_in_popup() const override { return false; }
  void reset_record_button() override {}

  net::CameraStream& stream() { return stream_; }

 private:
  CameraRecording rec_;
  net::CameraStream stream_;
};

template <class F>
bool wait_until(F f, int ms) {
  return test_support::wait_until(f, ms, 10);
}

}  // namespace

TEST(StreamRecording, ManualRecordingOfALiveStreamAcrossAReconnection) {
  rectest::TempDir dir;
  platform::ScopedHeadlessUi ui;
  // Each connection ends after 120 packets (about three seconds of the clip).
  test_support::CamsimProcess camsim({"--port", "0", "--user", "admin", "--password", "secret", "--close-after", "120",
                                      std::string(CAMVIEWER_CLIPS_DIR) + "/vga"});
  ASSERT_TRUE(camsim.ready()) << camsim.startup_text();

  RecordingSettings s;
  s.RecordPath = dir / "Record";
  s.InstanceTime = 60;
  ASSERT_TRUE(posix_file_system().make_directory(s.RecordPath));
  SharedRecordingSettings settings(s);
  RecordingEnv env;
  StreamCamera cam(env, camsim.port());
  rectest::FakeCameraList list;
  list.cameras = {&cam};
  Notifier notifier;
  ManualRecorder manual(env, list, settings, notifier);

  ASSERT_EQ(cam.start_stream(), 1);
  ASSERT_TRUE(wait_until([&] { return cam.header_length() > 0; }, 5000));
  manual.start();
  ASSERT_EQ(manual.start_manual(cam), 1);
  const std::string dir_path = dir / "Record/000e53000001";
  // Wait for the second connection's file, then a little more of it.
  ASSERT_TRUE(wait_until([&] { return rectest::list_names(dir_path).size() >= 2; }, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  manual.stop_manual(cam);
  manual.stop();
  cam.stream().stop();

  const auto names = rectest::list_names(dir_path);
  ASSERT_GE(names.size(), 2u);
  std::vector<std::uint8_t> first_header;
  for (const auto& n : names) {
    const std::string path = dir_path + "/" + n;
    const auto file = rectest::read_file(path);
    ASSERT_GT(file.size(), 481u) << n;
    // Header Object (431 bytes for camsim) and the 50-byte Data Object start.
    const std::uint32_t header_object =
        file[16] | file[17] << 8 | file[18] << 16 | static_cast<std::uint32_t>(file[19]) << 24;
    const std::size_t header = header_object + 50;
    EXPECT_EQ(header, 481u);
    EXPECT_EQ(0, std::memcmp(&file[header_object], "\x36\x26\xb2\x75\x8e\x66\xcf\x11", 8)) << "Data Object follows";
    if (first_header.empty()) first_header.assign(file.begin(), file.begin() + static_cast<long>(header));
    EXPECT_TRUE(std::equal(first_header.begin(), first_header.end(), file.begin())) << n;
    EXPECT_EQ((file.size() - header) % 1600, 0u) << n << ": whole packets";
    EXPECT_EQ(rectest::probe_streams(path), (std::vector<std::string>{"audio:adpcm_g726", "video:mpeg4"})) << n;
    EXPECT_TRUE(rectest::decodes_cleanly(path)) << n;
    EXPECT_EQ(n.rfind("LAN_R_", 0), 0u);
  }
  EXPECT_TRUE(ui->shown().empty());
}
