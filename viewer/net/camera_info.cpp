#include "viewer/net/camera_info.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace net {
namespace {

constexpr std::string_view kCameraInfoMarker = "camerainfo=";

// Takes the zero-terminated text at pos (or the rest of the body when no zero
// byte follows), cut to the kept length; pos moves past the terminator.
std::string take_piece(std::string_view body, std::size_t& pos) {
  if (pos >= body.size()) return {};
  std::size_t end = body.find('\0', pos);
  if (end == std::string_view::npos) end = body.size();
  std::string piece(body.substr(pos, std::min(end - pos, kCameraInfoPieceMax)));
  pos = end + 1;
  return piece;
}

}  // namespace

bool is_mac_text(std::string_view text) {
  if (text.size() != 12) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::optional<CameraInfo> parse_camera_info(std::string_view body) {
  // Cameras start the body with the marker; reading from behind wherever it
  // is found gives the same fields for them and never reads before the body.
  const std::size_t marker = body.find(kCameraInfoMarker);
  if (marker == std::string_view::npos) return std::nullopt;
  std::size_t pos = marker + kCameraInfoMarker.size();

  CameraInfo info;
  info.description = take_piece(body, pos);
  std::string mac = take_piece(body, pos);
  std::erase(mac, ':');
  if (!is_mac_text(mac)) return std::nullopt;
  info.mac = std::move(mac);
  info.name = take_piece(body, pos);
  return info;
}

}  // namespace net
