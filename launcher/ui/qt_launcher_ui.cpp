#include "launcher/ui/qt_launcher_ui.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

#include "launcher/ui/information_dialog.h"

namespace launcher::ui {
namespace {

bool set(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0';
}

}  // namespace

QtLauncherUi::QtLauncherUi(int& argc, char** argv) : argc_(argc), argv_(argv) {}

QtLauncherUi::~QtLauncherUi() = default;

bool QtLauncherUi::ensure_application() {
  if (QApplication::instance() != nullptr) return true;
  if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM")) return false;
  app_ = std::make_unique<QApplication>(argc_, argv_);
  QApplication::setApplicationName(QStringLiteral("launcher"));
  QApplication::setApplicationDisplayName(QString::fromLatin1(kCaption));
  return true;
}

bool QtLauncherUi::show_information(const Information& info) {
  if (!ensure_application()) {
    std::fprintf(stderr, "%s\n%s\n", info.text.c_str(), info.link.c_str());
    return false;
  }
  InformationDialog dialog(info);
  dialog.exec();
  return dialog.make_default_chosen();
}

void QtLauncherUi::show_message(std::string_view text) {
  if (!ensure_application()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    return;
  }
  QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kCaption),
                  QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QMessageBox::Ok);
  box.exec();
}

}  // namespace launcher::ui
