// The player's demultiplexer: rebuilds video frames and audio blocks from the
// payloads of a recording's packets, with the live stream's bounds (an
// object of at most 640 x 480 bytes announced, data placed only inside the
// 65,535-byte frame and block buffers, no payload beyond its object).
//
// A file is not a connection that can be made again, so where the live
// demultiplexer ends the stream the player drops only what is broken and
// goes on: a payload that continues an object whose start it never saw (the
// first packets of a recording, which begins wherever the camera's stream
// was, or the packet a seek lands in) is skipped; an object that breaks a
// bound is dropped; a packet that does not parse loses its unfinished
// objects. Whole objects are handed out as they complete.
#pragma once

#include <cstdint>
#include <memory>

namespace player {

// Where an object starts: the packet and the payload within it.
struct StreamPosition {
  std::uint64_t packet = 0;
  std::uint32_t payload = 0;
  friend auto operator<=>(const StreamPosition&, const StreamPosition&) = default;
};

struct DemuxedObject {
  const std::uint8_t* data = nullptr;  // valid during the call only
  std::uint32_t length = 0;
  std::uint32_t time = 0;  // presentation time, ms
  bool key = false;        // video: the completing payload carried the key-frame bit
  StreamPosition start;    // where its first payload was
};

class DemuxSink {
 public:
  virtual ~DemuxSink() = default;
  virtual void video_frame(const DemuxedObject& frame) = 0;
  virtual void audio_block(const DemuxedObject& block) = 0;
};

class PacketDemux {
 public:
  // audio: the header announced a sound stream; without one, sound payloads
  // are skipped as the live stream skips them.
  explicit PacketDemux(bool audio);

  // Forgets the objects being rebuilt (before reading from another place).
  void reset();

  // Parses one packet of `size` bytes (at least 14), handing every object it
  // completes to sink. False when the packet broke a rule; what it
  // completed before the fault has been handed out. Counters below tell
  // what was dropped.
  bool feed(const std::uint8_t* packet, std::uint32_t size, std::uint64_t index, DemuxSink& sink);

  // Where the video object being rebuilt started, when there is one.
  bool video_in_progress(StreamPosition* start) const;

  std::uint64_t bad_packets() const { return bad_packets_; }
  std::uint64_t dropped_objects() const { return dropped_objects_; }

 private:
  struct Assembly {
    bool active = false;
    std::uint32_t size = 0;
    std::uint64_t received = 0;
    std::uint32_t time = 0;
    StreamPosition start;
  };
  bool add(Assembly& a, std::uint8_t* buffer, std::uint32_t offset, const std::uint8_t* data, std::uint32_t len);
  void drop(Assembly& a);

  const bool audio_;
  std::unique_ptr<std::uint8_t[]> video_buffer_;
  std::unique_ptr<std::uint8_t[]> audio_buffer_;
  Assembly video_;
  Assembly audio_block_;
  std::uint64_t bad_packets_ = 0;
  std::uint64_t dropped_objects_ = 0;
};

}  // namespace player
