// The video decoder reads whatever the camera sends. One decoder takes a
// sequence of frames cut from the input at every VOP start code: either the
// input's own first bytes as VO + VOL header (headers pending), or a valid
// header of a size chosen by the first byte in front of the first frame, so
// that mutated VOPs reach the steady state too.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "viewer/media/mpeg4/decoder.h"

namespace {

// The cameras' 18-byte VO + VOL header for a w x h picture, resolution 25,
// quant_type q.
std::vector<uint8_t> vol_header(int w, int h, int q) {
  std::vector<uint8_t> out;
  uint32_t acc = 0;
  int fill = 0;
  const auto put = [&](uint32_t v, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      acc = (acc << 1) | ((v >> i) & 1);
      if (++fill == 8) {
        out.push_back(static_cast<uint8_t>(acc));
        acc = 0;
        fill = 0;
      }
    }
  };
  put(0x100, 32);
  put(0x120, 32);
  put(0, 1);
  put(1, 8);
  put(0, 1);
  put(1, 4);
  put(0, 1);
  put(0, 2);
  put(1, 1);
  put(25, 16);
  put(1, 1);
  put(0, 1);
  put(1, 1);
  put(static_cast<uint32_t>(w), 13);
  put(1, 1);
  put(static_cast<uint32_t>(h), 13);
  put(1, 1);
  put(0x4, 4);
  put(static_cast<uint32_t>(q), 1);
  if (q) put(0, 2);
  put(1, 1);
  put(1, 1);
  put(0, 1);
  put(0, 1);
  put(0, 1);
  while (fill != 0) put(1, 1);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;

  // Frame boundaries: every 00 00 01 B6 after the first byte.
  std::vector<size_t> cuts{0};
  for (size_t i = 1; i + 3 < size; ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xb6) cuts.push_back(i);
  cuts.push_back(size);

  DECODER* d = decoder_create();
  if (d == nullptr) return 0;
  d->deblocking_enabled = mode & 2;
  std::vector<uint8_t> output(640 * 480 * 3 / 2);
  const bool own_headers = mode & 1;
  const std::vector<uint8_t> header =
      vol_header(16 * (1 + ((mode >> 2) & 3)), 16 * (1 + ((mode >> 4) & 3)), (mode >> 6) & 1);

  for (size_t k = 0; k + 1 < cuts.size() && k < 64; ++k) {
    std::vector<uint8_t> frame;
    if (k == 0 && !own_headers) frame = header;
    frame.insert(frame.end(), data + cuts[k], data + cuts[k + 1]);
    int32_t status = -1;
    const int result = decoder_decode(d, output.data(), frame.data(), frame.size(), &status);
    if (result == kDecodeOk) {
      if (status < 0 || static_cast<size_t>(status) > frame.size() + 1) __builtin_trap();
      if (d->width < 16 || d->width > 640 || d->height < 16 || d->height > 480 || d->width % 16 || d->height % 16)
        __builtin_trap();
    } else if (result != kDecodeFailed || status != kDecodeFailedStatus) {
      __builtin_trap();
    }
    if (mode & 0x80) d->deblocking_enabled = 0;
  }
  if (decoder_destroy(d) != 0) __builtin_trap();
  return 0;
}
