// The schedule dialog (a camera's recording windows) and the motion
// detection dialog (its motion windows, zones and sensitivity): the list of
// entries with its three columns, the frequency list, the date picker shown
// only for "One Time", the start and duration pickers, Add and Delete; the
// motion dialog adds the zone layout list, the camera's still picture
// divided into its zones (a click toggles one), all-on and all-off, and the
// sensitivity list. A thin window over model::ScheduleDialogModel.
//
// User-interface thread only.
#pragma once

#include <QComboBox>
#include <QDateEdit>
#include <QImage>
#include <QTimeEdit>
#include <QTreeWidget>

#include "viewer/shell/model/schedule_dialog_model.h"
#include "viewer/shell/ui/dialogs/house_dialog.h"

namespace model {
class Camera;
}

namespace ui {

class ScheduleDialog final : public HouseDialog {
 public:
  // The model's kind picks the dialog: record::kScheduleWindow the schedule
  // dialog, kMotionWindow the motion detection dialog (which takes the
  // camera's still picture now).
  ScheduleDialog(QWidget* parent, model::ScheduleDialogModel& model, model::Camera& camera);

  // The controls, for tests.
  QTreeWidget* list() const { return list_; }
  QComboBox* frequency() const { return frequency_; }
  QDateEdit* date() const { return date_; }
  QTimeEdit* start_time() const { return start_; }
  QTimeEdit* duration() const { return duration_; }
  QComboBox* layout_list() const { return layout_; }
  QComboBox* sensitivity() const { return sensitivity_; }
  // Where the still picture is drawn (motion dialog; empty otherwise).
  QRect picture_rect() const;
  // The picks the pickers show now.
  model::SchedulePicks picks() const;

 protected:
  void paint_content(QPainter& painter, const QRect& dirty) override;
  bool is_client(const QPoint& p) const override;
  void client_press(const QPoint& p) override;
  Qt::CursorShape cursor_at(const QPoint& p) const override;

 private:
  void fill_list();
  void add();
  void remove();
  void take_picture(model::Camera& camera);
  void paint_picture(QPainter& painter);

  model::ScheduleDialogModel& model_;
  const bool motion_;
  QTreeWidget* list_ = nullptr;
  QComboBox* frequency_ = nullptr;
  QDateEdit* date_ = nullptr;
  QTimeEdit* start_ = nullptr;
  QTimeEdit* duration_ = nullptr;
  QComboBox* layout_ = nullptr;
  QComboBox* sensitivity_ = nullptr;
  QImage picture_;  // the camera's still picture; null: the placeholder
};

}  // namespace ui
