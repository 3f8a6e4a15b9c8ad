#include "viewer/shell/skin/skinned_dialog.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainterPath>
#include <QScreen>
#include <QShowEvent>

#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>

#include "viewer/shell/skin/fonts.h"
#include "viewer/shell/skin/palette.h"

namespace skin {
namespace {

constexpr int kCaptionHeight = 40;
constexpr int kMargin = 24;
constexpr QSize kAnswerButton(76, 24);

QString to_qstring(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Wraps at word boundaries, and inside a word only when it is longer than a
// line (a long path in a message).
QTextOption wrapping() {
  QTextOption option(Qt::AlignLeft | Qt::AlignTop);
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  return option;
}

int wrapped_height(const QString& text, const QFont& font, int width) {
  QTextLayout layout(text, font);
  layout.setTextOption(wrapping());
  layout.beginLayout();
  qreal height = 0;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    height += line.height();
  }
  layout.endLayout();
  return static_cast<int>(std::ceil(height));
}

}  // namespace

void paint_body(QPainter& painter, const QRectF& rect, int corner) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient body(rect.topLeft(), rect.bottomLeft());
  body.setColorAt(0, kBodyTop);
  body.setColorAt(1, kBodyBottom);
  const qreal r = corner / 2.0;
  painter.setPen(Qt::NoPen);
  painter.setBrush(body);
  painter.drawRoundedRect(rect, r, r);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(kRim, 1));
  painter.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), r - 0.5, r - 0.5);
  painter.restore();
}

StripSource text_button_source(QSize size) { return {QStringLiteral("text_button"), size, 3, false}; }

StripSource close_button_source() { return {QStringLiteral("button_close"), QSize(20, 20), 3, false}; }

SkinnedDialog::SkinnedDialog(QWidget* parent, QSize size) : Skinned<QDialog>(parent) {
  setWindowFlag(Qt::Dialog, true);
  setModal(true);
  set_rounded_shape(size, kDialogCorner, kDialogCorner);
}

void SkinnedDialog::set_background(const QString& svg_name) {
  background_name_ = svg_name;
  background_ = {};
  if (artwork_ratio() > 0) render_artwork(artwork_ratio());
  update();
}

SkinButton& SkinnedDialog::add_close_button(const QRect& rect, const QString& tip) {
  return add_button(close_button_source(), rect, tip, [this] { reject(); });
}

SkinButton& SkinnedDialog::add_text_button(const QRect& rect, const QString& label, std::function<void()> on_click) {
  SkinButton& b = add_button(text_button_source(rect.size()), rect, QString(), std::move(on_click));
  b.set_label(label, skin::font(14, 500));
  return b;
}

void SkinnedDialog::render_artwork(qreal dpr) {
  background_ = background_name_.isEmpty() ? QImage() : skin::render(background_name_, size(), dpr);
}

void SkinnedDialog::paint_skin(QPainter& painter, const QRect& dirty) {
  painter.fillRect(dirty, kBodyBottom);
  if (!background_.isNull())
    painter.drawImage(QPoint(0, 0), background_);
  else
    paint_body(painter, QRectF(rect()), kDialogCorner);
  paint_buttons(painter, dirty);
}

void SkinnedDialog::showEvent(QShowEvent* event) {
  // Centred on the main window; on the screen when there is none.
  const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
  QRect area;
  if (owner && owner->isVisible())
    area = owner->frameGeometry();
  else if (QScreen* screen = QGuiApplication::primaryScreen())
    area = screen->availableGeometry();
  if (!area.isNull()) move(area.center() - rect().center());
  Skinned<QDialog>::showEvent(event);
}

MessageBox::MessageBox(QWidget* parent, const QString& text, const QString& caption, platform::MsgButtons buttons)
    : SkinnedDialog(parent, QSize(320, 160)), text_(text), caption_(caption) {
  using platform::MsgAnswer;
  std::vector<QString> labels;
  switch (buttons) {
    case platform::MsgButtons::Ok:
      answers_ = {MsgAnswer::Ok};
      labels = {QStringLiteral("OK")};
      break;
    case platform::MsgButtons::OkCancel:
      answers_ = {MsgAnswer::Ok, MsgAnswer::Cancel};
      labels = {QStringLiteral("OK"), QStringLiteral("Cancel")};
      break;
    case platform::MsgButtons::YesNo:
      answers_ = {MsgAnswer::Yes, MsgAnswer::No};
      labels = {QStringLiteral("Yes"), QStringLiteral("No")};
      break;
  }
  answer_ = answers_.back();
  setWindowTitle(caption.isEmpty() ? QStringLiteral("Quorvan Viewer & Recorder") : caption);

  // Wide enough for the text on a few lines, within bounds.
  const QFont body = skin::font(15, 400);
  const QFontMetrics fm(body);
  const int width = std::clamp(fm.horizontalAdvance(text) / 3 + 2 * kMargin, 300, 480);
  const int text_height = std::max(wrapped_height(text, body, width - 2 * kMargin), fm.height());
  const int height = kCaptionHeight + 16 + text_height + 20 + kAnswerButton.height() + 18;
  set_rounded_shape(QSize(width, height), kDialogCorner, kDialogCorner);
  text_rect_ = QRect(kMargin, kCaptionHeight + 16, width - 2 * kMargin, text_height);

  const int n = static_cast<int>(answers_.size());
  const int gap = 12;
  int x = (width - (n * kAnswerButton.width() + (n - 1) * gap)) / 2;
  const int y = height - 18 - kAnswerButton.height();
  for (int i = 0; i < n; ++i) {
    add_text_button(QRect(QPoint(x, y), kAnswerButton), labels[i], [this, i] { choose(i); });
    x += kAnswerButton.width() + gap;
  }
}

platform::MsgAnswer MessageBox::ask(QWidget* parent, std::string_view text, std::string_view caption,
                                    platform::MsgButtons buttons) {
  MessageBox box(parent, to_qstring(text), to_qstring(caption), buttons);
  box.exec();
  return box.answer();
}

void MessageBox::choose(int index) {
  answer_ = answers_[std::clamp(index, 0, static_cast<int>(answers_.size()) - 1)];
  done(static_cast<int>(answer_));
}

void MessageBox::reject() { choose(static_cast<int>(answers_.size()) - 1); }

void MessageBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) {
    choose(0);
    return;
  }
  SkinnedDialog::keyPressEvent(event);
}

void MessageBox::paint_skin(QPainter& painter, const QRect& dirty) {
  painter.fillRect(dirty, kBodyBottom);
  paint_body(painter, QRectF(rect()), kDialogCorner);
  painter.setPen(kPanelLine);
  painter.drawLine(QPointF(16, kCaptionHeight - 0.5), QPointF(width() - 16, kCaptionHeight - 0.5));
  painter.setFont(skin::font(16, 700));
  painter.setPen(kTextBright);
  painter.drawText(QRect(kMargin, 0, width() - 2 * kMargin, kCaptionHeight), Qt::AlignVCenter | Qt::TextSingleLine,
                   caption_);
  painter.setFont(skin::font(15, 400));
  painter.setPen(kText);
  painter.drawText(QRectF(text_rect_), text_, wrapping());
  paint_buttons(painter, dirty);
}

}  // namespace skin
