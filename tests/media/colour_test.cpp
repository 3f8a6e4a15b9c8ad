// Colour conversion: exact values, the bottom-up BGR layout, and every
// implementation against a slow, obviously right version of the formula.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "viewer/media/colour.h"
#include "viewer/media/colour_internal.h"

namespace {

using media::ConvertYUVtoRGB;
using media::ConvertYUVtoRGB_with;
using media::YuvToRgbPath;

// The conversion written out per pixel with the 16.16 factors (1.164383,
// 1.596024, 0.391769, 0.812973, 2.017227), floor division by 65536 and a
// clamp to 0..255.
std::vector<std::uint8_t> reference(const std::vector<std::uint8_t>& yuv, int w, int h) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
  auto clamp = [](std::int64_t v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  auto floor_div = [](std::int64_t v) { return v >= 0 ? v / 65536 : -((-v + 65535) / 65536); };
  const std::uint8_t* cb = yuv.data() + w * h;
  const std::uint8_t* cr = cb + (w / 2) * (h / 2);
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < w; ++x) {
      const std::int64_t l = 76309LL * (yuv[r * w + x] - 16);
      const int u = cb[(r / 2) * (w / 2) + x / 2] - 128, v = cr[(r / 2) * (w / 2) + x / 2] - 128;
      std::uint8_t* o = &rgb[(static_cast<std::size_t>(h - 1 - r) * w + x) * 3];
      o[0] = clamp(floor_div(l + 132201LL * u));
      o[1] = clamp(floor_div(l - 25675LL * u - 53279LL * v));
      o[2] = clamp(floor_div(l + 104597LL * v));
    }
  return rgb;
}

std::vector<std::uint8_t> uniform(int w, int h, int y, int u, int v) {
  std::vector<std::uint8_t> yuv(w * h * 3 / 2, static_cast<std::uint8_t>(y));
  std::fill(yuv.begin() + w * h, yuv.begin() + w * h * 5 / 4, static_cast<std::uint8_t>(u));
  std::fill(yuv.begin() + w * h * 5 / 4, yuv.end(), static_cast<std::uint8_t>(v));
  return yuv;
}

class ColourPath : public ::testing::TestWithParam<YuvToRgbPath> {
 protected:
  void SetUp() override {
    if (!media::yuv_to_rgb_path_supported(GetParam())) GTEST_SKIP() << "processor lacks this path";
    media::init_YUV2RGB_tab();
  }
  std::vector<std::uint8_t> convert(const std::vector<std::uint8_t>& yuv, int w, int h) {
    // Guard bytes after the image catch writes past its end.
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3 + 64, 0xA5);
    ConvertYUVtoRGB_with(GetParam(), yuv.data(), rgb.data(), w, h);
    for (std::size_t i = rgb.size() - 64; i < rgb.size(); ++i) EXPECT_EQ(rgb[i], 0xA5) << "wrote past the image";
    rgb.resize(rgb.size() - 64);
    return rgb;
  }
};

TEST_P(ColourPath, KnownColours) {
  struct Case {
    int y, u, v, b, g, r;
  };
  // Black; studio white is 254 (76309 x 219 >> 16); red saturates.
  for (const Case& c : {Case{16, 128, 128, 0, 0, 0}, Case{235, 128, 128, 254, 254, 254},
                        Case{255, 128, 255, 255, 175, 255}, Case{0, 0, 0, 0, 135, 0}}) {
    const auto rgb = convert(uniform(64, 4, c.y, c.u, c.v), 64, 4);
    for (std::size_t i = 0; i < rgb.size(); i += 3)
      ASSERT_TRUE(rgb[i] == c.b && rgb[i + 1] == c.g && rgb[i + 2] == c.r)
          << "Y " << c.y << " U " << c.u << " V " << c.v << " pixel " << i / 3 << ": " << int(rgb[i]) << ","
          << int(rgb[i + 1]) << "," << int(rgb[i + 2]);
  }
}

TEST_P(ColourPath, BottomRowFirstBgr) {
  // A 16 x 16 grey ramp, one luma value per row: the first 48 output bytes
  // are the bottom row, 768 bytes in all.
  auto yuv = uniform(16, 16, 0, 128, 128);
  for (int r = 0; r < 16; ++r) std::fill(yuv.begin() + r * 16, yuv.begin() + r * 16 + 16, 16 + 10 * r);
  const auto rgb = convert(yuv, 16, 16);
  ASSERT_EQ(rgb.size(), 768u);
  EXPECT_EQ(rgb, reference(yuv, 16, 16));
  EXPECT_EQ(rgb[0], (76309 * 150) >> 16);  // bottom row, Y = 166
  EXPECT_EQ(rgb[767], 0);                  // top row, Y = 16
}

// Every combination of Y, Cb and Cr: 256 pictures of 512 x 128, Cb along
// the chroma columns, four Y values per 2 x 2 block down the chroma rows.
TEST_P(ColourPath, EverySampleCombinationMatchesReference) {
  const int w = 512, h = 128;
  std::vector<std::uint8_t> yuv(w * h * 3 / 2);
  for (int v = 0; v < 256; ++v) {
    for (int r = 0; r < h; ++r)
      for (int x = 0; x < w; ++x) yuv[r * w + x] = static_cast<std::uint8_t>(4 * (r / 2) + 2 * (r % 2) + x % 2);
    for (int i = 0; i < w * h / 4; ++i) {
      yuv[w * h + i] = static_cast<std::uint8_t>(i % (w / 2));
      yuv[w * h * 5 / 4 + i] = static_cast<std::uint8_t>(v);
    }
    ASSERT_EQ(convert(yuv, w, h), reference(yuv, w, h)) << "Cr " << v;
  }
}

// Random pictures of the sizes the cameras send and of widths that leave a
// tail after the vector blocks.
TEST_P(ColourPath, RandomPicturesMatchReference) {
  std::mt19937 rng(42);
  for (auto [w, h] : {std::pair{640, 480}, {320, 240}, {16, 16}, {48, 32}, {34, 6}, {2, 2}, {66, 4}, {94, 2}}) {
    std::vector<std::uint8_t> yuv(w * h * 3 / 2);
    for (auto& b : yuv) b = static_cast<std::uint8_t>(rng());
    ASSERT_EQ(convert(yuv, w, h), reference(yuv, w, h)) << w << " x " << h;
  }
}

// Sizes that do not fit the planes, or no tables: the output is untouched.
TEST_P(ColourPath, RefusesWhatItCannotConvert) {
  const auto yuv = uniform(64, 64, 100, 100, 100);
  for (auto [w, h] : {std::pair{0, 16}, {16, 0}, {-16, 16}, {15, 16}, {16, 15}}) {
    std::vector<std::uint8_t> rgb(64 * 64 * 3, 7);
    ConvertYUVtoRGB_with(GetParam(), yuv.data(), rgb.data(), w, h);
    EXPECT_EQ(rgb, std::vector<std::uint8_t>(64 * 64 * 3, 7)) << w << " x " << h;
  }
  media::delete_YUV2RGB_tab();
  std::vector<std::uint8_t> rgb(64 * 64 * 3, 7);
  ConvertYUVtoRGB_with(GetParam(), yuv.data(), rgb.data(), 64, 64);
  EXPECT_EQ(rgb, std::vector<std::uint8_t>(64 * 64 * 3, 7));
  media::init_YUV2RGB_tab();
}

// The half-size picture is the full picture's formula applied to the
// rounded mean of each 2 x 2 luma block with that block's chroma sample:
// random pictures at the cameras' sizes, at widths whose half leaves a tail
// after the vector blocks (176 -> 88), and the smallest ones.
TEST_P(ColourPath, HalfSizeIsTheFormulaOnBlockMeans) {
  std::mt19937 rng(7);
  for (auto [w, h] : {std::pair{640, 480}, {320, 240}, {176, 144}, {160, 120}, {128, 2}, {66, 4}, {2, 2}}) {
    std::vector<std::uint8_t> yuv(w * h * 3 / 2);
    for (auto& b : yuv) b = static_cast<std::uint8_t>(rng());
    const int hw = w / 2, hh = h / 2;
    // The same picture at half size by hand: block means for luma, the
    // chroma planes as they are (one sample per block), then the full
    // formula on it at hw x hh with each chroma sample used once.
    std::vector<std::uint8_t> expected(static_cast<std::size_t>(hw) * hh * 3);
    auto clamp = [](std::int64_t v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    auto floor_div = [](std::int64_t v) { return v >= 0 ? v / 65536 : -((-v + 65535) / 65536); };
    const std::uint8_t* cb = yuv.data() + w * h;
    const std::uint8_t* cr = cb + hw * hh;
    for (int r = 0; r < hh; ++r)
      for (int x = 0; x < hw; ++x) {
        const int mean = (yuv[2 * r * w + 2 * x] + yuv[2 * r * w + 2 * x + 1] + yuv[(2 * r + 1) * w + 2 * x] +
                          yuv[(2 * r + 1) * w + 2 * x + 1] + 2) /
                         4;
        const std::int64_t l = 76309LL * (mean - 16);
        const int u = cb[r * hw + x] - 128, v = cr[r * hw + x] - 128;
        std::uint8_t* o = &expected[(static_cast<std::size_t>(hh - 1 - r) * hw + x) * 3];
        o[0] = clamp(floor_div(l + 132201LL * u));
        o[1] = clamp(floor_div(l - 25675LL * u - 53279LL * v));
        o[2] = clamp(floor_div(l + 104597LL * v));
      }
    std::vector<std::uint8_t> rgb(expected.size() + 64, 0xA5);
    media::ConvertYUVtoRGB_half_with(GetParam(), yuv.data(), cb, cr, rgb.data(), w, h);
    for (std::size_t i = expected.size(); i < rgb.size(); ++i) ASSERT_EQ(rgb[i], 0xA5) << "wrote past the image";
    rgb.resize(expected.size());
    ASSERT_EQ(rgb, expected) << w << " x " << h;
  }
}

// Large pictures are written past the cache when their rows are aligned;
// an output that is not 16-byte aligned takes the ordinary stores. Both
// give the same bytes, full and half size.
TEST_P(ColourPath, AlignedAndUnalignedOutputsAgree) {
  std::mt19937 rng(11);
  const int w = 640, h = 480;
  std::vector<std::uint8_t> yuv(w * h * 3 / 2);
  for (auto& b : yuv) b = static_cast<std::uint8_t>(rng());
  const std::size_t bytes = std::size_t{3} * w * h;
  std::vector<std::uint8_t> storage(2 * bytes + 64);
  std::uint8_t* aligned = storage.data() + (16 - reinterpret_cast<std::uintptr_t>(storage.data()) % 16) % 16;
  std::uint8_t* unaligned = aligned + bytes + 16 + 1;
  ConvertYUVtoRGB_with(GetParam(), yuv.data(), aligned, w, h);
  ConvertYUVtoRGB_with(GetParam(), yuv.data(), unaligned, w, h);
  ASSERT_TRUE(std::equal(aligned, aligned + bytes, unaligned));
  ASSERT_TRUE(std::equal(aligned, aligned + bytes, reference(yuv, w, h).begin()));
  const std::uint8_t* cb = yuv.data() + w * h;
  const std::uint8_t* cr = cb + w * h / 4;
  media::ConvertYUVtoRGB_half_with(GetParam(), yuv.data(), cb, cr, aligned, w, h);
  media::ConvertYUVtoRGB_half_with(GetParam(), yuv.data(), cb, cr, unaligned, w, h);
  ASSERT_TRUE(std::equal(aligned, aligned + bytes / 4, unaligned));
}

INSTANTIATE_TEST_SUITE_P(Paths, ColourPath, ::testing::Values(YuvToRgbPath::Table, YuvToRgbPath::Avx2),
                         [](const auto& info) { return info.param == YuvToRgbPath::Table ? "Table" : "Avx2"; });

TEST(ColourTables, InitTwiceKeepsTablesDeleteTwiceIsHarmless) {
  media::init_YUV2RGB_tab();
  const std::uint8_t* first = media::colour_detail::tables().clip;
  ASSERT_NE(first, nullptr);
  media::init_YUV2RGB_tab();
  EXPECT_EQ(media::colour_detail::tables().clip, first);
  EXPECT_EQ(first[-384], 0);
  EXPECT_EQ(first[639], 255);
  media::delete_YUV2RGB_tab();
  media::delete_YUV2RGB_tab();
  EXPECT_EQ(media::colour_detail::tables().clip, nullptr);
  media::init_YUV2RGB_tab();
  // The public entry point picks a path and gives the reference's bytes.
  const auto yuv = uniform(32, 2, 81, 90, 240);
  std::vector<std::uint8_t> rgb(32 * 2 * 3);
  ConvertYUVtoRGB(yuv.data(), rgb.data(), 32, 2);
  EXPECT_EQ(rgb, reference(yuv, 32, 2));
}

}  // namespace
