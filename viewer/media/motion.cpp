#include "viewer/media/motion.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

namespace media {

void MotionDetect(const std::uint8_t* prev, const std::uint8_t* cur, std::uint8_t* cells, int width, int height,
                  int threshold) {
  if (prev == nullptr || cur == nullptr || cells == nullptr) return;
  if (width < 1 || width > kMotionMaxWidth || height < 1 || height > kMotionMaxHeight) return;

  const int columns = motion_grid_columns(width);
  const int rows = motion_grid_rows(height);
  // A full cell counts up to 256, one more than a byte holds.
  std::uint16_t counters[kMotionMaxCells] = {};

  for (int y = 0; y < height; ++y) {
    const std::uint8_t* p = prev + static_cast<std::size_t>(y) * width;
    const std::uint8_t* c = cur + static_cast<std::size_t>(y) * width;
    std::uint16_t* row_counters = counters + (y >> 4) * columns;
    for (int x0 = 0; x0 < width; x0 += 16) {
      const int x1 = std::min(x0 + 16, width);
      int changed = 0;
      for (int x = x0; x < x1; ++x) changed += std::abs(p[x] - c[x]) > threshold;
      row_counters[x0 >> 4] = static_cast<std::uint16_t>(row_counters[x0 >> 4] + changed);
    }
  }
  for (int i = 0; i < columns * rows; ++i) cells[i] = static_cast<std::uint8_t>(std::min<int>(counters[i], 255));
}

}  // namespace media
