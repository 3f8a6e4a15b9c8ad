// The camera's MPEG-4 Visual (ISO/IEC 14496-2) video decoder: one
// rectangular, progressive, 8-bit video object layer of at most 640 x 480
// pixels with I- and P-VOPs (simple profile tools, one video packet per
// VOP). Plain record and free functions; no I/O, threads or clock.
//
// A decoder is used by one thread at a time; instances share nothing, so
// several cameras decode in parallel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mpeg4 {
struct MacroblockRecord;
struct MotionVector;

// Fields of the VOP header that the macroblock layer uses.
struct VopHeader {
    int32_t coding_type = 0;    // 0 I-VOP, 1 P-VOP, 2 and 3 not decoded
    int32_t quant = 1;          // vop_quant, 1..31
    int32_t rounding_type = 0;  // vop_rounding_type (P-VOPs), else 0
    int32_t fcode = 1;          // vop_fcode_forward, 1..7
    int32_t scale_factor = 1;   // 1 << (fcode - 1)
};

// Inverse transform of one 8 x 8 block of coefficients, in place.
using IdctFunction = void (*)(int32_t* block);

// Largest picture the decoder is sized for.
inline constexpr int kMaxWidth = 640;
inline constexpr int kMaxHeight = 480;
}  // namespace mpeg4

// decoder_decode results and the status of a failed call.
inline constexpr int kDecodeOk = 0;
inline constexpr int kDecodeFailed = 1;
inline constexpr int kDecodeFailedStatus = 4;

// The decoder record. Callers read width and height after a successful
// decode and may clear deblocking_enabled; everything else is the
// decoder's own.
struct DECODER {
    int32_t width = mpeg4::kMaxWidth;    // luma width, from the VOL header
    int32_t height = mpeg4::kMaxHeight;  // luma height, from the VOL header
    uint32_t headers_pending = 1;        // next call starts with VO + VOL headers
    // While set, the luma deblocking filter runs on every decoded VOP. Set
    // at creation, so that a caller may clear it before the first call.
    int32_t deblocking_enabled = 1;

    mpeg4::MacroblockRecord* macroblocks = nullptr;  // mb_cols x mb_rows, row-major
    mpeg4::MotionVector* vectors = nullptr;          // 5 per macroblock, same order

    int32_t mb_cols = 0;
    int32_t mb_rows = 0;
    int32_t luma_origin = 0;    // offset of pixel (0, 0) in the padded luma reference
    int32_t luma_stride = 0;    // width + 64
    int32_t chroma_origin = 0;  // offset of pixel (0, 0) in a padded chroma reference
    int32_t chroma_stride = 0;  // width / 2 + 32

    uint32_t vop_time = 0;  // vop_time_increment + seconds x resolution (kept, unused)
    int32_t time_increment_bits = 1;
    // For a power-of-two resolution the other possible count (0: none), and
    // whether a VOP has shown which of the two the stream uses.
    int32_t time_increment_bits_other = 0;
    int32_t time_increment_settled = 0;
    uint32_t seconds = 0;  // sum of modulo_time_base since creation
    int32_t time_increment_resolution = 0;
    uint32_t quant_type = 0;  // 0 H.263 inverse quantisation, 1 MPEG (default matrices)

    alignas(64) int32_t intra_blocks[6][64] = {};  // work area of one intra macroblock
    alignas(64) int32_t inter_blocks[6][64] = {};  // residuals of one inter macroblock

    uint8_t* ref_y = nullptr;   // (width + 64) x (height + 64), picture at (32, 32)
    uint8_t* ref_cb = nullptr;  // (width/2 + 32) x (height/2 + 32), picture at (16, 16)
    uint8_t* ref_cr = nullptr;
    uint8_t* cur_y = nullptr;  // width x height: picture being decoded / last decoded
    uint8_t* cur_cb = nullptr;
    uint8_t* cur_cr = nullptr;

    mpeg4::VopHeader vop;
    int32_t mv_range = 32;          // 16 << fcode, half-pel units
    uint32_t intra_dc_vlc_thr = 0;  // read from the VOP header, not used
    int32_t error = 0;              // raised by the macroblock layer, checked after the VOP

    // Test hook: when set, replaces the integer inverse DCT (used to measure
    // how much of a difference to another decoder the transform explains).
    mpeg4::IdctFunction idct_override = nullptr;
};

extern "C" {

// Allocates a decoder sized for 640 x 480 with headers pending. Returns
// nullptr when any allocation fails (nothing is left allocated then).
[[nodiscard]] DECODER* decoder_create();

// Decodes one access unit of `input_size` bytes at `input`: while headers
// are pending the 4-byte VO start code and the 14-byte VOL header, then one
// VOP; afterwards one VOP starting with 00 00 01 B6. Nothing beyond
// input[input_size - 1] is read (the decoder behaves as if zero bytes
// followed). On success writes the picture to `output` (planar YUV 4:2:0,
// width x height luma bytes, then Cb, then Cr, width/2 x height/2 each,
// 640 x 480 x 3 / 2 bytes at most), stores the bytes consumed in *status
// and returns kDecodeOk; on failure stores kDecodeFailedStatus and returns
// kDecodeFailed, writing nothing to output. With output nullptr the picture
// is left in the decoder's own planes only (see decoder_picture), which
// saves copying it for a caller that reads it where it lies.
[[nodiscard]] int decoder_decode(DECODER* decoder, uint8_t* output, const uint8_t* input, size_t input_size,
                                 int32_t* status);

// The last picture decoded successfully, in the decoder's own planes:
// width x height luma bytes at *y, width/2 x height/2 at *cb and *cr, rows
// packed. Valid until the next decoder_decode or decoder_destroy; after a
// failed call the planes still hold the picture before it. Returns -1 for
// nullptr arguments, else 0.
int decoder_picture(const DECODER* decoder, const uint8_t** y, const uint8_t** cb, const uint8_t** cr);

// Frees the decoder and all its buffers. Returns -1 for nullptr, else 0.
int decoder_destroy(DECODER* decoder);

// Bytes one decoder_create allocates: the record, the macroblock and vector
// tables and the picture planes (for memory figures).
size_t decoder_allocated_bytes();

}  // extern "C"
