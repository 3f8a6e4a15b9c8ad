// The packets a camera keeps so that its recordings begin with a key frame
// (record::PacketBuffer): memory per camera at 640 x 480 with a key frame
// every 1, 2 and 10 seconds, keeping only the newest group of pictures and
// keeping PreMotion 5 seconds, and what keeping them costs per packet.
//
// The streams are what camsim sends for ffmpeg clips like the committed vga
// one (testsrc2, 15 pictures a second, 300 kbit/s, G.726 sound), read by our
// demultiplexer and handed to the buffer with the times camsim sends each
// packet, over 60 s of stream after 15 s to settle. Printed:
//
//   gop_Ns_kept_kb_mean/max          packet bytes kept, keeping the newest group
//   gop_Ns_allocated_kb_mean/max     memory the buffer holds for them (chunks)
//   gop_Ns_premotion5_allocated_kb_mean/max   the same keeping 5 s more
//   bound_kb                         the most one camera's buffer ever holds
//   add_ns_per_packet                one packet kept (PreMotion 5, no file open)
//   reference_ns_per_packet          copying the packet into a ring of slots
//   ratio                            add / reference (time per packet)
//   cpu_per_camera_ppm               add time x packets a second, parts per
//                                    million of one core
//
// Usage: bench_packet_buffer
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_timing.h"
#include "support/files.h"
#include "tools/clipkit/asf.h"
#include "viewer/net/asf_demux.h"
#include "viewer/net/byte_source.h"
#include "viewer/net/queue_sinks.h"
#include "viewer/record/packet_buffer.h"

namespace {

constexpr std::uint32_t kSettleMs = 15000;
constexpr std::uint32_t kMeasureMs = 60000;

struct Packet {
  std::vector<std::uint8_t> bytes;
  std::uint32_t due_ms = 0;
  std::uint32_t key_at = 0;
};

bool make_clip(const std::string& prefix, int gop_frames) {
  const std::string ff = "ffmpeg -hide_banner -loglevel error -nostdin -y ";
  const std::string video = ff + "-f lavfi -i testsrc2=size=640x480:rate=15 -t 20 -c:v mpeg4 -threads 1 -bf 0 " +
                            "-sc_threshold 1000000000 -g " + std::to_string(gop_frames) +
                            " -b:v 300k -flags:v +bitexact -fflags +bitexact -f m4v '" + prefix + ".m4v'";
  const std::string audio = ff + "-f lavfi -i sine=frequency=440:sample_rate=8000 -t 20 -ar 8000 -ac 1 " +
                            "-c:a g726 -b:a 16k -f g726 '" + prefix + ".g726'";
  return std::system(video.c_str()) == 0 && std::system(audio.c_str()) == 0;
}

// camsim's stream for the clip up to end_ms, each packet with its send time
// and where our demultiplexer finds a key frame beginning in it.
bool camera_stream(const std::string& prefix, std::uint32_t end_ms, std::vector<Packet>* out) {
  clipkit::Clip clip;
  std::string error;
  if (!clipkit::load_clip(prefix, &clip, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  clipkit::CameraMuxer muxer(clip, clipkit::MuxOptions{});
  std::vector<std::uint8_t> stream = muxer.header();
  std::vector<std::uint32_t> due;
  for (clipkit::AsfPacket p = muxer.next_packet(); p.due_ms < end_ms; p = muxer.next_packet()) {
    stream.insert(stream.end(), p.bytes.begin(), p.bytes.end());
    due.push_back(p.due_ms);
  }
  net::QueuePacketSink recording;
  net::StreamSinks sinks;
  sinks.recording = &recording;
  net::StreamBuffers buffers;
  if (!buffers.allocate()) return false;
  std::atomic<bool> stop{false}, muted{false};
  net::AsfDemux demux;
  net::BufferByteSource source(stream, net::kStreamWindowBytes);
  (void)demux.run(source, sinks, buffers, net::DemuxControl{&stop, &muted});
  out->clear();
  while (auto f = recording.queue().take_front()) {
    Packet p;
    p.bytes.assign(f->data(), f->data() + f->length());
    p.due_ms = out->size() < due.size() ? due[out->size()] : 0;
    p.key_at = static_cast<std::uint32_t>(f->marker());
    out->push_back(std::move(p));
  }
  return out->size() == due.size();
}

struct Memory {
  double kept_mean = 0, kept_max = 0, allocated_mean = 0, allocated_max = 0;
};

Memory measure(const std::vector<Packet>& packets, std::uint32_t keep_ms) {
  record::PacketBuffer buffer;
  const std::vector<std::uint8_t> header(481, 0);
  buffer.set_header(header.data(), static_cast<std::uint32_t>(header.size()));
  buffer.set_keep_ms(keep_ms);
  Memory m;
  double n = 0;
  for (const Packet& p : packets) {
    buffer.add(p.bytes.data(), static_cast<std::uint32_t>(p.bytes.size()), p.due_ms, p.key_at);
    if (p.due_ms < kSettleMs) continue;
    const record::PacketBufferStats s = buffer.stats();
    m.kept_mean += static_cast<double>(s.kept_bytes);
    m.allocated_mean += static_cast<double>(s.allocated_bytes);
    m.kept_max = std::max(m.kept_max, static_cast<double>(s.kept_bytes));
    m.allocated_max = std::max(m.allocated_max, static_cast<double>(s.allocated_bytes));
    n += 1;
  }
  if (n > 0) {
    m.kept_mean /= n;
    m.allocated_mean /= n;
  }
  return m;
}

}  // namespace

int main() {
  test_support::TempDir scratch("bench-packet-buffer");

  std::vector<Packet> two_second_gop;
  for (int gop_s : {1, 2, 10}) {
    const std::string prefix = scratch / ("gop" + std::to_string(gop_s));
    std::vector<Packet> packets;
    if (!make_clip(prefix, 15 * gop_s) || !camera_stream(prefix, kSettleMs + kMeasureMs, &packets)) {
      std::fprintf(stderr, "could not make the %d s clip's stream\n", gop_s);
      return 1;
    }
    const Memory only = measure(packets, 0);
    const Memory pre = measure(packets, 5000);
    const std::string name = "gop_" + std::to_string(gop_s) + "s";
    std::printf("%s_packets_per_s: %.1f\n", name.c_str(),
                static_cast<double>(packets.size()) * 1000.0 / (kSettleMs + kMeasureMs));
    std::printf("%s_kept_kb_mean: %.0f\n", name.c_str(), only.kept_mean / 1000);
    std::printf("%s_kept_kb_max: %.0f\n", name.c_str(), only.kept_max / 1000);
    std::printf("%s_allocated_kb_mean: %.0f\n", name.c_str(), only.allocated_mean / 1000);
    std::printf("%s_allocated_kb_max: %.0f\n", name.c_str(), only.allocated_max / 1000);
    std::printf("%s_premotion5_kept_kb_mean: %.0f\n", name.c_str(), pre.kept_mean / 1000);
    std::printf("%s_premotion5_allocated_kb_mean: %.0f\n", name.c_str(), pre.allocated_mean / 1000);
    std::printf("%s_premotion5_allocated_kb_max: %.0f\n", name.c_str(), pre.allocated_max / 1000);
    if (gop_s == 2) two_second_gop = std::move(packets);
  }
  std::printf("bound_kb: %.0f\n", static_cast<double>(record::PacketBuffer::memory_bound(1600)) / 1000);

  // The cost per packet, on the 2 s stream with PreMotion 5, against copying
  // the same packets into a ring of slots the size of what is kept.
  const std::vector<Packet>& packets = two_second_gop;
  record::PacketBuffer buffer;
  const std::vector<std::uint8_t> header(481, 0);
  buffer.set_header(header.data(), static_cast<std::uint32_t>(header.size()));
  buffer.set_keep_ms(5000);
  std::uint32_t tick_base = 0;
  const std::uint32_t stream_ms = kSettleMs + kMeasureMs;
  auto add_all = [&] {
    for (const Packet& p : packets)
      buffer.add(p.bytes.data(), static_cast<std::uint32_t>(p.bytes.size()), tick_base + p.due_ms, p.key_at);
    tick_base += stream_ms;
  };
  std::vector<std::uint8_t> ring(256 * 1600);
  std::size_t slot = 0;
  auto copy_all = [&] {
    for (const Packet& p : packets) {
      std::memcpy(&ring[slot * 1600], p.bytes.data(), std::min<std::size_t>(p.bytes.size(), 1600));
      slot = (slot + 1) % 256;
    }
  };
  const auto rates = bench::best_rates(
      {{add_all, static_cast<double>(packets.size())}, {copy_all, static_cast<double>(packets.size())}});
  const double add_ns = 1e9 / rates[0];
  const double copy_ns = 1e9 / rates[1];
  const double packets_per_s = static_cast<double>(packets.size()) * 1000.0 / stream_ms;
  std::printf("add_ns_per_packet: %.0f\n", add_ns);
  std::printf("reference_ns_per_packet: %.0f\n", copy_ns);
  std::printf("reference: memcpy of each packet into a ring of 1,600-byte slots\n");
  std::printf("ratio: %.2f\n", add_ns / copy_ns);
  std::printf("cpu_per_camera_ppm: %.1f\n", add_ns * packets_per_s / 1e3);
  std::printf("checksum: %u\n", static_cast<unsigned>(ring[0] + buffer.stats().kept_packets));
  return 0;
}
