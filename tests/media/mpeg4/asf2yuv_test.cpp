// asf2yuv end to end: a clip written in the cameras' ASF profile, read back
// through the stream demultiplexer and decoded, gives the same pictures as
// decoding the clip's VOPs directly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/media/mpeg4/mpeg4_test_util.h"
#include "tools/clipkit/asf.h"
#include "viewer/media/mpeg4/decoder.h"

namespace {

using namespace mpeg4_test;

const std::string kTool = std::string(CAMVIEWER_BIN_DIR) + "/asf2yuv";

// The clip decoded as the pipeline decodes it: codec data before the first
// VOP, the deblocking flag cleared after every call (or before the first).
std::vector<uint8_t> decode_directly(const clipkit::M4vClip& clip, bool no_deblock, size_t first = 0)
{
    std::vector<uint8_t> all;
    DECODER* d = decoder_create();
    if (d == nullptr) return all;
    std::vector<uint8_t> picture(static_cast<size_t>(clip.width) * clip.height * 3 / 2);
    for (size_t i = first; i < clip.vops.size(); ++i) {
        std::vector<uint8_t> in = clip.vops[i].bytes;
        if (i == first) in.insert(in.begin(), clip.codec_data.begin(), clip.codec_data.end());
        if (no_deblock) d->deblocking_enabled = 0;
        int32_t status = 0;
        const int result = decoder_decode(d, picture.data(), in.data(), in.size(), &status);
        d->deblocking_enabled = 0;
        if (result == kDecodeOk) all.insert(all.end(), picture.begin(), picture.end());
    }
    (void)decoder_destroy(d);
    return all;
}

TEST(Asf2Yuv, SamePicturesAsDecodingTheClip)
{
    for (const char* name : {"qvga", "small"}) {
        clipkit::Clip clip;
        std::string error;
        ASSERT_TRUE(clipkit::load_clip(std::string(CAMVIEWER_CLIPS_DIR) + "/" + name, &clip, &error)) << error;
        TempDir dir;
        const std::string asf = dir.file("clip.asf");
        ASSERT_TRUE(clipkit::write_camera_asf(asf, clip, clipkit::MuxOptions{}, 0, &error)) << error;
        for (bool no_deblock : {true, false}) {
            const std::string yuv = dir.file("out.yuv");
            const std::string log = dir.file("out.txt");
            ASSERT_TRUE(run(kTool + (no_deblock ? " --no-deblock " : " ") + asf + " " + yuv + " > " + log)) << name;
            const std::string text(reinterpret_cast<const char*>(read_all(log).data()), read_all(log).size());
            EXPECT_NE(text.find("width: " + std::to_string(clip.video.width)), std::string::npos) << text;
            EXPECT_NE(text.find("height: " + std::to_string(clip.video.height)), std::string::npos) << text;
            EXPECT_NE(text.find("frames: " + std::to_string(clip.video.vops.size())), std::string::npos) << text;
            const std::vector<uint8_t> expected = decode_directly(clip.video, no_deblock);
            EXPECT_EQ(read_all(yuv), expected) << name << (no_deblock ? " without" : " with") << " deblocking";
        }
    }
}

std::string text_of(const std::string& path)
{
    const std::vector<uint8_t> bytes = read_all(path);
    return std::string(bytes.begin(), bytes.end());
}

// Seen before: 0 frames from a file that starts inside a picture, which every
// recording does (it starts with the packet after the one that completed the
// first key frame) and any file cut by hand does.
TEST(Asf2Yuv, AFileStartingInsideAPictureDecodesFromTheNextKeyFrame)
{
    clipkit::Clip clip;
    std::string error;
    ASSERT_TRUE(clipkit::load_clip(std::string(CAMVIEWER_CLIPS_DIR) + "/qvga", &clip, &error)) << error;
    TempDir dir;
    const std::string whole = dir.file("whole.asf");
    clipkit::MuxOptions options;
    ASSERT_TRUE(clipkit::write_camera_asf(whole, clip, options, 0, &error)) << error;
    const std::vector<uint8_t> bytes = read_all(whole);
    // Header Object (its size at offset 16), then the 50-byte Data Object start.
    size_t header = 50;
    for (int i = 0; i < 8; ++i) header += static_cast<size_t>(bytes[16 + i]) << (8 * i);
    const size_t packet = options.packet_bytes;

    // The first packet that starts with the rest of a video frame; j: that frame.
    size_t cut = 0, frames_begun = 0, j = 0;
    for (size_t k = 0; header + (k + 1) * packet <= bytes.size() && cut == 0; ++k) {
        const uint8_t* p = bytes.data() + header + k * packet;
        size_t at = 14;
        for (int n = p[13] & 0x3F; n > 0; --n) {
            const bool video = (p[at] & 0x7F) == 1, begins = p[at + 6] != 0;
            if (k > 0 && at == 14 && video && !begins) {
                cut = k;
                j = frames_begun - 1;
                break;
            }
            if (video && begins) ++frames_begun;
            at += 7 + p[at + 6];
            at += 2 + (p[at] | p[at + 1] << 8);
        }
    }
    ASSERT_GT(cut, 0u);
    size_t key = j + 1;
    while (key < clip.video.vops.size() && !clip.video.vops[key].key) ++key;
    ASSERT_LT(key, clip.video.vops.size());

    const std::string part = dir.file("part.asf");
    std::vector<uint8_t> cut_bytes(bytes.begin(), bytes.begin() + static_cast<long>(header));
    cut_bytes.insert(cut_bytes.end(), bytes.begin() + static_cast<long>(header + cut * packet), bytes.end());
    {
        std::ofstream out(part, std::ios::binary);
        out.write(reinterpret_cast<const char*>(cut_bytes.data()), static_cast<std::streamsize>(cut_bytes.size()));
    }
    const std::string yuv = dir.file("part.yuv");
    ASSERT_TRUE(run(kTool + " " + part + " " + yuv + " > " + dir.file("log.txt")));
    const std::string log = text_of(dir.file("log.txt"));
    EXPECT_NE(log.find("frames: " + std::to_string(clip.video.vops.size() - key) + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("skipped: " + std::to_string(key - j - 1) + "\n"), std::string::npos) << log;
    EXPECT_EQ(read_all(yuv), decode_directly(clip.video, false, key));
}

TEST(Asf2Yuv, RefusesWhatIsNotACameraStream)
{
    TempDir dir;
    const std::string bogus = dir.file("bogus.asf");
    {
        std::ofstream out(bogus, std::ios::binary);
        out << "this is not an ASF file, only text that goes on for a while";
    }
    EXPECT_FALSE(run(kTool + " " + bogus + " " + dir.file("out.yuv") + " > /dev/null 2>&1"));
    EXPECT_FALSE(run(kTool + " " + dir.file("missing.asf") + " " + dir.file("out.yuv") + " > /dev/null 2>&1"));
    EXPECT_FALSE(run(kTool + " > /dev/null 2>&1"));
}

}  // namespace
