// The viewer program on an XDesktop, as a user meets it: started on a
// program folder, its main window found by name and size, clicked and
// dragged at the skin's own coordinates, and looked at through screen grabs.
// Also still clips for camsim (one solid colour each) and a param.dat of
// camsim cameras, so that what a cell must show is known exactly.
//
// Shared by the real-display tests of the main window, the pop-up windows
// and the dialogs.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/files.h"
#include "support/wait.h"
#include "support/x_desktop.h"

namespace test_support {

inline std::string viewer_path() { return std::string(CAMVIEWER_BIN_DIR) + "/viewer"; }

// A clip of `seconds` seconds showing one colour (an ffmpeg colour name or
// 0xRRGGBB), at prefix.m4v, encoded as camsim wants its clips. Every frame
// is a key frame at the finest quantiser: a still picture then sends some
// 50 kB a second, as a camera does, and the first frame that arrives is
// already the whole picture. False when ffmpeg could not make it.
inline bool make_still_clip(const std::string& prefix, const std::string& colour, int width = 640, int height = 480,
                            int seconds = 1) {
  const std::string source =
      "color=c=" + colour + ":s=" + std::to_string(width) + "x" + std::to_string(height) + ":r=15";
  return run_quiet({"ffmpeg",
                    "-hide_banner",
                    "-loglevel",
                    "error",
                    "-nostdin",
                    "-y",
                    "-f",
                    "lavfi",
                    "-i",
                    source,
                    "-t",
                    std::to_string(seconds),
                    "-g",
                    "1",
                    "-qscale:v",
                    "1",
                    "-c:v",
                    "mpeg4",
                    "-threads",
                    "1",
                    "-bf",
                    "0",
                    "-sc_threshold",
                    "1000000000",
                    "-fflags",
                    "+bitexact",
                    "-flags:v",
                    "+bitexact",
                    "-f",
                    "m4v",
                    prefix + ".m4v"}) == 0;
}

// One camera of a param.dat.
struct ListedCamera {
  std::string name;
  int port = 0;
  int channel = 0;       // 0: none
  bool playing = false;  // started again by AutoPlay
  bool muted = true;
};

// The MAC of the n-th camera (0-based), as camsim gives it by default.
inline std::string camsim_mac(int n) {
  char mac[16];
  std::snprintf(mac, sizeof mac, "000e530000%02x", n + 1);
  return mac;
}

inline std::string param_dat(const std::vector<ListedCamera>& cameras, const std::string& extra_lines = "") {
  std::string info;
  for (std::size_t i = 0; i < cameras.size(); ++i) {
    const ListedCamera& c = cameras[i];
    std::string zones;
    for (int z = 0; z < 25; ++z) zones += z < 9 ? "1|" : "0|";
    info += c.name + "|127.0.0.1|" + std::to_string(c.port) + "|" + camsim_mac(static_cast<int>(i)) +
            "|camsim|admin|admin|1|" + std::to_string(c.channel) + "|0|0|0|" + (c.playing ? "1" : "0") + "|0|" +
            (c.muted ? "1" : "0") + "|0|" + zones + "0|3\\";
  }
  return "AutoPlay=1\nAutoRun=0\nInstanceTime=1\nMotionTime=1\nJpegRatio=80\n" + extra_lines + "CamInfo=" + info +
         "\nCamSchedule=\n";
}

// The mean colour of a rectangle of an image.
inline QColor mean_colour(const QImage& image, const QRect& area) {
  const QRect r = area & image.rect();
  if (r.isEmpty()) return {};
  long long red = 0, green = 0, blue = 0;
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) {
      const QRgb p = image.pixel(x, y);
      red += qRed(p);
      green += qGreen(p);
      blue += qBlue(p);
    }
  }
  const long long n = static_cast<long long>(r.width()) * r.height();
  return QColor(static_cast<int>(red / n), static_cast<int>(green / n), static_cast<int>(blue / n));
}

inline bool near_colour(const QColor& a, const QColor& b, int tolerance = 48) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

class ViewerOnDisplay {
 public:
  static constexpr const char* kTitle = "Quorvan Viewer & Recorder";
  static constexpr int kWidth = 601;
  static constexpr int kHeight = 448;

  // Starts `viewer --folder folder` on the desktop; extra_env adds
  // NAME=VALUE entries (PATH with a fake xdg-open, say). prefix goes before
  // the program on the command line ("ip netns exec NAME", say).
  ViewerOnDisplay(const XDesktop& desktop, const std::string& folder, const std::vector<std::string>& extra_env = {},
                  const std::vector<std::string>& prefix = {})
      : desktop_(desktop), env_(desktop.env(extra_env)), process_(command(prefix, folder), &env_) {}

  ChildProcess& process() { return process_; }
  const std::vector<std::string>& env() const { return env_; }

  // The main window: visible, 601 x 448. Null when there is none now.
  std::optional<unsigned long> find_window() const {
    for (unsigned long id : desktop_.windows(kTitle)) {
      const auto g = desktop_.geometry(id);
      if (g && g->width == kWidth && g->height == kHeight) return id;
    }
    return std::nullopt;
  }
  bool wait_window(int timeout_ms) {
    return wait_until(
        [&] {
          window_ = find_window();
          return window_.has_value();
        },
        timeout_ms, 100);
  }
  bool wait_no_window(int timeout_ms) const {
    return wait_until([&] { return !find_window().has_value(); }, timeout_ms, 100);
  }
  unsigned long window() const { return window_.value_or(0); }
  std::optional<XDesktop::Geometry> geometry() const { return desktop_.geometry(window()); }

  // A point of the window (skin coordinates) on the screen.
  QPoint screen(QPoint p) const {
    const auto g = geometry();
    return g ? QPoint(g->x + p.x(), g->y + p.y()) : p;
  }
  void click(QPoint p, int repeat = 1) const {
    const QPoint s = screen(p);
    desktop_.click(s.x(), s.y(), 1, repeat);
  }
  void drag(QPoint from, QPoint to) const {
    const QPoint a = screen(from), b = screen(to);
    desktop_.drag(a.x(), a.y(), b.x(), b.y());
  }
  // The window's part of a screen grab; null when the window is not found.
  QImage grab_window() const {
    const auto g = geometry();
    if (!g) return {};
    return desktop_.grab().copy(g->x, g->y, g->width, g->height);
  }

  // Waits for the program to end; its exit code, or -1 (killed after the
  // time is up, or it did not exit normally).
  int wait_exit(int timeout_ms) {
    if (!wait_until([&] { return process_.exited(); }, timeout_ms, 50)) return process_.stop();
    return process_.stop();
  }

 private:
  static std::vector<std::string> command(std::vector<std::string> prefix, const std::string& folder) {
    prefix.insert(prefix.end(), {viewer_path(), "--folder", folder});
    return prefix;
  }

  const XDesktop& desktop_;
  std::vector<std::string> env_;
  ChildProcess process_;
  std::optional<unsigned long> window_;
};

// Prints how long each step of a test took (the logs of a slow CI run say
// where the time went).
class Steps {
 public:
  void operator()(const char* step) {
    const auto now = std::chrono::steady_clock::now();
    std::fprintf(stderr, "  %-40s %6.2f s\n", step, std::chrono::duration<double>(now - last_).count());
    last_ = now;
  }

 private:
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// Skips a test where the desktop's programs are not installed.
#define SKIP_WITHOUT_DISPLAY_TOOLS()                                                                              \
  do {                                                                                                            \
    std::string missing_tool;                                                                                     \
    if (!::test_support::XDesktop::available(&missing_tool)) GTEST_SKIP() << missing_tool << " is not installed"; \
  } while (0)

}  // namespace test_support
