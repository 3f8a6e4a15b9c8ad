#include "tools/camsim/http.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace camsim {
namespace {

std::string trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

bool iequals_prefix(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool parse_request_head(const std::string& head, HttpRequest* out) {
  *out = HttpRequest{};
  std::istringstream in(head);
  std::string line;
  if (!std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::istringstream request_line(line);
  std::string extra;
  if (!(request_line >> out->method >> out->target >> out->version) || (request_line >> extra)) return false;
  if (out->version.rfind("HTTP/", 0) != 0 || out->target.empty()) return false;
  out->path = out->target.substr(0, out->target.find('?'));
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;
    if (iequals_prefix(line, "authorization:")) {
      out->has_authorization = true;
      out->authorization = trim(line.substr(14));
    }
  }
  return true;
}

std::string decode_base64_lenient(const std::string& text) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    const int v = base64_value(c);
    if (v < 0) break;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

bool basic_auth_matches(const std::string& value, const std::string& user, const std::string& password) {
  if (!iequals_prefix(value, "basic ")) return false;
  return decode_base64_lenient(trim(value.substr(6))) == user + ":" + password;
}

std::string status_text(int code) {
  switch (code) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

std::string simple_response(int code, const std::string& content_type, const std::string& body,
                            const std::string& extra_headers) {
  std::string out = "HTTP/1.1 " + std::to_string(code) + " " + status_text(code) + "\r\n";
  out += extra_headers;
  out += "Content-Type: " + content_type + "\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  out += "Connection: close\r\n\r\n";
  out += body;
  return out;
}

std::string stream_response_head(uint32_t extra_lines) {
  std::string out = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nPragma: no-cache\r\n";
  out += "Cache-Control: no-cache\r\n";
  for (uint32_t i = 1; i <= extra_lines; ++i)
    out += "X-Filler-" + std::to_string(i) + ": " + std::to_string(i) + "\r\n";
  out += "Connection: close\r\n\r\n";
  return out;
}

std::string camera_info_body(const std::string& description, const std::string& mac_with_colons,
                             const std::string& name) {
  std::string body = "camerainfo=" + description;
  body.push_back('\0');
  body += mac_with_colons;
  body.push_back('\0');
  body += name;
  body.push_back('\0');
  return body;
}

std::string ddns_body(const std::string& host, uint16_t port) {
  return "<html><head><meta http-equiv=\"refresh\" content=\"0; URL=http://" + host + ":" + std::to_string(port) +
         "\"></head><body></body></html>\r\n";
}

}  // namespace camsim
