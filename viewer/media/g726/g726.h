// G.726 ADPCM decoder for the cameras' audio: 2-, 3-, 4- and 5-bit codes
// (16, 24, 32 and 40 kbit/s at 8 kHz) into 16-bit linear PCM, followed by a
// small low-pass post-filter of our own.
//
// Pure code: no I/O, no threads, no allocation after G726_decoder_create.
// A decoder state belongs to one thread at a time; separate states share
// nothing and may run in parallel.
#pragma once

#include <cstdint>
#include <memory>

namespace media {

// The decoder state of G.726, 4.2 (names after the Recommendation's
// variables), the unconsumed input bits and the post-filter memory.
struct G726State {
  std::int32_t yl;      // slow (locked) quantiser scale factor, 19 bits
  std::int16_t yu;      // fast (unlocked) quantiser scale factor
  std::int16_t dms;     // short-term average of F(I)
  std::int16_t dml;     // long-term average of F(I)
  std::int16_t ap;      // speed control parameter
  std::int16_t a[2];    // pole predictor coefficients a1, a2
  std::int16_t b[6];    // zero predictor coefficients b1..b6
  std::int16_t pk[2];   // signs of the two previous partial reconstructions
  std::uint16_t dq[6];  // previous quantised differences, 11-bit floating format
  std::uint16_t sr[2];  // previous reconstructed signals, 11-bit floating format
  std::uint8_t td;      // tone detected

  // Post-filter memory: the two previous inputs and outputs.
  std::int16_t pf_x[2];
  std::int16_t pf_y[2];

  // Input bits not yet consumed; a code may straddle two calls.
  std::uint32_t bit_acc;
  int bit_count;
};

// Allocates a decoder in its reset state (G.726, 4.2 initial values) with
// a cleared post-filter. Returns nullptr when memory runs out.
[[nodiscard]] G726State* G726_decoder_create();

// Decodes every complete code of in[0..in_len) at `bits` bits per code
// (2..5), packed most significant bit first, into out, and returns the
// number of samples written. out must hold in_len * 8 / bits samples
// (rounded up). A code size outside 2..5, a null pointer or a non-positive
// length writes nothing and returns 0. Bits of an incomplete code at the
// end are kept for the next call on the same state.
[[nodiscard]] int G726_dec(G726State* state, int bits, const std::uint8_t* in, int in_len, std::int16_t* out);

// Frees a decoder. Returns -1 for a null pointer, else 0.
int G726_decoder_destroy(G726State* state);

// The decoder with the two steps above the filter separated, for tests that
// compare the Recommendation's output with a reference decoder: decodes like
// G726_dec but stores 4 x sr (saturated) without the post-filter. Uses and
// updates the same state except the post-filter memory.
[[nodiscard]] int G726_dec_unfiltered(G726State* state, int bits, const std::uint8_t* in, int in_len,
                                      std::int16_t* out);

// Owner for a decoder state.
struct G726Deleter {
  void operator()(G726State* s) const { (void)G726_decoder_destroy(s); }
};
using G726Decoder = std::unique_ptr<G726State, G726Deleter>;

}  // namespace media
