// Motion detection between two decoded pictures: for each 16 x 16 area, how
// many luma samples changed by more than a threshold.
#pragma once

#include <cstdint>

namespace media {

// Cells of the grid MotionDetect fills for a width x height picture:
// (width >> 4) + 1 columns by (height >> 4) + 1 rows, row-major. For sides
// that are multiples of 16 the last column and row cover no pixels and
// stay 0. Callers keep one array of kMotionMaxCells for any picture.
inline constexpr int motion_grid_columns(int width) { return (width >> 4) + 1; }
inline constexpr int motion_grid_rows(int height) { return (height >> 4) + 1; }
inline constexpr int kMotionMaxWidth = 640;
inline constexpr int kMotionMaxHeight = 480;
inline constexpr int kMotionMaxCells = motion_grid_columns(kMotionMaxWidth) * motion_grid_rows(kMotionMaxHeight);

// Compares the luma planes (the first width x height bytes) of prev and cur
// and writes one byte per cell of the grid: the number of samples whose
// absolute difference is strictly greater than threshold, at most 255.
// Writes the whole grid. Nothing is done for a missing buffer or a size
// outside 1..640 x 1..480 (the largest picture the cameras send, for which
// the cell array is sized). Any thread; touches only its arguments.
void MotionDetect(const std::uint8_t* prev, const std::uint8_t* cur, std::uint8_t* cells, int width, int height,
                  int threshold);

}  // namespace media
