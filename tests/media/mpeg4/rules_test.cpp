// Rules of the decoder with exact numbers: code tables, DC scaler, inverse
// DCT, vectors, motion compensation, border extension, deblocking, time
// bits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sized_decoder.h"
#include "viewer/media/mpeg4/headers.h"
#include "viewer/media/mpeg4/idct.h"
#include "viewer/media/mpeg4/internal.h"
#include "viewer/media/mpeg4/motion.h"
#include "viewer/media/mpeg4/tables.h"
#include "viewer/media/mpeg4/vlc.h"

namespace {

using namespace mpeg4;

// --- code tables -------------------------------------------------------------

// The escape tables are facts derived from the TCOEF tables: LMAX is the
// largest level per (last, run), RMAX the longest run per (last, level).
template <size_t N>
void expect_escape_tables_match(const TcoefEntry (&table)[N], const uint8_t (&lmax)[2][64],
                                const uint8_t (&rmax)[2][32], const char* name)
{
    int want_l[2][64] = {}, want_r[2][32] = {};
    for (const TcoefEntry& e : table) {
        want_l[e.last][e.run] = std::max<int>(want_l[e.last][e.run], e.level);
        want_r[e.last][e.level] = std::max<int>(want_r[e.last][e.level], e.run);
    }
    for (int last = 0; last < 2; ++last) {
        for (int run = 0; run < 64; ++run)
            EXPECT_EQ(lmax[last][run], want_l[last][run]) << name << " LMAX " << last << "," << run;
        for (int level = 0; level < 32; ++level)
            EXPECT_EQ(rmax[last][level], want_r[last][level]) << name << " RMAX " << last << "," << level;
    }
}

TEST(CodeTables, EscapeTablesFollowFromTheTcoefTables)
{
    expect_escape_tables_match(TableB16_IntraTCOEF, TableB19_IntraLMAX, TableB21_IntraRMAX, "intra");
    expect_escape_tables_match(TableB17_InterTCOEF, TableB20_InterLMAX, TableB22_InterRMAX, "inter");
}

// Every TCOEF code plus ESCAPE, and the sign bit after it, is a complete
// prefix code: the Kraft sum is exactly 1 except for the unused code space
// the standard leaves (all-zero prefixes), so no code is missing or extra.
template <size_t N>
double kraft_sum(const TcoefEntry (&table)[N])
{
    double sum = std::ldexp(1.0, -static_cast<int>(std::strlen(kTcoefEscape)));
    for (const TcoefEntry& e : table) sum += std::ldexp(1.0, -static_cast<int>(std::strlen(e.bits)));
    return sum;
}

TEST(CodeTables, TcoefTablesAreDistinctAndNearlyComplete)
{
    for (const auto* name : {"intra", "inter"}) {
        const bool intra = std::string(name) == "intra";
        std::set<std::tuple<int, int, int>> events;
        const TcoefEntry* t = intra ? TableB16_IntraTCOEF : TableB17_InterTCOEF;
        for (int i = 0; i < 102; ++i) EXPECT_TRUE(events.insert({t[i].last, t[i].run, t[i].level}).second);
        const double k = intra ? kraft_sum(TableB16_IntraTCOEF) : kraft_sum(TableB17_InterTCOEF);
        EXPECT_GT(k, 0.99) << name;
        EXPECT_LE(k, 1.0) << name;
    }
}

TEST(CodeTables, LookUpMatchesTheCodeForEveryEntry)
{
    // Each code of a table, followed by arbitrary bits, decodes to its value
    // and consumes exactly its length.
    const auto check = [](const char* bits, int value, auto read) {
        uint8_t buf[8] = {};
        const size_t len = std::strlen(bits);
        for (size_t i = 0; i < len; ++i)
            if (bits[i] == '1') buf[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        for (size_t i = len; i < 64; ++i)
            if ((i * 7) % 3 == 0) buf[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        BitReader br;
        br.reset(buf, sizeof buf);
        EXPECT_EQ(read(br), value) << bits;
        EXPECT_EQ(br.bit_pos, len) << bits;
    };
    for (const CodeEntry& e : TableB6_MCBPC_I)
        check(e.bits, e.value, [](BitReader& br) { return vlc_read<kMcbpcIBits>(br, kMcbpcILut.data()); });
    for (const CodeEntry& e : TableB7_MCBPC_P)
        check(e.bits, e.value, [](BitReader& br) { return vlc_read<kMcbpcPBits>(br, kMcbpcPLut.data()); });
    for (const CodeEntry& e : TableB8_CBPY)
        check(e.bits, e.value, [](BitReader& br) { return vlc_read<kCbpyBits>(br, kCbpyLut.data()); });
    for (const CodeEntry& e : TableB12_MVD)
        check(e.bits, e.value, [](BitReader& br) { return vlc_read<kMvdBits>(br, kMvdLut.data()); });
    for (const CodeEntry& e : TableB13_DCSizeLuma)
        check(e.bits, e.value, [](BitReader& br) { return vlc_read<kDcLumaBits>(br, kDcLumaLut.data()); });
    for (const CodeEntry& e : TableB14_DCSizeChroma)
        check(e.bits, e.value, [](BitReader& br) { return vlc_read<kDcChromaBits>(br, kDcChromaLut.data()); });
    // TCOEF look-ups take the sign bit after the code with it.
    for (const bool intra : {true, false}) {
        const TcoefEntry* t = intra ? TableB16_IntraTCOEF : TableB17_InterTCOEF;
        const VlcEntry* lut = intra ? kIntraTcoefLut.data() : kInterTcoefLut.data();
        for (int i = 0; i < 102; ++i) {
            const int v = (t[i].last << 12) | (t[i].run << 6) | t[i].level;
            const std::string bits = t[i].bits;
            check((bits + "0").c_str(), v, [&](BitReader& br) { return vlc_read<kTcoefBits>(br, lut); });
            check((bits + "1").c_str(), v | kTcoefNegative,
                  [&](BitReader& br) { return vlc_read<kTcoefBits>(br, lut); });
        }
    }
    check(kTcoefEscape, kTcoefEscapeValue,
          [](BitReader& br) { return vlc_read<kTcoefBits>(br, kInterTcoefLut.data()); });

    // Codes outside the tables are refused and consume nothing.
    const uint8_t zeros[8] = {};
    BitReader br;
    br.reset(zeros, sizeof zeros);
    EXPECT_EQ(vlc_read<kTcoefBits>(br, kIntraTcoefLut.data()), kVlcInvalid);
    EXPECT_EQ(vlc_read<kMcbpcPBits>(br, kMcbpcPLut.data()), kVlcInvalid);
    EXPECT_EQ(vlc_read<kMvdBits>(br, kMvdLut.data()), kVlcInvalid);
    EXPECT_EQ(br.bit_pos, 0u);
}

TEST(BitReader, ReadsMsbFirstAndZerosPastTheEnd)
{
    const uint8_t data[3] = {0xa5, 0x0f, 0xff};
    BitReader br;
    br.reset(data, 2);  // the third byte is not part of the input
    EXPECT_EQ(br.read(0), 0u);
    EXPECT_EQ(br.read(4), 0xau);
    EXPECT_EQ(br.read(8), 0x50u);
    EXPECT_EQ(br.read(8), 0xf0u);  // last 4 bits of the input, then zeros
    EXPECT_TRUE(br.overrun());
    EXPECT_EQ(br.read(32), 0u);
}

// --- DC scaler, inverse DCT ----------------------------------------------------

TEST(DcScaler, SwitchPoints)
{
    EXPECT_EQ(dc_scaler_luma(4), 8);
    EXPECT_EQ(dc_scaler_luma(5), 10);
    EXPECT_EQ(dc_scaler_chroma(4), 8);
    EXPECT_EQ(dc_scaler_chroma(5), 9);
    EXPECT_EQ(dc_scaler_luma(8), 16);
    EXPECT_EQ(dc_scaler_luma(9), 17);
    EXPECT_EQ(dc_scaler_luma(24), 32);
    EXPECT_EQ(dc_scaler_luma(25), 34);
    EXPECT_EQ(dc_scaler_chroma(24), 18);
    EXPECT_EQ(dc_scaler_chroma(25), 19);
    EXPECT_EQ(dc_scaler_luma(31), 46);
    EXPECT_EQ(dc_scaler_chroma(31), 25);
}

// The transform written out the long way, one formula per output, for
// comparison with the decoder's (faster) version.
void reference_idct(int32_t* b)
{
    const auto pass = [](int32_t* x, int step, bool column) {
        const int32_t x0 = x[0], x1 = x[step], x2 = x[2 * step], x3 = x[3 * step];
        const int32_t x4 = x[4 * step], x5 = x[5 * step], x6 = x[6 * step], x7 = x[7 * step];
        const int32_t s = (x0 + x4) * 91, d = (x0 - x4) * 91;
        const int32_t t1 = x2 * 118 + x6 * 49, t2 = x2 * 49 - x6 * 118;
        const int32_t e0 = s + t1, e3 = s - t1, e1 = d + t2, e2 = d - t2;
        const int32_t b1 = x1 * 126 + x7 * 25, b2 = x3 * 106 + x5 * 71;
        const int32_t c1 = x1 * 25 - x7 * 126, c2 = x5 * 106 - x3 * 71;
        const int32_t o0 = b1 + b2, o3 = c1 + c2;
        const int32_t p = (b1 - b2) + (c1 - c2), q = (b1 - b2) - (c1 - c2);
        const int32_t o1 = column ? (p >> 8) * 181 + 128 : (p * 181 + 128) >> 8;
        const int32_t o2 = column ? (q >> 8) * 181 + 128 : (q * 181 + 128) >> 8;
        int32_t y[8] = {e0 + o0, e1 + o1, e2 + o2, e3 + o3, e3 - o3, e2 - o2, e1 - o1, e0 - o0};
        for (int i = 0; i < 8; ++i) x[i * step] = column ? (y[i] + 32768) >> 16 : y[i];
    };
    for (int r = 0; r < 8; ++r) pass(b + 8 * r, 1, false);
    for (int c = 0; c < 8; ++c) pass(b + c, 8, true);
}

TEST(InverseDct, KnownBlocks)
{
    int32_t block[64] = {};
    idct_int(block);
    for (int v : block) EXPECT_EQ(v, 0);

    // A reconstructed DC of 1024 (flat 128 in an exact transform) comes out
    // 129: 91 x 91 / 65536 is slightly above 1/8.
    block[0] = 1024;
    idct_int(block);
    for (int v : block) EXPECT_EQ(v, 129);

    // The column pass keeps its +128 in the odd rotation: rows 1 and 2 of a
    // DC-only block of 91 round up, the others do not.
    std::memset(block, 0, sizeof block);
    block[0] = 91;
    idct_int(block);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) EXPECT_EQ(block[8 * r + c], (r == 1 || r == 2) ? 12 : 11) << r << "," << c;

    // A single first-row AC coefficient gives a horizontal ramp, the same on
    // every row, antisymmetric about the middle.
    std::memset(block, 0, sizeof block);
    block[1] = 64;
    idct_int(block);
    for (int c = 0; c < 4; ++c) {
        EXPECT_GT(block[c], block[c + 1]);
        EXPECT_EQ(block[c], -block[7 - c]);
    }
}

TEST(InverseDct, MatchesTheLongFormOnRandomBlocks)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> value(-2048, 2047), count(1, 64), pos(0, 63);
    for (int round = 0; round < 20000; ++round) {
        int32_t a[64] = {}, b[64];
        const int n = round < 100 ? 64 : count(rng) % 8 + 1;  // dense, then sparse blocks
        for (int i = 0; i < n; ++i) a[n == 64 ? i : pos(rng)] = value(rng);
        std::memcpy(b, a, sizeof a);
        idct_int(a);
        reference_idct(b);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "round " << round;
    }
}

TEST(InverseDct, PutClipsAndAddSaturates)
{
    int32_t block[64] = {};
    uint8_t picture[8 * 8];
    block[0] = 2047;  // far above white
    idct_put(block, picture, 8, nullptr);
    for (uint8_t v : picture) EXPECT_EQ(v, 255);
    for (int v : block) EXPECT_EQ(v, 0);  // left clean for the next block

    std::memset(picture, 250, sizeof picture);
    block[0] = 1024;  // +129
    idct_add(block, picture, 8, nullptr);
    for (uint8_t v : picture) EXPECT_EQ(v, 255);
    block[0] = -2048;
    idct_add(block, picture, 8, nullptr);
    for (uint8_t v : picture) EXPECT_EQ(v, 0);
}

// --- vectors and motion compensation -------------------------------------------

TEST(MotionVectors, WrapIntoRange)
{
    EXPECT_EQ(wrap_vector(31 + 2, 32), -31);  // fcode 1
    EXPECT_EQ(wrap_vector(-32, 32), -32);
    EXPECT_EQ(wrap_vector(-33, 32), 31);
    EXPECT_EQ(wrap_vector(32, 32), -32);
    EXPECT_EQ(wrap_vector(63 + 64, 64), -1);  // fcode 2
}

TEST(MotionVectors, ChromaRounding)
{
    EXPECT_EQ(chroma_from_one(3), 1);
    EXPECT_EQ(chroma_from_one(-3), -1);
    EXPECT_EQ(chroma_from_one(4), 2);
    EXPECT_EQ(chroma_from_one(5), 3);
    EXPECT_EQ(chroma_from_one(1), 1);
    EXPECT_EQ(chroma_from_one(0), 0);
    EXPECT_EQ(chroma_from_four(15), 2);
    EXPECT_EQ(chroma_from_four(-15), -2);
    EXPECT_EQ(chroma_from_four(3), 1);
    EXPECT_EQ(chroma_from_four(2), 0);
    EXPECT_EQ(chroma_from_four(16), 2);
    EXPECT_EQ(chroma_from_four(30), 4);
}

using Frame = SizedDecoder;

TEST(MotionCompensation, HalfPelRoundingType)
{
    Frame f(32, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) f.d->cur_y[y * 32 + x] = static_cast<uint8_t>(x % 2 == 0 ? 10 : 11);
    update_reference(*f.d);
    uint8_t out[32 * 32];
    f.d->vop.rounding_type = 1;
    predict_luma(*f.d, 0, 0, 16, MotionVector{1, 0}, out);
    EXPECT_EQ(out[0], 10);  // (10 + 11 + 1 - 1) >> 1
    f.d->vop.rounding_type = 0;
    predict_luma(*f.d, 0, 0, 16, MotionVector{1, 0}, out);
    EXPECT_EQ(out[0], 11);  // (10 + 11 + 1) >> 1
    // Both half flags: (A + B + C + D + 2 - r) >> 2 with 10, 11, 10, 11.
    predict_luma(*f.d, 0, 0, 8, MotionVector{1, 1}, out);
    EXPECT_EQ(out[0], 11);
    f.d->vop.rounding_type = 1;
    predict_luma(*f.d, 0, 0, 8, MotionVector{1, 1}, out);
    EXPECT_EQ(out[0], 10);
}

TEST(MotionCompensation, FarOutsideReadsTheBorder)
{
    Frame f(32, 32);
    for (int i = 0; i < 32 * 32; ++i) f.d->cur_y[i] = static_cast<uint8_t>(i * 7);
    update_reference(*f.d);
    const uint8_t corner = f.d->cur_y[0];
    uint8_t out[32 * 32];
    std::memset(out, 0, sizeof out);
    predict_luma(*f.d, 0, 0, 16, MotionVector{-64, -64}, out);  // 32 pixels up and left
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) EXPECT_EQ(out[y * 32 + x], corner);
    // Much further out is clamped to the same place.
    predict_luma(*f.d, 0, 0, 16, MotionVector{-1000, -1000}, out);
    EXPECT_EQ(out[15 * 32 + 15], corner);
    // Bottom right: the last pixel.
    predict_luma(*f.d, 16, 16, 16, MotionVector{1001, 999}, out);
    EXPECT_EQ(out[0], f.d->cur_y[32 * 32 - 1]);
}

TEST(FrameStore, BorderExtension)
{
    Frame f(32, 16);
    for (int i = 0; i < 32 * 16; ++i) f.d->cur_y[i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 16 * 8; ++i) f.d->cur_cb[i] = static_cast<uint8_t>(100 + i);
    update_reference(*f.d);
    const uint8_t* ref = f.d->ref_y;
    const int stride = f.d->luma_stride;
    EXPECT_EQ(ref[0], f.d->cur_y[0]);                                      // top-left corner
    EXPECT_EQ(ref[stride - 1], f.d->cur_y[31]);                            // top-right corner
    EXPECT_EQ(ref[(16 + 63) * stride], f.d->cur_y[15 * 32]);               // bottom-left corner
    EXPECT_EQ(ref[(32 + 5) * stride + 3], f.d->cur_y[5 * 32]);             // left border of row 5
    EXPECT_EQ(ref[(32 + 5) * stride + 32 + 40], f.d->cur_y[5 * 32 + 31]);  // right border of row 5
    EXPECT_EQ(ref[10 * stride + 32 + 7], f.d->cur_y[7]);                   // above column 7
    const int cs = f.d->chroma_stride;
    EXPECT_EQ(f.d->ref_cb[0], f.d->cur_cb[0]);
    EXPECT_EQ(f.d->ref_cb[(16 + 8 + 15) * cs + cs - 1], f.d->cur_cb[8 * 16 - 1]);
}

TEST(MotionVectors, PredictionFromNeighbours)
{
    Frame f(48, 32);  // 3 x 2 macroblocks
    MotionVector* mv = f.d->vectors;
    const auto set = [&](int col, int row, int block, int x, int y) { mv[5 * (row * 3 + col) + block] = {x, y}; };
    // First row, j > 0: the left neighbour alone.
    set(0, 0, 2, 6, -4);
    EXPECT_EQ(predict_vector(*f.d, 1, 0, 0).x, 6);
    EXPECT_EQ(predict_vector(*f.d, 1, 0, 0).y, -4);
    // Second row, first column: left missing, above and above-right count,
    // the missing one as zero: median(0, 8, 2) = 2.
    set(0, 0, 3, 8, 8);
    set(1, 0, 3, 2, -2);
    EXPECT_EQ(predict_vector(*f.d, 0, 1, 0).x, 2);
    EXPECT_EQ(predict_vector(*f.d, 0, 1, 0).y, 0);
    // Last column: above-right missing.
    set(1, 1, 2, 4, 4);                             // left of (2, 1)
    set(2, 0, 3, 10, -10);                          // above of (2, 1)
    EXPECT_EQ(predict_vector(*f.d, 2, 1, 0).x, 4);  // median(4, 10, 0)
    EXPECT_EQ(predict_vector(*f.d, 2, 1, 0).y, 0);  // median(4, -10, 0)
    // Block 2 in the first row: only block 1 of the same macroblock.
    set(1, 0, 1, -7, 3);
    EXPECT_EQ(predict_vector(*f.d, 1, 0, 2).x, -7);
    // Block 4: median of blocks 3, 1, 2 of the same macroblock.
    set(1, 0, 2, 1, 1);
    set(1, 0, 3, 5, 5);
    EXPECT_EQ(predict_vector(*f.d, 1, 0, 4).x, 1);  // median(5, -7, 1)
}

// --- deblocking, time bits ----------------------------------------------------

TEST(Deblocking, FlatStepIsSmoothedInDcOffsetMode)
{
    // 16 x 16: rows 0..7 are 100, rows 8..15 are 104. S0..S9 are rows
    // 3..12; the nine-tap smoothing turns S1..S8 into
    // 100 101 101 102 | 103 103 104 104.
    std::vector<uint8_t> y(16 * 16);
    for (int r = 0; r < 16; ++r) std::memset(&y[r * 16], r < 8 ? 100 : 104, 16);
    deblock_luma(y.data(), 16, 16, 4);
    const int want[10] = {100, 100, 100, 101, 101, 102, 103, 103, 104, 104};
    for (int r = 2; r < 12; ++r)
        for (int c = 0; c < 16; ++c) EXPECT_EQ(y[r * 16 + c], want[r - 2]) << r << "," << c;
}

TEST(Deblocking, RealEdgesAreKept)
{
    // A step of 60 is an edge of the picture, not of the blocks.
    std::vector<uint8_t> y(16 * 16);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) y[r * 16 + c] = static_cast<uint8_t>(c < 8 ? 40 : 100);
    const std::vector<uint8_t> before = y;
    deblock_luma(y.data(), 16, 16, 4);
    EXPECT_EQ(y, before);
}

TEST(Headers, TimeIncrementBits)
{
    EXPECT_EQ(time_increment_bits(30), 5);
    EXPECT_EQ(time_increment_bits(1000), 10);
    // Values 0..31 need 5 bits (ISO/IEC 14496-2, 6.3.3), not the 6 bits of
    // the number 32 itself.
    EXPECT_EQ(time_increment_bits(32), 5);
    EXPECT_EQ(time_increment_bits(33), 6);
    EXPECT_EQ(time_increment_bits(1), 1);
    EXPECT_EQ(time_increment_bits(2), 1);
    EXPECT_EQ(time_increment_bits(65535), 16);
}

}  // namespace
