// viewer [--folder DIR]
//
// The program a person starts: one main window per user (a second start
// ends at once, exit code 0, and leaves the first alone), the cameras of
// "param.dat" in DIR (default: the folder found from the program's own
// folder), the tray icon, and on "Exit", SIGTERM or SIGINT the viewer's own
// shutdown: recordings closed on whole packets, "param.dat" saved, cameras
// stopped.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "viewer/config/settings_file.h"
#include "viewer/platform/qt/qt_sound_device.h"
#include "viewer/platform/qt/qt_ui_backend.h"
#include "viewer/platform/single_instance.h"
#include "viewer/shell/skin/skinned_dialog.h"
#include "viewer/shell/ui/dialogs/program_dialogs.h"
#include "viewer/shell/ui/main_window.h"
#include "viewer/shell/ui/popup_windows.h"
#include "viewer/shell/ui/shutter_sound.h"

namespace {

int g_signal_pipe[2] = {-1, -1};

void on_signal(int) {
  const char c = 1;
  (void)!::write(g_signal_pipe[1], &c, 1);
}

int usage() {
  std::fprintf(stderr, "usage: viewer [--folder DIR]\n");
  return 2;
}

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

int main(int argc, char** argv) {
  // Our own option first; the rest is Qt's (-platform, -display, ...).
  std::string folder;
  std::vector<char*> qt_args = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--folder") == 0) {
      if (i + 1 >= argc) return usage();
      folder = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0) {
      return usage();
    } else {
      qt_args.push_back(argv[i]);
    }
  }

  // Before anything else, and before a display is even opened: a second
  // start ends here, silently.
  platform::SingleInstance instance("quorvan-viewer");
  if (!instance.first()) return 0;
  if (folder.empty()) folder = config::discover_program_folder(config::default_start_folder());

  // SIGTERM and SIGINT close the window as "Exit" does.
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signal_pipe) == 0) {
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
  }

  int qt_argc = static_cast<int>(qt_args.size());
  QApplication app(qt_argc, qt_args.data());
  QApplication::setApplicationName(QString::fromLatin1(ui::kWindowTitle));
  QApplication::setApplicationVersion(QString::fromLatin1(ui::kProductVersion));
  QApplication::setDesktopFileName(QStringLiteral("quorvan-viewer"));
  // The window hides into the tray and dialogs close while it is hidden:
  // only "Exit" ends the program.
  QApplication::setQuitOnLastWindowClosed(false);

  ui::MainWindow* main_window = nullptr;
  platform::QtUiBackend backend(
      [&](std::string_view text, std::string_view caption, platform::MsgButtons buttons) {
        QWidget* parent = QApplication::activeWindow() ? QApplication::activeWindow() : main_window;
        return skin::MessageBox::ask(parent, text, caption, buttons);
      },
      [&](const platform::Notice& notice, std::function<void()> closed) {
        auto* box = new skin::MessageBox(main_window, qs(notice.text), qs(notice.caption), platform::MsgButtons::Ok);
        box->setModal(false);
        box->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(box, &QDialog::finished, box, [closed = std::move(closed)](int) { closed(); });
        box->show();
      });
  platform::set_ui_backend(&backend);
  platform::install_qt_sound_device();

  {
    // All three outlive the main window, which owns the cameras that use
    // them; work a closed dialog left running is joined after the window
    // has gone.
    ui::ProgramDialogs dialogs;
    ui::ShutterSound shutter;
    ui::PopupWindows popups;
    ui::MainWindowOptions options;
    options.popups = &popups;
    options.dialogs = &dialogs;
    options.core.sound = &shutter;
    ui::MainWindow window(options);
    popups.attach(window);
    dialogs.attach(&window.core());
    main_window = &window;
    backend.set_message_handler([&window](std::uint32_t msg, std::uintptr_t wparam, std::uintptr_t lparam) {
      window.handle_message(msg, wparam, lparam);
    });
    std::unique_ptr<QSocketNotifier> stop_signals;
    if (g_signal_pipe[0] >= 0) {
      stop_signals = std::make_unique<QSocketNotifier>(g_signal_pipe[0], QSocketNotifier::Read);
      QObject::connect(stop_signals.get(), &QSocketNotifier::activated, &window, [&window] {
        char c[16];
        (void)!::read(g_signal_pipe[0], c, sizeof c);
        window.request_exit();
      });
    }
    // A main window that cannot be made ends the program quietly, as a
    // second start does.
    if (!window.create(folder)) return 0;
    (void)app.exec();
    window.shutdown();
    backend.set_message_handler({});
    main_window = nullptr;
  }
  platform::set_ui_backend(nullptr);
  return 0;
}
