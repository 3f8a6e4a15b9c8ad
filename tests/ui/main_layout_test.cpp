// The main window's geometry and hit-testing against the skin's own table:
// client areas, cells, list rows and their controls, the grid's scroll track
// and thumb, the buttons.
#include <gtest/gtest.h>

#include "viewer/shell/ui/main_layout.h"

namespace ui::layout {
namespace {

TEST(MainLayout, ClientAreasDragEverythingElse) {
  for (QPoint p : {QPoint(457, 38), QPoint(586, 70), QPoint(171, 89), QPoint(597, 405), QPoint(6, 143),
                   QPoint(161, 310), QPoint(10, 325), QPoint(159, 413)}) {
    EXPECT_TRUE(is_client(p)) << p.x() << "," << p.y();
  }
  for (QPoint p : {QPoint(587, 71), QPoint(456, 50), QPoint(300, 20), QPoint(598, 200), QPoint(5, 200),
                   QPoint(165, 200), QPoint(100, 320), QPoint(100, 415), QPoint(300, 430)}) {
    EXPECT_FALSE(is_client(p)) << p.x() << "," << p.y();
  }
}

TEST(MainLayout, CellsAsTheModelPlacesPictures) {
  EXPECT_EQ(cell_at({186, 100}), 0);
  EXPECT_EQ(cell_at({361, 231}), 0);
  EXPECT_EQ(cell_at({362, 150}), -1);
  EXPECT_EQ(cell_at({383, 100}), -1);
  EXPECT_EQ(cell_at({383, 101}), 1);
  EXPECT_EQ(cell_at({186, 255}), -1);
  EXPECT_EQ(cell_at({187, 255}), 2);
  EXPECT_EQ(cell_at({558, 385}), 3);
  EXPECT_EQ(cell_at({559, 385}), -1);
  EXPECT_EQ(cell_at({300, 240}), -1);  // a label
  const model::CellRects cells = cell_rects();
  EXPECT_EQ(cells[0], (model::Rect{186, 100, 362, 232}));
  EXPECT_EQ(cells[1], (model::Rect{383, 101, 559, 233}));
  EXPECT_EQ(cells[2], (model::Rect{187, 255, 363, 386}));
  EXPECT_EQ(cells[3], (model::Rect{383, 254, 559, 386}));
  // Everything a grid move touches is repainted, cells included.
  for (const QRect& c : kCells) EXPECT_TRUE(channel_repaint_area().contains(c));
  for (const QRect& l : kLabels) EXPECT_TRUE(channel_repaint_area().contains(l));
}

TEST(MainLayout, ListRowsAndTheirControls) {
  EXPECT_EQ(row_at({9, 173}), 0);
  EXPECT_EQ(row_at({158, 187}), 0);
  EXPECT_EQ(row_at({9, 188}), 1);
  EXPECT_EQ(row_at({100, 292}), 7);
  EXPECT_EQ(row_at({100, 293}), -1);
  EXPECT_EQ(row_at({8, 180}), -1);
  EXPECT_EQ(row_at({159, 180}), -1);
  EXPECT_EQ(row_image(2), QRect(9, 203, 150, 14));
  EXPECT_EQ(row_channel(1), ltrb(10, 192, 27, 203));
  EXPECT_EQ(row_name(0), ltrb(31, 175, 84, 188));
  EXPECT_EQ(row_mark(3), ltrb(9, 218, 29, 232));
  EXPECT_EQ(row_audio(7), ltrb(110, 281, 119, 290));
  EXPECT_EQ(row_video(0), ltrb(140, 176, 149, 185));
  EXPECT_EQ(kListUp, ltrb(121, 298, 134, 306));
  EXPECT_EQ(kListDown, ltrb(138, 298, 151, 306));
}

TEST(MainLayout, ScrollTrackAndThumb) {
  EXPECT_EQ(thumb_top_for(1), 176);
  EXPECT_EQ(thumb_top_for(2), 220);
  EXPECT_EQ(thumb_top_for(3), 264);
  EXPECT_EQ(thumb_top_for(3) + kThumb.height(), kTrack.bottom() + 1);  // meets the track's bottom
  EXPECT_EQ(clamp_thumb_top(0), 176);
  EXPECT_EQ(clamp_thumb_top(1000), 264);
  EXPECT_EQ(position_for_thumb(176), 1);
  EXPECT_EQ(position_for_thumb(204), 1);
  EXPECT_EQ(position_for_thumb(205), 2);
  EXPECT_EQ(position_for_thumb(233), 2);
  EXPECT_EQ(position_for_thumb(234), 3);
  EXPECT_EQ(position_for_thumb(264), 3);
  EXPECT_EQ(track_hit({585, 175}, 220), TrackHit::None);
  EXPECT_EQ(track_hit({585, 180}, 220), TrackHit::Above);
  EXPECT_EQ(track_hit({585, 220}, 220), TrackHit::Thumb);
  EXPECT_EQ(track_hit({589, 262}, 220), TrackHit::Thumb);
  EXPECT_EQ(track_hit({585, 263}, 220), TrackHit::Below);
  EXPECT_EQ(track_hit({585, 307}, 220), TrackHit::None);
  EXPECT_EQ(track_hit({580, 250}, 220), TrackHit::None);
}

TEST(MainLayout, ButtonsWhereAndWhatTheySay) {
  struct Expected {
    PanelButtonId id;
    const char* tip;
    QRect rect;
  } table[] = {
      {kExit, "Exit the program!", ltrb(557, 45, 577, 65)},
      {kMinimize, "Minimize", ltrb(527, 45, 547, 65)},
      {kHelp, "Help!", ltrb(496, 45, 516, 65)},
      {kUtility, "Utility Settings", ltrb(465, 45, 485, 65)},
      {kMotion, "Motion detection settings", ltrb(122, 380, 142, 400)},
      {kSchedule, "Scheduled recordings ", ltrb(26, 380, 46, 400)},
      {kChange, "Change Camera Settings", ltrb(122, 338, 142, 358)},
      {kDelete, "Delete Camera", ltrb(75, 338, 95, 358)},
      {kAdd, "Add camera", ltrb(26, 338, 46, 358)},
      {kSavedFiles, "Saved files", ltrb(75, 380, 95, 400)},
  };
  for (const Expected& e : table) {
    EXPECT_STREQ(kButtons[e.id].tip, e.tip);
    EXPECT_EQ(kButtons[e.id].rect, e.rect) << e.tip;
    EXPECT_EQ(kButtons[e.id].rect.size(), QSize(20, 20));
    EXPECT_TRUE(is_client(e.rect.center())) << e.tip;
  }
}

}  // namespace
}  // namespace ui::layout
