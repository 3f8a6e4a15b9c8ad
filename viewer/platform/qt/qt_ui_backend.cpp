#include "viewer/platform/qt/qt_ui_backend.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

namespace platform {
namespace {

// While a modal window holds the notices back, how often to look again.
constexpr int kHeldRetryMs = 200;

QString to_qstring(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

const QEvent::Type kShowNoticesEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kPostedMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedMessage final : public QEvent {
 public:
  PostedMessage(std::uint32_t m, std::uintptr_t w, std::uintptr_t l)
      : QEvent(kPostedMessageEvent), msg(m), wparam(w), lparam(l) {}
  const std::uint32_t msg;
  const std::uintptr_t wparam;
  const std::uintptr_t lparam;
};

MsgAnswer ask_with_qmessagebox(std::string_view text, std::string_view caption, MsgButtons buttons) {
  QMessageBox::StandardButtons standard = QMessageBox::Ok;
  if (buttons == MsgButtons::OkCancel) standard = QMessageBox::Ok | QMessageBox::Cancel;
  if (buttons == MsgButtons::YesNo) standard = QMessageBox::Yes | QMessageBox::No;
  QMessageBox box(QMessageBox::NoIcon, to_qstring(caption), to_qstring(text), standard);
  switch (box.exec()) {
    case QMessageBox::Ok:
      return MsgAnswer::Ok;
    case QMessageBox::Cancel:
      return MsgAnswer::Cancel;
    case QMessageBox::Yes:
      return MsgAnswer::Yes;
    case QMessageBox::No:
      return MsgAnswer::No;
    default:  // closed by the window manager: the last button
      return buttons == MsgButtons::YesNo      ? MsgAnswer::No
             : buttons == MsgButtons::OkCancel ? MsgAnswer::Cancel
                                               : MsgAnswer::Ok;
  }
}

void show_with_qmessagebox(const Notice& notice, std::function<void()> closed) {
  auto* box =
      new QMessageBox(QMessageBox::NoIcon, to_qstring(notice.caption), to_qstring(notice.text), QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  QObject::connect(box, &QMessageBox::finished, box, [closed = std::move(closed)](int) { closed(); });
  box->show();
}

}  // namespace

// Lives on the user-interface thread as long as the back end: the target of
// every queued call, so that no post ever reaches a deleted window.
class QtUiBackend::Router final : public QObject {
 public:
  explicit Router(QtUiBackend& owner) : owner_(owner) {}

 protected:
  void customEvent(QEvent* event) override {
    if (event->type() == kShowNoticesEvent) {
      owner_.show_next_notice();
    } else if (event->type() == kPostedMessageEvent) {
      const auto* m = static_cast<const PostedMessage*>(event);
      if (owner_.handler_) owner_.handler_(m->msg, m->wparam, m->lparam);
    }
  }

 private:
  QtUiBackend& owner_;
};

QtUiBackend::QtUiBackend(AskFn ask, ShowNoticeFn show_notice)
    : ask_(ask ? std::move(ask) : AskFn(ask_with_qmessagebox)),
      show_notice_(show_notice ? std::move(show_notice) : ShowNoticeFn(show_with_qmessagebox)),
      router_(std::make_unique<Router>(*this)) {}

QtUiBackend::~QtUiBackend() = default;

MsgAnswer QtUiBackend::ask(std::string_view text, std::string_view caption, MsgButtons buttons) {
  return ask_(text, caption, buttons);
}

void QtUiBackend::notices_waiting() {
  // Any thread: only a post; the router takes the notices on its own thread.
  QCoreApplication::postEvent(router_.get(), new QEvent(kShowNoticesEvent));
}

void QtUiBackend::post_to_main_window(std::uint32_t msg, std::uintptr_t wparam, std::uintptr_t lparam) {
  QCoreApplication::postEvent(router_.get(), new PostedMessage(msg, wparam, lparam));
}

void QtUiBackend::set_message_handler(MessageFn handler) { handler_ = std::move(handler); }

void QtUiBackend::show_next_notice() {
  if (on_screen_) return;
  if (QApplication::activeModalWidget() != nullptr) {
    // Held while the modal window is open; looked at again shortly.
    if (!retry_armed_) {
      retry_armed_ = true;
      QTimer::singleShot(kHeldRetryMs, router_.get(), [this] {
        retry_armed_ = false;
        show_next_notice();
      });
    }
    return;
  }
  std::optional<Notice> notice = notices().take();
  if (!notice) return;
  on_screen_ = true;
  const std::uint64_t id = notice->id;
  QPointer<QObject> router(router_.get());
  show_notice_(*notice, [this, id, router] {
    notices().closed(id);
    if (!router) return;  // the back end is gone
    on_screen_ = false;
    show_next_notice();
  });
}

ScopedQtUi::ScopedQtUi(QtUiBackend::AskFn ask, QtUiBackend::ShowNoticeFn show_notice)
    : backend_(std::move(ask), std::move(show_notice)) {
  set_ui_backend(&backend_);
}

ScopedQtUi::~ScopedQtUi() { set_ui_backend(nullptr); }

}  // namespace platform
