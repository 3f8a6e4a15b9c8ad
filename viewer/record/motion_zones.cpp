#include "viewer/record/motion_zones.h"

namespace record {

namespace {

// Rows: sensitivity levels 1 ("Very High") to 5 ("Very Low"); columns: width
// classes 160, 320 (and any other), 640. A level's count grows with the
// picture because the sum is of changed pixels in the watched cells.
constexpr int kThresholds[5][3] = {
    {11, 32, 100}, {8, 27, 63}, {4, 21, 42}, {3, 15, 30}, {3, 9, 9},
};

int width_class(int width) {
  if (width == 160) return 0;
  if (width == 640) return 2;
  return 1;
}

}  // namespace

int zones_per_side(int layout) {
  if (layout == 1) return 4;
  if (layout == 2) return 5;
  return 3;
}

int motion_threshold(int level, int width) {
  if (level < 1 || level > 5) return 0;
  return kThresholds[level - 1][width_class(width)];
}

int zone_of_cell(int row, int column, int width, int height, int layout) {
  const int rows = height / 16;
  const int columns = width / 16;
  if (row < 0 || column < 0 || row >= rows || column >= columns) return -1;
  const int n = zones_per_side(layout);
  return (row * n / rows) * n + column * n / columns;
}

int motion_sum(const MotionSample& s) {
  const int rows = s.height / 16;
  const int columns = s.width / 16;
  const int stride = s.width / 16 + 1;
  if (rows <= 0 || columns <= 0) return 0;
  if (static_cast<std::size_t>(stride) * static_cast<std::size_t>(s.height / 16 + 1) > kMaxMotionCells) return 0;
  const int n = zones_per_side(s.zones.layout);
  int sum = 0;
  for (int r = 0; r < rows; ++r) {
    const int zone_row = r * n / rows;
    for (int c = 0; c < columns; ++c) {
      if (s.zones.flags[static_cast<std::size_t>(zone_row * n + c * n / columns)] == 0) continue;
      sum += s.cells[static_cast<std::size_t>(r * stride + c)];
    }
  }
  return sum;
}

bool motion_now(const MotionSample& sample) {
  return motion_sum(sample) >= motion_threshold(sample.zones.sensitivity, sample.width);
}

}  // namespace record
