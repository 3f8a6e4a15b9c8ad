// The full inverse transform with AVX2: eight 32-bit lanes hold one row (or,
// transposed, one coefficient of every row), so both passes run on all
// eight rows or columns at once with the integer arithmetic of idct_int,
// bit for bit. Compiled for AVX2 function by function and used only when
// the processor reports AVX2; the rest of the decoder stays on the x86-64
// baseline.
#include "viewer/media/mpeg4/idct.h"

#include <immintrin.h>

#define MPEG4_AVX2 __attribute__((target("avx2")))

namespace mpeg4 {
namespace {

// Two 16-bit factors for _mm256_madd_epi16: lane = lo x a + hi x b.
constexpr int32_t pair(int a, int b)
{
    return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16) | static_cast<uint16_t>(a));
}

// Eight rows of eight 32-bit lanes, kept in registers: named members, as a
// local array would be copied through the stack.
struct Rows {
    __m256i r0, r1, r2, r3, r4, r5, r6, r7;
};

MPEG4_AVX2 inline Rows transpose(const Rows& in)
{
    const __m256i t0 = _mm256_unpacklo_epi32(in.r0, in.r1), t1 = _mm256_unpackhi_epi32(in.r0, in.r1);
    const __m256i t2 = _mm256_unpacklo_epi32(in.r2, in.r3), t3 = _mm256_unpackhi_epi32(in.r2, in.r3);
    const __m256i t4 = _mm256_unpacklo_epi32(in.r4, in.r5), t5 = _mm256_unpackhi_epi32(in.r4, in.r5);
    const __m256i t6 = _mm256_unpacklo_epi32(in.r6, in.r7), t7 = _mm256_unpackhi_epi32(in.r6, in.r7);
    const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
    const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
    const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
    const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
    return Rows{_mm256_permute2x128_si256(u0, u4, 0x20), _mm256_permute2x128_si256(u1, u5, 0x20),
                _mm256_permute2x128_si256(u2, u6, 0x20), _mm256_permute2x128_si256(u3, u7, 0x20),
                _mm256_permute2x128_si256(u0, u4, 0x31), _mm256_permute2x128_si256(u1, u5, 0x31),
                _mm256_permute2x128_si256(u2, u6, 0x31), _mm256_permute2x128_si256(u3, u7, 0x31)};
}

// Coefficient pairs (a, b) of each lane as the 16-bit halves of one 32-bit
// lane; coefficients lie in -2048..2047, so their low 16 bits are them.
MPEG4_AVX2 inline __m256i interleave(__m256i a, __m256i b)
{
    return _mm256_blend_epi16(a, _mm256_slli_epi32(b, 16), 0xaa);
}

MPEG4_AVX2 inline __m256i madd(__m256i pairs, int32_t factors)
{
    return _mm256_madd_epi16(pairs, _mm256_set1_epi32(factors));
}

// Row pass on transposed rows: x.rk holds coefficient k of every row. The
// products are those of idct_int, formed as sums of two 16 x 16-bit
// products; p x 181 and q x 181 are expanded into the coefficients
// (p = 151 x1 - 101 x7 - 35 x3 - 177 x5, q = 101 x1 + 151 x7 - 177 x3 +
// 35 x5), whose products with 181 still fit 16 bits. All sums are exact in
// 32 bits for coefficients in range, so the results equal idct_int's.
MPEG4_AVX2 inline Rows row_pass(const Rows& x)
{
    const __m256i x04 = interleave(x.r0, x.r4), x26 = interleave(x.r2, x.r6);
    const __m256i x17 = interleave(x.r1, x.r7), x35 = interleave(x.r3, x.r5);
    const __m256i s = madd(x04, pair(91, 91)), d = madd(x04, pair(91, -91));
    const __m256i t1 = madd(x26, pair(118, 49)), t2 = madd(x26, pair(49, -118));
    const __m256i e0 = _mm256_add_epi32(s, t1), e3 = _mm256_sub_epi32(s, t1);
    const __m256i e1 = _mm256_add_epi32(d, t2), e2 = _mm256_sub_epi32(d, t2);
    const __m256i b1 = madd(x17, pair(126, 25)), c1 = madd(x17, pair(25, -126));
    const __m256i b2 = madd(x35, pair(106, 71)), c2 = madd(x35, pair(-71, 106));
    const __m256i o0 = _mm256_add_epi32(b1, b2), o3 = _mm256_add_epi32(c1, c2);
    const __m256i p181 =
        _mm256_add_epi32(madd(x17, pair(151 * 181, -101 * 181)), madd(x35, pair(-35 * 181, -177 * 181)));
    const __m256i q181 = _mm256_add_epi32(madd(x17, pair(101 * 181, 151 * 181)), madd(x35, pair(-177 * 181, 35 * 181)));
    const __m256i round = _mm256_set1_epi32(128);
    const __m256i o1 = _mm256_srai_epi32(_mm256_add_epi32(p181, round), 8);
    const __m256i o2 = _mm256_srai_epi32(_mm256_add_epi32(q181, round), 8);
    return Rows{_mm256_add_epi32(e0, o0), _mm256_add_epi32(e1, o1), _mm256_add_epi32(e2, o2), _mm256_add_epi32(e3, o3),
                _mm256_sub_epi32(e3, o3), _mm256_sub_epi32(e2, o2), _mm256_sub_epi32(e1, o1), _mm256_sub_epi32(e0, o0)};
}

MPEG4_AVX2 inline __m256i mul(__m256i v, int32_t k)
{
    return _mm256_mullo_epi32(v, _mm256_set1_epi32(k));
}

MPEG4_AVX2 inline __m256i out(__m256i v)
{
    return _mm256_srai_epi32(_mm256_add_epi32(v, _mm256_set1_epi32(32768)), 16);
}

// Column pass on rows: x.rk holds row k of the row pass's results, lane c
// column c. Row results need more than 16 bits, so products are 32-bit
// multiplications, as in idct_int; results are (y + 32768) >> 16.
MPEG4_AVX2 inline Rows column_pass(const Rows& x)
{
    const __m256i s = mul(_mm256_add_epi32(x.r0, x.r4), 91), d = mul(_mm256_sub_epi32(x.r0, x.r4), 91);
    const __m256i t1 = _mm256_add_epi32(mul(x.r2, 118), mul(x.r6, 49));
    const __m256i t2 = _mm256_sub_epi32(mul(x.r2, 49), mul(x.r6, 118));
    const __m256i e0 = _mm256_add_epi32(s, t1), e3 = _mm256_sub_epi32(s, t1);
    const __m256i e1 = _mm256_add_epi32(d, t2), e2 = _mm256_sub_epi32(d, t2);
    const __m256i b1 = _mm256_add_epi32(mul(x.r1, 126), mul(x.r7, 25));
    const __m256i b2 = _mm256_add_epi32(mul(x.r3, 106), mul(x.r5, 71));
    const __m256i c1 = _mm256_sub_epi32(mul(x.r1, 25), mul(x.r7, 126));
    const __m256i c2 = _mm256_sub_epi32(mul(x.r5, 106), mul(x.r3, 71));
    const __m256i o0 = _mm256_add_epi32(b1, b2), o3 = _mm256_add_epi32(c1, c2);
    const __m256i bb = _mm256_sub_epi32(b1, b2), cc = _mm256_sub_epi32(c1, c2);
    const __m256i k128 = _mm256_set1_epi32(128);
    const __m256i o1 = _mm256_add_epi32(mul(_mm256_srai_epi32(_mm256_add_epi32(bb, cc), 8), 181), k128);
    const __m256i o2 = _mm256_add_epi32(mul(_mm256_srai_epi32(_mm256_sub_epi32(bb, cc), 8), 181), k128);
    return Rows{out(_mm256_add_epi32(e0, o0)), out(_mm256_add_epi32(e1, o1)), out(_mm256_add_epi32(e2, o2)),
                out(_mm256_add_epi32(e3, o3)), out(_mm256_sub_epi32(e3, o3)), out(_mm256_sub_epi32(e2, o2)),
                out(_mm256_sub_epi32(e1, o1)), out(_mm256_sub_epi32(e0, o0))};
}

// Loads the block (32-byte aligned: whole-row loads, which the compiler
// would otherwise split in two for unaligned data), clears it and
// transforms it into rows of results.
MPEG4_AVX2 inline Rows transform(int32_t* block)
{
    __m256i* b = reinterpret_cast<__m256i*>(block);
    const Rows in{_mm256_load_si256(b),     _mm256_load_si256(b + 1), _mm256_load_si256(b + 2),
                  _mm256_load_si256(b + 3), _mm256_load_si256(b + 4), _mm256_load_si256(b + 5),
                  _mm256_load_si256(b + 6), _mm256_load_si256(b + 7)};
    // Eight plain stores; a loop here would become a call to memset.
    const __m256i zero = _mm256_setzero_si256();
    _mm256_store_si256(b, zero);
    _mm256_store_si256(b + 1, zero);
    _mm256_store_si256(b + 2, zero);
    _mm256_store_si256(b + 3, zero);
    _mm256_store_si256(b + 4, zero);
    _mm256_store_si256(b + 5, zero);
    _mm256_store_si256(b + 6, zero);
    _mm256_store_si256(b + 7, zero);
    return column_pass(transpose(row_pass(transpose(in))));
}

// Rows 2k and 2k + 1 of 32-bit values to bytes with clipping to 0..255
// (packs saturates to 16 bits, packus to 8; together a clip to 0..255),
// then stored.
MPEG4_AVX2 inline void store_rows(__m256i r0, __m256i r1, __m256i r2, __m256i r3, uint8_t* dst, int stride)
{
    const __m256i w01 = _mm256_permute4x64_epi64(_mm256_packs_epi32(r0, r1), 0xd8);  // row 0 | row 1
    const __m256i w23 = _mm256_permute4x64_epi64(_mm256_packs_epi32(r2, r3), 0xd8);  // row 2 | row 3
    const __m256i bytes = _mm256_packus_epi16(w01, w23);                             // rows 0, 2 | rows 1, 3
    const __m128i lo = _mm256_castsi256_si128(bytes), hi = _mm256_extracti128_si256(bytes, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), lo);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + stride), hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 2 * stride), _mm_unpackhi_epi64(lo, lo));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 3 * stride), _mm_unpackhi_epi64(hi, hi));
}

MPEG4_AVX2 inline void store_block(const Rows& y, uint8_t* dst, int stride)
{
    store_rows(y.r0, y.r1, y.r2, y.r3, dst, stride);
    store_rows(y.r4, y.r5, y.r6, y.r7, dst + 4 * stride, stride);
}

MPEG4_AVX2 void put_avx2(int32_t* block, uint8_t* dst, int stride)
{
    store_block(transform(block), dst, stride);
}

// pixel + residual in 32 bits is exact; the packs then clip.
MPEG4_AVX2 inline __m256i add_pixels(__m256i residual, const uint8_t* p)
{
    return _mm256_add_epi32(residual, _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}

MPEG4_AVX2 void add_avx2(int32_t* block, uint8_t* dst, int stride)
{
    const Rows y = transform(block);
    const Rows sum{add_pixels(y.r0, dst),
                   add_pixels(y.r1, dst + stride),
                   add_pixels(y.r2, dst + 2 * stride),
                   add_pixels(y.r3, dst + 3 * stride),
                   add_pixels(y.r4, dst + 4 * stride),
                   add_pixels(y.r5, dst + 5 * stride),
                   add_pixels(y.r6, dst + 6 * stride),
                   add_pixels(y.r7, dst + 7 * stride)};
    store_block(sum, dst, stride);
}

}  // namespace

IdctKernels idct_avx2_kernels()
{
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2")) return {nullptr, nullptr};
    return {put_avx2, add_avx2};
}

}  // namespace mpeg4
