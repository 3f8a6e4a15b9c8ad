// The real viewer on a real X display (Xvfb, openbox, trayer), driven with
// xdotool and looked at through screen grabs, like a user: four camsim
// cameras of still, distinct colours play in their cells; the corners
// outside the rounded shape are not the window's; dragging the body moves
// the window; a fifth camera dragged onto a cell plays there; a second start
// ends at once; Help opens our page with the desktop's handler; the tray
// icon and its menu; Minimize with and without a tray host; Exit and SIGTERM
// end the program with param.dat saved.
#include <gtest/gtest.h>

#include <signal.h>

#include <QRect>

#include <chrono>

#include "config/test_folders.h"
#include "support/camsim.h"
#include "support/viewer_on_display.h"
#include "viewer/config/key_value_reader.h"

namespace {

using namespace test_support;
using Clock = std::chrono::steady_clock;

// Skin coordinates (the window's own layout, restated here as a user sees
// the skin): the cells, a point of the body outside every control, the
// grid's track below its thumb, list rows, the buttons.
const QRect kCells[4] = {QRect(QPoint(186, 100), QPoint(361, 231)), QRect(QPoint(383, 101), QPoint(558, 232)),
                         QRect(QPoint(187, 255), QPoint(362, 385)), QRect(QPoint(383, 254), QPoint(558, 385))};
const QPoint kBody(300, 20);
const QPoint kTrackBelowThumb(585, 300);
QPoint row(int k) { return QPoint(50, 173 + 15 * k + 7); }
const QPoint kExit(567, 55);
const QPoint kMinimize(537, 55);
const QPoint kHelp(506, 55);

struct Colour {
  const char* ffmpeg;
  QColor rgb;
};
const Colour kColours[5] = {{"red", QColor(255, 0, 0)},
                            {"lime", QColor(0, 255, 0)},
                            {"blue", QColor(0, 0, 255)},
                            {"yellow", QColor(255, 255, 0)},
                            {"white", QColor(255, 255, 255)}};

// camsim with `count` still cameras of the colours above, and a program
// folder whose param.dat lists them: the first `playing` on channels 1, 2, ...
class StillCameras {
 public:
  StillCameras(int count, int playing) {
    std::vector<std::string> args = {"--port", "0"};
    for (int i = 0; i < count; ++i) {
      const std::string prefix = clips_.file(kColours[i].ffmpeg);
      made_ = make_still_clip(prefix, kColours[i].ffmpeg) && made_;
      if (i == 0) {
        args.insert(args.end(), {"--no-audio", prefix});
      } else {
        args.insert(args.end(), {"--camera", "0:admin:admin:" + prefix, "--no-audio"});
      }
    }
    if (!made_) return;
    camsim_ = std::make_unique<CamsimProcess>(args);
    if (!camsim_->ready()) return;
    std::vector<ListedCamera> list;
    for (int i = 0; i < count; ++i) {
      list.push_back({"cam" + std::to_string(i + 1), camsim_->port(static_cast<std::size_t>(i)),
                      i < playing ? i + 1 : 0, i < playing});
    }
    testing_support::write_file(folder_.file("param.dat"), param_dat(list));
  }
  bool ready() const { return made_ && camsim_ && camsim_->ready(); }
  std::string why() const { return camsim_ ? camsim_->startup_text() : "ffmpeg could not make the clips"; }
  const std::string& folder() const { return folder_.path(); }
  std::string param() const { return testing_support::read_file(folder_.file("param.dat")); }
  config::KeyValueMap saved() const { return config::parse_key_values(param()); }

 private:
  TempDir clips_{"camviewer-clips"};
  TempDir folder_{"camviewer-program"};
  bool made_ = true;
  std::unique_ptr<CamsimProcess> camsim_;
};

// The channel each camera has in param.dat's CamInfo, in list order.
std::vector<int> saved_channels(const config::KeyValueMap& kv) {
  std::vector<int> channels;
  if (!kv.count("CamInfo")) return channels;
  const std::string& text = kv.at("CamInfo");
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\\', start)) != std::string::npos; start = end + 1) {
    const std::string record = text.substr(start, end - start);
    std::size_t p = 0;
    for (int i = 0; i < 8; ++i) p = record.find('|', p) + 1;
    channels.push_back(std::atoi(record.c_str() + p));
  }
  return channels;
}

TEST(RealDisplay, FourCamerasPlayTheWindowMovesAFifthIsDroppedAndExitSaves) {
  SKIP_WITHOUT_DISPLAY_TOOLS();
  Steps step;
  XDesktop desktop;
  ASSERT_TRUE(desktop.ok()) << desktop.error();
  step("desktop");
  StillCameras cameras(5, 4);
  ASSERT_TRUE(cameras.ready()) << cameras.why();
  step("clips and camsim");
  // A stand-in for the desktop's handler of the help page.
  const std::string fake_bin = desktop.file("bin");
  const std::string opened = desktop.file("opened.txt");
  ::mkdir(fake_bin.c_str(), 0755);
  testing_support::write_file(fake_bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + opened + "'\n");
  ::chmod((fake_bin + "/xdg-open").c_str(), 0755);

  ViewerOnDisplay viewer(desktop, cameras.folder(), {"PATH=" + fake_bin + ":" + std::getenv("PATH")});
  ASSERT_TRUE(viewer.wait_window(30000)) << desktop.tree();
  step("window");

  // Each cell shows its camera's colour.
  QImage shot;
  const bool all_shown = wait_until(
      [&] {
        shot = viewer.grab_window();
        if (shot.isNull()) return false;
        for (int k = 0; k < 4; ++k) {
          if (!near_colour(mean_colour(shot, kCells[k].adjusted(20, 20, -20, -20)), kColours[k].rgb)) return false;
        }
        return true;
      },
      30000, 200);
  ASSERT_TRUE(all_shown) << "cells: " << mean_colour(shot, kCells[0]).name().toStdString() << " "
                         << mean_colour(shot, kCells[1]).name().toStdString() << " "
                         << mean_colour(shot, kCells[2]).name().toStdString() << " "
                         << mean_colour(shot, kCells[3]).name().toStdString();
  step("four pictures");

  // The corners outside the rounded shape show what lies behind the window.
  {
    const auto g = viewer.geometry();
    ASSERT_TRUE(g.has_value());
    const QImage screen = desktop.grab();
    const QColor behind = screen.pixelColor(g->x - 5, g->y + g->height / 2);
    for (QPoint corner : {QPoint(1, 1), QPoint(599, 1), QPoint(1, 446), QPoint(599, 446)}) {
      EXPECT_EQ(screen.pixelColor(g->x + corner.x(), g->y + corner.y()), behind) << corner.x() << "," << corner.y();
    }
    EXPECT_NE(screen.pixelColor(g->x + 20, g->y + 20), behind);
  }
  step("corners");

  // Dragging the body moves the window with the pointer.
  {
    const auto before = viewer.geometry();
    ASSERT_TRUE(before.has_value());
    viewer.drag(kBody, kBody + QPoint(-120, -60));
    const auto after = desktop.wait_geometry(
        viewer.window(), [&](const XDesktop::Geometry& g) { return g.x == before->x - 120 && g.y == before->y - 60; },
        5000);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->x, before->x - 120);
    EXPECT_EQ(after->y, before->y - 60);
  }
  step("window dragged");

  // The grid to channels 5 to 8, the fifth camera dragged onto the first
  // cell: it plays there, and param.dat has it on channel 5 at once.
  viewer.click(kTrackBelowThumb);
  viewer.click(kTrackBelowThumb);
  step("grid scrolled");
  viewer.drag(row(4), kCells[0].center());
  step("dragged");
  const bool fifth_shown = wait_until(
      [&] {
        shot = viewer.grab_window();
        return !shot.isNull() && near_colour(mean_colour(shot, kCells[0].adjusted(20, 20, -20, -20)), kColours[4].rgb);
      },
      20000, 200);
  EXPECT_TRUE(fifth_shown) << mean_colour(shot, kCells[0]).name().toStdString();
  EXPECT_EQ(saved_channels(cameras.saved()), (std::vector<int>{1, 2, 3, 4, 5}));
  step("fifth camera dropped");

  // A second start ends at once with 0 and leaves the first alone.
  {
    const auto t0 = Clock::now();
    const std::vector<std::string> env = viewer.env();
    const RunResult second = run_command({viewer_path(), "--folder", cameras.folder()}, Stderr::Capture, &env);
    EXPECT_EQ(second.status, 0);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
    EXPECT_TRUE(viewer.find_window().has_value());
    EXPECT_FALSE(viewer.process().exited());
  }
  step("second start");

  // Help: our page, handed to the desktop's handler.
  viewer.click(kHelp);
  ASSERT_TRUE(wait_until([&] { return !read_text(opened).empty(); }, 10000, 100));
  const std::string page = read_text(opened);
  EXPECT_NE(page.find("/help/index.html"), std::string::npos) << page;
  EXPECT_NE(read_text(page).find("Saved files"), std::string::npos);
  step("help");

  // Exit: the process ends, and param.dat is written (even after it was
  // taken away behind the program's back).
  ASSERT_EQ(std::rename((cameras.folder() + "/param.dat").c_str(), (cameras.folder() + "/param.old").c_str()), 0);
  viewer.click(kExit);
  EXPECT_EQ(viewer.wait_exit(20000), 0);
  EXPECT_EQ(saved_channels(cameras.saved()), (std::vector<int>{1, 2, 3, 4, 5}));
  step("exit");
}

// The window id of the viewer's tray icon: a window of the program inside
// the tray host's panel (the top right strip trayer occupies).
std::optional<unsigned long> tray_icon(const XDesktop& desktop) {
  const std::string tree = desktop.tree();
  std::istringstream lines(tree);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("(\"viewer\"") == std::string::npos || line.find(" 601x448") != std::string::npos) continue;
    // "  0xID "name": ("viewer" "...")  WxH+x+y  +X+Y"
    const auto plus = line.rfind(" +");
    int ax = 0, ay = 0;
    if (plus == std::string::npos || std::sscanf(line.c_str() + plus + 2, "%d+%d", &ax, &ay) != 2) continue;
    if (ay < 30 && ax >= 1100) return std::stoul(line.substr(line.find("0x")), nullptr, 16);
  }
  return std::nullopt;
}

// A visible menu of the program: a window of its own that is neither the
// main window nor the tray icon.
std::optional<unsigned long> open_menu(const XDesktop& desktop, unsigned long icon) {
  for (unsigned long id : desktop.windows_of_class("viewer")) {
    const auto g = desktop.geometry(id);
    if (id != icon && g && g->width != 601 && g->height >= 40 && g->height < 200) return id;
  }
  return std::nullopt;
}

// Clicks the tray icon and picks an entry of its menu with the keys. A
// click the icon did not take (the desktop was still busy with the window
// it just showed) is repeated, as a user would.
void tray_menu_entry(const XDesktop& desktop, unsigned long icon, const std::string& keys) {
  const auto g = desktop.geometry(icon);
  ASSERT_TRUE(g.has_value());
  std::optional<unsigned long> menu;
  for (int attempt = 0; attempt < 3 && !menu; ++attempt) {
    desktop.click(g->x + g->width / 2, g->y + g->height / 2);
    // The menu opens once the click turned out not to be a double click.
    wait_until([&] { return (menu = open_menu(desktop, icon)).has_value(); }, 3000, 100);
  }
  ASSERT_TRUE(menu.has_value()) << desktop.tree();
  XDesktop::pause(200);
  desktop.key(keys);
}

TEST(RealDisplay, TrayIconMenuAndMinimizeIntoTheTray) {
  SKIP_WITHOUT_DISPLAY_TOOLS();
  Steps step;
  XDesktop desktop;
  ASSERT_TRUE(desktop.ok()) << desktop.error();
  StillCameras cameras(1, 1);
  ASSERT_TRUE(cameras.ready()) << cameras.why();
  ViewerOnDisplay viewer(desktop, cameras.folder());
  ASSERT_TRUE(viewer.wait_window(30000)) << desktop.tree();
  step("started");

  std::optional<unsigned long> icon;
  ASSERT_TRUE(wait_until([&] { return (icon = tray_icon(desktop)).has_value(); }, 10000, 200)) << desktop.tree();

  // Minimize hides the window into the tray; a double click brings it back.
  viewer.click(kMinimize);
  ASSERT_TRUE(viewer.wait_no_window(5000));
  {
    const auto g = desktop.geometry(*icon);
    ASSERT_TRUE(g.has_value());
    desktop.click(g->x + g->width / 2, g->y + g->height / 2, 1, 2);
  }
  ASSERT_TRUE(viewer.wait_window(5000));
  step("minimized and back");

  // The menu's entries, in order: Viewer, About, Exit.
  tray_menu_entry(desktop, *icon, "Down Down Return");  // About
  const std::optional<unsigned long> about = desktop.wait_window("About Quorvan Viewer", 5000);
  ASSERT_TRUE(about.has_value()) << desktop.tree();
  desktop.key("Escape");
  EXPECT_TRUE(wait_until([&] { return desktop.windows("About Quorvan Viewer").empty(); }, 5000, 100));
  step("about");

  viewer.click(kMinimize);
  ASSERT_TRUE(viewer.wait_no_window(5000));
  tray_menu_entry(desktop, *icon, "Down Return");  // Viewer
  ASSERT_TRUE(viewer.wait_window(5000));
  step("viewer");

  tray_menu_entry(desktop, *icon, "Up Return");  // Exit, the last
  EXPECT_EQ(viewer.wait_exit(20000), 0);
  EXPECT_EQ(saved_channels(cameras.saved()), (std::vector<int>{1}));
  step("exit");
}

TEST(RealDisplay, WithoutATrayHostMinimizeMinimizesAndSigtermSaves) {
  SKIP_WITHOUT_DISPLAY_TOOLS();
  XDesktop desktop({.tray = false});
  ASSERT_TRUE(desktop.ok()) << desktop.error();
  StillCameras cameras(1, 1);
  ASSERT_TRUE(cameras.ready()) << cameras.why();
  ViewerOnDisplay viewer(desktop, cameras.folder());
  ASSERT_TRUE(viewer.wait_window(30000)) << desktop.tree();
  const unsigned long window = viewer.window();

  // Minimized, not withdrawn: the window manager keeps it, and it comes back.
  viewer.click(kMinimize);
  ASSERT_TRUE(wait_until(
      [&] {
        return desktop.run({"xprop", "-id", std::to_string(window), "WM_STATE"}).out.find("Iconic") !=
               std::string::npos;
      },
      5000, 100))
      << desktop.run({"xprop", "-id", std::to_string(window), "WM_STATE"}).out;
  (void)desktop.xdotool({"windowactivate", std::to_string(window)});
  EXPECT_TRUE(viewer.wait_window(5000));

  ASSERT_EQ(std::rename((cameras.folder() + "/param.dat").c_str(), (cameras.folder() + "/param.old").c_str()), 0);
  ::kill(viewer.process().pid(), SIGTERM);
  EXPECT_EQ(viewer.wait_exit(20000), 0);
  EXPECT_EQ(saved_channels(cameras.saved()), (std::vector<int>{1}));
}

}  // namespace
