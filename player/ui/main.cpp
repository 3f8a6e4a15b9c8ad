// asfplay [--folder DIR] FILE
//
// Plays a camera recording (.asf) with its sound through our own
// demultiplexer and decoders, so that the sound is heard whatever players
// the desktop has. --folder names the viewer's program folder, whose
// "param.dat" tells where snapshots go (default: the folder this program
// was started from, as for the viewer).
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <string>

#include "player/engine/recording_texts.h"
#include "player/ui/player_window.h"
#include "viewer/config/settings_file.h"
#include "viewer/media/colour.h"
#include "viewer/platform/qt/qt_sound_device.h"
#include "viewer/platform/sound_device.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(player::kProgramName));
  QApplication::setDesktopFileName(QStringLiteral("asfplay"));

  std::string folder;
  std::string file;
  bool usage = false;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    const std::string a = args[i].toStdString();
    if (a == "--folder" && i + 1 < args.size()) {
      folder = args[++i].toStdString();
    } else if (file.empty() && (a.empty() || a[0] != '-' || a == "-")) {
      file = a;
    } else {
      usage = true;
    }
  }
  if (usage || file.empty()) {
    const char* text = "usage: asfplay [--folder DIR] FILE";
    std::fprintf(stderr, "%s\n", text);
    QMessageBox::warning(nullptr, QString::fromLatin1(player::kProgramName),
                         QStringLiteral("Give the recording to play: asfplay FILE"));
    return 2;
  }
  if (folder.empty()) folder = config::discover_program_folder(config::default_start_folder());

  platform::install_qt_sound_device();
  media::init_YUV2RGB_tab();
  int status = 1;
  {
    player::ui::PlayerWindow window(folder);
    if (window.open(QString::fromStdString(file))) {
      window.show();
      status = QApplication::exec();
    }
  }
  // Every sound buffer went with the window; the device goes before Qt.
  platform::release_sound_device();
  media::delete_YUV2RGB_tab();
  return status;
}
