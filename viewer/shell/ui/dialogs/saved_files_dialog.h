// The saved-files dialog (Recorded Videos, Motion Detection Videos,
// Snapshot Pictures) and the files dialog it opens: the recordings of one
// folder with the period of each, and Play, Delete and Explore. Thin
// windows over model::FilesModel.
//
// The files dialog walks its folder on a worker thread and shows the rows
// as they are found, so that a folder of thousands of recordings opens at
// once; closing the dialog stops the walk.
//
// User-interface thread only.
#pragma once

#include <QTreeWidget>

#include <memory>
#include <string>

#include "viewer/shell/model/saved_files_model.h"
#include "viewer/shell/ui/dialogs/house_dialog.h"

namespace model {
class BackgroundWork;
}

namespace ui {

// What both dialogs need from the program.
struct SavedFilesContext {
  std::string record_path;
  std::string motion_path;
  std::string snapshot_path;
  model::FileDesktop* desktop = nullptr;
  model::RecordingCheck being_recorded;
  model::BackgroundWork* work = nullptr;
};

class SavedFilesDialog final : public HouseDialog {
 public:
  SavedFilesDialog(QWidget* parent, SavedFilesContext context);

  // Opens the files dialog of mode 0 (recorded videos) or 1 (motion videos).
  void open_files(int mode);

 private:
  SavedFilesContext context_;
};

class FilesDialog final : public HouseDialog {
 public:
  FilesDialog(QWidget* parent, int mode, const SavedFilesContext& context);
  ~FilesDialog() override;

  QTreeWidget* list() const { return list_; }
  model::FilesModel& model() { return model_; }
  // The walk has ended (all rows shown).
  bool walk_done() const { return walk_done_; }

  // Closes the dialog (close button, Escape, Cancel).
  void reject() override;

 private:
  struct Walk;
  void start_walk(model::BackgroundWork& work);
  void take_rows();
  int selected_row() const;

  model::FilesModel model_;
  QTreeWidget* list_ = nullptr;
  std::shared_ptr<Walk> walk_;
  bool walk_done_ = false;
};

}  // namespace ui
