#include "viewer/shell/ui/picture_painter.h"

#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ui {
namespace {

// Samples per block side at the most: a 640-pixel row into 176 pixels
// covers 3.6 source pixels per output pixel, so 4 already reach every one.
constexpr int kMaxTaps = 4;

// Rows are added in blocks of a fixed 16 bytes, with restrict: the
// compiler turns each block into a few vector instructions (at -O2 it does
// not vectorise a loop of unknown length), and needs no run-time check that
// the row and the sums overlap.
constexpr std::size_t kBlock = 16;
void copy_row(std::uint16_t* __restrict sums, const std::uint8_t* __restrict row, std::size_t n) {
  std::size_t i = 0;
  for (; i + kBlock <= n; i += kBlock) {
    for (std::size_t k = 0; k < kBlock; ++k) sums[i + k] = row[i + k];
  }
  for (; i < n; ++i) sums[i] = row[i];
}
void add_row(std::uint16_t* __restrict sums, const std::uint8_t* __restrict row, std::size_t n) {
  std::size_t i = 0;
  for (; i + kBlock <= n; i += kBlock) {
    for (std::size_t k = 0; k < kBlock; ++k) sums[i + k] = static_cast<std::uint16_t>(sums[i + k] + row[i + k]);
  }
  for (; i < n; ++i) sums[i] = static_cast<std::uint16_t>(sums[i] + row[i]);
}

bool picture_ok(const media::Picture& p) {
  return p.width > 0 && p.height > 0 && p.rgb.size() >= static_cast<std::size_t>(3) * p.width * p.height;
}

}  // namespace

QRect visible_source(const media::Picture& picture, const model::Rect& source) {
  const QRect whole(0, 0, picture.width, picture.height);
  if (source.width() <= 0 || source.height() <= 0) return whole;
  // The source area is in the decoded picture's coordinates; a picture
  // converted smaller covers the same area with fewer pixels.
  const int s = picture.scale > 1 ? picture.scale : 1;
  const QRect area = QRect(QPoint(source.left / s, source.top / s),
                           QPoint((source.right + s - 1) / s - 1, (source.bottom + s - 1) / s - 1)) &
                     whole;
  return area.isEmpty() ? whole : area;
}

void scale_down(const media::Picture& picture, const QRect& area, QSize size, QImage* out) {
  if (out->size() != size || out->format() != QImage::Format_RGB32) *out = QImage(size, QImage::Format_RGB32);
  const int w = size.width(), h = size.height();
  if (w <= 0 || h <= 0 || !picture_ok(picture) || area.isEmpty()) return;
  const int stride = 3 * picture.width;
  // Taps enough to reach every pixel of a block (a block of 1.8 pixels, as
  // a half-size picture into a cell gives, needs two; one would skip
  // every other pixel and let fine detail alias).
  const int cols_per = std::max(1, std::min(kMaxTaps, (area.width() + w - 1) / w));
  const int rows_per = std::max(1, std::min(kMaxTaps, (area.height() + h - 1) / h));
  // The mean of the taps, rounded half up, as a multiplication (a division
  // per channel and pixel would cost more than all the additions): with 24
  // bits of reciprocal it is exact for every sum of up to 16 taps (checked
  // for each count), where 16 bits rounded some halves of 12 taps down.
  const int taps = cols_per * rows_per;
  const std::uint64_t count = static_cast<std::uint64_t>(taps);
  const std::uint64_t reciprocal = ((std::uint64_t{1} << 24) + count - 1) / count;
  auto mean = [count, reciprocal](int sum) {
    return static_cast<std::uint32_t>(((2 * static_cast<std::uint64_t>(sum) + count) * reciprocal) >> 25);
  };
  // Output column x covers source columns [x0, x1) of the area, widened to
  // at least one column per tap (blocks of 1 and 2 columns alternate at
  // 1.8 columns per pixel; a block of one would pass fine detail through
  // unfiltered) and kept inside the area; the taps are spread evenly over
  // them (all of them when there are at most four).
  // They are byte offsets into a row of the area. Both scratch vectors only
  // grow: allocated once for the largest picture and target.
  static thread_local std::vector<std::int32_t> tap_x;
  static thread_local std::vector<std::uint16_t> column_sums;
  tap_x.resize(static_cast<std::size_t>(w) * cols_per);
  std::size_t n = 0;
  for (int x = 0; x < w; ++x) {
    const int x0 = static_cast<int>(static_cast<long long>(x) * area.width() / w);
    const int x1 = static_cast<int>(static_cast<long long>(x + 1) * area.width() / w);
    const int span = std::max(cols_per, x1 - x0);
    for (int t = 0; t < cols_per; ++t) tap_x[n++] = 3 * std::min(area.width() - 1, x0 + t * span / cols_per);
  }
  const std::size_t row_bytes = static_cast<std::size_t>(3) * area.width();
  // Four sums more than the row: the last pixel's taps are read as four
  // 16-bit sums at once (blue, green, red and one that is ignored).
  column_sums.resize(row_bytes + 4);
  std::fill(column_sums.begin() + static_cast<std::ptrdiff_t>(row_bytes), column_sums.end(), std::uint16_t{0});
  // With a power-of-two count of taps (2 x 2 for a half-size picture in a
  // cell, 4 x 4 for a whole one) the mean is a rounded shift, and all three
  // channels of a pixel are summed and divided together as 16-bit fields
  // of one 64-bit word: a sum is at most 16 x 255, so no field carries into
  // the next, and what a shift moves into a field's top bits never reaches
  // its low 8.
  const bool packed = (taps & (taps - 1)) == 0;
  const int shift = std::countr_zero(static_cast<unsigned>(taps));
  const std::uint64_t rounding = 0x0001000100010001ull * static_cast<std::uint64_t>(taps / 2);
  std::uint16_t* sums = column_sums.data();
  // The tap rows of output row y, top first; the picture is stored bottom
  // row first.
  auto find_tap_rows = [&](int y, const std::uint8_t** rows) {
    const int y0 = area.top() + static_cast<int>(static_cast<long long>(y) * area.height() / h);
    const int y1 = area.top() + static_cast<int>(static_cast<long long>(y + 1) * area.height() / h);
    const int span = std::max(rows_per, y1 - y0);
    for (int t = 0; t < rows_per; ++t) {
      const int sy = std::min(area.bottom(), y0 + t * span / rows_per);
      rows[t] = picture.rgb.data() + static_cast<std::size_t>(picture.height - 1 - sy) * stride + 3 * area.left();
    }
  };
  const std::uint8_t* tap_rows[kMaxTaps] = {};
  const std::uint8_t* next_rows[kMaxTaps] = {};
  find_tap_rows(0, tap_rows);
  for (int y = 0; y < h; ++y) {
    // The picture was written by a camera's thread some time ago and is
    // mostly out of this core's cache, and its rows are read short and
    // downwards in memory, which the hardware does not foresee: the next
    // output row's tap rows are asked for while this one is worked on.
    if (y + 1 < h) {
      find_tap_rows(y + 1, next_rows);
      for (int t = 0; t < rows_per; ++t) {
        for (std::size_t at = 0; at < row_bytes; at += 64) __builtin_prefetch(next_rows[t] + at);
        __builtin_prefetch(next_rows[t] + row_bytes - 1);
      }
    }
    // First the tap rows added up, byte by byte over the whole row (a plain
    // loop the compiler vectorises), then the taps of each output pixel.
    for (int t = 0; t < rows_per; ++t) {
      const std::uint8_t* row = tap_rows[t];
      if (t == 0)
        copy_row(sums, row, row_bytes);
      else
        add_row(sums, row, row_bytes);
    }
    auto* line = reinterpret_cast<QRgb*>(out->scanLine(y));
    const std::int32_t* at = tap_x.data();
    if (packed) {
      for (int x = 0; x < w; ++x, at += cols_per) {
        std::uint64_t s = 0;
        for (int tx = 0; tx < cols_per; ++tx) {
          std::uint64_t v;
          std::memcpy(&v, sums + at[tx], sizeof v);
          s += v;
        }
        s = (s + rounding) >> shift;
        line[x] = 0xff000000u | (static_cast<std::uint32_t>(s >> 32) & 0xffu) << 16 |
                  (static_cast<std::uint32_t>(s >> 16) & 0xffu) << 8 | (static_cast<std::uint32_t>(s) & 0xffu);
      }
    } else {
      for (int x = 0; x < w; ++x, at += cols_per) {
        int b = 0, g = 0, r = 0;
        for (int tx = 0; tx < cols_per; ++tx) {
          const std::uint16_t* p = sums + at[tx];
          b += p[0];
          g += p[1];
          r += p[2];
        }
        line[x] = 0xff000000u | (mean(r) << 16) | (mean(g) << 8) | mean(b);
      }
    }
    std::copy(next_rows, next_rows + rows_per, tap_rows);
  }
}

void draw_picture(QPainter& painter, const media::Picture& picture, const model::Rect& source, const QRect& target,
                  QImage* scratch) {
  if (!picture_ok(picture) || target.isEmpty()) return;
  const QRect area = visible_source(picture, source);
  const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  const QSize device(static_cast<int>(std::lround(target.width() * dpr)),
                     static_cast<int>(std::lround(target.height() * dpr)));
  if (device.width() <= area.width() && device.height() <= area.height()) {
    scale_down(picture, area, device, scratch);
    scratch->setDevicePixelRatio(dpr);
    painter.drawImage(target.topLeft(), *scratch);
    return;
  }
  // Made larger: Qt stretches it. The picture is wrapped without a copy
  // (rows of 3 x width bytes; widths are multiples of 16, so rows stay
  // 4-byte aligned as QImage wants); memory holds the bottom row first, so
  // the area's rows are counted from the bottom and drawn flipped.
  const QImage image(picture.rgb.data(), picture.width, picture.height, 3 * picture.width, QImage::Format_BGR888);
  const QRectF from(area.left(), picture.height - area.top() - area.height(), area.width(), area.height());
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.translate(target.left(), target.top() + target.height());
  painter.scale(1, -1);
  painter.drawImage(QRectF(0, 0, target.width(), target.height()), image, from);
  painter.restore();
}

}  // namespace ui
