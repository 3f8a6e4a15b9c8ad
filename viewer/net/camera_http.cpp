#include "viewer/net/camera_http.h"

namespace net {
namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool contains(std::string_view line, std::string_view word) { return line.find(word) != std::string_view::npos; }

// Characters that can be part of a host name or dotted quad.
bool is_host_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}

bool is_ddns_separator(char c) { return c == ':' || c == '"'; }

}  // namespace

std::string base64_encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])) << 16 |
                            static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8 |
                            static_cast<std::uint8_t>(bytes[i + 2]);
    out += kBase64Alphabet[v >> 18 & 63];
    out += kBase64Alphabet[v >> 12 & 63];
    out += kBase64Alphabet[v >> 6 & 63];
    out += kBase64Alphabet[v & 63];
  }
  const std::size_t left = bytes.size() - i;
  if (left > 0) {
    std::uint32_t v = static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])) << 16;
    if (left == 2) v |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8;
    out += kBase64Alphabet[v >> 18 & 63];
    out += kBase64Alphabet[v >> 12 & 63];
    out += left == 2 ? kBase64Alphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

std::string build_video_request(std::string_view host, std::string_view user, std::string_view password) {
  std::string credentials;
  credentials.reserve(user.size() + 1 + password.size());
  credentials.append(user).append(":").append(password);

  std::string request = "GET /img/video.asf HTTP/1.1\r\nUser-Agent: KESTRA~1\r\nHost: ";
  request.append(host);
  request.append("\r\nAuthorization: Basic ");
  request.append(base64_encode(credentials));
  // The cameras have always been sent two '=' more than base64 needs, and a
  // zero byte after the blank line; both are part of what they expect.
  request.append("==\r\n\r\n");
  request.push_back('\0');
  return request;
}

LineRead read_reply_line(ByteReader& in, std::string& line) {
  line.clear();
  std::uint8_t b = 0;
  for (;;) {
    if (!in.read_byte(&b)) return LineRead::Failed;
    const char c = static_cast<char>(b);
    if (c == '\n' && line.empty()) continue;  // the LF left behind by the previous line's CR
    if (c == '\r') {
      if (!line.empty()) return LineRead::Line;
      // A blank line: its LF is taken too, so that the body starts right after.
      if (!in.read_byte(&b) || b != '\n') return LineRead::Failed;
      return LineRead::Empty;
    }
    if (line.size() >= kMaxReplyLine) return LineRead::TooLong;
    line.push_back(c);
  }
}

ReplyStatus read_reply_head(ByteReader& in) {
  std::string line;
  line.reserve(256);
  if (read_reply_line(in, line) != LineRead::Line) return ReplyStatus::Retry;
  if (!contains(line, "200")) {
    if (contains(line, "503")) return ReplyStatus::Retry;  // camera busy: it will take us later
    if (contains(line, "401")) return ReplyStatus::BadAccount;
    return ReplyStatus::Refused;
  }
  for (int i = 0; i < kMaxReplyHeaderLines; ++i) {
    switch (read_reply_line(in, line)) {
      case LineRead::Line:
        continue;
      case LineRead::Empty:
        return ReplyStatus::Streaming;
      case LineRead::Failed:
      case LineRead::TooLong:
        return ReplyStatus::Retry;
    }
  }
  // The header block never ended: whatever follows is not the stream.
  return ReplyStatus::Retry;
}

int parse_port_text(std::string_view text) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > 65535) return 0;
  }
  return value;
}

bool parse_ddns_reply(std::string_view reply, std::string& host, std::string& port_text) {
  static constexpr std::string_view kMarker = "URL=http://";
  const std::size_t at = reply.find(kMarker);
  if (at == std::string_view::npos) return false;
  std::string_view rest = reply.substr(at + kMarker.size());

  std::size_t i = 0;
  while (i < rest.size() && is_ddns_separator(rest[i])) ++i;
  const std::size_t host_begin = i;
  while (i < rest.size() && is_host_char(rest[i])) ++i;
  if (i == host_begin) return false;
  const std::string_view found_host = rest.substr(host_begin, i - host_begin);

  // The port is the next piece when it is a number; a URL without one means
  // the scheme's default port.
  std::string_view found_port = "80";
  if (i < rest.size() && is_ddns_separator(rest[i])) {
    while (i < rest.size() && is_ddns_separator(rest[i])) ++i;
    const std::size_t port_begin = i;
    while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') ++i;
    if (i > port_begin) found_port = rest.substr(port_begin, i - port_begin);
  }
  host.assign(found_host);
  port_text.assign(found_port);
  return true;
}

}  // namespace net
