// The camera pop-up window's geometry in its three sizes, and the arithmetic
// of its controls: which size a picture width gets, where the volume thumb
// sits for a volume and which volume a thumb position means, and how a zoom
// selection dragged over the picture becomes the camera's source area.
//
// Size 0 shows pictures 160 pixels wide, size 1 320 and size 2 640; a
// camera opens at its native size and may be shown one size larger
// (stretched). Rectangles are (left, top, right, bottom) with right and
// bottom outside, stored as QRects like the main window's layout.
//
// Pure functions of their arguments; any thread.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include "viewer/shell/model/grid.h"

namespace ui::popup_layout {

inline constexpr int kSizeCount = 3;
inline constexpr QSize kThumb(9, 9);

struct Geometry {
  QSize window;
  QRect picture;
  QRect record, play, stop, snapshot, zoom, mute;
  QRect track;
  int thumb_min = 0, thumb_max = 0;  // range of the thumb's left edge
  QRect channel_box, size_button, close, recording_text;
};

// The geometry of size index 0, 1 or 2 (clamped).
const Geometry& geometry(int size);

// The size whose picture is at least as wide as the camera's (160 -> 0,
// 320 -> 1, 640 -> 2; anything wider than 320 gets size 2).
int size_for_width(int picture_width);

// The thumb's left edge for a volume (hundredths of a decibel, clamped to
// -3000..0): track left + |v + 3000| x (track width - 9) / 3000.
int thumb_left_for_volume(int size, int volume);
// The volume a thumb at this left edge means, (left - track left) x 3000 /
// (track width - 9) - 3000, kept within -3000..0 (the thumb's range reaches
// a little past both ends of the track).
int volume_for_thumb(int size, int thumb_left);
// Keeps a dragged thumb's left edge inside its range.
int clamp_thumb_left(int size, int left);
// The thumb's rectangle, centred on the track's height.
QRect thumb_rect(int size, int thumb_left);
// Where the volume can be grabbed: the track and the thumb's whole range.
QRect volume_area(int size);

// The controls and the picture; every other point drags the window.
bool is_client(int size, const QPoint& p);

// The zoom selection between two corner pixels dragged over the picture
// (window coordinates, in either order, both inside the selection), as a
// source area of a picture of picture_size shown stretched in the size's
// picture rectangle: normalised, clipped to the picture and scaled to its
// pixels. A selection smaller than 2 x 2 pixels of the window is empty (the
// whole picture).
model::Rect zoom_area(int size, QPoint a, QPoint b, QSize picture_size);
// The selection as drawn (normalised, clipped to the picture rectangle).
QRect selection_rect(int size, QPoint a, QPoint b);

}  // namespace ui::popup_layout
