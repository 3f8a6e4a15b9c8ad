// "param.dat" with the camera list: a file written by the program and read
// back, hand-written files, and AutoPlay, with fake connections.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "config/test_folders.h"
#include "shell/fake_connection.h"
#include "viewer/config/key_value_reader.h"
#include "viewer/config/settings_file.h"
#include "viewer/platform/autostart.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/record/recording_names.h"
#include "viewer/shell/model/settings_catalog.h"
#include "viewer/shell/model/viewer_core.h"

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
  return name + "|10.1.1.1|80|" + mac + "|d|u|p|1|" + std::to_string(channel) + "|" + std::to_string(location) + "|" +
         std::to_string(recording) + "|" + std::to_string(recording) + "|" + std::to_string(state) + "|0|" +
         std::to_string(muted) + "|-100|" + kZeros + "|0|3\\";
}

TEST(SettingsRoundTrip, AHandWrittenFileLoadsAsDocumented) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  testing_support::write_file(
      folder / "param.dat",
      "// written by hand\r\n"
      "AutoPlay=1\r\n"
      "CamInfo=" +
          cam_line("Rec", "AABBCCDDEE01", 2, 0, 1, 1, 1) +   // upper-case MAC, was recording
          cam_line("Refused", "aabbccddee02", 3, 1, 0, 4) +  // state 4 loads as 0
          cam_line("Dup", "aabbccddee01", 4, 0, 0, 0) +      // same MAC and location
          cam_line("BadMac", "aa:bb:cc:dd", 5, 0, 0, 0) +
          cam_line("Wild", "aabbccddee03", 99, 0, 0, 1) +  // channel out of range
          "Tail|h|1|aabbccddee09|d|u|p|0\r\n"              // unterminated: ignored
          "CamSchedule=AABBCCDDEE010|3|0|1|900|60|1|1|900|60\\aabbccddee021|0\\ffffffffffff0|1|0|1|1|1\\\r\n"
          "CamInfo=ignored duplicate key\r\n");
  ProgramRun run(folder.path());
  run.load();
  ASSERT_EQ(run.list.count(), 4);
  std::vector<std::string> texts;
  for (auto& m : ui->shown()) texts.push_back(m.text);
  // The lower-case MAC names the same device as the upper-case one.
  EXPECT_EQ(texts, std::vector<std::string>{"cam had already exist."});

  Camera& rec = *run.list.camera_at(1);
  EXPECT_EQ(rec.mac(), "AABBCCDDEE01");  // as stored
  EXPECT_FALSE(rec.recording_indicator());
  EXPECT_FALSE(rec.recording().motion_recording);
  EXPECT_TRUE(rec.running());
  EXPECT_EQ(run.list.slot(2), &rec);
  EXPECT_EQ(rec.output_volume(), kSilentVolume);    // muted, so silent from the start
  EXPECT_EQ(rec.recording().entries().size(), 2u);  // the count of 3 finds two entries

  Camera& refused = *run.list.camera_at(2);
  EXPECT_EQ(refused.connection_state(), 0);
  EXPECT_FALSE(refused.running());
  EXPECT_EQ(refused.channel(), 3);
  EXPECT_TRUE(refused.recording().entries().empty());

  EXPECT_EQ(run.list.camera_at(3)->mac(), "aa:bb:cc:dd");  // any form of MAC loads
  Camera& wild = *run.list.camera_at(4);
  EXPECT_EQ(wild.channel(), 0);
  EXPECT_FALSE(wild.running());  // no channel, so not reconnected

  // Saved again: the refusal is gone, the recording flags are 0.
  ASSERT_EQ(run.save(), 1);
  auto map = config::read_key_values(config::settings_file_path(folder.path()));
  ASSERT_TRUE(map.has_value());
  auto cams = config::parse_camera_text(map->at("CamInfo"));
  ASSERT_EQ(cams.size(), 4u);
  EXPECT_EQ(cams[0].recording, 0);
  EXPECT_EQ(cams[0].connection_state, 1);
  EXPECT_EQ(cams[1].connection_state, 0);
  EXPECT_EQ(cams[1].channel, 3);
}

TEST(SettingsRoundTrip, AutoPlayOffLeavesCamerasStoppedOnTheirChannels) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  testing_support::write_file(folder / "param.dat", "AutoPlay=0\nCamInfo=" + cam_line("A", "aabbccddee01", 2, 0, 0, 1) +
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

std::vector<std::string> names_starting(const TempFolder& folder, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder.path())) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0) out.push_back(name);
  }
  return out;
}

std::string mac_of(int n) {
  char mac[16];
  std::snprintf(mac, sizeof mac, "0a0b0c%06x", n);
  return mac;
}

// Seen before: a file with 300 cameras started 128 streams on 8 channels,
// showed 172 "already have 128 cameras" boxes and dropped 172 cameras from
// the file at the save; two cameras with one channel both started there.
TEST(SettingsRoundTrip, CamerasBeyondTheLimitsAreToldOnceAndKeptInACopy) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  std::string cams;
  for (int n = 0; n < 300; ++n) {
    // Cameras 0 and 1 were both playing on channel 2; camera 2 on channel 3.
    const int channel = n < 2 ? 2 : n == 2 ? 3 : n % 9;
    cams += cam_line("c" + std::to_string(n), mac_of(n), channel, 0, 0, n < 3 ? 1 : 0);
  }
  const std::string original = "AutoPlay=1\nCamInfo=" + cams + "\nCamSchedule=" + mac_of(299) + "0|1|0|1|900|60\\\n";
  testing_support::write_file(folder / "param.dat", original);
  ProgramRun run(folder.path());
  run.load();
  ASSERT_EQ(run.list.count(), kPoolSize);
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_EQ(ui->shown()[0].text,
            "172 cameras of param.dat could not be loaded: the camera list holds at most 128 cameras. The file is "
            "kept as a copy (param.dat.not-loaded-DATE-TIME) before the settings are saved.");
  Camera& first = *run.list.camera_at(1);
  Camera& second = *run.list.camera_at(2);
  EXPECT_TRUE(first.running());
  EXPECT_EQ(run.list.slot(2), &first);
  EXPECT_FALSE(second.running());  // the channel was taken
  EXPECT_EQ(second.channel(), 2);  // but the camera keeps its number
  EXPECT_EQ(run.fakes.of(second).starts, 0);
  EXPECT_EQ(run.list.slot(3), run.list.camera_at(3));
  EXPECT_TRUE(names_starting(folder, "param.dat.").empty());  // nothing written before a save

  // The first save keeps the whole original first; later ones do not copy again.
  ASSERT_EQ(run.save(), 1);
  const std::vector<std::string> kept = names_starting(folder, "param.dat.");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_TRUE(std::regex_match(kept[0], std::regex(R"(param\.dat\.not-loaded-\d{8}-\d{6})"))) << kept[0];
  EXPECT_EQ(testing_support::read_file(folder / kept[0]), original);
  auto map = config::read_key_values(config::settings_file_path(folder.path()));
  ASSERT_TRUE(map.has_value());
  EXPECT_EQ(config::parse_camera_text(map->at("CamInfo")).size(), static_cast<std::size_t>(kPoolSize));
  ASSERT_EQ(run.save(), 1);
  EXPECT_EQ(names_starting(folder, "param.dat.").size(), 1u);
  EXPECT_EQ(ui->shown().size(), 1u);
}

// Seen before: impossible schedule entries, zone values -1 (saved as 255)
// were kept and saved back; a MAC that was not 12 hexadecimal digits dropped
// its camera at load, and a location other than 0 and 1 became 0 and lost
// the camera's schedules.
TEST(SettingsRoundTrip, OddStoredValuesLoadAsTheDialogsWouldHaveThemAndIdentitiesStay) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  const std::string zones = "-1|0|7|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0";
  const std::string odd = "Odd|10.1.1.1|80|00-0E-53-00-00-01|d|u|p|1|0|2|0|0|0|0|0|-100|" + zones + "|9|3\\";
  testing_support::write_file(folder / "param.dat",
                              "AutoPlay=0\nCamInfo=" + odd + cam_line("Upper", "AABBCCDDEE01", 0, 0, 0, 0) +
                                  cam_line("Escape", "../../x", 0, 1, 0, 0) + cam_line("Empty", "", 0, 0, 0, 0) +
                                  "\nCamSchedule="
                                  "00-0E-53-00-00-012|7|0|1|900|60|0|-1|900|60|0|1|-2400|60|0|1|900|-1440|0|11|900|60|"
                                  "2|1|900|60|1|20260230|0|60\\"
                                  "AABBCCDDEE010|1|1|20261224|1800|120\\"
                                  "../../x1|1|0|3|2359|1440\\"
                                  "0|1|0|1|0|1\\\n");
  ProgramRun run(folder.path());
  run.load();
  ASSERT_EQ(run.list.count(), 4);
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_EQ(ui->shown()[0].text,
            "6 schedule entries of param.dat could not have been made in the schedule dialogs (a day, start time or "
            "duration out of range) and were not loaded.");
  Camera& c = *run.list.camera_at(1);
  EXPECT_EQ(c.mac(), "00-0E-53-00-00-01");
  EXPECT_EQ(c.location(), 2);
  ASSERT_EQ(c.recording().entries().size(), 1u);
  EXPECT_TRUE(c.recording().entries()[0].same_as(0, 1, 900, 60));
  EXPECT_EQ(c.motion_settings().flags[0], 1);
  EXPECT_EQ(c.motion_settings().flags[2], 1);
  EXPECT_EQ(c.motion_settings().layout, 0);
  EXPECT_EQ(run.list.camera_at(2)->recording().entries().size(), 1u);
  EXPECT_EQ(run.list.camera_at(3)->recording().entries().size(), 1u);
  EXPECT_EQ(run.list.camera_at(4)->recording().entries().size(), 1u);
  // Folders named after these MACs stay inside their root.
  EXPECT_EQ(record::camera_directory("/r", "00-0E-53-00-00-01"), "/r/00%2D0E%2D53%2D00%2D00%2D01");
  EXPECT_EQ(record::camera_directory("/r", "../../x"), "/r/%2E%2E%2F%2E%2E%2Fx");
  EXPECT_EQ(record::camera_directory("/r", ""), "/r/_");

  // Saved and loaded again: the same cameras and schedules, and the same file.
  ASSERT_EQ(run.save(), 1);
  const std::string saved = testing_support::read_file(folder / "param.dat");
  EXPECT_NE(saved.find("|00-0E-53-00-00-01|d|u|p|0|0|2|0|0|0|0|0|-100|1|0|1|0|0|0|0|0|0|0|"), std::string::npos);
  ProgramRun again(folder.path());
  again.load();
  EXPECT_EQ(again.catalog.camera_records(), run.catalog.camera_records());
  EXPECT_EQ(again.catalog.schedule_records(), run.catalog.schedule_records());
  ASSERT_EQ(again.save(), 1);
  EXPECT_EQ(testing_support::read_file(folder / "param.dat"), saved);

  // Editing such a camera keeps its MAC; a new MAC must follow the rule.
  CameraRecord texts = c.record();
  texts.name = "Renamed";
  EXPECT_EQ(run.list.change_camera(c, texts), 1);
  EXPECT_EQ(c.mac(), "00-0E-53-00-00-01");
  texts.mac = "00-0E-53-00-00-02";
  EXPECT_EQ(run.list.change_camera(c, texts), 0);
  EXPECT_EQ(ui->shown().back().text, "the MAC address must be 12 hexadecimal digits");
}

// Seen before: a file over the 16 MiB read cap was cut without a word and
// the cameras past the cut were gone after the save.
TEST(SettingsRoundTrip, AFileOfAnySizeIsReadWhole) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  const std::string comment = "// " + std::string(9u << 20, 'c') + "\n";
  std::string big = cam_line("Big", mac_of(2), 0, 0, 0, 0);
  big.replace(big.find("|d|"), 3, "|" + std::string(9u << 20, 'd') + "|");
  testing_support::write_file(folder / "param.dat", "AutoPlay=0\n" + comment +
                                                        "CamInfo=" + cam_line("A", mac_of(1), 0, 0, 0, 0) + big +
                                                        cam_line("C", mac_of(3), 0, 0, 0, 0) + "\n");
  ProgramRun run(folder.path());
  run.load();
  EXPECT_TRUE(ui->shown().empty());
  ASSERT_EQ(run.list.count(), 3);
  EXPECT_EQ(run.list.camera_at(2)->record().description.size(), 9u << 20);
  EXPECT_EQ(run.list.camera_at(3)->name(), "C");
  ASSERT_EQ(run.save(), 1);
  ProgramRun again(folder.path());
  again.load();
  EXPECT_EQ(again.list.count(), 3);
}

// Seen before: the autostart entry said FOLDER//ABSOLUTE/PATH/TO/PROGRAM,
// which starts nothing.
TEST(SettingsRoundTrip, TheAutostartEntryNamesTheRunningProgram) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  testing_support::write_file(folder / "param.dat", "AutoRun=1\n");
  const std::string program = platform::running_program_path();
  ASSERT_EQ(program.front(), '/');
  {
    ViewerCore core;
    ASSERT_EQ(core.start(folder.path()), 1);
    EXPECT_EQ(platform::read_start_with_session(), program);
    EXPECT_EQ(core.shutdown(), 1);
  }
  EXPECT_EQ(platform::read_start_with_session(), program);
  const std::string entry = testing_support::read_file(platform::autostart_entry_path());
  EXPECT_NE(entry.find("\nExec=" + platform::exec_value_for(program) + "\n"), std::string::npos) << entry;
  ASSERT_EQ(platform::set_start_with_session(false, ""), 1);
}

}  // namespace
}  // namespace model
