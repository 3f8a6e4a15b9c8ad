// asf2yuv --audio: the sound of a camera-profile .asf file, read through the
// stream demultiplexer, decoded block by block as the audio output decodes
// it, with nothing dropped or cut.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "pipeline/pipeline_test_util.h"
#include "tools/clipkit/asf.h"
#include "viewer/media/g726/g726.h"

namespace {

using namespace pipeline_test;

const std::string kTool = std::string(CAMVIEWER_BIN_DIR) + "/asf2yuv";

using tooltest::run;

// The blocks decoded one after another on one decoder state: 2-bit codes,
// post-filter on, as 16-bit little-endian bytes.
std::vector<std::uint8_t> decode_blocks(const std::vector<std::vector<std::uint8_t>>& blocks) {
  media::G726Decoder decoder(media::G726_decoder_create());
  std::vector<std::uint8_t> bytes;
  for (const auto& block : blocks) {
    std::vector<std::int16_t> pcm(block.size() * 4);
    const int n = media::G726_dec(decoder.get(), 2, block.data(), static_cast<int>(block.size()), pcm.data());
    for (int i = 0; i < n; ++i) {
      const auto v = static_cast<std::uint16_t>(pcm[static_cast<std::size_t>(i)]);
      bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
  return bytes;
}

std::vector<std::vector<std::uint8_t>> cut(const std::vector<std::uint8_t>& audio, std::size_t block) {
  std::vector<std::vector<std::uint8_t>> blocks;
  for (std::size_t off = 0; off + block <= audio.size(); off += block)
    blocks.emplace_back(audio.begin() + static_cast<long>(off), audio.begin() + static_cast<long>(off + block));
  return blocks;
}

TEST(Asf2YuvAudio, EveryBlockOfACameraFileDecodedInOrder) {
  clipkit::Clip clip;
  std::string error;
  ASSERT_TRUE(clipkit::load_clip(clip_path("qvga"), &clip, &error)) << error;
  ASSERT_FALSE(clip.audio.empty());
  TempDir dir;
  // The largest packets carry many blocks each: the demultiplexer would
  // keep only the last three of them for a live audio output.
  clipkit::MuxOptions options;
  options.packet_bytes = clipkit::kMaxPacketBytes;
  const std::string asf = dir.file("clip.asf");
  ASSERT_TRUE(clipkit::write_camera_asf(asf, clip, options, 0, &error)) << error;

  std::string text;
  ASSERT_EQ(run(kTool + " --audio " + dir.file("out.s16le") + " " + asf + " " + dir.file("out.yuv"), &text), 0);
  const auto blocks = cut(clip.audio, clipkit::kAudioBlockBytes);
  EXPECT_NE(text.find("audio_blocks: " + std::to_string(blocks.size())), std::string::npos) << text;
  EXPECT_NE(text.find("frames: " + std::to_string(clip.video.vops.size())), std::string::npos) << text;
  const std::vector<std::uint8_t> pcm = read_bytes(dir.file("out.s16le"));
  EXPECT_EQ(pcm.size(), clip.audio.size() * 4 * 2);  // four samples per byte
  EXPECT_EQ(pcm, decode_blocks(blocks));
}

TEST(Asf2YuvAudio, BlocksLongerThanTheLiveLimitStayWhole) {
  clipkit::Clip clip;
  std::string error;
  ASSERT_TRUE(clipkit::load_clip(clip_path("small"), &clip, &error)) << error;
  // 1,000-byte blocks (500 ms): the live audio output plays only the first
  // 800 bytes of such a block; the tool decodes all of it.
  const auto blocks = cut(clip.audio, 1000);
  ASSERT_GE(blocks.size(), 3u);
  clipkit::AsfProfile profile;
  profile.width = clip.video.width;
  profile.height = clip.video.height;
  profile.codec_data = clip.video.codec_data;
  std::vector<std::uint8_t> file = clipkit::build_camera_header(profile);
  clipkit::AsfPacketizer packetizer(profile.packet_bytes);
  std::deque<clipkit::AsfPacket> packets;
  std::size_t next_block = 0;
  for (const clipkit::Vop& vop : clip.video.vops) {
    while (next_block < blocks.size() && next_block * 500 <= vop.time_ms) {
      const auto& b = blocks[next_block];
      packetizer.add({clipkit::kAudioStream, false, static_cast<std::uint32_t>(next_block * 500), b.data(),
                      static_cast<std::uint32_t>(b.size())},
                     &packets);
      ++next_block;
    }
    packetizer.add(
        {clipkit::kVideoStream, vop.key, vop.time_ms, vop.bytes.data(), static_cast<std::uint32_t>(vop.bytes.size())},
        &packets);
  }
  packetizer.flush(&packets);
  for (const auto& p : packets) file.insert(file.end(), p.bytes.begin(), p.bytes.end());
  TempDir dir;
  {
    std::ofstream out(dir.file("long.asf"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  }
  std::string text;
  ASSERT_EQ(
      run(kTool + " --audio " + dir.file("out.s16le") + " " + dir.file("long.asf") + " " + dir.file("out.yuv"), &text),
      0);
  const std::vector<std::vector<std::uint8_t>> sent(blocks.begin(), blocks.begin() + static_cast<long>(next_block));
  EXPECT_NE(text.find("audio_samples: " + std::to_string(next_block * 4000)), std::string::npos) << text;
  EXPECT_EQ(read_bytes(dir.file("out.s16le")), decode_blocks(sent));
}

TEST(Asf2YuvAudio, AFileWithoutSoundIsAnError) {
  clipkit::Clip clip;
  std::string error;
  ASSERT_TRUE(clipkit::load_clip(clip_path("small"), &clip, &error)) << error;
  clipkit::MuxOptions options;
  options.audio = false;
  TempDir dir;
  ASSERT_TRUE(clipkit::write_camera_asf(dir.file("mute.asf"), clip, options, 0, &error)) << error;
  EXPECT_NE(run(kTool + " --audio " + dir.file("out.s16le") + " " + dir.file("mute.asf") + " " + dir.file("out.yuv") +
                " 2>/dev/null"),
            0);
  EXPECT_TRUE(read_bytes(dir.file("out.s16le")).empty());
  // Without the option the same file is fine, and --audio needs its file.
  EXPECT_EQ(run(kTool + " " + dir.file("mute.asf") + " " + dir.file("out.yuv")), 0);
  EXPECT_EQ(run(kTool + " " + dir.file("mute.asf") + " " + dir.file("out.yuv") + " --audio 2>/dev/null"), 2);
}

}  // namespace
