#include "viewer/net/camera_info.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace net {
namespace {

constexpr std::string_view kCameraInfoMarker = "camerainfo=";
constexpr std::string_view kDdnsMarker = "URL=http://";

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

bool is_ddns_delimiter(char c) { return c == ':' || c == '"'; }

bool ends_host(char c) {
  const auto u = static_cast<unsigned char>(c);
  return c == '/' || std::isspace(u) || std::iscntrl(u);
}

// The next run of non-delimiters at or after pos, skipping leading
// delimiters as strtok does.
std::string_view next_token(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && is_ddns_delimiter(text[pos])) ++pos;
  const std::size_t start = pos;
  while (pos < text.size() && !is_ddns_delimiter(text[pos])) ++pos;
  return text.substr(start, pos - start);
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

std::optional<DdnsTarget> parse_ddns_reply(std::string_view body) {
  const std::size_t zero = body.find('\0');
  if (zero != std::string_view::npos) body = body.substr(0, zero);
  const std::size_t marker = body.find(kDdnsMarker);
  if (marker == std::string_view::npos) return std::nullopt;
  const std::string_view text = body.substr(marker + kDdnsMarker.size());

  std::size_t pos = 0;
  std::string_view host = next_token(text, pos);
  std::size_t host_end = 0;
  while (host_end < host.size() && !ends_host(host[host_end])) ++host_end;
  const bool url_ended = host_end < host.size();  // a path or the page follows: no port given
  host = host.substr(0, host_end);
  if (host.empty()) return std::nullopt;

  DdnsTarget target;
  target.host = std::string(host);
  if (!url_ended) {
    const std::string_view port = next_token(text, pos);
    std::size_t digits = 0;
    while (digits < port.size() && std::isdigit(static_cast<unsigned char>(port[digits]))) ++digits;
    target.port_text = std::string(port.substr(0, digits));
  }
  return target;
}

}  // namespace net
