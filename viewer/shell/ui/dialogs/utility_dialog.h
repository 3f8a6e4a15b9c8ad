// The utility settings dialog: the recording folders with their browse
// buttons, the two recording lengths, the disk quota (total and available
// space of the recording folder's disk, the limit check box, the three
// sizes, overwrite or stop), and the two start options. A thin window over
// model::UtilitySettingsModel: every edit goes to the model and the model's
// values are shown again.
//
// User-interface thread only.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include <array>

#include "viewer/config/settings.h"
#include "viewer/shell/model/utility_settings_model.h"
#include "viewer/shell/ui/dialogs/house_dialog.h"

namespace ui {

class UtilityDialog final : public HouseDialog {
 public:
  // Edits settings: Save stores everything after its checks; Cancel and the
  // close button store the folders and the lengths.
  UtilityDialog(QWidget* parent, config::Settings& settings, model::DiskMeasure measure = model::measure_disk);

  // The controls, for tests.
  QLineEdit* folder(int index) const { return folders_[static_cast<std::size_t>(index)]; }
  QComboBox* motion_length() const { return motion_length_; }
  QComboBox* manual_length() const { return manual_length_; }
  QCheckBox* disk_limit() const { return disk_limit_; }
  QLineEdit* max_space() const { return max_; }
  QLineEdit* motion_space() const { return motion_; }
  QLineEdit* instant_space() const { return instant_; }
  QRadioButton* overwrite() const { return overwrite_; }
  QRadioButton* stop() const { return stop_; }
  QCheckBox* auto_run() const { return auto_run_; }
  QCheckBox* auto_play() const { return auto_play_; }
  const model::UtilitySettingsModel& model() const { return model_; }

  // Save as the button does; false when a check kept the dialog open.
  bool save();

  // Closes the dialog (close button, Escape, Cancel).
  void reject() override;

 protected:
  void paint_content(QPainter& painter, const QRect& dirty) override;

 private:
  void browse(int index);
  void show_model();
  void read_folders();

  config::Settings& settings_;
  model::UtilitySettingsModel model_;
  std::array<QLineEdit*, 3> folders_{};
  QComboBox* motion_length_ = nullptr;
  QComboBox* manual_length_ = nullptr;
  QCheckBox* disk_limit_ = nullptr;
  QLineEdit* max_ = nullptr;
  QLineEdit* motion_ = nullptr;
  QLineEdit* instant_ = nullptr;
  QRadioButton* overwrite_ = nullptr;
  QRadioButton* stop_ = nullptr;
  QCheckBox* auto_run_ = nullptr;
  QCheckBox* auto_play_ = nullptr;
  bool showing_ = false;
  bool closed_ = false;
};

}  // namespace ui
