#include "viewer/shell/ui/dialogs/utility_dialog.h"

#include <QFileDialog>
#include <QPainter>
#include <QRegularExpressionValidator>

#include "viewer/shell/skin/fonts.h"
#include "viewer/shell/skin/palette.h"

namespace ui {
namespace {

constexpr QSize kSize(350, 497);
constexpr QRect kClose(310, 15, 20, 20);
constexpr QRect kSave(122, 461, 50, 19);
constexpr QRect kCancel(182, 461, 50, 19);
constexpr QRect kTotalText(70, 245, 84, 17);
constexpr QRect kAvailableText(105, 262, 49, 17);

const char* const kFolderLabels[] = {"Recordings", "Motion detection recordings", "Snapshots"};

QString qs(const std::string& s) { return QString::fromStdString(s); }

void set_text(QLineEdit* edit, const std::string& text) {
  if (edit->text() != qs(text)) edit->setText(qs(text));
}

}  // namespace

UtilityDialog::UtilityDialog(QWidget* parent, config::Settings& settings, model::DiskMeasure measure)
    : HouseDialog(parent, kSize, QStringLiteral("Utility Settings"), QStringLiteral("dialog_utility")),
      settings_(settings),
      model_(settings, std::move(measure)) {
  add_close_button(kClose, QStringLiteral("Close"));

  add_group(QRect(14, 50, 322, 138), QStringLiteral("Directory"));
  for (int i = 0; i < 3; ++i) {
    const int y = 58 + 42 * i;
    add_label(QRect(24, y, 290, 16), QLatin1String(kFolderLabels[i]));
    auto* edit = new QLineEdit(this);
    edit->setGeometry(24, y + 16, 262, 22);
    folders_[static_cast<std::size_t>(i)] = edit;
    connect(edit, &QLineEdit::textEdited, this, [this] { read_folders(); });
    add_button_labelled(QRect(292, y + 16, 34, 22), QStringLiteral("..."), [this, i] { browse(i); });
  }

  add_group(QRect(14, 198, 322, 36), QStringLiteral("Recording time frame"));
  add_label(QRect(24, 206, 50, 22), QStringLiteral("Motion"));
  motion_length_ = new QComboBox(this);
  motion_length_->setGeometry(76, 206, 90, 22);
  for (const model::LengthChoice& c : model::kMotionLengths) motion_length_->addItem(QLatin1String(c.text));
  add_label(QRect(176, 206, 54, 22), QStringLiteral("Manual"));
  manual_length_ = new QComboBox(this);
  manual_length_->setGeometry(232, 206, 94, 22);
  for (const model::LengthChoice& c : model::kManualLengths) manual_length_->addItem(QLatin1String(c.text));
  connect(motion_length_, &QComboBox::activated, this, [this](int i) { model_.choose_motion(i); });
  connect(manual_length_, &QComboBox::activated, this, [this](int i) { model_.choose_manual(i); });

  add_group(QRect(14, 240, 322, 160), QString());
  add_label(QRect(24, 245, 46, 17), QStringLiteral("Total"));
  add_label(QRect(24, 262, 60, 17), QStringLiteral("Free"));
  add_label(QRect(170, 245, 156, 17), QStringLiteral("Disk allocation"), Qt::AlignRight | Qt::AlignVCenter);
  disk_limit_ = new QCheckBox(QStringLiteral("Limit the recording space"), this);
  disk_limit_->setGeometry(24, 282, 300, 20);
  connect(disk_limit_, &QCheckBox::clicked, this, [this](bool on) {
    model_.set_disk_limit(on);
    show_model();
  });

  auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), this);
  const char* const space_labels[] = {"Maximum space (MB)", "Motion detection space (MB)",
                                      "Instant and schedule space (MB)"};
  QLineEdit** space_edits[] = {&max_, &motion_, &instant_};
  for (int i = 0; i < 3; ++i) {
    const int y = 304 + 24 * i;
    add_label(QRect(24, y, 200, 22), QLatin1String(space_labels[i]));
    auto* edit = new QLineEdit(this);
    edit->setGeometry(230, y, 96, 22);
    edit->setValidator(digits);
    *space_edits[i] = edit;
  }
  instant_->setReadOnly(true);
  connect(max_, &QLineEdit::textEdited, this, [this](const QString& t) {
    model_.set_max_text(t.toStdString());
    show_model();
  });
  connect(motion_, &QLineEdit::textEdited, this, [this](const QString& t) {
    model_.set_motion_text(t.toStdString());
    show_model();
  });

  overwrite_ = new QRadioButton(QLatin1String(model::kOverwriteOldest), this);
  overwrite_->setGeometry(24, 378, 160, 20);
  stop_ = new QRadioButton(QLatin1String(model::kStopRecording), this);
  stop_->setGeometry(190, 378, 136, 20);
  connect(stop_, &QRadioButton::toggled, this, [this](bool on) {
    if (!showing_) model_.write_stop = on;
  });

  add_group(QRect(14, 406, 322, 48), QString());
  auto_run_ = new QCheckBox(QStringLiteral("Start the program when I log in"), this);
  auto_run_->setGeometry(24, 412, 300, 18);
  auto_play_ = new QCheckBox(QStringLiteral("Start video streaming at start-up"), this);
  auto_play_->setGeometry(24, 432, 300, 18);
  connect(auto_run_, &QCheckBox::toggled, this, [this](bool on) {
    if (!showing_) model_.auto_run = on;
  });
  connect(auto_play_, &QCheckBox::toggled, this, [this](bool on) {
    if (!showing_) model_.auto_play = on;
  });

  add_button_labelled(
      kSave, QStringLiteral("Save"), [this] { (void)save(); }, 13);
  add_button_labelled(
      kCancel, QStringLiteral("Cancel"), [this] { reject(); }, 13);
  show_model();
}

void UtilityDialog::read_folders() {
  model_.motion_path = folders_[1]->text().toStdString();
  model_.snapshot_path = folders_[2]->text().toStdString();
  const std::string record = folders_[0]->text().toStdString();
  if (record != model_.record_path) {
    model_.set_record_path(record);
    update(kTotalText.united(kAvailableText));
  }
}

void UtilityDialog::browse(int index) {
  QLineEdit* edit = folders_[static_cast<std::size_t>(index)];
  const QString chosen =
      QFileDialog::getExistingDirectory(this, QLatin1String(kFolderLabels[index]), edit->text(),
                                        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (chosen.isEmpty()) return;  // cancelled: nothing changes
  edit->setText(chosen);
  read_folders();
}

void UtilityDialog::show_model() {
  showing_ = true;
  set_text(folders_[0], model_.record_path);
  set_text(folders_[1], model_.motion_path);
  set_text(folders_[2], model_.snapshot_path);
  motion_length_->setCurrentIndex(model_.motion_index());
  manual_length_->setCurrentIndex(model_.manual_index());
  disk_limit_->setChecked(model_.disk_limit());
  const bool on = model_.quota_fields_enabled();
  max_->setEnabled(on);
  motion_->setEnabled(on);
  instant_->setEnabled(on);
  overwrite_->setEnabled(on);
  stop_->setEnabled(on);
  set_text(max_, model_.max_text);
  set_text(motion_, model_.motion_text);
  set_text(instant_, model_.instant_text);
  (model_.write_stop ? stop_ : overwrite_)->setChecked(true);
  auto_run_->setChecked(model_.auto_run);
  auto_play_->setChecked(model_.auto_play);
  showing_ = false;
}

bool UtilityDialog::save() {
  read_folders();
  if (!model_.save(settings_)) return false;
  closed_ = true;
  accept();
  return true;
}

void UtilityDialog::reject() {
  // Cancel and the close button keep the folders and the lengths.
  if (!closed_) {
    read_folders();
    model_.cancel(settings_);
    closed_ = true;
  }
  HouseDialog::reject();
}

void UtilityDialog::paint_content(QPainter& painter, const QRect& dirty) {
  if (!dirty.intersects(kTotalText.united(kAvailableText))) return;
  painter.save();
  painter.setFont(skin::font(12, 500));
  painter.setPen(skin::kTextBright);
  const model::DiskSpace& disk = model_.disk();
  // Right-aligned; a number wider than its place runs on to the left.
  const int align = Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip;
  painter.drawText(kTotalText, align, qs(model::megabytes_text(disk.total_mb)));
  painter.drawText(kAvailableText, align, qs(model::megabytes_text(disk.available_mb)));
  painter.restore();
}

}  // namespace ui
