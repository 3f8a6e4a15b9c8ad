// Command line of camsim: which cameras to simulate and how they misbehave.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

// Faults a camera injects into its video streams, counted in data packets
// sent on one connection. 0 means off.
struct Faults {
  uint32_t close_after = 0;     // close the connection after N packets
  uint32_t stall_after = 0;     // stop sending after N packets, keep the connection open
  uint32_t corrupt_after = 0;   // the packet after N good ones is corrupt, then normal packets again
  uint32_t oversize_after = 0;  // the first video frame starting after N packets announces an oversized frame
  uint32_t connections = 0;     // faults apply to the first N stream connections; 0: to every one
};

struct CameraConfig {
  uint16_t port = 0;  // 0: pick a free port
  std::string user = "admin";
  std::string password = "admin";
  std::string clip;  // path prefix of CLIP.m4v and CLIP.g726
  std::string name;
  std::string description;
  std::array<uint8_t, 6> mac{};
  bool mac_set = false;
  bool audio = true;
  uint32_t packet_bytes = 1600;
  uint32_t fail_first = 0;  // answer fail_status to the first N video requests
  int fail_status = 503;
  uint32_t reply_header_lines = 0;  // extra header lines in the 200 reply
  bool info_body_set = false;
  std::string info_body;  // replaces the camera-information reply body
  Faults faults;
};

struct Config {
  std::string bind_address = "127.0.0.1";
  bool fast = false;
  bool verbose = false;
  std::vector<CameraConfig> cameras;

  bool ddns_port_set = false;
  uint16_t ddns_port = 0;
  std::string ddns_path;   // also served on every camera port when not empty
  std::string ddns_host;   // empty: the bind address
  size_t ddns_target = 1;  // 1-based camera the DDNS reply points to

  bool discovery = false;      // off unless --discovery-port is given
  std::string discovery_bind;  // empty: bind_address
  uint16_t discovery_port = 916;
  int discovery_code = 10;
  size_t discovery_length = 128;
};

enum class ParseResult { kRun, kHelp, kError };

// Parses argv into *config. kError comes with a one-line reason in *error.
[[nodiscard]] ParseResult parse_args(int argc, const char* const* argv, Config* config, std::string* error);

// The --help text.
std::string usage_text();

// "00:0e:53:00:00:01", "00-0e-53-00-00-01" or "000e53000001".
[[nodiscard]] bool parse_mac(const std::string& text, std::array<uint8_t, 6>* mac);
std::string mac_with_colons(const std::array<uint8_t, 6>& mac);

// Where a CLIP argument points: PREFIX, PREFIX.m4v, or a bare clip name
// looked up among the clips camsim was built with.
std::string resolve_clip_prefix(const std::string& clip);

}  // namespace camsim
