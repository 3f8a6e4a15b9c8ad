#include "player/engine/packet_demux.h"

#include <cstring>

#include "viewer/net/asf_demux.h"
#include "viewer/net/asf_parse.h"

namespace player {
namespace asf = net::asf;

namespace {
constexpr std::size_t kObjectBufferBytes = asf::kPayloadOffsetLimit;  // 65,535, as the live buffers
}

PacketDemux::PacketDemux(bool audio)
    : audio_(audio),
      video_buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kObjectBufferBytes)),
      audio_buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kObjectBufferBytes)) {}

void PacketDemux::reset() {
  video_ = Assembly{};
  audio_block_ = Assembly{};
}

bool PacketDemux::video_in_progress(StreamPosition* start) const {
  if (!video_.active) return false;
  *start = video_.start;
  return true;
}

void PacketDemux::drop(Assembly& a) {
  if (a.active) ++dropped_objects_;
  a = Assembly{};
}

bool PacketDemux::add(Assembly& a, std::uint8_t* buffer, std::uint32_t offset, const std::uint8_t* data,
                      std::uint32_t len) {
  // A continuation of an object never started here is skipped silently.
  if (!a.active) return false;
  a.received += len;
  if (a.received > a.size || !asf::payload_fits_buffer(offset, len)) {
    drop(a);
    return false;
  }
  std::memcpy(buffer + offset, data, len);
  if (a.received != a.size) return false;
  // Sizes beyond the buffer can be announced but were never placed whole:
  // such an object was built from overlapping pieces.
  if (a.size > kObjectBufferBytes) {
    drop(a);
    return false;
  }
  return true;
}

bool PacketDemux::feed(const std::uint8_t* packet, std::uint32_t size, std::uint64_t index, DemuxSink& sink) {
  const bool ok =
      size >= asf::kPacketFixedBytes && asf::for_each_payload(packet, size, [&](const asf::Payload& p) {
        const StreamPosition here{index, p.index};
        if (p.stream == net::kStreamVideo || p.stream == net::kStreamVideoKey) {
          if (p.new_object) {
            // An unfinished frame cannot be shown; the live stream would end here.
            drop(video_);
            if (p.object_size > net::kMaxVideoObjectBytes) {
              ++dropped_objects_;
              return true;
            }
            video_ = Assembly{true, p.object_size, 0, p.object_time, here};
          }
          if (add(video_, video_buffer_.get(), p.offset, p.data, p.length)) {
            sink.video_frame(
                {video_buffer_.get(), video_.size, video_.time, p.stream == net::kStreamVideoKey, video_.start});
            video_ = Assembly{};
          }
          return true;
        }
        if (p.stream == net::kStreamAudio) {
          if (!audio_) return true;
          if (p.new_object) {
            drop(audio_block_);
            audio_block_ = Assembly{true, p.object_size, 0, p.object_time, here};
          }
          if (add(audio_block_, audio_buffer_.get(), p.offset, p.data, p.length)) {
            sink.audio_block({audio_buffer_.get(), audio_block_.size, audio_block_.time, false, audio_block_.start});
            audio_block_ = Assembly{};
          }
          return true;
        }
        return false;  // not a stream of the cameras' profile: the packet is garbage
      });
  if (!ok) {
    ++bad_packets_;
    drop(video_);
    drop(audio_block_);
  }
  return ok;
}

}  // namespace player
