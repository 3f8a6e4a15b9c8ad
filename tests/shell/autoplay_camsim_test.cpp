// AutoPlay with real streams: the settings file names cameras served by
// camsim on loopback, and loading reconnects those that were playing.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "config/test_folders.h"
#include "shell/fake_connection.h"
#include "support/camsim.h"
#include "support/loopback_server.h"
#include "support/wait.h"
#include "viewer/config/key_value_reader.h"
#include "viewer/config/settings_file.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/shell/model/net_connection.h"
#include "viewer/shell/model/settings_catalog.h"

namespace model {
namespace {

using testing_support::TempFolder;

constexpr const char* kZeros = "0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0";

std::string camera(const std::string& name, const std::string& mac, int port, const std::string& password, int channel,
                   int state) {
  return name + "|127.0.0.1|" + std::to_string(port) + "|" + mac + "|d|admin|" + password + "|1|" +
         std::to_string(channel) + "|0|1|1|" + std::to_string(state) + "|0|1|-500|" + kZeros + "|0|3\\";
}

template <class F>
bool wait_until(F&& done, int timeout_ms) {
  return test_support::wait_until(done, timeout_ms, 10);
}

class AutoPlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(camsim.ready()) << camsim.startup_text();
    const int port = camsim.port();
    file = "CamInfo=" + camera("Playing", "0a0b0c0d0e01", port, "pw", 2, 1) +
           camera("WrongPassword", "0a0b0c0d0e02", port, "nope", 3, 1) +
           camera("Stopped", "0a0b0c0d0e03", port, "pw", 4, 0) + "\n";
  }
  void load(const std::string& autoplay_line) {
    testing_support::write_file(folder / "param.dat", autoplay_line + file);
    settings.program_folder = folder.path();
    settings.program_file = "viewer";
    config::load_settings(settings, &catalog);
    ASSERT_EQ(list.count(), 3);
  }

  platform::ScopedHeadlessUi ui;
  test_support::CamsimProcess camsim{{"--port", "0", "--user", "admin", "--password", "pw", "small"}};
  TempFolder folder;
  std::string file;
  CameraList list{net_connection_factory(5)};
  SettingsCatalog catalog{list};
  config::Settings settings;
};

TEST_F(AutoPlayTest, PlayingCamerasReconnectAndBind) {
  load("AutoPlay=1\n");
  Camera& playing = *list.camera_at(1);
  Camera& refused = *list.camera_at(2);
  Camera& stopped = *list.camera_at(3);

  EXPECT_TRUE(playing.running());
  EXPECT_EQ(list.slot(2), &playing);
  EXPECT_EQ(playing.output_volume(), kSilentVolume);  // muted in the file
  EXPECT_FALSE(playing.recording_indicator());        // recording flags load as 0
  EXPECT_TRUE(wait_until([&] { return playing.connected() && playing.header_arrived(); }, 15000));
  EXPECT_EQ(playing.connection_state(), kStatePlaying);

  // The wrong account is refused by the camera: the stream tells the main
  // window, which stops the camera.
  ASSERT_TRUE(ui->wait_posted(1, 15000));
  const platform::HeadlessUi::Posted posted = ui->posted()[0];
  EXPECT_EQ(posted.msg, platform::kMsgCameraRefused);
  EXPECT_EQ(posted.lparam, refused.tag());
  ASSERT_TRUE(ui->wait_shown(1, 1000));
  EXPECT_EQ(ui->shown()[0].text, "account is error!");
  EXPECT_EQ(list.camera_refused(posted.lparam), &refused);
  EXPECT_FALSE(refused.running());
  EXPECT_EQ(refused.channel(), 3);

  EXPECT_FALSE(stopped.running());
  EXPECT_EQ(stopped.channel(), 4);
  EXPECT_EQ(list.slot(4), nullptr);

  // Saved while playing: the next start reconnects it again.
  config::build_camera_texts(settings, catalog);
  ASSERT_EQ(config::save_settings(settings), 1);
  auto map = config::read_key_values(config::settings_file_path(folder.path()));
  ASSERT_TRUE(map.has_value());
  auto cams = config::parse_camera_text(map->at("CamInfo"));
  ASSERT_EQ(cams.size(), 3u);
  EXPECT_EQ(cams[0].connection_state, 1);
  EXPECT_EQ(cams[0].connected, 1);
  EXPECT_EQ(cams[1].connection_state, 0);
  list.camera_at(1)->stop();
}

TEST_F(AutoPlayTest, AutoPlayOffConnectsNothing) {
  load("AutoPlay=0\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int position = 1; position <= 3; ++position) {
    Camera& c = *list.camera_at(position);
    EXPECT_FALSE(c.running());
    EXPECT_EQ(c.connected(), 0);
    EXPECT_EQ(c.connection_state(), kStatePaused);
    EXPECT_EQ(c.header_length(), 0u);
  }
  EXPECT_EQ(list.camera_at(1)->channel(), 2);
  EXPECT_EQ(list.camera_at(2)->channel(), 3);
  EXPECT_TRUE(ui->posted().empty());
  EXPECT_TRUE(ui->shown().empty());
}

// Seen before: a camera retrying a dead port, changed in the camera dialog's
// edit mode to a live camsim port, stayed unconnected (8 s and more) until the
// user stopped and played it. The same with a peer that takes the request and
// never answers: the attempt in progress waits out its time-out unless the
// change cancels it.
TEST(CameraEdit, ARetryingCameraUsesTheNewAddressAtItsNextAttempt) {
  platform::ScopedHeadlessUi ui;
  test_support::CamsimProcess camsim{{"--port", "0", "--user", "admin", "--password", "pw", "small"}};
  ASSERT_TRUE(camsim.ready()) << camsim.startup_text();
  testnet::LoopbackServer silent([](testnet::Conn& c, int) {
    (void)c.read_request();
    (void)c.hold();
  });
  CameraList list{net_connection_factory(30)};
  int n = 0;
  for (const std::uint16_t dead : {testnet::closed_port(), silent.port()}) {
    SCOPED_TRACE(dead == silent.port() ? "silent peer" : "closed port");
    CameraRecord r = testing_support::camera_record(++n);
    r.port = std::to_string(dead);
    r.password = "pw";
    ASSERT_EQ(list.add_camera(r), 1);
    Camera& camera = *list.camera_at(list.count());
    list.start_on_free_channel(camera);
    ASSERT_TRUE(camera.running());
    if (dead == silent.port()) {
      ASSERT_TRUE(silent.wait_connections(1, 5000));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(camera.connected(), 0);

    CameraRecord changed = camera.record();
    changed.port = std::to_string(camsim.port());
    ASSERT_EQ(list.change_camera(camera, changed), 1);
    EXPECT_TRUE(wait_until([&] { return camera.connected() == 1; }, 5000));
    camera.stop();
  }
  EXPECT_TRUE(ui->shown().empty());
}

}  // namespace
}  // namespace model
