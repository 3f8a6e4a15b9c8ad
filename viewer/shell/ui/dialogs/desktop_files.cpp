#include "viewer/shell/ui/dialogs/desktop_files.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace ui {
namespace {

constexpr int kQueryTimeoutMs = 5000;
constexpr const char* kFileManagerService = "org.freedesktop.FileManager1";

QString qs(const std::string& s) { return QString::fromStdString(s); }

bool start_detached(const QString& program, const QStringList& arguments) {
  const QString found = QStandardPaths::findExecutable(program);
  return !found.isEmpty() && QProcess::startDetached(found, arguments);
}

bool file_manager_on_bus() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface()) return false;
  const QString service = QLatin1String(kFileManagerService);
  if (bus.interface()->isServiceRegistered(service).value()) return true;
  // A file manager that is started on demand by the bus.
  const QDBusMessage call =
      QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"));
  const QDBusMessage reply = bus.call(call, QDBus::Block, kQueryTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         reply.arguments().front().toStringList().contains(service);
}

}  // namespace

QStringList DesktopFiles::mime_types(const QString& path) {
  QStringList types;
  const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
  if (type.isValid() && !type.isDefault()) {
    types << type.name() << type.aliases();
  }
  // Our recordings are ASF files whatever further extension a copy got.
  if (path.contains(QLatin1String(".asf"))) {
    for (const char* asf : {"video/x-ms-asf", "application/vnd.ms-asf"}) {
      if (!types.contains(QLatin1String(asf))) types << QLatin1String(asf);
    }
  }
  return types;
}

QString DesktopFiles::default_application(const QString& mime) {
  const QString xdg_mime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (xdg_mime.isEmpty()) return {};
  QProcess query;
  query.setProcessChannelMode(QProcess::SeparateChannels);
  query.start(xdg_mime, {QStringLiteral("query"), QStringLiteral("default"), mime});
  if (!query.waitForFinished(kQueryTimeoutMs)) {
    query.kill();
    query.waitForFinished(1000);
    return {};
  }
  if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) return {};
  return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

bool DesktopFiles::has_player(const std::string& path) {
  for (const QString& mime : mime_types(qs(path))) {
    if (!default_application(mime).isEmpty()) return true;
  }
  return false;
}

bool DesktopFiles::open_file(const std::string& path) { return start_detached(QStringLiteral("xdg-open"), {qs(path)}); }

bool DesktopFiles::show_folder(const std::string& folder) {
  const QString uri = QUrl::fromLocalFile(qs(folder)).toString();
  if (file_manager_on_bus()) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kFileManagerService), QStringLiteral("/org/freedesktop/FileManager1"),
        QLatin1String(kFileManagerService), QStringLiteral("ShowFolders"));
    call << QStringList{uri} << QString();
    // Sent without waiting for the file manager to come up.
    if (QDBusConnection::sessionBus().send(call)) return true;
  }
  if (default_application(QStringLiteral("inode/directory")).isEmpty()) return false;
  return start_detached(QStringLiteral("xdg-open"), {qs(folder)});
}

}  // namespace ui
