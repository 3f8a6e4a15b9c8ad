// Feeds arbitrary bytes to the ASF demultiplexer as if a camera had sent
// them. The first input byte picks a mode: raw bytes from the start of the
// stream, or a valid camera header (with or without audio, one of several
// packet sizes) followed by the input as packets, so that the packet parser
// is reached as often as the header walk.
#include <cstddef>
#include <cstdint>

#include "../support/asf_builder.h"
#include "viewer/net/asf_demux.h"
#include "viewer/net/queue_sinks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static net::StreamBuffers buffers;
  if (!buffers.allocated() && !buffers.allocate()) return 0;
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;

  testasf::Bytes stream;
  if (mode & 1) {
    static constexpr std::uint32_t kPacketSizes[4] = {64, 333, 1024, 12800};
    testasf::Layout layout;
    layout.audio = (mode & 2) != 0;
    layout.packet_size = kPacketSizes[(mode >> 2) & 3];
    if (mode & 16) {
      layout.width = 640;
      layout.height = 480;
    }
    stream = testasf::header(layout);
  }
  stream.insert(stream.end(), data, data + size);

  net::QueueVideoSink video;
  net::QueueAudioSink audio;
  net::QueuePacketSink recording;
  video.set_thread_ended((mode & 64) != 0 && (mode & 1) == 0);
  net::StreamSinks sinks;
  sinks.video = &video;
  sinks.audio = (mode & 128) ? nullptr : &audio;
  sinks.recording = (mode & 32) ? &recording : nullptr;

  std::atomic<bool> stop{false}, muted{false};
  net::AsfDemux demux;
  net::BufferByteSource source(stream, net::kStreamWindowBytes);
  (void)demux.run(source, sinks, buffers, net::DemuxControl{&stop, &muted});

  // Every queued unit must be whole and readable.
  std::size_t sum = 0;
  while (auto f = video.queue().take_front()) {
    for (std::uint32_t i = 0; i < f->length(); ++i) sum += f->data()[i];
  }
  while (auto f = audio.queue().take_front()) sum += f->length();
  while (auto f = recording.queue().take_front()) sum += f->length();
  return sum == 0xFFFFFFFFu ? 1 : 0;
}
