// Motion vectors and motion compensation of P-VOPs (motion.cpp), exposed
// for the P-VOP loop and for tests of the individual rules.
#pragma once

#include <cstdint>

#include "viewer/media/mpeg4/internal.h"

namespace mpeg4 {

// Median prediction of the vector of `block` (0 = whole macroblock, 1..4 =
// luma blocks) of the macroblock at (col, row), from the stored records of
// its left, above and above-right neighbours (ISO/IEC 14496-2, 7.6.5).
MotionVector predict_vector(const DECODER& d, int col, int row, int block);

// Brings prediction + differential back into [-range, range).
int32_t wrap_vector(int32_t v, int32_t range);

// Chroma vector component from one luma vector component, or from the sum
// of the four block vector components (ISO/IEC 14496-2, 7.6.3).
int32_t chroma_from_one(int32_t v);
int32_t chroma_from_four(int32_t sum);

// Half-pel prediction of the n x n luma block (n = 16 or 8) whose top-left
// pixel is (x, y), from the padded reference, written to dst (stride
// width).
void predict_luma(const DECODER& d, int x, int y, int n, MotionVector v, uint8_t* dst);

// Prediction of the two 8 x 8 chroma blocks of macroblock (col, row) with
// chroma vector c.
void predict_chroma(const DECODER& d, int col, int row, MotionVector c, uint8_t* dst_cb, uint8_t* dst_cr);

// Half-pel interpolation of an n x n block (n = 8 or 16) at src with
// half-pel flags hx, hy and rounding type `rounding` (ISO/IEC 14496-2,
// 7.6.2.1), reading n + 1 rows and columns where a flag is set. The decoder
// uses the vector version; the portable one is its reference.
void interpolate_block(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride, int n, int hx, int hy,
                       int rounding);
void interpolate_block_portable(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride, int n, int hx, int hy,
                                int rounding);

}  // namespace mpeg4
