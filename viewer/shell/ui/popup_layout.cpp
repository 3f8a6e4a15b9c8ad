#include "viewer/shell/ui/popup_layout.h"

#include <algorithm>
#include <cstdlib>

#include "viewer/shell/model/camera.h"
#include "viewer/shell/ui/main_layout.h"

namespace ui::popup_layout {
namespace {

using layout::ltrb;

const Geometry kGeometry[kSizeCount] = {
    {QSize(205, 264), ltrb(22, 67, 182, 195), ltrb(7, 231, 23, 248), ltrb(27, 235, 34, 245), ltrb(37, 235, 44, 245),
     ltrb(48, 233, 61, 245), ltrb(66, 233, 79, 248), ltrb(84, 235, 96, 247), ltrb(102, 234, 134, 237), 101, 127,
     ltrb(144, 223, 165, 247), ltrb(172, 227, 195, 243), ltrb(173, 28, 193, 48), ltrb(60, 34, 124, 50)},
    {QSize(358, 370), ltrb(17, 63, 337, 303), ltrb(13, 335, 29, 352), ltrb(37, 339, 44, 349), ltrb(54, 339, 61, 349),
     ltrb(72, 337, 85, 349), ltrb(94, 337, 107, 352), ltrb(124, 336, 136, 348), ltrb(159, 339, 217, 342), 159, 208,
     ltrb(279, 329, 300, 353), ltrb(324, 333, 347, 349), ltrb(324, 26, 344, 46), ltrb(130, 29, 194, 45)},
    {QSize(692, 603), ltrb(30, 61, 670, 541), ltrb(11, 572, 27, 589), ltrb(34, 576, 41, 586), ltrb(52, 576, 59, 586),
     ltrb(71, 574, 84, 586), ltrb(90, 572, 103, 587), ltrb(122, 572, 134, 584), ltrb(157, 577, 218, 579), 158, 209,
     ltrb(608, 565, 629, 589), ltrb(654, 570, 677, 586), ltrb(657, 26, 677, 46), ltrb(300, 26, 364, 42)},
};

// The width of the track the thumb travels over.
int travel(const Geometry& g) { return g.track.width() - kThumb.width(); }

}  // namespace

const Geometry& geometry(int size) { return kGeometry[std::clamp(size, 0, kSizeCount - 1)]; }

int size_for_width(int picture_width) {
  if (picture_width <= 160) return 0;
  if (picture_width <= 320) return 1;
  return 2;
}

int thumb_left_for_volume(int size, int volume) {
  const Geometry& g = geometry(size);
  const int v = std::clamp(volume, model::kMinVolume, model::kMaxVolume);
  return g.track.left() + std::abs(v - model::kMinVolume) * travel(g) / -model::kMinVolume;
}

int volume_for_thumb(int size, int thumb_left) {
  const Geometry& g = geometry(size);
  const int v = (thumb_left - g.track.left()) * -model::kMinVolume / travel(g) + model::kMinVolume;
  // The thumb's range starts left of the track at some sizes, which the
  // formula alone would turn into less than the quietest volume.
  return std::clamp(v, model::kMinVolume, model::kMaxVolume);
}

int clamp_thumb_left(int size, int left) {
  const Geometry& g = geometry(size);
  return std::clamp(left, g.thumb_min, g.thumb_max);
}

QRect thumb_rect(int size, int thumb_left) {
  const Geometry& g = geometry(size);
  const int top = g.track.top() + (g.track.height() - kThumb.height()) / 2;
  return QRect(QPoint(thumb_left, top), kThumb);
}

QRect volume_area(int size) {
  const Geometry& g = geometry(size);
  return g.track.united(thumb_rect(size, g.thumb_min)).united(thumb_rect(size, g.thumb_max));
}

bool is_client(int size, const QPoint& p) {
  const Geometry& g = geometry(size);
  for (const QRect& r : {g.picture, g.record, g.play, g.stop, g.snapshot, g.zoom, g.mute, g.size_button, g.close}) {
    if (r.contains(p)) return true;
  }
  return volume_area(size).contains(p);
}

QRect selection_rect(int size, QPoint a, QPoint b) {
  // Both corners are pixels of the selection: the pixel pressed on and the
  // one released on, whichever way the pointer went.
  const QRect r(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
  return r & geometry(size).picture;
}

model::Rect zoom_area(int size, QPoint a, QPoint b, QSize picture_size) {
  const QRect& picture = geometry(size).picture;
  const QRect s = selection_rect(size, a, b);
  if (s.width() < 2 || s.height() < 2 || picture_size.isEmpty()) return {};
  auto sx = [&](int x) { return (x - picture.left()) * picture_size.width() / picture.width(); };
  auto sy = [&](int y) { return (y - picture.top()) * picture_size.height() / picture.height(); };
  const model::Rect area{sx(s.left()), sy(s.top()), sx(s.right() + 1), sy(s.bottom() + 1)};
  if (area.width() <= 0 || area.height() <= 0) return {};
  return area;
}

}  // namespace ui::popup_layout
