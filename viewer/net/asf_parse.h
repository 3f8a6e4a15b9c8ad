// Bounded readers of the cameras' ASF profile, shared by the live stream's
// demultiplexer and by the player of recorded files: the walk over the Header
// Object's children, the video stream's format, and the payloads of one data
// packet. They check every size, count and offset against the bytes they are
// given and never read past them; what to do with a failure (end a live
// stream, skip a packet of a file) is the caller's decision.
//
// Layouts: Advanced Systems Format 1.2, 3.1 (Header Object), 3.2 (File
// Properties), 3.3 (Stream Properties with a video media type, 9.2), 5.2
// (data packets: two bytes of error correction data, several payloads, 8-bit
// stream number, media object number and replicated data length, 32-bit
// offset into the media object, 16-bit payload lengths).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "viewer/net/asf_guids.h"

namespace net::asf {

// Header Object preamble: ID, 64-bit size, 32-bit object count, 2 reserved.
inline constexpr std::uint32_t kPreambleBytes = 30;
// The fixed start of the Data Object: ID, 64-bit size, file ID, 64-bit
// packet count, 2 reserved.
inline constexpr std::uint32_t kDataObjectStartBytes = 50;
inline constexpr std::uint32_t kObjectHeadBytes = 24;  // ID and 64-bit size
// The two header sizes of the cameras' profile: video and audio, or video only.
inline constexpr std::uint64_t kHeaderWithAudio = 431;
inline constexpr std::uint64_t kHeaderVideoOnly = 327;

// What the readers need of the header's children. In a Stream Properties
// Object whose type-specific data is a video media type the BITMAPINFOHEADER
// starts at 89 and the codec-specific data behind it at 129.
inline constexpr std::size_t kHeaderExtensionBytes = 46;
inline constexpr std::size_t kFilePropertiesBytes = 104;
inline constexpr std::size_t kMinPacketSizeOffset = 92;  // in the File Properties Object
inline constexpr std::size_t kStreamTypeOffset = 24;
inline constexpr std::size_t kStreamPropertiesFixed = 78;
inline constexpr std::size_t kBitmapWidthOffset = 93;
inline constexpr std::size_t kBitmapHeightOffset = 97;
inline constexpr std::size_t kCodecDataOffset = 129;
inline constexpr std::size_t kCodecDataBytes = 18;

// Fixed fields in front of a packet's first payload.
inline constexpr std::uint32_t kPacketFixedBytes = 14;
inline constexpr std::uint32_t kPayloadHeadBytes = 7;  // stream, object number, offset, replicated length
// Payload data must stay inside the 65,535-byte frame and block buffers.
inline constexpr std::uint32_t kPayloadOffsetLimit = 65535;

inline std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint64_t le64(const std::uint8_t* p) { return le32(p) | static_cast<std::uint64_t>(le32(p + 4)) << 32; }

// One child object of the Header Object: its first byte, its declared size
// and how many of its bytes lie inside the header (the last object may claim
// more than there is).
struct HeaderChild {
  const std::uint8_t* object;
  std::uint64_t size;
  std::size_t readable;
};

// Walks `count` child objects of a Header Object body (the bytes after the
// 30-byte preamble). Every object's ID and size must lie inside the body,
// and every object but the last must end inside it. Calls visit(child) for
// each; returns false at the first object that breaks the rule or when visit
// returns false, true after the last object.
template <class Visit>
[[nodiscard]] bool walk_header_children(const std::uint8_t* body, std::uint32_t body_len, std::uint32_t count,
                                        Visit&& visit) {
  std::uint32_t pos = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (body_len - pos < kObjectHeadBytes) return false;
    const std::uint8_t* object = body + pos;
    const std::uint64_t size = le64(object + 16);
    if (size < kObjectHeadBytes) return false;
    const bool last = i + 1 == count;
    if (!last && size > body_len - pos) return false;
    const std::uint64_t left = body_len - pos;
    const HeaderChild child{object, size, static_cast<std::size_t>(size < left ? size : left)};
    if (!visit(child)) return false;
    if (last) break;
    pos += static_cast<std::uint32_t>(size);
  }
  return true;
}

// The picture format of a video Stream Properties Object.
struct VideoFormat {
  int width = 0;
  int height = 0;
  std::uint8_t codec_data[kCodecDataBytes] = {};
};

// Reads width, height and the 18 bytes of codec data (the VO and VOL
// headers) of a Stream Properties Object whose stream type is video. False
// when the object is too short, or when byte 15 of the codec data, which
// carries the low byte of the picture height in the cameras' VOL header,
// disagrees with the bitmap header's height (0xE0 stands for 480).
[[nodiscard]] inline bool read_video_format(const HeaderChild& child, VideoFormat* out) {
  if (child.readable < kCodecDataOffset + kCodecDataBytes) return false;
  out->width = static_cast<std::int32_t>(le32(child.object + kBitmapWidthOffset));
  out->height = static_cast<std::int32_t>(le32(child.object + kBitmapHeightOffset));
  std::memcpy(out->codec_data, child.object + kCodecDataOffset, kCodecDataBytes);
  const int expected_height = out->codec_data[15] == 0xE0 ? 480 : out->codec_data[15];
  return out->height == expected_height;
}

// One payload of a data packet.
struct Payload {
  std::uint8_t stream;        // stream byte: 0x01 video, 0x81 video key frame, 0x02 audio
  std::uint32_t offset;       // where the data goes in its media object
  bool new_object;            // replicated data present: a media object starts here
  std::uint32_t object_size;  // with new_object: the object's size
  std::uint32_t object_time;  // with new_object: its presentation time, ms
  const std::uint8_t* data;
  std::uint32_t length;
  std::uint32_t index;    // position among the packet's payloads, from 0
  std::uint32_t head_at;  // where the payload's head begins in the packet
  std::uint32_t end_at;   // just behind its data
};

// Cuts one packet of `size` bytes (at least kPacketFixedBytes) into its
// payloads and calls visit(payload) for each, in order. Replicated data of 8
// bytes or more opens a new media object: its first eight bytes are the
// object's size and presentation time (5.2.3.1), further bytes are extension
// data and skipped. Lengths 1 to 7 (compressed payloads, or a broken packet)
// are not part of the cameras' profile. Returns false when a payload does
// not fit the packet or when visit returns false; padding is never read.
template <class Visit>
[[nodiscard]] bool for_each_payload(const std::uint8_t* packet, std::uint32_t size, Visit&& visit) {
  const std::uint32_t payloads = packet[13] & 0x3Fu;
  std::uint32_t pos = kPacketFixedBytes;
  for (std::uint32_t k = 0; k < payloads; ++k) {
    if (size - pos < kPayloadHeadBytes) return false;
    Payload p{};
    p.head_at = pos;
    p.stream = packet[pos];
    p.offset = le32(packet + pos + 2);
    const std::uint8_t replicated = packet[pos + 6];
    pos += kPayloadHeadBytes;
    if (replicated != 0) {
      if (replicated < 8 || size - pos < replicated) return false;
      p.object_size = le32(packet + pos);
      p.object_time = le32(packet + pos + 4);
      pos += replicated;
      p.new_object = true;
    }
    if (size - pos < 2) return false;
    p.length = le16(packet + pos);
    pos += 2;
    if (size - pos < p.length) return false;
    p.data = packet + pos;
    pos += p.length;
    p.end_at = pos;
    p.index = k;
    if (!visit(p)) return false;
  }
  return true;
}

// True when a payload of `length` bytes at `offset` stays inside a
// 65,535-byte frame or block buffer.
inline bool payload_fits_buffer(std::uint32_t offset, std::uint32_t length) {
  return offset < kPayloadOffsetLimit && length < kPayloadOffsetLimit - offset;
}

}  // namespace net::asf
