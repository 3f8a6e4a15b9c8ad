// The decoder on hand-made streams: texture rules with exact numbers
// (prediction, escape levels, inverse quantisation), the per-call sequence
// and its failure paths, and the VOL fields the decoder refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/media/mpeg4/mpeg4_test_util.h"
#include "tools/clipkit/m4v.h"
#include "viewer/media/mpeg4/decoder.h"
#include "viewer/media/mpeg4/headers.h"
#include "viewer/media/mpeg4/idct.h"
#include "viewer/media/mpeg4/internal.h"
#include "viewer/media/mpeg4/tables.h"

namespace {

using namespace mpeg4_test;
using mpeg4::CodeEntry;
using mpeg4::TcoefEntry;

constexpr int kTimeBits = 5;  // resolution 25

template <size_t N>
void put_code(BitWriter& w, const CodeEntry (&table)[N], int value)
{
    for (const CodeEntry& e : table)
        if (e.value == value) return w.put_bits(e.bits);
    ADD_FAILURE() << "no code for " << value;
}

void put_tcoef(BitWriter& w, bool intra, int last, int run, int level)
{
    const TcoefEntry* t = intra ? mpeg4::TableB16_IntraTCOEF : mpeg4::TableB17_InterTCOEF;
    for (int i = 0; i < 102; ++i) {
        if (t[i].last == last && t[i].run == run && t[i].level == std::abs(level)) {
            w.put_bits(t[i].bits);
            w.put(level < 0 ? 1 : 0, 1);
            return;
        }
    }
    ADD_FAILURE() << "no TCOEF code";
}

// Escape mode 3: fixed-length last, run, 12-bit level.
void put_escape3(BitWriter& w, int last, int run, uint32_t level12)
{
    w.put_bits(mpeg4::kTcoefEscape);
    w.put_bits("11");
    w.put(static_cast<uint32_t>(last), 1);
    w.put(static_cast<uint32_t>(run), 6);
    w.put(1, 1);
    w.put(level12, 12);
    w.put(1, 1);
}

// DC size 0 for every block of a macroblock except those a test writes.
void put_dc_zero(BitWriter& w, int block)
{
    w.put_bits(block < 4 ? "011" : "11");
}

// Blocks handed to the inverse transform, captured through the test hook.
std::vector<std::vector<int32_t>> g_blocks;
void capture_and_transform(int32_t* block)
{
    g_blocks.emplace_back(block, block + 64);
    mpeg4::idct_int(block);
}

class Stream : public ::testing::Test {
protected:
    void SetUp() override
    {
        d = decoder_create();
        ASSERT_NE(d, nullptr);
        d->deblocking_enabled = 0;
        picture.assign(640 * 480 * 3 / 2, 0xee);
        g_blocks.clear();
    }
    void TearDown() override { EXPECT_EQ(decoder_destroy(d), 0); }

    int decode(const std::vector<uint8_t>& input)
    {
        status = -1;
        return decoder_decode(d, picture.data(), input.data(), input.size(), &status);
    }

    // A 16 x 16 (one macroblock) VOL.
    static std::vector<uint8_t> small_vol(uint32_t quant_type = 0)
    {
        VolFields f;
        f.width = 16;
        f.height = 16;
        f.quant_type = quant_type;
        return vol_header(f);
    }

    // I-VOP of one macroblock: every block DC size 0 and uncoded.
    static std::vector<uint8_t> flat_i_vop(int quant = 4)
    {
        BitWriter w;
        vop_header(w, 0, quant, kTimeBits);
        put_code(w, mpeg4::TableB6_MCBPC_I, 0);
        w.put(0, 1);  // ac_pred_flag
        put_code(w, mpeg4::TableB8_CBPY, 0);
        for (int b = 0; b < 6; ++b) put_dc_zero(w, b);
        w.stuff();
        return w.bytes();
    }

    DECODER* d = nullptr;
    std::vector<uint8_t> picture;
    int32_t status = -1;
};

// --- intra texture ------------------------------------------------------------

TEST_F(Stream, FirstBlockPredictsItsDcFrom1024)
{
    ASSERT_EQ(decode(concat(small_vol(), flat_i_vop())), kDecodeOk);
    EXPECT_EQ(d->width, 16);
    EXPECT_EQ(d->height, 16);
    const mpeg4::MacroblockRecord& mb = d->macroblocks[0];
    // Differential 0 + 1024 / 8 = level 128, reconstructed 1024.
    EXPECT_EQ(mb.pred_dc[0], 1024);
    EXPECT_EQ(mb.pred_available[0], 0);
    // Block 2 has block 1 as its left neighbour; all DCs tie, so horizontal.
    EXPECT_EQ(mb.direction[1], 1);
    EXPECT_EQ(mb.pred_available[1], 1);
    // The integer transform turns a DC of 1024 into 129.
    for (int i = 0; i < 16 * 16 * 3 / 2; ++i) ASSERT_EQ(picture[i], 129) << i;
    EXPECT_EQ(picture[16 * 16 * 3 / 2], 0xee);  // nothing written past the picture
}

TEST_F(Stream, SecondBlockTakesTheFirstBlocksDc)
{
    BitWriter w;
    vop_header(w, 0, 4, kTimeBits);
    put_code(w, mpeg4::TableB6_MCBPC_I, 0);
    w.put(0, 1);
    put_code(w, mpeg4::TableB8_CBPY, 0);
    put_code(w, mpeg4::TableB13_DCSizeLuma, 3);
    w.put_bits("101");  // +5: level 133, reconstructed 1064
    for (int b = 1; b < 6; ++b) put_dc_zero(w, b);
    w.stuff();
    ASSERT_EQ(decode(concat(small_vol(), w.bytes())), kDecodeOk);
    const mpeg4::MacroblockRecord& mb = d->macroblocks[0];
    EXPECT_EQ(mb.pred_dc[0], 1064);
    EXPECT_EQ(mb.direction[1], 1);
    EXPECT_EQ(mb.pred_dc[1], 1064);  // 0 + round(1064 / 8) = 133
    EXPECT_EQ(mb.pred_dc[2], 1064);  // block 3: |FA - FB| = 0 < |FC - FB| = 40, so from block 1 above
}

TEST_F(Stream, TieUsesAlternateVerticalScanAndH263Quantisation)
{
    // QP 2: level 1 -> 2 x 2 x 1 + 1 = 5; QP 3 would give 9 for level -1.
    BitWriter w;
    vop_header(w, 0, 2, kTimeBits);
    put_code(w, mpeg4::TableB6_MCBPC_I, 0);
    w.put(1, 1);                          // ac_pred_flag
    put_code(w, mpeg4::TableB8_CBPY, 8);  // block 1 coded
    put_dc_zero(w, 0);
    put_tcoef(w, true, 1, 0, 1);  // scan position 1
    for (int b = 1; b < 6; ++b) put_dc_zero(w, b);
    w.stuff();
    d->idct_override = capture_and_transform;
    ASSERT_EQ(decode(concat(small_vol(), w.bytes())), kDecodeOk);
    ASSERT_EQ(g_blocks.size(), 6u);
    EXPECT_EQ(g_blocks[0][8], 5);  // alternate-vertical scan: position 1 is raster 8
    EXPECT_EQ(g_blocks[0][1], 0);
    EXPECT_EQ(g_blocks[0][0], 1024);

    // QP 3, level -1 -> -9, now with the zigzag scan (raster 1).
    BitWriter v;
    vop_header(v, 0, 3, kTimeBits);
    put_code(v, mpeg4::TableB6_MCBPC_I, 0);
    v.put(0, 1);
    put_code(v, mpeg4::TableB8_CBPY, 8);
    put_dc_zero(v, 0);
    put_tcoef(v, true, 1, 0, -1);
    for (int b = 1; b < 6; ++b) put_dc_zero(v, b);
    v.stuff();
    g_blocks.clear();
    ASSERT_EQ(decode(v.bytes()), kDecodeOk);
    ASSERT_EQ(g_blocks.size(), 6u);
    EXPECT_EQ(g_blocks[0][1], -9);
}

TEST_F(Stream, EscapeModeThreeLevels)
{
    for (const auto& [field, level] : {std::pair{0x800u, -2048}, std::pair{0x7ffu, 2047}, std::pair{0xfffu, -1}}) {
        BitWriter w;
        vop_header(w, 0, 4, kTimeBits);
        put_code(w, mpeg4::TableB6_MCBPC_I, 0);
        w.put(0, 1);
        put_code(w, mpeg4::TableB8_CBPY, 8);
        put_dc_zero(w, 0);
        put_escape3(w, 1, 0, field);
        for (int b = 1; b < 6; ++b) put_dc_zero(w, b);
        w.stuff();
        ASSERT_EQ(decode(d->headers_pending ? concat(small_vol(), w.bytes()) : w.bytes()), kDecodeOk);
        EXPECT_EQ(d->macroblocks[0].pred_ac[0][0], level) << std::hex << field;  // stored before dequantisation
    }
}

TEST_F(Stream, MpegQuantisationMismatchControl)
{
    // Only a DC of 1024: the sum is even, so coefficient 63 becomes 1.
    d->idct_override = capture_and_transform;
    ASSERT_EQ(decode(concat(small_vol(1), flat_i_vop())), kDecodeOk);
    ASSERT_EQ(g_blocks.size(), 6u);
    EXPECT_EQ(g_blocks[0][0], 1024);
    EXPECT_EQ(g_blocks[0][63], 1);

    // An inter block whose only event has level 0 stays all zero.
    BitWriter w;
    vop_header(w, 1, 4, kTimeBits, 1);
    w.put(0, 1);                               // not_coded
    put_code(w, mpeg4::TableB7_MCBPC_P, 0);    // inter, cbpc 0
    put_code(w, mpeg4::TableB8_CBPY, 15 - 8);  // block 1 coded (inverted)
    w.put_bits("1");                           // MVD x 0
    w.put_bits("1");                           // MVD y 0
    put_escape3(w, 1, 0, 0);
    w.stuff();
    g_blocks.clear();
    ASSERT_EQ(decode(w.bytes()), kDecodeOk);
    ASSERT_EQ(g_blocks.size(), 1u);
    for (int v : g_blocks[0]) EXPECT_EQ(v, 0);

    // Inter MPEG value: (2 x 1 + 1) x 16 x 4 / 16 = 12 at raster 0.
    BitWriter u;
    vop_header(u, 1, 4, kTimeBits, 1);
    u.put(0, 1);
    put_code(u, mpeg4::TableB7_MCBPC_P, 0);
    put_code(u, mpeg4::TableB8_CBPY, 15 - 8);
    u.put_bits("1");
    u.put_bits("1");
    put_tcoef(u, false, 1, 0, 1);
    u.stuff();
    g_blocks.clear();
    ASSERT_EQ(decode(u.bytes()), kDecodeOk);
    ASSERT_EQ(g_blocks.size(), 1u);
    EXPECT_EQ(g_blocks[0][0], 12);
    EXPECT_EQ(g_blocks[0][63], 1);  // sum 12 is even
}

TEST_F(Stream, BlocksRunningPastPosition63FailTheCall)
{
    ASSERT_EQ(decode(concat(small_vol(), flat_i_vop())), kDecodeOk);
    const std::vector<uint8_t> before(picture.begin(), picture.begin() + 384);
    // Intra: a run of 63 from position 1.
    BitWriter w;
    vop_header(w, 0, 4, kTimeBits);
    put_code(w, mpeg4::TableB6_MCBPC_I, 0);
    w.put(0, 1);
    put_code(w, mpeg4::TableB8_CBPY, 8);
    put_dc_zero(w, 0);
    put_escape3(w, 1, 63, 1);
    for (int b = 1; b < 6; ++b) put_dc_zero(w, b);
    w.stuff();
    EXPECT_EQ(decode(w.bytes()), kDecodeFailed);
    EXPECT_EQ(status, kDecodeFailedStatus);
    // Inter: 64 events without last.
    BitWriter v;
    vop_header(v, 1, 4, kTimeBits, 1);
    v.put(0, 1);
    put_code(v, mpeg4::TableB7_MCBPC_P, 0);
    put_code(v, mpeg4::TableB8_CBPY, 15 - 8);
    v.put_bits("11");
    for (int i = 0; i < 65; ++i) put_tcoef(v, false, 0, 0, 1);
    v.stuff();
    EXPECT_EQ(decode(v.bytes()), kDecodeFailed);
    // The previous picture still stands: a skipped P-VOP repeats it.
    BitWriter s;
    vop_header(s, 1, 4, kTimeBits, 1);
    s.put(1, 1);
    s.stuff();
    ASSERT_EQ(decode(s.bytes()), kDecodeOk);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), picture.begin()));
}

// --- the per-call sequence and its failures -------------------------------------

TEST_F(Stream, StatusCountsTheBytesOfTheVop)
{
    const std::vector<uint8_t> vol = small_vol();
    const std::vector<uint8_t> vop = flat_i_vop();
    ASSERT_EQ(decode(concat(vol, vop)), kDecodeOk);
    EXPECT_EQ(static_cast<size_t>(status), vol.size() + vop.size());
    ASSERT_EQ(decode(vop), kDecodeOk);
    EXPECT_EQ(static_cast<size_t>(status), vop.size());
}

TEST_F(Stream, SteadyStateRefusesAnythingButAVop)
{
    ASSERT_EQ(decode(concat(small_vol(), flat_i_vop())), kDecodeOk);
    std::vector<uint8_t> after = picture;
    std::fill(picture.begin(), picture.end(), 0x55);
    const std::vector<uint8_t> sentinel = picture;
    // A repeated VO + VOL, a visual object sequence start, garbage.
    EXPECT_EQ(decode(concat(small_vol(), flat_i_vop())), kDecodeFailed);
    EXPECT_EQ(status, kDecodeFailedStatus);
    EXPECT_EQ(decode({0x00, 0x00, 0x01, 0xb0, 0x01, 0x00, 0x00, 0x01, 0xb6}), kDecodeFailed);
    EXPECT_EQ(decode({0x00, 0x00, 0x01}), kDecodeFailed);
    EXPECT_EQ(decode({}), kDecodeFailed);
    EXPECT_EQ(picture, sentinel);  // nothing written on failure
    // And the decoder goes on.
    EXPECT_EQ(decode(flat_i_vop()), kDecodeOk);
    EXPECT_TRUE(std::equal(picture.begin(), picture.begin() + 384, after.begin()));
}

TEST_F(Stream, FailedFirstCallKeepsHeadersPending)
{
    std::vector<uint8_t> broken = flat_i_vop();
    broken[3] = 0xb5;  // not a VOP start code
    EXPECT_EQ(decode(concat(small_vol(), broken)), kDecodeFailed);
    EXPECT_EQ(d->headers_pending, 1u);
    EXPECT_EQ(decode(flat_i_vop()), kDecodeFailed);  // a bare VOP is not enough yet
    EXPECT_EQ(decode(concat(small_vol(), flat_i_vop())), kDecodeOk);
    EXPECT_EQ(d->headers_pending, 0u);
}

TEST_F(Stream, UndecodedVopsRepeatThePreviousPicture)
{
    ASSERT_EQ(decode(concat(small_vol(), flat_i_vop())), kDecodeOk);
    const std::vector<uint8_t> previous(picture.begin(), picture.begin() + 384);
    for (int type : {2, 3}) {
        std::fill(picture.begin(), picture.end(), 0);
        BitWriter w;
        vop_header(w, type, 4, kTimeBits);
        w.stuff();
        EXPECT_EQ(decode(w.bytes()), kDecodeOk) << type;
        EXPECT_TRUE(std::equal(previous.begin(), previous.end(), picture.begin())) << type;
    }
    // vop_coded = 0: nothing follows the header; the picture stands.
    std::fill(picture.begin(), picture.end(), 0);
    BitWriter w;
    vop_header(w, 1, 0, kTimeBits, 1, 0, /*coded=*/0);
    w.stuff();
    EXPECT_EQ(decode(w.bytes()), kDecodeOk);
    EXPECT_TRUE(std::equal(previous.begin(), previous.end(), picture.begin()));
}

TEST_F(Stream, ForbiddenVopValuesFail)
{
    ASSERT_EQ(decode(concat(small_vol(), flat_i_vop())), kDecodeOk);
    EXPECT_EQ(decode(flat_i_vop(0)), kDecodeFailed);  // vop_quant 0
    BitWriter w;
    vop_header(w, 1, 4, kTimeBits, 0);  // fcode 0
    w.put(1, 1);
    w.stuff();
    EXPECT_EQ(decode(w.bytes()), kDecodeFailed);
}

TEST_F(Stream, TruncatedFramesFail)
{
    // A real clip: 160 x 128, every frame cut short fails; whole frames
    // around it decode.
    TempDir dir;
    const std::string es = dir.file("c.m4v");
    ASSERT_TRUE(
        run("ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=160x128:rate=25 "
            "-t 0.4 -c:v mpeg4 -bf 0 -threads 1 -g 25 -q:v 3 -f m4v " +
            es));
    clipkit::M4vClip clip;
    std::string error;
    ASSERT_TRUE(clipkit::load_m4v_file(es, &clip, &error)) << error;
    ASSERT_GE(clip.vops.size(), 3u);
    std::vector<uint8_t> first(clip.codec_data.begin(), clip.codec_data.end());
    const std::vector<uint8_t>& key = clip.vops[0].bytes;
    first.insert(first.end(), key.begin(), key.begin() + static_cast<long>(key.size() / 2));
    EXPECT_EQ(decode(first), kDecodeFailed);
    EXPECT_EQ(decode(concat(std::vector<uint8_t>(clip.codec_data.begin(), clip.codec_data.end()), key)), kDecodeOk);
    for (size_t i = 1; i < clip.vops.size(); ++i) {
        const std::vector<uint8_t>& vop = clip.vops[i].bytes;
        const std::vector<uint8_t> cut(vop.begin(), vop.begin() + static_cast<long>(vop.size() * 2 / 3));
        EXPECT_EQ(decode(cut), kDecodeFailed) << i;
        EXPECT_EQ(decode(vop), kDecodeOk) << i;
    }
}

// A frame cut inside its VOP header fails and writes nothing, whatever the
// header's kind: the bits past the end read as zeros would otherwise make
// a vop_coded = 0 header (or a type 2 or 3 one) out of it, decoded as a
// success with a byte count beyond the frame.
TEST_F(Stream, FramesCutInsideTheVopHeaderFail)
{
    ASSERT_EQ(decode(concat(small_vol(), flat_i_vop())), kDecodeOk);
    const std::vector<uint8_t> previous(picture.begin(), picture.begin() + 384);
    for (int type : {0, 1, 2}) {
        for (int coded : {0, 1}) {
            BitWriter w;
            vop_header(w, type, 4, kTimeBits, 1, 0, coded);
            const size_t header_bits = w.bit_count();
            w.stuff();
            const std::vector<uint8_t>& whole = w.bytes();
            for (size_t cut = 0; cut * 8 < header_bits; ++cut) {
                std::fill(picture.begin(), picture.end(), 0x55);
                EXPECT_EQ(decode(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut))),
                          kDecodeFailed)
                    << "type " << type << " coded " << coded << " cut " << cut;
                EXPECT_EQ(status, kDecodeFailedStatus);
                EXPECT_EQ(picture[0], 0x55);
            }
        }
    }
    // The decoder goes on with whole frames and the same picture.
    BitWriter w;
    vop_header(w, 2, 4, kTimeBits);
    w.stuff();
    ASSERT_EQ(decode(w.bytes()), kDecodeOk);
    EXPECT_TRUE(std::equal(previous.begin(), previous.end(), picture.begin()));
}

TEST_F(Stream, VopHeaderCutShortFails)
{
    // A frame that ends right after the start code would read as an uncoded
    // VOP made of the zeros past its end; it was never sent, so it fails,
    // in the first call and in the steady state alike.
    const std::vector<uint8_t> bare{0x00, 0x00, 0x01, 0xb6};
    EXPECT_EQ(decode(concat(small_vol(), bare)), kDecodeFailed);
    EXPECT_EQ(status, kDecodeFailedStatus);
    EXPECT_EQ(d->headers_pending, 1u);
    ASSERT_EQ(decode(concat(small_vol(), flat_i_vop())), kDecodeOk);
    EXPECT_EQ(decode(bare), kDecodeFailed);
    const std::vector<uint8_t> vop = flat_i_vop();
    EXPECT_EQ(decode(std::vector<uint8_t>(vop.begin(), vop.begin() + 5)), kDecodeFailed);
}

TEST_F(Stream, DeblockingFiltersWhileEnabled)
{
    // Two macroblocks side by side at DC levels one step apart: the vertical
    // block edges in between get smoothed only while the flag is set.
    VolFields f;
    f.width = 32;
    f.height = 16;
    BitWriter w;
    vop_header(w, 0, 8, kTimeBits);
    for (int mb = 0; mb < 2; ++mb) {
        put_code(w, mpeg4::TableB6_MCBPC_I, 0);
        w.put(0, 1);
        put_code(w, mpeg4::TableB8_CBPY, 0);
        for (int b = 0; b < 6; ++b) {
            if (mb == 1 && b == 0) {
                put_code(w, mpeg4::TableB13_DCSizeLuma, 1);
                w.put_bits("1");  // +1 level: +16 with scaler 16
            } else {
                put_dc_zero(w, b);
            }
        }
    }
    w.stuff();
    const std::vector<uint8_t> input = concat(vol_header(f), w.bytes());
    ASSERT_EQ(decode(input), kDecodeOk);
    const std::vector<uint8_t> plain(picture.begin(), picture.begin() + 32 * 16);
    DECODER* filtered = decoder_create();
    ASSERT_NE(filtered, nullptr);
    EXPECT_EQ(filtered->deblocking_enabled, 1);
    std::vector<uint8_t> out(640 * 480 * 3 / 2);
    int32_t st = 0;
    ASSERT_EQ(decoder_decode(filtered, out.data(), input.data(), input.size(), &st), kDecodeOk);
    EXPECT_NE(std::vector<uint8_t>(out.begin(), out.begin() + 32 * 16), plain);
    EXPECT_EQ(decoder_destroy(filtered), 0);
}

// --- VOL fields ---------------------------------------------------------------

struct VolCase {
    const char* name;
    void (*change)(VolFields&);
};

class RefusedVol : public Stream, public ::testing::WithParamInterface<VolCase> {};

TEST_P(RefusedVol, FailsAndStaysPending)
{
    VolFields f;
    GetParam().change(f);
    EXPECT_EQ(decode(concat(vol_header(f), flat_i_vop())), kDecodeFailed);
    EXPECT_EQ(status, kDecodeFailedStatus);
    EXPECT_EQ(d->headers_pending, 1u);
    EXPECT_EQ(d->width, 640);  // nothing taken from a refused header
    EXPECT_EQ(decode(concat(small_vol(), flat_i_vop())), kDecodeOk);
}

INSTANTIATE_TEST_SUITE_P(Fields, RefusedVol,
                         ::testing::Values(VolCase{"wider_than_640",
                                                   [](VolFields& f) {
                                                       f.width = 656;
                                                       f.height = 480;
                                                   }},
                                           VolCase{"taller_than_480",
                                                   [](VolFields& f) {
                                                       f.width = 640;
                                                       f.height = 496;
                                                   }},
                                           VolCase{"width_not_multiple_of_16", [](VolFields& f) { f.width = 100; }},
                                           VolCase{"height_not_multiple_of_16", [](VolFields& f) { f.height = 40; }},
                                           VolCase{"zero_width", [](VolFields& f) { f.width = 0; }},
                                           VolCase{"vo_start_code", [](VolFields& f) { f.vo_code = 0x000001b0; }},
                                           VolCase{"vol_start_code", [](VolFields& f) { f.vol_code = 0x000001b6; }},
                                           VolCase{"object_layer_identifier",
                                                   [](VolFields& f) { f.object_layer_identifier = 1; }},
                                           VolCase{"extended_par", [](VolFields& f) { f.aspect_ratio = 15; }},
                                           VolCase{"vol_control_parameters", [](VolFields& f) { f.vol_control = 1; }},
                                           VolCase{"shape", [](VolFields& f) { f.shape = 1; }},
                                           VolCase{"marker", [](VolFields& f) { f.marker = 0; }},
                                           VolCase{"resolution_zero", [](VolFields& f) { f.resolution = 0; }},
                                           VolCase{"fixed_vop_rate", [](VolFields& f) { f.fixed_rate = 1; }},
                                           VolCase{"interlaced", [](VolFields& f) { f.flags4 = 0xc; }},
                                           VolCase{"obmc", [](VolFields& f) { f.flags4 = 0x0; }},
                                           VolCase{"sprite", [](VolFields& f) { f.flags4 = 0x6; }},
                                           VolCase{"not_8_bit", [](VolFields& f) { f.flags4 = 0x5; }},
                                           VolCase{"quant_matrices",
                                                   [](VolFields& f) {
                                                       f.quant_type = 1;
                                                       f.load_matrices = 2;
                                                   }}),
                         [](const ::testing::TestParamInfo<VolCase>& info) { return std::string(info.param.name); });

TEST_F(Stream, LargestPictureIsAccepted)
{
    VolFields f;
    f.width = 640;
    f.height = 480;
    BitWriter w;
    vop_header(w, 1, 4, kTimeBits, 1);  // a P-VOP of skipped macroblocks
    for (int i = 0; i < 40 * 30; ++i) w.put(1, 1);
    w.stuff();
    ASSERT_EQ(decode(concat(vol_header(f), w.bytes())), kDecodeOk);
    EXPECT_EQ(d->width, 640);
    EXPECT_EQ(d->height, 480);
}

// The VOPs of an ffmpeg clip at 32 frames/s (resolution 32, written with the
// standard's 5 increment bits) and ffmpeg's own decoding of it. The VOPs are
// cut out here because clipkit refuses such clips.
struct PowerOfTwoClip {
    std::vector<std::vector<uint8_t>> vops;
    std::vector<uint8_t> reference;
    bool made = false;
    PowerOfTwoClip()
    {
        TempDir dir;
        const std::string es = dir.file("c.m4v");
        const std::string yuv = dir.file("c.yuv");
        if (!run("ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=160x128:rate=32 "
                 "-t 0.5 -c:v mpeg4 -bf 0 -threads 1 -g 8 -q:v 4 -f m4v " +
                 es) ||
            !run("ffmpeg -hide_banner -loglevel error -nostdin -y -i " + es +
                 " -f rawvideo -pix_fmt yuv420p -fps_mode passthrough " + yuv))
            return;
        const std::vector<uint8_t> stream = read_all(es);
        reference = read_all(yuv);
        std::vector<size_t> starts;
        for (size_t i = 0; i + 3 < stream.size(); ++i)
            if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && stream[i + 3] == 0xb6)
                starts.push_back(i);
        for (size_t k = 0; k < starts.size(); ++k) {
            size_t end = k + 1 < starts.size() ? starts[k + 1] : stream.size();
            // Stop at the headers ffmpeg repeats before each I-VOP.
            for (size_t i = starts[k] + 4; i + 3 < end; ++i)
                if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
                    end = i;
                    break;
                }
            vops.emplace_back(stream.begin() + static_cast<long>(starts[k]), stream.begin() + static_cast<long>(end));
        }
        made = vops.size() * 160 * 128 * 3 / 2 == reference.size();
    }
};

// The same VOP as a camera that counts the bits of the resolution value
// itself writes it: one more (zero) bit in front of vop_time_increment.
std::vector<uint8_t> with_camera_time_bits(const std::vector<uint8_t>& vop, int standard_bits)
{
    auto bit = [&](size_t i) { return (vop[i >> 3] >> (7 - (i & 7))) & 1; };
    // The data ends at the stuffing's zero bit (then ones to the byte boundary).
    size_t end = vop.size() * 8;
    while (end > 0 && bit(end - 1) == 1) --end;
    --end;
    BitWriter w;
    size_t i = 0;
    for (; i < 34; ++i) w.put_bit(bit(i));    // start code, vop_coding_type
    while (bit(i) == 1) w.put_bit(bit(i++));  // modulo_time_base
    w.put_bit(bit(i++));                      // its closing zero
    w.put_bit(bit(i++));                      // marker
    w.put_bit(false);                         // the extra increment bit
    for (int n = 0; n < standard_bits; ++n) w.put_bit(bit(i++));
    for (; i < end; ++i) w.put_bit(bit(i));
    w.stuff();
    return w.bytes();
}

// The cameras' rule counts 6 time-increment bits for resolution 32, the
// standard 5; streams of both kinds exist. Each decodes every picture, the
// same pictures, and each decoder keeps to the count its stream uses.
TEST(TimeIncrementBits, BothCountsOfAPowerOfTwoResolutionDecode)
{
    static const PowerOfTwoClip clip;
    ASSERT_TRUE(clip.made);
    VolFields f;
    f.width = 160;
    f.height = 128;
    f.resolution = 32;
    const size_t picture_bytes = 160 * 128 * 3 / 2;
    std::vector<uint8_t> pictures[2];
    for (int camera_rule = 0; camera_rule < 2; ++camera_rule) {
        SCOPED_TRACE(camera_rule ? "6 bits, the cameras' count" : "5 bits, ffmpeg's count");
        DECODER* d = decoder_create();
        ASSERT_NE(d, nullptr);
        std::vector<uint8_t> picture(picture_bytes);
        for (size_t k = 0; k < clip.vops.size(); ++k) {
            const std::vector<uint8_t> vop = camera_rule ? with_camera_time_bits(clip.vops[k], 5) : clip.vops[k];
            const std::vector<uint8_t> in = k == 0 ? concat(vol_header(f), vop) : vop;
            int32_t status = 0;
            ASSERT_EQ(decoder_decode(d, picture.data(), in.data(), in.size(), &status), kDecodeOk) << k;
            d->deblocking_enabled = 0;
            EXPECT_EQ(d->time_increment_bits, camera_rule ? 6 : 5) << k;
            EXPECT_GT(psnr(picture.data(), clip.reference.data() + k * picture_bytes, 160 * 128), 38.0) << k;
            pictures[camera_rule].insert(pictures[camera_rule].end(), picture.begin(), picture.end());
        }
        EXPECT_EQ(decoder_destroy(d), 0);
    }
    EXPECT_EQ(pictures[0], pictures[1]);
}

TEST(TimeIncrementBits, TheCamerasCountDiffersOnlyForPowersOfTwo)
{
    EXPECT_EQ(mpeg4::camera_time_increment_bits(30), 5);
    EXPECT_EQ(mpeg4::camera_time_increment_bits(32), 6);
    EXPECT_EQ(mpeg4::camera_time_increment_bits(1), 1);
    EXPECT_EQ(mpeg4::camera_time_increment_bits(0), 16);
    EXPECT_EQ(mpeg4::camera_time_increment_bits(40000), 16);
    for (int r = 1; r < 40000; ++r) {
        const bool power_of_two = (r & (r - 1)) == 0;
        const int difference = mpeg4::camera_time_increment_bits(r) - mpeg4::time_increment_bits(r);
        ASSERT_EQ(difference, power_of_two && r > 1 ? 1 : 0) << r;
    }
}

}  // namespace
