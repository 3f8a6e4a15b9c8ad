#include "viewer/media/colour.h"

#include <memory>
#include <new>

#include "viewer/media/colour_internal.h"

namespace media {
namespace colour_detail {
namespace {

// 16.16 fixed-point factors of the BT.601 studio-range conversion:
// 255/219 for luma, and the chroma weights times 255/224.
constexpr std::int32_t kLuma = 76309;       // 1.164383
constexpr std::int32_t kCrToRed = 104597;   // 1.596024
constexpr std::int32_t kCbToGreen = 25675;  // 0.391769
constexpr std::int32_t kCrToGreen = 53279;  // 0.812973
constexpr std::int32_t kCbToBlue = 132201;  // 2.017227

// Every sum the conversion forms, shifted, lies in -277..534; the clip
// table covers -384..639 so that no index can leave it.
constexpr int kClipLow = 384;
constexpr int kClipSize = 1024;

struct TableSet {
  std::unique_ptr<std::uint8_t[]> clip_block;
  std::int32_t luma[256];
  std::int32_t cr_to_red[256];
  std::int32_t cb_to_green[256];
  std::int32_t cr_to_green[256];
  std::int32_t cb_to_blue[256];
};
TableSet g_tables;

}  // namespace

Tables tables() {
  const TableSet& s = g_tables;
  return Tables{s.clip_block ? s.clip_block.get() + kClipLow : nullptr,
                s.luma,
                s.cr_to_red,
                s.cb_to_green,
                s.cr_to_green,
                s.cb_to_blue};
}

void convert_pair_table(const Tables& t, const Picture& p, int pair, int x0) {
  const int r0 = 2 * pair;
  const std::uint8_t* y0 = p.y + static_cast<std::size_t>(r0) * p.width;
  const std::uint8_t* y1 = y0 + p.width;
  const std::size_t chroma_row = static_cast<std::size_t>(pair) * (p.width / 2);
  const std::uint8_t* cb = p.cb + chroma_row;
  const std::uint8_t* cr = p.cr + chroma_row;
  std::uint8_t* o0 = p.out_row(r0);
  std::uint8_t* o1 = p.out_row(r0 + 1);
  const std::uint8_t* clip = t.clip;

  // One chroma sample serves the 2 x 2 block; each component is one shift
  // of a 16.16 sum, rounding toward minus infinity.
  auto put = [&](std::uint8_t* o, int luma_sample, int red, int green, int blue) {
    const int l = t.luma[luma_sample];
    o[0] = clip[(l + blue) >> 16];
    o[1] = clip[(l - green) >> 16];
    o[2] = clip[(l + red) >> 16];
  };
  for (int x = x0; x < p.width; x += 2) {
    const int c = x / 2;
    const int red = t.cr_to_red[cr[c]];
    const int green = t.cb_to_green[cb[c]] + t.cr_to_green[cr[c]];
    const int blue = t.cb_to_blue[cb[c]];
    put(o0 + 3 * x, y0[x], red, green, blue);
    put(o0 + 3 * x + 3, y0[x + 1], red, green, blue);
    put(o1 + 3 * x, y1[x], red, green, blue);
    put(o1 + 3 * x + 3, y1[x + 1], red, green, blue);
  }
}

void convert_half_row_table(const Tables& t, const Picture& p, int r, int x0) {
  const int out_width = p.width / 2;
  const std::uint8_t* y0 = p.y + static_cast<std::size_t>(2 * r) * p.width;
  const std::uint8_t* y1 = y0 + p.width;
  const std::uint8_t* cb = p.cb + static_cast<std::size_t>(r) * out_width;
  const std::uint8_t* cr = p.cr + static_cast<std::size_t>(r) * out_width;
  std::uint8_t* o = p.half_out_row(r) + 3 * static_cast<std::size_t>(x0);
  const std::uint8_t* clip = t.clip;
  for (int x = x0; x < out_width; ++x, o += 3) {
    const int luma = (y0[2 * x] + y0[2 * x + 1] + y1[2 * x] + y1[2 * x + 1] + 2) >> 2;
    const int l = t.luma[luma];
    o[0] = clip[(l + t.cb_to_blue[cb[x]]) >> 16];
    o[1] = clip[(l - t.cb_to_green[cb[x]] - t.cr_to_green[cr[x]]) >> 16];
    o[2] = clip[(l + t.cr_to_red[cr[x]]) >> 16];
  }
}

namespace {

void convert_table(const Tables& t, const Picture& p) {
  for (int pair = 0; pair < p.height / 2; ++pair) convert_pair_table(t, p, pair, 0);
}

bool valid(const std::uint8_t* yuv, const std::uint8_t* rgb, int width, int height) {
  return yuv != nullptr && rgb != nullptr && width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0;
}

Picture picture(const std::uint8_t* yuv, std::uint8_t* rgb, int width, int height) {
  const std::size_t luma_size = static_cast<std::size_t>(width) * height;
  return Picture{yuv, yuv + luma_size, yuv + luma_size + luma_size / 4, rgb, width, height};
}

}  // namespace
}  // namespace colour_detail

void init_YUV2RGB_tab() {
  using namespace colour_detail;
  TableSet& s = g_tables;
  if (s.clip_block) return;
  auto clip = std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[kClipSize]);
  if (!clip) return;
  for (int i = 0; i < kClipSize; ++i) {
    const int v = i - kClipLow;
    clip[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
  }
  for (int i = 0; i < 256; ++i) {
    s.luma[i] = kLuma * (i - 16);
    s.cr_to_red[i] = kCrToRed * (i - 128);
    s.cb_to_green[i] = kCbToGreen * (i - 128);
    s.cr_to_green[i] = kCrToGreen * (i - 128);
    s.cb_to_blue[i] = kCbToBlue * (i - 128);
  }
  s.clip_block = std::move(clip);
}

void delete_YUV2RGB_tab() { colour_detail::g_tables.clip_block.reset(); }

bool yuv_to_rgb_path_supported(YuvToRgbPath path) {
  return path == YuvToRgbPath::Table || colour_detail::avx2_supported();
}

namespace {

// Any of the full-size conversions, once the planes are known.
void convert_planes_with(YuvToRgbPath path, const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                         std::uint8_t* rgb, int width, int height) {
  using namespace colour_detail;
  const Tables t = tables();
  if (t.clip == nullptr || cb == nullptr || cr == nullptr || !valid(y, rgb, width, height)) return;
  const Picture p{y, cb, cr, rgb, width, height};
  if (path == YuvToRgbPath::Avx2 && avx2_supported())
    convert_avx2(t, p);
  else
    convert_table(t, p);
}

}  // namespace

void ConvertYUVtoRGB_with(YuvToRgbPath path, const std::uint8_t* yuv, std::uint8_t* rgb, int width, int height) {
  // The planes lie one after the other; their sizes are only computed for a
  // size the conversion accepts.
  if (!colour_detail::valid(yuv, rgb, width, height)) return;
  const colour_detail::Picture p = colour_detail::picture(yuv, rgb, width, height);
  convert_planes_with(path, p.y, p.cb, p.cr, rgb, width, height);
}

void ConvertYUVtoRGB(const std::uint8_t* yuv, std::uint8_t* rgb, int width, int height) {
  static const YuvToRgbPath best = colour_detail::avx2_supported() ? YuvToRgbPath::Avx2 : YuvToRgbPath::Table;
  ConvertYUVtoRGB_with(best, yuv, rgb, width, height);
}

void ConvertYUVtoRGB_half_with(YuvToRgbPath path, const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                               std::uint8_t* rgb, int width, int height) {
  using namespace colour_detail;
  const Tables t = tables();
  if (t.clip == nullptr || cb == nullptr || cr == nullptr || !valid(y, rgb, width, height)) return;
  const Picture p{y, cb, cr, rgb, width, height};
  if (path == YuvToRgbPath::Avx2 && avx2_supported()) {
    convert_half_avx2(t, p);
  } else {
    for (int r = 0; r < height / 2; ++r) convert_half_row_table(t, p, r, 0);
  }
}

void ConvertYUVtoRGB_half(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* rgb,
                          int width, int height) {
  static const YuvToRgbPath best = colour_detail::avx2_supported() ? YuvToRgbPath::Avx2 : YuvToRgbPath::Table;
  ConvertYUVtoRGB_half_with(best, y, cb, cr, rgb, width, height);
}

void ConvertYUVtoRGB_planes(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* rgb,
                            int width, int height) {
  static const YuvToRgbPath best = colour_detail::avx2_supported() ? YuvToRgbPath::Avx2 : YuvToRgbPath::Table;
  convert_planes_with(best, y, cb, cr, rgb, width, height);
}

}  // namespace media
