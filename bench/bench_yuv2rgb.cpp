// ConvertYUVtoRGB against libswscale's yuv420p -> bgr24 at 640 x 480, both
// measured in this run on the same picture. Prints frames per second and
// `ratio` = ours / swscale.
extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/bench_timing.h"
#include "viewer/media/colour.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

}  // namespace

int main() {
  // A camera-like picture: smooth gradients with some noise.
  std::vector<std::uint8_t> yuv(kWidth * kHeight * 3 / 2);
  std::mt19937 rng(1);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) yuv[y * kWidth + x] = static_cast<std::uint8_t>(16 + (x + y) % 200 + rng() % 16);
  for (std::size_t i = kWidth * kHeight; i < yuv.size(); ++i) yuv[i] = static_cast<std::uint8_t>(96 + rng() % 64);
  std::vector<std::uint8_t> rgb(kWidth * kHeight * 3);

  media::init_YUV2RGB_tab();
  SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, AV_PIX_FMT_BGR24, SWS_POINT,
                                   nullptr, nullptr, nullptr);
  if (sws == nullptr) {
    std::fprintf(stderr, "libswscale refused the conversion\n");
    return 1;
  }
  const std::uint8_t* src[4] = {yuv.data(), yuv.data() + kWidth * kHeight, yuv.data() + kWidth * kHeight * 5 / 4,
                                nullptr};
  const int src_stride[4] = {kWidth, kWidth / 2, kWidth / 2, 0};
  std::uint8_t* dst[4] = {rgb.data(), nullptr, nullptr, nullptr};
  const int dst_stride[4] = {kWidth * 3, 0, 0, 0};

  const std::vector<double> fps = bench::best_rates({
      {[&] { media::ConvertYUVtoRGB(yuv.data(), rgb.data(), kWidth, kHeight); }, 1.0},
      {[&] { media::ConvertYUVtoRGB_with(media::YuvToRgbPath::Table, yuv.data(), rgb.data(), kWidth, kHeight); }, 1.0},
      {[&] { sws_scale(sws, src, src_stride, 0, kHeight, dst, dst_stride); }, 1.0},
  });
  sws_freeContext(sws);
  media::delete_YUV2RGB_tab();
  const double ours = fps[0], table = fps[1], reference = fps[2];

  std::printf("path: %s\n", media::yuv_to_rgb_path_supported(media::YuvToRgbPath::Avx2) ? "avx2" : "table");
  std::printf("ours_fps: %.0f\n", ours);
  std::printf("table_fps: %.0f\n", table);
  std::printf("swscale_fps: %.0f\n", reference);
  std::printf("ratio: %.2f\n", ours / reference);
  return 0;
}
