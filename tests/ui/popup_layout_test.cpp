// The pop-up window's geometry against the skin's table for its three sizes,
// the volume thumb's arithmetic both ways with its clamp, and the zoom
// selection turned into a source area.
#include <gtest/gtest.h>

#include "viewer/shell/ui/main_layout.h"
#include "viewer/shell/ui/popup_layout.h"

namespace ui::popup_layout {
namespace {

using layout::ltrb;

TEST(PopupLayout, TheThreeSizesAsTheTableGivesThem) {
  struct Row {
    QSize window;
    QRect picture, record, play, stop, snapshot, zoom, mute, track;
    int thumb_min, thumb_max;
    QRect box, size_button, close, text;
  };
  const Row table[3] = {
      {{205, 264},
       ltrb(22, 67, 182, 195),
       ltrb(7, 231, 23, 248),
       ltrb(27, 235, 34, 245),
       ltrb(37, 235, 44, 245),
       ltrb(48, 233, 61, 245),
       ltrb(66, 233, 79, 248),
       ltrb(84, 235, 96, 247),
       ltrb(102, 234, 134, 237),
       101,
       127,
       ltrb(144, 223, 165, 247),
       ltrb(172, 227, 195, 243),
       ltrb(173, 28, 193, 48),
       ltrb(60, 34, 124, 50)},
      {{358, 370},
       ltrb(17, 63, 337, 303),
       ltrb(13, 335, 29, 352),
       ltrb(37, 339, 44, 349),
       ltrb(54, 339, 61, 349),
       ltrb(72, 337, 85, 349),
       ltrb(94, 337, 107, 352),
       ltrb(124, 336, 136, 348),
       ltrb(159, 339, 217, 342),
       159,
       208,
       ltrb(279, 329, 300, 353),
       ltrb(324, 333, 347, 349),
       ltrb(324, 26, 344, 46),
       ltrb(130, 29, 194, 45)},
      {{692, 603},
       ltrb(30, 61, 670, 541),
       ltrb(11, 572, 27, 589),
       ltrb(34, 576, 41, 586),
       ltrb(52, 576, 59, 586),
       ltrb(71, 574, 84, 586),
       ltrb(90, 572, 103, 587),
       ltrb(122, 572, 134, 584),
       ltrb(157, 577, 218, 579),
       158,
       209,
       ltrb(608, 565, 629, 589),
       ltrb(654, 570, 677, 586),
       ltrb(657, 26, 677, 46),
       ltrb(300, 26, 364, 42)},
  };
  for (int s = 0; s < 3; ++s) {
    SCOPED_TRACE(s);
    const Geometry& g = geometry(s);
    const Row& r = table[s];
    EXPECT_EQ(g.window, r.window);
    EXPECT_EQ(g.picture, r.picture);
    EXPECT_EQ(g.record, r.record);
    EXPECT_EQ(g.play, r.play);
    EXPECT_EQ(g.stop, r.stop);
    EXPECT_EQ(g.snapshot, r.snapshot);
    EXPECT_EQ(g.zoom, r.zoom);
    EXPECT_EQ(g.mute, r.mute);
    EXPECT_EQ(g.track, r.track);
    EXPECT_EQ(g.thumb_min, r.thumb_min);
    EXPECT_EQ(g.thumb_max, r.thumb_max);
    EXPECT_EQ(g.channel_box, r.box);
    EXPECT_EQ(g.size_button, r.size_button);
    EXPECT_EQ(g.close, r.close);
    EXPECT_EQ(g.recording_text, r.text);
    // The strips' cell sizes fit the buttons exactly.
    EXPECT_EQ(g.record.size(), QSize(16, 17));
    EXPECT_EQ(g.play.size(), QSize(7, 10));
    EXPECT_EQ(g.snapshot.size(), QSize(13, 12));
    EXPECT_EQ(g.zoom.size(), QSize(13, 15));
    EXPECT_EQ(g.mute.size(), QSize(12, 12));
    EXPECT_EQ(g.size_button.size(), QSize(23, 16));
    EXPECT_EQ(g.close.size(), QSize(20, 20));
    // Everything lies inside the window.
    for (const QRect& c : {g.picture, g.record, g.size_button, g.close, g.channel_box, volume_area(s)}) {
      EXPECT_TRUE(QRect(QPoint(0, 0), g.window).contains(c));
    }
  }
  // The picture is the native picture size at each size.
  EXPECT_EQ(geometry(0).picture.width(), 160);
  EXPECT_EQ(geometry(1).picture.size(), QSize(320, 240));
  EXPECT_EQ(geometry(2).picture.size(), QSize(640, 480));
  EXPECT_EQ(size_for_width(160), 0);
  EXPECT_EQ(size_for_width(320), 1);
  EXPECT_EQ(size_for_width(640), 2);
  EXPECT_EQ(size_for_width(176), 1);  // no exact size: the next larger
}

TEST(PopupLayout, ControlsAndPictureAreClientEverythingElseDrags) {
  for (int s = 0; s < 3; ++s) {
    const Geometry& g = geometry(s);
    for (const QRect& r : {g.picture, g.record, g.play, g.stop, g.snapshot, g.zoom, g.mute, g.size_button, g.close}) {
      EXPECT_TRUE(is_client(s, r.topLeft()));
      EXPECT_TRUE(is_client(s, r.bottomRight()));
    }
    EXPECT_TRUE(is_client(s, g.track.center()));
    EXPECT_TRUE(is_client(s, thumb_rect(s, g.thumb_max).bottomRight()));
    // The header, the recording text, the channel number and the frame drag.
    EXPECT_FALSE(is_client(s, QPoint(g.window.width() / 2, 10)));
    EXPECT_FALSE(is_client(s, g.recording_text.center()));
    EXPECT_FALSE(is_client(s, g.channel_box.center()));
    EXPECT_FALSE(is_client(s, g.picture.topLeft() - QPoint(2, 2)));
    EXPECT_FALSE(is_client(s, QPoint(g.window.width() - 2, g.window.height() / 2)));
  }
}

TEST(PopupLayout, VolumeAndThumbBothWaysWithinTheirRanges) {
  // Thumb from volume: track left + |v + 3000| x (track width - 9) / 3000.
  EXPECT_EQ(thumb_left_for_volume(0, -3000), 102);
  EXPECT_EQ(thumb_left_for_volume(0, 0), 125);
  EXPECT_EQ(thumb_left_for_volume(1, -600), 198);   // 159 + 2400 x 49 / 3000
  EXPECT_EQ(thumb_left_for_volume(2, -1500), 183);  // 157 + 1500 x 52 / 3000
  // Out-of-range volumes (a silenced camera, a hand-edited file) stay on the track.
  EXPECT_EQ(thumb_left_for_volume(1, -10000), 159);
  EXPECT_EQ(thumb_left_for_volume(1, 500), 208);

  // Volume from thumb: (left - track left) x 3000 / (track width - 9) - 3000.
  EXPECT_EQ(volume_for_thumb(1, 198), -613);
  EXPECT_EQ(volume_for_thumb(1, 159), -3000);
  EXPECT_EQ(volume_for_thumb(1, 208), 0);
  EXPECT_EQ(volume_for_thumb(2, 183), -1500);
  // The ends of the thumb's range lie past the track at size 0: the formula
  // gives -3130 and +260 there, kept within -3000..0.
  EXPECT_EQ(volume_for_thumb(0, 101), -3000);
  EXPECT_EQ(volume_for_thumb(0, 127), 0);
  EXPECT_EQ(volume_for_thumb(2, 209), 0);
  // Every thumb position of every size gives a volume in range, rising.
  for (int s = 0; s < 3; ++s) {
    int last = -3000;
    for (int left = geometry(s).thumb_min; left <= geometry(s).thumb_max; ++left) {
      const int v = volume_for_thumb(s, left);
      EXPECT_GE(v, last);
      EXPECT_LE(v, 0);
      last = v;
    }
    // And back: the thumb of a volume gives that volume within one pixel's step.
    for (int v = -3000; v <= 0; v += 37) {
      const int back = volume_for_thumb(s, thumb_left_for_volume(s, v));
      EXPECT_LE(back, v);
      EXPECT_GE(back, v - 3000 / (geometry(s).track.width() - 9) - 2);
    }
  }
  EXPECT_EQ(clamp_thumb_left(0, 90), 101);
  EXPECT_EQ(clamp_thumb_left(0, 140), 127);
  // The thumb sits centred on the track.
  EXPECT_EQ(thumb_rect(0, 110), QRect(110, 231, 9, 9));
  EXPECT_EQ(thumb_rect(1, 170), QRect(170, 336, 9, 9));
}

TEST(PopupLayout, ZoomSelectionsNormalisedClippedAndScaled) {
  // Size 1: the picture at (17, 63), 320 x 240. The upper-left quarter,
  // dragged down-right, up-left, or from the other two corners.
  const QSize qvga(320, 240);
  const model::Rect quarter{0, 0, 160, 120};
  EXPECT_EQ(zoom_area(1, QPoint(17, 63), QPoint(176, 182), qvga), quarter);
  EXPECT_EQ(zoom_area(1, QPoint(176, 182), QPoint(17, 63), qvga), quarter);
  EXPECT_EQ(zoom_area(1, QPoint(176, 63), QPoint(17, 182), qvga), quarter);
  EXPECT_EQ(zoom_area(1, QPoint(17, 182), QPoint(176, 63), qvga), quarter);
  EXPECT_EQ(selection_rect(1, QPoint(176, 182), QPoint(17, 63)), QRect(17, 63, 160, 120));
  // The whole picture reaches its last pixels.
  EXPECT_EQ(zoom_area(1, QPoint(17, 63), QPoint(336, 302), qvga), (model::Rect{0, 0, 320, 240}));
  // Smaller than 2 x 2: empty (the whole picture), also a line.
  EXPECT_EQ(zoom_area(1, QPoint(100, 100), QPoint(100, 100), qvga), model::Rect{});
  EXPECT_EQ(zoom_area(1, QPoint(100, 100), QPoint(200, 100), qvga), model::Rect{});
  EXPECT_EQ(zoom_area(1, QPoint(100, 100), QPoint(100, 160), qvga), model::Rect{});
  EXPECT_EQ(zoom_area(1, QPoint(101, 101), QPoint(100, 100), qvga), (model::Rect{83, 37, 85, 39}));
  // Corners outside the picture are clipped to it.
  EXPECT_EQ(zoom_area(1, QPoint(0, 0), QPoint(56, 82), qvga), (model::Rect{0, 0, 40, 20}));
  EXPECT_EQ(zoom_area(1, QPoint(300, 280), QPoint(400, 400), qvga), (model::Rect{283, 217, 320, 240}));
  // A picture of another size than the rectangle: scaled to its pixels.
  EXPECT_EQ(zoom_area(0, QPoint(22, 67), QPoint(101, 130), QSize(320, 256)), (model::Rect{0, 0, 160, 128}));
  EXPECT_EQ(zoom_area(0, QPoint(22, 67), QPoint(101, 130), QSize()), model::Rect{});
}

}  // namespace
}  // namespace ui::popup_layout
