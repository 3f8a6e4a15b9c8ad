// Records and stage entry points shared by the files of the video decoder.
#pragma once

#include <cstdint>

#include "viewer/media/mpeg4/bitreader.h"
#include "viewer/media/mpeg4/decoder.h"

namespace mpeg4 {

// Macroblock types as the bitstream names them (ISO/IEC 14496-2, 6.3.6).
enum MacroblockType : int32_t {
    kInter = 0,
    kInterQ = 1,
    kIntra = 3,
    kIntraQ = 4,
};

inline bool is_intra(int32_t type)
{
    return type == kIntra || type == kIntraQ;
}

// Per-macroblock state, persistent across VOPs.
struct MacroblockRecord {
    int32_t col;
    int32_t row;
    // Per block: reconstructed DC (DC level x DC scaler), and the quantised
    // levels of the first row (positions 1..7) and of the first column
    // (positions 8, 16, ..., 56), after prediction. Levels are saturated to
    // 12 bits, so 16 bits hold them exactly; the DC product may not fit.
    int32_t pred_dc[6];
    int16_t pred_ac[6][14];
    int32_t quant;         // quantiser of the macroblock, 1..31
    int32_t dquant;        // last quantiser step
    int32_t quant_before;  // quantiser in force when the macroblock started
    int32_t coded[6];      // coded-block flags, luma 1..4 then Cb, Cr
    int32_t not_coded;
    int32_t ac_pred_flag;
    int32_t direction[6];       // 1 horizontal (from the left), 2 vertical (from above)
    int32_t pred_available[6];  // 0 when the chosen neighbour does not exist
    int32_t four_mv;
    int32_t type;  // MacroblockType
};

// Motion vector in half-pel units.
struct MotionVector {
    int32_t x;
    int32_t y;
};

// Texture (texture.cpp) ---------------------------------------------------

// DC scaler of ISO/IEC 14496-2, 7.4.3.1 (Table 7-1).
int dc_scaler_luma(int qp);
int dc_scaler_chroma(int qp);

// Decodes the six blocks of the intra macroblock at (col, row) whose header
// (type, cbp, ac_pred_flag, quantiser) is in `mb`, and writes them into the
// current picture.
void decode_intra_texture(DECODER& d, BitCursor& br, MacroblockRecord& mb);

// Decodes the coded blocks of an inter macroblock into d.inter_blocks and
// adds them to the prediction already in the current picture.
void decode_inter_texture(DECODER& d, BitCursor& br, const MacroblockRecord& mb);

// I-VOP macroblock loop (texture.cpp) and P-VOP loop (motion.cpp).
void decode_i_vop(DECODER& d, BitReader& br);
void decode_p_vop(DECODER& d, BitReader& br);

// Frame store (frame.cpp) --------------------------------------------------

// Strides, origins and macroblock counts for the record's width and height
// (decoder.cpp); the VOL header sets the size, this derives the rest.
void derive_layout(DECODER& d);

// Annex F deblocking of the current luma with quantiser qp.
void deblock_luma(uint8_t* y, int width, int height, int qp);

// Copies the current planes into the reference interiors and extends their
// borders.
void update_reference(DECODER& d);

// The same for a P-VOP, limited to what its coded macroblocks changed
// (not_coded == 0 in the records). Valid only while the reference held the
// current picture before the VOP, which every call keeps true: a successful
// call updates the reference, a failed one restores the picture from it.
void update_reference_changed(DECODER& d);

}  // namespace mpeg4
