// The camera's video request and the reading of its reply head.
//
// The request is one HTTP/1.1 GET of "/img/video.asf" with Basic
// authentication, in the exact bytes the cameras have always been sent; the
// reply's status line decides between streaming, a silent retry and a
// refusal that the user is told about.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "viewer/net/byte_source.h"

namespace net {

// Base64 (RFC 4648, section 4: standard alphabet, '=' padding) of bytes, on
// one line.
std::string base64_encode(std::string_view bytes);

// The request bytes to send, including the terminating zero byte the cameras
// have always received after the blank line. host is the camera address text
// (no port).
std::string build_video_request(std::string_view host, std::string_view user, std::string_view password);

// Longest reply line kept; a longer line ends the attempt.
inline constexpr std::size_t kMaxReplyLine = 8191;
// Lines read after the status line before the header block must have ended.
inline constexpr int kMaxReplyHeaderLines = 100;

enum class LineRead { Line, Empty, Failed, TooLong };

// Reads one reply line into line (without its CR). A line ends at a CR
// after at least one character; the LF behind it is left in the stream and
// skipped when the next line begins. A line that is just CR LF is Empty and
// consumes its LF, so the next byte read is the first byte of the body.
LineRead read_reply_line(ByteReader& in, std::string& line);

// Outcome of the reply head.
enum class ReplyStatus {
  Streaming,   // status line with "200" and a complete header block: the body follows
  Retry,       // no status line, "503", a broken or endless header block: try again quietly
  BadAccount,  // "401": the camera refused the account
  Refused,     // any other status
};

// Reads the status line and skips the header lines. Status words are found
// anywhere in the status line, as the cameras' replies have always been read.
ReplyStatus read_reply_head(ByteReader& in);

// Port text as a number: empty, "0", no leading digit or more than 65535
// give 0; otherwise the value of the leading decimal digits.
int parse_port_text(std::string_view text);

// Finds "URL=http://" in a dynamic-DNS reply and takes the host and port
// written after it ("URL=http://host:port"; pieces are separated by ':' or
// '"'). Without a port piece the port is "80", the default of the URL scheme.
// False (host and port untouched) when the marker or a host is missing.
bool parse_ddns_reply(std::string_view reply, std::string& host, std::string& port_text);

}  // namespace net
