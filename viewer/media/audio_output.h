// A camera's sound: takes the G.726 blocks the demultiplexer queues, decodes
// them at 16 kbit/s and plays them through a looping two-half sound buffer
// on a thread of its own. The presentation time of the block last taken is
// the camera's audio clock, which the video pipeline paces itself against.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "viewer/media/g726/g726.h"
#include "viewer/net/media_frame.h"
#include "viewer/net/stream_sinks.h"
#include "viewer/platform/event.h"
#include "viewer/platform/sound_device.h"

namespace media {

class AudioOutput final : public net::AudioSink {
 public:
  // PCM 8 kHz mono 16-bit, 16,000 bytes a second; the buffer is two halves
  // of 200 ms. A block is at most 800 bytes of G.726 (400 ms at 2 bits).
  static constexpr std::size_t kHalfBytes = 3200;
  static constexpr std::size_t kBufferBytes = 2 * kHalfBytes;
  static constexpr std::uint32_t kMaxBlockBytes = 800;
  static constexpr int kCodeBits = 2;

  AudioOutput();
  ~AudioOutput() override;
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;

  // Prepares a connection: creates the decoder if there is none, the
  // process-wide sound device if there is none yet, and a new sound buffer
  // with its notifications and the remembered volume. False when any of
  // them cannot be made (the stream then runs without sound) or while the
  // audio thread runs. Stream thread.
  [[nodiscard]] bool setup() override;

  // Clears the stop flag and starts the audio thread unless one exists.
  void start() override;

  // Remembers the volume (hundredths of a dB, 0 full, -10000 silent) and
  // applies it to the buffer if there is one. Any thread.
  void set_volume(int volume) override;
  int volume() const { return volume_.load(); }

  bool thread_ended() const override { return thread_ended_.load(); }
  net::FrameQueue& queue() override { return queue_; }

  // Presentation time (ms) of the block last taken for playing; 0 before
  // the first. Any thread.
  std::uint32_t clock() const override;
  void set_clock_wakeup(platform::Event* wakeup) override { clock_wakeup_.store(wakeup); }

  // Stops and joins the audio thread, silences and releases the buffer,
  // drops the queued blocks and the decoder. Harmless to repeat. Stream
  // thread (or the owner's destructor); the process-wide sound device must
  // still exist.
  void stop() override;

  // While paused, blocks are still taken (the clock goes on) but not heard.
  void pause() override { paused_ = true; }
  void resume() override { paused_ = false; }

 private:
  // Signals of the sound buffer, of stop() and of the queue, as the thread
  // waits on them.
  enum : int { kSignalHalf0 = 0, kSignalHalf1 = 1, kSignalStopped = 2, kSignalStopRequest = 3, kSignalBlock = 4 };
  // Longest single wait for a first block; the queue and stop() wake it
  // earlier.
  static constexpr int kIdleWaitMs = 1000;

  int run();
  bool take_block();
  void write_half(int half, const std::uint8_t* bytes, std::size_t len);
  void write_silence();
  const std::uint8_t* pcm_bytes() const { return reinterpret_cast<const std::uint8_t*>(pcm_.data()); }

  net::FrameQueue queue_;
  G726Decoder decoder_;
  // Declared before the buffer, which raises them until it is destroyed.
  platform::SoundSignals signals_;
  // Guards replacing the buffer against set_volume from other threads. The
  // audio thread uses the buffer without it: set-up and stop never replace
  // it while the thread runs.
  std::mutex buffer_mutex_;
  std::unique_ptr<platform::SoundBuffer> buffer_;

  std::atomic<int> volume_{0};
  std::atomic<bool> stop_flag_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> thread_ended_{false};
  std::thread thread_;

  mutable std::mutex clock_mutex_;
  std::uint32_t clock_ = 0;
  std::atomic<platform::Event*> clock_wakeup_{nullptr};

  // The current block's samples (at most 800 bytes x 4) and one half of
  // silence, allocated once.
  std::vector<std::int16_t> pcm_;
  std::size_t pcm_len_ = 0;  // bytes
  const std::vector<std::uint8_t> silence_;
};

}  // namespace media
