// ASF object and stream-type identifiers (Advanced Systems Format 1.2,
// section 10), in the 16-byte little-endian form in which they appear in a
// stream: the first three fields byte-swapped, the last eight bytes as written.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

namespace net::asf {

using Guid = std::array<std::uint8_t, 16>;

constexpr Guid make_guid(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3, std::array<std::uint8_t, 8> d4) {
  Guid g{};
  for (int i = 0; i < 4; ++i) g[i] = static_cast<std::uint8_t>(d1 >> (8 * i));
  for (int i = 0; i < 2; ++i) g[4 + i] = static_cast<std::uint8_t>(d2 >> (8 * i));
  for (int i = 0; i < 2; ++i) g[6 + i] = static_cast<std::uint8_t>(d3 >> (8 * i));
  for (int i = 0; i < 8; ++i) g[8 + i] = d4[i];
  return g;
}

inline constexpr Guid kHeaderObject =
    make_guid(0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
inline constexpr Guid kDataObject =
    make_guid(0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
inline constexpr Guid kFilePropertiesObject =
    make_guid(0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
inline constexpr Guid kStreamPropertiesObject =
    make_guid(0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
inline constexpr Guid kHeaderExtensionObject =
    make_guid(0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
inline constexpr Guid kCodecListObject =
    make_guid(0x86D15240, 0x311D, 0x11D0, {0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6});
inline constexpr Guid kVideoMedia =
    make_guid(0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B});
inline constexpr Guid kAudioMedia =
    make_guid(0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B});

inline bool guid_at(const std::uint8_t* p, const Guid& g) { return std::memcmp(p, g.data(), g.size()) == 0; }

}  // namespace net::asf
