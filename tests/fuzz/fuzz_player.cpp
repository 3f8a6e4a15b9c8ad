// Feeds arbitrary bytes to the player's file reading as if they were a
// recording on disk: the header and trailer reader, the probes of the first
// and last packets, the seek index (kept to four entries, so that it thins
// itself out), the refining look-ups and the demultiplexer over every whole
// packet. The first input byte picks a mode: the input as the whole file, or
// a valid camera header (with or without sound, one of several packet sizes)
// followed by the input as packets and, maybe, a period trailer.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../support/asf_builder.h"
#include "player/engine/packet_demux.h"
#include "player/engine/recording_file.h"
#include "player/engine/seek_index.h"

namespace {

// Every object handed out must be whole and readable.
class SumSink final : public player::DemuxSink {
 public:
  void video_frame(const player::DemuxedObject& f) override { add(f); }
  void audio_block(const player::DemuxedObject& b) override { add(b); }
  std::size_t sum = 0;

 private:
  void add(const player::DemuxedObject& o) {
    for (std::uint32_t i = 0; i < o.length; ++i) sum += o.data[i];
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;

  testasf::Bytes file;
  if (mode & 1) {
    static constexpr std::uint32_t kPacketSizes[4] = {14, 64, 333, 1600};
    testasf::Layout layout;
    layout.audio = (mode & 2) != 0;
    layout.packet_size = kPacketSizes[(mode >> 2) & 3];
    file = testasf::header(layout);
  }
  file.insert(file.end(), data, data + size);
  if (mode & 16) {
    static const char kTrailer[] = "KS2024/05/01   10:00,2024/05/01   11:00,";
    std::uint8_t trailer[50] = {};
    std::memcpy(trailer, kTrailer, sizeof kTrailer - 1);
    file.insert(file.end(), trailer, trailer + sizeof trailer);
  }

  player::MemoryFileBytes bytes(std::move(file));
  player::RecordingLayout layout;
  if (player::read_layout(bytes, &layout) != player::OpenError::None) return 0;
  player::TimeBase base;
  std::int64_t last = 0;
  player::probe_times(bytes, layout, &base, &last);

  player::SeekIndex index(4);
  (void)player::scan_key_frames(bytes, layout, base, index, [] { return true; });
  for (std::int64_t t : {std::int64_t{-1}, std::int64_t{0}, last / 2, last, last + 1, index.last_ms()}) {
    player::KeyEntry key;
    std::uint64_t end = 0;
    if (index.lookup(t, &key, &end) == player::SeekIndex::Lookup::Found) {
      (void)player::refine_key(bytes, layout, base, key, end, t);
    }
  }

  player::PacketDemux demux(layout.has_audio);
  SumSink sink;
  std::vector<std::uint8_t> packet(layout.packet_size);
  for (std::uint64_t i = 0; i < layout.packet_count; ++i) {
    if (!player::read_packet(bytes, layout, i, packet.data())) break;
    (void)demux.feed(packet.data(), layout.packet_size, i, sink);
  }
  return sink.sum == 0xFFFFFFFFu ? 1 : 0;
}
