#include "tools/clipkit/m4v.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "tools/clipkit/bits.h"

namespace clipkit {
namespace {

// Start code values, ISO/IEC 14496-2, 6.2.1 (Table 6-3).
constexpr uint8_t kVoLast = 0x1F;    // video_object_start_code 00..1F
constexpr uint8_t kVolFirst = 0x20;  // video_object_layer_start_code 20..2F
constexpr uint8_t kVolLast = 0x2F;
constexpr uint8_t kVosStart = 0xB0;      // visual_object_sequence_start_code
constexpr uint8_t kVosEnd = 0xB1;        // visual_object_sequence_end_code
constexpr uint8_t kUserData = 0xB2;      // user_data_start_code
constexpr uint8_t kGov = 0xB3;           // group_of_vop_start_code
constexpr uint8_t kVisualObject = 0xB5;  // visual_object_start_code
constexpr uint8_t kVop = 0xB6;           // vop_start_code

// video_object_type_indication values we accept (Table 6-5): Simple Object
// and Advanced Simple. The other types bring tools the decoder lacks; the
// tools of these two are each checked field by field below.
constexpr uint8_t kSimpleObject = 0x01;
constexpr uint8_t kAdvancedSimpleObject = 0x11;

constexpr uint32_t kExtendedPar = 15;  // aspect_ratio_info, Table 6-12

struct Vol {
  uint8_t object_type = 0;
  int width = 0;
  int height = 0;
  int time_resolution = 0;
  bool mpeg_quant = false;
};

bool fail(std::string* error, const std::string& reason) {
  if (error) *error = reason;
  return false;
}

std::string hex2(uint8_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", v);
  return text;
}

// Reads the VOL fields after the 32-bit start code (ISO/IEC 14496-2, 6.2.3)
// and refuses everything the cameras' decoder does not implement.
bool parse_vol(const uint8_t* data, size_t size, Vol* vol, std::string* error) {
  BitReader br(data, size);
  br.read_bit();  // random_accessible_vol
  vol->object_type = static_cast<uint8_t>(br.read(8));
  if (vol->object_type != kSimpleObject && vol->object_type != kAdvancedSimpleObject)
    return fail(error, "unsupported video object type " + hex2(vol->object_type));
  int verid = 1;
  if (br.read_bit()) {  // is_object_layer_identifier
    verid = static_cast<int>(br.read(4));
    br.read(3);  // video_object_layer_priority
  }
  // The pixel aspect ratio does not change how VOPs decode, and the codec
  // data always says square pixels: read past it.
  if (br.read(4) == kExtendedPar) br.read(16);  // par_width, par_height
  if (br.read_bit()) {                          // vol_control_parameters
    if (br.read(2) != 1) return fail(error, "chroma format is not 4:2:0");
    br.read_bit();        // low_delay
    if (br.read_bit()) {  // vbv_parameters: 79 bits we do not need
      br.read(15);
      br.marker();
      br.read(15);
      br.marker();
      br.read(15);
      br.marker();
      br.read(3);
      br.read(11);
      br.marker();
      br.read(15);
      br.marker();
    }
  }
  if (br.read(2) != 0) return fail(error, "unsupported: video object layer shape is not rectangular");
  if (!br.marker()) return fail(error, "malformed VOL header (marker before time resolution)");
  vol->time_resolution = static_cast<int>(br.read(16));
  if (!br.marker()) return fail(error, "malformed VOL header (marker after time resolution)");
  if (vol->time_resolution == 0) return fail(error, "VOL time resolution is 0");
  if (br.read_bit()) br.read(standard_time_increment_bits(vol->time_resolution));  // fixed_vop_time_increment
  if (!br.marker()) return fail(error, "malformed VOL header (marker before width)");
  vol->width = static_cast<int>(br.read(13));
  if (!br.marker()) return fail(error, "malformed VOL header (marker before height)");
  vol->height = static_cast<int>(br.read(13));
  if (!br.marker()) return fail(error, "malformed VOL header (marker after height)");
  if (br.read_bit()) return fail(error, "unsupported: interlaced video");
  if (!br.read_bit()) return fail(error, "unsupported: OBMC enabled");
  if (br.read(verid == 1 ? 1 : 2) != 0) return fail(error, "unsupported: sprites or GMC");
  if (br.read_bit()) return fail(error, "unsupported: not 8 bits per pixel");
  vol->mpeg_quant = br.read_bit() != 0;
  if (vol->mpeg_quant) {
    if (br.read_bit()) return fail(error, "unsupported: intra quantiser matrix loaded");
    if (br.read_bit()) return fail(error, "unsupported: non-intra quantiser matrix loaded");
  }
  if (verid != 1 && br.read_bit()) return fail(error, "unsupported: quarter-pel motion");
  if (!br.read_bit()) return fail(error, "unsupported: complexity estimation header");
  if (!br.read_bit()) return fail(error, "unsupported: resync markers (encode with -threads 1)");
  if (br.read_bit()) return fail(error, "unsupported: data partitioning");
  if (verid != 1) {
    if (br.read_bit()) return fail(error, "unsupported: NEWPRED");
    if (br.read_bit()) return fail(error, "unsupported: reduced resolution VOPs");
  }
  if (br.read_bit()) return fail(error, "unsupported: scalability");
  if (!br.ok()) return fail(error, "VOL header is truncated");

  if (vol->width <= 0 || vol->height <= 0 || vol->width % 16 != 0 || vol->height % 16 != 0)
    return fail(error, "picture size " + std::to_string(vol->width) + "x" + std::to_string(vol->height) +
                           " is not a multiple of 16");
  if (vol->width > 640 || vol->height > 480)
    return fail(error, "picture size " + std::to_string(vol->width) + "x" + std::to_string(vol->height) +
                           " is larger than 640x480");
  // The viewer checks the height against byte 15 of the codec data, the low
  // byte of the height, reading 0xE0 as 480: heights 256..479 cannot pass.
  if (vol->height != 480 && vol->height > 255)
    return fail(error,
                "height " + std::to_string(vol->height) + " cannot be told by the viewer (use 480 or below 256)");
  if (camera_time_increment_bits(vol->time_resolution) != standard_time_increment_bits(vol->time_resolution))
    return fail(error, "time resolution " + std::to_string(vol->time_resolution) +
                           " is a power of two; the viewer would read the wrong number of time bits");
  return true;
}

struct VopHeader {
  bool key = false;
  uint32_t modulo_seconds = 0;
  uint32_t increment = 0;
};

// The VOP header up to vop_coded (ISO/IEC 14496-2, 6.2.5).
bool parse_vop_header(const uint8_t* data, size_t size, int time_resolution, VopHeader* vop, std::string* error) {
  BitReader br(data, size);
  const uint32_t coding_type = br.read(2);
  if (coding_type == 2) return fail(error, "unsupported: B-VOP (encode with -bf 0)");
  if (coding_type == 3) return fail(error, "unsupported: S-VOP");
  vop->key = coding_type == 0;
  while (br.ok() && br.read_bit()) ++vop->modulo_seconds;
  if (!br.marker()) return fail(error, "malformed VOP header (marker before time increment)");
  vop->increment = br.read(standard_time_increment_bits(time_resolution));
  if (!br.marker()) return fail(error, "malformed VOP header (marker after time increment)");
  if (!br.read_bit()) return fail(error, "unsupported: VOP that is not coded");
  if (!br.ok()) return fail(error, "VOP header is truncated");
  if (vop->increment >= static_cast<uint32_t>(time_resolution))
    return fail(error, "VOP time increment beyond the time resolution");
  return true;
}

// Offsets of every 00 00 01 prefix in the stream.
std::vector<size_t> find_start_codes(const std::vector<uint8_t>& es) {
  std::vector<size_t> positions;
  for (size_t i = 0; i + 3 < es.size();) {
    if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1) {
      positions.push_back(i);
      i += 3;
    } else {
      ++i;
    }
  }
  return positions;
}

}  // namespace

int standard_time_increment_bits(int time_resolution) {
  int bits = 1;
  while (bits < 16 && (1 << bits) < time_resolution) ++bits;
  return bits;
}

int camera_time_increment_bits(int time_resolution) {
  if (time_resolution <= 0 || time_resolution > 32767) return 16;
  int bits = 1;
  int value = time_resolution;
  while (value != 1 && bits < 16) {
    value >>= 1;
    ++bits;
  }
  return bits;
}

std::array<uint8_t, kCodecDataBytes> build_codec_data(int width, int height, int time_resolution, bool mpeg_quant,
                                                      uint8_t object_type) {
  BitWriter bw;
  bw.put_bytes({0x00, 0x00, 0x01, 0x00});  // video_object_start_code, VO 0
  bw.put_bytes({0x00, 0x00, 0x01, 0x20});  // video_object_layer_start_code, VOL 0
  bw.put(0, 1);                            // random_accessible_vol
  bw.put(object_type, 8);                  // video_object_type_indication
  bw.put(0, 1);                            // is_object_layer_identifier
  bw.put(1, 4);                            // aspect_ratio_info: square pixels
  bw.put(0, 1);                            // vol_control_parameters
  bw.put(0, 2);                            // video_object_layer_shape: rectangular
  bw.put(1, 1);                            // marker
  bw.put(static_cast<uint32_t>(time_resolution), 16);
  bw.put(1, 1);  // marker
  bw.put(0, 1);  // fixed_vop_rate
  bw.put(1, 1);  // marker
  bw.put(static_cast<uint32_t>(width), 13);
  bw.put(1, 1);  // marker
  bw.put(static_cast<uint32_t>(height), 13);
  bw.put(1, 1);                   // marker
  bw.put(0, 1);                   // interlaced
  bw.put(1, 1);                   // obmc_disable
  bw.put(0, 1);                   // sprite_enable
  bw.put(0, 1);                   // not_8_bit
  bw.put(mpeg_quant ? 1 : 0, 1);  // quant_type
  if (mpeg_quant) bw.put(0, 2);   // load_intra_quant_mat, load_nonintra_quant_mat
  bw.put(1, 1);                   // complexity_estimation_disable
  bw.put(1, 1);                   // resync_marker_disable
  bw.put(0, 1);                   // data_partitioned
  bw.put(0, 1);                   // scalability
  bw.stuff_to_byte();             // next_start_code()
  std::array<uint8_t, kCodecDataBytes> out{};
  // 80 VOL bits after the start codes: both layouts end exactly on byte 18.
  for (size_t i = 0; i < out.size() && i < bw.bytes().size(); ++i) out[i] = bw.bytes()[i];
  return out;
}

bool parse_m4v(const std::vector<uint8_t>& es, M4vClip* out, std::string* error) {
  *out = M4vClip{};
  const std::vector<size_t> starts = find_start_codes(es);
  if (starts.empty()) return fail(error, "no MPEG-4 start code in the stream");
  for (size_t i = 0; i < starts.front(); ++i)
    if (es[i] != 0) return fail(error, "bytes before the first start code");

  bool have_vol = false;
  std::vector<uint8_t> vol_bytes;
  Vol vol;
  uint64_t seconds = 0;  // modulo time base, reset by each GOV's time code
  bool have_first_time = false;
  uint64_t first_ticks = 0;
  uint64_t last_ticks = 0;

  for (size_t n = 0; n < starts.size(); ++n) {
    const size_t begin = starts[n];
    size_t end = n + 1 < starts.size() ? starts[n + 1] : es.size();
    // Zero bytes before a start code are stuffing, not part of the unit.
    while (end > begin + 4 && es[end - 1] == 0) --end;
    const uint8_t code = es[begin + 3];
    const uint8_t* body = es.data() + begin + 4;
    const size_t body_size = end - begin - 4;

    if (code <= kVoLast || code == kVosStart || code == kVosEnd || code == kUserData || code == kVisualObject) {
      continue;  // headers the cameras do not send; the VOL is rebuilt below
    }
    if (code >= kVolFirst && code <= kVolLast) {
      std::vector<uint8_t> bytes(body, body + body_size);
      if (have_vol) {
        if (bytes != vol_bytes) return fail(error, "the VOL header changes within the clip");
        continue;
      }
      if (!parse_vol(body, body_size, &vol, error)) return false;
      vol_bytes = std::move(bytes);
      have_vol = true;
      continue;
    }
    if (code == kGov) {
      BitReader br(body, body_size);
      const uint32_t hours = br.read(5);
      const uint32_t minutes = br.read(6);
      const bool marker = br.marker();
      const uint32_t secs = br.read(6);
      if (!br.ok() || !marker) return fail(error, "malformed GOV header");
      seconds = hours * 3600ull + minutes * 60ull + secs;
      continue;
    }
    if (code == kVop) {
      if (!have_vol) return fail(error, "VOP before the VOL header");
      VopHeader header;
      if (!parse_vop_header(body, body_size, vol.time_resolution, &header, error)) return false;
      const size_t size = end - begin;
      if (size > kMaxFrameBytes)
        return fail(error, "VOP " + std::to_string(out->vops.size()) + " has " + std::to_string(size) +
                               " bytes; frames must stay below 65,535 bytes");
      seconds += header.modulo_seconds;
      const uint64_t ticks = seconds * static_cast<uint64_t>(vol.time_resolution) + header.increment;
      if (!have_first_time) {
        if (!header.key) return fail(error, "the clip does not start with an I-VOP");
        first_ticks = ticks;
        have_first_time = true;
      } else if (ticks <= last_ticks) {
        return fail(error, "VOP times do not increase");
      }
      last_ticks = ticks;
      Vop vop;
      vop.bytes.assign(es.begin() + static_cast<std::ptrdiff_t>(begin), es.begin() + static_cast<std::ptrdiff_t>(end));
      vop.key = header.key;
      vop.ticks = ticks - first_ticks;
      vop.time_ms = static_cast<uint32_t>(vop.ticks * 1000 / static_cast<uint64_t>(vol.time_resolution));
      out->vops.push_back(std::move(vop));
      continue;
    }
    return fail(error, "unsupported start code " + hex2(code));
  }

  if (!have_vol) return fail(error, "no VOL header in the stream");
  if (out->vops.empty()) return fail(error, "no VOP in the stream");

  out->width = vol.width;
  out->height = vol.height;
  out->time_resolution = vol.time_resolution;
  out->mpeg_quant = vol.mpeg_quant;
  out->object_type = vol.object_type;
  out->codec_data = build_codec_data(vol.width, vol.height, vol.time_resolution, vol.mpeg_quant, vol.object_type);
  const auto& vops = out->vops;
  const uint64_t interval =
      vops.size() > 1 ? vops.back().ticks - vops[vops.size() - 2].ticks : static_cast<uint64_t>(vol.time_resolution);
  out->duration_ticks = vops.back().ticks + interval;
  out->duration_ms = static_cast<uint32_t>(out->duration_ticks * 1000 / static_cast<uint64_t>(vol.time_resolution));
  return true;
}

bool read_file_bytes(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(error, "cannot open " + path);
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return fail(error, "cannot read " + path);
  return true;
}

bool load_m4v_file(const std::string& path, M4vClip* out, std::string* error) {
  std::vector<uint8_t> es;
  if (!read_file_bytes(path, &es, error)) return false;
  std::string reason;
  if (!parse_m4v(es, out, &reason)) return fail(error, path + ": " + reason);
  return true;
}

}  // namespace clipkit
