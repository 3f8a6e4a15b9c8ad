// The player's window on Qt's offscreen platform, with the virtual sound
// device: what it shows is the engine's picture at its own size, its
// buttons and position bar drive the engine, a snapshot is a JPEG that
// libjpeg (through Qt) reads back, and a file that is not a recording gives
// a message box, whether it is text, empty or a FIFO.
#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "player/engine/recording_texts.h"
#include "player/ui/player_window.h"
#include "player_test_util.h"
#include "viewer/platform/sound_device.h"

namespace {

using namespace playertest;
using player::ui::PlayerWindow;

class PlayerWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_player_window";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
    media::init_YUV2RGB_tab();
  }
  static void TearDownTestSuite() {
    platform::release_sound_device();
    app_.reset();
  }

  // Clicks the middle of a control's rectangle, as a user would.
  static void click(PlayerWindow& w, const player::ui::Box& b, int x_in_box = -1) {
    const QPoint at(x_in_box < 0 ? b.center_x() : b.x + x_in_box, b.center_y());
    QWidget* target = w.childAt(at);
    ASSERT_NE(target, nullptr);
    QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, target->mapFrom(&w, at));
  }

  static std::unique_ptr<QApplication> app_;
  TempDir dir_{"player-window"};
};

std::unique_ptr<QApplication> PlayerWindowTest::app_;

TEST_F(PlayerWindowTest, ShowsThePictureAndItsControlsDriveTheEngine) {
  const clipkit::Clip clip = load_clip("qvga");
  std::filesystem::create_directories(dir_.file("rec/00a0b1c2d3e4"));
  std::filesystem::create_directories(dir_.file("shots"));
  const std::string file = write_clip_file(dir_, "rec/00a0b1c2d3e4/LAN_20240501_100000.asf", clip, 6000);
  ASSERT_TRUE(
      test_support::write_text(dir_.file("param.dat"), "SnapshotPath=" + dir_.file("shots") + "\nJpegRatio=90\n"));

  PlayerWindow window(dir_.path());
  ASSERT_TRUE(window.open(QString::fromStdString(file)));
  window.show();
  EXPECT_EQ(window.windowTitle().toStdString(), "00a0b1c2d3e4: LAN_20240501_100000.asf - asfplay");
  player::Engine& engine = window.engine();
  QTRY_VERIFY_WITH_TIMEOUT(engine.status().pictures > 3, 10000);
  EXPECT_TRUE(engine.status().playing);

  // Pause: the picture stays, and the window shows exactly it, at its own size.
  click(window, window.layout().play);
  QTRY_VERIFY_WITH_TIMEOUT(!engine.status().playing, 5000);
  QTRY_COMPARE_WITH_TIMEOUT(window.findChild<QPushButton*>(QStringLiteral("play"))->text(), QStringLiteral("Play"),
                            5000);
  QTest::qWait(100);
  const player::ui::Box b = player::ui::picture_box(window.layout().video, 320, 240);
  EXPECT_EQ(b.w, 320);
  const QImage grabbed = window.grab(QRect(b.x, b.y, b.w, b.h)).toImage();
  ASSERT_EQ(grabbed.size(), QSize(320, 240));
  int differ = 0;
  ASSERT_TRUE(engine.with_picture([&](const player::PresentedPicture& p) {
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        const std::uint8_t* bgr = p.rgb + (static_cast<std::size_t>(p.height - 1 - y) * p.width + x) * 3;
        if (grabbed.pixel(x, y) != qRgb(bgr[2], bgr[1], bgr[0])) ++differ;
      }
  }));
  EXPECT_EQ(differ, 0) << "pixels of the window differ from the engine's picture";

  // The position bar: a click at 3.5 s shows the key frame of 3 s.
  const std::int64_t duration = engine.status().duration_ms;
  ASSERT_GT(duration, 5000);
  const int x = player::ui::bar_x_for(window.layout(), 3500, duration);
  click(window, window.layout().position_bar, x);
  QTRY_COMPARE_WITH_TIMEOUT(engine.status().position_ms, std::int64_t{3000}, 5000);
  // Step: the next picture, 40 ms on.
  click(window, window.layout().step);
  QTRY_COMPARE_WITH_TIMEOUT(engine.status().position_ms, std::int64_t{3040}, 5000);
  EXPECT_FALSE(engine.status().playing);

  // Speed: 1x, 2x, 4x, 8x and round again.
  for (int expected : {2, 4, 8, 1}) {
    click(window, window.layout().speed);
    QTRY_COMPARE_WITH_TIMEOUT(engine.status().speed, expected, 5000);
  }

  // Snapshot: SnapshotPath / camera folder / a JPEG of the picture shown.
  click(window, window.layout().snapshot);
  EXPECT_TRUE(window.status_text().startsWith(QStringLiteral("Snapshot saved: ")))
      << window.status_text().toStdString();
  const QString path = window.status_text().mid(16);
  EXPECT_TRUE(path.startsWith(QString::fromStdString(dir_.file("shots/00a0b1c2d3e4/"))));
  QImage jpeg;
  ASSERT_TRUE(jpeg.load(path, "JPEG")) << path.toStdString();
  EXPECT_EQ(jpeg.size(), QSize(320, 240));

  // Play again to the end.
  engine.set_speed(8);
  click(window, window.layout().play);
  QTRY_VERIFY_WITH_TIMEOUT(engine.status().at_end, 10000);
  QTRY_COMPARE_WITH_TIMEOUT(window.findChild<QPushButton*>(QStringLiteral("play"))->text(), QStringLiteral("Play"),
                            5000);
}

TEST_F(PlayerWindowTest, WhatIsNotARecordingGivesAMessageBox) {
  ASSERT_TRUE(test_support::write_text(dir_.file("notes.asf"), "plain text, not a recording\n"));
  ASSERT_TRUE(test_support::write_text(dir_.file("empty.asf"), ""));
  ASSERT_EQ(::mkfifo(dir_.file("pipe.asf").c_str(), 0600), 0);
  const std::pair<const char*, const char*> cases[] = {
      {"notes.asf", "is not a camera recording"},
      {"empty.asf", "is empty"},
      {"pipe.asf", "is not a file that can be played"},
      {"missing.asf", "Cannot open"},
  };
  for (const auto& [name, words] : cases) {
    PlayerWindow window(dir_.path());
    QString text;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        text = box->text();
        box->accept();
      }
    });
    timer.start(20);
    EXPECT_FALSE(window.open(QString::fromStdString(dir_.file(name)))) << name;
    EXPECT_TRUE(text.contains(QString::fromLatin1(words))) << name << ": " << text.toStdString();
  }

  // A recording's header over garbage opens, plays through, and then says
  // that nothing could be shown.
  const clipkit::Clip clip = load_clip("small");
  std::vector<std::uint8_t> bytes = read_bytes(write_clip_file(dir_, "small.asf", clip));
  std::fill(bytes.begin() + clipkit::kHeaderObjectBytesAv + clipkit::kDataObjectStartBytes, bytes.end(), 0x5A);
  ASSERT_TRUE(write_bytes(dir_.file("broken.asf"), bytes.data(), bytes.size()));
  PlayerWindow window(dir_.path());
  ASSERT_TRUE(window.open(QString::fromStdString(dir_.file("broken.asf"))));
  window.show();
  QMessageBox* box = nullptr;
  QTRY_VERIFY_WITH_TIMEOUT((box = window.findChild<QMessageBox*>()) != nullptr && box->isVisible(), 10000);
  EXPECT_TRUE(box->text().contains(QStringLiteral("could be decoded"))) << box->text().toStdString();
}

}  // namespace
