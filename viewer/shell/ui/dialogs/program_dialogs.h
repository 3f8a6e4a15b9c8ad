// The program's dialogs behind the main window's panel buttons: camera
// (add and change), schedule, motion detection, saved files and utility
// settings, each modal over the main window and bound to the core.
//
// Lives as long as the main window (and a little longer): it owns the
// worker threads of the dialogs' slow parts, so that work a closed dialog
// left behind is still joined.
//
// User-interface thread only.
#pragma once

#include "viewer/shell/model/background_work.h"
#include "viewer/shell/ui/dialogs/desktop_files.h"
#include "viewer/shell/ui/window_parts.h"

namespace model {
class ViewerCore;
}

namespace ui {

class ProgramDialogs final : public DialogHost {
 public:
  ProgramDialogs() = default;
  // Waits for work still running (a search of a closed dialog, say).
  ~ProgramDialogs() override;
  ProgramDialogs(const ProgramDialogs&) = delete;
  ProgramDialogs& operator=(const ProgramDialogs&) = delete;

  // The core the dialogs work on (the main window's); nullptr: none, and
  // the dialogs do nothing.
  void attach(model::ViewerCore* core) { core_ = core; }

  bool utility_settings(QWidget* parent) override;
  bool camera_dialog(QWidget* parent, model::Camera* camera) override;
  bool schedule_dialog(QWidget* parent, model::Camera& camera) override;
  bool motion_dialog(QWidget* parent, model::Camera& camera) override;
  void saved_files(QWidget* parent) override;

  model::BackgroundWork& work() { return work_; }

 private:
  bool entries_dialog(QWidget* parent, model::Camera& camera, int kind);

  model::ViewerCore* core_ = nullptr;
  DesktopFiles desktop_;
  // Last: its threads end before anything they might still look at.
  model::BackgroundWork work_;
};

}  // namespace ui
