#include "viewer/net/asf_demux.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "viewer/net/asf_guids.h"
#include "viewer/net/asf_parse.h"
#include "viewer/platform/tick.h"
#include "viewer/platform/ui_seams.h"

namespace net {
namespace {

using asf::kDataObjectStartBytes;
using asf::kPacketFixedBytes;
using asf::kPreambleBytes;
using asf::le16;
using asf::le32;
using asf::le64;
static_assert(StreamBuffers::kPacketBytes >= kPreambleBytes + kStreamWindowBytes + kDataObjectStartBytes,
              "the packet buffer holds the largest header the window lets through");
static_assert(StreamBuffers::kReceiveBytes >= kStreamWindowBytes, "every read fits the receive buffer");

std::unique_ptr<std::uint8_t[]> allocate_buffer(std::size_t n) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[n]);
}

}  // namespace

bool StreamBuffers::allocate() {
  if (!receive_) receive_ = allocate_buffer(kReceiveBytes);
  if (!packet_) packet_ = allocate_buffer(kPacketBytes);
  if (!video_) video_ = allocate_buffer(kVideoFrameBytes);
  if (!audio_) audio_ = allocate_buffer(kAudioBlockBytes);
  return allocated();
}

void StreamBuffers::release() {
  receive_.reset();
  packet_.reset();
  video_.reset();
  audio_.reset();
}

void AsfDemux::reset() {
  header_length_.store(0);
  first_key_frame_.store(false);
  video_active_.store(false);
  audio_active_.store(false);
  stream_has_audio_.store(false);
  announced_width_.store(0);
}

bool AsfDemux::stopping() const { return control_.stop != nullptr && control_.stop->load(); }

bool AsfDemux::take(std::uint8_t* destination, std::uint32_t n) {
  if (n == 0 || n > kStreamWindowBytes) return false;
  if (source_->read(destination, n) != static_cast<int>(n)) return false;
  return !stopping();
}

int AsfDemux::run(ByteSource& source, const StreamSinks& sinks, StreamBuffers& buffers, const DemuxControl& control) {
  source_ = &source;
  sinks_ = &sinks;
  buffers_ = &buffers;
  control_ = control;

  if (read_header()) {
    std::uint8_t* packet = buffers_->packet();
    // Packets must hold their fixed fields and fit the window.
    const bool usable = packet_size_ >= asf::kPacketFixedBytes && packet_size_ <= kStreamWindowBytes;
    while (usable && take(packet, packet_size_)) {
      const std::uint32_t arrival = platform::tick_ms();
      if (!parse_packet(packet)) break;
      // Every packet read whole and sound goes to the recording side, which
      // decides where a file may begin: at a packet that begins a key frame,
      // so that no file starts with pictures it could not show. A packet that
      // ended the stream is not recorded.
      if (sinks_->recording) sinks_->recording->AddPacket(packet, packet_size_, arrival, packet_key_start_);
      if (stopping()) break;
    }
  }
  source_ = nullptr;
  sinks_ = nullptr;
  buffers_ = nullptr;
  return -1;
}

bool AsfDemux::read_header() {
  video_complete_ = true;
  video_size_ = 0;
  video_received_ = 0;
  video_time_ = 0;
  audio_size_ = 0;
  audio_received_ = 0;
  audio_time_ = 0;
  video_begun_ = false;
  audio_begun_ = false;
  frames_before_key_ = 0;
  if (!buffers_->allocated()) return false;
  std::uint8_t* receive = buffers_->receive();
  std::uint8_t* header = buffers_->packet();

  if (!take(receive, kPreambleBytes)) return false;
  if (!asf::guid_at(receive, asf::kHeaderObject)) return false;
  std::memcpy(preamble_, receive, kPreambleBytes);
  std::memcpy(header, receive, kPreambleBytes);

  // The rest of the Header Object is read in one piece, so it must fit the
  // connection's window.
  const std::uint64_t header_size = le64(preamble_ + 16);
  if (header_size <= kPreambleBytes || header_size - kPreambleBytes > kStreamWindowBytes) return false;
  const auto body_len = static_cast<std::uint32_t>(header_size - kPreambleBytes);
  if (!take(receive, body_len)) return false;
  std::memcpy(header + kPreambleBytes, receive, body_len);

  std::memset(file_properties_, 0, sizeof file_properties_);
  std::memset(stream_properties_, 0, sizeof stream_properties_);
  std::memset(header_extension_, 0, sizeof header_extension_);
  have_file_properties_ = false;
  if (!walk_header_objects(receive, body_len, le32(preamble_ + 24))) return false;

  if (!take(receive, kDataObjectStartBytes)) return false;
  // Only the cameras' two header layouts are known; the consumers set up
  // above are undone by the clean-up that follows the end of the stream.
  if (header_size != asf::kHeaderWithAudio && header_size != asf::kHeaderVideoOnly) return false;
  std::memcpy(header + header_size, receive, kDataObjectStartBytes);
  const auto blob_len = static_cast<std::uint32_t>(header_size + kDataObjectStartBytes);
  header_length_.store(blob_len);
  if (sinks_->recording) sinks_->recording->SetHeader(header, blob_len);

  std::memcpy(data_object_, receive, kDataObjectStartBytes);
  packet_size_ = have_file_properties_ ? le32(file_properties_ + asf::kMinPacketSizeOffset) : 0;
  // Video is held back until the sound has reached its time.
  if (audio_active_.load() && sinks_->video) sinks_->video->set_audio_source(sinks_->audio);
  return !stopping();
}

bool AsfDemux::walk_header_objects(const std::uint8_t* body, std::uint32_t body_len, std::uint32_t count) {
  // Every object's ID and size lie inside the header, and every object but
  // the last ends inside it; nothing is read beyond what was received.
  return asf::walk_header_children(body, body_len, count, [this](const asf::HeaderChild& child) {
    const std::uint8_t* object = child.object;
    if (asf::guid_at(object, asf::kHeaderExtensionObject)) {
      if (child.readable < sizeof header_extension_) return false;
      std::memcpy(header_extension_, object, sizeof header_extension_);
    } else if (asf::guid_at(object, asf::kFilePropertiesObject)) {
      if (child.readable < sizeof file_properties_) return false;
      std::memcpy(file_properties_, object, sizeof file_properties_);
      have_file_properties_ = true;
    } else if (asf::guid_at(object, asf::kStreamPropertiesObject)) {
      if (!take_stream_properties(child)) return false;
    }
    return true;
  });
}

bool AsfDemux::take_stream_properties(const asf::HeaderChild& child) {
  if (child.readable < asf::kStreamPropertiesFixed) return false;
  std::memcpy(stream_properties_, child.object, asf::kStreamPropertiesFixed);
  const std::uint8_t* type = child.object + asf::kStreamTypeOffset;

  if (asf::guid_at(type, asf::kVideoMedia)) {
    // A header whose VOL disagrees with its bitmap header is not the cameras'.
    if (child.readable < asf::kCodecDataOffset + asf::kCodecDataBytes) return false;
    asf::VideoFormat format;
    const bool agrees = asf::read_video_format(child, &format);
    width_ = format.width;
    height_ = format.height;
    std::memcpy(codec_data_, format.codec_data, sizeof codec_data_);
    if (!agrees) return false;
    announced_width_.store(width_);
    if (sinks_->video) {
      if (!sinks_->video->setup(width_, height_, codec_data_, static_cast<int>(asf::kCodecDataBytes))) {
        video_active_.store(false);
        return false;
      }
      if (!sinks_->video->start()) return false;
      video_active_.store(true);
    }
  } else if (asf::guid_at(type, asf::kAudioMedia)) {
    // The audio format is fixed (G.726 at 16 kbit/s); the stream's own wave
    // format is not read. Without sound the stream goes on silent.
    stream_has_audio_.store(true);
    if (sinks_->audio && sinks_->audio->setup()) {
      audio_active_.store(true);
      sinks_->audio->start();
      if (control_.muted && control_.muted->load()) sinks_->audio->set_volume(-10000);
    } else {
      audio_active_.store(false);
    }
  }
  return true;
}

std::uint32_t packet_from_payload(const std::uint8_t* packet, std::uint32_t size, std::uint32_t payload_at,
                                  std::uint8_t* out) {
  if (packet == nullptr || size < kPacketFixedBytes || payload_at <= kPacketFixedBytes || payload_at >= size) return 0;
  const std::uint32_t payloads = packet[13] & 0x3Fu;
  std::uint32_t before = payloads;  // payloads ahead of payload_at
  std::uint32_t pos = kPacketFixedBytes;
  const bool whole = asf::for_each_payload(packet, size, [&](const asf::Payload& p) {
    if (p.head_at == payload_at) before = p.index;
    pos = p.end_at;
    return true;
  });
  if (!whole || before == payloads) return 0;
  // Same size: the bytes taken out become padding at the end, and the
  // packet's padding length says so.
  const std::uint32_t removed = payload_at - kPacketFixedBytes;
  const std::uint32_t kept = pos - payload_at;
  const std::uint32_t padding = le16(packet + 5) + removed;
  if (padding > 0xFFFFu) return 0;
  std::memcpy(out, packet, kPacketFixedBytes);
  out[5] = static_cast<std::uint8_t>(padding);
  out[6] = static_cast<std::uint8_t>(padding >> 8);
  out[13] = static_cast<std::uint8_t>((packet[13] & 0xC0u) | (payloads - before));
  std::memmove(out + kPacketFixedBytes, packet + payload_at, kept);
  std::memset(out + kPacketFixedBytes + kept, 0, size - kPacketFixedBytes - kept);
  return size;
}

bool AsfDemux::parse_packet(const std::uint8_t* packet) {
  packet_key_start_ = 0;
  return asf::for_each_payload(packet, packet_size_, [this](const asf::Payload& p) {
    if (stopping()) return false;
    // The rest of a frame or block whose start came before the stream
    // did: nothing can be made of it, and it is no fault of the stream.
    const bool video = p.stream == kStreamVideo || p.stream == kStreamVideoKey;
    if (!p.new_object && ((video && !video_begun_) || (p.stream == kStreamAudio && !audio_begun_))) return true;
    if (video) video_begun_ = true;
    if (p.stream == kStreamAudio) audio_begun_ = true;

    if (video) {
      if (p.new_object) {
        if (p.object_size > kMaxVideoObjectBytes) {
          platform::notify("error video data", "warning");
          return false;
        }
        video_size_ = p.object_size;
        video_time_ = p.object_time;
        video_received_ = 0;
        if (!video_complete_) return false;  // the previous frame never completed
        // Where a file may begin: the first payload that starts a key frame.
        if (p.stream == kStreamVideoKey && p.offset == 0 && packet_key_start_ == 0) packet_key_start_ = p.head_at;
      }
      return video_payload(p.stream, p.offset, p.data, p.length);
    }
    if (p.stream == kStreamAudio) {
      if (p.new_object) {
        // An unfinished block is dropped.
        audio_size_ = p.object_size;
        audio_time_ = p.object_time;
        audio_received_ = 0;
      }
      return !audio_active_.load() || audio_payload(p.offset, p.data, p.length);
    }
    return false;
  });
}

bool AsfDemux::video_payload(std::uint8_t stream, std::uint32_t offset, const std::uint8_t* data, std::uint32_t len) {
  video_received_ += len;
  video_complete_ = false;
  if (video_received_ > video_size_) return false;
  if (!asf::payload_fits_buffer(offset, len)) return false;
  std::uint8_t* frame = buffers_->video();
  std::memcpy(frame + offset, data, len);
  if (video_received_ != video_size_) return true;

  video_complete_ = true;
  // Sizes up to 640 x 480 bytes are announced, but only what the frame
  // buffer holds can have been placed; a larger "complete" frame was built
  // from overlapping pieces.
  if (video_size_ > StreamBuffers::kVideoFrameBytes) return false;
  if (!first_key_frame_.load() && stream == kStreamVideoKey) first_key_frame_.store(true);
  VideoSink* video = sinks_->video;
  if (video == nullptr) return true;
  if (video->thread_ended() || video->queue().count() > kMaxVideoFramesWaiting) return false;
  // Frames before the first key frame could not be decoded.
  if (first_key_frame_.load()) {
    auto f = std::make_unique<MediaFrame>();
    if (f->set(frame, video_size_, video_time_, stream)) {
      // When the packet that completed it came off the network (the time it
      // waited in the connection's window counts), else now.
      const std::uint32_t arrived = source_->arrival_tick();
      f->set_arrival_tick(arrived != 0 ? arrived : platform::tick_ms());
      video->queue().push_back(std::move(f));
    }
  } else {
    ++frames_before_key_;
  }
  return true;
}

bool AsfDemux::audio_payload(std::uint32_t offset, const std::uint8_t* data, std::uint32_t len) {
  audio_received_ += len;
  if (audio_received_ > audio_size_) return false;
  if (!asf::payload_fits_buffer(offset, len)) return false;
  std::uint8_t* block = buffers_->audio();
  std::memcpy(block + offset, data, len);
  if (audio_received_ != audio_size_) return true;

  if (audio_size_ > StreamBuffers::kAudioBlockBytes) return false;
  AudioSink* audio = sinks_->audio;
  FrameQueue& q = audio->queue();
  if (q.count() >= kMaxAudioBlocksWaiting) (void)q.take_front();
  if (audio->thread_ended()) return false;
  auto f = std::make_unique<MediaFrame>();
  if (f->set(block, audio_size_, audio_time_, 0)) q.push_back(std::move(f));
  audio_received_ = 0;
  return true;
}

}  // namespace net
