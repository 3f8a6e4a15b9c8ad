// The camera pop-up windows on the offscreen platform, opened from the real
// main window over fake camera connections and driven with the mouse: sizes
// and shapes, tool-tips, the size button, zoom selections, mute across
// windows, the volume thumb, record, stop and play (with the recording loops
// of the core running), closing, and the looks of a reconnecting or
// recording camera.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include <ctime>

#include "config/test_folders.h"
#include "shell/fake_connection.h"
#include "viewer/config/key_value_reader.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/shell/model/camera.h"
#include "viewer/shell/ui/main_layout.h"
#include "viewer/shell/ui/main_window.h"
#include "viewer/shell/ui/popup_layout.h"
#include "viewer/shell/ui/popup_window.h"
#include "viewer/shell/ui/popup_windows.h"

namespace ui {
namespace {

namespace L = layout;
namespace P = popup_layout;
using model::Camera;

std::string mac_of(int n) {
  char mac[16];
  std::snprintf(mac, sizeof mac, "00a0b0c0%04x", n);
  return mac;
}

// A camera playing on channel n + 1, muted, at volume 0.
std::string cam_info(int n) {
  std::string zones;
  for (int z = 0; z < 25; ++z) zones += "0|";
  return "cam" + std::to_string(n) + "|127.0.0.1|80|" + mac_of(n) + "|d|admin|admin|1|" + std::to_string(n + 1) +
         "|0|0|0|1|0|1|0|" + zones + "0|3\\";
}

struct CountingSound final : record::SoundPlayer {
  int plays = 0;
  void play_async(const std::uint8_t*, std::size_t) override { ++plays; }
};

class PopupWindowTest : public ::testing::Test {
 protected:
  // Cameras playing on channels 1, 2, ... with these picture widths, their
  // stream headers in.
  void open(const std::vector<int>& widths) {
    std::string info;
    for (std::size_t n = 0; n < widths.size(); ++n) info += cam_info(static_cast<int>(n));
    testing_support::write_file(folder.file("param.dat"),
                                "AutoPlay=1\nAutoRun=0\nInstanceTime=5\nCamInfo=" + info + "\n");
    MainWindowOptions options;
    options.core.connections = fakes.factory();
    options.core.sound = &sound;
    options.popups = &popups;
    window = std::make_unique<MainWindow>(options);
    popups.attach(*window);
    ASSERT_TRUE(window->create(folder.path()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    for (std::size_t n = 0; n < widths.size(); ++n) {
      Camera& c = cam(static_cast<int>(n) + 1);
      fakes.of(c).header = 431;
      fakes.of(c).width = widths[n];
      // The pictures' size, as a stream header would set it up.
      const std::uint8_t codec[18] = {0, 0, 1, 0xb0};
      ASSERT_TRUE(c.video().setup(widths[n], widths[n] * 3 / 4, codec, 18));
    }
    window->refresh();
  }
  void TearDown() override {
    if (window) window->shutdown();
  }

  model::CameraList& list() { return window->cameras(); }
  Camera& cam(int position) { return *list().camera_at(position); }

  // Double-clicks the main window's cell of a channel of grid position 1 and
  // returns the pop-up that opened.
  PopupWindow* open_popup(int channel) {
    const QPoint p = L::kCells[channel - 1].center();
    QTest::mousePress(window.get(), Qt::LeftButton, {}, p);
    QTest::mouseRelease(window.get(), Qt::LeftButton, {}, p);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(p), window->mapToGlobal(QPointF(p)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &dbl);
    QTest::mouseRelease(window.get(), Qt::LeftButton, {}, p);
    PopupWindow* w = popups.window(channel);
    if (w) (void)QTest::qWaitForWindowExposed(w);
    return w;
  }
  void click(QWidget* w, QPoint p) { QTest::mouseClick(w, Qt::LeftButton, {}, p); }
  void press(QWidget* w, QPoint p) { QTest::mousePress(w, Qt::LeftButton, {}, p); }
  void release(QWidget* w, QPoint p) { QTest::mouseRelease(w, Qt::LeftButton, {}, p); }
  void move(QWidget* w, QPoint p) {
    QMouseEvent e(QEvent::MouseMove, QPointF(p), w->mapToGlobal(QPointF(p)), Qt::NoButton, Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
  }
  void drag(QWidget* w, QPoint from, QPoint to) {
    press(w, from);
    move(w, (from + to) / 2);
    move(w, to);
    release(w, to);
  }
  // A field of a camera's record in "param.dat" (0-based, as the file has them).
  std::string saved_field(int n, int field) {
    const config::KeyValueMap kv = config::parse_key_values(testing_support::read_file(folder.file("param.dat")));
    const std::string text = kv.count("CamInfo") ? kv.at("CamInfo") : "";
    std::size_t at = text.find(mac_of(n));
    if (at == std::string::npos) return {};
    at = text.rfind('\\', at);
    at = at == std::string::npos ? 0 : at + 1;
    for (int i = 0; i < field; ++i) at = text.find('|', at) + 1;
    return text.substr(at, text.find('|', at) - at);
  }
  static model::Rect model_rect(const QRect& r) { return {r.left(), r.top(), r.right() + 1, r.bottom() + 1}; }

  platform::ScopedHeadlessUi ui;
  testing_support::TempFolder folder;
  testing_support::FakeConnections fakes;
  CountingSound sound;
  PopupWindows popups;
  std::unique_ptr<MainWindow> window;
};

TEST_F(PopupWindowTest, OpensAtTheCamerasOwnSizeInItsShape) {
  open({160, 320, 640});
  const QSize sizes[3] = {{205, 264}, {358, 370}, {692, 603}};
  for (int ch = 1; ch <= 3; ++ch) {
    SCOPED_TRACE(ch);
    PopupWindow* w = open_popup(ch);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->camera(), &cam(ch));
    EXPECT_EQ(w->windowTitle(), QString::fromStdString("cam" + std::to_string(ch - 1)));
    EXPECT_EQ(w->size(), sizes[ch - 1]);
    EXPECT_EQ(w->size_index(), ch - 1);
    EXPECT_EQ(w->native_size(), ch - 1);
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    // Shaped by the frame: the corners are outside, the body and picture inside.
    const QRegion shape = w->mask();
    EXPECT_FALSE(shape.contains(QPoint(0, 0)));
    EXPECT_FALSE(shape.contains(QPoint(w->width() - 1, w->height() - 1)));
    EXPECT_TRUE(shape.contains(QPoint(w->width() / 2, 1)));
    EXPECT_TRUE(shape.contains(P::geometry(ch - 1).picture.center()));
    EXPECT_TRUE(shape.contains(QPoint(3, w->height() / 2)));
    // The camera's pictures go to the pop-up; its cell says so.
    EXPECT_TRUE(cam(ch).popup());
    EXPECT_EQ(cam(ch).picture_rect(), model_rect(P::geometry(ch - 1).picture));
    EXPECT_EQ(list().cell_look(ch - 1), model::CellLook::Popup);
  }
  // Opening again shows the same window.
  EXPECT_EQ(popups.window_of(cam(1)), popups.window(1));
}

TEST_F(PopupWindowTest, ToolTipsCursorsAndTheDragArea) {
  open({320});
  PopupWindow* w = open_popup(1);
  ASSERT_NE(w, nullptr);
  const P::Geometry& g = P::geometry(1);
  const std::pair<QRect, const char*> tips[] = {
      {g.zoom, "Zoom selected area"}, {g.play, "Play"},        {g.stop, "Stop"},
      {g.record, "Record"},           {g.mute, "Mute option"}, {g.snapshot, "Take snapshot"},
      {g.close, "Minimize"},          {g.track, "Volume"},
  };
  for (const auto& [rect, tip] : tips) {
    EXPECT_EQ(w->tip_at(rect.center()).text, QLatin1String(tip));
    EXPECT_EQ(w->cursor_at(rect.center()), Qt::PointingHandCursor) << tip;
  }
  EXPECT_TRUE(w->tip_at(QPoint(100, 10)).text.isEmpty());
  EXPECT_EQ(w->cursor_at(QPoint(100, 10)), Qt::ArrowCursor);
  EXPECT_EQ(w->cursor_at(g.picture.center()), Qt::ArrowCursor);
  click(w, g.zoom.center());
  EXPECT_EQ(w->cursor_at(g.picture.center()), Qt::CrossCursor);
}

TEST_F(PopupWindowTest, TheSizeButtonEnlargesTheSmallCameraAndLeavesTheLargeAlone) {
  open({160, 640});
  PopupWindow* small = open_popup(1);
  ASSERT_NE(small, nullptr);
  click(small, P::geometry(0).size_button.center());
  EXPECT_EQ(small->size(), QSize(358, 370));
  EXPECT_EQ(small->size_index(), 1);
  EXPECT_EQ(cam(1).picture_rect(), model_rect(P::geometry(1).picture));
  EXPECT_TRUE(small->mask().contains(QPoint(350, 180)));
  // Zoom works only at the camera's own size.
  click(small, P::geometry(1).zoom.center());
  EXPECT_FALSE(small->zoom_mode());
  click(small, P::geometry(1).size_button.center());
  EXPECT_EQ(small->size(), QSize(205, 264));
  EXPECT_FALSE(small->mask().contains(QPoint(350, 180)));
  click(small, P::geometry(0).zoom.center());
  EXPECT_TRUE(small->zoom_mode());
  // Enlarging turns zoom off.
  click(small, P::geometry(0).size_button.center());
  EXPECT_FALSE(small->zoom_mode());

  PopupWindow* large = open_popup(2);
  ASSERT_NE(large, nullptr);
  click(large, P::geometry(2).size_button.center());
  EXPECT_EQ(large->size(), QSize(692, 603));
  click(large, P::geometry(2).zoom.center());
  EXPECT_TRUE(large->zoom_mode());
}

TEST_F(PopupWindowTest, ZoomAppliesOneSelectionUntilTurnedOff) {
  open({320});
  PopupWindow* w = open_popup(1);
  ASSERT_NE(w, nullptr);
  const P::Geometry& g = P::geometry(1);
  // Without zoom mode a drag over the picture selects nothing.
  drag(w, QPoint(30, 70), QPoint(100, 150));
  EXPECT_EQ(cam(1).source_area(), (model::Rect{0, 0, 320, 240}));

  click(w, g.zoom.center());
  ASSERT_TRUE(w->zoom_mode());
  // The upper-left quarter, dragged up and to the left; the focus rectangle
  // follows the pointer meanwhile.
  press(w, QPoint(176, 182));
  move(w, QPoint(100, 120));
  EXPECT_EQ(w->zoom_selection(), ZoomSelection::Dragging);
  EXPECT_EQ(w->selection_rect(), QRect(100, 120, 77, 63));
  move(w, QPoint(17, 63));
  release(w, QPoint(17, 63));
  EXPECT_EQ(w->zoom_selection(), ZoomSelection::Applied);
  EXPECT_EQ(cam(1).source_area(), (model::Rect{0, 0, 160, 120}));
  // No second selection while one is applied.
  drag(w, QPoint(200, 200), QPoint(300, 280));
  EXPECT_EQ(cam(1).source_area(), (model::Rect{0, 0, 160, 120}));

  // Off restores the whole picture; on again, a click alone selects nothing
  // and a drag that leaves the picture is given up.
  click(w, g.zoom.center());
  EXPECT_FALSE(w->zoom_mode());
  EXPECT_EQ(cam(1).source_area(), (model::Rect{0, 0, 320, 240}));
  click(w, g.zoom.center());
  click(w, QPoint(150, 150));
  EXPECT_EQ(w->zoom_selection(), ZoomSelection::None);
  EXPECT_EQ(cam(1).source_area(), (model::Rect{0, 0, 320, 240}));
  press(w, QPoint(150, 150));
  move(w, QPoint(200, 200));
  move(w, QPoint(200, 320));  // below the picture
  EXPECT_EQ(w->zoom_selection(), ZoomSelection::None);
  release(w, QPoint(200, 200));
  EXPECT_EQ(cam(1).source_area(), (model::Rect{0, 0, 320, 240}));

  // Closed while zoomed, the camera keeps its area, in its cell too, until
  // zoom is turned off in a later window.
  drag(w, QPoint(177, 183), QPoint(336, 302));
  EXPECT_EQ(cam(1).source_area(), (model::Rect{160, 120, 320, 240}));
  click(w, g.close.center());
  EXPECT_EQ(cam(1).source_area(), (model::Rect{160, 120, 320, 240}));
  w = open_popup(1);
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(w->zoom_mode());
  click(w, g.zoom.center());
  click(w, g.zoom.center());
  EXPECT_EQ(cam(1).source_area(), (model::Rect{0, 0, 320, 240}));
}

TEST_F(PopupWindowTest, UnmutingOneMutesEveryOtherCameraOnAChannel) {
  open({320, 320, 320});
  PopupWindow* a = open_popup(1);
  PopupWindow* b = open_popup(2);
  ASSERT_TRUE(a && b);
  const QPoint mute = P::geometry(1).mute.center();
  EXPECT_EQ(a->mute_look(), MuteLook::Muted);
  click(a, mute);
  EXPECT_FALSE(cam(1).muted());
  EXPECT_EQ(cam(1).output_volume(), 0);
  EXPECT_EQ(a->mute_look(), MuteLook::SoundOn);
  EXPECT_TRUE(a->button_at(mute)->on());
  EXPECT_EQ(saved_field(0, 14), "0");  // muted flag, saved at once

  // The third camera, without a window, made audible from the list; then
  // the second window's mute takes the sound from both.
  list().audio_toggle(cam(3));
  EXPECT_TRUE(cam(1).muted());
  EXPECT_EQ(a->mute_look(), MuteLook::Muted);
  click(b, mute);
  EXPECT_FALSE(cam(2).muted());
  EXPECT_TRUE(cam(1).muted());
  EXPECT_TRUE(cam(3).muted());
  EXPECT_EQ(cam(3).output_volume(), model::kSilentVolume);
  EXPECT_EQ(b->mute_look(), MuteLook::SoundOn);
  // Muting again silences it.
  click(b, mute);
  EXPECT_TRUE(cam(2).muted());
  EXPECT_EQ(cam(2).output_volume(), model::kSilentVolume);
  EXPECT_EQ(b->mute_look(), MuteLook::Muted);
  EXPECT_EQ(saved_field(1, 14), "1");

  // A stream without sound has the third look.
  fakes.of(cam(2)).audio = false;
  b->refresh();
  EXPECT_EQ(b->mute_look(), MuteLook::NoSound);
}

TEST_F(PopupWindowTest, TheVolumeThumbSetsTheVolumeAtOnce) {
  open({320});
  PopupWindow* w = open_popup(1);
  ASSERT_NE(w, nullptr);
  const P::Geometry& g = P::geometry(1);
  EXPECT_EQ(w->thumb_left(), 208);  // volume 0
  // Dragged by its middle ten pixels left: the volume follows, silent while muted.
  const QPoint grip(212, 340);
  press(w, grip);
  move(w, grip - QPoint(10, 0));
  EXPECT_EQ(w->thumb_left(), 198);
  EXPECT_EQ(cam(1).volume(), -613);
  EXPECT_EQ(cam(1).output_volume(), model::kSilentVolume);
  release(w, grip - QPoint(10, 0));
  EXPECT_EQ(saved_field(0, 15), "-613");

  click(w, g.mute.center());
  EXPECT_EQ(cam(1).output_volume(), -613);
  // Unmuted, it is heard at once; past the left end, -3000.
  press(w, QPoint(202, 340));
  move(w, QPoint(120, 340));
  EXPECT_EQ(w->thumb_left(), 159);
  EXPECT_EQ(cam(1).volume(), -3000);
  EXPECT_EQ(cam(1).output_volume(), -3000);
  release(w, QPoint(120, 340));
  // A click on the track takes the thumb there by its middle.
  click(w, QPoint(190, 340));
  EXPECT_EQ(w->thumb_left(), 186);
  EXPECT_EQ(cam(1).output_volume(), P::volume_for_thumb(1, 186));
  // Muting and unmuting keeps the volume exactly.
  const int volume = cam(1).volume();
  click(w, g.mute.center());
  click(w, g.mute.center());
  EXPECT_EQ(cam(1).volume(), volume);
}

TEST_F(PopupWindowTest, RecordStopAndPlay) {
  open({320});
  PopupWindow* w = open_popup(1);
  ASSERT_NE(w, nullptr);
  const P::Geometry& g = P::geometry(1);
  click(w, g.record.center());
  EXPECT_TRUE(cam(1).recording_indicator());
  EXPECT_TRUE(cam(1).writer_open(record::kManualWriter));
  EXPECT_TRUE(w->recording_shown());
  EXPECT_TRUE(w->button_at(g.record.center())->on());
  EXPECT_TRUE(ui->shown().empty());

  // Stop ends the recording and leaves the picture running; a second Stop
  // pauses it; Play resumes.
  click(w, g.stop.center());
  EXPECT_FALSE(cam(1).recording_indicator());
  EXPECT_FALSE(cam(1).writer_open(record::kManualWriter));
  EXPECT_FALSE(w->recording_shown());
  EXPECT_EQ(cam(1).connection_state(), model::kStatePlaying);
  click(w, g.stop.center());
  EXPECT_EQ(cam(1).connection_state(), model::kStatePaused);
  EXPECT_EQ(cam(1).output_volume(), model::kSilentVolume);
  EXPECT_TRUE(w->button_at(g.stop.center())->on());
  click(w, g.mute.center());  // unmuted while paused
  EXPECT_FALSE(cam(1).muted());
  click(w, g.play.center());
  EXPECT_EQ(cam(1).connection_state(), model::kStatePlaying);
  EXPECT_EQ(cam(1).output_volume(), 0);
  EXPECT_TRUE(w->button_at(g.play.center())->on());

  // Without a picture a snapshot does nothing, not even the sound.
  click(w, g.snapshot.center());
  EXPECT_EQ(sound.plays, 0);
}

TEST_F(PopupWindowTest, ScheduleRecordingRefusesRecordAndStopEndsIt) {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  if (t.tm_hour == 0 && t.tm_min < 3) GTEST_SKIP() << "a window that began a minute ago would begin yesterday";
  open({320});
  PopupWindow* w = open_popup(1);
  ASSERT_NE(w, nullptr);
  const P::Geometry& g = P::geometry(1);
  // An every-day window that began a minute ago: the schedule loop records.
  const int minutes = t.tm_hour * 60 + t.tm_min - 1;
  ASSERT_EQ(cam(1).recording().add_entry(record::kScheduleWindow, record::kEveryDay,
                                         (minutes / 60) * 100 + minutes % 60, 120),
            1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return cam(1).writer_open(record::kScheduleWriter); }, 5000));

  click(w, g.record.center());
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_EQ(ui->shown()[0].text, "It's recording now, please remove the schedule or motion recording first. ");
  EXPECT_EQ(ui->shown()[0].caption, "warning");
  EXPECT_FALSE(cam(1).writer_open(record::kManualWriter));

  // Stop closes the schedule's file and cancels its window; the loop does
  // not open another one, and the picture goes on.
  w->refresh();
  EXPECT_TRUE(w->recording_shown());
  click(w, g.stop.center());
  EXPECT_FALSE(cam(1).writer_open(record::kScheduleWriter));
  EXPECT_FALSE(cam(1).recording_indicator());
  EXPECT_FALSE(cam(1).recording().has_active_schedule());
  QTest::qWait(300);
  EXPECT_FALSE(cam(1).writer_open(record::kScheduleWriter));
  EXPECT_EQ(cam(1).connection_state(), model::kStatePlaying);
  // Recording by hand works again.
  click(w, g.record.center());
  EXPECT_TRUE(cam(1).writer_open(record::kManualWriter));
  click(w, g.stop.center());
}

TEST_F(PopupWindowTest, ClosingGivesThePictureBackToTheCell) {
  open({320, 320});
  PopupWindow* w = open_popup(1);
  ASSERT_NE(w, nullptr);
  click(w, P::geometry(1).close.center());
  EXPECT_EQ(popups.window(1), nullptr);
  EXPECT_FALSE(cam(1).popup());
  EXPECT_EQ(cam(1).picture_rect(), model_rect(L::kCells[0]));
  EXPECT_EQ(list().cell_look(0), model::CellLook::Live);
  QTest::qWait(10);  // the closed window is destroyed once its click is over

  // Opened again: a new window. Stopping the camera from the list closes it.
  w = open_popup(1);
  ASSERT_NE(w, nullptr);
  list().video_toggle(cam(1));
  EXPECT_EQ(popups.window(1), nullptr);
  EXPECT_FALSE(cam(1).popup());
  EXPECT_EQ(cam(1).picture_rect(), model::kOffWindowRect);

  // The main window's end closes every pop-up first.
  ASSERT_NE(open_popup(2), nullptr);
  window->shutdown();
  EXPECT_EQ(popups.window(2), nullptr);
  EXPECT_FALSE(cam(2).popup());
}

TEST_F(PopupWindowTest, ReconnectingAndRecordingLooks) {
  open({160});
  PopupWindow* w = open_popup(1);
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(w->reconnecting_shown());
  fakes.of(cam(1)).is_connected = false;
  window->refresh();
  EXPECT_TRUE(w->reconnecting_shown());
  EXPECT_FALSE(w->grab().isNull());  // paints without a picture
  fakes.of(cam(1)).is_connected = true;
  cam(1).recording().recording_indicator = true;
  window->refresh();
  EXPECT_FALSE(w->reconnecting_shown());
  EXPECT_TRUE(w->recording_shown());
  // "Recording...." in red inside its rectangle.
  const QImage shot = w->grab().toImage();
  const QRect text = P::geometry(0).recording_text;
  int red = 0;
  for (int y = text.top(); y <= text.bottom(); ++y) {
    for (int x = text.left(); x <= text.right(); ++x) {
      const QColor c = shot.pixelColor(x, y);
      if (c.red() > 150 && c.green() < 100) ++red;
    }
  }
  EXPECT_GT(red, 20);
  cam(1).recording().recording_indicator = false;
}

// Run with QT_SCALE_FACTOR=2 (ctest does): the frame is rendered for the
// screen's pixels, the shape stays in logical pixels.
TEST_F(PopupWindowTest, HighDpiFrameAtTheScreensRatio) {
  if (qApp->devicePixelRatio() < 2) GTEST_SKIP() << "needs QT_SCALE_FACTOR=2";
  open({160});
  PopupWindow* w = open_popup(1);
  ASSERT_NE(w, nullptr);
  const QPixmap shot = w->grab();
  EXPECT_EQ(shot.size(), QSize(410, 528));
  EXPECT_EQ(w->artwork_ratio(), 2);
  EXPECT_FALSE(w->mask().contains(QPoint(0, 0)));
  EXPECT_TRUE(w->mask().contains(QPoint(100, 130)));
}

}  // namespace
}  // namespace ui
