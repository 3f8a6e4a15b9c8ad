// Where everything lies in the player's window, and what a point on the
// position bar means: the one place that turns client coordinates into
// controls and times. Plain arithmetic (no Qt), shared by the window and by
// the tests that click on it.
//
//   +------------------------------------------+
//   |                 picture                  |   video: the picture fitted
//   |                                          |   into it, centred
//   +------------------------------------------+
//   | [======o--------------------------------] |  position bar
//   | [Pause] [Step] [1x] [Snapshot]     0:12 / 1:00 |
//   | status line                              |
//   +------------------------------------------+
#pragma once

#include <algorithm>
#include <cstdint>

namespace player::ui {

struct Box {
  int x = 0, y = 0, w = 0, h = 0;
  int center_x() const { return x + w / 2; }
  int center_y() const { return y + h / 2; }
  bool contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

struct WindowLayout {
  static constexpr int kMinVideoWidth = 480;
  static constexpr int kMinVideoHeight = 120;
  static constexpr int kControlsHeight = 92;
  static constexpr int kMargin = 8;
  static constexpr int kBarHeight = 20;
  static constexpr int kButtonHeight = 28;
  // The groove of the position bar stops this far from the bar's ends, so
  // that the handle at either end is drawn whole.
  static constexpr int kGrooveInset = 8;

  Box video;
  Box position_bar;
  Box play;
  Box step;
  Box speed;
  Box snapshot;
  Box time;
  Box status;

  // The part of the bar's width that maps onto the recording, in the bar's
  // own coordinates: from groove_left to groove_left + groove_width.
  int groove_left() const { return kGrooveInset; }
  int groove_width() const { return std::max(1, position_bar.w - 2 * kGrooveInset); }
};

// The rectangles for a client area of width x height.
inline WindowLayout layout_for(int width, int height) {
  WindowLayout l;
  const int m = WindowLayout::kMargin;
  l.video = Box{0, 0, width, std::max(0, height - WindowLayout::kControlsHeight)};
  const int top = l.video.h;
  l.position_bar = Box{m, top + m, std::max(1, width - 2 * m), WindowLayout::kBarHeight};
  const int row = top + 2 * m + WindowLayout::kBarHeight + 4;
  l.play = Box{m, row, 72, WindowLayout::kButtonHeight};
  l.step = Box{l.play.x + l.play.w + m, row, 64, WindowLayout::kButtonHeight};
  l.speed = Box{l.step.x + l.step.w + m, row, 56, WindowLayout::kButtonHeight};
  l.snapshot = Box{l.speed.x + l.speed.w + m, row, 88, WindowLayout::kButtonHeight};
  const int time_x = l.snapshot.x + l.snapshot.w + m;
  l.time = Box{time_x, row, std::max(0, width - m - time_x), WindowLayout::kButtonHeight};
  l.status = Box{m, row + WindowLayout::kButtonHeight + 4, std::max(0, width - 2 * m), 18};
  return l;
}

// The client size a window opens with: the picture at its own size (or
// centred in the narrowest window that holds the controls).
inline void initial_client_size(int picture_w, int picture_h, int* width, int* height) {
  *width = std::max(picture_w, WindowLayout::kMinVideoWidth);
  *height = std::max(picture_h, WindowLayout::kMinVideoHeight) + WindowLayout::kControlsHeight;
}

// The picture fitted into the video area, keeping its shape, centred. At
// the window's opening size that is the picture at its own size (the area
// is the picture's height and at least its width).
inline Box picture_box(const Box& video, int picture_w, int picture_h) {
  if (picture_w <= 0 || picture_h <= 0 || video.w <= 0 || video.h <= 0) return Box{video.x, video.y, 0, 0};
  int w = video.w;
  int h = static_cast<int>(static_cast<std::int64_t>(picture_h) * w / picture_w);
  if (h > video.h) {
    h = video.h;
    w = static_cast<int>(static_cast<std::int64_t>(picture_w) * h / picture_h);
  }
  return Box{video.x + (video.w - w) / 2, video.y + (video.h - h) / 2, w, h};
}

// The time a point of the bar stands for (x in the bar's coordinates).
inline std::int64_t bar_time_at(const WindowLayout& l, int x, std::int64_t duration_ms) {
  const int from = std::clamp(x - l.groove_left(), 0, l.groove_width());
  return duration_ms <= 0 ? 0 : duration_ms * from / l.groove_width();
}

// Where a time stands on the bar (in the bar's coordinates).
inline int bar_x_for(const WindowLayout& l, std::int64_t time_ms, std::int64_t duration_ms) {
  if (duration_ms <= 0) return l.groove_left();
  const std::int64_t t = std::clamp<std::int64_t>(time_ms, 0, duration_ms);
  return l.groove_left() + static_cast<int>(t * l.groove_width() / duration_ms);
}

}  // namespace player::ui
