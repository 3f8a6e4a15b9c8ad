// Consumers of a camera stream that only keep what they are given: for
// tests, the stream probe tool and benchmarks, before (or instead of) the
// real decode pipeline, sound output and recording writers.
//
// Each is called by the stream thread and read by the thread that owns it;
// every counter is safe to read from any thread. Nothing here ever ends by
// itself: thread_ended() stays false unless a test says otherwise.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "viewer/net/stream_sinks.h"

namespace net {

class QueueVideoSink final : public VideoSink {
 public:
  bool setup(int width, int height, const std::uint8_t* codec_data, int codec_len) override;
  bool start() override;
  void set_audio_source(AudioSink* audio) override { audio_source_.store(audio); }
  bool thread_ended() const override { return thread_ended_.load(); }
  FrameQueue& queue() override { return queue_; }
  // Keeps the queue, so that what arrived can still be looked at.
  void stop() override;
  void pause() override { paused_.store(true); }
  void resume() override { paused_.store(false); }

  // What a test sets.
  void set_setup_result(bool ok) { setup_result_.store(ok); }
  void set_thread_ended(bool ended) { thread_ended_.store(ended); }

  // What a test reads.
  int setups() const { return setups_.load(); }
  int starts() const { return starts_.load(); }
  int stops() const { return stops_.load(); }
  bool running() const { return running_.load(); }
  bool paused() const { return paused_.load(); }
  int width() const { return width_.load(); }
  int height() const { return height_.load(); }
  std::vector<std::uint8_t> codec_data() const;
  AudioSink* audio_source() const { return audio_source_.load(); }

 private:
  FrameQueue queue_;
  std::atomic<bool> setup_result_{true};
  std::atomic<bool> thread_ended_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> paused_{false};
  std::atomic<int> setups_{0}, starts_{0}, stops_{0};
  std::atomic<int> width_{0}, height_{0};
  std::atomic<AudioSink*> audio_source_{nullptr};
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> codec_data_;
};

class QueueAudioSink final : public AudioSink {
 public:
  bool setup() override;
  void start() override;
  void set_volume(int volume) override { volume_.store(volume); }
  void set_clock_wakeup(platform::Event*) override {}
  bool thread_ended() const override { return thread_ended_.load(); }
  FrameQueue& queue() override { return queue_; }
  std::uint32_t clock() const override { return 0; }
  void stop() override;
  void pause() override { paused_.store(true); }
  void resume() override { paused_.store(false); }

  void set_setup_result(bool ok) { setup_result_.store(ok); }
  void set_thread_ended(bool ended) { thread_ended_.store(ended); }

  int setups() const { return setups_.load(); }
  int stops() const { return stops_.load(); }
  bool running() const { return running_.load(); }
  bool paused() const { return paused_.load(); }
  int volume() const { return volume_.load(); }

 private:
  FrameQueue queue_;
  std::atomic<bool> setup_result_{true};
  std::atomic<bool> thread_ended_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> paused_{false};
  std::atomic<int> setups_{0}, stops_{0};
  std::atomic<int> volume_{0};
};

// A recording side that queues every packet it is given, with the offset
// of the payload that begins a key frame (or 0) as the marker.
class QueuePacketSink final : public PacketSink {
 public:
  void SetHeader(const std::uint8_t* bytes, std::uint32_t length) override;
  void AddPacket(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t arrival_tick,
                 std::uint32_t key_frame_at) override;
  void StreamEnded() override { ends_.fetch_add(1); }

  FrameQueue& queue() { return queue_; }
  std::vector<std::uint8_t> header() const;
  int headers_set() const { return headers_set_.load(); }
  int ends() const { return ends_.load(); }

 private:
  FrameQueue queue_;
  std::atomic<int> headers_set_{0}, ends_{0};
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> header_;
};

}  // namespace net
