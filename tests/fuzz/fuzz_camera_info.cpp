// The camera information page is whatever the host at the typed address
// sends back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "viewer/net/camera_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  if (const auto info = net::parse_camera_info(body)) {
    if (!net::is_mac_text(info->mac) || info->description.size() > net::kCameraInfoPieceMax ||
        info->name.size() > net::kCameraInfoPieceMax) {
      __builtin_trap();
    }
  }
  return 0;
}
