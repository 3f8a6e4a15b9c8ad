#include "viewer/media/mpeg4/idct.h"

#include <algorithm>
#include <cstring>

namespace mpeg4 {
namespace {

// 128 x cos(k pi / 16) and sin counterparts, and 128 x sqrt(2) for the odd
// rotation.
constexpr int32_t C1 = 126, S1 = 25;   // pi/16
constexpr int32_t C3 = 106, S3 = 71;   // 3 pi/16
constexpr int32_t C6 = 118, S6 = 49;   // pi/8
constexpr int32_t C4 = 91;             // pi/4
constexpr int32_t R2 = 181;            // 128 x sqrt(2)

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
    r[0] = e0 + o0; r[7] = e0 - o0;
    r[1] = e1 + o1; r[6] = e1 - o1;
    r[2] = e2 + o2; r[5] = e2 - o2;
    r[3] = e3 + o3; r[4] = e3 - o3;
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

}  // namespace mpeg4
