// Quantiser tables of G.726 for each code size, indexed by the whole code
// (sign bit included; negative codes are the one's complement of the
// magnitude, so every table is symmetric).
//
//   dqln: log2 of the reconstructed difference magnitude relative to the
//         scale factor, times 128 (G.726, 4.2.3, RECONST); -2048 stands for
//         minus infinity (a zero difference).
//   w:    scale factor multiplier W(I) (G.726, 4.2.4, FUNCTW), in the
//         Recommendation's units; FILTD uses it shifted left by 5.
//   f:    rate-of-change F(I) (G.726, 4.2.5, FUNCTF); FILTA/FILTB use it
//         shifted left by 9.
#pragma once

#include <cstdint>

namespace media::g726_tables {

// 16 kbit/s, 2-bit codes.
inline constexpr std::int16_t kDqln2[4] = {116, 365, 365, 116};
inline constexpr std::int16_t kW2[4] = {-22, 439, 439, -22};
inline constexpr std::int16_t kF2[4] = {0, 7, 7, 0};

// 24 kbit/s, 3-bit codes.
inline constexpr std::int16_t kDqln3[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
inline constexpr std::int16_t kW3[8] = {-4, 30, 137, 582, 582, 137, 30, -4};
inline constexpr std::int16_t kF3[8] = {0, 1, 2, 7, 7, 2, 1, 0};

// 32 kbit/s, 4-bit codes.
inline constexpr std::int16_t kDqln4[16] = {-2048, 4,   135, 213, 273, 323, 373, 425,
                                            425,   373, 323, 273, 213, 135, 4,   -2048};
inline constexpr std::int16_t kW4[16] = {-12, 18, 41, 64, 112, 198, 355, 1122, 1122, 355, 198, 112, 64, 41, 18, -12};
inline constexpr std::int16_t kF4[16] = {0, 0, 0, 1, 1, 1, 3, 7, 7, 3, 1, 1, 1, 0, 0, 0};

// 40 kbit/s, 5-bit codes.
inline constexpr std::int16_t kDqln5[32] = {-2048, -66, 28,  104, 169, 224, 274, 318, 358, 395,  429,
                                            459,   488, 514, 539, 566, 566, 539, 514, 488, 459,  429,
                                            395,   358, 318, 274, 224, 169, 104, 28,  -66, -2048};
inline constexpr std::int16_t kW5[32] = {14,  14,  24,  39,  40,  41,  58,  100, 141, 179, 219, 280, 358, 440, 529, 696,
                                         696, 529, 440, 358, 280, 219, 179, 141, 100, 58,  41,  40,  39,  24,  14,  14};
inline constexpr std::int16_t kF5[32] = {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 6,
                                         6, 6, 5, 4, 3, 2, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};

}  // namespace media::g726_tables
