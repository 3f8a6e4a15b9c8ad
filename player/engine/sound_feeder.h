// The player's sound: decoded samples wait in a queue and a thread of its own
// copies them into a looping sound buffer just ahead of the play cursor. The
// cursor, read back from the buffer, is the recording's clock at normal
// speed: the time of the sample being heard.
//
// Unlike a live camera, whose blocks are written into the half of the buffer
// the cursor has just left, a file can be read ahead, so the samples go in
// as one unbroken stream and nothing is cut or padded between blocks. Only
// when the queue runs dry (or the recording's sound has ended) does silence
// go in, always a little ahead of the cursor so that it never plays samples
// it played before.
//
// The sound buffer's operations (write, cursor, play, stop) take only the
// buffer's own short lock and never call anyone, so the feeder calls them
// while it holds its own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "viewer/platform/sound_device.h"

namespace player {

class SoundFeeder {
 public:
  // 8 kHz mono 16-bit: 16 bytes a millisecond. The buffer is 800 ms in eight
  // parts, each of which reports the cursor's arrival.
  static constexpr int kSampleRate = 8000;
  static constexpr std::size_t kSegmentBytes = 1600;
  static constexpr int kSegments = 8;
  static constexpr std::size_t kBufferBytes = kSegmentBytes * kSegments;
  // Samples that may wait in the queue: four seconds.
  static constexpr std::size_t kQueueSamples = 4 * kSampleRate;

  // wake is called (on the feeder's thread, with no lock held) whenever the
  // cursor has moved on or playing has started, so that video waiting for
  // the clock can look again. It must return at once.
  explicit SoundFeeder(std::function<void()> wake);
  ~SoundFeeder();
  SoundFeeder(const SoundFeeder&) = delete;
  SoundFeeder& operator=(const SoundFeeder&) = delete;

  // Makes the sound buffer from the process-wide sound device and starts the
  // thread. False (and no sound) when the device cannot give a buffer.
  [[nodiscard]] bool open();
  bool is_open() const { return buffer_ != nullptr; }

  // --- the player's thread ---
  // Samples the queue can take now.
  std::size_t room() const;
  // Queues n (<= room()) samples; the first is heard at time_us on the
  // recording's timeline, the others follow at 125 us each.
  void push(const std::int16_t* samples, std::size_t n, std::int64_t time_us);
  // No more samples will come (the end of the file); start with what there
  // is and pad with silence.
  void end_of_data();
  // Start playing with what is queued instead of waiting for more.
  void kick();
  // Stops, empties the queue and the buffer and forgets the clock.
  void reset();
  // Holds the cursor (and with it the clock) where it is, or lets it go on.
  void set_paused(bool paused);

  // --- any thread ---
  // The recording's time at the cursor, in microseconds; false while nothing
  // plays (not started, or the device stopped playing on its own).
  bool clock_us(std::int64_t* t) const;
  // Everything queued before end_of_data() has been heard.
  bool drained() const;
  bool started() const;
  // Bytes written ahead of the cursor (tests, statistics).
  std::size_t lead_bytes() const;
  // Work the thread has not done yet: samples waiting that fit the buffer.
  bool idle() const;

 private:
  enum : int { kSignalStopped = kSegments, kSignalWake = kSegments + 1 };
  struct Marker {
    std::uint64_t sample;  // index in the stream of queued samples
    std::int64_t time_us;
  };
  struct Span {
    std::uint64_t byte;    // where it starts in the stream of written bytes
    std::int64_t time_us;  // the time of its first sample
    bool data;             // samples of the recording; false for silence
  };

  void run();
  void service();                                  // mutex_ held
  void update_cursor();                            // mutex_ held
  void write(std::size_t bytes, bool data);        // mutex_ held
  std::int64_t time_at(std::uint64_t byte) const;  // mutex_ held
  std::size_t queued() const { return static_cast<std::size_t>(pushed_ - taken_); }

  const std::function<void()> wake_;
  platform::SoundSignals signals_;
  std::unique_ptr<platform::SoundBuffer> buffer_;
  std::thread thread_;

  mutable std::mutex mutex_;
  bool quit_ = false;
  // The queue: a ring of samples with the time of each block's first one.
  std::vector<std::int16_t> queue_;
  std::uint64_t pushed_ = 0;
  std::uint64_t taken_ = 0;
  std::deque<Marker> markers_;
  bool end_of_data_ = false;
  bool kicked_ = false;
  bool paused_ = false;
  bool started_ = false;
  bool playing_ = false;
  bool lost_ = false;  // the device stopped the buffer on its own
  // Bytes written to and played from the buffer since the start.
  std::uint64_t written_ = 0;
  std::uint64_t played_ = 0;
  std::size_t last_position_ = 0;
  std::uint64_t data_end_ = 0;  // the end of the last samples written
  std::deque<Span> spans_;
  std::vector<std::uint8_t> scratch_;
};

}  // namespace player
