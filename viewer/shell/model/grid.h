// What the camera list and the channel grid count, and where pictures go.
//
// The model has no pixels of its own. The window that shows the grid (the
// main window's layout, viewer/shell/ui/main_layout.h) hands it the four
// rectangles in which the visible channels' pictures are drawn; the model
// gives them to the cameras, which draw nothing off them. Hit-testing of
// mouse positions and every other rectangle of the skin live in the window.
#pragma once

#include <array>

namespace model {

// A rectangle as (left, top, right, bottom); right and bottom are exclusive.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  constexpr int width() const { return right - left; }
  constexpr int height() const { return bottom - top; }
  constexpr bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  constexpr bool operator==(const Rect&) const = default;
};

inline constexpr int kPoolSize = 128;
inline constexpr int kChannelCount = 8;
// Four cells show channels 2m-1 to 2m+2 at grid position m (1 to 3).
inline constexpr int kVisibleCells = 4;
inline constexpr int kGridPositions = 3;
// Camera list: pages of eight entries; page 13 is the last one, so list
// positions past 104 never show.
inline constexpr int kRowsPerPage = 8;
inline constexpr int kMaxListPage = 13;

// Where the picture of a playing camera whose channel is scrolled out of view
// goes: a cell-sized rectangle just above and left of the window. Nothing is
// drawn there, so no RGB picture is made, while streaming and decoding go on.
inline constexpr Rect kOffWindowRect{-176, -132, 0, 0};

// The cells' rectangles, top left, top right, bottom left, bottom right.
using CellRects = std::array<Rect, kVisibleCells>;

// The cells of a grid that no window shows (headless tools and tests): four
// cell-sized rectangles, so that the visible channels' pictures are made just
// as they are for a window.
inline constexpr CellRects kHeadlessCellRects = {Rect{0, 0, 176, 132}, Rect{176, 0, 352, 132}, Rect{0, 132, 176, 264},
                                                 Rect{176, 132, 352, 264}};

}  // namespace model
