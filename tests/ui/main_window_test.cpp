// The real main window on the offscreen platform, driven with the mouse as
// a user would, over fake camera connections: what the skin shows and says,
// scrolling the grid and the list, dragging and dropping, double clicks, the
// list's controls, the panel's buttons, "param.dat" saved after each
// change, and the pictures drawn into the cells.
#include <gtest/gtest.h>

#include <chrono>

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTest>

#include "config/test_folders.h"
#include "shell/fake_connection.h"
#include "viewer/config/key_value_reader.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/shell/model/camera.h"
#include "viewer/shell/ui/main_layout.h"
#include "viewer/shell/ui/main_window.h"
#include "viewer/shell/ui/picture_painter.h"

namespace ui {
namespace {

namespace L = layout;
using model::Camera;
using platform::MsgAnswer;

// One CamInfo record for a fake camera.
std::string cam_info(int n, int channel, bool playing) {
  char mac[16];
  std::snprintf(mac, sizeof mac, "00a0b0c0%04x", n);
  std::string zones;
  for (int z = 0; z < 25; ++z) zones += "0|";
  return "cam" + std::to_string(n) + "|127.0.0.1|80|" + mac + "|d|admin|admin|1|" + std::to_string(channel) +
         "|0|0|0|" + (playing ? "1" : "0") + "|0|1|0|" + zones + "0|3\\";
}

struct FakePopups final : PopupHost {
  int opened = 0, refreshed = 0, closed_all = 0;
  bool open(Camera&, int) override {
    ++opened;
    return true;
  }
  void refresh(Camera&) override { ++refreshed; }
  void close_all() override { ++closed_all; }
};

struct FakeDialogs final : DialogHost {
  int camera_dialogs = 0;
  Camera* edited = nullptr;
  bool camera_dialog(QWidget*, Camera* camera) override {
    ++camera_dialogs;
    edited = camera;
    return false;
  }
};

class MainWindowTest : public ::testing::Test {
 protected:
  // cameras: how many are listed; the first `playing` play on channels 1, 2, ...
  void open(int cameras, int playing) {
    std::string info;
    for (int n = 0; n < cameras; ++n) info += cam_info(n, n < playing ? n + 1 : 0, n < playing);
    testing_support::write_file(folder.file("param.dat"), "AutoPlay=1\nAutoRun=0\nCamInfo=" + info + "\n");
    MainWindowOptions options;
    options.core.connections = fakes.factory();
    options.popups = &popups;
    options.dialogs = &dialogs;
    window = std::make_unique<MainWindow>(options);
    ASSERT_TRUE(window->create(folder.path()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  model::CameraList& list() { return window->cameras(); }
  Camera& cam(int position) { return *list().camera_at(position); }
  QPoint row_point(int row) const { return L::row_name(row).center(); }

  void click(QPoint p) { QTest::mouseClick(window.get(), Qt::LeftButton, {}, p); }
  void press(QPoint p) { QTest::mousePress(window.get(), Qt::LeftButton, {}, p); }
  void release(QPoint p) { QTest::mouseRelease(window.get(), Qt::LeftButton, {}, p); }
  void drag_to(QPoint p) {
    QMouseEvent move(QEvent::MouseMove, QPointF(p), window->mapToGlobal(QPointF(p)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(window.get(), &move);
  }
  void double_click(QPoint p) {
    press(p);
    release(p);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(p), window->mapToGlobal(QPointF(p)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &dbl);
    release(p);
  }
  // The channel of each camera as "param.dat" has it now.
  std::string saved_cameras() {
    const config::KeyValueMap kv = config::parse_key_values(testing_support::read_file(folder.file("param.dat")));
    return kv.count("CamInfo") ? kv.at("CamInfo") : "";
  }
  int saved_channel(int n) {
    char mac[16];
    std::snprintf(mac, sizeof mac, "00a0b0c0%04x", n);
    const std::string text = saved_cameras();
    const auto at = text.find(mac);
    if (at == std::string::npos) return -1;
    // MAC | description | user | password | connected | channel
    std::size_t p = at;
    for (int i = 0; i < 5; ++i) p = text.find('|', p) + 1;
    return std::atoi(text.c_str() + p);
  }

  platform::ScopedHeadlessUi ui;
  testing_support::TempFolder folder;
  testing_support::FakeConnections fakes;
  FakePopups popups;
  FakeDialogs dialogs;
  std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, TheSkinItsShapeTipsAndCursor) {
  open(2, 1);
  EXPECT_EQ(window->windowTitle(), "Quorvan Viewer & Recorder");
  EXPECT_EQ(window->size(), QSize(601, 448));
  EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
  const QRegion shape = window->mask();
  EXPECT_FALSE(shape.contains(QPoint(0, 0)));
  EXPECT_FALSE(shape.contains(QPoint(600, 447)));
  EXPECT_TRUE(shape.contains(QPoint(15, 15)));
  EXPECT_TRUE(shape.contains(QPoint(300, 0)));
  for (int id = 0; id < L::kPanelButtons; ++id) {
    const QPoint p = L::kButtons[id].rect.center();
    EXPECT_EQ(window->tip_at(p).text, QLatin1String(L::kButtons[id].tip));
    EXPECT_EQ(window->cursor_at(p), Qt::PointingHandCursor) << L::kButtons[id].tip;
  }
  EXPECT_EQ(window->tip_at(row_point(5)).text, "Drag and drop the camera to a channel");
  EXPECT_EQ(window->cursor_at(QPoint(300, 20)), Qt::ArrowCursor);
  EXPECT_TRUE(window->tip_at(QPoint(300, 20)).text.isEmpty());
  EXPECT_TRUE(
      QRegularExpression("^\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d [AP]M$").match(MainWindow::clock_text()).hasMatch())
      << MainWindow::clock_text().toStdString();
  // The tray's menu (there is no tray host offscreen: it is also the
  // window's right-click menu).
  ASSERT_NE(window->tray_menu(), nullptr);
  QStringList entries;
  for (QAction* a : window->tray_menu()->actions()) entries << a->text();
  EXPECT_EQ(entries, (QStringList{"Viewer", "About", "Exit"}));
  EXPECT_EQ(window->tray_icon()->toolTip(), "Quorvan Viewer &Recorder");
}

TEST_F(MainWindowTest, TheTrackScrollsTheGridAndTheThumbDrags) {
  open(4, 4);
  EXPECT_EQ(cam(1).picture_rect(), (model::Rect{186, 100, 362, 232}));
  click(QPoint(585, 300));  // below the thumb
  EXPECT_EQ(list().grid_position(), 2);
  EXPECT_EQ(window->thumb_top(), 220);
  EXPECT_EQ(cam(1).picture_rect(), model::kOffWindowRect);
  EXPECT_EQ(cam(3).picture_rect(), (model::Rect{186, 100, 362, 232}));
  // Clicked again quickly, as a double click: a second step.
  QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(585, 300), window->mapToGlobal(QPointF(585, 300)),
                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window.get(), &dbl);
  release(QPoint(585, 300));
  EXPECT_EQ(window->thumb_top(), 264);
  click(QPoint(585, 300));  // on the thumb now: nothing
  EXPECT_EQ(list().grid_position(), 3);
  click(QPoint(585, 200));  // above
  EXPECT_EQ(list().grid_position(), 2);

  // Dragging the thumb: it follows the pointer, the grid follows the thumb.
  press(QPoint(585, 230));
  drag_to(QPoint(585, 190));
  EXPECT_EQ(window->thumb_top(), 180);
  EXPECT_EQ(list().grid_position(), 1);
  drag_to(QPoint(585, 500));
  EXPECT_EQ(window->thumb_top(), 264);
  EXPECT_EQ(list().grid_position(), 3);
  release(QPoint(585, 500));
  EXPECT_EQ(cam(1).picture_rect(), model::kOffWindowRect);
}

TEST_F(MainWindowTest, TheListPagesOnlyPastEightCameras) {
  open(8, 0);
  auto visible = [&](QRect r) {
    skin::SkinButton* b = window->button_at(r.center());
    return b != nullptr && b->rect() == r;
  };
  EXPECT_FALSE(visible(L::kListDown));
  model::CameraRecord r;
  r.name = "ninth";
  r.address = "127.0.0.1";
  r.port = "80";
  r.mac = "00a0b0c0ffff";
  ASSERT_EQ(list().add_camera(r), 1);
  EXPECT_TRUE(visible(L::kListDown));
  click(L::kListDown.center());
  EXPECT_EQ(list().list_page(), 2);
  // The first row of page two is the ninth camera.
  click(row_point(0));
  EXPECT_EQ(list().selected(), 9);
  EXPECT_EQ(list().selected_camera()->name(), "ninth");
  click(L::kListUp.center());
  click(L::kListUp.center());
  EXPECT_EQ(list().list_page(), 1);
}

TEST_F(MainWindowTest, DragAndDropOntoACellAndWhatIsNoDrop) {
  open(5, 4);
  click(QPoint(585, 300));
  click(QPoint(585, 300));  // grid position 3: channels 5 to 8, all free
  ASSERT_EQ(list().grid_position(), 3);

  // A press and release without a move selects and drops nothing.
  press(row_point(4));
  EXPECT_EQ(window->drag_state(), 1);
  release(L::kCells[0].center());
  EXPECT_EQ(window->drag_state(), 0);
  EXPECT_EQ(cam(5).channel(), 0);
  EXPECT_EQ(list().selected(), 5);

  // Dragged back onto the list: nothing.
  press(row_point(4));
  drag_to(QPoint(200, 300));
  EXPECT_EQ(window->drag_state(), 2);
  EXPECT_EQ(window->cursor_at(QPoint(200, 300)), Qt::ClosedHandCursor);
  drag_to(row_point(6));
  release(row_point(6));
  EXPECT_EQ(cam(5).channel(), 0);

  // Onto the top-left cell, channel 5: it plays there, and param.dat says
  // so. A camera slow to answer does not hold the window: nothing waits for
  // its stream (its picture comes when the stream runs).
  fakes.of(cam(5)).connects = false;
  press(row_point(4));
  drag_to(QPoint(250, 150));
  drag_to(L::kCells[0].center());
  const auto before = std::chrono::steady_clock::now();
  release(L::kCells[0].center());
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
  EXPECT_EQ(fakes.of(cam(5)).connect_waits, 0);
  EXPECT_EQ(cam(5).channel(), 5);
  EXPECT_TRUE(cam(5).running());
  EXPECT_EQ(cam(5).picture_rect(), (model::Rect{186, 100, 362, 232}));
  EXPECT_EQ(saved_channel(4), 5);

  // Onto a channel where a camera plays: refused.
  click(QPoint(585, 200));
  click(QPoint(585, 200));  // back to channels 1 to 4
  press(row_point(4));
  drag_to(L::kCells[1].center());
  release(L::kCells[1].center());
  EXPECT_EQ(cam(5).channel(), 5);
  EXPECT_EQ(list().slot(2), &cam(2));
  EXPECT_TRUE(ui->shown().empty());
}

TEST_F(MainWindowTest, DoubleClicksStartACameraAndOpenItsWindow) {
  open(5, 4);
  double_click(row_point(4));
  EXPECT_EQ(cam(5).channel(), 5);
  EXPECT_TRUE(cam(5).running());
  EXPECT_EQ(saved_channel(4), 5);
  // A cell's camera opens its pop-up window once its stream header is in.
  double_click(L::kCells[1].center());
  EXPECT_EQ(popups.opened, 0);
  fakes.of(cam(2)).header = 431;
  double_click(L::kCells[1].center());
  EXPECT_EQ(popups.opened, 1);
  EXPECT_TRUE(cam(2).popup());
  EXPECT_EQ(list().cell_look(1), model::CellLook::Popup);
  window->refresh();
  EXPECT_GE(popups.refreshed, 1);
}

TEST_F(MainWindowTest, TheRowControls) {
  open(3, 2);
  auto button = [&](QRect r) { return window->button_at(r.center()); };
  window->refresh();
  // Sound only once the stream says it carries sound.
  EXPECT_EQ(button(L::row_audio(0)), nullptr);
  fakes.of(cam(1)).header = 431;
  window->refresh();
  ASSERT_NE(button(L::row_audio(0)), nullptr);
  EXPECT_FALSE(button(L::row_audio(0))->on());  // muted
  click(L::row_audio(0).center());
  EXPECT_FALSE(cam(1).muted());
  EXPECT_TRUE(button(L::row_audio(0))->on());

  // The video toggle stops and starts the camera on its channel.
  ASSERT_NE(button(L::row_video(1)), nullptr);
  click(L::row_video(1).center());
  EXPECT_FALSE(cam(2).running());
  EXPECT_EQ(cam(2).channel(), 2);
  click(L::row_video(1).center());
  EXPECT_TRUE(cam(2).running());

  // The recording mark shows while the camera records and stops it.
  EXPECT_EQ(button(L::row_mark(1)), nullptr);
  cam(2).recording().recording_indicator = true;
  window->refresh();
  ASSERT_NE(button(L::row_mark(1)), nullptr);
  EXPECT_EQ(window->tip_at(L::row_mark(1).center()).text, "Click to stop recording.");
  EXPECT_FALSE(button(L::row_mark(1))->on());  // red, not a schedule's yellow
  click(L::row_mark(1).center());
  EXPECT_FALSE(cam(2).recording_indicator());
  window->refresh();
  EXPECT_EQ(button(L::row_mark(1)), nullptr);
}

TEST_F(MainWindowTest, PanelButtonsDeleteAddMinimizeAndExit) {
  open(3, 1);
  // Without a selection the camera buttons do nothing.
  click(L::kButtons[L::kChange].rect.center());
  EXPECT_EQ(dialogs.camera_dialogs, 0);
  click(row_point(1));
  click(L::kButtons[L::kChange].rect.center());
  EXPECT_EQ(dialogs.edited, &cam(2));

  // Delete asks, and the file loses the camera at once.
  ui->script_answers({MsgAnswer::Ok});
  click(L::kButtons[L::kDelete].rect.center());
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_EQ(ui->shown()[0].text, "cam1 will be removed from the list");
  EXPECT_EQ(list().count(), 2);
  EXPECT_EQ(saved_cameras().find("cam1|"), std::string::npos);
  EXPECT_NE(saved_cameras().find("cam2|"), std::string::npos);

  click(L::kButtons[L::kAdd].rect.center());
  EXPECT_EQ(dialogs.camera_dialogs, 2);
  EXPECT_EQ(dialogs.edited, nullptr);

  // No tray host here: Minimize minimizes instead of hiding for good.
  click(L::kButtons[L::kMinimize].rect.center());
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->isMinimized());
  window->show_from_tray();

  // A camera the stream thread reports refused is stopped.
  Camera& playing = cam(2);
  ASSERT_TRUE(cam(1).running());
  window->handle_message(platform::kMsgCameraRefused, 0, cam(1).tag());
  EXPECT_FALSE(cam(1).running());
  (void)playing;

  click(L::kButtons[L::kExit].rect.center());
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->shut_down(); }, 3000));
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(popups.closed_all, 1);
}

TEST_F(MainWindowTest, AddingBeyondAHundredTwentyEightSaysSo) {
  open(128, 0);
  click(L::kButtons[L::kAdd].rect.center());
  EXPECT_EQ(dialogs.camera_dialogs, 0);
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_EQ(ui->shown()[0].text, "can't add anymore!");
}

// A picture of w x h as the pipeline keeps it (bottom row first, blue,
// green, red) from a colour function of (x, y), y counted from the top.
template <class F>
void make_picture(media::Picture& p, int w, int h, F colour_at) {
  p.width = w;
  p.height = h;
  p.rgb.resize(static_cast<std::size_t>(3) * w * h);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = p.rgb.data() + static_cast<std::size_t>(3) * w * (h - 1 - y);
    for (int x = 0; x < w; ++x) {
      const QColor c = colour_at(x, y);
      row[3 * x] = static_cast<std::uint8_t>(c.blue());
      row[3 * x + 1] = static_cast<std::uint8_t>(c.green());
      row[3 * x + 2] = static_cast<std::uint8_t>(c.red());
    }
  }
}

TEST(PicturePainter, BottomUpPicturesStretchedAndZoomed) {
  // 32 x 16: the top half red, the bottom half blue, and the left half of
  // the top half green.
  media::Picture picture;
  make_picture(picture, 32, 16,
               [](int x, int y) { return y < 8 ? (x < 16 ? QColor(Qt::green) : QColor(Qt::red)) : QColor(Qt::blue); });
  QImage out(64, 32, QImage::Format_RGB32);
  QImage scratch;
  out.fill(Qt::black);
  {
    QPainter p(&out);
    draw_picture(p, picture, model::Rect{}, QRect(0, 0, 64, 32), &scratch);
  }
  EXPECT_EQ(QColor(out.pixel(5, 5)), QColor(Qt::green));
  EXPECT_EQ(QColor(out.pixel(60, 5)), QColor(Qt::red));
  EXPECT_EQ(QColor(out.pixel(30, 28)), QColor(Qt::blue));

  // The source area (zoom): the top-right quarter fills the target.
  out.fill(Qt::black);
  {
    QPainter p(&out);
    draw_picture(p, picture, model::Rect{16, 0, 32, 8}, QRect(0, 0, 64, 32), &scratch);
  }
  EXPECT_EQ(QColor(out.pixel(2, 2)), QColor(Qt::red));
  EXPECT_EQ(QColor(out.pixel(62, 30)), QColor(Qt::red));
  // An area outside the picture shows the whole picture.
  EXPECT_EQ(visible_source(picture, model::Rect{40, 40, 50, 50}), QRect(0, 0, 32, 16));
  EXPECT_EQ(visible_source(picture, model::Rect{20, 4, 100, 100}), QRect(20, 4, 12, 12));
  // A picture converted at half size: the area, given in the decoded
  // picture's coordinates, is halved (an odd edge keeps its last pixel).
  media::Picture half;
  half.width = picture.width;
  half.height = picture.height;
  half.rgb = picture.rgb;
  half.scale = 2;
  EXPECT_EQ(visible_source(half, model::Rect{32, 0, 64, 16}), QRect(16, 0, 16, 8));
  EXPECT_EQ(visible_source(half, model::Rect{3, 3, 9, 9}), QRect(1, 1, 4, 4));
  EXPECT_EQ(visible_source(half, model::Rect{}), QRect(0, 0, 32, 16));
}

TEST(PicturePainter, MadeSmallerEachPixelIsTheMeanOfItsBlock) {
  // 640 x 480 into 176 x 132 (3.6 source pixels per output pixel): a
  // picture with a fine checkerboard on the left and plain colours on the
  // right. The checkerboard must come out as its mean grey (no aliasing),
  // the plain parts as themselves, the top on top.
  media::Picture picture;
  make_picture(picture, 640, 480, [](int x, int y) {
    if (x < 320) return (x + y) % 2 ? QColor(Qt::white) : QColor(Qt::black);
    return y < 240 ? QColor(200, 40, 10) : QColor(10, 90, 220);
  });
  QImage out;
  scale_down(picture, QRect(0, 0, 640, 480), QSize(176, 132), &out);
  ASSERT_EQ(out.size(), QSize(176, 132));
  for (QPoint p : {QPoint(10, 10), QPoint(80, 70), QPoint(40, 120)}) {
    const QColor c = out.pixelColor(p);
    EXPECT_NEAR(c.red(), 128, 16) << p.x() << "," << p.y();
    EXPECT_EQ(c.red(), c.green());
  }
  EXPECT_EQ(out.pixelColor(150, 20), QColor(200, 40, 10));
  EXPECT_EQ(out.pixelColor(150, 120), QColor(10, 90, 220));

  // A half-size picture into the same cell (1.8 pixels per output pixel):
  // stripes one pixel wide and high still come out as their mean.
  {
    media::Picture half;
    make_picture(half, 320, 240, [](int x, int y) {
      return x % 2 == 0 && y % 2 == 0   ? QColor(Qt::white)
             : x % 2 == 1 && y % 2 == 1 ? QColor(Qt::white)
                                        : QColor(Qt::black);
    });
    QImage small;
    scale_down(half, QRect(0, 0, 320, 240), QSize(176, 132), &small);
    for (QPoint p : {QPoint(10, 10), QPoint(80, 70), QPoint(170, 127), QPoint(33, 99)})
      EXPECT_NEAR(small.pixelColor(p).red(), 128, 40) << p.x() << "," << p.y();
  }
  // Reused: the same image, no new allocation for the next picture.
  const uchar* bits = out.constBits();
  scale_down(picture, QRect(320, 0, 320, 240), QSize(176, 132), &out);
  EXPECT_EQ(out.constBits(), bits);
  EXPECT_EQ(out.pixelColor(0, 0), QColor(200, 40, 10));
  EXPECT_EQ(out.pixelColor(175, 131), QColor(200, 40, 10));
}

// Each channel of each pixel exactly: the rounded mean of the taps spread
// evenly over its block, however many taps (power-of-two counts take a
// faster path that must agree to the last bit), on noise that differs per
// channel so that one channel's sum cannot pass for another's.
TEST(PicturePainter, MadeSmallerEveryChannelIsTheRoundedMeanOfItsTaps) {
  std::uint32_t seed = 12345;
  auto noise = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int>(seed >> 24);
  };
  struct Case {
    int pw, ph, w, h;
  };
  // Taps per side: 2 x 2 (a half picture in a cell), 4 x 4, 1 x 2, 3 x 3,
  // 3 x 2, 4 x 1 and 4 x 3 (twelve taps, where halves are most often met).
  for (const Case c : {Case{320, 240, 176, 132}, Case{640, 480, 176, 132}, Case{176, 240, 176, 132},
                       Case{48, 48, 16, 16}, Case{48, 32, 16, 16}, Case{64, 16, 16, 16}, Case{64, 48, 16, 16}}) {
    SCOPED_TRACE(std::to_string(c.pw) + "x" + std::to_string(c.ph) + " into " + std::to_string(c.w) + "x" +
                 std::to_string(c.h));
    media::Picture picture;
    make_picture(picture, c.pw, c.ph, [&](int, int) { return QColor(noise(), noise(), noise()); });
    QImage out;
    scale_down(picture, QRect(0, 0, c.pw, c.ph), QSize(c.w, c.h), &out);
    const int cols = std::min(4, (c.pw + c.w - 1) / c.w), rows = std::min(4, (c.ph + c.h - 1) / c.h);
    auto taps = [](int i, int from, int to, int count) {
      const int a = i * from / to, b = (i + 1) * from / to;
      const int span = std::max(count, b - a);
      std::vector<int> at;
      for (int t = 0; t < count; ++t) at.push_back(std::min(from - 1, a + t * span / count));
      return at;
    };
    // Blue, green, red of the picture's pixel (sx, sy), sy from the top.
    auto source = [&](int sx, int sy) {
      return picture.rgb.data() + static_cast<std::size_t>(3) * (c.pw * (c.ph - 1 - sy) + sx);
    };
    int wrong = 0;
    for (int y = 0; y < c.h; ++y) {
      for (int x = 0; x < c.w; ++x) {
        int sum[3] = {0, 0, 0};
        for (int sy : taps(y, c.ph, c.h, rows))
          for (int sx : taps(x, c.pw, c.w, cols)) {
            sum[0] += source(sx, sy)[2];
            sum[1] += source(sx, sy)[1];
            sum[2] += source(sx, sy)[0];
          }
        const int n = cols * rows;
        const QColor got = out.pixelColor(x, y);
        const int want[3] = {(2 * sum[0] + n) / (2 * n), (2 * sum[1] + n) / (2 * n), (2 * sum[2] + n) / (2 * n)};
        if (got.red() != want[0] || got.green() != want[1] || got.blue() != want[2]) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

// Run with QT_SCALE_FACTOR=2 (ctest does): the skin is rendered for the
// screen's pixels, not stretched.
TEST_F(MainWindowTest, HighDpiArtworkAtTheScreensRatio) {
  if (qApp->devicePixelRatio() < 2) GTEST_SKIP() << "needs QT_SCALE_FACTOR=2";
  open(1, 1);
  const QPixmap shot = window->grab();
  EXPECT_EQ(shot.devicePixelRatio(), 2);
  EXPECT_EQ(shot.size(), QSize(1202, 896));
  EXPECT_EQ(window->artwork_ratio(), 2);
  ASSERT_NE(window->button_at(L::kButtons[L::kExit].rect.center()), nullptr);
  EXPECT_EQ(window->button_at(L::kButtons[L::kExit].rect.center())->strip().image().devicePixelRatio(), 2);
}

}  // namespace
}  // namespace ui
