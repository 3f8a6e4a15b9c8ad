#include "tools/clipkit/asf.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/tools/tool_test_util.h"

namespace {

using tooltest::le16;
using tooltest::le32;

clipkit::Clip load_clip(const std::string& name) {
  clipkit::Clip clip;
  std::string error;
  EXPECT_TRUE(clipkit::load_clip(tooltest::clips_dir() + "/" + name, &clip, &error)) << error;
  return clip;
}

bool guid_at(const std::vector<uint8_t>& bytes, size_t offset, const char* text) {
  // Text form "75B22630-668E-11CF-A6D9-00AA0062CE6C" to stored form, written
  // out here rather than taken from the muxer.
  unsigned a, b, c, d, e1, e2;
  std::sscanf(text, "%8x-%4x-%4x-%4x-%4x%8x", &a, &b, &c, &d, &e1, &e2);
  const uint8_t want[16] = {uint8_t(a),        uint8_t(a >> 8),   uint8_t(a >> 16), uint8_t(a >> 24),
                            uint8_t(b),        uint8_t(b >> 8),   uint8_t(c),       uint8_t(c >> 8),
                            uint8_t(d >> 8),   uint8_t(d),        uint8_t(e1 >> 8), uint8_t(e1),
                            uint8_t(e2 >> 24), uint8_t(e2 >> 16), uint8_t(e2 >> 8), uint8_t(e2)};
  return offset + 16 <= bytes.size() && std::memcmp(bytes.data() + offset, want, 16) == 0;
}

TEST(CameraHeader, ObjectsHaveTheCameraSizesOrderAndFields) {
  const clipkit::Clip clip = load_clip("vga");
  for (bool audio : {true, false}) {
    SCOPED_TRACE(audio ? "audio and video" : "video only");
    clipkit::MuxOptions options;
    options.audio = audio;
    options.packet_bytes = 1234;
    clipkit::CameraMuxer muxer(clip, options);
    const std::vector<uint8_t>& h = muxer.header();
    const uint32_t header_size = audio ? 431 : 327;
    ASSERT_EQ(h.size(), header_size + 50u);
    EXPECT_TRUE(guid_at(h, 0, "75B22630-668E-11CF-A6D9-00AA0062CE6C"));
    EXPECT_EQ(le32(h.data() + 16), header_size);
    EXPECT_EQ(le32(h.data() + 20), 0u);
    EXPECT_EQ(le32(h.data() + 24), audio ? 4u : 3u);
    EXPECT_EQ(h[28], 1);
    EXPECT_EQ(h[29], 2);

    const size_t fp = 30, vsp = fp + 104, asp = vsp + 147, ext = audio ? asp + 104 : asp;
    EXPECT_TRUE(guid_at(h, fp, "8CABDCA1-A947-11CF-8EE4-00C00C205365"));
    EXPECT_EQ(le32(h.data() + fp + 16), 104u);
    EXPECT_EQ(le32(h.data() + fp + 88) & 1, 1u);  // broadcast
    EXPECT_EQ(le32(h.data() + fp + 92), 1234u);   // minimum data packet size
    EXPECT_EQ(le32(h.data() + fp + 96), 1234u);

    EXPECT_TRUE(guid_at(h, vsp, "B7DC0791-A9B7-11CF-8EE6-00C00C205365"));
    EXPECT_EQ(le32(h.data() + vsp + 16), 147u);
    EXPECT_TRUE(guid_at(h, vsp + 24, "BC19EFC0-5B4D-11CF-A8FD-00805F5C442B"));
    EXPECT_EQ(le16(h.data() + vsp + 72) & 0x7F, 1u);  // stream number
    EXPECT_EQ(le32(h.data() + vsp + 89), 58u);        // biSize covers the codec data
    EXPECT_EQ(le32(h.data() + vsp + 93), 640u);
    EXPECT_EQ(le32(h.data() + vsp + 97), 480u);
    EXPECT_TRUE(std::equal(clip.video.codec_data.begin(), clip.video.codec_data.end(), h.begin() + vsp + 129));
    EXPECT_EQ(h[vsp + 129 + 15], 0xE0);  // low byte of 480

    if (audio) {
      EXPECT_TRUE(guid_at(h, asp, "B7DC0791-A9B7-11CF-8EE6-00C00C205365"));
      EXPECT_EQ(le32(h.data() + asp + 16), 104u);
      EXPECT_TRUE(guid_at(h, asp + 24, "F8699E40-5B4D-11CF-A8FD-00805F5C442B"));
      EXPECT_EQ(le32(h.data() + asp + 64), 18u);  // type-specific data length
      EXPECT_EQ(le32(h.data() + asp + 68), 8u);   // error correction data length
      EXPECT_EQ(le16(h.data() + asp + 72) & 0x7F, 2u);
      EXPECT_EQ(le16(h.data() + asp + 78), 0x0064u);  // G.726
      EXPECT_EQ(le16(h.data() + asp + 80), 1u);
      EXPECT_EQ(le32(h.data() + asp + 82), 8000u);
      EXPECT_EQ(le16(h.data() + asp + 92), 2u);  // bits per sample
    }
    EXPECT_TRUE(guid_at(h, ext, "5FBF03B5-A92E-11CF-8EE3-00C00C205365"));
    EXPECT_EQ(le32(h.data() + ext + 16), 46u);
    EXPECT_TRUE(guid_at(h, header_size, "75B22636-668E-11CF-A6D9-00AA0062CE6C"));
  }
}

struct Stream {
  std::vector<tooltest::Packet> packets;
  std::vector<tooltest::Object> objects;
};

// Pulls packets until `video_frames` video objects are complete, checking
// the fixed packet fields on the way.
Stream pull(clipkit::CameraMuxer& muxer, uint32_t packet_bytes, size_t video_frames) {
  Stream s;
  tooltest::Reassembler joiner;
  size_t videos = 0;
  while (videos < video_frames) {
    const clipkit::AsfPacket packet = muxer.next_packet();
    tooltest::Packet p;
    EXPECT_EQ(packet.bytes.size(), packet_bytes);
    if (!tooltest::parse_packet(packet.bytes.data(), packet.bytes.size(), &p)) {
      ADD_FAILURE() << "payload beyond the packet";
      break;
    }
    EXPECT_EQ(p.ec_flags, 0x82);
    EXPECT_EQ(p.ec1 | p.ec2, 0);
    EXPECT_EQ(p.length_flags, 0x11);
    EXPECT_EQ(p.property_flags, 0x5D);
    EXPECT_EQ(p.payload_flags & 0xC0, 0x80);
    EXPECT_GE(p.payload_flags & 0x3F, 1);
    EXPECT_EQ(p.padding, packet_bytes - p.payload_end);
    EXPECT_TRUE(std::all_of(packet.bytes.begin() + p.payload_end, packet.bytes.end(), [](uint8_t b) { return b == 0; }))
        << "padding is not zero";
    EXPECT_GE(packet.due_ms, p.send_ms);
    std::string why;
    const size_t before = joiner.objects.size();
    EXPECT_TRUE(joiner.add(p, &why)) << why;
    for (size_t i = before; i < joiner.objects.size(); ++i) videos += (joiner.objects[i].stream_byte & 0x7F) == 1;
    s.packets.push_back(std::move(p));
  }
  s.objects = std::move(joiner.objects);
  return s;
}

TEST(CameraPackets, CarryTheClipUnchangedAtEveryPacketSize) {
  const clipkit::Clip clip = load_clip("small");
  const size_t frames = clip.video.vops.size();
  for (uint32_t packet_bytes : {64u, 1600u, 12800u}) {
    SCOPED_TRACE(packet_bytes);
    clipkit::MuxOptions options;
    options.packet_bytes = packet_bytes;
    clipkit::CameraMuxer muxer(clip, options);
    const Stream s = pull(muxer, packet_bytes, 2 * frames + 1);
    size_t video = 0, audio = 0;
    for (const auto& object : s.objects) {
      if ((object.stream_byte & 0x7F) == 1) {
        const auto& vop = clip.video.vops[video % frames];
        EXPECT_EQ(object.data, vop.bytes) << "frame " << video;
        EXPECT_EQ(object.stream_byte, vop.key ? 0x81 : 0x01) << "frame " << video;
        ++video;
      } else {
        ASSERT_EQ(object.stream_byte, 0x02);  // never with the key bit
        const size_t blocks = clip.audio.size() / 400;
        ASSERT_EQ(object.data.size(), 400u);
        EXPECT_TRUE(std::equal(object.data.begin(), object.data.end(), clip.audio.begin() + (audio % blocks) * 400));
        ++audio;
      }
    }
    EXPECT_GE(video, 2 * frames + 1);
    EXPECT_GE(audio, 20u);  // 4 s of 200 ms blocks, give or take one
    // Media object numbers count per stream.
    uint8_t next[3] = {0, 0, 0};
    for (const auto& p : s.packets)
      for (const auto& pl : p.payloads)
        if (pl.replicated == 8) {
          EXPECT_EQ(pl.object_number, next[pl.stream_byte & 0x7F]++);
        }
  }
}

TEST(CameraPackets, PresentationTimesRunOnAcrossLoops) {
  const clipkit::Clip clip = load_clip("small");  // 30 frames, 2 s
  clipkit::CameraMuxer muxer(clip, {});
  const Stream s = pull(muxer, clipkit::kDefaultPacketBytes, 3 * 30 + 1);
  std::vector<uint32_t> video, audio;
  for (const auto& object : s.objects) ((object.stream_byte & 0x7F) == 1 ? video : audio).push_back(object.time_ms);
  ASSERT_GE(video.size(), 91u);
  EXPECT_EQ(video[0], 0u);
  EXPECT_EQ(video[30], 2000u);  // second pass starts where the first ended
  EXPECT_EQ(video[60], 4000u);
  for (size_t i = 1; i < video.size(); ++i)
    EXPECT_TRUE(video[i] - video[i - 1] == 66 || video[i] - video[i - 1] == 67) << i;
  for (size_t i = 1; i < audio.size(); ++i) EXPECT_EQ(audio[i] - audio[i - 1], 200u) << i;
  EXPECT_GE(audio.size(), 30u);  // the audio loop (10 blocks) ran three times too
  for (size_t i = 1; i < s.packets.size(); ++i) EXPECT_GE(s.packets[i].send_ms, s.packets[i - 1].send_ms);
}

TEST(CameraPackets, VideoOnlyStreamHasNoAudioPayloads) {
  const clipkit::Clip clip = load_clip("small");
  clipkit::MuxOptions options;
  options.audio = false;
  clipkit::CameraMuxer muxer(clip, options);
  EXPECT_EQ(muxer.header().size(), 377u);
  const Stream s = pull(muxer, options.packet_bytes, 40);
  for (const auto& object : s.objects) EXPECT_EQ(object.stream_byte & 0x7F, 1);
}

TEST(CameraAsfFile, FfmpegReadsItAsAsfAndDecodesTheClipExactly) {
  const clipkit::Clip clip = load_clip("qvga");
  tooltest::ScratchDir dir;
  const std::string path = dir.file("qvga.asf");
  std::string error;
  ASSERT_TRUE(clipkit::write_camera_asf(path, clip, {}, 0, &error)) << error;

  std::string probe;
  ASSERT_EQ(
      tooltest::run("ffprobe -v error -show_entries format=format_name:stream=codec_name,width,height,sample_rate "
                    "-of compact " +
                        path,
                    &probe),
      0);
  EXPECT_NE(probe.find("format_name=asf"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_name=mpeg4|width=320|height=240"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_name=adpcm_g726"), std::string::npos) << probe;
  EXPECT_NE(probe.find("sample_rate=8000"), std::string::npos) << probe;

  std::string errors;
  EXPECT_EQ(tooltest::run("ffmpeg -v error -nostdin -i " + path + " -f null - 2>&1", &errors), 0);
  EXPECT_EQ(errors, "");

  const std::string original = tooltest::clips_dir() + "/qvga";
  std::string ours, theirs;
  const std::string md5 = " -map 0:v -f framemd5 - | grep -v '^#' | cut -d, -f6";
  tooltest::run("ffmpeg -v error -nostdin -i " + path + md5, &ours);
  tooltest::run("ffmpeg -v error -nostdin -i " + original + ".m4v" + md5, &theirs);
  EXPECT_EQ(std::count(ours.begin(), ours.end(), '\n'), 100);
  EXPECT_EQ(ours, theirs);

  tooltest::run("ffmpeg -v error -nostdin -i " + path + " -map 0:a -f s16le - | md5sum", &ours);
  tooltest::run("ffmpeg -v error -nostdin -f g726 -code_size 2 -ar 8000 -i " + original + ".g726 -f s16le - | md5sum",
                &theirs);
  EXPECT_EQ(ours, theirs);
}

TEST(CameraClip, AudioIsCutToWholeBlocksAndTooShortAudioIsRefused) {
  tooltest::ScratchDir dir;
  std::vector<uint8_t> m4v;
  std::string error;
  ASSERT_TRUE(clipkit::read_file_bytes(tooltest::clips_dir() + "/small.m4v", &m4v, &error));
  auto write = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(dir.file(name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  };
  write("a.m4v", m4v);
  write("a.g726", std::vector<uint8_t>(1000, 0x11));
  clipkit::Clip clip;
  ASSERT_TRUE(clipkit::load_clip(dir.file("a"), &clip, &error)) << error;
  EXPECT_EQ(clip.audio.size(), 800u);
  write("b.m4v", m4v);
  write("b.g726", std::vector<uint8_t>(399, 0x11));
  EXPECT_FALSE(clipkit::load_clip(dir.file("b"), &clip, &error));
  EXPECT_NE(error.find("400-byte"), std::string::npos);
  write("c.m4v", m4v);  // no audio file: a video-only clip
  ASSERT_TRUE(clipkit::load_clip(dir.file("c"), &clip, &error)) << error;
  EXPECT_TRUE(clip.audio.empty());
  EXPECT_EQ(clipkit::CameraMuxer(clip, {}).header().size(), 377u);
}

}  // namespace
