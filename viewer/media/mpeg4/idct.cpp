#include "viewer/media/mpeg4/idct.h"

#include <algorithm>
#include <cstring>

#include <emmintrin.h>

namespace mpeg4 {
namespace {

// 128 x cos(k pi / 16) and sin counterparts, and 128 x sqrt(2) for the odd
// rotation.
constexpr int32_t C1 = 126, S1 = 25;  // pi/16
constexpr int32_t C3 = 106, S3 = 71;  // 3 pi/16
constexpr int32_t C6 = 118, S6 = 49;  // pi/8
constexpr int32_t C4 = 91;            // pi/4
constexpr int32_t R2 = 181;           // 128 x sqrt(2)

// First pass over one row; results keep their scale (no rounding shift).
inline void row_pass(int32_t* r)
{
    const int32_t x0 = r[0], x1 = r[1], x2 = r[2], x3 = r[3];
    const int32_t x4 = r[4], x5 = r[5], x6 = r[6], x7 = r[7];
    if ((x1 | x2 | x3 | x4 | x5 | x6 | x7) == 0) {
        // Only the DC term: every output is x0 x 91 (the odd part is 0).
        const int32_t v = x0 * C4;
        for (int i = 0; i < 8; ++i) r[i] = v;
        return;
    }
    const int32_t s = (x0 + x4) * C4, d = (x0 - x4) * C4;
    const int32_t t1 = x2 * C6 + x6 * S6, t2 = x2 * S6 - x6 * C6;
    const int32_t e0 = s + t1, e3 = s - t1, e1 = d + t2, e2 = d - t2;
    const int32_t b1 = x1 * C1 + x7 * S1, b2 = x3 * C3 + x5 * S3;
    const int32_t c1 = x1 * S1 - x7 * C1, c2 = x5 * C3 - x3 * S3;
    const int32_t o0 = b1 + b2, o3 = c1 + c2;
    const int32_t p = (b1 - b2) + (c1 - c2), q = (b1 - b2) - (c1 - c2);
    const int32_t o1 = (p * R2 + 128) >> 8, o2 = (q * R2 + 128) >> 8;
    r[0] = e0 + o0;
    r[7] = e0 - o0;
    r[1] = e1 + o1;
    r[6] = e1 - o1;
    r[2] = e2 + o2;
    r[5] = e2 - o2;
    r[3] = e3 + o3;
    r[4] = e3 - o3;
}

// Second pass over all eight columns at once. The odd rotation shifts
// before multiplying and keeps its +128 (it is not shifted away), as the
// transform is defined; results are (y + 32768) >> 16.
inline void column_pass(int32_t* b)
{
    for (int c = 0; c < 8; ++c) {
        const int32_t x0 = b[c], x1 = b[8 + c], x2 = b[16 + c], x3 = b[24 + c];
        const int32_t x4 = b[32 + c], x5 = b[40 + c], x6 = b[48 + c], x7 = b[56 + c];
        const int32_t s = (x0 + x4) * C4, d = (x0 - x4) * C4;
        const int32_t t1 = x2 * C6 + x6 * S6, t2 = x2 * S6 - x6 * C6;
        const int32_t e0 = s + t1, e3 = s - t1, e1 = d + t2, e2 = d - t2;
        const int32_t b1 = x1 * C1 + x7 * S1, b2 = x3 * C3 + x5 * S3;
        const int32_t c1 = x1 * S1 - x7 * C1, c2 = x5 * C3 - x3 * S3;
        const int32_t o0 = b1 + b2, o3 = c1 + c2;
        const int32_t p = (b1 - b2) + (c1 - c2), q = (b1 - b2) - (c1 - c2);
        const int32_t o1 = (p >> 8) * R2 + 128, o2 = (q >> 8) * R2 + 128;
        b[c] = (e0 + o0 + 32768) >> 16;
        b[56 + c] = (e0 - o0 + 32768) >> 16;
        b[8 + c] = (e1 + o1 + 32768) >> 16;
        b[48 + c] = (e1 - o1 + 32768) >> 16;
        b[16 + c] = (e2 + o2 + 32768) >> 16;
        b[40 + c] = (e2 - o2 + 32768) >> 16;
        b[24 + c] = (e3 + o3 + 32768) >> 16;
        b[32 + c] = (e3 - o3 + 32768) >> 16;
    }
}

inline uint8_t clip_pixel(int32_t v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline void transform(int32_t* block, void (*override)(int32_t*))
{
    if (override != nullptr) {
        override(block);
        return;
    }
    idct_int(block);
}

}  // namespace

void idct_int(int32_t* block)
{
    int32_t rows_below = 0;
    for (int r = 1; r < 8; ++r) {
        int32_t* row = block + 8 * r;
        const int32_t any = row[0] | row[1] | row[2] | row[3] | row[4] | row[5] | row[6] | row[7];
        rows_below |= any;
        if (any != 0) row_pass(row);
    }
    row_pass(block);
    if (rows_below != 0) {
        column_pass(block);
        return;
    }
    // Only the first row carries coefficients (common in inter blocks): each
    // column has x0 alone, so its even part is x0 x 91 throughout, the odd
    // part 0 and the rotation terms exactly the +128 they keep.
    for (int c = 0; c < 8; ++c) {
        const int32_t e = block[c] * C4 + 32768;
        const int32_t plain = e >> 16, up = (e + 128) >> 16, down = (e - 128) >> 16;
        block[c] = plain;
        block[8 + c] = up;
        block[16 + c] = up;
        block[24 + c] = plain;
        block[32 + c] = plain;
        block[40 + c] = down;
        block[48 + c] = down;
        block[56 + c] = plain;
    }
}

void idct_put(int32_t* block, uint8_t* dst, int stride, void (*override)(int32_t*))
{
    transform(block, override);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) dst[x] = clip_pixel(block[8 * y + x]);
        dst += stride;
    }
    std::memset(block, 0, 64 * sizeof(int32_t));
}

void idct_add(int32_t* block, uint8_t* dst, int stride, void (*override)(int32_t*))
{
    transform(block, override);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) dst[x] = clip_pixel(dst[x] + block[8 * y + x]);
        dst += stride;
    }
    std::memset(block, 0, 64 * sizeof(int32_t));
}

namespace {

void portable_put(int32_t* block, uint8_t* dst, int stride)
{
    idct_put(block, dst, stride, nullptr);
}
void portable_add(int32_t* block, uint8_t* dst, int stride)
{
    idct_add(block, dst, stride, nullptr);
}

const IdctKernels& portable_kernels()
{
    static const IdctKernels kernels{portable_put, portable_add};
    return kernels;
}

// The full transform's kernels, chosen once for this processor.
const IdctKernels& full_kernels()
{
    static const IdctKernels kernels = [] {
        const IdctKernels avx2 = idct_avx2_kernels();
        return avx2.put != nullptr ? avx2 : idct_portable_kernels();
    }();
    return kernels;
}

// Output rows of a block whose coefficients all lie in the first row: the
// column pass sees x0 alone in every column, so its even part is x0 x 91
// throughout, its odd part 0, and its rotation terms exactly the +128 they
// keep: rows 1 and 2 add 128 before the final shift, rows 5 and 6 subtract
// it, rows 0, 3, 4 and 7 add nothing. Three distinct rows, as 16-bit lanes.
struct FirstRowOutput {
    __m128i plain, up, down;
};

inline FirstRowOutput first_row_output(const int32_t* row_result)
{
    alignas(16) int16_t plain[8], up[8], down[8];
    for (int c = 0; c < 8; ++c) {
        const int32_t e = row_result[c] * C4 + 32768;
        plain[c] = static_cast<int16_t>(e >> 16);
        up[c] = static_cast<int16_t>((e + 128) >> 16);
        down[c] = static_cast<int16_t>((e - 128) >> 16);
    }
    return {_mm_load_si128(reinterpret_cast<const __m128i*>(plain)),
            _mm_load_si128(reinterpret_cast<const __m128i*>(up)),
            _mm_load_si128(reinterpret_cast<const __m128i*>(down))};
}

// A DC-only block: the row pass gives x0 x 91 in every column, so the
// three rows are flat.
inline FirstRowOutput dc_output(int32_t dc)
{
    const int32_t e = dc * (C4 * C4) + 32768;
    return {_mm_set1_epi16(static_cast<int16_t>(e >> 16)), _mm_set1_epi16(static_cast<int16_t>((e + 128) >> 16)),
            _mm_set1_epi16(static_cast<int16_t>((e - 128) >> 16))};
}

inline const __m128i& row_of(const FirstRowOutput& o, int y)
{
    // Rows 0..7: plain, up, up, plain, plain, down, down, plain.
    return y == 1 || y == 2 ? o.up : (y == 5 || y == 6 ? o.down : o.plain);
}

inline void store8(uint8_t* dst, __m128i bytes)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), bytes);
}

void put_rows(const FirstRowOutput& o, uint8_t* dst, int stride)
{
    // A row pass of coefficients within -2048..2047 gives at most 1,386,496
    // in magnitude, so these values stay within +-1,926: 16 bits hold them
    // and packus clips them to 0..255.
    const __m128i plain = _mm_packus_epi16(o.plain, o.plain);
    const __m128i up = _mm_packus_epi16(o.up, o.up);
    const __m128i down = _mm_packus_epi16(o.down, o.down);
    store8(dst, plain);
    store8(dst + stride, up);
    store8(dst + 2 * stride, up);
    store8(dst + 3 * stride, plain);
    store8(dst + 4 * stride, plain);
    store8(dst + 5 * stride, down);
    store8(dst + 6 * stride, down);
    store8(dst + 7 * stride, plain);
}

void add_rows(const FirstRowOutput& o, uint8_t* dst, int stride)
{
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < 8; ++y) {
        uint8_t* p = dst + y * stride;
        const __m128i pixels = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
        // pixel + residual stays far inside 16 bits; packus clips.
        const __m128i sum = _mm_add_epi16(pixels, row_of(o, y));
        store8(p, _mm_packus_epi16(sum, sum));
    }
}

template <bool add>
inline void reconstruct(int32_t* block, uint64_t nonzero, uint8_t* dst, int stride)
{
    if ((nonzero & ~uint64_t{1}) == 0) {
        const FirstRowOutput o = dc_output(block[0]);
        block[0] = 0;
        add ? add_rows(o, dst, stride) : put_rows(o, dst, stride);
        return;
    }
    if ((nonzero >> 8) == 0) {
        row_pass(block);
        const FirstRowOutput o = first_row_output(block);
        std::memset(block, 0, 8 * sizeof(int32_t));
        add ? add_rows(o, dst, stride) : put_rows(o, dst, stride);
        return;
    }
    // The decoder's blocks are aligned; anything else takes the portable way.
    const IdctKernels& k = (reinterpret_cast<uintptr_t>(block) & 31) == 0 ? full_kernels() : portable_kernels();
    add ? k.add(block, dst, stride) : k.put(block, dst, stride);
}

}  // namespace

void idct_put_masked(int32_t* block, uint64_t nonzero, uint8_t* dst, int stride)
{
    reconstruct<false>(block, nonzero, dst, stride);
}

void idct_add_masked(int32_t* block, uint64_t nonzero, uint8_t* dst, int stride)
{
    reconstruct<true>(block, nonzero, dst, stride);
}

IdctKernels idct_portable_kernels()
{
    return {portable_put, portable_add};
}

}  // namespace mpeg4
