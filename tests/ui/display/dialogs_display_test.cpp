// The dialogs of the real viewer on a real X display, driven with xdotool
// as a user would: a camera added through "Test and Add" against camsim
// shows in the list and in param.dat; a schedule entry added in the
// schedule dialog is in param.dat once the dialog closes; the files dialog
// lists two recordings (one with a period trailer, one without) and plays
// the chosen one; a folder changed in the utility settings reaches
// param.dat; and the camera search finds camsim's discovery responder, the
// viewer and the camera each inside a private network namespace of their
// own, never on this machine's interfaces.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QColor>
#include <QImage>
#include <QRect>

#include <chrono>
#include <filesystem>
#include <functional>

#include "config/test_folders.h"
#include "support/camsim.h"
#include "support/netns.h"
#include "support/viewer_on_display.h"
#include "viewer/config/key_value_reader.h"
#include "viewer/record/period_trailer.h"

namespace {

using namespace test_support;
namespace fs = std::filesystem;

// The main window's panel buttons and first list row (skin coordinates).
const QPoint kAddCamera(36, 348);
const QPoint kSchedule(36, 390);
const QPoint kSavedFiles(85, 390);
const QPoint kUtility(475, 55);
const QPoint kFirstRow(50, 180);
const QRect kFirstRowName(31, 175, 53, 13);

// A dialog of the viewer on the screen, found by its title.
class DialogOnScreen {
 public:
  DialogOnScreen(const XDesktop& desktop, std::string title) : desktop_(desktop), title_(std::move(title)) {}

  bool wait(int timeout_ms = 10000) {
    return wait_until(
        [&] {
          const std::vector<unsigned long> found = desktop_.windows("^" + title_ + "$");
          if (found.empty()) return false;
          id_ = found.front();
          geometry_ = desktop_.geometry(id_);
          return geometry_.has_value() && geometry_->width > 100;
        },
        timeout_ms, 100);
  }
  bool wait_gone(int timeout_ms = 10000) const {
    return wait_until([&] { return desktop_.windows("^" + title_ + "$").empty(); }, timeout_ms, 100);
  }
  QPoint screen(QPoint p) const { return QPoint(geometry_->x + p.x(), geometry_->y + p.y()); }
  void click(QPoint p) const {
    const QPoint s = screen(p);
    desktop_.click(s.x(), s.y());
    XDesktop::pause(150);
  }
  // Clicks a line edit and replaces its text.
  void type_into(QPoint field, const std::string& text) const {
    click(field);
    desktop_.key("ctrl+a");
    (void)desktop_.xdotool({"type", "--delay", "15", text});
    XDesktop::pause(100);
  }
  QImage grab() const { return desktop_.grab().copy(geometry_->x, geometry_->y, geometry_->width, geometry_->height); }
  const XDesktop::Geometry& geometry() const { return *geometry_; }

 private:
  const XDesktop& desktop_;
  std::string title_;
  unsigned long id_ = 0;
  std::optional<XDesktop::Geometry> geometry_;
};

// The viewer's message box (its caption is the title; an empty caption
// gives the program's name), answered with its first button.
bool answer_message(const XDesktop& desktop, const std::string& caption, int timeout_ms = 15000) {
  std::optional<unsigned long> box;
  const bool shown = wait_until(
      [&] {
        for (unsigned long id : desktop.windows("^" + caption + "$")) {
          const auto g = desktop.geometry(id);
          if (g && !(g->width == ViewerOnDisplay::kWidth && g->height == ViewerOnDisplay::kHeight)) box = id;
        }
        return box.has_value();
      },
      timeout_ms, 100);
  if (!shown) return false;
  XDesktop::pause(200);
  (void)desktop.xdotool({"windowactivate", "--sync", std::to_string(*box)});
  desktop.key("Return");
  return wait_until(
      [&] { return !desktop.geometry(*box).has_value() || desktop.windows("^" + caption + "$").size() <= 1; }, 5000,
      100);
}

// How many pixels of an area differ clearly from its most common colour:
// text drawn there.
int text_pixels(const QImage& image, const QRect& area) {
  std::map<QRgb, int> counts;
  const QRect r = area & image.rect();
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) ++counts[image.pixel(x, y)];
  if (counts.empty()) return 0;
  QRgb background = counts.begin()->first;
  for (const auto& [c, n] : counts)
    if (n > counts[background]) background = c;
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) {
      const QColor a(image.pixel(x, y)), b(background);
      if (std::abs(a.lightness() - b.lightness()) > 60) ++n;
    }
  return n;
}

config::KeyValueMap saved(const std::string& folder) {
  return config::parse_key_values(read_text(folder + "/param.dat"));
}

std::string saved_key(const std::string& folder, const std::string& key) {
  const config::KeyValueMap kv = saved(folder);
  return kv.count(key) ? kv.at(key) : std::string();
}

TEST(DialogsOnDisplay, CameraAddedByTestAndAddThenAScheduleThenAFolder) {
  SKIP_WITHOUT_DISPLAY_TOOLS();
  XDesktop desktop;
  ASSERT_TRUE(desktop.ok()) << desktop.error();
  CamsimProcess camsim({"--port", "0", "--name", "Dock", "--description", "Loading bay", "--mac", "00:0e:53:00:00:07",
                        "--no-audio", "small"});
  ASSERT_TRUE(camsim.ready()) << camsim.startup_text();
  TempDir program("camviewer-program");
  write_text(program / "param.dat", "AutoPlay=0\nAutoRun=0\nRecordPath=" + (program / "Record") +
                                        "\nMotionPath=" + (program / "Motion") +
                                        "\nSnapshotPath=" + (program / "Snapshot") + "\nCamInfo=\nCamSchedule=\n");
  ViewerOnDisplay viewer(desktop, program.path());
  ASSERT_TRUE(viewer.wait_window(30000)) << desktop.tree();
  const int empty_row = text_pixels(viewer.grab_window(), kFirstRowName);

  // --- Add camera, by address, Test and Add ---
  viewer.click(kAddCamera);
  DialogOnScreen camera(desktop, "Add camera");
  ASSERT_TRUE(camera.wait()) << desktop.tree();
  EXPECT_EQ(camera.geometry().width, 440);
  // Centred on the main window.
  const auto main = viewer.geometry();
  ASSERT_TRUE(main.has_value());
  EXPECT_NEAR(camera.geometry().x + 220, main->x + 300, 3);
  EXPECT_NEAR(camera.geometry().y + 210, main->y + 224, 3);
  camera.click(QPoint(214, 62));  // "By address"
  camera.type_into(QPoint(276, 188), "127.0.0.1");
  camera.type_into(QPoint(276, 218), std::to_string(camsim.port()));
  camera.type_into(QPoint(276, 248), "admin");
  camera.type_into(QPoint(276, 278), "admin");
  camera.click(QPoint(136, 392));  // "Test and Add"
  ASSERT_TRUE(answer_message(desktop, ViewerOnDisplay::kTitle)) << "no \"Camera added\" message\n" << desktop.tree();
  camera.click(QPoint(416, 22));  // close
  ASSERT_TRUE(camera.wait_gone());
  // In param.dat at once, and in the list.
  ASSERT_TRUE(wait_until([&] { return saved_key(program.path(), "CamInfo").find("Dock|127.0.0.1|") == 0; }, 10000, 100))
      << saved_key(program.path(), "CamInfo");
  const std::string info = saved_key(program.path(), "CamInfo");
  EXPECT_NE(info.find("|" + std::to_string(camsim.port()) + "|000e53000007|Loading bay|admin|admin|"),
            std::string::npos)
      << info;
  EXPECT_TRUE(wait_until([&] { return text_pixels(viewer.grab_window(), kFirstRowName) > empty_row + 10; }, 5000, 100));

  // --- Schedule: Monday to Friday from now, for 1 hour and 3 minutes ---
  viewer.click(kFirstRow);
  viewer.click(kSchedule);
  DialogOnScreen schedule(desktop, "Scheduled recordings");
  ASSERT_TRUE(schedule.wait()) << desktop.tree();
  schedule.click(QPoint(203, 228));  // the frequency list opens at its first entry
  desktop.key("Down");
  desktop.key("Down");
  desktop.key("Return");  // the third: "Mon~Fri"
  XDesktop::pause(200);
  schedule.click(QPoint(140, 318));  // the duration's hours
  desktop.key("Up");
  schedule.click(QPoint(246, 354));  // Add
  XDesktop::pause(300);
  schedule.click(QPoint(376, 22));  // close
  ASSERT_TRUE(schedule.wait_gone());
  ASSERT_TRUE(
      wait_until([&] { return saved_key(program.path(), "CamSchedule").find("|1|") != std::string::npos; }, 10000, 100))
      << saved_key(program.path(), "CamSchedule");
  const std::string sched = saved_key(program.path(), "CamSchedule");
  // MAC and location (added by address: 1), one entry: kind 0, Monday to
  // Friday, a start time, 63 minutes.
  EXPECT_EQ(sched.rfind("000e530000071|1|0|2|", 0), 0u) << sched;
  EXPECT_NE(sched.find("|63\\"), std::string::npos) << sched;

  // --- Utility settings: another motion folder, saved ---
  viewer.click(kUtility);
  DialogOnScreen utility(desktop, "Utility Settings");
  ASSERT_TRUE(utility.wait()) << desktop.tree();
  EXPECT_EQ(utility.geometry().height, 497);
  utility.type_into(QPoint(155, 127), program / "Moved");
  utility.click(QPoint(147, 470));  // Save
  ASSERT_TRUE(utility.wait_gone());
  ASSERT_TRUE(wait_until([&] { return saved_key(program.path(), "MotionPath") == program / "Moved"; }, 10000, 100))
      << saved_key(program.path(), "MotionPath");
  EXPECT_TRUE(fs::is_directory(program / "Moved"));
  EXPECT_EQ(saved_key(program.path(), "RecordPath"), program / "Record");
}

}  // namespace

namespace {

// Which lines of an area hold light text (list rows and their header).
std::vector<bool> text_lines(const QImage& image, const QRect& area) {
  std::vector<bool> lines;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    bool any = false;
    for (int x = area.left(); x <= area.right() && !any; ++x) any = QColor(image.pixel(x, y)).lightness() > 100;
    lines.push_back(any);
  }
  return lines;
}

// The runs of lines with text: [first, last] offsets into the area. Runs
// of one or two lines are the underscores below a line of text, not text.
std::vector<std::pair<int, int>> bands(const std::vector<bool>& lines) {
  std::vector<std::pair<int, int>> out;
  for (int y = 0; y < static_cast<int>(lines.size()); ++y) {
    if (!lines[y]) continue;
    if (!out.empty() && out.back().second == y - 1)
      out.back().second = y;
    else
      out.emplace_back(y, y);
  }
  std::erase_if(out, [](const std::pair<int, int>& b) { return b.second - b.first < 2; });
  return out;
}

void write_recording(const std::string& path, bool with_trailer) {
  std::string bytes(4000, 'x');
  if (with_trailer) {
    std::uint8_t trailer[record::kPeriodTrailerSize];
    ASSERT_TRUE(record::make_period_trailer("KS2024/03/07   09:00,2024/03/07   10:00", trailer));
    bytes.append(reinterpret_cast<const char*>(trailer), sizeof trailer);
  }
  ASSERT_TRUE(write_text(path, bytes));
}

TEST(DialogsOnDisplay, FilesDialogListsTwoRecordingsAndPlaysTheChosenOne) {
  SKIP_WITHOUT_DISPLAY_TOOLS();
  XDesktop desktop;
  ASSERT_TRUE(desktop.ok()) << desktop.error();
  TempDir program("camviewer-program");
  const std::string folder = program / "Record/000e53000001";
  fs::create_directories(folder);
  write_recording(folder + "/20240307_090000.asf", true);
  write_recording(folder + "/20240307_100000.asf", false);  // the analysis tool never ran on it
  write_text(program / "param.dat", "AutoPlay=0\nAutoRun=0\nRecordPath=" + (program / "Record") +
                                        "\nMotionPath=" + (program / "Motion") +
                                        "\nSnapshotPath=" + (program / "Snapshot") + "\nCamInfo=\nCamSchedule=\n");
  // The desktop's services, standing in: a default application for the
  // recordings, and an opener that notes what it was asked to open.
  const std::string bin = desktop.file("bin");
  const std::string opened = desktop.file("opened.txt");
  ::mkdir(bin.c_str(), 0755);
  write_text(bin + "/xdg-mime", "#!/bin/sh\n[ \"$1\" = query ] && [ \"$2\" = default ] && echo fakeplayer.desktop\n");
  write_text(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + opened + "'\n");
  ::chmod((bin + "/xdg-mime").c_str(), 0755);
  ::chmod((bin + "/xdg-open").c_str(), 0755);

  ViewerOnDisplay viewer(desktop, program.path(), {"PATH=" + bin + ":" + std::getenv("PATH")});
  ASSERT_TRUE(viewer.wait_window(30000)) << desktop.tree();
  viewer.click(kSavedFiles);
  DialogOnScreen saved_files(desktop, "Saved files");
  ASSERT_TRUE(saved_files.wait()) << desktop.tree();
  EXPECT_EQ(saved_files.geometry().width, 350);
  EXPECT_EQ(saved_files.geometry().height, 259);
  saved_files.click(QPoint(174, 96));  // "Recorded Videos"
  DialogOnScreen files(desktop, "Recorded Videos");
  ASSERT_TRUE(files.wait()) << desktop.tree();

  // Columns of the list: camera 95, file 135, start 115 pixels.
  const QRect list(21, 68, 303, 148);
  const QRect file_column(list.left() + 95 + 3, list.top(), 129, list.height());
  const QRect start_column(list.left() + 95 + 135 + 3, list.top(), list.right() - (list.left() + 95 + 135 + 3),
                           list.height());
  std::vector<std::pair<int, int>> file_rows, start_rows;
  ASSERT_TRUE(wait_until(
      [&] {
        const QImage shot = files.grab();
        file_rows = bands(text_lines(shot, file_column));
        start_rows = bands(text_lines(shot, start_column));
        return file_rows.size() >= 3;
      },
      10000, 200));
  // The header and two rows; the start time only in the lower row, the
  // older recording with its trailer (the newest is listed on top).
  auto text = [](const std::vector<std::pair<int, int>>& b) {
    std::string t;
    for (auto [first, last] : b) t += std::to_string(first) + "-" + std::to_string(last) + " ";
    return t;
  };
  ASSERT_EQ(file_rows.size(), 3u) << text(file_rows);
  ASSERT_EQ(start_rows.size(), 2u) << text(start_rows);
  EXPECT_LT(start_rows[1].first, file_rows[2].second);
  EXPECT_GT(start_rows[1].second, file_rows[2].first);

  // Play on the lower row: its own file, by its full path.
  files.click(QPoint(150, list.top() + (file_rows[2].first + file_rows[2].second) / 2));
  files.click(QPoint(118, 240));  // Play
  ASSERT_TRUE(wait_until([&] { return !read_text(opened).empty(); }, 10000, 100));
  EXPECT_EQ(read_text(opened), folder + "/20240307_090000.asf");

  files.click(QPoint(310, 25));  // close
  ASSERT_TRUE(files.wait_gone());
  saved_files.click(QPoint(329, 24));
  ASSERT_TRUE(saved_files.wait_gone());
}

TEST(DialogsOnDisplay, SearchFindsTheCameraOnAPrivateNetwork) {
  SKIP_WITHOUT_DISPLAY_TOOLS();
  if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
  testnet::TestNetwork net;
  const std::string viewer_net = net.add_namespace();
  const std::string camera_net = net.add_namespace();
  if (viewer_net.empty() || camera_net.empty()) GTEST_SKIP() << "cannot create network namespaces here";
  ASSERT_TRUE(net.link(viewer_net, "192.0.2.1/24", camera_net, "192.0.2.2/24"));
  CamsimProcess camsim({"--bind", "192.0.2.2", "--discovery-port", "916", "--discovery-bind", "0.0.0.0", "--port", "0",
                        "--name", "Gate", "--description", "Main gate", "--mac", "00:0e:53:00:00:11", "small"},
                       testnet::TestNetwork::inside(camera_net, {}), std::chrono::seconds(10));
  ASSERT_TRUE(camsim.ready()) << camsim.startup_text();

  XDesktop desktop;
  ASSERT_TRUE(desktop.ok()) << desktop.error();
  TempDir program("camviewer-program");
  write_text(program / "param.dat", "AutoPlay=0\nAutoRun=0\nCamInfo=\nCamSchedule=\n");
  // The viewer inside its namespace; the display is reached through its
  // socket in the file system.
  ViewerOnDisplay viewer(desktop, program.path(), {}, testnet::TestNetwork::inside(viewer_net, {}));
  ASSERT_TRUE(viewer.wait_window(30000)) << desktop.tree() << viewer.process().output();

  viewer.click(kAddCamera);
  DialogOnScreen camera(desktop, "Add camera");
  ASSERT_TRUE(camera.wait()) << desktop.tree();
  const QRect result_list(26, 302, 388, 64);
  const int empty = text_pixels(camera.grab(), result_list);
  const auto started = std::chrono::steady_clock::now();
  camera.click(QPoint(368, 392));  // Search
  // The search listens for at least 4 seconds; then the camera is listed
  // (and chosen).
  ASSERT_TRUE(wait_until([&] { return text_pixels(camera.grab(), result_list) > empty + 20; }, 20000, 200));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(3900));
  XDesktop::pause(300);
  camera.click(QPoint(262, 392));  // Add
  ASSERT_TRUE(answer_message(desktop, ViewerOnDisplay::kTitle)) << desktop.tree();
  camera.click(QPoint(416, 22));
  ASSERT_TRUE(camera.wait_gone());
  ASSERT_TRUE(wait_until([&] { return !saved_key(program.path(), "CamInfo").empty(); }, 10000, 100));
  const std::string info = saved_key(program.path(), "CamInfo");
  EXPECT_EQ(info.rfind("Gate|192.0.2.2|80|000e53000011|Main gate|", 0), 0u) << info;
  // Location 0: found on the local network.
  std::size_t p = 0;
  for (int i = 0; i < 9; ++i) p = info.find('|', p) + 1;
  EXPECT_EQ(info.substr(p, 2), "0|") << info;
}

}  // namespace
