// The decoder's fast paths held to the plain versions beside them, bit for
// bit: the masked and vector inverse transforms against idct_put / idct_add
// on random blocks of every shape, the windowed bit cursor against the
// byte-exact bit reader, up to and past the end of the input, the vector
// half-pel interpolation against the per-pixel one, and the reference
// update of changed macroblocks against the full update.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "sized_decoder.h"
#include "viewer/media/mpeg4/bitreader.h"
#include "viewer/media/mpeg4/decoder.h"
#include "viewer/media/mpeg4/idct.h"
#include "viewer/media/mpeg4/internal.h"
#include "viewer/media/mpeg4/motion.h"
#include "viewer/media/mpeg4/vlc.h"

namespace {

using namespace mpeg4;

// --- inverse transform ----------------------------------------------------------

enum class Shape { kDense, kSparse, kFirstRow, kDcOnly, kExtreme, kEmpty };

struct RandomBlock {
    int32_t coeff[64] = {};
    uint64_t nonzero = 0;  // exact positions, or a superset of them
};

RandomBlock make_block(std::mt19937& rng, Shape shape)
{
    std::uniform_int_distribution<int> value(-2048, 2047), small(-40, 40), pos(0, 63), row_pos(0, 7);
    RandomBlock b;
    const auto set = [&](int i, int32_t v) {
        b.coeff[i] = v;
        b.nonzero |= uint64_t{1} << i;
    };
    switch (shape) {
        case Shape::kDense:
            for (int i = 0; i < 64; ++i) set(i, (rng() & 1) ? value(rng) : small(rng));
            break;
        case Shape::kSparse:
            for (int n = 1 + static_cast<int>(rng() % 8); n > 0; --n)
                set(pos(rng), (rng() & 1) ? value(rng) : small(rng));
            break;
        case Shape::kFirstRow:
            for (int n = 1 + static_cast<int>(rng() % 8); n > 0; --n) set(row_pos(rng), value(rng));
            break;
        case Shape::kDcOnly:
            set(0, value(rng));
            break;
        case Shape::kExtreme:
            for (int i = 0; i < 64; ++i)
                if (rng() % 3 != 0) set(i, (rng() & 1) ? 2047 : -2048);
            break;
        case Shape::kEmpty:
            break;
    }
    // Callers may mark more positions than they filled, never fewer.
    if (rng() % 4 == 0) b.nonzero |= uint64_t{1} << pos(rng);
    return b;
}

constexpr Shape kShapes[] = {Shape::kDense,  Shape::kSparse,  Shape::kFirstRow,
                             Shape::kDcOnly, Shape::kExtreme, Shape::kEmpty};

// Picture area of 8 rows at a stride wider than the block, with guard bytes
// around the block that must not change.
struct Area {
    static constexpr int kStride = 24;
    uint8_t bytes[10 * kStride];
    uint8_t* block() { return bytes + kStride + 8; }
};

void fill_area(std::mt19937& rng, Area& a)
{
    for (uint8_t& v : a.bytes) v = static_cast<uint8_t>(rng());
}

TEST(FastInverseDct, MaskedPathsEqualThePlainTransformOn100000Blocks)
{
    std::mt19937 rng(2024);
    for (int round = 0; round < 100000; ++round) {
        const Shape shape = kShapes[round % 6];
        RandomBlock b = make_block(rng, shape);
        const bool add = (round / 6) % 2 == 1;
        Area plain, fast;
        fill_area(rng, plain);
        std::memcpy(&fast, &plain, sizeof plain);
        // Aligned blocks (as the decoder's) take the vector kernels, the
        // others the portable ones; both must match.
        alignas(32) int32_t plain_block[64], fast_storage[65];
        int32_t* fast_block = fast_storage + (round % 7 == 0 ? 1 : 0);
        std::memcpy(plain_block, b.coeff, sizeof plain_block);
        std::memcpy(fast_block, b.coeff, sizeof plain_block);
        if (add) {
            idct_add(plain_block, plain.block(), Area::kStride, nullptr);
            idct_add_masked(fast_block, b.nonzero, fast.block(), Area::kStride);
        } else {
            idct_put(plain_block, plain.block(), Area::kStride, nullptr);
            idct_put_masked(fast_block, b.nonzero, fast.block(), Area::kStride);
        }
        ASSERT_EQ(std::memcmp(plain.bytes, fast.bytes, sizeof plain.bytes), 0)
            << "round " << round << " shape " << static_cast<int>(shape) << (add ? " add" : " put");
        for (int i = 0; i < 64; ++i) ASSERT_EQ(fast_block[i], 0) << "round " << round << " left " << i;
    }
}

TEST(FastInverseDct, Avx2KernelsEqualThePortableOnes)
{
    const IdctKernels avx2 = idct_avx2_kernels();
    if (avx2.put == nullptr) GTEST_SKIP() << "this processor has no AVX2";
    const IdctKernels portable = idct_portable_kernels();
    std::mt19937 rng(99);
    for (int round = 0; round < 100000; ++round) {
        const RandomBlock b = make_block(rng, kShapes[round % 6]);
        const bool add = (round / 6) % 2 == 1;
        Area want, got;
        fill_area(rng, want);
        std::memcpy(&got, &want, sizeof want);
        alignas(32) int32_t a[64], c[64];
        std::memcpy(a, b.coeff, sizeof a);
        std::memcpy(c, b.coeff, sizeof c);
        (add ? portable.add : portable.put)(a, want.block(), Area::kStride);
        (add ? avx2.add : avx2.put)(c, got.block(), Area::kStride);
        ASSERT_EQ(std::memcmp(want.bytes, got.bytes, sizeof want.bytes), 0) << "round " << round;
        for (int i = 0; i < 64; ++i) ASSERT_EQ(c[i], 0) << "round " << round;
    }
}

// The short cuts rest on the column pass seeing x0 alone: a DC-only block
// is not flat (rows 1 and 2 round up, 5 and 6 down), and the masked path
// must reproduce exactly that, for every DC value.
TEST(FastInverseDct, EveryDcValueMatches)
{
    for (int32_t dc = -2048; dc <= 2047; ++dc) {
        for (const bool add : {false, true}) {
            Area plain, fast;
            for (size_t i = 0; i < sizeof plain.bytes; ++i) plain.bytes[i] = static_cast<uint8_t>(i * 37 + dc);
            std::memcpy(&fast, &plain, sizeof plain);
            int32_t a[64] = {}, c[64] = {};
            a[0] = c[0] = dc;
            if (add) {
                idct_add(a, plain.block(), Area::kStride, nullptr);
                idct_add_masked(c, 1, fast.block(), Area::kStride);
            } else {
                idct_put(a, plain.block(), Area::kStride, nullptr);
                idct_put_masked(c, 1, fast.block(), Area::kStride);
            }
            ASSERT_EQ(std::memcmp(plain.bytes, fast.bytes, sizeof plain.bytes), 0) << dc << (add ? " add" : " put");
        }
    }
}

// --- code tables -------------------------------------------------------------------

// The coefficient loops' run-level tables give, for every bit pattern, the
// code, length, run, level, last flag and ESCAPE that the code tables give.
TEST(RunLevelTables, AgreeWithTheCodeTablesForEveryPattern)
{
    for (const bool intra : {true, false}) {
        const VlcEntry* codes = intra ? kIntraTcoefLut.data() : kInterTcoefLut.data();
        const uint32_t* fast = intra ? kIntraRunLevelLut.data() : kInterRunLevelLut.data();
        for (uint32_t top = 0; top < (1u << 16); ++top) {
            const uint32_t w = (top << 16) | ((top * 0x9e37u) & 0xffffu);
            const VlcEntry e = vlc_lookup<kTcoefBits>(w, codes);
            const uint32_t r = run_level_lookup(w, fast);
            if (e.len == 0) {
                ASSERT_EQ(r, 0u) << std::hex << w;
                continue;
            }
            ASSERT_EQ(run_level_length(r), e.len) << std::hex << w;
            if (e.value == kTcoefEscapeValue) {
                ASSERT_NE(r & kRunLevelEscape, 0u) << std::hex << w;
                continue;
            }
            ASSERT_EQ(r & kRunLevelEscape, 0u) << std::hex << w;
            ASSERT_EQ(run_level_run(r), tcoef_run(e.value)) << std::hex << w;
            ASSERT_EQ((r & kRunLevelLast) != 0, tcoef_last(e.value) != 0) << std::hex << w;
            ASSERT_EQ(run_level_level(r), tcoef_negative(e.value) ? -tcoef_level(e.value) : tcoef_level(e.value))
                << std::hex << w;
        }
    }
}

// --- bit cursor -------------------------------------------------------------------

// Random reads, skips and peeks through both readers, over inputs of every
// length up to 40 bytes and reads running past the end.
TEST(BitCursor, ReadsTheSameBitsAsTheBitReader)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 20000; ++round) {
        const size_t size = rng() % 41;
        std::vector<uint8_t> data(size + 8);
        for (uint8_t& v : data) v = static_cast<uint8_t>(rng());
        BitReader plain;
        plain.reset(data.data(), size);  // bytes after `size` are not input
        plain.bit_pos = rng() % (size * 8 + 9);
        BitCursor cursor(plain);
        for (int op = 0; op < 40; ++op) {
            const unsigned n = rng() % 33;
            switch (rng() % 3) {
                case 0:
                    ASSERT_EQ(cursor.read(n), plain.read(n)) << "round " << round << " op " << op;
                    break;
                case 1:
                    cursor.skip(n);
                    plain.skip(n);
                    break;
                default:
                    ASSERT_EQ(cursor.peek32(), plain.peek32()) << "round " << round << " op " << op;
                    break;
            }
            ASSERT_EQ(cursor.overrun(), plain.overrun()) << "round " << round;
        }
        BitReader back = plain;
        back.bit_pos = 0;
        cursor.store(back);
        ASSERT_EQ(back.bit_pos, plain.bit_pos) << "round " << round;
    }
}

// The cursor never touches a byte past the input: with the input at the
// very end of a page-sized buffer, a sanitizer or the comparison with a
// poisoned neighbour would show it. Here: the bytes after the input differ
// between two runs and the results must not.
TEST(BitCursor, IgnoresBytesAfterTheInput)
{
    for (size_t size = 0; size <= 12; ++size) {
        std::vector<uint8_t> a(size + 8, 0x00), b(size + 8, 0xff);
        for (size_t i = 0; i < size; ++i) a[i] = b[i] = static_cast<uint8_t>(0x5a + i);
        BitReader ra, rb;
        ra.reset(a.data(), size);
        rb.reset(b.data(), size);
        BitCursor ca(ra), cb(rb);
        for (int k = 0; k < 6; ++k) ASSERT_EQ(ca.read(19), cb.read(19)) << size;
    }
}

// --- reference update ---------------------------------------------------------------

using Record = SizedDecoder;

// From a picture and its full reference, random macroblocks change (also
// at the sides and corners); updating only those must give the reference a
// full update gives, border bytes included.
TEST(ReferenceUpdate, ChangedMacroblocksGiveTheFullUpdate)
{
    std::mt19937 rng(11);
    const int sizes[][2] = {{16, 16}, {32, 16}, {16, 48}, {48, 32}, {176, 144}, {640, 480}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        for (int round = 0; round < 12; ++round) {
            Record partial(w, h), full(w, h);
            DECODER* p = partial.d;
            DECODER* f = full.d;
            for (int i = 0; i < w * h; ++i) p->cur_y[i] = static_cast<uint8_t>(rng());
            for (int i = 0; i < w * h / 4; ++i) {
                p->cur_cb[i] = static_cast<uint8_t>(rng());
                p->cur_cr[i] = static_cast<uint8_t>(rng());
            }
            update_reference(*p);
            // Change a random set of macroblocks (none, some or all).
            const int chance = round % 4 == 0 ? 0 : (round % 4 == 3 ? 100 : 30);
            for (int row = 0; row < p->mb_rows; ++row) {
                for (int col = 0; col < p->mb_cols; ++col) {
                    MacroblockRecord& mb = p->macroblocks[row * p->mb_cols + col];
                    mb.not_coded = static_cast<int>(rng() % 100) >= chance;
                    if (mb.not_coded) continue;
                    for (int y = 0; y < 16; ++y)
                        for (int x = 0; x < 16; ++x)
                            p->cur_y[(16 * row + y) * w + 16 * col + x] = static_cast<uint8_t>(rng());
                    for (int y = 0; y < 8; ++y)
                        for (int x = 0; x < 8; ++x) {
                            p->cur_cb[(8 * row + y) * (w / 2) + 8 * col + x] = static_cast<uint8_t>(rng());
                            p->cur_cr[(8 * row + y) * (w / 2) + 8 * col + x] = static_cast<uint8_t>(rng());
                        }
                }
            }
            update_reference_changed(*p);
            std::memcpy(f->cur_y, p->cur_y, static_cast<size_t>(w) * h);
            std::memcpy(f->cur_cb, p->cur_cb, static_cast<size_t>(w) * h / 4);
            std::memcpy(f->cur_cr, p->cur_cr, static_cast<size_t>(w) * h / 4);
            update_reference(*f);
            ASSERT_EQ(std::memcmp(p->ref_y, f->ref_y, partial.luma_bytes()), 0) << w << "x" << h << " round " << round;
            ASSERT_EQ(std::memcmp(p->ref_cb, f->ref_cb, partial.chroma_bytes()), 0) << w << "x" << h;
            ASSERT_EQ(std::memcmp(p->ref_cr, f->ref_cr, partial.chroma_bytes()), 0) << w << "x" << h;
        }
    }
}

// --- motion compensation ------------------------------------------------------------

// Every block size, half-pel case and rounding type on random pixels,
// including the extremes 0 and 255 where rounding and saturation differ;
// the bytes around the destination block stay untouched.
TEST(FastInterpolation, EqualsThePerPixelPredictionInEveryCase)
{
    std::mt19937 rng(3);
    constexpr int kSrcStride = 40, kDstStride = 24;
    for (int round = 0; round < 20000; ++round) {
        uint8_t src[18 * kSrcStride];
        const int flavour = round % 3;
        for (uint8_t& v : src)
            v = static_cast<uint8_t>(flavour == 0 ? rng() : (flavour == 1 ? (rng() & 1) * 255 : 250 + rng() % 6));
        const int n = (round & 1) ? 16 : 8;
        const int hx = (round >> 1) & 1, hy = (round >> 2) & 1, rounding = (round >> 3) & 1;
        const int offset = static_cast<int>(rng() % 8);
        uint8_t want[18 * kDstStride], got[18 * kDstStride];
        for (size_t i = 0; i < sizeof want; ++i) want[i] = got[i] = static_cast<uint8_t>(rng());
        interpolate_block_portable(src + offset, kSrcStride, want + kDstStride + 4, kDstStride, n, hx, hy, rounding);
        interpolate_block(src + offset, kSrcStride, got + kDstStride + 4, kDstStride, n, hx, hy, rounding);
        ASSERT_EQ(std::memcmp(want, got, sizeof want), 0)
            << "round " << round << " n " << n << " hx " << hx << " hy " << hy << " r " << rounding;
    }
}

}  // namespace
