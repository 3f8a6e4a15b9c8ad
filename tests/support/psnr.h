// Picture comparison for decoder and pipeline tests.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace test_support {

// Peak signal-to-noise ratio of two 8-bit planes of n samples, in dB; 99 for
// identical planes (the usual cap, so equal pictures compare as a number).
inline double psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  double se = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    se += d * d;
  }
  if (se == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / se);
}

}  // namespace test_support
