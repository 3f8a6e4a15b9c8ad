#include "viewer/shell/ui/main_layout.h"

#include <algorithm>

namespace ui::layout {
namespace {

QRect shifted(const QRect& r, int row) { return r.translated(0, kRowHeight * row); }

}  // namespace

bool is_client(const QPoint& p) {
  return kTopButtons.contains(p) || kChannelClient.contains(p) || kListClient.contains(p) || kButtonPanel.contains(p);
}

QRect row_image(int row) { return QRect(QPoint(kListArea.left(), kListTop + kRowHeight * row), kRowImage); }
QRect row_channel(int row) { return shifted(ltrb(10, 177, 27, 188), row); }
QRect row_name(int row) { return shifted(ltrb(31, 175, 84, 188), row); }
QRect row_mark(int row) { return shifted(ltrb(9, 173, 29, 187), row); }
QRect row_audio(int row) { return shifted(ltrb(110, 176, 119, 185), row); }
QRect row_video(int row) { return shifted(ltrb(140, 176, 149, 185), row); }

int row_at(const QPoint& p) {
  if (!kListArea.contains(p)) return -1;
  return (p.y() - kListTop) / kRowHeight;
}

model::CellRects cell_rects() {
  model::CellRects out;
  for (int k = 0; k < model::kVisibleCells; ++k) {
    const QRect& r = kCells[k];
    out[k] = model::Rect{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
  }
  return out;
}

QRect channel_repaint_area() {
  QRect area = kChannelArea;
  for (int k = 0; k < model::kVisibleCells; ++k) {
    area = area.united(kCells[k]).united(QRect(kPlaceholderAt[k], kPlaceholderSize)).united(kLabels[k]);
  }
  return area;
}

int cell_at(const QPoint& p) {
  for (int k = 0; k < model::kVisibleCells; ++k) {
    if (kCells[k].contains(p)) return k;
  }
  return -1;
}

int thumb_top_for(int grid_position) {
  return kTrack.top() + kThumbStep * (std::clamp(grid_position, 1, model::kGridPositions) - 1);
}

int clamp_thumb_top(int top) { return std::clamp(top, kTrack.top(), kTrack.bottom() + 1 - kThumb.height()); }

int position_for_thumb(int top) {
  return std::min(model::kGridPositions, (clamp_thumb_top(top) - kTrack.top()) / kThumbDragStep + 1);
}

TrackHit track_hit(const QPoint& p, int thumb_top) {
  if (!kTrack.contains(p)) return TrackHit::None;
  if (p.y() < thumb_top) return TrackHit::Above;
  if (p.y() >= thumb_top + kThumb.height()) return TrackHit::Below;
  return TrackHit::Thumb;
}

}  // namespace ui::layout
