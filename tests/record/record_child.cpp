// Records until it is killed: a writer fed with the packets of a file, one
// flush per packet, as a recording thread does. Used by the test that kills
// a recording process and checks what it left.
//
//   record_child OUT.asf HEADER_FILE PACKETS_FILE PACKET_SIZE [KEYS_FILE PRE_MS OPEN_AT STEP_MS]
//
// With the four last arguments it records as a camera's motion recording
// does: the packets (cameras' packets) go through the camera's packet buffer,
// one every STEP_MS of arrival time, the buffer keeping PRE_MS of them;
// KEYS_FILE holds for each packet, as a little-endian 32-bit number, where in
// it a key frame begins (0: nowhere). The motion file opens, reaching back
// PRE_MS, when packet OPEN_AT has arrived; packets go round the file's.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "viewer/record/recording_camera.h"
#include "viewer/record/recording_writer.h"

namespace {

std::vector<std::uint8_t> slurp(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int record_plain(const char* out, const std::vector<std::uint8_t>& header, const std::vector<std::uint8_t>& packets,
                 std::size_t size) {
  record::RecordingWriter w;
  (void)w.SetHeader(header.data(), static_cast<std::uint32_t>(header.size()));
  if (w.Open(out) != 1) return 2;
  std::printf("recording\n");
  std::fflush(stdout);
  for (std::size_t i = 0;; ++i) {
    const std::size_t at = (i % (packets.size() / size)) * size;
    w.AddPacket(packets.data() + at, static_cast<std::uint32_t>(size), 0);
    if (w.Flush() < 0) return 3;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int record_pre_motion(const char* out, const std::vector<std::uint8_t>& header,
                      const std::vector<std::uint8_t>& packets, std::size_t size, const std::vector<std::uint8_t>& keys,
                      std::uint32_t pre_ms, std::size_t open_at, std::uint32_t step_ms) {
  const std::size_t count = packets.size() / size;
  if (keys.size() < count * 4) return 1;
  record::CameraRecording rec;
  rec.SetHeader(header.data(), static_cast<std::uint32_t>(header.size()));
  rec.packets().set_keep_ms(pre_ms);
  record::RecordingWriter& w = rec.motion_writer();
  for (std::size_t i = 0;; ++i) {
    const std::size_t k = i % count;
    const std::uint32_t key_at =
        keys[4 * k] | keys[4 * k + 1] << 8 | keys[4 * k + 2] << 16 | static_cast<std::uint32_t>(keys[4 * k + 3]) << 24;
    rec.AddPacket(packets.data() + k * size, static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(i * step_ms),
                  key_at);
    if (i == open_at) {
      if (w.Open(out, pre_ms) != 1) return 2;
      std::printf("recording\n");
      std::fflush(stdout);
    }
    if (i >= open_at) {
      if (w.Flush() < 0) return 3;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 9) return 1;
  const std::vector<std::uint8_t> header = slurp(argv[2]);
  const std::vector<std::uint8_t> packets = slurp(argv[3]);
  const std::size_t size = std::strtoul(argv[4], nullptr, 10);
  if (header.empty() || size == 0 || packets.size() < size) return 1;
  if (argc == 5) return record_plain(argv[1], header, packets, size);
  return record_pre_motion(
      argv[1], header, packets, size, slurp(argv[5]), static_cast<std::uint32_t>(std::strtoul(argv[6], nullptr, 10)),
      std::strtoul(argv[7], nullptr, 10), static_cast<std::uint32_t>(std::strtoul(argv[8], nullptr, 10)));
}
