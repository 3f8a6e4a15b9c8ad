// Texture decoding of ISO/IEC 14496-2 (7.4): intra macroblock headers of
// I-VOPs, intra DC/AC decoding with DC and AC prediction, inter residual
// coefficients, both inverse quantisation methods with saturation and
// mismatch control, and reconstruction into the current picture.
#include "viewer/media/mpeg4/internal.h"

#include <algorithm>
#include <array>

#include "viewer/media/mpeg4/idct.h"
#include "viewer/media/mpeg4/tables.h"
#include "viewer/media/mpeg4/vlc.h"

namespace mpeg4 {
namespace {

// Coefficients are saturated to the range of an 8-bit picture's
// transform, -2^(bits+3) .. 2^(bits+3) - 1 (ISO/IEC 14496-2, 7.4.4).
constexpr int32_t kCoeffMin = -2048;
constexpr int32_t kCoeffMax = 2047;
constexpr int32_t kDcPredictorDefault = 1024;  // 2^(bits + 2)

inline int32_t saturate(int32_t v)
{
    return std::clamp(v, kCoeffMin, kCoeffMax);
}

// Raster positions 1..7 and 8, 16, ..., 56 as bit masks.
constexpr uint64_t kFirstRow = 0xfe;
constexpr uint64_t kFirstColumn = 0x0101010101010100ull;

// Division with rounding to nearest, halves away from zero (the standard's
// "//"), used to scale predictors.
inline int32_t div_round(int32_t p, int32_t s)
{
    return p >= 0 ? (p + (s >> 1)) / s : (p - (s >> 1)) / s;
}

struct Event {
    int last;
    int run;
    int32_t level;
};

// Reads the rest of an event whose code was ESCAPE (ISO/IEC 14496-2,
// 6.3.8, Tables B-19 to B-22). Needs 23 buffered bits. False on a code that
// is not in the table.
template <bool intra>
inline bool read_escape(BitCursor& c, Event& ev)
{
    const VlcEntry* lut = intra ? kIntraTcoefLut.data() : kInterTcoefLut.data();
    const uint32_t mode = c.window() >> 30;
    if (mode < 2) {  // "0": level offset by LMAX
        c.consume(1);
        const VlcEntry e = vlc_lookup<kTcoefBits>(c.window(), lut);
        const int v = e.value;
        if (e.len == 0 || v == kTcoefEscapeValue) return false;
        c.consume(e.len);
        ev.last = tcoef_last(v);
        ev.run = tcoef_run(v);
        const int32_t level = tcoef_level(v) + (intra ? TableB19_IntraLMAX : TableB20_InterLMAX)[ev.last][ev.run];
        ev.level = tcoef_negative(v) ? -level : level;
        return true;
    }
    c.consume(2);
    if (mode == 2) {  // "10": run offset by RMAX + 1
        const VlcEntry e = vlc_lookup<kTcoefBits>(c.window(), lut);
        const int v = e.value;
        if (e.len == 0 || v == kTcoefEscapeValue) return false;
        c.consume(e.len);
        ev.last = tcoef_last(v);
        const int32_t level = tcoef_level(v);
        ev.run = tcoef_run(v) + (intra ? TableB21_IntraRMAX : TableB22_InterRMAX)[ev.last][level] + 1;
        ev.level = tcoef_negative(v) ? -level : level;
        return true;
    }
    // "11": fixed length last, run, marker, 12-bit two's complement level,
    // marker.
    const uint32_t w = c.window() >> 11;
    c.consume(21);
    ev.last = static_cast<int>(w >> 20);
    ev.run = static_cast<int>((w >> 14) & 63);
    int32_t level = static_cast<int32_t>((w >> 1) & 0xfff);
    if (level >= 2048) level -= 4096;
    ev.level = level;
    return true;
}

// Reads one TCOEF event including the three escape modes (ISO/IEC
// 14496-2, 6.3.8 and Tables B-16 to B-22). Returns false on a code that is
// not in the table. One refill covers the longest event (escape mode 3:
// 7 + 2 + 21 bits).
template <bool intra>
inline bool read_event(BitCursor& c, Event& ev)
{
    c.refill();
    const uint32_t e = run_level_lookup(c.window(), intra ? kIntraRunLevelLut.data() : kInterRunLevelLut.data());
    if (e == 0) return false;
    c.consume(run_level_length(e));
    if (e & kRunLevelEscape) return read_escape<intra>(c, ev);
    ev.last = (e & kRunLevelLast) != 0;
    ev.run = run_level_run(e);
    ev.level = run_level_level(e);
    return true;
}

// Reads the AC events of an intra block from scan position 1 into `block`
// (raster order, quantised levels), adding a bit to `written` for every
// raster position stored. False on an invalid code or an event past
// position 63.
inline bool read_intra_ac(BitCursor& reader, const uint8_t* scan, int32_t* block, uint64_t& written)
{
    // A local copy keeps the window in registers through the loop.
    BitCursor br = reader;
    int pos = 1;
    bool ok = true;
    for (;;) {
        Event ev;
        if (!read_event<true>(br, ev)) {
            ok = false;
            break;
        }
        pos += ev.run;
        if (pos > 63) {
            ok = false;
            break;
        }
        block[scan[pos]] = ev.level;
        written |= uint64_t{1} << scan[pos];
        ++pos;
        if (ev.last) break;
    }
    reader = br;
    return ok;
}

// H.263 method: |F| = QP (2 |L| + 1), less 1 for even QP.
inline int32_t dequant_h263(int32_t level, int32_t qmul, int32_t qadd)
{
    return level > 0 ? saturate(level * qmul + qadd) : saturate(level * qmul - qadd);
}

// Mismatch control of the MPEG method: when the sum of all coefficients is
// even (and they are not all zero), toggle the least significant bit of the
// last coefficient (ISO/IEC 14496-2, 7.4.4.3).
inline void mismatch_control(int32_t* block, int32_t parity, bool any_nonzero)
{
    if (any_nonzero && (parity & 1) == 0) block[63] ^= 1;
}

// Neighbour of block `b` for prediction: the macroblock that holds it (or
// nullptr) and the block index inside it.
struct Candidate {
    const MacroblockRecord* mb;
    int block;
};

inline int32_t candidate_dc(const Candidate& c)
{
    return c.mb != nullptr ? c.mb->pred_dc[c.block] : kDcPredictorDefault;
}

// Reads the intra macroblock header of an I-VOP (MCBPC, ac_pred_flag,
// CBPY, dquant). False on an invalid code.
bool read_intra_header(BitCursor& br, MacroblockRecord& mb, int32_t& running_quant, bool first)
{
    int mcbpc;
    do {
        mcbpc = vlc_read<kMcbpcIBits>(br, kMcbpcILut.data());
        if (mcbpc < 0) return false;
    } while (mcbpc == kMcbpcStuffing);  // stuffing is discarded (ISO/IEC 14496-2, 6.3.6)
    mb.type = mcbpc < 4 ? kIntra : kIntraQ;
    mb.ac_pred_flag = static_cast<int32_t>(br.read1());
    const int cbpy = vlc_read<kCbpyBits>(br, kCbpyLut.data());
    if (cbpy < 0) return false;
    const int32_t before = running_quant;
    mb.dquant = 0;
    if (mb.type == kIntraQ) {
        mb.dquant = kDquantTable[br.read(2)];
        running_quant = std::clamp(running_quant + mb.dquant, 1, 31);
    }
    mb.quant = running_quant;
    mb.quant_before = first ? running_quant : before;
    for (int k = 0; k < 4; ++k) mb.coded[k] = (cbpy >> (3 - k)) & 1;
    mb.coded[4] = (mcbpc >> 1) & 1;
    mb.coded[5] = mcbpc & 1;
    mb.not_coded = 0;
    mb.four_mv = 0;
    return true;
}

}  // namespace

int dc_scaler_luma(int qp)
{
    if (qp <= 4) return 8;
    if (qp <= 8) return 2 * qp;
    if (qp <= 24) return qp + 8;
    return 2 * qp - 16;
}

int dc_scaler_chroma(int qp)
{
    if (qp <= 4) return 8;
    if (qp <= 24) return (qp + 13) / 2;
    return qp - 6;
}

void decode_intra_texture(DECODER& d, BitCursor& br, MacroblockRecord& mb)
{
    const int col = mb.col, row = mb.row;
    const auto neighbour = [&](int c, int r) -> const MacroblockRecord* {
        if (c < 0 || r < 0) return nullptr;
        const MacroblockRecord& n = d.macroblocks[r * d.mb_cols + c];
        return is_intra(n.type) ? &n : nullptr;
    };
    const MacroblockRecord* left = neighbour(col - 1, row);
    const MacroblockRecord* above = neighbour(col, row - 1);
    const MacroblockRecord* above_left = neighbour(col - 1, row - 1);

    const int32_t qp = mb.quant;
    const bool mpeg_quant = d.quant_type != 0;
    const int32_t qmul = 2 * qp, qadd = (qp - 1) | 1;

    for (int b = 0; b < 6; ++b) {
        // Candidates A (left), B (above-left), C (above) in the block
        // geometry of ISO/IEC 14496-2, 7.4.3.
        Candidate a, bl, c;
        switch (b) {
            case 0:
                a = {left, 1};
                bl = {above_left, 3};
                c = {above, 2};
                break;
            case 1:
                a = {&mb, 0};
                bl = {above, 2};
                c = {above, 3};
                break;
            case 2:
                a = {left, 3};
                bl = {left, 1};
                c = {&mb, 0};
                break;
            case 3:
                a = {&mb, 2};
                bl = {&mb, 0};
                c = {&mb, 1};
                break;
            default:
                a = {left, b};
                bl = {above_left, b};
                c = {above, b};
                break;
        }
        const int32_t fa = candidate_dc(a), fb = candidate_dc(bl), fc = candidate_dc(c);
        const bool vertical = std::abs(fa - fb) < std::abs(fc - fb);  // a tie predicts horizontally
        const Candidate& chosen = vertical ? c : a;
        mb.direction[b] = vertical ? 2 : 1;
        mb.pred_available[b] = chosen.mb != nullptr ? 1 : 0;

        // DC differential.
        const bool luma = b < 4;
        const int size =
            luma ? vlc_read<kDcLumaBits>(br, kDcLumaLut.data()) : vlc_read<kDcChromaBits>(br, kDcChromaLut.data());
        if (size < 0) {
            d.error = 1;
            return;
        }
        int32_t dc_diff = 0;
        if (size > 0) {
            dc_diff = static_cast<int32_t>(br.read(static_cast<unsigned>(size)));
            if ((dc_diff >> (size - 1)) == 0) dc_diff -= (1 << size) - 1;
            if (size > 8) br.skip(1);  // marker
        }

        int32_t* blk = d.intra_blocks[b];
        // Raster positions that may be non-zero: the DC, the events read
        // and the predicted first row or column.
        uint64_t nonzero = 1;
        if (mb.coded[b]) {
            const uint8_t* scan = !mb.ac_pred_flag ? kZigzagScan
                                  : vertical       ? kAlternateHorizontalScan
                                                   : kAlternateVerticalScan;
            if (!read_intra_ac(br, scan, blk, nonzero)) {
                // Leave the work block clean for the next macroblock.
                std::fill(blk, blk + 64, 0);
                d.error = 1;
                return;
            }
        }

        // DC and AC prediction.
        const int32_t scaler = luma ? dc_scaler_luma(qp) : dc_scaler_chroma(qp);
        const int32_t pred_dc = chosen.mb != nullptr ? chosen.mb->pred_dc[chosen.block] : kDcPredictorDefault;
        const int32_t dc_level = saturate(dc_diff + div_round(pred_dc, scaler));
        if (chosen.mb != nullptr && mb.ac_pred_flag) {
            const int16_t* src = chosen.mb->pred_ac[chosen.block] + (vertical ? 0 : 7);
            const int32_t qp_n = chosen.mb->quant;
            for (int k = 1; k < 8; ++k) {
                const int32_t level = qp_n == qp ? src[k - 1] : div_round(src[k - 1] * qp_n, qp);
                int32_t& dst = vertical ? blk[k] : blk[8 * k];
                dst = saturate(dst + level);
            }
            nonzero |= vertical ? kFirstRow : kFirstColumn;
        }
        mb.pred_dc[b] = dc_level * scaler;
        int16_t* store = mb.pred_ac[b];
        for (int k = 1; k < 8; ++k) {
            store[k - 1] = static_cast<int16_t>(blk[k]);
            store[6 + k] = static_cast<int16_t>(blk[8 * k]);
        }

        // Inverse quantisation; position 0 is the reconstructed DC.
        // Only positions in `nonzero` can hold a level; the others are zero
        // and stay zero.
        blk[0] = saturate(dc_level * scaler);
        uint64_t ac = nonzero & ~uint64_t{1};
        if (!mpeg_quant) {
            for (; ac != 0; ac &= ac - 1) {
                const int i = __builtin_ctzll(ac);
                if (blk[i] != 0) blk[i] = dequant_h263(blk[i], qmul, qadd);
            }
        } else {
            int32_t parity = blk[0];
            bool any = blk[0] != 0;
            for (; ac != 0; ac &= ac - 1) {
                const int i = __builtin_ctzll(ac);
                if (blk[i] == 0) continue;
                // Truncating division: F = L x W x QP / 8.
                blk[i] = saturate(blk[i] * kDefaultIntraMatrix[i] * qp / 8);
                parity ^= blk[i];
                any = any || blk[i] != 0;
            }
            mismatch_control(blk, parity, any);
            nonzero |= uint64_t{1} << 63;
        }

        uint8_t* dst;
        int stride;
        if (luma) {
            stride = d.width;
            dst = d.cur_y + (16 * row + 8 * (b >> 1)) * stride + 16 * col + 8 * (b & 1);
        } else {
            stride = d.width / 2;
            dst = (b == 4 ? d.cur_cb : d.cur_cr) + 8 * row * stride + 8 * col;
        }
        if (d.idct_override != nullptr)
            idct_put(blk, dst, stride, d.idct_override);
        else
            idct_put_masked(blk, nonzero, dst, stride);
    }
}

namespace {

// Largest level of a Table B-17 code without escape.
constexpr int32_t kInterTableLevelMax = 12;
static_assert(kInterTableLevelMax * 62 + 31 <= kCoeffMax, "H.263 levels of table codes need no saturation");
static_assert((2 * kInterTableLevelMax + 1) * 33 * 31 / 16 <= kCoeffMax,
              "MPEG levels of table codes need no saturation");

// Raster positions of zigzag positions 0..p, for each p: the positions an
// inter block can have written when its last event sits at p.
constexpr std::array<uint64_t, 64> zigzag_extents()
{
    std::array<uint64_t, 64> out{};
    uint64_t mask = 0;
    for (int p = 0; p < 64; ++p) {
        mask |= uint64_t{1} << kZigzagScan[p];
        out[p] = mask;
    }
    return out;
}
constexpr std::array<uint64_t, 64> kZigzagExtent = zigzag_extents();

// Reads the events of one inter block from scan position 0 and stores the
// inverse-quantised coefficients into `blk` (raster order, all zero
// before). `nonzero` receives a superset of the raster positions written.
// False on an invalid code or an event past position 63.
template <bool mpeg_quant>
inline bool read_inter_block(BitCursor& c, int32_t* blk, int32_t qp, uint64_t& nonzero)
{
    const int32_t qmul = 2 * qp, qadd = (qp - 1) | 1;
    int32_t parity = 0;
    bool any = false;
    int pos = 0;
    for (;;) {
        c.refill();
        const uint32_t e = run_level_lookup(c.window(), kInterRunLevelLut.data());
        if (e == 0) return false;
        c.consume(run_level_length(e));
        int32_t f;
        int i;
        bool last;
        if (!(e & kRunLevelEscape)) {
            // Table codes: levels up to 12, so no saturation (see above).
            pos += run_level_run(e);
            if (pos > 63) return false;
            i = kZigzagScan[pos];
            const int32_t level = run_level_level(e);
            if (mpeg_quant) {
                const int32_t m = level < 0 ? -level : level;
                f = ((2 * m + 1) * kDefaultNonIntraMatrix[i] * qp) >> 4;
                if (level < 0) f = -f;
                any = true;
            } else {
                const int32_t sign = level >> 31;  // 0 or -1
                f = level * qmul + ((qadd ^ sign) - sign);
            }
            last = (e & kRunLevelLast) != 0;
        } else {
            Event ev;
            if (!read_escape<false>(c, ev)) return false;
            pos += ev.run;
            if (pos > 63) return false;
            i = kZigzagScan[pos];
            if (!mpeg_quant) {
                f = ev.level == 0 ? 0 : dequant_h263(ev.level, qmul, qadd);
            } else {
                // F = (2L + sign(L)) x W x QP / 16, truncating.
                const int32_t sign = ev.level > 0 ? 1 : (ev.level < 0 ? -1 : 0);
                f = saturate((2 * ev.level + sign) * kDefaultNonIntraMatrix[i] * qp / 16);
                any = any || f != 0;
            }
            last = ev.last != 0;
        }
        if (mpeg_quant) parity ^= f;
        blk[i] = f;
        ++pos;
        if (last) break;
    }
    nonzero = kZigzagExtent[pos - 1];
    if (mpeg_quant && any && (parity & 1) == 0) {
        blk[63] ^= 1;
        nonzero |= uint64_t{1} << 63;
    }
    return true;
}

}  // namespace

void decode_inter_texture(DECODER& d, BitCursor& reader, const MacroblockRecord& mb)
{
    // A local copy keeps the window in registers through the loops.
    BitCursor br = reader;
    struct WriteBack {
        BitCursor& to;
        const BitCursor& from;
        ~WriteBack() { to = from; }
    } write_back{reader, br};
    const int32_t qp = mb.quant;
    const bool mpeg_quant = d.quant_type != 0;
    for (int b = 0; b < 6; ++b) {
        if (!mb.coded[b]) continue;
        int32_t* blk = d.inter_blocks[b];
        uint64_t nonzero = 0;
        const bool ok =
            mpeg_quant ? read_inter_block<true>(br, blk, qp, nonzero) : read_inter_block<false>(br, blk, qp, nonzero);
        if (!ok) {
            std::fill(blk, blk + 64, 0);
            d.error = 1;
            return;
        }

        uint8_t* dst;
        int stride;
        if (b < 4) {
            stride = d.width;
            dst = d.cur_y + (16 * mb.row + 8 * (b >> 1)) * stride + 16 * mb.col + 8 * (b & 1);
        } else {
            stride = d.width / 2;
            dst = (b == 4 ? d.cur_cb : d.cur_cr) + 8 * mb.row * stride + 8 * mb.col;
        }
        if (d.idct_override != nullptr)
            idct_add(blk, dst, stride, d.idct_override);
        else
            idct_add_masked(blk, nonzero, dst, stride);
    }
}

void decode_i_vop(DECODER& d, BitReader& reader)
{
    BitCursor br(reader);
    struct WriteBack {
        BitReader& to;
        const BitCursor& from;
        ~WriteBack() { from.store(to); }
    } write_back{reader, br};
    int32_t running_quant = d.vop.quant;
    for (int row = 0; row < d.mb_rows; ++row) {
        for (int col = 0; col < d.mb_cols; ++col) {
            MacroblockRecord& mb = d.macroblocks[row * d.mb_cols + col];
            mb.col = col;
            mb.row = row;
            if (!read_intra_header(br, mb, running_quant, row == 0 && col == 0)) {
                mb.type = kInter;  // not a usable predictor
                d.error = 1;
                return;
            }
            decode_intra_texture(d, br, mb);
            if (d.error) return;
        }
    }
}

}  // namespace mpeg4
