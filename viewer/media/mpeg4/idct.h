// The decoder's integer inverse DCT and the two ways its output reaches the
// picture. The transform is this decoder's fixed separable integer design
// (7-bit constants, rows then columns); its exact arithmetic is part of the
// decoder's output and must not be replaced by a more accurate one.
#pragma once

#include <cstdint>

namespace mpeg4 {

// Transforms one 8 x 8 block of dequantised coefficients (raster order) in
// place into pixel values (intra) or residuals (inter). The portable
// reference: every faster path below gives exactly its results.
void idct_int(int32_t* block);

// Transforms `block`, clips to 0..255 and stores it at dst; leaves the
// block all zero. `override`, when set, replaces the integer transform.
void idct_put(int32_t* block, uint8_t* dst, int stride, void (*override)(int32_t*));

// Transforms `block` and adds it to the prediction at dst with clipping;
// leaves the block all zero.
void idct_add(int32_t* block, uint8_t* dst, int stride, void (*override)(int32_t*));

// The decoder's own paths: the same results as idct_put and idct_add
// without an override, faster. `nonzero` has bit i set for every raster
// position i that may hold a non-zero coefficient; positions whose bit is
// clear must be zero. Blocks with only a DC term or only a first row take
// short cuts that are exact for this transform; the rest take the full
// transform (vector code where the processor has AVX2). Coefficients lie in
// -2048..2047, as inverse quantisation saturates them (ISO/IEC 14496-2,
// 7.4.4). Leave the block all zero.
void idct_put_masked(int32_t* block, uint64_t nonzero, uint8_t* dst, int stride);
void idct_add_masked(int32_t* block, uint64_t nonzero, uint8_t* dst, int stride);

// Full-transform kernels (transform, put or add with clipping, clear), for
// the dispatch above and for tests that hold the vector kernels to the
// portable ones. The vector kernels need a 32-byte aligned block; the
// dispatch above passes others to the portable kernels.
using IdctKernel = void (*)(int32_t* block, uint8_t* dst, int stride);
struct IdctKernels {
    IdctKernel put;
    IdctKernel add;
};

// The portable kernels.
IdctKernels idct_portable_kernels();

// The AVX2 kernels, or {nullptr, nullptr} when the processor lacks AVX2.
IdctKernels idct_avx2_kernels();

}  // namespace mpeg4
