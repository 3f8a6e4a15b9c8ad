// The decoder against ffmpeg: clips encoded by ffmpeg, rewritten to the
// cameras' form (bare VOPs, 18-byte VO + VOL header in front of the first)
// and decoded by both; every picture is compared by PSNR.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/media/mpeg4/mpeg4_test_util.h"
#include "tools/clipkit/m4v.h"
#include "viewer/media/mpeg4/decoder.h"

namespace {

using namespace mpeg4_test;

struct ClipSpec {
    const char* name;
    const char* source;  // lavfi source
    int width;
    int height;
    const char* options;  // extra encoder options
};

struct Comparison {
    int frames = 0;
    int decoded = 0;
    double mean_luma = 0, min_luma = 99, mean_chroma = 0, min_chroma = 99;
};

// Exact floating-point inverse DCT (ISO/IEC 14496-2, Annex A), rounded to
// the nearest integer: swapped in to tell the integer transform's share of
// a difference from a decoding fault.
void float_idct(int32_t* block)
{
    static double basis[8][8];
    static bool ready = false;
    if (!ready) {
        for (int x = 0; x < 8; ++x)
            for (int u = 0; u < 8; ++u)
                basis[x][u] = (u == 0 ? std::sqrt(0.5) : 1.0) * std::cos((2 * x + 1) * u * M_PI / 16) / 2;
        ready = true;
    }
    double out[64];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) s += basis[y][v] * basis[x][u] * block[8 * v + u];
            out[8 * y + x] = s;
        }
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int32_t>(std::lround(out[i]));
}

class Clip {
public:
    explicit Clip(const ClipSpec& spec) : spec_(spec)
    {
        char size[32];
        std::snprintf(size, sizeof size, "%dx%d", spec.width, spec.height);
        const std::string es = dir_.file("clip.m4v");
        const std::string yuv = dir_.file("ffmpeg.yuv");
        const std::string ff = "ffmpeg -hide_banner -loglevel error -nostdin -y ";
        ok_ = run(ff + "-f lavfi -i " + spec.source + "=size=" + size +
                  ":rate=25 -t 2 -c:v mpeg4 -bf 0 -threads 1 -sc_threshold 1000000000 -g 25 -q:v 4 " + spec.options +
                  " -f m4v " + es) &&
              run(ff + "-threads 1 -i " + es + " -f rawvideo -pix_fmt yuv420p -fps_mode passthrough " + yuv);
        if (!ok_) return;
        std::string error;
        ok_ = clipkit::load_m4v_file(es, &clip_, &error);
        EXPECT_TRUE(ok_) << error;
        reference_ = read_all(yuv);
    }

    bool ok() const { return ok_; }
    const clipkit::M4vClip& clip() const { return clip_; }

    Comparison compare(mpeg4::IdctFunction idct = nullptr) const
    {
        Comparison c;
        const size_t luma = static_cast<size_t>(spec_.width) * spec_.height;
        const size_t frame_bytes = luma * 3 / 2;
        c.frames = static_cast<int>(reference_.size() / frame_bytes);
        EXPECT_EQ(static_cast<size_t>(c.frames), clip_.vops.size());
        DECODER* d = decoder_create();
        if (d == nullptr) return c;
        d->deblocking_enabled = 0;  // ffmpeg does not filter
        d->idct_override = idct;
        std::vector<uint8_t> picture(frame_bytes);
        for (size_t i = 0; i < clip_.vops.size() && i < static_cast<size_t>(c.frames); ++i) {
            std::vector<uint8_t> input = clip_.vops[i].bytes;
            if (i == 0) input.insert(input.begin(), clip_.codec_data.begin(), clip_.codec_data.end());
            int32_t status = -1;
            const int result = decoder_decode(d, picture.data(), input.data(), input.size(), &status);
            EXPECT_EQ(result, kDecodeOk) << "frame " << i;
            if (result != kDecodeOk) continue;
            EXPECT_EQ(d->width, spec_.width);
            EXPECT_EQ(d->height, spec_.height);
            ++c.decoded;
            const uint8_t* ref = reference_.data() + i * frame_bytes;
            const double y = psnr(picture.data(), ref, luma);
            const double ch = psnr(picture.data() + luma, ref + luma, luma / 2);
            c.mean_luma += y;
            c.mean_chroma += ch;
            c.min_luma = std::min(c.min_luma, y);
            c.min_chroma = std::min(c.min_chroma, ch);
        }
        EXPECT_EQ(decoder_destroy(d), 0);
        if (c.decoded > 0) {
            c.mean_luma /= c.decoded;
            c.mean_chroma /= c.decoded;
        }
        return c;
    }

private:
    ClipSpec spec_;
    TempDir dir_;
    bool ok_ = false;
    clipkit::M4vClip clip_;
    std::vector<uint8_t> reference_;
};

class AgainstFfmpeg : public ::testing::TestWithParam<ClipSpec> {};

TEST_P(AgainstFfmpeg, EveryPictureCloseToFfmpegsDecode)
{
    const ClipSpec& spec = GetParam();
    Clip clip(spec);
    ASSERT_TRUE(clip.ok()) << "ffmpeg could not make or decode the clip";
    const Comparison c = clip.compare();
    std::printf("[clip] %-16s %3d frames  luma mean %.2f min %.2f dB  chroma mean %.2f min %.2f dB\n", spec.name,
                c.decoded, c.mean_luma, c.min_luma, c.mean_chroma, c.min_chroma);
    EXPECT_EQ(c.decoded, c.frames);
    EXPECT_GE(c.mean_luma, 38.0);
    EXPECT_GE(c.min_luma, 30.0);
    EXPECT_GE(c.mean_chroma, 38.0);
    EXPECT_GE(c.min_chroma, 30.0);
}

INSTANTIATE_TEST_SUITE_P(Clips, AgainstFfmpeg,
                         ::testing::Values(ClipSpec{"vga_h263", "testsrc2", 640, 480, ""},
                                           ClipSpec{"vga_mv4", "testsrc2", 640, 480, "-flags +mv4"},
                                           ClipSpec{"qvga_aic", "mandelbrot", 320, 240, "-flags +aic"},
                                           ClipSpec{"qvga_mpeg_mv4_aic", "mandelbrot", 320, 240,
                                                    "-mpeg_quant 1 -flags +mv4+aic"},
                                           ClipSpec{"small_mpeg", "testsrc2", 160, 128, "-mpeg_quant 1"},
                                           ClipSpec{"small_mv4_aic", "mandelbrot", 160, 128, "-flags +mv4+aic"}),
                         [](const ::testing::TestParamInfo<ClipSpec>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The remaining difference to ffmpeg is the integer transform's: with an
// exact transform swapped in, the same clips come out (nearly) identical.
TEST(AgainstFfmpegExactTransform, GapClosesWithExactInverseDct)
{
    for (const ClipSpec& spec :
         {ClipSpec{"vga_mv4", "testsrc2", 640, 480, "-flags +mv4"},
          ClipSpec{"qvga_mpeg_mv4_aic", "mandelbrot", 320, 240, "-mpeg_quant 1 -flags +mv4+aic"}}) {
        Clip clip(spec);
        ASSERT_TRUE(clip.ok());
        const Comparison integer = clip.compare();
        const Comparison exact = clip.compare(float_idct);
        std::printf("[exact idct] %-16s luma mean %.2f -> %.2f min %.2f -> %.2f dB, chroma mean %.2f -> %.2f dB\n",
                    spec.name, integer.mean_luma, exact.mean_luma, integer.min_luma, exact.min_luma,
                    integer.mean_chroma, exact.mean_chroma);
        EXPECT_GT(exact.mean_luma, integer.mean_luma + 5.0);
        EXPECT_GE(exact.min_luma, 50.0);
        EXPECT_GE(exact.min_chroma, 50.0);
    }
}

}  // namespace
