// "param.dat" with the camera list: a file written by the program and read
// back, hand-written files, and AutoPlay, with fake connections.
#include <gtest/gtest.h>

#include "config/test_folders.h"
#include "shell/fake_connection.h"
#include "viewer/config/key_value_reader.h"
#include "viewer/config/settings_file.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/shell/model/settings_catalog.h"

namespace model {
namespace {

using testing_support::camera_record;
using testing_support::TempFolder;

// One program run: the pool, the list and the settings, as the main window holds them.
struct ProgramRun {
  explicit ProgramRun(const std::string& folder) : list(fakes.factory()), catalog(list) {
    list.set_drop_wait_ms(0);
    settings.program_folder = folder;
    settings.program_file = "viewer";
  }
  void load() { config::load_settings(settings, &catalog); }
  int save() {
    config::build_camera_texts(settings, catalog);
    return config::save_settings(settings);
  }
  testing_support::FakeConnections fakes;
  CameraList list;
  SettingsCatalog catalog;
  config::Settings settings;
};

TEST(SettingsRoundTrip, TheProgramReadsBackWhatItWrote) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  {
    ProgramRun first(folder.path());
    first.load();
    for (int n = 0; n < 4; ++n) ASSERT_EQ(first.list.add_camera(camera_record(n, n % 2)), 1);
    Camera& c0 = *first.list.camera_at(1);
    Camera& c2 = *first.list.camera_at(3);
    Camera& c3 = *first.list.camera_at(4);
    first.list.start_on_free_channel(c2);  // playing on channel 1
    c3.set_channel(6);                     // stopped, keeps its channel
    c0.set_volume(-1500);
    c2.set_volume(-300);
    first.list.make_only_audible(c2, false);
    c3.set_motion_settings({{1, 0, 1, 0, 1, 1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}, 1, 4});
    ASSERT_EQ(c0.recording().add_entry(0, 1, 830, 45), 1);
    ASSERT_EQ(c0.recording().add_entry(1, 20261224, 1800, 120), 1);
    ASSERT_EQ(c3.recording().add_entry(1, 5, 0, 1439), 1);
    first.settings.JpegRatio = 65;
    // A text the dialogs would refuse but that must survive the file anyway.
    CameraRecord odd = c0.record();
    odd.description = "a|b\\c//d";
    c0.set_texts(odd);
    ASSERT_EQ(first.save(), 1);
  }
  ProgramRun second(folder.path());
  second.load();
  EXPECT_TRUE(ui->shown().empty());
  EXPECT_EQ(second.settings.JpegRatio, 65);
  ASSERT_EQ(second.list.count(), 4);
  for (int n = 0; n < 4; ++n) {
    const Camera& c = *second.list.camera_at(n + 1);
    EXPECT_EQ(c.name(), "cam" + std::to_string(n));
    EXPECT_EQ(c.location(), n % 2);
  }
  Camera& c0 = *second.list.camera_at(1);
  Camera& c2 = *second.list.camera_at(3);
  Camera& c3 = *second.list.camera_at(4);
  EXPECT_EQ(c0.record().description, "a|b\\c//d");
  EXPECT_EQ(c0.volume(), -1500);
  EXPECT_TRUE(c0.muted());
  EXPECT_FALSE(c2.muted());
  EXPECT_EQ(c2.volume(), -300);
  // AutoPlay (default 1): the camera that was playing is reconnected and bound.
  EXPECT_TRUE(c2.running());
  EXPECT_EQ(c2.channel(), 1);
  EXPECT_EQ(second.list.slot(1), &c2);
  EXPECT_EQ(second.fakes.of(c2).account.address, "127.0.0.1");
  EXPECT_FALSE(c3.running());
  EXPECT_EQ(c3.channel(), 6);
  EXPECT_EQ(c3.motion_settings().layout, 1);
  EXPECT_EQ(c3.motion_settings().sensitivity, 4);
  EXPECT_EQ(c3.motion_settings().flags[15], 1);
  EXPECT_EQ(c3.motion_settings().flags[16], 0);
  auto e0 = c0.recording().entries();
  ASSERT_EQ(e0.size(), 2u);
  EXPECT_TRUE(e0[1].same_as(1, 20261224, 1800, 120));
  EXPECT_EQ(c3.recording().entries().size(), 1u);
  EXPECT_TRUE(second.list.camera_at(2)->recording().entries().empty());
}

constexpr const char* kZeros = "0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0";

std::string cam_line(const std::string& name, const std::string& mac, int channel, int location, int recording,
                     int state, int muted = 0) {
  return name + "|10.1.1.1|80|" + mac + "|d|u|p|1|" + std::to_string(channel) + "|" + std::to_string(location) +
         "|" + std::to_string(recording) + "|" + std::to_string(recording) + "|" + std::to_string(state) + "|0|" +
         std::to_string(muted) + "|-100|" + kZeros + "|0|3\\";
}

TEST(SettingsRoundTrip, AHandWrittenFileLoadsAsDocumented) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  testing_support::write_file(
      folder / "param.dat",
      "// written by hand\r\n"
      "AutoPlay=1\r\n"
      "CamInfo=" + cam_line("Rec", "AABBCCDDEE01", 2, 0, 1, 1, 1) +  // upper-case MAC, was recording
          cam_line("Refused", "aabbccddee02", 3, 1, 0, 4) +           // state 4 loads as 0
          cam_line("Dup", "aabbccddee01", 4, 0, 0, 0) +               // same MAC and location
          cam_line("BadMac", "aa:bb:cc:dd", 5, 0, 0, 0) +
          cam_line("Wild", "aabbccddee03", 99, 0, 0, 1) +            // channel out of range
          "Tail|h|1|aabbccddee09|d|u|p|0\r\n"                        // unterminated: ignored
      "CamSchedule=AABBCCDDEE010|3|0|1|900|60|1|1|900|60\\aabbccddee021|0\\ffffffffffff0|1|0|1|1|1\\\r\n"
      "CamInfo=ignored duplicate key\r\n");
  ProgramRun run(folder.path());
  run.load();
  ASSERT_EQ(run.list.count(), 3);
  std::vector<std::string> texts;
  for (auto& m : ui->shown()) texts.push_back(m.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"cam had already exist.", "the MAC address must be 12 hexadecimal digits"}));

  Camera& rec = *run.list.camera_at(1);
  EXPECT_EQ(rec.mac(), "aabbccddee01");
  EXPECT_FALSE(rec.recording_indicator());
  EXPECT_FALSE(rec.recording().motion_recording);
  EXPECT_TRUE(rec.running());
  EXPECT_EQ(run.list.slot(2), &rec);
  EXPECT_EQ(rec.output_volume(), kSilentVolume);  // muted, so silent from the start
  EXPECT_EQ(rec.recording().entries().size(), 2u);          // the count of 3 finds two entries

  Camera& refused = *run.list.camera_at(2);
  EXPECT_EQ(refused.connection_state(), 0);
  EXPECT_FALSE(refused.running());
  EXPECT_EQ(refused.channel(), 3);
  EXPECT_TRUE(refused.recording().entries().empty());

  Camera& wild = *run.list.camera_at(3);
  EXPECT_EQ(wild.channel(), 0);
  EXPECT_FALSE(wild.running());  // no channel, so not reconnected

  // Saved again: the refusal is gone, the recording flags are 0.
  ASSERT_EQ(run.save(), 1);
  auto map = config::read_key_values(config::settings_file_path(folder.path()));
  ASSERT_TRUE(map.has_value());
  auto cams = config::parse_camera_text(map->at("CamInfo"));
  ASSERT_EQ(cams.size(), 3u);
  EXPECT_EQ(cams[0].recording, 0);
  EXPECT_EQ(cams[0].connection_state, 1);
  EXPECT_EQ(cams[1].connection_state, 0);
  EXPECT_EQ(cams[1].channel, 3);
}

TEST(SettingsRoundTrip, AutoPlayOffLeavesCamerasStoppedOnTheirChannels) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  testing_support::write_file(folder / "param.dat", "AutoPlay=0\nCamInfo=" +
                                                        cam_line("A", "aabbccddee01", 2, 0, 0, 1) +
                                                        cam_line("B", "aabbccddee02", 7, 0, 1, 2) + "\n");
  ProgramRun run(folder.path());
  run.load();
  ASSERT_EQ(run.list.count(), 2);
  for (int pos = 1; pos <= 2; ++pos) {
    Camera& c = *run.list.camera_at(pos);
    EXPECT_FALSE(c.running());
    EXPECT_EQ(c.connection_state(), 0);
    EXPECT_EQ(c.connected(), 0);
    EXPECT_EQ(run.fakes.of(c).starts, 0);
    EXPECT_FALSE(c.recording_indicator());
  }
  EXPECT_EQ(run.list.camera_at(1)->channel(), 2);
  EXPECT_EQ(run.list.camera_at(2)->channel(), 7);
  EXPECT_EQ(run.list.slot(2), nullptr);
}

TEST(SettingsRoundTrip, EmptyListWritesEmptyValues) {
  TempFolder folder;
  ProgramRun run(folder.path());
  run.load();
  ASSERT_EQ(run.save(), 1);
  std::string text = testing_support::read_file(folder / "param.dat");
  EXPECT_NE(text.find("\nCamInfo=\nCamSchedule=\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 13), "CamSchedule=\n");
}

}  // namespace
}  // namespace model
