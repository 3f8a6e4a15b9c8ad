// The desktop's own ways of opening a recording and of showing a folder,
// for the saved-files browser.
//
// A player is only taken to exist when the desktop names a default
// application for the file's type (xdg-mime): starting an opener succeeds
// even when it then finds nothing to open with. A folder is shown through
// the file manager's D-Bus interface (org.freedesktop.FileManager1) where a
// file manager offers it, else through xdg-open when the desktop has a
// default application for folders. Everything is started without a shell
// and without waiting for it.
//
// User-interface thread.
#pragma once

#include <QString>
#include <QStringList>

#include "viewer/shell/model/saved_files_model.h"

namespace ui {

class DesktopFiles final : public model::FileDesktop {
 public:
  bool has_player(const std::string& path) override;
  bool open_file(const std::string& path) override;
  bool show_folder(const std::string& folder) override;

  // The mime types a file may be registered under: its own, its aliases,
  // and for recordings the ASF types (tests).
  static QStringList mime_types(const QString& path);
  // The desktop's default application for a mime type ("vlc.desktop"), or
  // empty.
  static QString default_application(const QString& mime);
};

}  // namespace ui
