#include "viewer/shell/ui/dialogs/house_dialog.h"

#include <QCoreApplication>
#include <QPainter>
#include <QWidget>

#include "viewer/shell/skin/fonts.h"
#include "viewer/shell/skin/palette.h"

namespace ui {
namespace {

constexpr int kCaptionHeight = 40;

}  // namespace

void post_to_ui_thread(std::function<void()> fn) {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
  }
}

const QString& house_style_sheet() {
  // The colours of docs/skin.md: panel fields with a rim, text in the body
  // text colour, the accent for focus and selection, dimmed when disabled.
  static const QString sheet = QStringLiteral(
      "QLineEdit, QComboBox, QDateEdit, QTimeEdit {"
      "  background: #0c1015; color: #d6dee6; border: 1px solid #4a5867; border-radius: 3px;"
      "  padding: 1px 4px; selection-background-color: #1f6f87; selection-color: #ffffff; }"
      "QLineEdit:focus, QComboBox:focus, QDateEdit:focus, QTimeEdit:focus { border-color: #3fb8d8; }"
      "QLineEdit:read-only { color: #7d8a97; }"
      "QLineEdit:disabled, QComboBox:disabled, QDateEdit:disabled, QTimeEdit:disabled {"
      "  color: #56616c; border-color: #2c3641; }"
      "QComboBox::drop-down { border: none; width: 16px; }"
      "QComboBox::down-arrow { image: url(:/skin/arrow_down.svg); width: 8px; height: 5px; }"
      "QComboBox QAbstractItemView { background: #1c232b; color: #d6dee6; border: 1px solid #4a5867;"
      "  selection-background-color: #1f6f87; selection-color: #ffffff; outline: 0; }"
      "QDateEdit::up-button, QTimeEdit::up-button, QDateEdit::down-button, QTimeEdit::down-button {"
      "  width: 14px; border: none; background: #222a33; }"
      "QDateEdit::up-arrow, QTimeEdit::up-arrow { image: url(:/skin/arrow_up.svg); width: 8px; height: 5px; }"
      "QDateEdit::down-arrow, QTimeEdit::down-arrow { image: url(:/skin/arrow_down.svg); width: 8px; height: 5px; }"
      "QCalendarWidget QWidget { background: #1c232b; color: #d6dee6; alternate-background-color: #222a33; }"
      "QCalendarWidget QToolButton { background: #222a33; color: #d6dee6; border: none; padding: 2px 6px; }"
      "QCalendarWidget QAbstractItemView:enabled { selection-background-color: #1f6f87; selection-color: #ffffff; }"
      "QListWidget, QTreeWidget { background: #0c1015; color: #d6dee6; border: 1px solid #2c3641;"
      "  selection-background-color: #1f6f87; selection-color: #ffffff; outline: 0; }"
      "QListWidget:disabled, QTreeWidget:disabled { color: #56616c; }"
      "QHeaderView { background: #222a33; }"
      "QHeaderView::section { background: #222a33; color: #7d8a97; border: none;"
      "  border-right: 1px solid #2c3641; border-bottom: 1px solid #2c3641; padding: 1px 4px; }"
      "QCheckBox, QRadioButton { color: #d6dee6; spacing: 6px; background: transparent; }"
      "QCheckBox:disabled, QRadioButton:disabled { color: #56616c; }"
      "QCheckBox::indicator, QRadioButton::indicator { width: 12px; height: 12px; border: 1px solid #4a5867;"
      "  background: #0c1015; }"
      "QRadioButton::indicator { border-radius: 7px; }"
      "QCheckBox::indicator:checked, QRadioButton::indicator:checked { background: #3fb8d8; border-color: #3fb8d8; }"
      "QCheckBox::indicator:disabled, QRadioButton::indicator:disabled { border-color: #2c3641; }"
      "QCheckBox::indicator:checked:disabled, QRadioButton::indicator:checked:disabled { background: #2c5a68; }"
      "QScrollBar:vertical { background: #0c1015; width: 10px; margin: 0; }"
      "QScrollBar:horizontal { background: #0c1015; height: 10px; margin: 0; }"
      "QScrollBar::handle { background: #3a4754; border-radius: 4px; min-height: 16px; min-width: 16px; }"
      "QScrollBar::handle:hover { background: #3fb8d8; }"
      "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
      "QScrollBar::add-page, QScrollBar::sub-page { background: none; }"
      "QToolTip { background: #1c232b; color: #d6dee6; border: 1px solid #4a5867; }");
  return sheet;
}

HouseDialog::HouseDialog(QWidget* parent, QSize size, const QString& title, const QString& background)
    : skin::SkinnedDialog(parent, size), title_(title) {
  setWindowTitle(title);
  setStyleSheet(house_style_sheet());
  setFont(skin::font(15, 400));
  background_name_ = background;
}

void HouseDialog::render_artwork(qreal dpr) {
  background_ = background_name_.isEmpty() ? QImage() : skin::render(background_name_, size(), dpr);
}

skin::SkinButton* HouseDialog::button(const QString& label) const {
  for (const auto& b : buttons()) {
    if (b->label() == label) return b.get();
  }
  return nullptr;
}

skin::SkinButton& HouseDialog::add_button_labelled(const QRect& rect, const QString& label,
                                                   std::function<void()> on_click, int font_height) {
  skin::SkinButton& b = add_text_button(rect, label, {});
  b.set_label(label, skin::font(font_height, 500));
  const skin::SkinButton* self = &b;
  b.set_on_click([this, self, on_click = std::move(on_click)] {
    if (busy_ || disabled_.count(self) || !on_click) return;
    on_click();
  });
  return b;
}

void HouseDialog::set_button_enabled(skin::SkinButton* b, bool enabled) {
  if (!b) return;
  const bool was = !disabled_.count(b);
  if (enabled)
    disabled_.erase(b);
  else
    disabled_.insert(b);
  if (was != enabled) update(b->rect());
}

void HouseDialog::add_label(const QRect& rect, const QString& text, Qt::Alignment align) {
  labels_.push_back({rect, text, align});
}

void HouseDialog::add_group(const QRect& rect, const QString& title) { groups_.push_back({rect, title, {}}); }

void HouseDialog::set_busy(bool busy, const std::vector<QWidget*>& widgets) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    for (QWidget* w : widgets) {
      if (w->isEnabled()) {
        w->setEnabled(false);
        busy_disabled_.insert(w);
      }
    }
    setCursor(Qt::WaitCursor);
  } else {
    // Only what the busy state disabled comes back.
    for (QWidget* w : busy_disabled_) w->setEnabled(true);
    busy_disabled_.clear();
    unsetCursor();
  }
  update();
}

Qt::CursorShape HouseDialog::cursor_at(const QPoint& p) const {
  if (busy_) return Qt::WaitCursor;
  const skin::SkinButton* b = button_at(p);
  if (b && disabled_.count(b)) return Qt::ArrowCursor;
  return skin::SkinnedDialog::cursor_at(p);
}

void HouseDialog::paint_skin(QPainter& painter, const QRect& dirty) {
  painter.fillRect(dirty, skin::kBodyBottom);
  if (!background_.isNull())
    painter.drawImage(QPoint(0, 0), background_);
  else
    skin::paint_body(painter, QRectF(rect()), skin::kDialogCorner);
  painter.save();
  painter.setPen(skin::kPanelLine);
  painter.drawLine(QPointF(16, kCaptionHeight - 0.5), QPointF(width() - 16, kCaptionHeight - 0.5));
  painter.setFont(skin::font(16, 700));
  painter.setPen(skin::kTextBright);
  painter.drawText(QRect(24, 0, width() - 72, kCaptionHeight), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   title_);

  painter.setFont(skin::font(13, 700));
  for (const Label& g : groups_) {
    const QFontMetrics fm(painter.font());
    const QRect title(g.rect.left() + 10, g.rect.top() - fm.height() / 2, fm.horizontalAdvance(g.text) + 8,
                      fm.height());
    // The frame, with a gap in its top line for the title.
    painter.save();
    if (!g.text.isEmpty()) painter.setClipRegion(QRegion(rect()).subtracted(QRegion(title)), Qt::IntersectClip);
    painter.setPen(skin::kPanelLine);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(g.rect).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    painter.restore();
    if (g.text.isEmpty()) continue;
    painter.setPen(skin::kTextDim);
    painter.drawText(title, Qt::AlignCenter | Qt::TextSingleLine, g.text);
  }
  painter.setFont(skin::font(14, 400));
  painter.setPen(skin::kText);
  for (const Label& l : labels_) painter.drawText(l.rect, l.align | Qt::TextSingleLine, l.text);
  painter.restore();

  paint_content(painter, dirty);
  paint_buttons(painter, dirty);

  // Disabled buttons (and all text buttons while busy) are dimmed.
  for (const auto& b : buttons()) {
    if (!b->visible()) continue;
    const bool text_button = !b->label().isEmpty();
    if (disabled_.count(b.get()) || (busy_ && text_button)) {
      QColor veil = skin::kBodyBottom;
      veil.setAlpha(150);
      painter.fillRect(b->rect(), veil);
    }
  }
}

}  // namespace ui
