// Pieces shared by the table-driven and the vectorised colour conversion.
#pragma once

#include <cstddef>
#include <cstdint>

namespace media::colour_detail {

// One picture's planes and the output image, as ConvertYUVtoRGB lays them
// out (see colour.h).
struct Picture {
  const std::uint8_t* y;
  const std::uint8_t* cb;
  const std::uint8_t* cr;
  std::uint8_t* rgb;
  int width;
  int height;

  // Output row of picture row r: the image is stored bottom row first.
  std::uint8_t* out_row(int r) const { return rgb + static_cast<std::size_t>(height - 1 - r) * 3 * width; }
  // The same for row r of the half-size output (width/2 x height/2).
  std::uint8_t* half_out_row(int r) const {
    return rgb + static_cast<std::size_t>(height / 2 - 1 - r) * 3 * static_cast<std::size_t>(width / 2);
  }
};

// The process-wide tables, or a clip of nullptr when none exist.
struct Tables {
  const std::uint8_t* clip;  // indexable from -384 to 639
  const std::int32_t* luma;
  const std::int32_t* cr_to_red;
  const std::int32_t* cb_to_green;
  const std::int32_t* cr_to_green;
  const std::int32_t* cb_to_blue;
};
Tables tables();

// Converts columns x0 .. width-1 (x0 even) of picture rows 2 pair and
// 2 pair + 1 with the tables.
void convert_pair_table(const Tables& t, const Picture& p, int pair, int x0);

// Converts columns x0 .. width/2-1 of row r of the half-size output with
// the tables: each pixel takes the rounded mean of its 2 x 2 luma block and
// the block's own chroma sample.
void convert_half_row_table(const Tables& t, const Picture& p, int r, int x0);

// The AVX2 conversions of a whole picture, full and half size; exact to the
// table path, which they use for the columns past the last multiple of 32.
bool avx2_supported();
void convert_avx2(const Tables& t, const Picture& p);
void convert_half_avx2(const Tables& t, const Picture& p);

}  // namespace media::colour_detail
