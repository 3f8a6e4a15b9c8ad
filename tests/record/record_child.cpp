// Records until it is killed: a writer fed with the packets of a file, one
// flush per packet, as a recording thread does. Used by the test that kills
// a recording process and checks what it left.
//
//   record_child OUT.asf HEADER_FILE PACKETS_FILE PACKET_SIZE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "viewer/record/recording_writer.h"

int main(int argc, char** argv) {
  if (argc != 5) return 1;
  auto slurp = [](const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
  };
  const std::vector<std::uint8_t> header = slurp(argv[2]);
  const std::vector<std::uint8_t> packets = slurp(argv[3]);
  const std::size_t size = std::strtoul(argv[4], nullptr, 10);
  if (header.empty() || size == 0 || packets.size() < size) return 1;
  record::RecordingWriter w;
  (void)w.SetHeader(header.data(), static_cast<std::uint32_t>(header.size()));
  if (w.Open(argv[1]) != 1) return 2;
  std::printf("recording\n");
  std::fflush(stdout);
  for (std::size_t i = 0;; ++i) {
    const std::size_t at = (i % (packets.size() / size)) * size;
    w.AddPacket(packets.data() + at, static_cast<std::uint32_t>(size), 0);
    if (w.Flush() < 0) return 3;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}
