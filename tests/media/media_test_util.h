// Small helpers shared by the media tests: a scratch folder, running a
// command, reading a file and making G.726 audio with Debian's ffmpeg.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/files.h"

namespace media_test {

using test_support::read_bytes;
using test_support::TempDir;

// Runs a fixed shell command line; its exit status.
inline int run(const std::string& command) { return test_support::run_shell(command); }

inline std::vector<std::int16_t> read_s16(const std::string& path) {
  const std::vector<std::uint8_t> bytes = read_bytes(path);
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return samples;
}

// Encodes `seconds` of the ffmpeg expression `expr` (a function of t, range
// -1..1) at 8 kHz into raw G.726 with `bits` bits per code, most significant
// bit first (ffmpeg's "g726" format). Returns the bytes, empty on failure.
inline std::vector<std::uint8_t> encode_g726(const TempDir& dir, const std::string& expr, double seconds, int bits) {
  const std::string out = dir.file("enc" + std::to_string(bits) + ".g726");
  const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i \"aevalsrc='" + expr +
                          "':s=8000:d=" + std::to_string(seconds) + "\" -ac 1 -ar 8000 -c:a g726 -b:a " +
                          std::to_string(bits * 8) + "k -f g726 " + out;
  if (run(cmd) != 0) return {};
  return read_bytes(out);
}

}  // namespace media_test
