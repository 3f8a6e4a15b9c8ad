// Feeds arbitrary bytes to the reader of the camera's reply head (status
// line and header lines), and to the dynamic-DNS and port text parsers that
// take what a server sent.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "viewer/net/camera_http.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  net::BufferByteSource in(std::span(data, size));
  const net::ReplyStatus status = net::read_reply_head(in);
  if (in.position() > size) __builtin_trap();
  if (status == net::ReplyStatus::Streaming && in.position() < 4) __builtin_trap();

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string host, port;
  if (net::parse_ddns_reply(text, host, port)) {
    if (host.empty() || port.empty()) __builtin_trap();
    (void)net::parse_port_text(port);
  }
  const int p = net::parse_port_text(text);
  if (p < 0 || p > 65535) __builtin_trap();
  return 0;
}
