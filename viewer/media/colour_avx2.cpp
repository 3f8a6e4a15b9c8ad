// AVX2 colour conversion, 32 pixels of two rows per step. It computes the
// tables' products directly (each table entry is factor x (sample - offset))
// as exact 32-bit values from 16-bit multiply-adds, so every sum, shift and
// clamp is the table path's, byte for byte; only the order of work differs.
#include "viewer/media/colour_internal.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>

#define CAMVIEWER_TARGET_AVX2 __attribute__((target("avx2")))
#define CAMVIEWER_INLINE_AVX2 __attribute__((target("avx2"), always_inline)) inline

namespace media::colour_detail {
namespace {

// pshufb masks that interleave 16 blue, 16 green and 16 red bytes into 48
// bytes B G R B G R ...: mask [j][c] picks, for output bytes 16j..16j+15,
// the bytes of channel c (0 blue, 1 green, 2 red) and zeroes the others.
// Both 128-bit lanes use the same mask (lane 1 holds pixels 16..31).
struct InterleaveMasks {
  alignas(32) std::array<std::array<std::array<std::int8_t, 32>, 3>, 3> m{};
};
constexpr InterleaveMasks make_masks() {
  InterleaveMasks masks;
  for (int j = 0; j < 3; ++j)
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 32; ++i) {
        const int k = 16 * j + (i % 16);
        masks.m[j][c][i] = static_cast<std::int8_t>(k % 3 == c ? k / 3 : 0x80);
      }
  return masks;
}
constexpr InterleaveMasks kMasks = make_masks();

CAMVIEWER_INLINE_AVX2 __m256i mask(int j, int c) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(kMasks.m[j][c].data()));
}

// The chroma part of each component for 32 columns, each chroma sample
// doubled for its two columns. Index q matches the pixel groups of
// convert_32: q covers pixels 4q..4q+3 in the low 128-bit lane and
// 16+4q..19+4q in the high one, the order in which in-lane unpacking and
// packing leave them.
struct ChromaTerms {
  __m256i red[4], green[4], blue[4];
};

// Products of a sample held in 16-bit pairs (s, k s) with a factor split
// as a + k b (a, b in 16 bits): one multiply-add gives the exact 32-bit
// product without a 32-bit multiply.
CAMVIEWER_INLINE_AVX2 __m256i times(__m256i s_ks_pairs, int a, int b) {
  return _mm256_madd_epi16(s_ks_pairs, _mm256_set1_epi32(static_cast<int>((static_cast<unsigned>(b) << 16) |
                                                                          (static_cast<unsigned>(a) & 0xFFFFu))));
}

// The red, green and blue terms, in 32 bits, of the chroma samples held in
// 16 bits in u and v (centred on 0): h = 0 takes samples 0..3 of each lane,
// h = 1 samples 4..7, the order in-lane unpacking gives.
struct ChromaQuad {
  __m256i red, green, blue;
};
CAMVIEWER_INLINE_AVX2 ChromaQuad chroma_quad(__m256i u, __m256i v, int h) {
  const __m256i u4 = _mm256_slli_epi16(u, 2);
  const __m256i v4 = _mm256_slli_epi16(v, 2);
  // The luma offset 76309 x 16 is folded in here so that the per-pixel work
  // is 76309 Y + term: 76309 (Y - 16) + k = 76309 Y + (k - 1220944).
  const __m256i luma_offset = _mm256_set1_epi32(76309 * 16);
  const __m256i high_half = _mm256_set1_epi32(static_cast<int>(0xFFFF0000u));
  const __m256i v_4v = h ? _mm256_unpackhi_epi16(v, v4) : _mm256_unpacklo_epi16(v, v4);
  const __m256i u_4u = h ? _mm256_unpackhi_epi16(u, u4) : _mm256_unpacklo_epi16(u, u4);
  const __m256i u_v = h ? _mm256_unpackhi_epi16(u, v) : _mm256_unpacklo_epi16(u, v);
  // 104597 = 1 + 4 x 26149; 132201 = 1133 + 4 x 32767;
  // 25675 u + 53279 v = 25675 u - 12257 v + 65536 v, and the pair's high
  // half already is v x 65536.
  ChromaQuad q;
  q.red = _mm256_sub_epi32(times(v_4v, 1, 26149), luma_offset);
  q.blue = _mm256_sub_epi32(times(u_4u, 1133, 32767), luma_offset);
  q.green =
      _mm256_add_epi32(_mm256_add_epi32(times(u_v, 25675, -12257), _mm256_and_si256(u_v, high_half)), luma_offset);
  return q;
}

// 16 chroma samples, 8-bit, widened to 16 bits and centred on 0.
CAMVIEWER_INLINE_AVX2 __m256i centred(__m128i samples) {
  return _mm256_sub_epi16(_mm256_cvtepu8_epi16(samples), _mm256_set1_epi16(128));
}

// Terms for 32 columns of a full-size picture: 16 samples, each doubled for
// its two columns.
CAMVIEWER_INLINE_AVX2 void chroma_terms(const std::uint8_t* cb, const std::uint8_t* cr, ChromaTerms& out) {
  // [c0..c7 | c8..c15].
  const __m256i u = centred(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb)));
  const __m256i v = centred(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr)));
#pragma GCC unroll 2
  for (int h = 0; h < 2; ++h) {
    // h = 0: chroma [c0..c3 | c8..c11], h = 1: [c4..c7 | c12..c15].
    const ChromaQuad q = chroma_quad(u, v, h);
    out.red[2 * h] = _mm256_unpacklo_epi32(q.red, q.red);
    out.red[2 * h + 1] = _mm256_unpackhi_epi32(q.red, q.red);
    out.green[2 * h] = _mm256_unpacklo_epi32(q.green, q.green);
    out.green[2 * h + 1] = _mm256_unpackhi_epi32(q.green, q.green);
    out.blue[2 * h] = _mm256_unpacklo_epi32(q.blue, q.blue);
    out.blue[2 * h + 1] = _mm256_unpackhi_epi32(q.blue, q.blue);
  }
}

// Terms for 32 pixels of a half-size picture, one sample each. Group q
// needs samples 4q..4q+3 and 16+4q..19+4q: the 64-bit quarters of the 32
// samples reordered 0, 2, 1, 3 put samples 0..7 and 16..23 in the low half
// (groups 0 and 1) and 8..15 and 24..31 in the high half (groups 2 and 3).
CAMVIEWER_INLINE_AVX2 void chroma_terms_distinct(const std::uint8_t* cb, const std::uint8_t* cr, ChromaTerms& out) {
  const __m256i cb32 =
      _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cb)), _MM_SHUFFLE(3, 1, 2, 0));
  const __m256i cr32 =
      _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cr)), _MM_SHUFFLE(3, 1, 2, 0));
#pragma GCC unroll 2
  for (int half = 0; half < 2; ++half) {
    const __m256i u = centred(half ? _mm256_extracti128_si256(cb32, 1) : _mm256_castsi256_si128(cb32));
    const __m256i v = centred(half ? _mm256_extracti128_si256(cr32, 1) : _mm256_castsi256_si128(cr32));
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
      const ChromaQuad q = chroma_quad(u, v, h);
      out.red[2 * half + h] = q.red;
      out.green[2 * half + h] = q.green;
      out.blue[2 * half + h] = q.blue;
    }
  }
}

// Rounded 2 x 2 means of 32 columns of two luma rows, in 16 bits:
// adjacent bytes added, then the row below added.
CAMVIEWER_INLINE_AVX2 __m256i block_means(const std::uint8_t* top, const std::uint8_t* bottom) {
  const __m256i ones = _mm256_set1_epi8(1);
  const __m256i a = _mm256_maddubs_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(top)), ones);
  const __m256i b = _mm256_maddubs_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom)), ones);
  return _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(a, b), _mm256_set1_epi16(2)), 2);
}

// The 2 x 2 means of 64 columns of two luma rows: 32 bytes in pixel order.
CAMVIEWER_INLINE_AVX2 __m256i luma_means(const std::uint8_t* top, const std::uint8_t* bottom) {
  // The in-lane pack leaves pixels 0..7, 16..23 | 8..15, 24..31.
  const __m256i packed = _mm256_packus_epi16(block_means(top, bottom), block_means(top + 32, bottom + 32));
  return _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0));
}

// Two 32-bit vectors for pixel groups (4q..4q+3 | 16+4q..) for q and q+1,
// and the same for q+2 and q+3, down to 32 bytes in pixel order: the
// in-lane packs undo the in-lane unpacking.
CAMVIEWER_INLINE_AVX2 __m256i pack_bytes(__m256i a, __m256i b, __m256i c, __m256i d) {
  return _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
}

template <bool kStream>
CAMVIEWER_INLINE_AVX2 void store_16(std::uint8_t* out, __m128i v) {
  if constexpr (kStream)
    _mm_stream_si128(reinterpret_cast<__m128i*>(out), v);
  else
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}

template <bool kStream>
CAMVIEWER_INLINE_AVX2 void convert_32(__m256i luma, const ChromaTerms& c, std::uint8_t* out) {
  const __m256i zero = _mm256_setzero_si256();
  // [p0..p7 | p16..p23] and [p8..p15 | p24..p31] in 16 bits, then pairs
  // (Y, 2Y): 76309 = 10775 + 2 x 32767.
  const __m256i ya = _mm256_unpacklo_epi8(luma, zero);
  const __m256i yb = _mm256_unpackhi_epi8(luma, zero);
  const __m256i ya2 = _mm256_add_epi16(ya, ya);
  const __m256i yb2 = _mm256_add_epi16(yb, yb);
  const __m256i pairs[4] = {_mm256_unpacklo_epi16(ya, ya2), _mm256_unpackhi_epi16(ya, ya2),
                            _mm256_unpacklo_epi16(yb, yb2), _mm256_unpackhi_epi16(yb, yb2)};
  __m256i r[4], g[4], b[4];
#pragma GCC unroll 4
  for (int q = 0; q < 4; ++q) {
    const __m256i l = times(pairs[q], 10775, 32767);
    r[q] = _mm256_srai_epi32(_mm256_add_epi32(l, c.red[q]), 16);
    g[q] = _mm256_srai_epi32(_mm256_sub_epi32(l, c.green[q]), 16);
    b[q] = _mm256_srai_epi32(_mm256_add_epi32(l, c.blue[q]), 16);
  }
  // Saturating packs clamp to 0..255 exactly like the clip table.
  const __m256i rb = pack_bytes(r[0], r[1], r[2], r[3]);
  const __m256i gb = pack_bytes(g[0], g[1], g[2], g[3]);
  const __m256i bb = pack_bytes(b[0], b[1], b[2], b[3]);

  // Lane 0 of o[0..2] is pixels 0..15 (48 bytes), lane 1 pixels 16..31.
#pragma GCC unroll 3
  for (int j = 0; j < 3; ++j) {
    const __m256i o =
        _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(bb, mask(j, 0)), _mm256_shuffle_epi8(gb, mask(j, 1))),
                        _mm256_shuffle_epi8(rb, mask(j, 2)));
    store_16<kStream>(out + 16 * j, _mm256_castsi256_si128(o));
    store_16<kStream>(out + 48 + 16 * j, _mm256_extracti128_si256(o, 1));
  }
}

template <bool kStream>
CAMVIEWER_TARGET_AVX2 void convert_rows(const Tables& t, const Picture& p) {
  const int vector_width = p.width & ~31;
  const int chroma_width = p.width / 2;
  for (int pair = 0; pair < p.height / 2; ++pair) {
    const std::uint8_t* y0 = p.y + static_cast<std::size_t>(2 * pair) * p.width;
    const std::uint8_t* y1 = y0 + p.width;
    const std::uint8_t* cb = p.cb + static_cast<std::size_t>(pair) * chroma_width;
    const std::uint8_t* cr = p.cr + static_cast<std::size_t>(pair) * chroma_width;
    std::uint8_t* o0 = p.out_row(2 * pair);
    std::uint8_t* o1 = p.out_row(2 * pair + 1);
    for (int x = 0; x < vector_width; x += 32) {
      ChromaTerms terms;
      chroma_terms(cb + x / 2, cr + x / 2, terms);
      convert_32<kStream>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y0 + x)), terms, o0 + 3 * x);
      convert_32<kStream>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y1 + x)), terms, o1 + 3 * x);
    }
    if (vector_width < p.width) convert_pair_table(t, p, pair, vector_width);
  }
}

template <bool kStream>
CAMVIEWER_TARGET_AVX2 void convert_half_rows(const Tables& t, const Picture& p) {
  const int out_width = p.width / 2;
  const int vector_width = out_width & ~31;
  for (int r = 0; r < p.height / 2; ++r) {
    const std::uint8_t* y0 = p.y + static_cast<std::size_t>(2 * r) * p.width;
    const std::uint8_t* y1 = y0 + p.width;
    const std::uint8_t* cb = p.cb + static_cast<std::size_t>(r) * out_width;
    const std::uint8_t* cr = p.cr + static_cast<std::size_t>(r) * out_width;
    std::uint8_t* o = p.half_out_row(r);
    for (int x = 0; x < vector_width; x += 32) {
      ChromaTerms terms;
      chroma_terms_distinct(cb + x, cr + x, terms);
      convert_32<kStream>(luma_means(y0 + 2 * x, y1 + 2 * x), terms, o + 3 * x);
    }
    if (vector_width < out_width) convert_half_row_table(t, p, r, vector_width);
  }
}

// A picture this large is not read again before it leaves the cache (a view
// draws it tens of milliseconds later, after other cameras' work), so its
// rows go straight to memory: that saves reading every output line in first
// and keeps the decoders' pictures in the cache. The stores need 16-byte
// aligned rows; a picture whose rows are not is stored as usual.
bool stream_output(const std::uint8_t* rgb, int out_width, int out_height) {
  constexpr std::size_t kStreamBytes = std::size_t{128} * 1024;
  const std::size_t row_bytes = std::size_t{3} * static_cast<std::size_t>(out_width);
  return row_bytes * static_cast<std::size_t>(out_height) >= kStreamBytes &&
         reinterpret_cast<std::uintptr_t>(rgb) % 16 == 0 && out_width % 32 == 0;
}

}  // namespace

bool avx2_supported() {
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported;
}

CAMVIEWER_TARGET_AVX2 void convert_avx2(const Tables& t, const Picture& p) {
  if (stream_output(p.rgb, p.width, p.height)) {
    convert_rows<true>(t, p);
    _mm_sfence();  // the rows are seen by whoever is handed the picture next
  } else {
    convert_rows<false>(t, p);
  }
}

CAMVIEWER_TARGET_AVX2 void convert_half_avx2(const Tables& t, const Picture& p) {
  if (stream_output(p.rgb, p.width / 2, p.height / 2)) {
    convert_half_rows<true>(t, p);
    _mm_sfence();
  } else {
    convert_half_rows<false>(t, p);
  }
}

}  // namespace media::colour_detail

#else

namespace media::colour_detail {
bool avx2_supported() { return false; }
void convert_avx2(const Tables& t, const Picture& p) {
  for (int pair = 0; pair < p.height / 2; ++pair) convert_pair_table(t, p, pair, 0);
}
void convert_half_avx2(const Tables& t, const Picture& p) {
  for (int r = 0; r < p.height / 2; ++r) convert_half_row_table(t, p, r, 0);
}
}  // namespace media::colour_detail

#endif
