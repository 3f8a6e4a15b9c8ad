// The camera dialog: add a camera found on the local network or reached by
// its address, or change a listed camera's settings. A thin window over
// model::CameraDialogModel: its edit controls are copied into the model's
// fields before each command and shown again after it.
//
// The search and the connection test run on a worker thread: meanwhile the
// dialog shows the wait cursor and its controls are disabled, while the
// main window keeps painting and the cameras keep playing. Closing the
// dialog then cancels the work (the fetch and the search stop at once; a
// name look-up is left to end on its own) and nothing is delivered to it.
//
// User-interface thread only.
#pragma once

#include <QLineEdit>
#include <QListWidget>

#include <array>
#include <memory>

#include "viewer/shell/model/camera_dialog_model.h"
#include "viewer/shell/ui/dialogs/house_dialog.h"

namespace model {
class BackgroundWork;
}

namespace ui {

class CameraDialog final : public HouseDialog {
 public:
  // mode: AddFound to add (the tabs switch to AddByAddress), EditLan or
  // EditInternet to change `editing`.
  CameraDialog(QWidget* parent, model::CameraDialogModel& model, model::BackgroundWork& work,
               model::CameraDialogMode mode, const model::CameraRecord* editing = nullptr);
  ~CameraDialog() override;

  // A camera was added or saved while the dialog was open.
  bool changed() const { return changed_; }

  // The controls, for tests.
  QLineEdit* field(int index) const { return edits_[static_cast<std::size_t>(index)]; }
  QListWidget* result_list() const { return list_; }

  // The field order of field().
  enum Field { kName, kMac, kDescription, kAddress, kPort, kUser, kPassword, kFieldCount };

  // Closes the dialog (close button, Escape, Cancel).
  void reject() override;

 protected:
  void paint_content(QPainter& painter, const QRect& dirty) override;

 private:
  struct Job;

  void read_fields();
  void show_model();
  void switch_tab(model::CameraDialogMode mode);
  void search();
  void test(bool then_add);
  void add();
  void save();
  void clear();
  void begin_job(const std::shared_ptr<Job>& job);
  void end_job();
  std::vector<QWidget*> inputs() const;

  model::CameraDialogModel& model_;
  model::BackgroundWork& work_;
  std::array<QLineEdit*, kFieldCount> edits_{};
  QListWidget* list_ = nullptr;
  skin::SkinButton* tab_found_ = nullptr;
  skin::SkinButton* tab_address_ = nullptr;
  skin::SkinButton* add_ = nullptr;
  skin::SkinButton* search_ = nullptr;
  skin::SkinButton* test_and_add_ = nullptr;
  skin::SkinButton* test_ = nullptr;
  skin::SkinButton* clear_ = nullptr;
  skin::SkinButton* save_ = nullptr;
  std::shared_ptr<Job> job_;
  bool showing_ = false;  // the model's values are being shown: no edits back
  bool changed_ = false;
};

}  // namespace ui
