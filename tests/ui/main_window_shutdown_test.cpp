// Ending the program while cameras stream and record: the main window's
// shutdown (as "Exit" runs it) leaves every recording as the stream's header
// followed by whole packets, which ffmpeg reads, param.dat saved with the
// cameras that played, and no thread of ours behind. Real cameras (camsim)
// over loopback, offscreen.
#include <gtest/gtest.h>

#include <QSystemTrayIcon>
#include <QTest>

#include <cstring>
#include <filesystem>

#include "config/test_folders.h"
#include "support/camsim.h"
#include "support/viewer_on_display.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/shell/model/camera.h"
#include "viewer/shell/ui/main_window.h"

namespace ui {
namespace {

// Names of this process's threads, for a failure message.
std::string thread_names() {
  std::string names;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string comm = test_support::read_text(task.path().string() + "/comm");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    names += comm + " ";
  }
  return names;
}

// Threads of this process, leaving out the idle workers of Qt's global
// thread pool ("Thread (pooled)"), which Qt's image scaling starts and which
// expire on their own.
int thread_count() {
  int n = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    n += test_support::read_text(task.path().string() + "/comm").rfind("Thread (pooled)", 0) != 0;
  }
  return n;
}

// Header Object (its size is the 64-bit value at byte 16), the 50-byte start
// of the Data Object, then packets of packet_size bytes, nothing else.
::testing::AssertionResult whole_packets(const std::vector<std::uint8_t>& file, std::size_t packet_size) {
  if (file.size() < 24) return ::testing::AssertionFailure() << "only " << file.size() << " bytes";
  std::uint64_t header = 0;
  std::memcpy(&header, file.data() + 16, 8);
  const std::uint64_t start = header + 50;
  if (start > file.size()) return ::testing::AssertionFailure() << "cut inside the header";
  const std::uint64_t body = file.size() - start;
  if (body == 0 || body % packet_size != 0)
    return ::testing::AssertionFailure() << body << " bytes after the header are not whole packets";
  return ::testing::AssertionSuccess();
}

TEST(MainWindowShutdown, WhileCamerasStreamAndRecord) {
  const int threads_before = thread_count();
  platform::ScopedHeadlessUi ui;
  testing_support::TempFolder folder;
  test_support::CamsimProcess camsim(
      {"--port", "0", "vga", "--camera", "0:admin:admin:qvga", "--camera", "0:admin:admin:small"});
  ASSERT_TRUE(camsim.ready()) << camsim.startup_text();
  // The third camera records on an all-day schedule; the first two are
  // recorded by hand.
  const std::string schedule = "CamSchedule=" + test_support::camsim_mac(2) + "0|1|0|1|0|1440\\\n";
  std::vector<test_support::ListedCamera> cameras;
  for (int i = 0; i < 3; ++i) cameras.push_back({"cam" + std::to_string(i + 1), camsim.port(i), i + 1, true});
  std::string text = test_support::param_dat(cameras);
  text.replace(text.find("CamSchedule=\n"), 13, schedule);
  testing_support::write_file(folder.file("param.dat"), text);

  {
    MainWindow window;
    ASSERT_TRUE(window.create(folder.path()));
    model::CameraList& list = window.cameras();
    ASSERT_EQ(list.count(), 3);
    for (int p = 1; p <= 3; ++p) {
      ASSERT_TRUE(QTest::qWaitFor([&] { return list.camera_at(p)->video_decoded(); }, 20000)) << "camera " << p;
    }
    ASSERT_EQ(window.core().record_action(*list.camera_at(1)), record::kRecordStarted);
    ASSERT_EQ(window.core().record_action(*list.camera_at(2)), record::kRecordStarted);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          return list.camera_at(1)->writer_open(record::kManualWriter) &&
                 list.camera_at(2)->writer_open(record::kManualWriter) &&
                 list.camera_at(3)->writer_open(record::kScheduleWriter);
        },
        20000));
    // While files are open the tray icon turns to its recording frames.
    const qint64 plain = window.tray_icon()->icon().cacheKey();
    window.tick_tray();
    EXPECT_NE(window.tray_icon()->icon().cacheKey(), plain);
    QTest::qWait(1500);  // some packets into each file

    window.close();  // "Exit"
    ASSERT_TRUE(window.shut_down());
    for (int p = 1; p <= 3; ++p) {
      for (int w = 0; w < 3; ++w) EXPECT_FALSE(list.camera_at(p)->writer_open(w));
      EXPECT_FALSE(list.camera_at(p)->running());
    }
  }

  // Every file: the header and whole packets, and ffmpeg reads it.
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.file("Record"))) {
    if (!entry.is_regular_file() || entry.path().extension() != ".asf") continue;
    ++files;
    const std::string path = entry.path().string();
    EXPECT_TRUE(whole_packets(test_support::read_bytes(path), 1600)) << path;
    const test_support::RunResult probe =
        test_support::run_command({"ffprobe", "-v", "error", "-show_entries", "stream=codec_type", "-of", "csv", path});
    EXPECT_EQ(probe.status, 0) << probe.err;
    EXPECT_NE(probe.out.find("video"), std::string::npos) << path;
  }
  EXPECT_GE(files, 3);
  // Saved with the cameras playing, so that they come back next time.
  const std::string saved = testing_support::read_file(folder.file("param.dat"));
  for (int i = 0; i < 3; ++i) EXPECT_NE(saved.find(test_support::camsim_mac(i)), std::string::npos);
  // No thread of the cameras, the pipelines or the loops is left.
  EXPECT_TRUE(QTest::qWaitFor([&] { return thread_count() <= threads_before; }, 5000))
      << thread_count() << " threads, " << threads_before << " before: " << thread_names();
}

}  // namespace
}  // namespace ui
