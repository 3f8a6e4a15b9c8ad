// VO, VOL and VOP headers of ISO/IEC 14496-2 (6.2.2, 6.2.3, 6.2.5) in the
// form the cameras send them.
#pragma once

#include <cstdint>

#include "viewer/media/mpeg4/bitreader.h"
#include "viewer/media/mpeg4/decoder.h"

namespace mpeg4 {

// What the decoder keeps from the VO + VOL headers.
struct VolInfo {
    int32_t width = 0;
    int32_t height = 0;
    int32_t time_increment_resolution = 0;
    uint32_t quant_type = 0;
};

// Parses the 4-byte VO start code and the 14-byte VOL header. Returns false
// (nothing changed in the decoder) for a header this decoder cannot decode:
// see the checks in headers.cpp.
[[nodiscard]] bool parse_vo_vol(BitReader& br, VolInfo& vol);

// Number of bits of vop_time_increment for a resolution: the bits needed
// for the values 0 .. resolution - 1, at least 1 (ISO/IEC 14496-2, 6.3.3).
int time_increment_bits(int32_t resolution);

// The count the cameras' own rule gives: the bits needed to write the
// resolution value itself (0 and values above 32767 give 16). It is one more
// than the standard's count exactly when the resolution is a power of two;
// streams of both kinds exist, so the decoder tries both there.
int camera_time_increment_bits(int32_t resolution);

// Outcome of a VOP header.
enum class VopParse {
    kFailed,    // wrong start code or a forbidden value
    kCoded,     // macroblock data follows
    kNotCoded,  // vop_coded = 0: the previous picture stands
};

// Parses the VOP header into d.vop and the time fields of d, reading
// vop_time_increment with time_bits bits. *sound tells whether the header
// reads as a correct one: both markers around the increment set and the
// increment below the resolution (a wrong bit count shows there first).
[[nodiscard]] VopParse parse_vop_header(DECODER& d, BitReader& br, int time_bits, bool* sound);

}  // namespace mpeg4
