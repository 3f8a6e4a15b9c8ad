#include "tools/clipkit/m4v.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/tools/tool_test_util.h"
#include "tools/clipkit/bits.h"

namespace {

using clipkit::M4vClip;

struct ClipFacts {
  const char* name;
  int width, height, resolution;
  bool mpeg_quant;
  size_t vops;
  size_t gop;
  uint32_t duration_ms;
};

const ClipFacts kClips[] = {
    {"vga", 640, 480, 15, false, 60, 30, 4000},
    {"qvga", 320, 240, 25, true, 100, 25, 4000},
    {"small", 160, 128, 15, false, 30, 15, 2000},
};

M4vClip load(const std::string& name) {
  M4vClip clip;
  std::string error;
  EXPECT_TRUE(clipkit::load_m4v_file(tooltest::clips_dir() + "/" + name + ".m4v", &clip, &error)) << error;
  return clip;
}

TEST(M4vClips, CommittedClipsBecomeBareVopsWithTheirTiming) {
  for (const ClipFacts& facts : kClips) {
    SCOPED_TRACE(facts.name);
    const M4vClip clip = load(facts.name);
    EXPECT_EQ(clip.width, facts.width);
    EXPECT_EQ(clip.height, facts.height);
    EXPECT_EQ(clip.time_resolution, facts.resolution);
    EXPECT_EQ(clip.mpeg_quant, facts.mpeg_quant);
    EXPECT_EQ(clip.duration_ms, facts.duration_ms);
    ASSERT_EQ(clip.vops.size(), facts.vops);
    const uint32_t frame_ms = 1000 / facts.resolution;
    for (size_t i = 0; i < clip.vops.size(); ++i) {
      const auto& bytes = clip.vops[i].bytes;
      ASSERT_GE(bytes.size(), 5u);
      EXPECT_EQ((std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4)), (std::vector<uint8_t>{0, 0, 1, 0xB6}));
      // The encoder's VOS/VOL/GOV/user-data headers are gone: no second
      // start code anywhere in a VOP.
      for (size_t j = 1; j + 2 < bytes.size(); ++j)
        ASSERT_FALSE(bytes[j] == 0 && bytes[j + 1] == 0 && bytes[j + 2] == 1) << "VOP " << i << " at " << j;
      EXPECT_NE(bytes.back(), 0) << "trailing stuffing kept in VOP " << i;
      EXPECT_LE(bytes.size(), clipkit::kMaxFrameBytes);
      EXPECT_EQ(clip.vops[i].key, i % facts.gop == 0) << i;
      // Across every second and GOV boundary the times keep one frame rate.
      EXPECT_EQ(clip.vops[i].ticks, i);
      if (i > 0) {
        const uint32_t step = clip.vops[i].time_ms - clip.vops[i - 1].time_ms;
        EXPECT_TRUE(step == frame_ms || step == frame_ms + 1) << "step " << step << " at " << i;
      }
    }
  }
}

// Reads bit fields at absolute bit offsets, independently of the code under
// test, following the layout the viewer's decoder assumes.
uint32_t bits_at(const std::array<uint8_t, 18>& data, int first_bit, int count) {
  uint32_t v = 0;
  for (int i = first_bit; i < first_bit + count; ++i) v = (v << 1) | ((data[i / 8] >> (7 - i % 8)) & 1);
  return v;
}

TEST(CodecData, FieldsSitAtTheFixedPositionsTheViewerReads) {
  struct Case {
    int width, height, resolution;
    bool mpeg_quant;
    uint8_t byte15;
  };
  const Case cases[] = {
      {640, 480, 15, false, 0xE0}, {320, 240, 25, true, 240}, {160, 128, 30000, false, 128},
      {176, 144, 15, true, 144},   {16, 16, 1, false, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const auto d = clipkit::build_codec_data(c.width, c.height, c.resolution, c.mpeg_quant);
    EXPECT_EQ(bits_at(d, 0, 32), 0x00000100u);   // VO start code
    EXPECT_EQ(bits_at(d, 32, 32), 0x00000120u);  // VOL start code
    int b = 64;
    b += 1;                           // random_accessible_vol
    EXPECT_EQ(bits_at(d, b, 8), 1u);  // Simple Object
    b += 8;
    EXPECT_EQ(bits_at(d, b, 1), 0u);  // is_object_layer_identifier
    b += 1;
    EXPECT_NE(bits_at(d, b, 4), 15u);  // no extended PAR
    b += 4;
    EXPECT_EQ(bits_at(d, b, 1), 0u);  // vol_control_parameters
    b += 1;
    EXPECT_EQ(bits_at(d, b, 2), 0u);  // rectangular
    b += 2;
    EXPECT_EQ(bits_at(d, b, 1), 1u);  // marker
    b += 1;
    EXPECT_EQ(bits_at(d, b, 16), static_cast<uint32_t>(c.resolution));
    b += 16;
    EXPECT_EQ(bits_at(d, b, 3), 0b101u);  // marker, fixed_vop_rate 0, marker
    b += 3;
    EXPECT_EQ(bits_at(d, b, 13), static_cast<uint32_t>(c.width));
    b += 13;
    EXPECT_EQ(bits_at(d, b, 1), 1u);
    b += 1;
    EXPECT_EQ(bits_at(d, b, 13), static_cast<uint32_t>(c.height));
    b += 13;
    EXPECT_EQ(bits_at(d, b, 1), 1u);
    b += 1;
    EXPECT_EQ(bits_at(d, b, 4), 0b0100u);  // interlaced, obmc_disable, sprite, not_8_bit
    b += 4;
    EXPECT_EQ(bits_at(d, b, 1), c.mpeg_quant ? 1u : 0u);
    b += 1;
    EXPECT_EQ(b, 134);  // 10 bits left for the decoder to skip
    // What follows: no matrices, complexity estimation and resync markers
    // disabled, no partitioning, no scalability, then stuffing 0 1...1.
    EXPECT_EQ(bits_at(d, b, 10), c.mpeg_quant ? 0b0011000111u : 0b1100011111u);
    EXPECT_EQ(d[15], c.byte15);
  }
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string framemd5(const std::string& path) {
  std::string out;
  EXPECT_EQ(tooltest::run("ffmpeg -v error -i " + path + " -map 0:v -f framemd5 - | grep -v '^#' | cut -d, -f6", &out),
            0);
  return out;
}

TEST(CodecData, FfmpegDecodesTheCameraFormOfAClipLikeTheOriginal) {
  // The rebuilt 18 bytes plus the bare VOPs, as the viewer sees them, must
  // decode in ffmpeg to exactly the pictures of ffmpeg's own stream.
  tooltest::ScratchDir dir;
  for (const char* name : {"qvga", "small"}) {
    SCOPED_TRACE(name);
    const M4vClip clip = load(name);
    std::vector<uint8_t> camera_form(clip.codec_data.begin(), clip.codec_data.end());
    for (const auto& vop : clip.vops) camera_form.insert(camera_form.end(), vop.bytes.begin(), vop.bytes.end());
    const std::string path = dir.file(std::string(name) + "-camera.m4v");
    write_file(path, camera_form);
    const std::string original = framemd5(tooltest::clips_dir() + "/" + name + ".m4v");
    EXPECT_EQ(std::count(original.begin(), original.end(), '\n'), static_cast<long>(clip.vops.size()));
    EXPECT_EQ(framemd5(path), original);
  }
}

// A synthetic elementary stream written field by field from the standard's
// VOL syntax (ISO/IEC 14496-2, 6.2.3), to try what ffmpeg would not produce.
struct VolSpec {
  bool object_layer_identifier = false;
  int verid = 1;
  int aspect = 1;
  bool control_parameters = false;
  int resolution = 15;
  int width = 160;
  int height = 128;
  bool interlaced = false;
  bool obmc_disable = true;
  int sprite = 0;
  bool quant_type = false;
  bool load_intra_matrix = false;
  bool quarter_sample = false;
  bool resync_marker_disable = true;
  bool data_partitioned = false;
};

std::vector<uint8_t> vol_bytes(const VolSpec& s) {
  clipkit::BitWriter bw;
  bw.put_bytes({0, 0, 1, 0x20});
  bw.put(0, 1);
  bw.put(1, 8);
  bw.put(s.object_layer_identifier, 1);
  if (s.object_layer_identifier) {
    bw.put(static_cast<uint32_t>(s.verid), 4);
    bw.put(1, 3);
  }
  bw.put(static_cast<uint32_t>(s.aspect), 4);
  if (s.aspect == 15) bw.put(0x0101, 16);
  bw.put(s.control_parameters, 1);
  if (s.control_parameters) {
    bw.put(1, 2);  // 4:2:0
    bw.put(1, 1);  // low_delay
    bw.put(1, 1);  // vbv_parameters
    for (int bits : {15, 15, 15}) {
      bw.put(0x1234, bits);
      bw.put(1, 1);
    }
    bw.put(3, 3);
    bw.put(0x123, 11);
    bw.put(1, 1);
    bw.put(0x1234, 15);
    bw.put(1, 1);
  }
  bw.put(0, 2);
  bw.put(1, 1);
  bw.put(static_cast<uint32_t>(s.resolution), 16);
  bw.put(1, 1);
  bw.put(0, 1);
  bw.put(1, 1);
  bw.put(static_cast<uint32_t>(s.width), 13);
  bw.put(1, 1);
  bw.put(static_cast<uint32_t>(s.height), 13);
  bw.put(1, 1);
  bw.put(s.interlaced, 1);
  bw.put(s.obmc_disable, 1);
  bw.put(static_cast<uint32_t>(s.sprite), s.verid == 1 ? 1 : 2);
  bw.put(0, 1);
  bw.put(s.quant_type, 1);
  if (s.quant_type) {
    bw.put(s.load_intra_matrix, 1);
    if (s.load_intra_matrix)
      for (int i = 0; i < 64; ++i) bw.put(16, 8);
    bw.put(0, 1);
  }
  if (s.verid != 1) bw.put(s.quarter_sample, 1);
  bw.put(1, 1);
  bw.put(s.resync_marker_disable, 1);
  bw.put(s.data_partitioned, 1);
  if (s.data_partitioned) bw.put(0, 1);
  if (s.verid != 1) bw.put(0, 2);
  bw.put(0, 1);
  bw.stuff_to_byte();
  return bw.bytes();
}

// A VOP header (coding type, modulo_time_base, time increment) and a few
// bytes standing in for macroblock data.
std::vector<uint8_t> vop_bytes(int coding_type, int modulo, int increment, int time_bits, size_t body = 8) {
  clipkit::BitWriter bw;
  bw.put_bytes({0, 0, 1, 0xB6});
  bw.put(static_cast<uint32_t>(coding_type), 2);
  for (int i = 0; i < modulo; ++i) bw.put(1, 1);
  bw.put(0, 1);
  bw.put(1, 1);
  bw.put(static_cast<uint32_t>(increment), time_bits);
  bw.put(1, 1);
  bw.put(1, 1);  // vop_coded
  bw.put(0x55, 8);
  std::vector<uint8_t> out = bw.bytes();
  out.resize(out.size() + body, 0x5A);
  return out;
}

std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::string refusal(const std::vector<uint8_t>& es) {
  M4vClip clip;
  std::string error;
  if (clipkit::parse_m4v(es, &clip, &error)) return "accepted";
  return error;
}

TEST(M4vRefusals, SyntheticStreamsOutsideTheCameraSubset) {
  const auto i_vop = vop_bytes(0, 0, 0, 4);
  auto with = [&](auto change) {
    VolSpec s;
    change(s);
    return join({vol_bytes(s), i_vop, vop_bytes(1, 0, 1, 4)});
  };
  struct Case {
    std::vector<uint8_t> es;
    const char* reason;
  };
  const Case cases[] = {
      {with([](VolSpec& s) { s.interlaced = true; }), "interlaced"},
      {with([](VolSpec& s) { s.obmc_disable = false; }), "OBMC"},
      {with([](VolSpec& s) { s.sprite = 1; }), "sprite"},
      {with([](VolSpec& s) { s.resync_marker_disable = false; }), "resync"},
      {with([](VolSpec& s) { s.data_partitioned = true; }), "partitioning"},
      {with([](VolSpec& s) {
         s.quant_type = true;
         s.load_intra_matrix = true;
       }),
       "matrix"},
      {with([](VolSpec& s) {
         s.object_layer_identifier = true;
         s.verid = 2;
         s.quarter_sample = true;
       }),
       "quarter"},
      {with([](VolSpec& s) { s.height = 288; }), "height 288"},
      {with([](VolSpec& s) { s.width = 704; }), "larger than 640x480"},
      {with([](VolSpec& s) { s.width = 168; }), "multiple of 16"},
      {join({vol_bytes({.resolution = 16}), vop_bytes(0, 0, 0, 4)}), "power of two"},
      {join({vol_bytes({}), vop_bytes(0, 0, 0, 4), vop_bytes(2, 0, 1, 4)}), "B-VOP"},
      {join({vol_bytes({}), vop_bytes(1, 0, 0, 4), vop_bytes(0, 0, 1, 4)}), "I-VOP"},
      {join({vol_bytes({}), vop_bytes(0, 0, 2, 4), vop_bytes(1, 0, 1, 4)}), "do not increase"},
      {join({vol_bytes({}), vop_bytes(0, 0, 0, 4, 70000)}), "65,535"},
      {join({vop_bytes(0, 0, 0, 4), vol_bytes({})}), "before the VOL"},
      {join({vol_bytes({}), {0, 0, 1, 0xBA, 1, 2}, vop_bytes(0, 0, 0, 4)}), "start code 0xBA"},
      {join({vol_bytes({}), vop_bytes(0, 0, 0, 4), vol_bytes({.height = 64})}), "changes"},
      {{1, 2, 3, 4}, "no MPEG-4 start code"},
  };
  for (const Case& c : cases)
    EXPECT_NE(refusal(c.es).find(c.reason), std::string::npos) << c.reason << ": " << refusal(c.es);
}

TEST(M4vRefusals, TruncatedOrEmptyInputIsRefusedNotOverread) {
  const auto full = join({vol_bytes({}), vop_bytes(0, 0, 0, 4)});
  // Every prefix either parses or gives a reason; none may read past its end
  // (the sanitizer builds would catch that).
  for (size_t n = 0; n < full.size(); ++n) {
    std::vector<uint8_t> prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    M4vClip clip;
    std::string error;
    if (!clipkit::parse_m4v(prefix, &clip, &error)) {
      EXPECT_FALSE(error.empty());
    }
  }
  EXPECT_NE(refusal({}), "accepted");
}

TEST(M4vAccepts, EncoderHeaderVariantsAreNormalisedToTheCameraForm) {
  // Object layer identifier, pixel aspect, VBV parameters and GOV time codes are legal
  // around a camera-subset stream: they are read past and the codec data is
  // the one fixed form; VOP times follow GOV time codes and modulo_time_base.
  VolSpec s;
  s.object_layer_identifier = true;
  s.control_parameters = true;
  s.quant_type = true;
  s.aspect = 15;  // extended PAR: dropped, the codec data says square pixels
  const std::vector<uint8_t> gov = {0, 0, 1, 0xB3, 0x00, 0x10, 0x47};  // time code 00:00:01
  const auto es = join({{0, 0, 1, 0xB0, 1},
                        {0, 0, 1, 0xB5, 9},
                        {0, 0, 1, 0x00},
                        vol_bytes(s),
                        gov,
                        vop_bytes(0, 0, 14, 4),
                        vop_bytes(1, 1, 1, 4),
                        {0, 0, 1, 0xB2, 'x', 0},
                        vop_bytes(1, 0, 2, 4),
                        {0, 0, 0}});
  M4vClip clip;
  std::string error;
  ASSERT_TRUE(clipkit::parse_m4v(es, &clip, &error)) << error;
  EXPECT_EQ(clip.codec_data, clipkit::build_codec_data(160, 128, 15, true));
  ASSERT_EQ(clip.vops.size(), 3u);
  // 1 s + 14/15, then 2 s + 1/15, then 2 s + 2/15: 0, 2 and 3 ticks later.
  EXPECT_EQ(clip.vops[1].ticks, 2u);
  EXPECT_EQ(clip.vops[2].ticks, 3u);
  EXPECT_EQ(clip.vops[2].time_ms, 200u);
  EXPECT_EQ(clip.duration_ticks, 4u);
  EXPECT_FALSE(clip.vops[1].key);
}

TEST(M4vRefusals, FfmpegEncodingsOutsideTheCameraSubset) {
  tooltest::ScratchDir dir;
  struct Case {
    const char* options;
    const char* reason;
  };
  const Case cases[] = {
      {"-s 160x128 -r 15 -bf 2", "B-VOP"},
      {"-s 160x128 -r 16", "power of two"},
      {"-s 352x288 -r 15", "height 288"},
      {"-s 160x128 -r 15 -flags +ildct", "interlaced"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const std::string path = dir.file("bad.m4v");
    ASSERT_EQ(tooltest::run("ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=160x128:rate=15 -frames:v 6 " +
                            std::string(c.options) + " -c:v mpeg4 -threads 1 -f m4v " + path),
              0);
    M4vClip clip;
    std::string error;
    EXPECT_FALSE(clipkit::load_m4v_file(path, &clip, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(TimeIncrementBits, CameraRuleMatchesTheStandardExceptAtPowersOfTwo) {
  EXPECT_EQ(clipkit::camera_time_increment_bits(30), 5);
  EXPECT_EQ(clipkit::camera_time_increment_bits(32), 6);
  EXPECT_EQ(clipkit::camera_time_increment_bits(1000), 10);
  EXPECT_EQ(clipkit::standard_time_increment_bits(32), 5);
  for (int r = 2; r < 40000; ++r) {
    const bool power_of_two = (r & (r - 1)) == 0;
    if (r <= 32767) {
      EXPECT_EQ(clipkit::camera_time_increment_bits(r) != clipkit::standard_time_increment_bits(r), power_of_two) << r;
    }
  }
}

}  // namespace
