#include "viewer/shell/skin/artwork.h"

#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>
#include <vector>

#include "viewer/shell/skin/palette.h"

namespace skin {
namespace {

// Normal, hover, pressed; then the "on" set, whose glyph is green.
constexpr ButtonLook kLooks[kLookCount] = {
    {"#34404d", "#222a33", "#4a5867", "#cfd8e1"}, {"#41505f", "#2a3440", "#3fb8d8", "#ffffff"},
    {"#161b21", "#262f39", "#3fb8d8", "#3fb8d8"}, {"#34404d", "#222a33", "#4a5867", "#5ee08a"},
    {"#41505f", "#2a3440", "#3fb8d8", "#8af0ad"}, {"#161b21", "#262f39", "#3fb8d8", "#3fb86a"},
};

QSize device_size(QSize logical, qreal dpr) {
  return QSize(static_cast<int>(std::lround(logical.width() * dpr)),
               static_cast<int>(std::lround(logical.height() * dpr)));
}

}  // namespace

const ButtonLook& look(int cell) { return kLooks[std::clamp(cell, 0, kLookCount - 1)]; }

QByteArray svg_source(const QString& name) {
  QFile file(QStringLiteral(":/skin/") + name + QStringLiteral(".svg"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

QByteArray recolour(const QByteArray& svg, const ButtonLook& look) {
  QString text = QString::fromUtf8(svg);
  // Through placeholders, so that a look whose colour equals another house
  // colour is not replaced twice.
  const char* house[] = {kSvgFaceTop, kSvgFaceBottom, kSvgRim, kSvgGlyph};
  const char* wanted[] = {look.face_top, look.face_bottom, look.rim, look.glyph};
  for (int i = 0; i < 4; ++i) {
    text.replace(QLatin1String(house[i]), QStringLiteral("@@%1@@").arg(i), Qt::CaseInsensitive);
  }
  for (int i = 0; i < 4; ++i) text.replace(QStringLiteral("@@%1@@").arg(i), QLatin1String(wanted[i]));
  return text.toUtf8();
}

void clear_key_colour(QImage& image) {
  if (image.format() != QImage::Format_ARGB32_Premultiplied && image.format() != QImage::Format_ARGB32) {
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  }
  const QRgb key = kKeyColour.rgb();
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if (row[x] == key) row[x] = 0;
    }
  }
}

QImage render_svg(const QByteArray& svg, QSize logical, qreal dpr) {
  QSvgRenderer renderer(svg);
  if (!renderer.isValid() || logical.isEmpty()) return {};
  QImage image(device_size(logical, dpr), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(image.size())));
  }
  clear_key_colour(image);
  image.setDevicePixelRatio(dpr);
  return image;
}

QImage render(const QString& name, QSize logical, qreal dpr) { return render_svg(svg_source(name), logical, dpr); }

ButtonStrip::ButtonStrip(QImage image, QSize cell, int cells) : image_(std::move(image)), cell_(cell), cells_(cells) {}

int ButtonStrip::cell_for(bool on, bool hover, bool pressed) const {
  int index = pressed ? 2 : hover ? 1 : 0;
  if (on && has_on_set()) index += 3;
  return std::min(index, std::max(cells_ - 1, 0));
}

QImage ButtonStrip::cell(int index) const {
  if (null()) return {};
  const qreal dpr = image_.devicePixelRatio();
  const QSize size = device_size(cell_, dpr);
  QImage out = image_.copy(QRect(QPoint(size.width() * std::clamp(index, 0, cells_ - 1), 0), size));
  out.setDevicePixelRatio(dpr);
  return out;
}

void ButtonStrip::draw(QPainter& painter, const QRect& target, int index) const {
  if (null()) return;
  const qreal dpr = image_.devicePixelRatio();
  const QSize size = device_size(cell_, dpr);
  const QRect source(QPoint(size.width() * std::clamp(index, 0, cells_ - 1), 0), size);
  painter.drawImage(QRectF(target), image_, QRectF(source));
}

ButtonStrip button_strip(const QString& name, QSize cell, bool on_set, qreal dpr) {
  const QByteArray svg = svg_source(name);
  const int cells = on_set ? 6 : 3;
  const QSize cell_px = device_size(cell, dpr);
  QImage strip(QSize(cell_px.width() * cells, cell_px.height()), QImage::Format_ARGB32_Premultiplied);
  strip.fill(Qt::transparent);
  {
    QPainter painter(&strip);
    for (int i = 0; i < cells; ++i) {
      QImage one = render_svg(recolour(svg, look(i)), cell, dpr);
      if (one.isNull()) return {};
      one.setDevicePixelRatio(1);  // copied pixel for pixel into the strip
      painter.drawImage(QPoint(cell_px.width() * i, 0), one);
    }
  }
  strip.setDevicePixelRatio(dpr);
  return ButtonStrip(std::move(strip), cell, cells);
}

ButtonStrip drawn_strip(const QString& name, QSize cell, int cells, qreal dpr) {
  QImage image = render(name, QSize(cell.width() * cells, cell.height()), dpr);
  if (image.isNull()) return {};
  return ButtonStrip(std::move(image), cell, cells);
}

ButtonStrip make_strip(const StripSource& source, qreal dpr) {
  if (source.name.isEmpty() || source.cell.isEmpty()) return {};
  if (source.drawn) return drawn_strip(source.name, source.cell, source.cells, dpr);
  return button_strip(source.name, source.cell, source.cells >= 6, dpr);
}

QRegion rounded_region(QSize size, int corner_w, int corner_h) {
  QPainterPath path;
  path.addRoundedRect(QRectF(0, 0, size.width(), size.height()), corner_w / 2.0, corner_h / 2.0);
  return QRegion(path.toFillPolygon().toPolygon());
}

QRegion region_without(const QImage& image, const QColor& key) {
  // One rectangle per run of kept pixels on each row, in the banded order
  // QRegion takes as it is.
  std::vector<QRect> runs;
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb k = key.rgb() | 0xff000000u;
  for (int y = 0; y < argb.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    int x = 0;
    while (x < argb.width()) {
      while (x < argb.width() && (row[x] | 0xff000000u) == k) ++x;
      const int start = x;
      while (x < argb.width() && (row[x] | 0xff000000u) != k) ++x;
      if (x > start) runs.emplace_back(start, y, x - start, 1);
    }
  }
  QRegion region;
  if (!runs.empty()) region.setRects(runs.data(), static_cast<int>(runs.size()));
  return region;
}

}  // namespace skin
