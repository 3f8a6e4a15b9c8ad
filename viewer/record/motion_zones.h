// The motion test of motion-detection windows: the changed-pixel counts of
// the latest key-frame comparison, summed over the cells of the zones the
// user watches, against a threshold that depends on the sensitivity level and
// the picture width.
//
// Zones are the n x n grid (3x3, 4x4 or 5x5) the motion dialog draws over the
// picture, numbered row by row; a cell belongs to the zone that holds its
// position in the picture. The cells are those of the motion detector: a
// grid of (width/16 + 1) x (height/16 + 1) cells, row by row, whose last
// column and row cover no pixels and are never summed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace record {

// Cells of the largest picture, 640 x 480: 41 x 31.
inline constexpr std::size_t kMaxMotionCells = 41 * 31;
inline constexpr int kMaxZones = 25;

struct MotionZones {
  std::array<std::uint8_t, kMaxZones> flags{};  // non-zero: zone watched
  int layout = 0;                               // 0 "3x3" (and any value but 1 and 2), 1 "4x4", 2 "5x5"
  int sensitivity = 3;                          // 1 "Very High" .. 5 "Very Low"
};

// One reading of a camera's motion state: its latest cells, the picture size
// they were computed for, and the camera's zones.
struct MotionSample {
  std::array<std::uint8_t, kMaxMotionCells> cells{};
  int width = 0;
  int height = 0;
  MotionZones zones;
};

// Zones per side of the grid for a layout: 3, 4 or 5.
int zones_per_side(int layout);

// Threshold for a sensitivity level (1..5) and picture width: 0 for any other
// level. Widths 160 and 640 have their own columns; all others use the 320
// column.
int motion_threshold(int level, int width);

// The zone (row-major in the n x n grid) of the cell at (row, column), or -1
// for a cell outside the picture's whole 16 x 16 areas.
int zone_of_cell(int row, int column, int width, int height, int layout);

// Sum of the watched cells; 0 for a picture size the cells cannot describe.
int motion_sum(const MotionSample& sample);

// True when the watched cells add up to at least the threshold.
bool motion_now(const MotionSample& sample);

}  // namespace record
