// The dialogs on the offscreen platform, driven as a user would: the
// camera dialog's test and search running on a worker thread while the
// dialog waits (and closed in the middle), the schedule and motion dialogs'
// pickers, list and zones, the files dialog filled by its walk, and the
// utility dialog's fields and rules.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QTest>

#include <filesystem>

#include "shell/fake_connection.h"
#include "support/files.h"
#include "support/loopback_server.h"
#include "viewer/platform/headless/headless_ui.h"
#include "viewer/platform/http_fetch.h"
#include "viewer/record/period_trailer.h"
#include "viewer/shell/model/background_work.h"
#include "viewer/shell/model/camera_list.h"
#include "viewer/shell/ui/dialogs/camera_dialog.h"
#include "viewer/shell/ui/dialogs/desktop_files.h"
#include "viewer/shell/ui/dialogs/saved_files_dialog.h"
#include "viewer/shell/ui/dialogs/schedule_dialog.h"
#include "viewer/shell/ui/dialogs/utility_dialog.h"

namespace ui {
namespace {

using model::CameraDialogMode;
using platform::MsgAnswer;
namespace fs = std::filesystem;

const std::string kInfoReply =
    std::string("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\ncamerainfo=Loading bay") + '\0' +
    "00:0f:a0:12:bc:ff" + '\0' + "Dock" + '\0';

std::vector<std::string> texts(platform::ScopedHeadlessUi& ui) { return ui->shown_texts(); }

void click_button(HouseDialog& dialog, const char* label) {
  skin::SkinButton* b = dialog.button(QString::fromLatin1(label));
  ASSERT_NE(b, nullptr) << label;
  ASSERT_TRUE(b->visible()) << label;
  QTest::mouseClick(&dialog, Qt::LeftButton, {}, b->rect().center());
}

class CameraDialogTest : public ::testing::Test {
 protected:
  CameraDialogTest()
      : list(fakes.factory()),
        model(
            {}, {}, [this](const model::CameraRecord& r) { return list.add_camera(r); },
            [](const model::CameraRecord&) { return 0; }) {
    [[maybe_unused]] static const bool curl = platform::http_global_init();
  }

  platform::ScopedHeadlessUi ui;
  testing_support::FakeConnections fakes;
  model::CameraList list;
  model::CameraDialogModel model;
  model::BackgroundWork work;
};

TEST_F(CameraDialogTest, TestRunsOnAWorkerWhileTheDialogWaitsThenTestAndAddLists) {
  // The camera answers its information page only after a while.
  std::atomic<bool> answer{false};
  testnet::LoopbackServer camera([&](testnet::Conn& c, int) {
    c.read_request();
    while (!answer.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    c.send(kInfoReply);
  });
  CameraDialog dialog(nullptr, model, work, CameraDialogMode::AddFound);
  dialog.show();
  click_button(dialog, "By address");
  EXPECT_EQ(model.mode(), CameraDialogMode::AddByAddress);
  EXPECT_FALSE(dialog.button("Search")->visible());
  QTest::keyClicks(dialog.field(CameraDialog::kAddress), "127.0.0.1");
  QTest::keyClicks(dialog.field(CameraDialog::kPort), QString::fromStdString(camera.port_text()));
  QTest::keyClicks(dialog.field(CameraDialog::kUser), "admin");

  click_button(dialog, "Test and Add");
  // The dialog is busy and keeps running its event loop: wait cursor,
  // controls disabled, nothing filled in yet.
  ASSERT_TRUE(dialog.busy());
  EXPECT_EQ(dialog.cursor().shape(), Qt::WaitCursor);
  EXPECT_FALSE(dialog.field(CameraDialog::kAddress)->isEnabled());
  EXPECT_FALSE(dialog.result_list()->isEnabled());
  QTest::qWait(100);
  EXPECT_TRUE(dialog.busy());
  EXPECT_EQ(dialog.field(CameraDialog::kName)->text(), "");
  // A second command while busy does nothing.
  click_button(dialog, "Clear");
  EXPECT_EQ(dialog.field(CameraDialog::kAddress)->text(), "127.0.0.1");

  answer.store(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.busy(); }, 10000));
  EXPECT_TRUE(dialog.field(CameraDialog::kAddress)->isEnabled());
  EXPECT_EQ(dialog.field(CameraDialog::kName)->text(), "Dock");
  EXPECT_EQ(dialog.field(CameraDialog::kMac)->text(), "000fa012bcff");
  EXPECT_EQ(dialog.field(CameraDialog::kDescription)->text(), "Loading bay");
  ASSERT_EQ(dialog.result_list()->count(), 1);
  EXPECT_EQ(dialog.result_list()->item(0)->text(), "Connection successful.");
  EXPECT_EQ(texts(ui), std::vector<std::string>{"Camera added successfully to list"});
  ASSERT_EQ(list.count(), 1);
  EXPECT_EQ(list.camera_at(1)->record().location, 1);
  EXPECT_EQ(list.camera_at(1)->record().user, "admin");
  EXPECT_TRUE(dialog.changed());
}

TEST_F(CameraDialogTest, ClosingDuringATestCancelsItAndDeliversNothing) {
  // A camera that accepts and never answers: the fetch would wait 30 s.
  testnet::LoopbackServer silent([](testnet::Conn& c, int) { c.hold(); });
  {
    CameraDialog dialog(nullptr, model, work, CameraDialogMode::AddFound);
    dialog.show();
    click_button(dialog, "By address");
    QTest::keyClicks(dialog.field(CameraDialog::kAddress), "127.0.0.1");
    QTest::keyClicks(dialog.field(CameraDialog::kPort), QString::fromStdString(silent.port_text()));
    click_button(dialog, "Test");
    ASSERT_TRUE(dialog.busy());
    ASSERT_TRUE(silent.wait_connections(1, 5000));
    // The close button works while busy.
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(dialog.width() - 24, 22));
    EXPECT_FALSE(dialog.isVisible());
  }
  // The fetch was cancelled: the worker ends at once, and its result,
  // posted to a dialog that is gone, changes nothing.
  ASSERT_TRUE(QTest::qWaitFor([&] { return work.reap() == 0; }, 3000));
  QTest::qWait(50);
  EXPECT_TRUE(model.result_list().empty());
  EXPECT_TRUE(texts(ui).empty());
}

TEST_F(CameraDialogTest, EditModesShowTestAndSaveWithTheTabsOff) {
  model::CameraRecord camera = testing_support::camera_record(3, 1);
  CameraDialog dialog(nullptr, model, work, CameraDialogMode::EditInternet, &camera);
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "Change Camera Settings");
  EXPECT_EQ(dialog.field(CameraDialog::kName)->text(), "cam3");
  EXPECT_FALSE(dialog.field(CameraDialog::kName)->isEnabled());
  EXPECT_TRUE(dialog.field(CameraDialog::kMac)->isReadOnly());
  EXPECT_FALSE(dialog.field(CameraDialog::kAddress)->isReadOnly());
  EXPECT_TRUE(dialog.button("Save")->visible());
  EXPECT_TRUE(dialog.button("Test")->visible());
  EXPECT_FALSE(dialog.button("Add")->visible());
  EXPECT_FALSE(dialog.button_enabled(dialog.button("Local network")));
  click_button(dialog, "Local network");
  EXPECT_EQ(model.mode(), CameraDialogMode::EditInternet);
  EXPECT_EQ(dialog.field(CameraDialog::kPassword)->echoMode(), QLineEdit::Password);
}

class EntriesDialogTest : public ::testing::Test {
 protected:
  EntriesDialogTest() : list(fakes.factory()) {
    EXPECT_EQ(list.add_camera(testing_support::camera_record(1)), 1);
    camera = list.camera_at(1);
  }
  platform::ScopedHeadlessUi ui;
  testing_support::FakeConnections fakes;
  model::CameraList list;
  model::Camera* camera = nullptr;
};

TEST_F(EntriesDialogTest, PickersListAndDelete) {
  ASSERT_EQ(camera->recording().add_entry(0, 20251224, 2330, 90), 1);
  model::ScheduleDialogModel model(*camera, record::kScheduleWindow);
  ScheduleDialog dialog(nullptr, model, *camera);
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "Scheduled recordings");
  ASSERT_EQ(dialog.list()->topLevelItemCount(), 1);
  const QTreeWidgetItem* row = dialog.list()->topLevelItem(0);
  EXPECT_EQ(row->text(0), "2025/12/24");
  EXPECT_EQ(row->text(1), "23:30");
  EXPECT_EQ(row->text(2), "01:30");
  EXPECT_EQ(dialog.list()->headerItem()->text(1), "Start Time");
  const QFontMetrics fm(dialog.list()->header()->font());
  EXPECT_EQ(dialog.list()->columnWidth(2), fm.horizontalAdvance("Duration") + 15);

  // Nothing chosen yet; the date only with "One Time"; the duration picker
  // from 00:03 to 23:59, opening at 00:03.
  EXPECT_EQ(dialog.frequency()->currentIndex(), -1);
  EXPECT_EQ(dialog.frequency()->count(), 11);
  EXPECT_FALSE(dialog.date()->isVisible());
  EXPECT_EQ(dialog.duration()->time(), QTime(0, 3));
  EXPECT_EQ(dialog.duration()->minimumTime(), QTime(0, 3));
  EXPECT_EQ(dialog.duration()->maximumTime(), QTime(23, 59));
  EXPECT_EQ(dialog.start_time()->displayFormat(), "HH:mm");
  click_button(dialog, "Add");
  EXPECT_EQ(texts(ui), std::vector<std::string>{"please select frequency"});

  dialog.frequency()->setCurrentIndex(model::kOneTimePosition);
  EXPECT_TRUE(dialog.date()->isVisible());
  dialog.frequency()->setCurrentIndex(2);
  EXPECT_FALSE(dialog.date()->isVisible());
  dialog.start_time()->setTime(QTime(7, 45));
  dialog.duration()->setTime(QTime(2, 0));
  click_button(dialog, "Add");
  ASSERT_EQ(dialog.list()->topLevelItemCount(), 2);
  EXPECT_EQ(dialog.list()->topLevelItem(1)->text(0), "Mon~Fri");
  EXPECT_EQ(dialog.list()->topLevelItem(1)->text(1), "07:45");
  EXPECT_EQ(dialog.list()->topLevelItem(1)->text(2), "02:00");
  ASSERT_EQ(camera->recording().entry_count(), 2);
  EXPECT_TRUE(camera->recording().entries()[1].same_as(0, 2, 745, 120));

  // Delete acts on the selected row only.
  dialog.list()->clearSelection();
  click_button(dialog, "Delete");
  EXPECT_EQ(dialog.list()->topLevelItemCount(), 2);
  dialog.list()->setCurrentItem(dialog.list()->topLevelItem(0));
  click_button(dialog, "Delete");
  ASSERT_EQ(dialog.list()->topLevelItemCount(), 1);
  EXPECT_EQ(dialog.list()->topLevelItem(0)->text(0), "Mon~Fri");
  EXPECT_EQ(camera->recording().entry_count(), 1);
  EXPECT_TRUE(model.changed());
}

TEST_F(EntriesDialogTest, MotionZonesAreClickedOnThePictureAndAppliedByAdd) {
  model::ScheduleDialogModel model(*camera, record::kMotionWindow);
  ScheduleDialog dialog(nullptr, model, *camera);
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "Motion detection settings");
  const QRect picture = dialog.picture_rect();
  ASSERT_FALSE(picture.isEmpty());
  EXPECT_EQ(dialog.sensitivity()->currentIndex(), 2);  // a new camera: "Normal"
  EXPECT_EQ(dialog.layout_list()->currentText(), "3x3");

  // The picture is a control: a click there toggles the zone, it never
  // drags the dialog.
  QTest::mouseClick(&dialog, Qt::LeftButton, {}, picture.topLeft() + QPoint(5, 5));
  EXPECT_TRUE(model.zones().watched(0));
  QTest::mouseClick(&dialog, Qt::LeftButton, {}, picture.center());
  EXPECT_TRUE(model.zones().watched(4));
  QTest::mouseClick(&dialog, Qt::LeftButton, {}, picture.center());
  EXPECT_FALSE(model.zones().watched(4));
  dialog.layout_list()->setCurrentIndex(2);
  EXPECT_EQ(model.zones().side(), 5);
  click_button(dialog, "All on");
  EXPECT_TRUE(model.zones().watched(24));
  click_button(dialog, "All off");
  EXPECT_FALSE(model.zones().watched(0));
  QTest::mouseClick(&dialog, Qt::LeftButton, {}, picture.bottomRight() - QPoint(2, 2));
  dialog.sensitivity()->setCurrentIndex(1);

  // The cross-hatch is drawn in the watched zone only (the placeholder
  // stands in for the picture of a camera that has none).
  const QImage shot = dialog.grab().toImage();
  auto red_pixels = [&](QRect area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x) {
        const QColor c = shot.pixelColor(x, y);
        if (c.red() > 200 && c.green() < 60 && c.blue() < 60) ++n;
      }
    return n;
  };
  const QRect last(picture.left() + picture.width() * 4 / 5 + 2, picture.top() + picture.height() * 4 / 5 + 2, 40, 30);
  const QRect first(picture.left() + 2, picture.top() + 2, 40, 30);
  EXPECT_GT(red_pixels(last), 50);
  EXPECT_EQ(red_pixels(first), 0);

  EXPECT_EQ(camera->motion_settings().layout, 0);  // only Add applies them
  dialog.frequency()->setCurrentIndex(1);
  click_button(dialog, "Add");
  const model::MotionSettings applied = camera->motion_settings();
  EXPECT_EQ(applied.layout, 2);
  EXPECT_EQ(applied.sensitivity, 2);
  EXPECT_EQ(applied.flags[24], 1);
  EXPECT_EQ(applied.flags[0], 0);
  EXPECT_EQ(dialog.list()->topLevelItemCount(), 1);
  click_button(dialog, "Add");  // the same entry: still one row
  EXPECT_EQ(dialog.list()->topLevelItemCount(), 1);
}

struct FakeDesktop final : model::FileDesktop {
  std::vector<std::string> opened;
  bool has_player(const std::string&) override { return true; }
  bool open_file(const std::string& path) override {
    opened.push_back(path);
    return true;
  }
  bool show_folder(const std::string&) override { return true; }
};

TEST(FilesDialogTest, RowsComeFromTheWalkNewestFirstWithTheirPeriods) {
  platform::ScopedHeadlessUi ui;
  test_support::TempDir root;
  fs::create_directories(root / "rec/000e53000001");
  std::string with_trailer(300, 'x');
  std::uint8_t trailer[record::kPeriodTrailerSize];
  ASSERT_TRUE(record::make_period_trailer("KS2024/03/07   09:00,2024/03/07   10:00", trailer));
  with_trailer.append(reinterpret_cast<const char*>(trailer), sizeof trailer);
  ASSERT_TRUE(test_support::write_text(root / "rec/000e53000001/20240307_090000.asf", with_trailer));
  ASSERT_TRUE(test_support::write_text(root / "rec/000e53000001/20240307_100000.asf", std::string(300, 'x')));

  FakeDesktop desktop;
  model::BackgroundWork work;
  SavedFilesContext context;
  context.record_path = root / "rec";
  context.motion_path = root / "motion";
  context.desktop = &desktop;
  context.work = &work;
  FilesDialog dialog(nullptr, 0, context);
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "Recorded Videos");
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.walk_done(); }, 5000));
  QTreeWidget* list = dialog.list();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->headerItem()->text(0), "Camera Name");
  EXPECT_EQ(list->columnWidth(1), 135);
  EXPECT_EQ(list->topLevelItem(0)->text(0), "000e53000001");
  EXPECT_EQ(list->topLevelItem(0)->text(1), "20240307_100000.asf");
  EXPECT_EQ(list->topLevelItem(0)->text(2), "");
  EXPECT_EQ(list->topLevelItem(1)->text(1), "20240307_090000.asf");
  EXPECT_EQ(list->topLevelItem(1)->text(2), "2024/03/07   09:00");
  EXPECT_EQ(list->topLevelItem(1)->text(3), "2024/03/07   10:00");

  click_button(dialog, "Play");
  EXPECT_EQ(texts(ui), std::vector<std::string>{"Please select a camera"});
  list->setCurrentItem(list->topLevelItem(1));
  click_button(dialog, "Play");
  EXPECT_EQ(desktop.opened, std::vector<std::string>{root / "rec/000e53000001/20240307_090000.asf"});
  ui->script_answers({MsgAnswer::Yes});
  click_button(dialog, "Delete");
  EXPECT_EQ(list->topLevelItemCount(), 1);
  EXPECT_FALSE(fs::exists(root / "rec/000e53000001/20240307_090000.asf"));
}

TEST(FilesDialogTest, ClosingStopsABigWalk) {
  platform::ScopedHeadlessUi ui;
  test_support::TempDir root;
  fs::create_directories(root / "rec/cam");
  for (int i = 0; i < 3000; ++i) {
    ASSERT_TRUE(test_support::write_text(root / ("rec/cam/" + std::to_string(100000 + i) + ".asf"), "x"));
  }
  FakeDesktop desktop;
  model::BackgroundWork work;
  SavedFilesContext context;
  context.record_path = root / "rec";
  context.desktop = &desktop;
  context.work = &work;
  {
    FilesDialog dialog(nullptr, 0, context);
    dialog.show();
    dialog.reject();
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return work.reap() == 0; }, 5000));
  QTest::qWait(20);  // whatever it posted reaches nobody
}

TEST(UtilityDialogTest, FieldsFollowTheRulesAndSaveStores) {
  platform::ScopedHeadlessUi ui;
  test_support::TempDir root;
  config::Settings settings;
  settings.RecordPath = root / "Record";
  settings.MotionPath = root / "Motion";
  settings.SnapshotPath = root / "Snapshot";
  settings.MotionTime = 7;  // no entry has it
  settings.InstanceTime = 60;
  settings.DiskLimit = 0;
  settings.MaxSpace = 500;
  settings.MaxMotSpace = 100;
  settings.MaxInsSpace = 400;
  settings.AutoRun = 0;
  settings.AutoPlay = 1;
  UtilityDialog dialog(nullptr, settings, [](const std::string&) { return model::DiskSpace{4000, 2500}; });
  dialog.show();
  EXPECT_EQ(dialog.size(), QSize(350, 497));
  EXPECT_EQ(dialog.folder(0)->text().toStdString(), root / "Record");
  EXPECT_EQ(dialog.motion_length()->currentIndex(), -1);
  EXPECT_EQ(dialog.manual_length()->currentText(), "1 hrs");
  EXPECT_EQ(dialog.manual_length()->itemText(10), "24 hrs");
  EXPECT_FALSE(dialog.disk_limit()->isChecked());
  EXPECT_FALSE(dialog.max_space()->isEnabled());
  EXPECT_FALSE(dialog.stop()->isEnabled());
  EXPECT_TRUE(dialog.auto_play()->isChecked());
  EXPECT_EQ(dialog.overwrite()->text(), "Overwrite oldest file.");

  QTest::mouseClick(dialog.disk_limit(), Qt::LeftButton, {}, QPoint(6, dialog.disk_limit()->height() / 2));
  EXPECT_TRUE(dialog.disk_limit()->isChecked());
  EXPECT_TRUE(dialog.max_space()->isEnabled());
  EXPECT_TRUE(dialog.instant_space()->isReadOnly());
  // Only digits go in; the motion space stays within the maximum.
  dialog.motion_space()->selectAll();
  QTest::keyClicks(dialog.motion_space(), "-9x900");
  EXPECT_EQ(dialog.motion_space()->text(), "500");
  EXPECT_EQ(dialog.instant_space()->text(), "0");
  dialog.motion_space()->selectAll();
  QTest::keyClicks(dialog.motion_space(), "200");
  EXPECT_EQ(dialog.instant_space()->text(), "300");

  // Too much for the disk: told, nothing stored, the dialog stays.
  dialog.max_space()->selectAll();
  QTest::keyClicks(dialog.max_space(), "3000");
  EXPECT_FALSE(dialog.save());
  EXPECT_EQ(texts(ui), std::vector<std::string>{"free space is not enough!"});
  EXPECT_EQ(settings.DiskLimit, 0);

  dialog.max_space()->selectAll();
  QTest::keyClicks(dialog.max_space(), "2000");
  dialog.folder(1)->selectAll();
  QTest::keyClicks(dialog.folder(1), QString::fromStdString(root / "elsewhere"));
  dialog.manual_length()->setCurrentIndex(2);
  emit dialog.manual_length()->activated(2);
  QTest::mouseClick(dialog.stop(), Qt::LeftButton, {}, QPoint(6, dialog.stop()->height() / 2));
  ASSERT_TRUE(dialog.save());
  EXPECT_EQ(settings.DiskLimit, 1);
  EXPECT_EQ(settings.MaxSpace, 2000);
  EXPECT_EQ(settings.MaxMotSpace, 200);
  EXPECT_EQ(settings.MaxInsSpace, 1800);
  EXPECT_EQ(settings.WriteStop, 1);
  EXPECT_EQ(settings.MotionPath, root / "elsewhere");
  EXPECT_EQ(settings.MotionTime, 1);
  EXPECT_EQ(settings.InstanceTime, 10);
  EXPECT_TRUE(fs::is_directory(root / "elsewhere"));
}

// The desktop's services, standing in on PATH: xdg-mime names a player for
// the ASF types and, once told, a file manager; xdg-open notes its argument.
class DesktopFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_path_ = qgetenv("PATH");
    old_bus_ = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");  // no file manager on a bus here
    ASSERT_TRUE(test_support::write_text(bin / "xdg-mime",
                                         "#!/bin/sh\n[ \"$1 $2\" = 'query default' ] || exit 1\ncase \"$3\" in\n"
                                         "video/x-ms-asf) echo player.desktop ;;\n"
                                         "inode/directory) [ -f '" +
                                             (bin / "has-files") + "' ] && echo files.desktop ;;\nesac\nexit 0\n"));
    ASSERT_TRUE(
        test_support::write_text(bin / "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + (bin / "opened") + "'\n"));
    fs::permissions(bin / "xdg-mime", fs::perms::owner_all);
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    qputenv("PATH", QByteArray::fromStdString(bin.path()) + ":" + old_path_);
  }
  void TearDown() override {
    qputenv("PATH", old_path_);
    if (!old_bus_.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", old_bus_);
  }
  std::string opened() {
    std::string text;
    (void)QTest::qWaitFor([&] { return !(text = test_support::read_text(bin / "opened")).empty(); }, 5000);
    return text;
  }

  test_support::TempDir bin;
  QByteArray old_path_, old_bus_;
  DesktopFiles desktop;
};

TEST_F(DesktopFilesTest, APlayerOrAFileManagerOnlyWhenTheDesktopNamesOne) {
  EXPECT_TRUE(DesktopFiles::mime_types("/r/x.asf.bak").contains("video/x-ms-asf"));
  EXPECT_EQ(DesktopFiles::default_application("video/x-ms-asf"), "player.desktop");
  EXPECT_TRUE(desktop.has_player("/r/cam/20240307_090000.asf"));
  EXPECT_FALSE(desktop.has_player("/r/cam/notes.txt"));

  EXPECT_TRUE(desktop.open_file("/r/cam/20240307_090000.asf"));
  EXPECT_EQ(opened(), "/r/cam/20240307_090000.asf");
  fs::remove(bin / "opened");

  // No application for folders: no file manager, and nothing started.
  EXPECT_FALSE(desktop.show_folder("/r/snapshots"));
  QTest::qWait(100);
  EXPECT_FALSE(fs::exists(bin / "opened"));
  ASSERT_TRUE(test_support::write_text(bin / "has-files", ""));
  EXPECT_TRUE(desktop.show_folder("/r/snapshots"));
  EXPECT_EQ(opened(), "/r/snapshots");
}

}  // namespace
}  // namespace ui
