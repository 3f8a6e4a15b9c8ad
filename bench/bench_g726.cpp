// G.726 decoding at 16 kbit/s (2-bit codes, post-filter on) against
// spandsp's g726_decode, both measured in this run on the same bytes.
// Prints samples per second and `ratio` = ours / spandsp.
extern "C" {
#include <spandsp.h>
}

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/bench_timing.h"
#include "viewer/media/g726/g726.h"

int main() {
  // Camera audio blocks are 400 bytes (1,600 samples, 200 ms). Random codes
  // keep the predictor busy like speech does.
  std::vector<std::uint8_t> block(400);
  std::mt19937 rng(3);
  for (auto& b : block) b = static_cast<std::uint8_t>(rng());
  std::vector<std::int16_t> out(1600);
  volatile std::int16_t sink = 0;

  media::G726Decoder ours_state(media::G726_decoder_create());
  g726_state_t* ref_state = g726_init(nullptr, 16000, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
  const std::vector<double> rates = bench::best_rates({
      {[&] {
         const int n = media::G726_dec(ours_state.get(), 2, block.data(), 400, out.data());
         sink = static_cast<std::int16_t>(sink + out[n - 1]);
       },
       1600.0},
      {[&] {
         const int n = g726_decode(ref_state, out.data(), block.data(), 400);
         sink = static_cast<std::int16_t>(sink + out[n - 1]);
       },
       1600.0},
  });
  g726_free(ref_state);
  const double ours = rates[0], reference = rates[1];

  std::printf("ours_samples_per_s: %.0f\n", ours);
  std::printf("spandsp_samples_per_s: %.0f\n", reference);
  std::printf("realtime_factor: %.0f\n", ours / 8000.0);
  std::printf("ratio: %.2f\n", ours / reference);
  return 0;
}
