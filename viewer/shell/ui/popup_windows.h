// The eight camera pop-up windows, one per channel, as the main window
// opens and closes them (its PopupHost).
//
// A window is made when its channel's camera is opened in it and destroyed
// when it closes, by its close button, from the camera list (the camera
// stopped, deleted or dropped elsewhere) or when the main window goes.
// Closing gives the camera back: its pop-up flag is cleared and the main
// window places every picture again (its cell shows the camera).
//
// User-interface thread only. Lives longer than the main window it is
// attached to (the program declares it first).
#pragma once

#include <QPointer>

#include <array>
#include <memory>
#include <vector>

#include "viewer/shell/model/grid.h"
#include "viewer/shell/ui/window_parts.h"

namespace model {
class Camera;
class ViewerCore;
}  // namespace model

namespace ui {

class MainWindow;
class PopupWindow;

class PopupWindows final : public PopupHost {
 public:
  PopupWindows();
  ~PopupWindows() override;
  PopupWindows(const PopupWindows&) = delete;
  PopupWindows& operator=(const PopupWindows&) = delete;

  // The main window whose cameras the windows show; before the first open.
  void attach(MainWindow& main) { main_ = &main; }

  // --- PopupHost ---
  bool open(model::Camera& camera, int channel) override;
  void close(model::Camera& camera) override;
  void muted_from_outside(model::Camera& camera) override;
  void refresh(model::Camera& camera) override;
  void close_all() override;

  // The open window showing the camera, or of a channel (1 to 8); nullptr
  // when there is none.
  PopupWindow* window_of(const model::Camera& camera) const;
  PopupWindow* window(int channel) const;

  // --- what the windows ask of the program ---
  model::ViewerCore& core();
  // The camera list changed: the main window repaints it.
  void redraw_main();
  // The user changed something "param.dat" keeps (mute, volume): saved at once.
  void user_changed();
  // A window is closing: its camera goes back to the main window and the
  // window is destroyed once its own event is over.
  void closed(PopupWindow& window);

 private:
  MainWindow* main_ = nullptr;
  // Index 1 to 8.
  std::array<std::unique_ptr<PopupWindow>, model::kChannelCount + 1> windows_;
  // Closed windows, deleted later by Qt: a window may close from inside its
  // own click, or while a message box of its own runs a nested event loop,
  // and deferred deletion waits until that loop has returned. Whatever is
  // left when the program ends is deleted here.
  std::vector<QPointer<PopupWindow>> closed_;
};

}  // namespace ui
