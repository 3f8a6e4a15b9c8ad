// The camera pop-up windows of the real viewer on a real X display (Xvfb,
// openbox), driven with xdotool and looked at through screen grabs, over
// camsim cameras whose pictures are known exactly:
// - a double click on a cell opens the camera's window at 205 x 264,
//   358 x 370 or 692 x 603 for pictures 160, 320 or 640 wide, showing the
//   camera (its cell showing that it is viewed there); the size button
//   enlarges the 160-pixel camera and back; closing gives the cell back;
// - zoom: the upper-left quarter of a picture of four coloured quarters,
//   selected with the pointer, fills the picture;
// - record: a file appears and grows, stop closes it and ffprobe reads it;
//   snapshot: a JPEG of the picture's size appears;
// - the window is dragged by its body; unmuting one window mutes the other;
// - cameras gone: the open window keeps the last picture, greyed;
// - on a PulseAudio server of the test's own (a null sink whose monitor
//   parecord records), the volume thumb lowers the camera's sound by the
//   decibels its position means, and the snapshot's shutter sound is heard.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QImage>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "config/test_folders.h"
#include "support/camsim.h"
#include "support/viewer_on_display.h"
#include "viewer/config/key_value_reader.h"

namespace {

using namespace test_support;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Skin coordinates of the main window's cells, and of the pop-up window at
// its three sizes (restated from the skin's table, as a user sees them).
const QRect kCells[4] = {QRect(QPoint(186, 100), QPoint(361, 231)), QRect(QPoint(383, 101), QPoint(558, 232)),
                         QRect(QPoint(187, 255), QPoint(362, 385)), QRect(QPoint(383, 254), QPoint(558, 385))};
struct PopupSkin {
  QSize window;
  QRect picture;
  QPoint record, stop, snapshot, zoom, mute, size, close;
};
const PopupSkin kSkin[3] = {
    {{205, 264}, QRect(22, 67, 160, 128), {15, 239}, {40, 240}, {54, 239}, {72, 240}, {90, 241}, {183, 235}, {183, 38}},
    {{358, 370},
     QRect(17, 63, 320, 240),
     {21, 343},
     {57, 344},
     {78, 343},
     {100, 344},
     {130, 342},
     {335, 341},
     {334, 36}},
    {{692, 603},
     QRect(30, 61, 640, 480),
     {19, 580},
     {55, 581},
     {77, 580},
     {96, 579},
     {128, 578},
     {665, 578},
     {667, 36}},
};

// A still clip of four coloured quarters (red, lime / blue, yellow).
bool make_quarters_clip(const std::string& prefix, int width, int height) {
  const std::string w = std::to_string(width / 2), h = std::to_string(height / 2);
  const std::string source =
      "color=c=red:s=" + std::to_string(width) + "x" + std::to_string(height) + ":r=15,drawbox=x=" + w + ":y=0:w=" + w +
      ":h=" + h + ":color=lime:t=fill,drawbox=x=0:y=" + h + ":w=" + w + ":h=" + h +
      ":color=blue:t=fill,drawbox=x=" + w + ":y=" + h + ":w=" + w + ":h=" + h + ":color=yellow:t=fill";
  return run_quiet({"ffmpeg",   "-hide_banner", "-loglevel", "error", "-nostdin",     "-y", "-f",        "lavfi",
                    "-i",       source,         "-t",        "1",     "-g",           "1",  "-qscale:v", "1",
                    "-c:v",     "mpeg4",        "-threads",  "1",     "-bf",          "0",  "-fflags",   "+bitexact",
                    "-flags:v", "+bitexact",    "-f",        "m4v",   prefix + ".m4v"}) == 0;
}

// A steady 500 Hz tone at half of full scale, as the camera's sound
// (prefix.g726, G.726 at 16 kbit/s), looped by camsim.
bool make_tone(const std::string& prefix, int seconds = 8) {
  return run_quiet({"ffmpeg",
                    "-hide_banner",
                    "-loglevel",
                    "error",
                    "-nostdin",
                    "-y",
                    "-f",
                    "lavfi",
                    "-i",
                    "aevalsrc=0.5*sin(2*PI*500*t):s=8000:d=" + std::to_string(seconds),
                    "-ac",
                    "1",
                    "-ar",
                    "8000",
                    "-c:a",
                    "g726",
                    "-b:a",
                    "16k",
                    "-f",
                    "g726",
                    prefix + ".g726"}) == 0;
}

// One visible pop-up window of the viewer, found by its title.
class PopupOnScreen {
 public:
  PopupOnScreen(const XDesktop& desktop, std::string name) : desktop_(desktop), name_("^" + name + "$") {}

  // Waits until the window shows at this size; false when it does not.
  bool wait(QSize size, int timeout_ms) {
    return wait_until(
        [&] {
          for (unsigned long id : desktop_.windows(name_)) {
            const auto g = desktop_.geometry(id);
            if (g && g->width == size.width() && g->height == size.height()) {
              id_ = id;
              return true;
            }
          }
          return false;
        },
        timeout_ms, 100);
  }
  bool wait_gone(int timeout_ms) const {
    return wait_until([&] { return desktop_.windows(name_).empty(); }, timeout_ms, 100);
  }
  std::optional<XDesktop::Geometry> geometry() const { return desktop_.geometry(id_); }
  QPoint screen(QPoint p) const {
    const auto g = geometry();
    return g ? QPoint(g->x + p.x(), g->y + p.y()) : p;
  }
  void click(QPoint p) const {
    const QPoint s = screen(p);
    desktop_.click(s.x(), s.y());
  }
  void drag(QPoint from, QPoint to) const {
    const QPoint a = screen(from), b = screen(to);
    desktop_.drag(a.x(), a.y(), b.x(), b.y());
  }
  QImage grab() const {
    const auto g = geometry();
    if (!g) return {};
    return desktop_.grab().copy(g->x, g->y, g->width, g->height);
  }
  // Waits until an area of the window shows a colour.
  bool wait_colour(const QRect& area, const QColor& colour, int timeout_ms, QColor* seen = nullptr) const {
    return wait_until(
        [&] {
          const QImage shot = grab();
          if (shot.isNull()) return false;
          const QColor c = mean_colour(shot, area);
          if (seen) *seen = c;
          return near_colour(c, colour);
        },
        timeout_ms, 200);
  }

 private:
  const XDesktop& desktop_;
  std::string name_;
  unsigned long id_ = 0;
};

QRect inner(const QRect& r, int margin = 12) { return r.adjusted(margin, margin, -margin, -margin); }
QRect quarter(const QRect& r, int q) {
  const int w = r.width() / 2, h = r.height() / 2;
  return inner(QRect(r.left() + (q % 2) * w, r.top() + (q / 2) * h, w, h), 8);
}
std::string name_of(const QColor& c) { return c.name().toStdString(); }

// The files of a folder (empty when it does not exist).
std::vector<std::string> files_in(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

// A field of a camera's record in param.dat's CamInfo (0-based).
std::string saved_field(const std::string& param, int camera, int field) {
  const config::KeyValueMap kv = config::parse_key_values(param);
  if (!kv.count("CamInfo")) return {};
  const std::string& text = kv.at("CamInfo");
  std::size_t start = 0;
  for (int i = 0; i < camera; ++i) start = text.find('\\', start) + 1;
  std::size_t p = start;
  for (int i = 0; i < field; ++i) p = text.find('|', p) + 1;
  return text.substr(p, text.find('|', p) - p);
}

TEST(PopupOnDisplay, SizesPicturesZoomRecordSnapshotMuteAndClose) {
  SKIP_WITHOUT_DISPLAY_TOOLS();
  Steps step;
  // Room for the main window in a corner and the pop-ups, centred, apart from it.
  XDesktop desktop({.width = 1920, .height = 1080, .tray = false});
  ASSERT_TRUE(desktop.ok()) << desktop.error();

  // Four cameras on channels 1 to 4: red at 160 x 128, the quarters at
  // 320 x 240 and yellow at 320 x 240 (both with sound), blue at 640 x 480.
  TempDir clips("camviewer-clips");
  ASSERT_TRUE(make_still_clip(clips.file("red"), "red", 160, 128));
  ASSERT_TRUE(make_quarters_clip(clips.file("quarters"), 320, 240));
  ASSERT_TRUE(make_tone(clips.file("quarters")));
  ASSERT_TRUE(make_still_clip(clips.file("blue"), "blue", 640, 480));
  ASSERT_TRUE(make_still_clip(clips.file("yellow"), "yellow", 320, 240));
  ASSERT_TRUE(make_tone(clips.file("yellow")));
  CamsimProcess camsim({"--port", "0", clips.file("red"), "--camera", "0:admin:admin:" + clips.file("quarters"),
                        "--camera", "0:admin:admin:" + clips.file("blue"), "--camera",
                        "0:admin:admin:" + clips.file("yellow")});
  ASSERT_TRUE(camsim.ready()) << camsim.startup_text();
  TempDir folder("camviewer-program");
  std::vector<ListedCamera> list;
  for (int i = 0; i < 4; ++i) list.push_back({"cam" + std::to_string(i + 1), camsim.port(i), i + 1, true});
  testing_support::write_file(folder.file("param.dat"), param_dat(list));
  step("clips and camsim");

  ViewerOnDisplay viewer(desktop, folder.path());
  ASSERT_TRUE(viewer.wait_window(30000)) << desktop.tree();
  {
    // The main window dragged by its body into the top left corner.
    const auto g = viewer.geometry();
    ASSERT_TRUE(g.has_value());
    viewer.drag(QPoint(300, 20), QPoint(300 - g->x + 10, 20 - g->y + 10));
    ASSERT_TRUE(desktop
                    .wait_geometry(
                        viewer.window(), [](const XDesktop::Geometry& w) { return w.x < 100 && w.y < 100; }, 5000)
                    .has_value());
  }
  QImage shot;
  // Waits until each (cell, colour) pair shows in the main window.
  auto cells_show = [&](std::vector<std::pair<int, QColor>> wanted, int timeout_ms) {
    return wait_until(
        [&] {
          shot = viewer.grab_window();
          if (shot.isNull()) return false;
          for (const auto& [cell, colour] : wanted) {
            if (!near_colour(mean_colour(shot, inner(kCells[cell])), colour)) return false;
          }
          return true;
        },
        timeout_ms, 200);
  };
  ASSERT_TRUE(cells_show({{0, QColor(255, 0, 0)}, {2, QColor(0, 0, 255)}, {3, QColor(255, 255, 0)}}, 30000))
      << name_of(mean_colour(shot, kCells[0])) << " " << name_of(mean_colour(shot, kCells[2]));
  step("cells");

  // The 160-pixel camera: 205 x 264, red in its picture; the cell no longer.
  viewer.click(kCells[0].center(), 2);
  PopupOnScreen red(desktop, "cam1");
  ASSERT_TRUE(red.wait(kSkin[0].window, 10000)) << desktop.tree();
  QColor seen;
  EXPECT_TRUE(red.wait_colour(inner(kSkin[0].picture), QColor(255, 0, 0), 10000, &seen)) << name_of(seen);
  shot = viewer.grab_window();
  EXPECT_FALSE(near_colour(mean_colour(shot, inner(kCells[0])), QColor(255, 0, 0)));
  // Its shape: the corners show what lies behind it.
  {
    const auto g = red.geometry();
    ASSERT_TRUE(g.has_value());
    const QImage screen = desktop.grab();
    const QColor behind = screen.pixelColor(g->x - 3, g->y + g->height / 2);
    EXPECT_EQ(screen.pixelColor(g->x + 1, g->y + 1), behind);
    EXPECT_EQ(screen.pixelColor(g->x + g->width - 2, g->y + g->height - 2), behind);
  }
  step("160 pop-up");

  // The size button: 358 x 370 with the picture stretched, and back.
  red.click(kSkin[0].size);
  ASSERT_TRUE(red.wait(kSkin[1].window, 5000));
  EXPECT_TRUE(red.wait_colour(inner(kSkin[1].picture), QColor(255, 0, 0), 5000, &seen)) << name_of(seen);
  red.click(kSkin[1].size);
  ASSERT_TRUE(red.wait(kSkin[0].window, 5000));
  step("size button");

  // Closed: the cell shows the camera again.
  red.click(kSkin[0].close);
  EXPECT_TRUE(red.wait_gone(5000));
  EXPECT_TRUE(cells_show({{0, QColor(255, 0, 0)}}, 10000));
  step("closed");

  // The 640-pixel camera: 692 x 603, blue.
  viewer.click(kCells[2].center(), 2);
  PopupOnScreen blue(desktop, "cam3");
  ASSERT_TRUE(blue.wait(kSkin[2].window, 10000)) << desktop.tree();
  EXPECT_TRUE(blue.wait_colour(inner(kSkin[2].picture), QColor(0, 0, 255), 10000, &seen)) << name_of(seen);
  blue.click(kSkin[2].close);
  EXPECT_TRUE(blue.wait_gone(5000));
  step("640 pop-up");

  // The 320-pixel camera of quarters: 358 x 370, each quarter in its place.
  viewer.click(kCells[1].center(), 2);
  PopupOnScreen quarters(desktop, "cam2");
  ASSERT_TRUE(quarters.wait(kSkin[1].window, 10000)) << desktop.tree();
  const QRect picture = kSkin[1].picture;
  const QColor colours[4] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 255, 0)};
  for (int q = 0; q < 4; ++q) {
    EXPECT_TRUE(quarters.wait_colour(quarter(picture, q), colours[q], 10000, &seen)) << q << " " << name_of(seen);
  }
  step("320 pop-up");

  // Zoom: the upper-left quarter selected, it fills the picture.
  quarters.click(kSkin[1].zoom);
  quarters.drag(picture.topLeft() + QPoint(1, 1), picture.center() - QPoint(1, 1));
  for (int q = 0; q < 4; ++q) {
    EXPECT_TRUE(quarters.wait_colour(quarter(picture, q), colours[0], 5000, &seen)) << q << " " << name_of(seen);
  }
  quarters.click(kSkin[1].zoom);
  EXPECT_TRUE(quarters.wait_colour(quarter(picture, 3), colours[3], 5000, &seen)) << name_of(seen);
  step("zoom");

  // Record: a manual recording grows in Record/MAC; Stop closes it and
  // ffprobe reads its video.
  const std::string record_dir = folder.file("Record") + "/" + camsim_mac(1);
  quarters.click(kSkin[1].record);
  std::uintmax_t first_size = 0;
  ASSERT_TRUE(wait_until(
      [&] {
        const auto f = files_in(record_dir);
        if (f.size() != 1) return false;
        first_size = fs::file_size(f[0]);
        return first_size > 0;
      },
      10000, 100))
      << record_dir;
  const std::string recording = files_in(record_dir)[0];
  EXPECT_NE(recording.find("LAN_R_"), std::string::npos) << recording;
  EXPECT_TRUE(wait_until([&] { return fs::file_size(recording) > first_size + 10000; }, 10000, 200));
  quarters.click(kSkin[1].stop);
  RunResult probe;
  EXPECT_TRUE(wait_until(
      [&] {
        probe = run_command(
            {"ffprobe", "-v", "error", "-show_entries", "stream=codec_type,width,height", "-of", "csv=p=0", recording});
        return probe.status == 0 && probe.out.find("video,320,240") != std::string::npos;
      },
      10000, 300))
      << probe.out << probe.err;
  const std::uintmax_t closed_size = fs::file_size(recording);
  XDesktop::pause(1500);
  EXPECT_EQ(fs::file_size(recording), closed_size);
  // The picture goes on after the recording stopped.
  EXPECT_TRUE(quarters.wait_colour(quarter(picture, 1), colours[1], 5000, &seen)) << name_of(seen);
  step("record and stop");

  // Snapshot: a JPEG of the picture's own size in Snapshot/MAC.
  const std::string snapshot_dir = folder.file("Snapshot") + "/" + camsim_mac(1);
  quarters.click(kSkin[1].snapshot);
  ASSERT_TRUE(wait_until([&] { return !files_in(snapshot_dir).empty(); }, 10000, 100)) << snapshot_dir;
  const std::string jpeg = files_in(snapshot_dir)[0];
  EXPECT_EQ(jpeg.substr(jpeg.size() - 4), ".jpg");
  QImage snapshot;
  EXPECT_TRUE(wait_until([&] { return snapshot.load(QString::fromStdString(jpeg), "JPEG"); }, 5000, 100));
  EXPECT_EQ(snapshot.size(), QSize(320, 240));
  EXPECT_TRUE(near_colour(mean_colour(snapshot, QRect(20, 20, 120, 80)), colours[0]));
  step("snapshot");

  // A second window, dragged aside by its body; unmuting one mutes the other.
  viewer.click(kCells[3].center(), 2);
  PopupOnScreen yellow(desktop, "cam4");
  ASSERT_TRUE(yellow.wait(kSkin[1].window, 10000)) << desktop.tree();
  const auto before = yellow.geometry();
  ASSERT_TRUE(before.has_value());
  yellow.drag(QPoint(200, 12), QPoint(200 + 400, 12));
  ASSERT_TRUE(desktop
                  .wait_geometry(
                      desktop.windows("^cam4$").front(),
                      [&](const XDesktop::Geometry& g) { return g.x == before->x + 400; }, 5000)
                  .has_value());
  step("second window dragged");

  quarters.click(kSkin[1].mute);
  ASSERT_TRUE(wait_until([&] { return saved_field(read_text(folder.file("param.dat")), 1, 14) == "0"; }, 5000, 100));
  yellow.click(kSkin[1].mute);
  ASSERT_TRUE(wait_until([&] { return saved_field(read_text(folder.file("param.dat")), 3, 14) == "0"; }, 5000, 100));
  EXPECT_EQ(saved_field(read_text(folder.file("param.dat")), 1, 14), "1");
  // On screen: the sounding camera's button is green, the other's is not.
  {
    const QRect mute(kSkin[1].mute - QPoint(6, 6), QSize(12, 12));
    auto green = [](const QImage& image, const QRect& r) {
      int n = 0;
      for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
          const QColor c = image.pixelColor(x, y);
          if (c.green() > 150 && c.red() < 150 && c.blue() < 180) ++n;
        }
      }
      return n;
    };
    int sounding = 0, muted = 0;
    EXPECT_TRUE(wait_until(
        [&] {
          sounding = green(yellow.grab(), mute);
          muted = green(quarters.grab(), mute);
          return sounding > 15 && muted <= 2;
        },
        5000, 200))
        << "green pixels: sounding " << sounding << ", muted " << muted;
  }
  step("mute");

  // The second closed: its cell shows its camera again.
  yellow.click(kSkin[1].close);
  EXPECT_TRUE(yellow.wait_gone(5000));
  EXPECT_TRUE(cells_show({{3, QColor(255, 255, 0)}}, 10000));
  step("closed");

  // The cameras go away: the open window keeps the last picture, greyed,
  // while the stream tries to reconnect.
  camsim.stop();
  auto grey = [](const QColor& c) {
    return std::abs(c.red() - c.green()) < 16 && std::abs(c.green() - c.blue()) < 16 && c.green() > 40 &&
           c.green() < 140;
  };
  EXPECT_TRUE(wait_until(
      [&] {
        seen = mean_colour(quarters.grab(), quarter(picture, 1));
        return grey(seen);
      },
      15000, 300))
      << name_of(seen);
  // Lighter where the picture was lighter: it is the picture, not a cover.
  const QImage greyed = quarters.grab();
  EXPECT_GT(mean_colour(greyed, quarter(picture, 3)).green(), mean_colour(greyed, quarter(picture, 2)).green() + 30);
  ::kill(viewer.process().pid(), SIGTERM);
  EXPECT_EQ(viewer.wait_exit(20000), 0);
  step("reconnecting and exit");
}

// --- sound ---

// The samples of a 16-bit mono WAV file that parecord wrote (it may leave
// the sizes unset when it is stopped).
std::vector<std::int16_t> wav_samples(const std::string& path) {
  const std::vector<std::uint8_t> bytes = read_bytes(path);
  for (std::size_t i = 12; i + 8 <= bytes.size(); ++i) {
    if (bytes[i] == 'd' && bytes[i + 1] == 'a' && bytes[i + 2] == 't' && bytes[i + 3] == 'a') {
      std::vector<std::int16_t> s((bytes.size() - i - 8) / 2);
      for (std::size_t k = 0; k < s.size(); ++k) {
        s[k] = static_cast<std::int16_t>(bytes[i + 8 + 2 * k] | (bytes[i + 9 + 2 * k] << 8));
      }
      return s;
    }
  }
  return {};
}

// Level in dB (full scale) of each 250 ms block at 8 kHz.
std::vector<double> block_levels(const std::vector<std::int16_t>& s) {
  std::vector<double> out;
  const std::size_t n = 2000;
  for (std::size_t at = 0; at + n <= s.size(); at += n) {
    double e = 0;
    for (std::size_t i = at; i < at + n; ++i) e += double(s[i]) * s[i];
    out.push_back(10 * std::log10(e / n / (32768.0 * 32768.0) + 1e-12));
  }
  return out;
}

double median(std::vector<double> v) {
  if (v.empty()) return -200;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A PulseAudio server with a null sink for the programs on a desktop: same
// runtime and configuration folders (the socket and the cookie), and a home
// of its own.
class SoundServer {
 public:
  explicit SoundServer(const XDesktop& desktop) : desktop_(desktop) {
    const bool started =
        server_.start({"pulseaudio", "--daemonize=no", "--system=false", "--exit-idle-time=-1", "--disallow-exit", "-n",
                       "--load=module-null-sink sink_name=nullsink", "--load=module-native-protocol-unix"},
                      env(), desktop.file("pulseaudio.log"));
    ok_ =
        started && wait_until([&] { return fs::exists(runtime() + "/pulse/native"); }, 10000, 100) && server_.running();
  }
  bool ok() { return ok_ && server_.running(); }
  std::vector<std::string> env() const { return desktop_.env({"HOME=" + desktop_.folder()}); }
  std::string runtime() const {
    for (const std::string& e : desktop_.env()) {
      if (e.rfind("XDG_RUNTIME_DIR=", 0) == 0) return e.substr(16);
    }
    return {};
  }
  // Records the sink's monitor into a WAV file until stopped.
  bool record(Daemon& recorder, const std::string& wav) const {
    if (!recorder.start({"parecord", "--latency-msec=20", "--device=nullsink.monitor", "--file-format=wav",
                         "--rate=8000", "--channels=1", "--format=s16le", wav},
                        env(), wav + ".log")) {
      return false;
    }
    // Recording for real once the idle sink's silence comes in.
    return wait_until([&] { return fs::exists(wav) && fs::file_size(wav) > 8044; }, 10000, 50);
  }

 private:
  const XDesktop& desktop_;
  Daemon server_;
  bool ok_ = false;
};

TEST(PopupOnDisplay, TheVolumeThumbLowersTheSoundAndTheShutterIsHeard) {
  SKIP_WITHOUT_DISPLAY_TOOLS();
  if (run_quiet({"sh", "-c", "command -v pulseaudio && command -v parecord"}) != 0) {
    GTEST_SKIP() << "pulseaudio is not installed";
  }
  Steps step;
  XDesktop desktop({.tray = false});
  ASSERT_TRUE(desktop.ok()) << desktop.error();
  SoundServer sound(desktop);
  if (!sound.ok()) GTEST_SKIP() << "pulseaudio could not start here: " << read_text(desktop.file("pulseaudio.log"));

  // One 320-pixel camera with a steady tone, playing and audible at 0 dB.
  TempDir clips("camviewer-clips");
  ASSERT_TRUE(make_still_clip(clips.file("tone"), "gray", 320, 240, 2));
  ASSERT_TRUE(make_tone(clips.file("tone")));
  CamsimProcess camsim({"--port", "0", clips.file("tone")});
  ASSERT_TRUE(camsim.ready()) << camsim.startup_text();
  TempDir folder("camviewer-program");
  ListedCamera camera{"tone", camsim.port(0), 1, true};
  camera.muted = false;
  testing_support::write_file(folder.file("param.dat"), param_dat({camera}));
  step("server, clip and camsim");

  ViewerOnDisplay viewer(desktop, folder.path(), {"HOME=" + desktop.folder()});
  ASSERT_TRUE(viewer.wait_window(30000)) << desktop.tree();
  // Its picture in the cell first: the window opens only once the stream is in.
  ASSERT_TRUE(wait_until(
      [&] {
        const QImage shot = viewer.grab_window();
        return !shot.isNull() && near_colour(mean_colour(shot, inner(kCells[0])), QColor(128, 128, 128), 24);
      },
      30000, 200));
  viewer.click(kCells[0].center(), 2);
  PopupOnScreen popup(desktop, "tone");
  ASSERT_TRUE(popup.wait(kSkin[1].window, 20000)) << desktop.tree();
  step("pop-up");

  // The tone at full volume, then the thumb moved 25 pixels left, from 208
  // to 183: (183 - 159) x 3000 / 49 - 3000 = -1531, 15.3 dB quieter.
  const std::string loud_wav = desktop.file("volume.wav");
  {
    Daemon recorder;
    ASSERT_TRUE(sound.record(recorder, loud_wav)) << read_text(loud_wav + ".log");
    XDesktop::pause(4000);
    const auto moved_at = Clock::now();
    const QPoint grip(212, 340);  // the thumb's middle
    popup.drag(grip, grip - QPoint(25, 0));
    const double drag_s = std::chrono::duration<double>(Clock::now() - moved_at).count();
    XDesktop::pause(5000);
    recorder.stop();
    step("recorded the volume change");

    const std::vector<double> levels = block_levels(wav_samples(loud_wav));
    ASSERT_GT(levels.size(), 30u);
    // Before: the blocks well inside the first four seconds that carry the
    // tone (it starts after the stream's first blocks); after: the last two
    // seconds, when the sink's buffer holds only the quieter sound.
    std::vector<double> before, after;
    for (std::size_t i = 0; i < 14 && i < levels.size(); ++i) {
      if (levels[i] > -40) before.push_back(levels[i]);
    }
    for (std::size_t i = levels.size() - 8; i < levels.size(); ++i) after.push_back(levels[i]);
    ASSERT_GE(before.size(), 4u) << "no tone before the move";
    const double drop = median(before) - median(after);
    std::fprintf(stderr, "  level before %.1f dBFS, after %.1f dBFS, drop %.1f dB (drag %.1f s)\n", median(before),
                 median(after), drop, drag_s);
    EXPECT_NEAR(drop, 15.3, 1.5);
  }
  // The stored volume is the thumb's.
  EXPECT_TRUE(wait_until([&] { return saved_field(read_text(folder.file("param.dat")), 0, 15) == "-1531"; }, 5000, 100))
      << saved_field(read_text(folder.file("param.dat")), 0, 15);

  // Muted, the sink goes quiet; the snapshot's shutter clicks are heard.
  popup.click(kSkin[1].mute);
  XDesktop::pause(3000);
  const std::string shutter_wav = desktop.file("shutter.wav");
  {
    Daemon recorder;
    ASSERT_TRUE(sound.record(recorder, shutter_wav));
    XDesktop::pause(1000);
    popup.click(kSkin[1].snapshot);
    XDesktop::pause(3500);
    recorder.stop();
  }
  const std::vector<std::int16_t> samples = wav_samples(shutter_wav);
  ASSERT_GT(samples.size(), 8000u * 3);
  const std::vector<double> quiet(block_levels(std::vector<std::int16_t>(samples.begin(), samples.begin() + 4000)));
  int peak = 0;
  for (std::int16_t s : samples) peak = std::max(peak, std::abs(int(s)));
  EXPECT_LT(median(quiet), -50) << "the muted camera is still heard";
  EXPECT_GT(peak, 3000) << "no shutter sound";
  EXPECT_FALSE(files_in(folder.file("Snapshot") + "/" + camsim_mac(0)).empty());
  step("shutter");

  ::kill(viewer.process().pid(), SIGTERM);
  EXPECT_EQ(viewer.wait_exit(20000), 0);
}

}  // namespace
