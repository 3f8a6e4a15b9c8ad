#include "viewer/shell/ui/dialogs/schedule_dialog.h"

#include <QHeaderView>
#include <QPainter>

#include <vector>

#include "viewer/shell/model/camera.h"
#include "viewer/shell/skin/fonts.h"
#include "viewer/shell/skin/palette.h"

namespace ui {
namespace {

constexpr QSize kScheduleSize(400, 380);
constexpr QSize kMotionSize(660, 380);
constexpr QRect kList(20, 52, 360, 150);
constexpr int kPickerTop = 216;
constexpr int kPickerStep = 30;
constexpr QRect kPicture(400, 52, 240, 180);
constexpr const char* kTimeFormat = "HH:mm";

QString ql(const char* s) { return QString::fromLatin1(s); }

QRect picker_rect(int row) { return QRect(128, kPickerTop + row * kPickerStep, 150, 24); }
QRect picker_label(int row) { return QRect(24, kPickerTop + row * kPickerStep, 100, 24); }

}  // namespace

ScheduleDialog::ScheduleDialog(QWidget* parent, model::ScheduleDialogModel& model, model::Camera& camera)
    : HouseDialog(
          parent, model.kind() == record::kMotionWindow ? kMotionSize : kScheduleSize,
          model.kind() == record::kMotionWindow ? QStringLiteral("Motion detection settings")
                                                : QStringLiteral("Scheduled recordings"),
          model.kind() == record::kMotionWindow ? QStringLiteral("dialog_motion") : QStringLiteral("dialog_schedule")),
      model_(model),
      motion_(model.kind() == record::kMotionWindow) {
  add_close_button(QRect(width() - 34, 12, 20, 20), QStringLiteral("Close"));

  list_ = new QTreeWidget(this);
  list_->setGeometry(kList);
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setColumnCount(static_cast<int>(model::kScheduleColumns.size()));
  QStringList titles;
  for (const char* t : model::kScheduleColumns) titles << ql(t);
  list_->setHeaderLabels(titles);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionsMovable(false);
  // Each column as wide as its title and 15 pixels more.
  const QFontMetrics header_metrics(list_->header()->font());
  for (int c = 0; c < titles.size(); ++c) {
    list_->setColumnWidth(c, header_metrics.horizontalAdvance(titles[c]) + 15);
  }

  add_label(picker_label(0), QStringLiteral("Frequency"));
  frequency_ = new QComboBox(this);
  frequency_->setGeometry(picker_rect(0));
  for (const char* t : model::kFrequencyTexts) frequency_->addItem(ql(t));
  frequency_->setCurrentIndex(-1);  // "please select frequency" until one is chosen

  add_label(picker_label(1), QStringLiteral("Date"));
  date_ = new QDateEdit(QDate::currentDate(), this);
  date_->setGeometry(picker_rect(1));
  date_->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
  date_->setCalendarPopup(true);
  date_->setVisible(false);
  connect(frequency_, &QComboBox::currentIndexChanged, this, [this](int index) {
    // The date matters only for a one-time entry.
    date_->setVisible(index == model::kOneTimePosition);
    update(picker_label(1));
  });

  add_label(picker_label(2), QStringLiteral("Start Time"));
  start_ = new QTimeEdit(QTime(QTime::currentTime().hour(), QTime::currentTime().minute()), this);
  start_->setGeometry(picker_rect(2));
  start_->setDisplayFormat(ql(kTimeFormat));

  add_label(picker_label(3), QStringLiteral("Duration"));
  duration_ = new QTimeEdit(this);
  duration_->setGeometry(picker_rect(3));
  duration_->setDisplayFormat(ql(kTimeFormat));
  duration_->setTimeRange(QTime(0, model::kMinDurationMinutes),
                          QTime(model::kMaxDurationMinutes / 60, model::kMaxDurationMinutes % 60));
  duration_->setTime(QTime(0, model::kMinDurationMinutes));

  add_button_labelled(QRect(204, 342, 84, 24), QStringLiteral("Add"), [this] { add(); });
  add_button_labelled(QRect(296, 342, 84, 24), QStringLiteral("Delete"), [this] { remove(); });

  if (motion_) {
    take_picture(camera);
    const int x = kPicture.left();
    add_label(QRect(x, 246, 90, 24), QStringLiteral("Zones"));
    layout_ = new QComboBox(this);
    layout_->setGeometry(x + 96, 246, kPicture.width() - 96, 24);
    for (const char* t : model::kZoneLayoutTexts) layout_->addItem(ql(t));
    layout_->setCurrentIndex(model_.zones().layout());
    connect(layout_, &QComboBox::currentIndexChanged, this, [this](int index) {
      model_.zones().set_layout(index);
      update(kPicture);
    });
    add_button_labelled(QRect(x, 276, 116, 24), QStringLiteral("All on"), [this] {
      model_.zones().set_all(true);
      update(kPicture);
    });
    add_button_labelled(QRect(x + 124, 276, 116, 24), QStringLiteral("All off"), [this] {
      model_.zones().set_all(false);
      update(kPicture);
    });
    add_label(QRect(x, 306, 90, 24), QStringLiteral("Sensitivity"));
    sensitivity_ = new QComboBox(this);
    sensitivity_->setGeometry(x + 96, 306, kPicture.width() - 96, 24);
    for (const char* t : model::kSensitivityTexts) sensitivity_->addItem(ql(t));
    sensitivity_->setCurrentIndex(model_.zones().sensitivity_position());
    connect(sensitivity_, &QComboBox::currentIndexChanged, this,
            [this](int index) { model_.zones().set_sensitivity_position(index); });
  }
  fill_list();
}

QRect ScheduleDialog::picture_rect() const { return motion_ ? kPicture : QRect(); }

void ScheduleDialog::fill_list() {
  list_->clear();
  for (const model::ScheduleRow& row : model_.rows()) {
    list_->addTopLevelItem(
        new QTreeWidgetItem(QStringList{QString::fromStdString(row.frequency), QString::fromStdString(row.start),
                                        QString::fromStdString(row.duration)}));
  }
}

model::SchedulePicks ScheduleDialog::picks() const {
  model::SchedulePicks p;
  p.frequency = frequency_->currentIndex();
  const QDate d = date_->date();
  p.year = d.year();
  p.month = d.month();
  p.day = d.day();
  p.start_hour = start_->time().hour();
  p.start_minute = start_->time().minute();
  p.duration_hours = duration_->time().hour();
  p.duration_minutes = duration_->time().minute();
  return p;
}

void ScheduleDialog::add() {
  if (model_.add(picks())) {
    const model::ScheduleRow& row = model_.rows().back();
    list_->addTopLevelItem(
        new QTreeWidgetItem(QStringList{QString::fromStdString(row.frequency), QString::fromStdString(row.start),
                                        QString::fromStdString(row.duration)}));
  }
}

void ScheduleDialog::remove() {
  QTreeWidgetItem* item = list_->currentItem();
  if (!item || !item->isSelected()) return;  // nothing without a selection
  const int row = list_->indexOfTopLevelItem(item);
  if (model_.remove(row)) delete list_->takeTopLevelItem(row);
}

void ScheduleDialog::take_picture(model::Camera& camera) {
  std::vector<std::uint8_t> rgb;
  int w = 0, h = 0;
  if (!camera.copy_snapshot(rgb, &w, &h) || w <= 0 || h <= 0 ||
      rgb.size() < std::size_t{3} * static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {
    return;
  }
  // 24-bit BGR, bottom row first.
  picture_ = QImage(rgb.data(), w, h, w * 3, QImage::Format_BGR888).mirrored(false, true);
}

bool ScheduleDialog::is_client(const QPoint& p) const {
  return HouseDialog::is_client(p) || (motion_ && kPicture.contains(p));
}

Qt::CursorShape ScheduleDialog::cursor_at(const QPoint& p) const {
  if (motion_ && !busy() && kPicture.contains(p)) return Qt::PointingHandCursor;
  return HouseDialog::cursor_at(p);
}

void ScheduleDialog::client_press(const QPoint& p) {
  if (!motion_ || !kPicture.contains(p)) return;
  const QPoint at = p - kPicture.topLeft();
  model_.zones().toggle(model_.zones().zone_at(at.x(), at.y(), kPicture.width(), kPicture.height()));
  update(kPicture);
}

void ScheduleDialog::paint_content(QPainter& painter, const QRect& dirty) {
  if (motion_ && dirty.intersects(kPicture)) paint_picture(painter);
}

void ScheduleDialog::paint_picture(QPainter& painter) {
  painter.save();
  painter.setClipRect(kPicture);
  if (picture_.isNull()) {
    // No picture yet (the camera is off, or nothing was decoded): a neutral
    // panel, so that the zones can still be set.
    painter.fillRect(kPicture, skin::kPanel);
    painter.setPen(skin::kTextDim);
    painter.setFont(skin::font(14, 400));
    painter.drawText(kPicture, Qt::AlignCenter, QStringLiteral("No picture"));
  } else {
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(kPicture, picture_);
  }
  const model::MotionZonesEdit& zones = model_.zones();
  const int n = zones.side();
  for (int z = 0; z < n * n; ++z) {
    if (!zones.watched(z)) continue;
    const auto r = zones.zone_rect(z, kPicture.width(), kPicture.height());
    const QRect area(kPicture.left() + r[0], kPicture.top() + r[1], r[2] - r[0], r[3] - r[1]);
    painter.fillRect(area, QBrush(QColor(255, 0, 0), Qt::DiagCrossPattern));
  }
  // The grid: white one-pixel lines between the zones.
  painter.setPen(QPen(Qt::white, 1));
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (int i = 1; i < n; ++i) {
    const auto r = zones.zone_rect(i, kPicture.width(), kPicture.height());       // column i, row 0
    const auto rr = zones.zone_rect(i * n, kPicture.width(), kPicture.height());  // row i, column 0
    painter.drawLine(kPicture.left() + r[0], kPicture.top(), kPicture.left() + r[0], kPicture.bottom());
    painter.drawLine(kPicture.left(), kPicture.top() + rr[1], kPicture.right(), kPicture.top() + rr[1]);
  }
  painter.restore();
}

}  // namespace ui
