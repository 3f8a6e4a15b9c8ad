#include "viewer/media/mpeg4/headers.h"

namespace mpeg4 {
namespace {

constexpr uint32_t kVopStartCode = 0x000001b6;

}  // namespace

bool parse_vo_vol(BitReader& br, VolInfo& vol)
{
    // visual_object_start_code ... video_object_start_code 00 00 01 00..1F,
    // then video_object_layer_start_code 00 00 01 20..2F.
    const uint32_t vo = br.read(32);
    if ((vo & 0xffffffe0u) != 0x00000100u) return false;
    const uint32_t vol_code = br.read(32);
    if ((vol_code & 0xfffffff0u) != 0x00000120u) return false;

    br.skip(1);                          // random_accessible_vol
    br.skip(8);                          // video_object_type_indication
    if (br.read1() != 0) return false;   // is_object_layer_identifier: verid 1 layout only
    if (br.read(4) == 15) return false;  // aspect_ratio_info: no extended PAR fields
    if (br.read1() != 0) return false;   // vol_control_parameters
    if (br.read(2) != 0) return false;   // video_object_layer_shape: rectangular
    if (br.read1() != 1) return false;   // marker
    const int32_t resolution = static_cast<int32_t>(br.read(16));
    if (resolution == 0) return false;  // forbidden (6.3.3)
    if (br.read1() != 1) return false;  // marker
    if (br.read1() != 0) return false;  // fixed_vop_rate: no fixed_vop_time_increment field
    if (br.read1() != 1) return false;  // marker
    const int32_t width = static_cast<int32_t>(br.read(13));
    if (br.read1() != 1) return false;  // marker
    const int32_t height = static_cast<int32_t>(br.read(13));
    if (br.read1() != 1) return false;  // marker
    // interlaced 0, obmc_disable 1, sprite_enable 0, not_8_bit 0.
    if (br.read(4) != 0x4) return false;
    const uint32_t quant_type = br.read1();
    if (quant_type != 0 && br.read(2) != 0) return false;  // no downloaded quantiser matrices
    if (br.read1() != 1) return false;                     // complexity_estimation_disable
    br.skip(1);                                            // resync_marker_disable (no markers are expected either way)
    if (br.read1() != 0) return false;                     // data_partitioned
    if (br.read1() != 0) return false;                     // scalability
    br.bit_pos = (br.bit_pos + 7) & ~size_t{7};            // next_start_code stuffing

    // The buffers are sized for 640 x 480 and whole macroblocks.
    if (width < 16 || height < 16 || width > kMaxWidth || height > kMaxHeight) return false;
    if (width % 16 != 0 || height % 16 != 0) return false;

    vol.width = width;
    vol.height = height;
    vol.time_increment_resolution = resolution;
    vol.quant_type = quant_type;
    return true;
}

int time_increment_bits(int32_t resolution)
{
    int bits = 1;
    while (bits < 16 && (int32_t{1} << bits) < resolution) ++bits;
    return bits;
}

int camera_time_increment_bits(int32_t resolution)
{
    if (resolution <= 0 || resolution > 32767) return 16;
    int bits = 1;
    for (int32_t value = resolution; value != 1 && bits < 16; value >>= 1) ++bits;
    return bits;
}

VopParse parse_vop_header(DECODER& d, BitReader& br, int time_bits, bool* sound)
{
    *sound = false;
    if (br.read(32) != kVopStartCode) return VopParse::kFailed;
    VopHeader& vop = d.vop;
    vop.coding_type = static_cast<int32_t>(br.read(2));
    uint32_t seconds = 0;
    // modulo_time_base; past the end of the input the reader yields zeros,
    // so this ends.
    while (br.read1() != 0) ++seconds;
    d.seconds += seconds;
    const uint32_t marker_before = br.read1();
    const uint32_t increment = br.read(static_cast<unsigned>(time_bits));
    const uint32_t marker_after = br.read1();
    d.vop_time = increment + d.seconds * static_cast<uint32_t>(d.time_increment_resolution);
    *sound = marker_before == 1 && marker_after == 1 && increment < static_cast<uint32_t>(d.time_increment_resolution);
    if (br.read1() == 0) return VopParse::kNotCoded;  // vop_coded (6.3.5)

    vop.rounding_type = vop.coding_type == 1 ? static_cast<int32_t>(br.read1()) : 0;
    d.intra_dc_vlc_thr = br.read(3);
    vop.quant = static_cast<int32_t>(br.read(5));
    if (vop.coding_type == 1) {
        vop.fcode = static_cast<int32_t>(br.read(3));
        if (vop.fcode == 0) return VopParse::kFailed;  // forbidden
        vop.scale_factor = 1 << (vop.fcode - 1);
        d.mv_range = 16 << vop.fcode;
    }
    // A quantiser of 0 is forbidden; the macroblock layer divides by it.
    if (vop.coding_type <= 1 && vop.quant == 0) return VopParse::kFailed;
    return VopParse::kCoded;
}

}  // namespace mpeg4
