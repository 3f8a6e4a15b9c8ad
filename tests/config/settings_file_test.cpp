// Loading, saving and locating "param.dat" (without cameras; the camera list
// side is tested with the model in tests/shell).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "config/test_folders.h"
#include "viewer/config/settings_file.h"
#include "viewer/platform/autostart.h"
#include "viewer/platform/headless/headless_ui.h"

namespace config {
namespace {

using testing_support::file_mode;
using testing_support::read_file;
using testing_support::TempFolder;
using testing_support::write_file;
namespace fs = std::filesystem;

Settings settings_in(const TempFolder& folder) {
  Settings s;
  s.program_folder = folder.path();
  s.program_file = "viewer";
  return s;
}

TEST(LoadSettings, MissingFileGivesDefaultsAndCreatesFolders) {
  TempFolder folder;
  Settings s = settings_in(folder);
  load_settings(s, nullptr);
  EXPECT_EQ(s.AutoPlay, 1);
  EXPECT_EQ(s.AutoRun, 1);
  EXPECT_EQ(s.InstanceTime, 1);
  EXPECT_EQ(s.MotionTime, 1);
  EXPECT_EQ(s.JpegRatio, 80);
  EXPECT_EQ(s.DiskLimit, 0);
  EXPECT_EQ(s.Volume, 0);
  EXPECT_EQ(s.MotionPath, folder / "Motion");
  EXPECT_EQ(s.RecordPath, folder / "Record");
  EXPECT_EQ(s.SnapshotPath, folder / "Snapshot");
  EXPECT_TRUE(fs::is_directory(s.MotionPath));
  EXPECT_TRUE(fs::is_directory(s.SnapshotPath));
  // AutoRun 1 by default: the autostart entry names the program in its folder.
  EXPECT_EQ(platform::read_start_with_session(), folder / "viewer");
}

TEST(LoadSettings, ValuesFromAHandWrittenFile) {
  TempFolder folder;
  write_file(folder / "param.dat",
             "    \r\n"
             "Volume =5\r\n"      // not the key Volume
             "JpegRatio=abc\r\n"  // not a number: the default stays
             "JpegRatio=10\r\n"
             "InstanceTime=15 min\r\n"  // the number at the start counts
             "AutoRun=0\r\n"
             "DiskLimit=1\r\n"
             "MaxInsSpace=-20\r\n"
             "RecordPath=" +
                 folder.path() +
                 "/rec // elsewhere\r\n"
                 "SnapshotPath=");
  Settings s = settings_in(folder);
  ASSERT_EQ(platform::set_start_with_session(true, "/opt/x/viewer"), 1);
  load_settings(s, nullptr);
  EXPECT_EQ(s.Volume, 0);
  EXPECT_EQ(s.JpegRatio, 80);
  EXPECT_EQ(s.InstanceTime, 15);
  EXPECT_EQ(s.DiskLimit, 1);
  EXPECT_EQ(s.MaxInsSpace, -20);
  EXPECT_EQ(s.RecordPath, folder.path() + "/rec ");
  EXPECT_FALSE(fs::exists(s.RecordPath));  // only default folders are created
  EXPECT_EQ(s.SnapshotPath, folder / "Snapshot");
  EXPECT_FALSE(platform::read_start_with_session().has_value());  // AutoRun 0 removes the entry
}

TEST(SaveSettings, WritesTheFixedLineOrderPrivately) {
  TempFolder folder;
  Settings s = settings_in(folder);
  s.Slience = 1;
  s.Volume = -2;
  s.AutoPlay = 0;
  s.AutoRun = 0;
  s.MotionPath = "/data//cams///Motion";
  s.RecordPath = "/data/Record";
  s.SnapshotPath = "/data/Snap\nshot";
  s.InstanceTime = 5;
  s.MotionTime = 10;
  s.PreMotion = 7;
  s.JpegRatio = 75;
  s.DiskLimit = 1;
  s.MaxSpace = 900;
  s.MaxMotSpace = 300;
  s.MaxInsSpace = 600;
  s.WriteStop = 1;
  write_file(folder / "param.dat", "old contents\n");
  ::chmod((folder / "param.dat").c_str(), 0644);
  ASSERT_EQ(save_settings(s), 1);
  EXPECT_EQ(read_file(folder / "param.dat"),
            "    \nSlience=1\nVolume=-2\nAutoPlay=0\nAutoRun=0\n"
            "MotionPath=/data/cams/Motion\nRecordPath=/data/Record\nSnapshotPath=/data/Snapshot\n"
            "InstanceTime=5\nMotionTime=10\nPreMotion=7\nJpegRatio=75\nDiskLimit=1\nMaxSpace=900\n"
            "MaxMotSpace=300\nMaxInsSpace=600\nWriteStop=1\nCamInfo=\nCamSchedule=\n");
  EXPECT_EQ(file_mode(folder / "param.dat"), 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);  // no temporary left
}

TEST(SaveSettings, AutoRunRewritesTheEntry) {
  TempFolder folder;
  Settings s = settings_in(folder);
  s.AutoRun = 1;
  ASSERT_EQ(save_settings(s), 1);
  EXPECT_EQ(platform::read_start_with_session(), folder / "viewer");
  s.AutoRun = 0;
  ASSERT_EQ(save_settings(s), 1);
  EXPECT_FALSE(platform::read_start_with_session().has_value());
}

// Fails the write after a given number of bytes, as a full disk does.
class FullDisk final : public FileLayer {
 public:
  explicit FullDisk(std::size_t room) : room_(room) {}
  int create_exclusive(const std::string& p, unsigned m) override { return real().create_exclusive(p, m); }
  long write_some(int fd, const char* data, std::size_t size) override {
    if (room_ == 0) {
      errno = ENOSPC;
      return -1;
    }
    std::size_t n = std::min(size, room_);
    room_ -= n;
    return real().write_some(fd, data, n);
  }
  int sync(int fd) override { return real().sync(fd); }
  int close(int fd) override { return real().close(fd); }
  int rename(const std::string& a, const std::string& b) override { return real().rename(a, b); }
  int unlink(const std::string& p) override { return real().unlink(p); }
  void sync_folder(const std::string& f) override { real().sync_folder(f); }

 private:
  static FileLayer& real() { return posix_file_layer(); }
  std::size_t room_;
};

TEST(SaveSettings, AFailedSaveKeepsTheOldFileAndSaysSo) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  write_file(folder / "param.dat", "AutoPlay=0\n");
  ASSERT_EQ(platform::set_start_with_session(true, "/opt/keep/viewer"), 1);
  Settings s = settings_in(folder);
  s.AutoRun = 0;
  FullDisk disk(20);
  EXPECT_EQ(save_settings(s, disk), 0);
  EXPECT_EQ(read_file(folder / "param.dat"), "AutoPlay=0\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_NE(ui->shown()[0].text.find("No space left"), std::string::npos);
  EXPECT_EQ(platform::read_start_with_session(), "/opt/keep/viewer");  // untouched

  // A program folder that is not a folder cannot take the file either.
  Settings nowhere = settings_in(folder);
  nowhere.program_folder = folder / "param.dat";
  EXPECT_EQ(save_settings(nowhere), 0);
  EXPECT_EQ(ui->shown().size(), 2u);
  ASSERT_EQ(platform::set_start_with_session(false, ""), 1);
}

TEST(ProgramFolder, Discovery) {
  TempFolder start;
  TempFolder other;
  ASSERT_EQ(platform::set_start_with_session(false, ""), 1);
  // Nothing at all: the start folder.
  EXPECT_EQ(discover_program_folder(start.path()), start.path());
  // No file, but an autostart entry: the folder of its program.
  ASSERT_EQ(platform::set_start_with_session(true, other / "viewer"), 1);
  EXPECT_EQ(discover_program_folder(start.path()), other.path());
  ASSERT_EQ(platform::set_start_with_session(false, ""), 1);
  // A file without MotionPath: the start folder.
  write_file(start / "param.dat", "AutoRun=1\n");
  EXPECT_EQ(discover_program_folder(start.path()), start.path());
  // MotionPath without any separator: the start folder.
  write_file(start / "param.dat", "MotionPath=Motion\n");
  EXPECT_EQ(discover_program_folder(start.path()), start.path());
  // MotionPath in a folder that holds a settings file: that folder.
  write_file(start / "param.dat", "MotionPath=" + other.path() + "/Motion\n");
  write_file(other / "param.dat", "AutoRun=1\n");
  EXPECT_EQ(discover_program_folder(start.path()), other.path());
  // A motion folder moved somewhere without settings does not move them.
  fs::remove(other / "param.dat");
  EXPECT_EQ(discover_program_folder(start.path()), start.path());

  Settings located;
  locate_program(located, start.path());
  EXPECT_EQ(located.program_folder, start.path());
  EXPECT_EQ(located.program_file, platform::running_program_path());  // the running program, absolute
  EXPECT_EQ(located.program_file.substr(located.program_file.rfind('/')), "/test_config");
}

// An installed program cannot keep its files beside itself; the user's data
// folder follows the XDG rules and never a relative path.
TEST(ProgramFolder, TheUsersDataFolder) {
  const char* saved_data = std::getenv("XDG_DATA_HOME");
  const char* saved_home = std::getenv("HOME");
  const std::string data = saved_data ? saved_data : "";
  const std::string home = saved_home ? saved_home : "";
  ::setenv("XDG_DATA_HOME", "/data/of/user", 1);
  ::setenv("HOME", "/home/user", 1);
  EXPECT_EQ(user_data_folder(), "/data/of/user/quorvan-viewer");
  ::setenv("XDG_DATA_HOME", "relative/data", 1);
  EXPECT_EQ(user_data_folder(), "/home/user/.local/share/quorvan-viewer");
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(user_data_folder(), "/home/user/.local/share/quorvan-viewer");
  ::setenv("HOME", "", 1);
  EXPECT_EQ(user_data_folder(), "");
  // A folder this user may write stays the program's folder (the build tree).
  EXPECT_EQ(default_start_folder(),
            platform::running_program_path().substr(0, platform::running_program_path().rfind('/')));
  if (saved_data) ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  if (saved_home) ::setenv("HOME", home.c_str(), 1);
}

// The files in a folder whose names start with prefix.
std::vector<std::string> names_starting(const TempFolder& folder, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder.path())) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0) out.push_back(name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Seen before: 64 KiB of binary garbage loaded as an empty default list and
// was replaced by the save at exit.
TEST(LoadSettings, AFileThatIsNotASettingsFileIsKeptAsideAndTheUserTold) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  std::string garbage(64 * 1024, '\0');
  std::uint32_t x = 12345;
  for (char& c : garbage) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  write_file(folder / "param.dat", garbage);
  Settings s = settings_in(folder);
  load_settings(s, nullptr);
  EXPECT_EQ(s.AutoPlay, 1);
  EXPECT_EQ(s.JpegRatio, 80);
  EXPECT_EQ(s.RecordPath, folder / "Record");
  const std::vector<std::string> kept = names_starting(folder, "param.dat.");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_TRUE(std::regex_match(kept[0], std::regex(R"(param\.dat\.unreadable-\d{8}-\d{6})"))) << kept[0];
  EXPECT_EQ(read_file(folder / kept[0]), garbage);
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_EQ(ui->shown()[0].text, "param.dat is not a settings file. It was kept as " + kept[0] +
                                     ", and the program starts with default settings and no cameras.");
  EXPECT_FALSE(ui->shown()[0].notice);  // at start-up, on the user-interface thread: a message box

  // The save at exit writes a new file and leaves the kept one alone.
  ASSERT_EQ(save_settings(s), 1);
  EXPECT_NE(read_file(folder / "param.dat").find("AutoPlay=1\n"), std::string::npos);
  EXPECT_EQ(read_file(folder / kept[0]), garbage);

  // Text without a single known key (someone's notes) is not a settings
  // file either; a second one on the same second gets a name of its own.
  write_file(folder / "param.dat", "camera passwords:\nfront=1234\n");
  load_settings(s, nullptr);
  EXPECT_EQ(names_starting(folder, "param.dat.").size(), 2u);
  // Something that cannot be read at all (here a folder) is moved aside too.
  fs::remove(folder / "param.dat");
  fs::create_directory(folder / "param.dat");
  load_settings(s, nullptr);
  EXPECT_EQ(names_starting(folder, "param.dat.").size(), 3u);
  EXPECT_FALSE(fs::exists(folder / "param.dat"));
  ASSERT_EQ(ui->shown().size(), 3u);
  EXPECT_EQ(ui->shown()[2].text.rfind("param.dat could not be read (", 0), 0u) << ui->shown()[2].text;

  // An empty or blank file is no loss: defaults, without a word.
  write_file(folder / "param.dat", " \r\n\n");
  load_settings(s, nullptr);
  EXPECT_EQ(names_starting(folder, "param.dat.").size(), 3u);
  EXPECT_EQ(ui->shown().size(), 3u);
  ASSERT_EQ(platform::set_start_with_session(false, ""), 1);
}

TEST(LoadSettings, AFileThatCannotBeKeptAsideIsNeverOverwritten) {
  platform::ScopedHeadlessUi ui;
  TempFolder folder;
  write_file(folder / "param.dat", std::string(100, '\0'));
  Settings s = settings_in(folder);
  if (::geteuid() != 0) {
    // A folder where nothing can be renamed.
    ::chmod(folder.path().c_str(), 0500);
    load_settings(s, nullptr);
    ::chmod(folder.path().c_str(), 0700);
    EXPECT_EQ(s.loaded_file, Settings::LoadedFile::KeepUnsaved);
    ASSERT_EQ(ui->shown().size(), 1u);
    EXPECT_NE(ui->shown()[0].text.find("will not save its settings over that file"), std::string::npos);
  } else {
    s.loaded_file = Settings::LoadedFile::KeepUnsaved;  // root renames even there
    ui->clear();
  }
  EXPECT_EQ(save_settings(s), 0);
  EXPECT_EQ(read_file(folder / "param.dat"), std::string(100, '\0'));
  EXPECT_EQ(ui->shown().back().text.rfind("The settings were not saved: param.dat could not be read", 0), 0u);
}

// Seen before: JpegRatio 2147483647, InstanceTime -5, MotionTime 0 were
// kept and saved back; keys of a newer version vanished at the save.
TEST(LoadSettings, ValuesNoDialogMakesAreBoundedAndUnknownKeysSurviveTheSave) {
  TempFolder folder;
  write_file(folder / "param.dat",
             "AutoRun=0\n"
             "NightMode=5\n"
             "JpegRatio=2147483647\n"
             "InstanceTime=-5\n"
             "MotionTime=0\n"
             "Future Key=a=b/c\n"
             "NightMode=6\n");  // a repeated key: the first counts, as for every key
  Settings s = settings_in(folder);
  load_settings(s, nullptr);
  EXPECT_EQ(s.JpegRatio, 100);
  EXPECT_EQ(s.InstanceTime, 1);
  EXPECT_EQ(s.MotionTime, 1);
  ASSERT_EQ(save_settings(s), 1);
  const std::string saved = read_file(folder / "param.dat");
  EXPECT_NE(saved.find("JpegRatio=100\n"), std::string::npos);
  EXPECT_EQ(saved.substr(saved.find("CamSchedule=")), "CamSchedule=\nNightMode=5\nFuture Key=a=b/c\n");
  // Saving what was loaded from the saved file changes nothing.
  Settings again = settings_in(folder);
  load_settings(again, nullptr);
  ASSERT_EQ(save_settings(again), 1);
  EXPECT_EQ(read_file(folder / "param.dat"), saved);

  // Values inside the dialogs' range stay, even those no list offers.
  write_file(folder / "param.dat", "InstanceTime=7\nMotionTime=60\nJpegRatio=1\n");
  load_settings(s, nullptr);
  EXPECT_EQ(s.InstanceTime, 7);
  EXPECT_EQ(s.MotionTime, 60);
  EXPECT_EQ(s.JpegRatio, 1);
}

TEST(LoadSettings, ARelativeProgramFolderBecomesAbsoluteBeforeAnyPathIsStored) {
  TempFolder folder;
  const std::string relative = fs::relative(folder.path(), fs::current_path()).string() + "/";
  ASSERT_NE(relative.front(), '/');
  Settings s;
  s.program_folder = relative;
  s.program_file = "viewer";
  load_settings(s, nullptr);
  EXPECT_EQ(s.program_folder, fs::canonical(folder.path()).string());
  EXPECT_EQ(s.RecordPath, s.program_folder + "/Record");
  EXPECT_TRUE(fs::is_directory(s.RecordPath));
  ASSERT_EQ(save_settings(s), 1);
  EXPECT_NE(read_file(folder / "param.dat").find("\nRecordPath=" + s.program_folder + "/Record\n"), std::string::npos);
  ASSERT_EQ(platform::set_start_with_session(false, ""), 1);
}

}  // namespace
}  // namespace config
