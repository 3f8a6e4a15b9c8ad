// launcher: the program a person starts. Registers our recording player
// with the desktop when it is not, warns once when the desktop's player for
// .asf files would play recordings without their sound, starts `viewer` from
// its own folder and ends without waiting for anything it started. Reads no
// command-line arguments of its own.
#include "launcher/core/launch.h"
#include "launcher/core/process.h"
#include "launcher/ui/qt_launcher_ui.h"

int main(int argc, char** argv) {
  const launcher::LaunchContext ctx{launcher::own_folder(), launcher::XdgDirs::from_environment()};
  launcher::ui::QtLauncherUi ui(argc, argv);
  return launcher::run_launcher(ctx, ui);
}
