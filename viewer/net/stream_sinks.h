// What the demultiplexer feeds: a camera's video pipeline, its audio output
// and its recording side. The stream side only knows these
// interfaces; the media and recording libraries implement them, and the
// camera wires its own objects in. All calls come from the camera's stream
// thread unless a method says otherwise.
#pragma once

#include <cstdint>

#include "viewer/net/media_frame.h"

namespace platform {
class Event;
}

namespace net {

class AudioSink;

class VideoSink {
 public:
  virtual ~VideoSink() = default;
  // Prepares for a stream of width x height pictures whose VO/VOL headers are
  // codec_data (codec_len bytes). False refuses the stream.
  [[nodiscard]] virtual bool setup(int width, int height, const std::uint8_t* codec_data, int codec_len) = 0;
  // Starts the decode thread; false when no thread could be started.
  [[nodiscard]] virtual bool start() = 0;
  // The audio whose clock paces video, or nullptr when the stream has none.
  virtual void set_audio_source(AudioSink* audio) = 0;
  virtual bool thread_ended() const = 0;
  virtual FrameQueue& queue() = 0;
  // The stream thread is about to wait for the network: every frame that
  // has arrived is queued, and nothing follows them yet. Stream thread.
  virtual void stream_waiting() {}
  // Stops and joins the decode thread; harmless when not running.
  virtual void stop() = 0;
  virtual void pause() = 0;
  virtual void resume() = 0;
};

class AudioSink {
 public:
  virtual ~AudioSink() = default;
  [[nodiscard]] virtual bool setup() = 0;
  virtual void start() = 0;
  // Hundredths of a decibel: 0 full, -10000 silent. Any thread.
  virtual void set_volume(int volume) = 0;
  virtual bool thread_ended() const = 0;
  virtual FrameQueue& queue() = 0;
  // Presentation time (ms) of the last block taken for playing; 0 before any.
  // Called from the decode thread.
  virtual std::uint32_t clock() const = 0;
  // An event set whenever the clock moves (nullptr: none), so that a
  // thread pacing itself against the clock waits for it instead of polling.
  // The event must outlive the audio thread or be replaced first.
  virtual void set_clock_wakeup(platform::Event* wakeup) = 0;
  virtual void stop() = 0;
  virtual void pause() = 0;
  virtual void resume() = 0;
};

// A camera's recording side as the stream sees it: it keeps recent packets
// and feeds the camera's open recordings from them.
class PacketSink {
 public:
  virtual ~PacketSink() = default;
  // Each connection's header: the Header Object followed by the 50-byte Data
  // Object header.
  virtual void SetHeader(const std::uint8_t* bytes, std::uint32_t length) = 0;
  // One whole data packet as read, the tick of its arrival, and where in it
  // a key frame begins: the byte offset of the payload that holds the first
  // piece of a video object on stream byte 0x81, or 0 when none does.
  virtual void AddPacket(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t arrival_tick,
                         std::uint32_t key_frame_at) = 0;
  // The connection ended (the stream's clean-up): open recordings are closed
  // and kept packets dropped.
  virtual void StreamEnded() = 0;
};

// The consumers of one camera's stream. Any of them may be null in tests.
struct StreamSinks {
  VideoSink* video = nullptr;
  AudioSink* audio = nullptr;
  PacketSink* recording = nullptr;
};

}  // namespace net
