// Geometry of the main window's camera list and channel grid, in window
// coordinates of the fixed 601 x 448 skin. The model hit-tests mouse input and
// places pictures with these; the widgets draw at the same places.
#pragma once

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
inline constexpr int kVisibleCells = 4;

// The four cells of the grid: top left, top right, bottom left, bottom right.
inline constexpr Rect kCellRects[kVisibleCells] = {
    {186, 100, 362, 232}, {383, 101, 559, 233}, {187, 255, 363, 386}, {383, 254, 559, 386}};

// Where the picture of a playing camera whose channel is scrolled out of view
// goes: just above and left of the window, so that streaming and decoding go
// on unseen.
inline constexpr Rect kOffWindowRect{-176, -132, 0, 0};

inline constexpr Rect kChannelArea{185, 100, 558, 385};
inline constexpr Rect kChannelLabelRects[kVisibleCells] = {
    {184, 237, 361, 249}, {380, 237, 557, 249}, {184, 390, 361, 402}, {380, 390, 557, 402}};
// Top-left corners of the 174 x 132 placeholder images over the cells.
inline constexpr int kPlaceholderOrigins[kVisibleCells][2] = {{185, 100}, {382, 100}, {185, 254}, {382, 254}};

// Camera list: eight rows of 15 pixels, pages of eight entries, 13 pages.
inline constexpr Rect kListArea{9, 173, 159, 293};
inline constexpr Rect kListRedrawArea{2, 168, 159, 293};
inline constexpr int kListTop = 173;
inline constexpr int kListRowHeight = 15;
inline constexpr int kRowsPerPage = 8;
inline constexpr int kMaxListPage = 13;
inline constexpr Rect kListScrollUp{121, 298, 134, 306};
inline constexpr Rect kListScrollDown{138, 298, 151, 306};

// Per-row controls of row k (0 to 7): shift down by 15 x k.
inline constexpr Rect kRowRecordingMark{9, 173, 29, 187};
inline constexpr Rect kRowAudioToggle{110, 176, 119, 185};
inline constexpr Rect kRowVideoToggle{140, 176, 149, 185};
constexpr Rect row_rect(Rect r, int row) {
  return {r.left, r.top + kListRowHeight * row, r.right, r.bottom + kListRowHeight * row};
}

// Grid scroll track and its 9 x 43 thumb; one grid position per 44 pixels.
inline constexpr Rect kGridTrack{581, 176, 590, 307};
inline constexpr int kThumbHeight = 43;
inline constexpr int kThumbStep = 44;
inline constexpr int kGridPositions = 3;

}  // namespace model
