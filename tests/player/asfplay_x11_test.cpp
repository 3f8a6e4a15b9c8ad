// The real asfplay on a real X server of the test's own (Xvfb with openbox),
// driven like a user with xdotool: it opens on a recording with a period
// trailer (the title says the camera folder and the period), shows the
// recording's pictures on screen exactly as decoded, pauses and plays at a
// click on its button, shows the key frame at or before the point clicked on
// its position bar, and quits on Ctrl+Q. Skipped only where Xvfb is not
// installed.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include "player/engine/recording_texts.h"
#include "player/ui/window_layout.h"
#include "player_test_util.h"

namespace {

using namespace playertest;
using test_support::ChildProcess;
using test_support::run_command;

bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// One screen picture of w x h pixels at (x, y), as RGB bytes, top row first.
std::vector<std::uint8_t> grab(const std::string& display, const TempDir& dir, int x, int y, int w, int h) {
  const std::string out = dir.file("grab.rgb");
  std::remove(out.c_str());
  const auto r =
      run_command({"env", "DISPLAY=" + display, "import", "-window", "root", "-crop",
                   std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(x) + "+" + std::to_string(y),
                   "-depth", "8", "rgb:" + out});
  EXPECT_EQ(r.status, 0) << r.err;
  return read_bytes(out);
}

// Our pictures as the screen shows them: RGB, top row first.
std::vector<std::vector<std::uint8_t>> screen_pictures(const Asf2Yuv& decoded) {
  std::vector<std::vector<std::uint8_t>> out;
  media::init_YUV2RGB_tab();
  const int w = decoded.width, h = decoded.height;
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(w) * h * 3);
  for (const auto& yuv : decoded.pictures) {
    media::ConvertYUVtoRGB(yuv.data(), bgr.data(), w, h);
    std::vector<std::uint8_t> rgb(bgr.size());
    for (int row = 0; row < h; ++row) {
      const std::uint8_t* from = bgr.data() + static_cast<std::size_t>(h - 1 - row) * w * 3;
      std::uint8_t* to = rgb.data() + static_cast<std::size_t>(row) * w * 3;
      for (int i = 0; i < w; ++i) {
        to[3 * i] = from[3 * i + 2];
        to[3 * i + 1] = from[3 * i + 1];
        to[3 * i + 2] = from[3 * i];
      }
    }
    out.push_back(std::move(rgb));
  }
  return out;
}

// The index of the decoded picture the screen shows, if any: the first of
// [from, to) that it equals (a looping clip repeats pictures).
std::optional<std::size_t> which_picture(const std::vector<std::vector<std::uint8_t>>& pictures,
                                         const std::vector<std::uint8_t>& screen, std::size_t from = 0,
                                         std::size_t to = SIZE_MAX) {
  for (std::size_t i = from; i < std::min(to, pictures.size()); ++i)
    if (pictures[i] == screen) return i;
  return std::nullopt;
}

TEST(AsfplayOnX11, ShowsTheRecordingAndAnswersClicksOnItsControls) {
  if (!on_path("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  TempDir dir("asfplay-x11");
  std::filesystem::create_directories(dir.file("rec/00a0b1c2d3e4"));
  const clipkit::Clip clip = load_clip("qvga");  // 320 x 240, a key frame every second
  const std::string file = write_clip_file(dir, "rec/00a0b1c2d3e4/LAN_20240501_100000.asf", clip, 8000);
  const Asf2Yuv decoded = run_asf2yuv(dir, file, false);
  const auto pictures = screen_pictures(decoded);
  ASSERT_EQ(pictures.size(), 200u);
  const auto tool_run = run_command({tool("asfperiod"), file + "~KS2024/05/01   10:00,2024/05/01   10:01~1"});
  ASSERT_EQ(tool_run.status, 0) << tool_run.err;

  // A display of our own: Xvfb picks a free number and says which.
  ChildProcess xvfb({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
  const std::optional<std::string> number = xvfb.next_line(20000);
  ASSERT_TRUE(number.has_value()) << "Xvfb did not start";
  const std::string display = ":" + *number;
  const std::string env = "DISPLAY=" + display;
  ChildProcess wm({"env", env, "openbox"});
  // A window mapped while the window manager is still starting may never
  // be shown: wait until it has announced itself.
  ASSERT_TRUE(wait_until(
      [&] {
        return run_command({"env", env, "xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, test_support::Stderr::Discard)
                   .out.find("window id") != std::string::npos;
      },
      20000, 50))
      << "openbox did not start " << display << " running " << wm.running()
      << " xprop: " << run_command({"env", env, "xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).err;
  ChildProcess player(
      {"env", env, std::string(CAMVIEWER_BIN_DIR) + "/asfplay", "--folder", dir.file("no-viewer-here"), file});

  std::string window;
  ASSERT_TRUE(wait_until(
      [&] {
        const auto r = run_command({"env", env, "xdotool", "search", "--onlyvisible", "--name", "asfplay"},
                                   test_support::Stderr::Discard);
        window = r.out.substr(0, r.out.find('\n'));
        return !window.empty();
      },
      20000, 100))
      << "no asfplay window";
  EXPECT_EQ(run_command({"env", env, "xdotool", "getwindowname", window}).out,
            "00a0b1c2d3e4: 2024/05/01   10:00 - 2024/05/01   10:01 - asfplay\n");

  // Where the window is, and so where its controls are.
  int x = -1, y = -1, width = 0, height = 0;
  ASSERT_TRUE(wait_until(
      [&] {
        const std::string info = run_command({"env", env, "xwininfo", "-id", window}).out;
        auto field = [&](const std::string& name) {
          const std::size_t at = info.find(name);
          return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + name.size());
        };
        x = field("Absolute upper-left X:");
        y = field("Absolute upper-left Y:");
        width = field("Width:");
        height = field("Height:");
        return width >= 480 && height > 240;
      },
      10000, 100));
  const player::ui::WindowLayout layout = player::ui::layout_for(width, height);
  const player::ui::Box video = player::ui::picture_box(layout.video, 320, 240);
  ASSERT_EQ(video.w, 320);
  auto click = [&](int cx, int cy) {
    EXPECT_EQ(
        run_command({"env", env, "xdotool", "mousemove", std::to_string(x + cx), std::to_string(y + cy), "click", "1"})
            .status,
        0);
  };
  auto screen = [&] { return grab(display, dir, x + video.x, y + video.y, video.w, video.h); };

  // It plays on its own; a click on the button pauses it on a picture of
  // the recording, which then stays.
  std::vector<std::uint8_t> shown;
  ASSERT_TRUE(wait_until([&] { return which_picture(pictures, screen()).value_or(0) > 5; }, 20000, 50))
      << "the recording is not playing on screen";
  click(layout.play.center_x(), layout.play.center_y());
  ASSERT_TRUE(wait_until(
      [&] {
        const auto a = screen();
        ::usleep(300000);
        shown = screen();
        return a == shown;
      },
      10000, 1));
  const std::optional<std::size_t> paused_on = which_picture(pictures, shown);
  ASSERT_TRUE(paused_on.has_value()) << "the screen does not show one of the recording's pictures";

  // A click on the position bar at 6.5 s shows the key frame of 6 s.
  std::int64_t duration = 0;
  {
    player::OpenError error;
    std::string reason;
    auto bytes = player::open_file_bytes(file, &error, &reason);
    player::RecordingLayout rl;
    ASSERT_EQ(player::read_layout(*bytes, &rl), player::OpenError::None);
    player::TimeBase base;
    player::probe_times(*bytes, rl, &base, &duration);
  }
  click(layout.position_bar.x + player::ui::bar_x_for(layout, 6500, duration), layout.position_bar.center_y());
  EXPECT_TRUE(wait_until([&] { return screen() == pictures[150]; }, 10000, 50)) << "the picture at 6 s is not shown";

  // Play again: the pictures move on from there.
  click(layout.play.center_x(), layout.play.center_y());
  EXPECT_TRUE(wait_until([&] { return which_picture(pictures, screen(), 155).has_value(); }, 10000, 50));

  // Ctrl+Q ends it normally (asked again should the keys reach the window
  // before the window manager has given it the focus).
  for (int attempt = 0; attempt < 5 && player.running(); ++attempt) {
    (void)run_command({"env", env, "xdotool", "windowactivate", "--sync", window}, test_support::Stderr::Discard);
    (void)run_command({"env", env, "xdotool", "key", "--clearmodifiers", "ctrl+q"});
    (void)player.wait_for_exit(std::chrono::milliseconds(2000));
  }
  EXPECT_EQ(player.stop(), 0);
}

}  // namespace
