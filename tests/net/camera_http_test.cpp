#include "viewer/net/camera_http.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using net::ReplyStatus;

std::string auth_value(const std::string& request) {
  const std::string key = "Authorization: Basic ";
  const auto at = request.find(key);
  if (at == std::string::npos) return {};
  const auto end = request.find("\r\n", at);
  return request.substr(at + key.size(), end - at - key.size());
}

std::size_t trailing_equals(const std::string& s) {
  std::size_t n = 0;
  while (n < s.size() && s[s.size() - 1 - n] == '=') ++n;
  return n;
}

TEST(VideoRequest, ExactBytesWithTerminatingZero) {
  const std::string r = net::build_video_request("192.168.1.20", "admin", "1234");
  const std::string expected =
      "GET /img/video.asf HTTP/1.1\r\nUser-Agent: KESTRA~1\r\nHost: 192.168.1.20\r\n"
      "Authorization: Basic YWRtaW46MTIzNA====\r\n\r\n";
  EXPECT_EQ(r, expected + std::string(1, '\0'));
}

TEST(VideoRequest, PaddingFollowsTheCredentialLength) {
  // user:password lengths 6, 5 and 4 leave remainders 0, 2 and 1.
  EXPECT_EQ(trailing_equals(auth_value(net::build_video_request("h", "adm", "12"))), 2u);
  EXPECT_EQ(trailing_equals(auth_value(net::build_video_request("h", "ab", "cd"))), 3u);
  EXPECT_EQ(trailing_equals(auth_value(net::build_video_request("h", "a", "bc"))), 4u);
  EXPECT_EQ(auth_value(net::build_video_request("h", "adm", "12")), "YWRtOjEy==");
}

TEST(VideoRequest, LongCredentialsStayOnOneHeaderLineAndComplete) {
  const std::string user(60, 'u');
  const std::string password(90, 'p');
  const std::string r = net::build_video_request("cam", user, password);
  const std::string value = auth_value(r);
  EXPECT_EQ(value.find('\r'), std::string::npos);
  EXPECT_EQ(value, net::base64_encode(user + ":" + password) + "==");
  EXPECT_EQ(value.size(), (151 + 2) / 3 * 4 + 2);
  EXPECT_EQ(r.substr(r.size() - 5), std::string("\r\n\r\n") + '\0');
}

TEST(Base64, KnownVectors) {
  // RFC 4648, section 10.
  EXPECT_EQ(net::base64_encode(""), "");
  EXPECT_EQ(net::base64_encode("f"), "Zg==");
  EXPECT_EQ(net::base64_encode("fo"), "Zm8=");
  EXPECT_EQ(net::base64_encode("foo"), "Zm9v");
  EXPECT_EQ(net::base64_encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(net::base64_encode(std::string("\xff\xfe\x00", 3)), "//4A");
}

ReplyStatus head_of(const std::string& reply, std::size_t* consumed = nullptr) {
  net::BufferByteSource in(std::span(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()));
  const ReplyStatus s = net::read_reply_head(in);
  if (consumed) *consumed = in.position();
  return s;
}

TEST(ReplyHead, StatusLinesDecide) {
  std::size_t used = 0;
  const std::string ok10 = "HTTP/1.0 200 OK\r\nContent-Type: video/x-ms-asf\r\n\r\nBODY";
  EXPECT_EQ(head_of(ok10, &used), ReplyStatus::Streaming);
  EXPECT_EQ(ok10.substr(used), "BODY");  // the body starts right after the blank line
  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\n\r\n"), ReplyStatus::Streaming);
  EXPECT_EQ(head_of("HTTP/1.1 401 Unauthorized\r\n\r\n"), ReplyStatus::BadAccount);
  EXPECT_EQ(head_of("HTTP/1.1 404 Not Found\r\n\r\n"), ReplyStatus::Refused);
  EXPECT_EQ(head_of("HTTP/1.1 503 Service Unavailable\r\n\r\n"), ReplyStatus::Retry);
  EXPECT_EQ(head_of("HTTP/1.1 500 Error 200\r\n\r\n"), ReplyStatus::Streaming);  // "200" anywhere
  EXPECT_EQ(head_of(""), ReplyStatus::Retry);
  EXPECT_EQ(head_of("\r\n\r\n"), ReplyStatus::Retry);
  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\nServer: x\r\n"), ReplyStatus::Retry);  // cut off
  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\n\rX"), ReplyStatus::Retry);            // CR without LF
}

TEST(ReplyHead, HeaderBlockLimits) {
  auto with_lines = [](int n) {
    std::string r = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < n; ++i) r += "X-Line-" + std::to_string(i) + ": v\r\n";
    return r + "\r\nB";
  };
  std::size_t used = 0;
  const std::string r99 = with_lines(99);
  EXPECT_EQ(head_of(r99, &used), ReplyStatus::Streaming);
  EXPECT_EQ(used, r99.size() - 1);
  EXPECT_EQ(head_of(with_lines(100)), ReplyStatus::Retry);

  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\nX: " + std::string(net::kMaxReplyLine - 3, 'a') + "\r\n\r\n"),
            ReplyStatus::Streaming);
  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\nX: " + std::string(net::kMaxReplyLine - 2, 'a') + "\r\n\r\n"),
            ReplyStatus::Retry);
  EXPECT_EQ(head_of("HTTP/1.1 200 " + std::string(20000, 'z') + "\r\n\r\n"), ReplyStatus::Retry);
}

TEST(PortText, LeadingDigitsOnly) {
  EXPECT_EQ(net::parse_port_text(""), 0);
  EXPECT_EQ(net::parse_port_text("0"), 0);
  EXPECT_EQ(net::parse_port_text("80"), 80);
  EXPECT_EQ(net::parse_port_text("8080/x"), 8080);
  EXPECT_EQ(net::parse_port_text("abc"), 0);
  EXPECT_EQ(net::parse_port_text("65535"), 65535);
  EXPECT_EQ(net::parse_port_text("65536"), 0);
  EXPECT_EQ(net::parse_port_text("99999999999999999999"), 0);
}

TEST(DdnsReply, HostAndPortAfterTheMarker) {
  std::string host = "unchanged", port = "unchanged";
  EXPECT_FALSE(net::parse_ddns_reply("<html>no address here</html>", host, port));
  EXPECT_EQ(host, "unchanged");

  EXPECT_TRUE(net::parse_ddns_reply("<a href=\"URL=http://10.1.2.3:8081\">cam</a>", host, port));
  EXPECT_EQ(host, "10.1.2.3");
  EXPECT_EQ(port, "8081");

  // Text after a zero byte is still searched.
  const std::string zero = std::string("hdr\0", 4) + "URL=http://cam.example.org:81/\r\n";
  EXPECT_TRUE(net::parse_ddns_reply(zero, host, port));
  EXPECT_EQ(host, "cam.example.org");
  EXPECT_EQ(port, "81");

  // No port piece: the URL's default port.
  EXPECT_TRUE(net::parse_ddns_reply("URL=http://cam.example.org\r\nmore", host, port));
  EXPECT_EQ(host, "cam.example.org");
  EXPECT_EQ(port, "80");
  EXPECT_TRUE(net::parse_ddns_reply("URL=http://cam\">link</a>", host, port));
  EXPECT_EQ(port, "80");

  EXPECT_FALSE(net::parse_ddns_reply("URL=http://", host, port));
  EXPECT_FALSE(net::parse_ddns_reply("URL=http:///path", host, port));
}

}  // namespace
