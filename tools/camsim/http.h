// The small part of HTTP/1.x a camera speaks: one GET per connection, Basic
// authentication, fixed replies. Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace camsim {

struct HttpRequest {
  std::string method;
  std::string target;  // as sent, query included
  std::string path;    // target without the query
  std::string version;
  bool has_authorization = false;
  std::string authorization;  // value of the Authorization header, trimmed
};

// Parses a request head (request line and header lines, CR LF or LF). False
// when the request line is not "METHOD TARGET HTTP/x.y".
[[nodiscard]] bool parse_request_head(const std::string& head, HttpRequest* out);

// Decodes base64 (RFC 4648 alphabet), stopping at the first '=' or any other
// character outside the alphabet. Lenient on purpose: the viewer appends two
// literal '=' to the padded text, so "==" to "====" end its credentials.
std::string decode_base64_lenient(const std::string& text);

// True when an Authorization value is "Basic <base64 of user:password>".
[[nodiscard]] bool basic_auth_matches(const std::string& value, const std::string& user, const std::string& password);

std::string status_text(int code);

// A complete reply with Content-Length and Connection: close.
std::string simple_response(int code, const std::string& content_type, const std::string& body,
                            const std::string& extra_headers = "");

// The reply head that starts a video stream; extra_lines filler headers are
// added to try a client's header limit.
std::string stream_response_head(uint32_t extra_lines);

// "camerainfo=" description NUL MAC NUL name NUL, the camera-information body.
std::string camera_info_body(const std::string& description, const std::string& mac_with_colons,
                             const std::string& name);

// A dynamic-DNS page pointing at host:port. The address follows
// "URL=http://" and ends at the closing quote of the HTML attribute, the way
// such pages redirect.
std::string ddns_body(const std::string& host, uint16_t port);

}  // namespace camsim
