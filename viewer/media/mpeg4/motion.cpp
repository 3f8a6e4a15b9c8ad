// P-VOPs of ISO/IEC 14496-2: the macroblock loop, motion vector prediction
// and decoding (7.6.2, 7.6.3), half-pel motion compensation from the padded
// reference (7.6.2.1) and chroma vector derivation.
#include "viewer/media/mpeg4/motion.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <emmintrin.h>

#include "viewer/media/mpeg4/internal.h"
#include "viewer/media/mpeg4/tables.h"
#include "viewer/media/mpeg4/vlc.h"

namespace mpeg4 {
namespace {

inline int32_t median3(int32_t a, int32_t b, int32_t c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// Reads one motion vector differential component (Table B-12 code, sign,
// residual bits). False on an invalid code.
inline bool read_mvd(BitCursor& br, int fcode, int scale_factor, int32_t& diff)
{
    const int magnitude = vlc_read<kMvdBits>(br, kMvdLut.data());
    if (magnitude < 0) return false;
    if (magnitude == 0) {
        diff = 0;
        return true;
    }
    const bool negative = br.read1() != 0;
    int32_t v = magnitude;
    if (scale_factor != 1) {
        const int32_t r = static_cast<int32_t>(br.read(static_cast<unsigned>(fcode - 1)));
        v = (magnitude - 1) * scale_factor + r + 1;
    }
    diff = negative ? -v : v;
    return true;
}

// Bilinear half-pel prediction of an n x n block, one pixel at a time.
template <int n>
void interpolate_portable(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride, int hx, int hy, int r)
{
    if (!hx && !hy) {
        for (int y = 0; y < n; ++y) std::memcpy(dst + y * dst_stride, src + y * src_stride, n);
    } else if (hx && !hy) {
        const int round = 1 - r;
        for (int y = 0; y < n; ++y) {
            const uint8_t* s = src + y * src_stride;
            uint8_t* o = dst + y * dst_stride;
            for (int x = 0; x < n; ++x) o[x] = static_cast<uint8_t>((s[x] + s[x + 1] + round) >> 1);
        }
    } else if (!hx && hy) {
        const int round = 1 - r;
        for (int y = 0; y < n; ++y) {
            const uint8_t* s = src + y * src_stride;
            uint8_t* o = dst + y * dst_stride;
            for (int x = 0; x < n; ++x) o[x] = static_cast<uint8_t>((s[x] + s[x + src_stride] + round) >> 1);
        }
    } else {
        const int round = 2 - r;
        for (int y = 0; y < n; ++y) {
            const uint8_t* s = src + y * src_stride;
            const uint8_t* t = s + src_stride;
            uint8_t* o = dst + y * dst_stride;
            for (int x = 0; x < n; ++x) o[x] = static_cast<uint8_t>((s[x] + s[x + 1] + t[x] + t[x + 1] + round) >> 2);
        }
    }
}

// SSE2 rows of n = 8 or 16 bytes.
template <int n>
inline __m128i load_row(const uint8_t* p)
{
    if constexpr (n == 16)
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    else
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

template <int n>
inline void store_row(uint8_t* p, __m128i v)
{
    if constexpr (n == 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    else
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

// (a + b + 1 - r) >> 1 per byte: pavgb rounds up, and for r = 1 the
// rounded-up half exceeds the rounded-down one exactly where a + b is odd.
inline __m128i half(__m128i a, __m128i b, __m128i r_mask)
{
    const __m128i up = _mm_avg_epu8(a, b);
    return _mm_sub_epi8(up, _mm_and_si128(_mm_xor_si128(a, b), r_mask));
}

// The same prediction 8 or 16 pixels at a time, bit for bit: the two-tap
// cases through pavgb, the four-tap case in 16-bit lanes where the sum of
// four pixels and the rounding constant is exact.
template <int n>
void interpolate_sse2(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride, int hx, int hy, int r)
{
    if (!hx && !hy) {
        for (int y = 0; y < n; ++y) store_row<n>(dst + y * dst_stride, load_row<n>(src + y * src_stride));
        return;
    }
    const __m128i r_mask = _mm_set1_epi8(static_cast<char>(r));
    if (!hy || !hx) {
        const int next = hx ? 1 : src_stride;
        for (int y = 0; y < n; ++y) {
            const uint8_t* s = src + y * src_stride;
            store_row<n>(dst + y * dst_stride, half(load_row<n>(s), load_row<n>(s + next), r_mask));
        }
        return;
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi16(static_cast<int16_t>(2 - r));
    // Horizontal pair sums of one source row, low and high eight pixels.
    const auto pair_sums = [&](const uint8_t* s, __m128i& lo, __m128i& hi) {
        const __m128i a = load_row<n>(s), b = load_row<n>(s + 1);
        lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
        hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    };
    __m128i above_lo, above_hi;
    pair_sums(src, above_lo, above_hi);
    for (int y = 0; y < n; ++y) {
        __m128i below_lo, below_hi;
        pair_sums(src + (y + 1) * src_stride, below_lo, below_hi);
        const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(above_lo, below_lo), round), 2);
        const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(above_hi, below_hi), round), 2);
        store_row<n>(dst + y * dst_stride, _mm_packus_epi16(lo, hi));
        above_lo = below_lo;
        above_hi = below_hi;
    }
}

template <int n>
inline void predict_block(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride, int hx, int hy, int r)
{
    interpolate_sse2<n>(src, src_stride, dst, dst_stride, hx, hy, r);
}

}  // namespace

MotionVector predict_vector(const DECODER& d, int col, int row, int block)
{
    const MotionVector* here = d.vectors + 5 * (row * d.mb_cols + col);
    const bool has_left = col > 0;
    const bool has_above = row > 0;
    const bool has_above_right = row > 0 && col < d.mb_cols - 1;
    const MotionVector* left = has_left ? here - 5 : nullptr;
    const MotionVector* above = has_above ? here - 5 * d.mb_cols : nullptr;
    const MotionVector* above_right = has_above_right ? here - 5 * d.mb_cols + 5 : nullptr;

    // Candidates MV1 (left), MV2 (above), MV3 (above-right) for the
    // macroblock vector (block 0) and the four block vectors.
    const MotionVector* c[3];
    switch (block) {
        case 0:
        case 1:
            c[0] = left ? left + 2 : nullptr;
            c[1] = above ? above + 3 : nullptr;
            c[2] = above_right ? above_right + 3 : nullptr;
            break;
        case 2:
            c[0] = here + 1;
            c[1] = above ? above + 4 : nullptr;
            c[2] = above_right ? above_right + 3 : nullptr;
            break;
        case 3:
            c[0] = left ? left + 4 : nullptr;
            c[1] = here + 1;
            c[2] = here + 2;
            break;
        default:
            c[0] = here + 3;
            c[1] = here + 1;
            c[2] = here + 2;
            break;
    }
    const int valid = (c[0] != nullptr) + (c[1] != nullptr) + (c[2] != nullptr);
    if (valid == 1) {
        for (const MotionVector* v : c)
            if (v != nullptr) return *v;
    }
    const MotionVector zero{0, 0};
    const MotionVector& a = c[0] ? *c[0] : zero;
    const MotionVector& b = c[1] ? *c[1] : zero;
    const MotionVector& e = c[2] ? *c[2] : zero;
    return MotionVector{median3(a.x, b.x, e.x), median3(a.y, b.y, e.y)};
}

int32_t wrap_vector(int32_t v, int32_t range)
{
    if (v < -range) return v + 2 * range;
    if (v >= range) return v - 2 * range;
    return v;
}

int32_t chroma_from_one(int32_t v)
{
    const int32_t a = std::abs(v);
    const int32_t c = (a / 4) * 2 + kChromaRound4[a % 4];
    return v < 0 ? -c : c;
}

int32_t chroma_from_four(int32_t sum)
{
    const int32_t a = std::abs(sum);
    const int32_t c = (a / 16) * 2 + kChromaRound16[a % 16];
    return sum < 0 ? -c : c;
}

void predict_luma(const DECODER& d, int x, int y, int n, MotionVector v, uint8_t* dst)
{
    // A prediction never starts more than 32 pixels outside the picture; the
    // border of the reference holds exactly what lies beyond.
    const int px = std::clamp(2 * x + v.x, -64, 2 * (d.width - n) + 64);
    const int py = std::clamp(2 * y + v.y, -64, 2 * (d.height - n) + 64);
    const uint8_t* src = d.ref_y + d.luma_origin + (py >> 1) * d.luma_stride + (px >> 1);
    if (n == 16)
        predict_block<16>(src, d.luma_stride, dst, d.width, px & 1, py & 1, d.vop.rounding_type);
    else
        predict_block<8>(src, d.luma_stride, dst, d.width, px & 1, py & 1, d.vop.rounding_type);
}

void predict_chroma(const DECODER& d, int col, int row, MotionVector c, uint8_t* dst_cb, uint8_t* dst_cr)
{
    const int px = std::clamp(16 * col + c.x, -32, d.width - 16 + 32);
    const int py = std::clamp(16 * row + c.y, -32, d.height - 16 + 32);
    const int offset = d.chroma_origin + (py >> 1) * d.chroma_stride + (px >> 1);
    const int stride = d.width / 2;
    predict_block<8>(d.ref_cb + offset, d.chroma_stride, dst_cb, stride, px & 1, py & 1, d.vop.rounding_type);
    predict_block<8>(d.ref_cr + offset, d.chroma_stride, dst_cr, stride, px & 1, py & 1, d.vop.rounding_type);
}

void decode_p_vop(DECODER& d, BitReader& reader)
{
    BitCursor br(reader);
    struct WriteBack {
        BitReader& to;
        const BitCursor& from;
        ~WriteBack() { from.store(to); }
    } write_back{reader, br};
    int32_t running_quant = d.vop.quant;
    bool first_coded = true;
    const int fcode = d.vop.fcode;
    const int scale = d.vop.scale_factor;
    const int32_t range = d.mv_range;
    const int cstride = d.width / 2;

    for (int row = 0; row < d.mb_rows; ++row) {
        for (int col = 0; col < d.mb_cols; ++col) {
            MacroblockRecord& mb = d.macroblocks[row * d.mb_cols + col];
            MotionVector* mv = d.vectors + 5 * (row * d.mb_cols + col);
            mb.col = col;
            mb.row = row;

            // not_coded, then MCBPC; stuffing repeats both (ISO/IEC
            // 14496-2, 6.2.7).
            int mcbpc = -1;
            bool skipped = false;
            for (;;) {
                if (br.read1()) {
                    skipped = true;
                    break;
                }
                mcbpc = vlc_read<kMcbpcPBits>(br, kMcbpcPLut.data());
                if (mcbpc != kMcbpcPStuffing) break;
            }
            if (skipped) {
                // Zero vector, no residual: the current picture already
                // holds the previous picture here.
                mb.type = kInter;
                mb.not_coded = 1;
                mb.four_mv = 0;
                mb.ac_pred_flag = 0;
                mb.dquant = 0;
                mb.quant = running_quant;
                mb.quant_before = running_quant;
                std::fill(mb.coded, mb.coded + 6, 0);
                std::fill(mv, mv + 5, MotionVector{0, 0});
                continue;
            }
            if (mcbpc < 0) {
                mb.type = kInter;
                d.error = 1;
                return;
            }
            const int kind = mcbpc / 4;
            const int cbpc = mcbpc & 3;
            mb.not_coded = 0;
            mb.four_mv = kind == 2 ? 1 : 0;
            mb.type = kind == 0 || kind == 2 ? kInter : kind == 1 ? kInterQ : kind == 3 ? kIntra : kIntraQ;
            const bool intra = is_intra(mb.type);
            mb.ac_pred_flag = intra ? static_cast<int32_t>(br.read1()) : 0;
            int cbpy = vlc_read<kCbpyBits>(br, kCbpyLut.data());
            if (cbpy < 0) {
                mb.type = kInter;
                d.error = 1;
                return;
            }
            if (!intra) cbpy = 15 - cbpy;
            const int32_t before = running_quant;
            mb.dquant = 0;
            if (mb.type == kInterQ || mb.type == kIntraQ) {
                mb.dquant = kDquantTable[br.read(2)];
                running_quant = std::clamp(running_quant + mb.dquant, 1, 31);
            }
            mb.quant = running_quant;
            mb.quant_before = first_coded ? running_quant : before;
            first_coded = false;
            for (int k = 0; k < 4; ++k) mb.coded[k] = (cbpy >> (3 - k)) & 1;
            mb.coded[4] = (cbpc >> 1) & 1;
            mb.coded[5] = cbpc & 1;

            if (intra) {
                std::fill(mv, mv + 5, MotionVector{0, 0});
                decode_intra_texture(d, br, mb);
                if (d.error) return;
                continue;
            }

            // Motion vectors.
            const int blocks = mb.four_mv ? 4 : 1;
            for (int k = 0; k < blocks; ++k) {
                const int block = mb.four_mv ? k + 1 : 0;
                const MotionVector p = predict_vector(d, col, row, block);
                int32_t dx, dy;
                if (!read_mvd(br, fcode, scale, dx) || !read_mvd(br, fcode, scale, dy)) {
                    d.error = 1;
                    return;
                }
                const MotionVector v{wrap_vector(p.x + dx, range), wrap_vector(p.y + dy, range)};
                if (mb.four_mv) {
                    mv[block] = v;
                } else {
                    std::fill(mv, mv + 5, v);
                }
            }

            // Prediction into the current picture, then the residual.
            uint8_t* y = d.cur_y + 16 * row * d.width + 16 * col;
            MotionVector chroma;
            if (!mb.four_mv) {
                predict_luma(d, 16 * col, 16 * row, 16, mv[0], y);
                chroma = MotionVector{chroma_from_one(mv[0].x), chroma_from_one(mv[0].y)};
            } else {
                for (int k = 0; k < 4; ++k) {
                    const int bx = 16 * col + 8 * (k & 1), by = 16 * row + 8 * (k >> 1);
                    predict_luma(d, bx, by, 8, mv[k + 1], d.cur_y + by * d.width + bx);
                }
                chroma = MotionVector{chroma_from_four(mv[1].x + mv[2].x + mv[3].x + mv[4].x),
                                      chroma_from_four(mv[1].y + mv[2].y + mv[3].y + mv[4].y)};
            }
            predict_chroma(d, col, row, chroma, d.cur_cb + 8 * row * cstride + 8 * col,
                           d.cur_cr + 8 * row * cstride + 8 * col);
            decode_inter_texture(d, br, mb);
            if (d.error) return;
        }
    }
}

void interpolate_block_portable(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride, int n, int hx, int hy,
                                int rounding)
{
    if (n == 16)
        interpolate_portable<16>(src, src_stride, dst, dst_stride, hx, hy, rounding);
    else
        interpolate_portable<8>(src, src_stride, dst, dst_stride, hx, hy, rounding);
}

void interpolate_block(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride, int n, int hx, int hy,
                       int rounding)
{
    if (n == 16)
        interpolate_sse2<16>(src, src_stride, dst, dst_stride, hx, hy, rounding);
    else
        interpolate_sse2<8>(src, src_stride, dst, dst_stride, hx, hy, rounding);
}

}  // namespace mpeg4
