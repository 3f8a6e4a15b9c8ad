// Loading, saving and locating "param.dat" (without cameras; the camera list
// side is tested with the model in tests/shell).
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

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
             "Volume =5\r\n"           // not the key Volume
             "JpegRatio=abc\r\n"       // not a number: the default stays
             "JpegRatio=10\r\n"
             "InstanceTime=15 min\r\n" // the number at the start counts
             "AutoRun=0\r\n"
             "DiskLimit=1\r\n"
             "MaxInsSpace=-20\r\n"
             "RecordPath=" + folder.path() + "/rec // elsewhere\r\n"
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
  EXPECT_EQ(located.program_file, "test_config");  // the running program
}

}  // namespace
}  // namespace config
