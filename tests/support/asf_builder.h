// Builds camera-like ASF live streams for tests: a Header Object of 431
// bytes (video and audio) or 327 bytes (video only), the 50-byte start of
// the Data Object, and fixed-size packets carrying video frames and audio
// blocks as payloads, laid out the way the cameras send them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "viewer/net/asf_guids.h"

namespace testasf {

using Bytes = std::vector<std::uint8_t>;

inline void put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put64(Bytes& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put_guid(Bytes& b, std::size_t at, const net::asf::Guid& g) {
  std::memcpy(b.data() + at, g.data(), g.size());
}

inline Bytes object(const net::asf::Guid& id, std::size_t size) {
  Bytes o(size, 0);
  put_guid(o, 0, id);
  put64(o, 16, size);
  return o;
}

struct Layout {
  int width = 320;
  int height = 240;
  bool audio = true;
  std::uint32_t packet_size = 1024;
  bool file_properties = true;
};

// The 18 bytes of codec data; byte 15 carries the low byte of the height
// the way the cameras' VOL headers do.
inline Bytes codec_data(int height) {
  Bytes c = {0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01, 0xB5,
             0x09, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};
  c[15] = height == 480 ? 0xE0 : static_cast<std::uint8_t>(height);
  return c;
}

inline Bytes file_properties(std::uint32_t packet_size) {
  Bytes o = object(net::asf::kFilePropertiesObject, 104);
  put32(o, 88, 1);  // broadcast
  put32(o, 92, packet_size);
  put32(o, 96, packet_size);
  return o;
}

inline Bytes video_stream_properties(int width, int height) {
  Bytes o = object(net::asf::kStreamPropertiesObject, 147);
  put_guid(o, 24, net::asf::kVideoMedia);
  put32(o, 64, 69);  // type-specific data: 11 + 40 + 18
  put16(o, 72, 1);   // stream 1
  put32(o, 78, static_cast<std::uint32_t>(width));
  put32(o, 82, static_cast<std::uint32_t>(height));
  put16(o, 87, 58);
  put32(o, 89, 58);  // bitmap header size including the codec data
  put32(o, 93, static_cast<std::uint32_t>(width));
  put32(o, 97, static_cast<std::uint32_t>(height));
  put16(o, 101, 1);
  put16(o, 103, 24);
  std::memcpy(o.data() + 105, "M4S2", 4);
  const Bytes c = codec_data(height);
  std::copy(c.begin(), c.end(), o.begin() + 129);
  return o;
}

inline Bytes audio_stream_properties() {
  Bytes o = object(net::asf::kStreamPropertiesObject, 104);
  put_guid(o, 24, net::asf::kAudioMedia);
  put32(o, 64, 18);
  put32(o, 68, 8);
  put16(o, 72, 2);       // stream 2
  put16(o, 78, 0x0045);  // G.726
  put16(o, 80, 1);
  put32(o, 82, 8000);
  put32(o, 86, 2000);
  return o;
}

inline Bytes header_extension() { return object(net::asf::kHeaderExtensionObject, 46); }

// Header Object (preamble and children) followed by the Data Object start.
inline Bytes header(const Layout& l, const std::vector<Bytes>* children_override = nullptr) {
  std::vector<Bytes> children;
  if (children_override) {
    children = *children_override;
  } else {
    if (l.file_properties) children.push_back(file_properties(l.packet_size));
    children.push_back(video_stream_properties(l.width, l.height));
    children.push_back(header_extension());
    if (l.audio) children.push_back(audio_stream_properties());
  }
  std::size_t size = 30;
  for (const Bytes& c : children) size += c.size();
  Bytes h = object(net::asf::kHeaderObject, 30);
  put64(h, 16, size);
  put32(h, 24, static_cast<std::uint32_t>(children.size()));
  h[28] = 0x01;
  h[29] = 0x02;
  for (const Bytes& c : children) h.insert(h.end(), c.begin(), c.end());
  Bytes data = object(net::asf::kDataObject, 50);
  data[48] = 0x01;
  data[49] = 0x01;
  h.insert(h.end(), data.begin(), data.end());
  return h;
}

struct Payload {
  std::uint8_t stream = 0x01;
  std::uint8_t object_number = 0;
  std::uint32_t offset = 0;
  Bytes replicated;  // empty, or object size and presentation time
  Bytes data;
};

inline Bytes replicated(std::uint32_t object_size, std::uint32_t time_ms) {
  Bytes r(8, 0);
  put32(r, 0, object_size);
  put32(r, 4, time_ms);
  return r;
}

inline std::size_t payload_bytes(const Payload& p) { return 7 + p.replicated.size() + 2 + p.data.size(); }

// One packet of exactly packet_size bytes. Payloads that do not fit are a
// mistake in the test itself: it throws (a failed test) rather than write past
// the packet and hand the demultiplexer something else than the test meant.
inline Bytes packet(std::uint32_t packet_size, const std::vector<Payload>& payloads, std::uint32_t send_time = 0) {
  std::size_t needed = 14;
  for (const Payload& p : payloads) needed += payload_bytes(p);
  if (needed > packet_size || payloads.size() > 0x3F) {
    throw std::length_error("testasf::packet: payloads need " + std::to_string(needed) + " bytes, packet has " +
                            std::to_string(packet_size));
  }
  Bytes b(packet_size, 0);
  b[0] = 0x82;  // error correction data present, two bytes
  b[3] = 0x11;
  b[4] = 0x5D;
  put32(b, 7, send_time);
  b[13] = static_cast<std::uint8_t>(0x80 | (payloads.size() & 0x3F));
  std::size_t at = 14;
  for (const Payload& p : payloads) {
    b[at] = p.stream;
    b[at + 1] = p.object_number;
    put32(b, at + 2, p.offset);
    b[at + 6] = static_cast<std::uint8_t>(p.replicated.size());
    at += 7;
    std::copy(p.replicated.begin(), p.replicated.end(), b.begin() + at);
    at += p.replicated.size();
    put16(b, at, static_cast<std::uint16_t>(p.data.size()));
    at += 2;
    std::copy(p.data.begin(), p.data.end(), b.begin() + at);
    at += p.data.size();
  }
  put16(b, 5, static_cast<std::uint16_t>(packet_size - at));  // padding length
  return b;
}

struct MediaObject {
  std::uint8_t stream;  // 0x01, 0x81 or 0x02
  std::uint32_t time_ms;
  Bytes data;
};

// A frame or block of n bytes whose content identifies it.
inline Bytes pattern(std::size_t n, std::uint32_t seed) {
  Bytes b(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<std::uint8_t>(x >> 16);
  }
  return b;
}

struct Packets {
  std::vector<Bytes> packets;
  // For each object, the index of the packet holding its last byte, and of
  // the one holding its first.
  std::vector<std::size_t> completed_in;
  std::vector<std::size_t> started_in;
};

// Cuts the objects into payloads, in order, filling packets as the cameras
// do: the first payload of an object carries replicated data, the rest none.
inline Packets packetize(std::uint32_t packet_size, const std::vector<MediaObject>& objects) {
  Packets out;
  std::vector<Payload> current;
  std::size_t used = 14;
  auto flush = [&] {
    out.packets.push_back(packet(packet_size, current, static_cast<std::uint32_t>(out.packets.size())));
    current.clear();
    used = 14;
  };
  for (std::size_t i = 0; i < objects.size(); ++i) {
    const MediaObject& o = objects[i];
    std::size_t sent = 0;
    std::uint8_t number = static_cast<std::uint8_t>(i);
    do {
      const std::size_t head = 7 + (sent == 0 ? 8 : 0) + 2;
      if (current.size() == 63 || used + head + 1 > packet_size) {
        flush();
        continue;
      }
      const std::size_t room = packet_size - used - head;
      const std::size_t n = std::min(room, o.data.size() - sent);
      Payload p;
      p.stream = o.stream;
      p.object_number = number;
      p.offset = static_cast<std::uint32_t>(sent);
      if (sent == 0) p.replicated = replicated(static_cast<std::uint32_t>(o.data.size()), o.time_ms);
      p.data.assign(o.data.begin() + static_cast<std::ptrdiff_t>(sent),
                    o.data.begin() + static_cast<std::ptrdiff_t>(sent + n));
      used += payload_bytes(p);
      if (sent == 0) out.started_in.push_back(out.packets.size());
      current.push_back(std::move(p));
      sent += n;
    } while (sent < o.data.size());
    out.completed_in.push_back(out.packets.size());
  }
  if (!current.empty()) flush();
  return out;
}

// Packets with no payloads: what follows the interesting part of a test
// stream so that the look-ahead window can deliver it.
inline Bytes filler(std::uint32_t packet_size, std::size_t bytes) {
  Bytes out;
  const Bytes empty = packet(packet_size, {});
  while (out.size() < bytes) out.insert(out.end(), empty.begin(), empty.end());
  return out;
}

inline Bytes join(const Bytes& head, const std::vector<Bytes>& packets) {
  Bytes out = head;
  for (const Bytes& p : packets) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace testasf
