#include "tools/camsim/options.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>

namespace camsim {
namespace {

bool parse_uint(const std::string& text, uint64_t max, uint64_t* out) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value > max) return false;
  *out = value;
  return true;
}

std::string default_mac_text(size_t index) {
  char text[32];
  std::snprintf(text, sizeof text, "00:0e:53:00:00:%02zx", (index + 1) & 0xFF);
  return text;
}

}  // namespace

std::string usage_text() {
  return R"(camsim - simulated network cameras on loopback

usage: camsim --port PORT --user USER --password PASS CLIP [options]
       camsim [options] --camera PORT:USER:PASS:CLIP [camera options] ...

Each camera answers, on its own TCP port:
  GET /img/video.asf   with Basic authentication: an endless ASF stream of the
                       clip (431-byte header, or 327 without audio), looping
                       with presentation times that keep running
  GET /util/util2.cgi  the camera-information reply: "camerainfo=" description
                       NUL MAC-with-colons NUL name NUL (no authentication)
Wrong or missing account: 401. Other paths: 404.

CLIP is a path prefix: CLIP.m4v (MPEG-4 Part 2 elementary stream from ffmpeg)
and, when present, CLIP.g726 (raw G.726, 16 kbit/s, MSB-first). CLIP.m4v
itself is accepted too, and so is a bare clip name of the built-in clips
(vga, qvga, small). Clips are made by tools/camsim/make_clips.sh.

First camera:
  --port PORT            TCP port, 0 picks a free one (printed at start)
  --user USER            account name (default admin)
  --password PASS        account password (default admin)
  CLIP                   its clip
More cameras:
  --camera PORT:USER:PASS:CLIP   one more camera; the camera options that
                       follow apply to it (those before any --camera apply to
                       the first camera). USER and PASS cannot hold ':'.

Camera options:
  --name TEXT            camera name (default camsimN)
  --description TEXT     camera description (default "camsim camera N")
  --mac MAC              00:0e:53:00:00:01 or 000e53000001 (default 00:0e:53:00:00:0N)
  --no-audio             video only: 327-byte header, no audio payloads
  --packet-size N        ASF data packet size, 64..12800 (default 1600)
  --fail-first N         answer the first N video requests with --fail-status
                         (before the account is checked)
  --fail-status CODE     status for --fail-first (default 503; 404 etc.)
  --reply-header-lines N add N filler header lines to the 200 reply
  --info-body TEXT       answer /util/util2.cgi with TEXT instead
  --close-after N        close each stream after N data packets
  --stall-after N        stop sending after N data packets, keep the connection
  --corrupt-after N      after N data packets send one corrupt packet (every
                         byte after the 14-byte packet header set to 0xFF,
                         so the first stream byte is invalid), then go on
  --oversize-after N     after N data packets, the next video frame announces
                         a size of 1 MiB (more than any 640x480 frame), then
                         the stream goes on as before
  --faults-for N         the faults above hit only the first N stream
                         connections (default: every connection)

Global options:
  --bind ADDR            address of every socket (default 127.0.0.1)
  --fast                 no real-time pacing: packets as fast as they are read
  --ddns-port PORT       serve the dynamic-DNS page on this port at any path
                         (0 picks one); reply: a page holding
                         URL=http://HOST:PORT of the target camera
  --ddns-path PATH       serve the dynamic-DNS page at PATH on camera ports too
  --ddns-host HOST       HOST in the DDNS reply (default: the bind address)
  --ddns-target N        camera the DDNS reply points to, from 1 (default 1)
  --discovery-port PORT  answer UDP discovery requests (00 00 00 00 03 E8 00 00)
                         on PORT, one reply per camera (0 picks a port).
                         Off unless given. Never use on a real interface.
  --discovery-bind ADDR  address of the discovery socket (default: --bind).
                         Inside a test's own network namespace, 0.0.0.0
                         receives the viewer's broadcasts; a socket bound to
                         a unicast address does not.
  --discovery-code N     reply code at offset 8 (default 10)
  --discovery-length N   reply length in bytes, 8..3072 (default 128; below
                         85 the name and description are cut)
  --verbose              log every request to stderr
  --help                 this text

At start camsim prints one line per socket, then "ready":
  listening ADDR:PORT    (one per camera, in order)
  ddns ADDR:PORT         (with --ddns-port)
  discovery ADDR:PORT    (with --discovery-port)
SIGTERM or SIGINT stops it cleanly (exit status 0).
)";
}

bool parse_mac(const std::string& text, std::array<uint8_t, 6>* mac) {
  std::string hex;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c == ':' || c == '-') && i % 3 == 2 && text.size() == 17) continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    hex.push_back(c);
  }
  if (hex.size() != 12) return false;
  for (size_t i = 0; i < 6; ++i) (*mac)[i] = static_cast<uint8_t>(std::stoul(hex.substr(i * 2, 2), nullptr, 16));
  return true;
}

std::string mac_with_colons(const std::array<uint8_t, 6>& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  return text;
}

std::string resolve_clip_prefix(const std::string& clip) {
  std::string prefix = clip;
  if (prefix.size() > 4 && prefix.compare(prefix.size() - 4, 4, ".m4v") == 0) prefix.resize(prefix.size() - 4);
  std::error_code ec;
  if (!std::filesystem::exists(prefix + ".m4v", ec) && prefix.find('/') == std::string::npos) {
#ifdef CAMSIM_CLIPS_DIR
    const std::string built_in = std::string(CAMSIM_CLIPS_DIR) + "/" + prefix;
    if (std::filesystem::exists(built_in + ".m4v", ec)) return built_in;
#endif
  }
  return prefix;
}

ParseResult parse_args(int argc, const char* const* argv, Config* config, std::string* error) {
  *config = Config{};
  CameraConfig first;
  bool first_used = false;   // --port, --user, --password or CLIP given
  bool first_tuned = false;  // camera options given before any --camera
  bool port_given = false;
  std::vector<CameraConfig> more;
  CameraConfig* current = &first;

  auto fail = [&](const std::string& reason) {
    if (error) *error = reason;
    return ParseResult::kError;
  };

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return ParseResult::kHelp;
    if (arg.size() < 2 || arg[0] != '-' || arg[1] != '-') {
      if (!first.clip.empty()) return fail("more than one CLIP: " + arg);
      first.clip = arg;
      first_used = true;
      continue;
    }
    // Flags without a value.
    if (arg == "--fast") {
      config->fast = true;
      continue;
    }
    if (arg == "--verbose") {
      config->verbose = true;
      continue;
    }
    if (arg == "--no-audio") {
      current->audio = false;
      first_tuned |= current == &first;
      continue;
    }
    if (i + 1 >= argc) return fail(arg + " needs a value");
    const std::string value = argv[++i];
    uint64_t n = 0;
    auto number = [&](uint64_t max) {
      if (parse_uint(value, max, &n)) return true;
      if (error) *error = arg + ": not a number up to " + std::to_string(max) + ": " + value;
      return false;
    };
    auto camera_option = [&]() { first_tuned |= current == &first; };

    if (arg == "--port") {
      if (!number(65535)) return ParseResult::kError;
      first.port = static_cast<uint16_t>(n);
      first_used = port_given = true;
    } else if (arg == "--user") {
      first.user = value;
      first_used = true;
    } else if (arg == "--password") {
      first.password = value;
      first_used = true;
    } else if (arg == "--camera") {
      // PORT:USER:PASS:CLIP; the clip may itself hold colons.
      const size_t a = value.find(':');
      const size_t b = a == std::string::npos ? a : value.find(':', a + 1);
      const size_t c = b == std::string::npos ? b : value.find(':', b + 1);
      if (c == std::string::npos) return fail("--camera wants PORT:USER:PASS:CLIP, got " + value);
      CameraConfig camera;
      if (!parse_uint(value.substr(0, a), 65535, &n)) return fail("--camera: bad port in " + value);
      camera.port = static_cast<uint16_t>(n);
      camera.user = value.substr(a + 1, b - a - 1);
      camera.password = value.substr(b + 1, c - b - 1);
      camera.clip = value.substr(c + 1);
      if (camera.clip.empty()) return fail("--camera: no clip in " + value);
      more.push_back(camera);
      current = &more.back();
    } else if (arg == "--name") {
      current->name = value;
      camera_option();
    } else if (arg == "--description") {
      current->description = value;
      camera_option();
    } else if (arg == "--mac") {
      if (!parse_mac(value, &current->mac)) return fail("--mac: not a MAC address: " + value);
      current->mac_set = true;
      camera_option();
    } else if (arg == "--packet-size") {
      if (!number(12800)) return ParseResult::kError;
      if (n < 64) return fail("--packet-size must be 64..12800");
      current->packet_bytes = static_cast<uint32_t>(n);
      camera_option();
    } else if (arg == "--fail-first") {
      if (!number(1000000)) return ParseResult::kError;
      current->fail_first = static_cast<uint32_t>(n);
      camera_option();
    } else if (arg == "--fail-status") {
      if (!number(999) || n < 100) return fail("--fail-status must be an HTTP status 100..999");
      current->fail_status = static_cast<int>(n);
      camera_option();
    } else if (arg == "--reply-header-lines") {
      if (!number(100000)) return ParseResult::kError;
      current->reply_header_lines = static_cast<uint32_t>(n);
      camera_option();
    } else if (arg == "--info-body") {
      current->info_body = value;
      current->info_body_set = true;
      camera_option();
    } else if (arg == "--close-after" || arg == "--stall-after" || arg == "--corrupt-after" ||
               arg == "--oversize-after" || arg == "--faults-for") {
      if (!number(0xFFFFFFFFu)) return ParseResult::kError;
      const auto v = static_cast<uint32_t>(n);
      if (arg == "--close-after") current->faults.close_after = v;
      if (arg == "--stall-after") current->faults.stall_after = v;
      if (arg == "--corrupt-after") current->faults.corrupt_after = v;
      if (arg == "--oversize-after") current->faults.oversize_after = v;
      if (arg == "--faults-for") current->faults.connections = v;
      camera_option();
    } else if (arg == "--bind") {
      config->bind_address = value;
    } else if (arg == "--ddns-port") {
      if (!number(65535)) return ParseResult::kError;
      config->ddns_port = static_cast<uint16_t>(n);
      config->ddns_port_set = true;
    } else if (arg == "--ddns-path") {
      if (value.empty() || value[0] != '/') return fail("--ddns-path must start with /");
      config->ddns_path = value;
    } else if (arg == "--ddns-host") {
      config->ddns_host = value;
    } else if (arg == "--ddns-target") {
      if (!number(1000) || n == 0) return fail("--ddns-target counts cameras from 1");
      config->ddns_target = n;
    } else if (arg == "--discovery-port") {
      if (!number(65535)) return ParseResult::kError;
      config->discovery = true;
      config->discovery_port = static_cast<uint16_t>(n);
    } else if (arg == "--discovery-bind") {
      config->discovery_bind = value;
    } else if (arg == "--discovery-code") {
      if (!number(65535)) return ParseResult::kError;
      config->discovery_code = static_cast<int>(n);
    } else if (arg == "--discovery-length") {
      if (!number(3072) || n < 8) return fail("--discovery-length must be 8..3072");
      config->discovery_length = n;
    } else {
      return fail("unknown option " + arg + " (see --help)");
    }
  }

  if (first_used) {
    if (first.clip.empty()) return fail("no CLIP given for the camera of --port");
    if (!port_given) return fail("no --port given for CLIP " + first.clip);
    config->cameras.push_back(first);
  } else if (first_tuned) {
    return fail("camera options before any camera (give --port ... CLIP or --camera first)");
  }
  for (auto& camera : more) config->cameras.push_back(camera);
  if (config->cameras.empty()) return fail("no camera given (see --help)");
  if (config->ddns_target > config->cameras.size()) return fail("--ddns-target beyond the last camera");

  for (size_t i = 0; i < config->cameras.size(); ++i) {
    CameraConfig& camera = config->cameras[i];
    if (camera.name.empty()) camera.name = "camsim" + std::to_string(i + 1);
    if (camera.description.empty()) camera.description = "camsim camera " + std::to_string(i + 1);
    if (!camera.mac_set) (void)parse_mac(default_mac_text(i), &camera.mac);
  }
  return ParseResult::kRun;
}

}  // namespace camsim
