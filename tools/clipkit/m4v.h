// Reading ffmpeg's MPEG-4 Part 2 elementary streams (.m4v) into what the
// cameras send: bare VOPs, and an 18-byte VO + VOL header that describes them.
//
// The cameras' decoder reads a VOL of one fixed shape (rectangular,
// progressive, 8-bit, no resync markers, no data partitioning, no sprites,
// no quarter-pel, no custom quantiser matrices, no B-VOPs). parse_m4v()
// refuses any clip that steps outside that, so a clip that loads is one the
// viewer can show. Everything here is plain functions; safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace clipkit {

// Size of the codec data: VO start code (4) + VOL of exactly 14 bytes.
constexpr size_t kCodecDataBytes = 18;

// The largest frame the viewer's stream buffers can hold: payload offset and
// length must stay below 65,535.
constexpr size_t kMaxFrameBytes = 65534;

struct Vop {
  std::vector<uint8_t> bytes;  // one VOP, starting 00 00 01 B6, no headers before it
  bool key = false;            // I-VOP
  uint32_t time_ms = 0;        // presentation time, first VOP at 0
  uint64_t ticks = 0;          // the same in 1/time_resolution seconds (exact)
};

struct M4vClip {
  int width = 0;
  int height = 0;
  int time_resolution = 0;  // vop_time_increment_resolution
  bool mpeg_quant = false;  // quant_type 1 (MPEG matrices, the default ones)
  uint8_t object_type = 1;  // video_object_type_indication as ffmpeg wrote it
  std::array<uint8_t, kCodecDataBytes> codec_data{};
  std::vector<Vop> vops;
  // Length of one pass when the clip loops: the last VOP's time plus one
  // frame interval, so that the next pass continues at the same rate.
  uint64_t duration_ticks = 0;
  uint32_t duration_ms = 0;
};

// Builds the cameras' 18-byte VO + VOL header: VO start code 00 00 01 00,
// VOL start code 00 00 01 20, then the VOL fields in the one layout the
// viewer's decoder reads (is_object_layer_identifier 0, vol_control_parameters
// 0, rectangular, fixed_vop_rate 0, not interlaced, OBMC disabled, no sprite,
// 8-bit, quant_type as given with no matrices loaded, complexity estimation
// disabled, resync markers disabled, no data partitioning, no scalability).
// width and height are written as given; the caller checks them.
std::array<uint8_t, kCodecDataBytes> build_codec_data(int width, int height, int time_resolution, bool mpeg_quant,
                                                      uint8_t object_type = 1);

// Number of vop_time_increment bits as ISO/IEC 14496-2 (6.3.3) defines it:
// enough bits for resolution - 1, at least 1.
int standard_time_increment_bits(int time_resolution);

// Number of bits the viewer's decoder uses instead: the bits of the
// resolution value itself. Differs from the standard for powers of two.
int camera_time_increment_bits(int time_resolution);

// Splits an .m4v elementary stream into VOPs, reads its VOL, checks that the
// stream stays inside what the cameras send, and fills *out. On failure
// returns false with a one-line reason in *error (when error is not null) and
// leaves *out unspecified.
[[nodiscard]] bool parse_m4v(const std::vector<uint8_t>& es, M4vClip* out, std::string* error);

// Reads a whole file. False with a reason when it cannot be read.
[[nodiscard]] bool read_file_bytes(const std::string& path, std::vector<uint8_t>* out, std::string* error);

// read_file_bytes + parse_m4v; the reason names the file.
[[nodiscard]] bool load_m4v_file(const std::string& path, M4vClip* out, std::string* error);

}  // namespace clipkit
