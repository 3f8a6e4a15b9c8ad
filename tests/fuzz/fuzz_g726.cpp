// The audio decoder reads whatever the camera's audio payloads hold, cut into
// blocks wherever the stream cut them. The first input byte picks the code
// size (values outside 2..5 included: they must be refused, not decoded);
// the next two pick where the rest is split into three calls. Decoding in
// pieces must give exactly the samples of decoding it whole, because a code
// may straddle two calls. A second pass changes the code size at every
// piece, which the decoder must survive too. Output buffers are exactly the
// documented size, so a sample written past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "viewer/media/g726/g726.h"

namespace {

// Samples G726_dec may write for in_len bytes of bits-bit codes.
std::size_t room(std::size_t in_len, int bits) {
  if (bits < 2 || bits > 5) return 1;
  return (in_len * 8 + static_cast<std::size_t>(bits) - 1) / static_cast<std::size_t>(bits);
}

int decode(media::G726State* state, int bits, const std::uint8_t* in, std::size_t len, std::vector<std::int16_t>& out) {
  std::vector<std::int16_t> buffer(room(len, bits));
  const int n = media::G726_dec(state, bits, len ? in : nullptr, static_cast<int>(len), buffer.data());
  if (n < 0 || static_cast<std::size_t>(n) > buffer.size()) std::abort();
  out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int bits = data[0] % 7;  // 0..6
  const std::uint8_t* in = data + 3;
  const std::size_t len = size - 3;
  const std::size_t cut1 = len ? data[1] % (len + 1) : 0;
  const std::size_t cut2 = cut1 + (len - cut1 ? data[2] % (len - cut1 + 1) : 0);

  media::G726Decoder whole(media::G726_decoder_create());
  media::G726Decoder pieces(media::G726_decoder_create());
  if (!whole || !pieces) return 0;

  std::vector<std::int16_t> a;
  std::vector<std::int16_t> b;
  const int n = decode(whole.get(), bits, in, len, a);
  decode(pieces.get(), bits, in, cut1, b);
  decode(pieces.get(), bits, in + cut1, cut2 - cut1, b);
  decode(pieces.get(), bits, in + cut2, len - cut2, b);

  const bool valid = bits >= 2 && bits <= 5;
  // Every whole code is decoded once, whatever the split; refused sizes
  // decode nothing.
  const std::size_t expected = valid ? len * 8 / static_cast<std::size_t>(bits) : 0;
  if (static_cast<std::size_t>(n) != expected || a != b) std::abort();

  // Code sizes that change between calls on one state (a stream that
  // changed its audio format mid-block): no crash, no overrun.
  media::G726Decoder mixed(media::G726_decoder_create());
  if (!mixed) return 0;
  std::vector<std::int16_t> c;
  std::size_t at = 0;
  for (std::size_t i = 0; at < len; ++i) {
    const std::uint8_t pick = in[i % len];
    const std::size_t piece = 1 + pick % 64;
    const std::size_t take = piece < len - at ? piece : len - at;
    decode(mixed.get(), 2 + (pick >> 6), in + at, take, c);
    at += take;
  }
  return 0;
}
