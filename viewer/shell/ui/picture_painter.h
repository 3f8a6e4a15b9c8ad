// Draws a camera's presented picture (24-bit BGR, bottom row first) into a
// rectangle of a window, stretched, showing only the camera's source area
// (zoom) when one is set. Shared by the main window's cells and the pop-up
// windows. User-interface thread.
//
// Pictures are mostly made smaller (640 x 480 into a 176 x 132 cell, 20
// times a second per cell): that goes through our own box filter straight
// into a reused image of the target's device pixels, which is then copied
// unscaled; a picture made larger (a zoomed area, the pop-up's larger size)
// is stretched by Qt with bilinear filtering.
#pragma once

#include <QImage>
#include <QRect>
#include <QSize>

#include "viewer/media/video_pipeline.h"
#include "viewer/shell/model/grid.h"

class QPainter;

namespace ui {

// The part of the picture shown for a source area (the decoded picture's
// coordinates, top row first; empty = whole), in the presented picture's
// own pixels (a picture converted at half size halves it), clipped to it.
QRect visible_source(const media::Picture& picture, const model::Rect& source);

// Scales the area of the picture down to `size` pixels into *out (RGB32,
// reallocated only when its size changes): each pixel is the mean of the
// block of source pixels it covers (at most 4 x 4 of them, spread evenly
// over the block). The picture's bottom-up rows come out top row first.
void scale_down(const media::Picture& picture, const QRect& area, QSize size, QImage* out);

// Draws the picture's source area into target (logical coordinates of the
// painter's device). scratch holds the scaled picture between calls.
void draw_picture(QPainter& painter, const media::Picture& picture, const model::Rect& source, const QRect& target,
                  QImage* scratch);

}  // namespace ui
