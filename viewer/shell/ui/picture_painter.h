// Draws a camera's presented picture (24-bit BGR, bottom row first) into a
// rectangle of a window, stretched, showing only the camera's source area
// (zoom) when one is set. Shared by the main window's cells and the pop-up
// windows. User-interface thread.
#pragma once

#include <QRect>

#include "viewer/media/video_pipeline.h"
#include "viewer/shell/model/grid.h"

class QPainter;

namespace ui {

// source: the part of the picture to show, in picture coordinates (top row
// first); empty for the whole picture. It is clipped to the picture.
void draw_picture(QPainter& painter, const media::Picture& picture, const model::Rect& source, const QRect& target);

// The part of the picture that draw_picture() shows for a source area.
QRect visible_source(const media::Picture& picture, const model::Rect& source);

}  // namespace ui
