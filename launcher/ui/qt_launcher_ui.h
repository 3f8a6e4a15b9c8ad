// The launcher's dialog and message boxes on Qt. The application object is
// made only when something has to be shown: a launcher that finds all well
// starts the viewer without opening a display. Without any display (no
// DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM) the texts go to standard
// error instead.
//
// User-interface thread (the launcher's only thread).
#pragma once

#include <memory>

#include "launcher/core/launch.h"

class QApplication;

namespace launcher::ui {

// Caption of the launcher's message boxes.
inline constexpr const char* kCaption = "Quorvan Viewer & Recorder";

class QtLauncherUi : public LauncherUi {
 public:
  // argc and argv must outlive this object (Qt keeps them).
  QtLauncherUi(int& argc, char** argv);
  ~QtLauncherUi() override;

  bool show_information(const Information& info) override;
  void show_message(std::string_view text) override;

 private:
  bool ensure_application();

  int& argc_;
  char** argv_;
  std::unique_ptr<QApplication> app_;
};

}  // namespace launcher::ui
