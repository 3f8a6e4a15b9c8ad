// The camera simulator as a child of a test or benchmark: started with its
// arguments, its start-up lines read ("listening 127.0.0.1:PORT" for each
// camera, "ddns HOST:PORT", "discovery HOST:PORT", then "ready"), and stopped
// (SIGTERM, then SIGKILL) when the object goes.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace test_support {

inline std::string camsim_path() { return std::string(CAMVIEWER_BIN_DIR) + "/camsim"; }

class CamsimProcess {
 public:
  // Starts camsim with args (after the program name); prefix, when given,
  // is the command that runs it, e.g. "ip netns exec NS". Waits until it
  // says "ready", ends its output, or startup_timeout passes.
  explicit CamsimProcess(const std::vector<std::string>& args, const std::vector<std::string>& prefix = {},
                         std::chrono::milliseconds startup_timeout = std::chrono::seconds(20))
      : process_(command(args, prefix)) {
    const auto deadline = std::chrono::steady_clock::now() + startup_timeout;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return;
      const std::optional<std::string> line = process_.next_line(static_cast<int>(left));
      if (!line) return;
      if (*line == "ready") {
        ready_ = true;
        return;
      }
      take_startup_line(*line);
    }
  }

  bool ready() const { return ready_; }
  // The cameras' ports in the order camsim listed them.
  const std::vector<uint16_t>& ports() const { return ports_; }
  uint16_t port(size_t i = 0) const { return i < ports_.size() ? ports_[i] : 0; }
  // "HOST:PORT" of each camera as camsim printed it.
  const std::vector<std::string>& addresses() const { return addresses_; }
  uint16_t ddns_port() const { return ddns_port_; }
  uint16_t discovery_port() const { return discovery_port_; }
  // Everything camsim printed up to and including "ready".
  const std::string& startup_text() const { return process_.output(); }
  // The child itself, for reading what camsim prints after start-up.
  ChildProcess& process() { return process_; }

  // SIGTERM, then waits; the exit status, or -1 if it did not exit normally
  // within the time (it is then killed).
  int stop(std::chrono::milliseconds within = std::chrono::milliseconds(5000)) { return process_.stop(within); }

 private:
  static std::vector<std::string> command(const std::vector<std::string>& args,
                                          const std::vector<std::string>& prefix) {
    std::vector<std::string> all = prefix;
    all.push_back(camsim_path());
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }

  // Port after the last ':' of "WORD HOST:PORT"; 0 when it is not a number.
  static uint16_t port_of(const std::string& line) {
    const std::string digits = line.substr(line.rfind(':') + 1);
    char* end = nullptr;
    const long port = std::strtol(digits.c_str(), &end, 10);
    return digits.empty() || *end != '\0' || port < 0 || port > 65535 ? 0 : static_cast<uint16_t>(port);
  }

  void take_startup_line(const std::string& line) {
    if (line.rfind("listening ", 0) == 0) {
      ports_.push_back(port_of(line));
      addresses_.push_back(line.substr(10));
    } else if (line.rfind("ddns ", 0) == 0) {
      ddns_port_ = port_of(line);
    } else if (line.rfind("discovery ", 0) == 0) {
      discovery_port_ = port_of(line);
    }
  }

  ChildProcess process_;
  bool ready_ = false;
  std::vector<uint16_t> ports_;
  std::vector<std::string> addresses_;
  uint16_t ddns_port_ = 0, discovery_port_ = 0;
};

}  // namespace test_support
