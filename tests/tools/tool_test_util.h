// Helpers shared by the tool tests: running outside programs (ffmpeg,
// ffprobe), scratch folders, and a small independent reader of the camera's
// ASF packets, written from the packet table rather than from our muxer.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/files.h"

namespace tooltest {

inline std::string clips_dir() { return CAMVIEWER_CLIPS_DIR; }

// Runs a fixed shell command line; its exit status and, when asked, its stdout.
inline int run(const std::string& command, std::string* output = nullptr) {
  return test_support::run_shell(command, output);
}

using ScratchDir = test_support::TempDir;

inline uint32_t le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline uint32_t le32(const uint8_t* p) { return le16(p) | (le16(p + 2) << 16); }

struct Payload {
  uint8_t stream_byte = 0;
  uint8_t object_number = 0;
  uint32_t offset = 0;
  uint8_t replicated = 0;
  uint32_t object_size = 0;
  uint32_t time_ms = 0;
  std::vector<uint8_t> data;
};

struct Packet {
  uint8_t ec_flags = 0, ec1 = 0, ec2 = 0, length_flags = 0, property_flags = 0, payload_flags = 0;
  uint32_t padding = 0;
  uint32_t send_ms = 0;
  uint32_t payload_end = 0;  // offset after the last payload
  std::vector<Payload> payloads;
};

// Reads one packet at the fixed offsets of the camera profile. False when a
// payload runs past the packet.
inline bool parse_packet(const uint8_t* p, size_t size, Packet* out) {
  if (size < 14) return false;
  *out = Packet{};
  out->ec_flags = p[0];
  out->ec1 = p[1];
  out->ec2 = p[2];
  out->length_flags = p[3];
  out->property_flags = p[4];
  out->padding = le16(p + 5);
  out->send_ms = le32(p + 7);
  out->payload_flags = p[13];
  size_t pos = 14;
  for (int i = 0; i < (out->payload_flags & 0x3F); ++i) {
    Payload pl;
    if (pos + 7 > size) return false;
    pl.stream_byte = p[pos];
    pl.object_number = p[pos + 1];
    pl.offset = le32(p + pos + 2);
    pl.replicated = p[pos + 6];
    pos += 7;
    if (pl.replicated == 8) {
      if (pos + 8 > size) return false;
      pl.object_size = le32(p + pos);
      pl.time_ms = le32(p + pos + 4);
      pos += 8;
    }
    if (pos + 2 > size) return false;
    const uint32_t length = le16(p + pos);
    pos += 2;
    if (pos + length > size) return false;
    pl.data.assign(p + pos, p + pos + length);
    pos += length;
    out->payloads.push_back(std::move(pl));
  }
  out->payload_end = static_cast<uint32_t>(pos);
  return true;
}

// A media object put back together from its payloads.
struct Object {
  uint8_t stream_byte = 0;
  uint32_t time_ms = 0;
  std::vector<uint8_t> data;
};

// Joins payloads into objects as the viewer does, checking on the way that
// every object starts with replicated data, continues without, and fills its
// announced size with contiguous offsets. Returns false on the first breach.
class Reassembler {
 public:
  bool add(const Packet& packet, std::string* why) {
    for (const Payload& pl : packet.payloads) {
      if (pl.replicated == 8) {
        if (open_) return fail(why, "new object while the previous one is incomplete");
        current_ = Object{pl.stream_byte, pl.time_ms, {}};
        size_ = pl.object_size;
        open_ = true;
      } else if (pl.replicated != 0) {
        return fail(why, "replicated data length " + std::to_string(pl.replicated));
      } else if (!open_) {
        return fail(why, "continuation without an object");
      } else if (pl.stream_byte != current_.stream_byte) {
        return fail(why, "continuation of another stream");
      }
      if (pl.offset != current_.data.size()) return fail(why, "offset gap");
      current_.data.insert(current_.data.end(), pl.data.begin(), pl.data.end());
      if (current_.data.size() > size_) return fail(why, "payloads beyond the object size");
      if (current_.data.size() == size_) {
        objects.push_back(std::move(current_));
        open_ = false;
      }
    }
    return true;
  }
  std::vector<Object> objects;

 private:
  static bool fail(std::string* why, const std::string& text) {
    if (why) *why = text;
    return false;
  }
  Object current_;
  uint32_t size_ = 0;
  bool open_ = false;
};

}  // namespace tooltest
