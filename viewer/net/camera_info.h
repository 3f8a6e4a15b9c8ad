// Reader for the camera's own information page ("/util/util2.cgi"), which
// tells the camera's description, MAC address and name.
//
// The reply comes from whatever host the user typed and is untrusted: the
// reader works on the bytes it was given, never past them, and caps what it
// keeps.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace net {

// Path of the camera's information page.
inline constexpr std::string_view kCameraInfoPath = "/util/util2.cgi";

// Longest piece of an information reply that is kept; longer pieces are cut.
inline constexpr std::size_t kCameraInfoPieceMax = 255;

// Identity of a camera as its information page tells it.
struct CameraInfo {
  std::string description;
  std::string mac;  // 12 hexadecimal digits, colons removed
  std::string name;
};

// Reads an information reply: "camerainfo=" followed by three texts, each
// ended by a zero byte (the last may also end with the body): description, MAC
// and name. Colons are dropped from the MAC. Returns nothing when the marker
// is missing or the MAC is not then exactly 12 hexadecimal digits (the MAC
// names folders on disk, so nothing else is accepted). Pure; any thread.
[[nodiscard]] std::optional<CameraInfo> parse_camera_info(std::string_view body);

// True when text is exactly 12 hexadecimal digits (either case).
[[nodiscard]] bool is_mac_text(std::string_view text);

}  // namespace net
