#include "launcher/ui/hyperlink_label.h"

#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QUrl>

#include "launcher/core/hyperlink.h"
#include "launcher/core/process.h"

namespace launcher::ui {

HyperlinkLabel::HyperlinkLabel(const QString& text, const QString& address, QWidget* parent)
    : QLabel(text.isEmpty() ? address : text, parent), address_(address.isEmpty() ? text : address) {
  setTextFormat(Qt::PlainText);
  setMouseTracking(true);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setToolTip(address_);
  setAutoFillBackground(false);
  refresh();
}

void HyperlinkLabel::set_address(const QString& address) {
  address_ = address;
  if (text().isEmpty()) setText(address);
  setToolTip(address_);
  refresh();
}

void HyperlinkLabel::set_visited(bool visited) {
  visited_ = visited;
  refresh();
}

void HyperlinkLabel::set_underline(Underline mode) {
  underline_ = mode;
  refresh();
}

void HyperlinkLabel::set_fit_to_text(bool on) {
  fit_to_text_ = on;
  refresh();
}

QColor HyperlinkLabel::text_colour() const {
  if (hovering_) return QColor::fromRgb(kHoverColour);
  return QColor::fromRgb(visited_ ? kVisitedColour : kLinkColour);
}

void HyperlinkLabel::refresh() {
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, text_colour());
  setPalette(pal);
  QFont f = font();
  f.setUnderline(underline_ == Underline::always || (underline_ == Underline::while_hovering && hovering_));
  setFont(f);
  if (fit_to_text_) adjustSize();
  update();
}

void HyperlinkLabel::set_hovering(bool on) {
  if (hovering_ == on) return;
  hovering_ = on;
  refresh();
}

// The pointer's arrival is seen on the first move as well as on enter: a
// control shown under a resting pointer gets no enter event on some
// platforms until the pointer moves.
void HyperlinkLabel::enterEvent(QEnterEvent* event) {
  set_hovering(true);
  QLabel::enterEvent(event);
}

void HyperlinkLabel::mouseMoveEvent(QMouseEvent* event) {
  set_hovering(rect().contains(event->position().toPoint()));
  QLabel::mouseMoveEvent(event);
}

void HyperlinkLabel::leaveEvent(QEvent* event) {
  set_hovering(false);
  QLabel::leaveEvent(event);
}

void HyperlinkLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  event->accept();
}

// A click is a release inside the control after a press in it.
void HyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  event->accept();
  if (click) (void)open_address();
}

void HyperlinkLabel::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    (void)open_address();
    return;
  }
  QLabel::keyPressEvent(event);
}

int HyperlinkLabel::open_with_desktop(const QString& address) {
  const int checked = check_link_target(address.toStdString());
  if (checked != kLinkOpened) return checked;
  return QDesktopServices::openUrl(QUrl(address)) ? kLinkOpened : kLinkNoAssociation;
}

int HyperlinkLabel::open_address() {
  const int result = opener_ ? opener_(address_) : open_with_desktop(address_);
  if (result > 32) {
    set_visited(true);
    emit opened();
    return result;
  }
  // The second try, the web browser's own command, is not waited for; the
  // failure of the first is reported whatever it does.
  if (fallback_) {
    fallback_(address_);
  } else {
    const std::vector<std::string> command = fallback_command(XdgDirs::from_environment(), address_.toStdString());
    if (!command.empty()) (void)start_detached(command);
  }
  report_failure(QString::fromStdString(hyperlink_failure_message(result)));
  return result;
}

void HyperlinkLabel::report_failure(const QString& message) {
  if (report_) {
    report_(message);
    return;
  }
  QApplication::beep();
  QMessageBox box(QMessageBox::Warning, QString(), message, QMessageBox::Ok, window());
  box.exec();
}

}  // namespace launcher::ui
