// The saved-files browser's rules: the walk over a recordings folder (which
// files, in which order, with which period), the rows that keep each file's
// full path, and Play, Delete and Explore with their messages, on real
// folders and a fake desktop.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "shell/fake_connection.h"
#include "support/files.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/record/period_trailer.h"
#include "viewer/shell/model/camera_list.h"
#include "viewer/shell/model/saved_files_model.h"

namespace model {
namespace {

using platform::MsgAnswer;
namespace fs = std::filesystem;

struct FakeDesktop final : FileDesktop {
  bool player = true;
  bool file_manager = true;
  std::vector<std::string> opened, shown;
  bool has_player(const std::string&) override { return player; }
  bool open_file(const std::string& path) override {
    opened.push_back(path);
    return true;
  }
  bool show_folder(const std::string& folder) override {
    if (!file_manager) return false;
    shown.push_back(folder);
    return true;
  }
};

// A recording: some bytes, and the analysis tool's trailer when given a period.
void recording(const std::string& path, const std::string& period = {}) {
  fs::create_directories(fs::path(path).parent_path());
  std::string bytes(400, 'x');
  if (!period.empty()) {
    std::uint8_t trailer[record::kPeriodTrailerSize];
    ASSERT_TRUE(record::make_period_trailer(period, trailer));
    bytes.append(reinterpret_cast<const char*>(trailer), sizeof trailer);
  }
  ASSERT_TRUE(test_support::write_text(path, bytes));
}

std::vector<SavedFileRow> walk_all(const std::string& folder) {
  std::vector<SavedFileRow> rows;
  walk_recordings(folder, [&](SavedFileRow&& r) {
    rows.push_back(std::move(r));
    return true;
  });
  return rows;
}

class SavedFilesTest : public ::testing::Test {
 protected:
  std::vector<std::string> texts() { return ui->shown_texts(); }
  platform::ScopedHeadlessUi ui;
  test_support::TempDir root;
  FakeDesktop desktop;
};

TEST_F(SavedFilesTest, WalkListsRegularAsfFilesByNameWithTheirPeriods) {
  const std::string cam_a = root / "000e53000001";
  const std::string cam_b = root / "000e53000002";
  recording(cam_a + "/20240307_090000.asf", "KS2024/03/07   09:00,2024/03/07   10:00");
  recording(cam_a + "/20240307_100000.asf");  // the analysis tool never ran
  recording(cam_b + "/old/20230101_000000.asf.bak", "KS2023/01/01   00:00,2023/01/01   00:30");
  recording(cam_b + "/notes.txt");
  recording(cam_b + "/.hidden.asf");
  recording(root / ".trash/20200101_000000.asf");
  recording(root / "top.asf");
  // Nothing that could block or loop: a FIFO, a broken link, a link to a
  // folder above; a link to a recording is a recording.
  ASSERT_EQ(::mkfifo((cam_b + "/pipe.asf").c_str(), 0600), 0);
  fs::create_symlink(root / "missing.asf", cam_b + "/broken.asf");
  fs::create_directory_symlink(root.path(), cam_b + "/loop");
  fs::create_symlink(cam_a + "/20240307_090000.asf", cam_b + "/link.asf");
  // A trailer whose first piece does not begin with "KS" gives no times.
  recording(cam_b + "/z_bad.asf");
  {
    std::string bytes(400, 'x');
    bytes += "XX2024/03/07   09:00,2024/03/07   10:00,";
    bytes.resize(450, '\0');
    ASSERT_TRUE(test_support::write_text(cam_b + "/z_bad.asf", bytes));
  }
  ASSERT_TRUE(test_support::write_text(cam_b + "/z_short.asf", "KS,"));

  const std::vector<SavedFileRow> rows = walk_all(root.path());
  std::vector<std::string> names;
  for (const auto& r : rows) names.push_back(r.camera + "/" + r.file);
  EXPECT_EQ(names, (std::vector<std::string>{"000e53000001/20240307_090000.asf", "000e53000001/20240307_100000.asf",
                                             "000e53000002/link.asf", "old/20230101_000000.asf.bak",
                                             "000e53000002/z_bad.asf", "000e53000002/z_short.asf",
                                             root.path().substr(root.path().rfind('/') + 1) + "/top.asf"}));
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0].start, "2024/03/07   09:00");
  EXPECT_EQ(rows[0].end, "2024/03/07   10:00");
  EXPECT_EQ(rows[0].path, cam_a + "/20240307_090000.asf");
  EXPECT_EQ(rows[1].start, "");
  EXPECT_EQ(rows[1].end, "");
  EXPECT_EQ(rows[3].path, cam_b + "/old/20230101_000000.asf.bak");
  EXPECT_EQ(rows[3].start, "2023/01/01   00:00");
  EXPECT_EQ(rows[4].start, "");
  EXPECT_EQ(rows[5].start, "");

  // A missing folder is an empty list; a stop ends the walk.
  EXPECT_TRUE(walk_all(root / "nothing").empty());
  int seen = 0;
  walk_recordings(root.path(), [&](SavedFileRow&&) { return ++seen < 2; });
  EXPECT_EQ(seen, 2);
  seen = 0;
  walk_recordings(
      root.path(), [&](SavedFileRow&&) { return ++seen > 0; }, [&] { return seen >= 3; });
  EXPECT_EQ(seen, 3);
}

TEST_F(SavedFilesTest, RowsShowTheNewestOnTopAndPlayTheirOwnFile) {
  // Two files of the same name in different places: each row plays its own.
  recording(root / "cam/a/same.asf");
  recording(root / "cam/b/same.asf");
  FilesModel files(root.path(), desktop);
  files.add_found(walk_all(root.path()));
  ASSERT_EQ(files.row_count(), 2);
  EXPECT_EQ(files.row(0).path, root / "cam/b/same.asf");  // found last, shown first
  EXPECT_EQ(files.row(0).camera, "b");

  EXPECT_FALSE(files.play(-1));
  EXPECT_EQ(texts().back(), "Please select a camera");
  EXPECT_EQ(ui->shown().back().caption, "warning");
  EXPECT_TRUE(desktop.opened.empty());

  EXPECT_TRUE(files.play(1));
  EXPECT_EQ(desktop.opened, std::vector<std::string>{root / "cam/a/same.asf"});

  // No application for the type: told, nothing started.
  desktop.player = false;
  EXPECT_FALSE(files.play(0));
  EXPECT_EQ(texts().back(), "Cann't find any player assoicated with asf.");
  EXPECT_EQ(ui->shown().back().caption, "");
  EXPECT_EQ(desktop.opened.size(), 1u);

  EXPECT_TRUE(files.explore());
  EXPECT_EQ(desktop.shown, std::vector<std::string>{root.path()});
  desktop.file_manager = false;
  EXPECT_FALSE(show_folder_or_tell(desktop, root / "snap"));
  EXPECT_EQ(texts().back(), "Can't find a file manager!");
}

TEST_F(SavedFilesTest, DeleteRemovesExactlyTheListedFileAfterAsking) {
  recording(root / "cam/a/same.asf");
  recording(root / "cam/b/same.asf");
  recording(root / "cam/same.asf");
  FilesModel files(root.path(), desktop);
  files.add_found(walk_all(root.path()));
  ASSERT_EQ(files.row_count(), 3);
  const std::string listed = files.row(1).path;
  ASSERT_EQ(listed, root / "cam/b/same.asf");

  EXPECT_FALSE(files.remove(-1));
  EXPECT_EQ(texts().back(), "Please select a camera");

  ui->script_answers({MsgAnswer::No});
  EXPECT_FALSE(files.remove(1));
  EXPECT_EQ(texts().back(), "file: " + listed + "  will be deleted!");
  EXPECT_EQ(ui->shown().back().caption, "warning");
  EXPECT_TRUE(fs::exists(listed));

  ui->script_answers({MsgAnswer::Yes});
  EXPECT_TRUE(files.remove(1));
  EXPECT_FALSE(fs::exists(listed));
  EXPECT_TRUE(fs::exists(root / "cam/a/same.asf"));
  EXPECT_TRUE(fs::exists(root / "cam/same.asf"));
  ASSERT_EQ(files.row_count(), 2);
  EXPECT_EQ(files.row(0).path, root / "cam/same.asf");
  EXPECT_EQ(files.row(1).path, root / "cam/a/same.asf");

  // A deletion that fails is told and the row stays (a folder now stands
  // where the listed file was).
  fs::remove(root / "cam/same.asf");
  fs::create_directories(root / "cam/same.asf/inside");
  ui->script_answers({MsgAnswer::Yes});
  EXPECT_FALSE(files.remove(0));
  EXPECT_EQ(texts().back().rfind("file: " + root / "cam/same.asf" + "  can't be deleted!", 0), 0u) << texts().back();
  EXPECT_EQ(files.row_count(), 2);

  // A file that is gone already is as good as deleted.
  fs::remove(root / "cam/a/same.asf");
  ui->script_answers({MsgAnswer::Yes});
  EXPECT_TRUE(files.remove(1));
  EXPECT_EQ(files.row_count(), 1);
}

TEST_F(SavedFilesTest, AFileACameraStillRecordsIsNotDeleted) {
  testing_support::FakeConnections fakes;
  CameraList list(fakes.factory());
  ASSERT_EQ(list.add_camera(testing_support::camera_record(1)), 1);
  fs::create_directories(root / "cam");
  record::RecordingWriter& writer = list.camera_at(1)->recording().schedule_writer();
  ASSERT_EQ(writer.Open(root / "cam/20240307_090000.asf"), 1);
  recording(root / "cam/20240307_080000.asf");

  // The same file under another spelling of its path is the same file.
  EXPECT_TRUE(file_being_recorded(list, root / "cam/./20240307_090000.asf"));
  EXPECT_FALSE(file_being_recorded(list, root / "cam/20240307_080000.asf"));

  FilesModel files(root.path(), desktop, [&list](const std::string& p) { return file_being_recorded(list, p); });
  files.add_found(walk_all(root.path()));
  ASSERT_EQ(files.row_count(), 2);
  ASSERT_EQ(files.row(0).file, "20240307_090000.asf");
  EXPECT_FALSE(files.remove(0));
  EXPECT_EQ(texts(), std::vector<std::string>{"The file is being recorded now, please stop the recording first!"});
  EXPECT_TRUE(fs::exists(root / "cam/20240307_090000.asf"));
  EXPECT_EQ(files.row_count(), 2);

  // Once the recording has ended, it can go.
  writer.Close();
  recording(root / "cam/20240307_090000.asf");  // Close dropped the empty file
  ui->script_answers({MsgAnswer::Yes});
  EXPECT_TRUE(files.remove(0));
}

}  // namespace
}  // namespace model
