#include "viewer/shell/skin/skin_button.h"

#include <QPainter>

#include "viewer/shell/skin/palette.h"

namespace skin {

SkinButton::SkinButton(ButtonStrip strip, const QRect& rect, QString tool_tip, std::function<void()> on_click)
    : strip_(std::move(strip)), rect_(rect), tool_tip_(std::move(tool_tip)), on_click_(std::move(on_click)) {}

SkinButton::SkinButton(StripSource source, qreal dpr, const QRect& rect, QString tool_tip,
                       std::function<void()> on_click)
    : source_(std::move(source)),
      strip_(make_strip(source_, dpr)),
      rect_(rect),
      tool_tip_(std::move(tool_tip)),
      on_click_(std::move(on_click)) {}

void SkinButton::render(qreal dpr) {
  if (!source_.name.isEmpty()) strip_ = make_strip(source_, dpr);
}

void SkinButton::set_visible(bool visible) {
  visible_ = visible;
  if (!visible) {
    hover_ = false;
    press_ = Press::Idle;
  }
}

void SkinButton::set_label(const QString& label, const QFont& font) {
  label_ = label;
  label_font_ = font;
}

void SkinButton::paint(QPainter& painter) const {
  if (!visible_) return;
  strip_.draw(painter, rect_, cell());
  if (label_.isEmpty()) return;
  painter.save();
  painter.setFont(label_font_);
  painter.setPen(press_ == Press::Inside ? kAccent : hover_ ? kTextBright : kText);
  painter.drawText(rect_, Qt::AlignCenter | Qt::TextSingleLine, label_);
  painter.restore();
}

bool SkinButton::pointer_moved(const QPoint& p) {
  if (!visible_) return false;
  const bool inside = rect_.contains(p);
  bool changed = false;
  if (press_ != Press::Idle) {
    const Press now = inside ? Press::Inside : Press::Outside;
    changed = now != press_;
    press_ = now;
  }
  if (inside != hover_) {
    hover_ = inside;
    changed = true;
  }
  return changed;
}

bool SkinButton::pressed(const QPoint& p) {
  if (!visible_ || !rect_.contains(p)) return false;
  press_ = Press::Inside;
  hover_ = true;
  return true;
}

bool SkinButton::released(const QPoint& p, bool* clicked) {
  *clicked = false;
  if (press_ == Press::Idle) return false;
  *clicked = visible_ && press_ == Press::Inside && rect_.contains(p);
  press_ = Press::Idle;
  hover_ = visible_ && rect_.contains(p);
  return true;
}

bool SkinButton::pointer_left() {
  if (!hover_ || press_ != Press::Idle) return false;
  hover_ = false;
  return true;
}

}  // namespace skin
