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
std::vector<uint8_t> decode_directly(const clipkit::M4vClip& clip, bool no_deblock)
{
    std::vector<uint8_t> all;
    DECODER* d = decoder_create();
    if (d == nullptr) return all;
    std::vector<uint8_t> picture(static_cast<size_t>(clip.width) * clip.height * 3 / 2);
    for (size_t i = 0; i < clip.vops.size(); ++i) {
        std::vector<uint8_t> in = clip.vops[i].bytes;
        if (i == 0) in.insert(in.begin(), clip.codec_data.begin(), clip.codec_data.end());
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
