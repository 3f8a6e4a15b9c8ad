// What the main window hands to the windows built beside it: the camera
// pop-up windows and the dialogs. The main window calls these at the
// moments its rules name; a part that is not there yet does nothing.
//
// Everything is called on the user-interface thread.
#pragma once

class QWidget;

namespace model {
class Camera;
class ViewerCore;
}  // namespace model

namespace ui {

class MainWindow;

// The eight camera pop-up windows.
class PopupHost {
 public:
  virtual ~PopupHost() = default;
  // Shows the camera's pop-up window for this channel; true when it is
  // shown (the camera's pictures then go there). Only asked for a running
  // camera whose stream header has arrived.
  virtual bool open(model::Camera& camera, int channel) { return false; }
  // Closes the camera's pop-up window; the window reports back through
  // CameraList::popup_closed().
  virtual void close(model::Camera& camera) {}
  // Another camera became the audible one: show this one as muted.
  virtual void muted_from_outside(model::Camera& camera) {}
  // The 50 ms picture refresh, for a camera shown in its pop-up window.
  virtual void refresh(model::Camera& camera) {}
  // The main window is going: close every pop-up window.
  virtual void close_all() {}
};

// The modal dialogs the panel buttons open. Each returns true when it
// changed something that "param.dat" keeps (settings, the camera list,
// schedules, zones), which the main window then saves at once.
class DialogHost {
 public:
  virtual ~DialogHost() = default;
  virtual bool utility_settings(QWidget* parent) { return false; }
  // camera == nullptr: add a camera; else edit it.
  virtual bool camera_dialog(QWidget* parent, model::Camera* camera) { return false; }
  virtual bool schedule_dialog(QWidget* parent, model::Camera& camera) { return false; }
  virtual bool motion_dialog(QWidget* parent, model::Camera& camera) { return false; }
  virtual void saved_files(QWidget* parent) {}
};

}  // namespace ui
