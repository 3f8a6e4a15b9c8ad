// Writing clips as the cameras' ASF live stream: one fixed header profile
// (Header Object of 431 bytes with audio, 327 without, then the 50-byte start
// of the Data Object) and data packets of one fixed size.
//
// Packet layout, the one the viewer reads at fixed offsets (little-endian):
//   0  error correction flags 0x82 and 2 bytes of error correction data
//   3  length type flags 0x11: multiple payloads, 16-bit padding length,
//      no packet length, no sequence
//   4  property flags 0x5D: 8-bit stream number, media object number and
//      replicated data length, 32-bit offset into the media object
//   5  padding length (16 bits), 7 send time (ms, 32 bits), 11 duration (16)
//   13 payload flags: 0x80 (16-bit payload lengths) | number of payloads
//   14 payloads: stream byte (1 video, 2 audio, bit 7 on key frames), media
//      object number, offset into the object (32), replicated data length (8
//      on the first payload of an object, carrying object size and
//      presentation time in ms; 0 on the continuations), payload length (16),
//      data; zero padding to the packet size.
// Objects are written whole and in presentation order, so a video frame's
// payloads are never interleaved with audio.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tools/clipkit/m4v.h"

namespace clipkit {

constexpr uint32_t kHeaderObjectBytesAv = 431;
constexpr uint32_t kHeaderObjectBytesVideoOnly = 327;
constexpr uint32_t kDataObjectStartBytes = 50;
constexpr uint32_t kPacketHeaderBytes = 14;
constexpr uint32_t kFirstPayloadHeaderBytes = 17;  // with 8 bytes of replicated data
constexpr uint32_t kNextPayloadHeaderBytes = 9;    // continuation, no replicated data
constexpr uint32_t kMaxPayloadsPerPacket = 63;     // 6-bit count
constexpr uint32_t kDefaultPacketBytes = 1600;
constexpr uint32_t kMinPacketBytes = 64;
// The viewer reads every packet out of a 12,800-byte look-ahead window.
constexpr uint32_t kMaxPacketBytes = 12800;

// G.726 at 16 kbit/s: 2,000 bytes a second; the cameras send 400-byte blocks
// of 1,600 samples, 200 ms each.
constexpr uint32_t kAudioBlockBytes = 400;
constexpr uint32_t kAudioBlockMs = 200;
constexpr uint32_t kAudioBytesPerSecond = 2000;

constexpr uint8_t kVideoStream = 1;
constexpr uint8_t kAudioStream = 2;
constexpr uint8_t kKeyFrameBit = 0x80;

using Guid = std::array<uint8_t, 16>;

// ASF object and type GUIDs in their 16-byte little-endian stored form.
extern const Guid kAsfHeaderObject;
extern const Guid kAsfDataObject;
extern const Guid kAsfFilePropertiesObject;
extern const Guid kAsfStreamPropertiesObject;
extern const Guid kAsfHeaderExtensionObject;
extern const Guid kAsfReserved1;
extern const Guid kAsfVideoMedia;
extern const Guid kAsfAudioMedia;
extern const Guid kAsfNoErrorCorrection;
extern const Guid kAsfAudioSpread;

// A clip as camsim serves it: video, and optional G.726 audio.
struct Clip {
  M4vClip video;
  std::vector<uint8_t> audio;  // whole 400-byte blocks; empty: no audio
};

// Loads PREFIX.m4v and, when it exists, PREFIX.g726 (cut to whole 400-byte
// blocks; a file shorter than one block is refused). False with a reason.
[[nodiscard]] bool load_clip(const std::string& prefix, Clip* out, std::string* error);

struct AsfProfile {
  int width = 0;
  int height = 0;
  std::array<uint8_t, kCodecDataBytes> codec_data{};
  bool audio = true;
  uint32_t packet_bytes = kDefaultPacketBytes;
  uint32_t max_bitrate = 1000000;  // File Properties' Maximum Bitrate, bits/s
  Guid file_id{};                  // File Properties and Data Object File ID
};

// The Header Object (431 or 327 bytes) followed by the 50-byte start of the
// Data Object, as the camera sends them after its HTTP reply. The File
// Properties mark the stream as a broadcast (sizes, counts and durations 0);
// the Data Object's size and packet count are 0 as the stream has no end.
std::vector<uint8_t> build_camera_header(const AsfProfile& profile);

// One media object to packetise.
struct MediaObject {
  uint8_t stream = kVideoStream;  // kVideoStream or kAudioStream
  bool key = false;
  uint32_t time_ms = 0;
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};

// A finished data packet and the time it becomes complete: the presentation
// time of the last object that put data into it. A live camera cannot send a
// packet before then.
struct AsfPacket {
  std::vector<uint8_t> bytes;
  uint32_t due_ms = 0;
};

// Cuts media objects into fixed-size packets. Not thread-safe; one per stream.
class AsfPacketizer {
 public:
  explicit AsfPacketizer(uint32_t packet_bytes);

  // Appends one object; packets it completes go to the back of *done.
  void add(const MediaObject& object, std::deque<AsfPacket>* done);
  // Pads and emits the packet under construction, if it holds any payload.
  void flush(std::deque<AsfPacket>* done);

 private:
  void finish(std::deque<AsfPacket>* done);

  uint32_t packet_bytes_;
  std::vector<uint8_t> packet_;
  uint32_t used_ = 0;  // bytes of packet_ written, header included
  uint32_t payloads_ = 0;
  uint32_t send_ms_ = 0;
  uint32_t due_ms_ = 0;
  uint8_t object_number_[3] = {0, 0, 0};  // per stream, wraps at 256
};

struct MuxOptions {
  uint32_t packet_bytes = kDefaultPacketBytes;
  bool audio = true;  // false, or a clip without audio: the 327-byte header
  Guid file_id{};
};

// The endless stream of one camera: the clip loops with presentation times
// that keep running (a pass starts where the last one ended), video and audio
// each on their own loop. Not thread-safe; one per connection.
class CameraMuxer {
 public:
  CameraMuxer(const Clip& clip, const MuxOptions& options);

  // Header Object + Data Object start, to send first.
  const std::vector<uint8_t>& header() const { return header_; }
  bool has_audio() const { return audio_; }

  // The next data packet of the endless stream.
  AsfPacket next_packet();

  // Stops after the last object whose presentation time is below end_ms and
  // returns the remaining packets, the last one padded (for finite files).
  std::vector<AsfPacket> drain_until(uint32_t end_ms);

 private:
  uint32_t next_video_ms() const;
  uint32_t next_audio_ms() const;
  void add_next_object();

  const Clip& clip_;
  bool audio_;
  std::vector<uint8_t> header_;
  AsfPacketizer packetizer_;
  std::deque<AsfPacket> ready_;
  uint64_t video_index_ = 0;  // frames sent since the start, over all passes
  uint64_t audio_index_ = 0;  // audio blocks sent since the start
};

// Writes a finite camera-profile .asf file: the header as the camera sends
// it, then the packets of the clip from time 0 up to duration_ms (0: one
// pass of the video), looping when needed. False with a reason on failure.
[[nodiscard]] bool write_camera_asf(const std::string& path, const Clip& clip, const MuxOptions& options,
                                    uint32_t duration_ms, std::string* error);

}  // namespace clipkit
