#include "viewer/shell/ui/picture_painter.h"

#include <QImage>
#include <QPainter>

namespace ui {

QRect visible_source(const media::Picture& picture, const model::Rect& source) {
  const QRect whole(0, 0, picture.width, picture.height);
  if (source.width() <= 0 || source.height() <= 0) return whole;
  const QRect area = QRect(QPoint(source.left, source.top), QPoint(source.right - 1, source.bottom - 1)) & whole;
  return area.isEmpty() ? whole : area;
}

void draw_picture(QPainter& painter, const media::Picture& picture, const model::Rect& source, const QRect& target) {
  const int w = picture.width, h = picture.height;
  if (w <= 0 || h <= 0 || picture.rgb.size() < static_cast<std::size_t>(3) * w * h) return;
  // Wraps the picture without copying it; rows are 3 x width bytes (widths
  // are multiples of 16, so rows stay 4-byte aligned as QImage wants).
  const QImage image(picture.rgb.data(), w, h, 3 * w, QImage::Format_BGR888);
  const QRect area = visible_source(picture, source);
  // Memory holds the bottom row first: the area's rows, counted from the
  // top of memory, and a vertical flip while drawing.
  const QRectF from(area.left(), h - area.top() - area.height(), area.width(), area.height());
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.translate(target.left(), target.top() + target.height());
  painter.scale(1, -1);
  painter.drawImage(QRectF(0, 0, target.width(), target.height()), image, from);
  painter.restore();
}

}  // namespace ui
