// The decoder's integer inverse DCT and the two ways its output reaches the
// picture. The transform is this decoder's fixed separable integer design
// (7-bit constants, rows then columns); its exact arithmetic is part of the
// decoder's output and must not be replaced by a more accurate one.
#pragma once

#include <cstdint>

namespace mpeg4 {

// Transforms one 8 x 8 block of dequantised coefficients (raster order) in
// place into pixel values (intra) or residuals (inter).
void idct_int(int32_t* block);

// Transforms `block`, clips to 0..255 and stores it at dst; leaves the
// block all zero. `override`, when set, replaces the integer transform.
void idct_put(int32_t* block, uint8_t* dst, int stride, void (*override)(int32_t*));

// Transforms `block` and adds it to the prediction at dst with clipping;
// leaves the block all zero.
void idct_add(int32_t* block, uint8_t* dst, int stride, void (*override)(int32_t*));

}  // namespace mpeg4
