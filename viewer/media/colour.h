// YUV 4:2:0 to 24-bit RGB for display and snapshots (ITU-R BT.601 studio
// range: Y 16..235, Cb/Cr 16..240 around 128).
//
// Input: planar Y (width x height), then Cb and Cr (width/2 x height/2),
// rows top first. Output: height rows of 3 x width bytes, no padding, the
// bottom picture row first, each pixel blue, green, red.
//
// The tables are process-wide: the main thread builds them once before any
// conversion and frees them after the last one; in between any number of
// threads convert concurrently without locking.
#pragma once

#include <cstdint>

namespace media {

// Builds the clip table and the five 16.16 fixed-point tables. Does
// nothing when they already exist. Main thread, before the first conversion.
void init_YUV2RGB_tab();

// Frees the tables; does nothing when there are none. Main thread, after the
// last conversion.
void delete_YUV2RGB_tab();

// Converts one picture. Nothing is done without tables, for a missing
// buffer, or unless width and height are positive and even (the decoder's
// pictures always are; odd sizes do not fit the chroma planes). Any thread.
void ConvertYUVtoRGB(const std::uint8_t* yuv, std::uint8_t* rgb, int width, int height);

// The same for a picture whose three planes lie apart (a decoder's own
// planes): y is width x height, cb and cr width/2 x height/2, rows packed.
void ConvertYUVtoRGB_planes(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* rgb,
                            int width, int height);

// Converts a picture of width x height (planes as above) at half its size,
// for a view that draws it that small or smaller: (width/2) x (height/2)
// pixels, bottom row first, BGR. Each pixel takes the rounded mean of its
// 2 x 2 block of luma and the block's own chroma sample, so the colours are
// the full picture's and the work and the memory written are a quarter.
void ConvertYUVtoRGB_half(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* rgb,
                          int width, int height);

// The implementations behind ConvertYUVtoRGB, for tests and benchmarks. All
// give identical bytes; ConvertYUVtoRGB picks the fastest the processor runs.
enum class YuvToRgbPath { Table, Avx2 };
[[nodiscard]] bool yuv_to_rgb_path_supported(YuvToRgbPath path);
void ConvertYUVtoRGB_with(YuvToRgbPath path, const std::uint8_t* yuv, std::uint8_t* rgb, int width, int height);
void ConvertYUVtoRGB_half_with(YuvToRgbPath path, const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                               std::uint8_t* rgb, int width, int height);

}  // namespace media
