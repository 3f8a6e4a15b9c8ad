// The live ASF stream of a camera, taken apart.
//
// After the video request was accepted the camera sends a Header Object, the
// start of a Data Object and then data packets of one fixed size for as long
// as the connection lives. The demultiplexer reads the header, sets up the
// camera's video and audio consumers from it, gives the header to the
// camera's recording side, and then rebuilds video frames and audio blocks
// from the packets' payloads, queues them, and hands every packet to the
// recording side, marked when it begins a key frame.
//
// It reads the cameras' own ASF profile at fixed positions: packets with two
// bytes of error correction data, several payloads, 8-bit stream number,
// media object number and replicated data length, 32-bit offset and 16-bit
// payload length (Advanced Systems Format 1.2, 5.2). Stream 1 is video,
// stream 2 audio. Everything it reads is checked against the bytes actually
// received; anything that does not fit ends the stream.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "viewer/net/asf_parse.h"
#include "viewer/net/byte_source.h"
#include "viewer/net/stream_sinks.h"

namespace net {

// The four buffers of a connected camera: allocated when a connection is
// made, released by the clean-up after it.
class StreamBuffers {
 public:
  // Sized to what a connection reads into them: a piece of the header (at
  // most one window), then the whole header with the Data Object start, then
  // one packet at a time (at most one window).
  static constexpr std::size_t kReceiveBytes = kStreamWindowBytes;
  static constexpr std::size_t kPacketBytes =
      30 + kStreamWindowBytes + 50;  // header and Data Object start, later each packet
  static constexpr std::size_t kVideoFrameBytes = 65535;
  static constexpr std::size_t kAudioBlockBytes = 65535;
  static constexpr std::size_t kTotalBytes = kReceiveBytes + kPacketBytes + kVideoFrameBytes + kAudioBlockBytes;

  // Allocates the missing buffers; false when memory ran out.
  [[nodiscard]] bool allocate();
  void release();
  bool allocated() const { return receive_ && packet_ && video_ && audio_; }

  std::uint8_t* receive() { return receive_.get(); }
  std::uint8_t* packet() { return packet_.get(); }
  std::uint8_t* video() { return video_.get(); }
  std::uint8_t* audio() { return audio_.get(); }

 private:
  std::unique_ptr<std::uint8_t[]> receive_, packet_, video_, audio_;
};

// Stream bytes of the payloads.
inline constexpr std::uint8_t kStreamVideo = 0x01;
inline constexpr std::uint8_t kStreamVideoKey = 0x81;  // stream 1 with the key-frame bit
inline constexpr std::uint8_t kStreamAudio = 0x02;

inline constexpr std::uint32_t kMaxVideoObjectBytes = 307200;  // 640 x 480
inline constexpr std::size_t kMaxAudioBlocksWaiting = 3;       // keeps sound close to live
inline constexpr std::size_t kMaxVideoFramesWaiting = 1024;

// A copy of a camera packet (size bytes) that begins with its payload at
// payload_at (a byte offset within it): the payloads ahead of that one are
// left out, the payload count and the padding length say so, and the copy
// keeps the packet's size. A recording that begins where a key frame does
// starts with such a copy, so that no player meets the pictures before the
// key frame. Writes size bytes to out and returns size; 0 when payload_at is
// not where a payload of the packet begins, or is its first (nothing to take
// out; out untouched). Any thread.
[[nodiscard]] std::uint32_t packet_from_payload(const std::uint8_t* packet, std::uint32_t size,
                                                std::uint32_t payload_at, std::uint8_t* out);

// Flags the demultiplexer polls; owned by the camera's stream.
struct DemuxControl {
  const std::atomic<bool>* stop = nullptr;   // a stop request: end the stream
  const std::atomic<bool>* muted = nullptr;  // audio is set up silent
};

class AsfDemux {
 public:
  // Reads the stream until it ends, breaks or a stop is requested; always
  // returns -1. Runs on the camera's stream thread; sinks may be null.
  [[nodiscard]] int run(ByteSource& source, const StreamSinks& sinks, StreamBuffers& buffers,
                        const DemuxControl& control);

  // Forgets the last connection's header, consumers and key frame (clean-up).
  void reset();

  // 481 or 377 once a header and the Data Object start were read, else 0.
  // Any thread.
  std::uint32_t header_length() const { return header_length_.load(); }
  bool first_key_frame_seen() const { return first_key_frame_.load(); }
  // Whole video frames of this stream passed over because no key frame had
  // come yet (they could not be decoded). The demultiplexing thread.
  std::uint32_t frames_before_first_key() const { return frames_before_key_; }
  bool video_active() const { return video_active_.load(); }
  bool audio_active() const { return audio_active_.load(); }
  // The header of this connection announced a sound stream (whether or not
  // this machine can play it). Any thread.
  bool stream_has_audio() const { return stream_has_audio_.load(); }
  // Picture width of this connection's header; 0 before it. Any thread.
  int announced_width() const { return announced_width_.load(); }

  // Of the last header read (stream thread, or after it ended).
  std::uint32_t packet_size() const { return packet_size_; }
  int picture_width() const { return width_; }
  int picture_height() const { return height_; }
  const std::uint8_t* codec_data() const { return codec_data_; }

 private:
  [[nodiscard]] bool take(std::uint8_t* destination, std::uint32_t n);
  [[nodiscard]] bool stopping() const;
  [[nodiscard]] bool read_header();
  [[nodiscard]] bool walk_header_objects(const std::uint8_t* body, std::uint32_t body_len, std::uint32_t count);
  [[nodiscard]] bool take_stream_properties(const asf::HeaderChild& child);
  [[nodiscard]] bool parse_packet(const std::uint8_t* packet);
  [[nodiscard]] bool video_payload(std::uint8_t stream, std::uint32_t offset, const std::uint8_t* data,
                                   std::uint32_t len);
  [[nodiscard]] bool audio_payload(std::uint32_t offset, const std::uint8_t* data, std::uint32_t len);

  // Of the current run.
  ByteSource* source_ = nullptr;
  const StreamSinks* sinks_ = nullptr;
  StreamBuffers* buffers_ = nullptr;
  DemuxControl control_;

  std::atomic<std::uint32_t> header_length_{0};
  std::atomic<bool> first_key_frame_{false};
  std::atomic<bool> video_active_{false};
  std::atomic<bool> audio_active_{false};
  std::atomic<bool> stream_has_audio_{false};
  std::atomic<int> announced_width_{0};

  std::uint8_t preamble_[30] = {};
  std::uint8_t file_properties_[104] = {};
  std::uint8_t stream_properties_[78] = {};
  std::uint8_t header_extension_[46] = {};
  std::uint8_t data_object_[50] = {};
  std::uint8_t codec_data_[18] = {};
  bool have_file_properties_ = false;
  std::uint32_t packet_size_ = 0;
  int width_ = 0;
  int height_ = 0;

  // Progress of the frame and block being rebuilt. Counters are 64-bit so
  // that a stream of empty continuations cannot wrap them.
  std::uint32_t video_size_ = 0;
  std::uint64_t video_received_ = 0;
  bool video_complete_ = true;
  std::uint32_t video_time_ = 0;
  std::uint32_t audio_size_ = 0;
  std::uint64_t audio_received_ = 0;
  std::uint32_t audio_time_ = 0;
  std::uint32_t packet_key_start_ = 0;  // where in the packet being parsed a key frame begins, or 0
  // No frame or block has begun yet: the stream may start inside one (a
  // recording, or a file cut by hand), whose remaining pieces are skipped.
  bool video_begun_ = false;
  bool audio_begun_ = false;
  std::uint32_t frames_before_key_ = 0;
};

}  // namespace net
