#include "viewer/media/audio_output.h"

#include <algorithm>
#include <bit>
#include <chrono>

#include "viewer/platform/thread_name.h"

namespace media {
namespace {

// Samples go to the device as they lie in memory: little-endian 16-bit PCM.
static_assert(std::endian::native == std::endian::little, "PCM is written as host-order 16-bit samples");

constexpr platform::PcmFormat kPcmFormat{1, 8000, 16};

constexpr std::uint32_t bit(int signal) { return 1u << signal; }

}  // namespace

AudioOutput::AudioOutput() : pcm_(static_cast<std::size_t>(kMaxBlockBytes) * 8 / kCodeBits), silence_(kHalfBytes, 0) {
  queue_.set_on_push([this] { signals_.raise(kSignalBlock); });
}

AudioOutput::~AudioOutput() { stop(); }

bool AudioOutput::setup() {
  if (thread_.joinable()) return false;
  if (!decoder_) {
    decoder_.reset(G726_decoder_create());
    if (!decoder_) return false;
  }
  platform::SoundDevice* device = platform::sound_device();
  if (device == nullptr) return false;
  {
    std::lock_guard lock(buffer_mutex_);
    buffer_.reset();
  }
  std::unique_ptr<platform::SoundBuffer> buffer = device->create_buffer(kPcmFormat, kBufferBytes);
  if (!buffer) return false;
  buffer->set_notifications(
      &signals_,
      {{0, kSignalHalf0}, {kHalfBytes, kSignalHalf1}, {platform::SoundNotification::kNotifyOnStop, kSignalStopped}});
  {
    std::lock_guard lock(buffer_mutex_);
    buffer_ = std::move(buffer);
    buffer_->set_volume(volume_.load());
  }
  // Nothing raised before this connection (an old stop request, stale
  // cursor signals) may reach the new thread.
  signals_.clear(~0u);
  return true;
}

void AudioOutput::start() {
  stop_flag_ = false;
  if (thread_.joinable()) return;
  // Cleared before the thread exists, so that a thread ending at once
  // (no buffer) is seen as ended.
  thread_ended_ = false;
  thread_ = std::thread([this] { run(); });
}

void AudioOutput::set_volume(int volume) {
  volume_ = volume;
  std::lock_guard lock(buffer_mutex_);
  if (buffer_) buffer_->set_volume(volume);
}

std::uint32_t AudioOutput::clock() const {
  std::lock_guard lock(clock_mutex_);
  return clock_;
}

void AudioOutput::stop() {
  // Everything below is harmless to repeat, and a set-up after a stop
  // without a start has a buffer to release too.
  stop_flag_ = true;
  if (thread_.joinable()) {
    signals_.raise(kSignalStopRequest);
    thread_.join();
  }
  {
    // A looping buffer left playing would repeat its last 400 ms until the
    // next connection.
    std::lock_guard lock(buffer_mutex_);
    if (buffer_) buffer_->stop();
    buffer_.reset();
  }
  queue_.clear();
  decoder_.reset();
  thread_ended_ = false;
}

bool AudioOutput::take_block() {
  std::unique_ptr<net::MediaFrame> frame = queue_.take_front();
  if (!frame) return false;
  // A block longer than 800 bytes would decode to more than a whole buffer;
  // the rest is ignored.
  const std::uint32_t len = std::min(frame->length(), kMaxBlockBytes);
  const int samples = G726_dec(decoder_.get(), kCodeBits, frame->data(), static_cast<int>(len), pcm_.data());
  pcm_len_ = static_cast<std::size_t>(samples) * 2;
  {
    std::lock_guard lock(clock_mutex_);
    clock_ = frame->time();
  }
  // A picture held back for this clock may go now.
  if (platform::Event* wakeup = clock_wakeup_.load()) wakeup->set();
  return true;
}

void AudioOutput::write_half(int half, const std::uint8_t* bytes, std::size_t len) {
  const std::size_t offset = static_cast<std::size_t>(half) * kHalfBytes;
  len = std::min(len, kHalfBytes);
  auto write = [&](std::size_t at, const std::uint8_t* data, std::size_t n) {
    platform::SoundWrite result = buffer_->write(at, data, n);
    if (result == platform::SoundWrite::Lost && buffer_->restore()) result = buffer_->write(at, data, n);
    return result == platform::SoundWrite::Ok;
  };
  if (!write(offset, bytes, len)) return;
  // A short block is followed by silence, not by what the half held before.
  if (len < kHalfBytes) (void)write(offset + len, silence_.data(), kHalfBytes - len);
}

void AudioOutput::write_silence() {
  write_half(0, silence_.data(), kHalfBytes);
  write_half(1, silence_.data(), kHalfBytes);
}

int AudioOutput::run() {
  platform::name_this_thread("cam-audio");
  int result = 1;
  bool started = false;

  // Start: wait for the first block, put it in half 0 and play from there.
  while (!stop_flag_) {
    if (take_block()) {
      if (buffer_) {
        write_half(0, pcm_bytes(), pcm_len_);
        buffer_->set_position(0);
        started = buffer_->play_looping();
      }
      if (!started) result = 0;
      break;
    }
    (void)signals_.wait_any(bit(kSignalBlock) | bit(kSignalStopRequest), kIdleWaitMs);
  }

  // Steady: each block goes into the half the cursor has just left. With
  // nothing to play, both halves go silent once the cursor has been through
  // both, and the next block starts again at offset 0. The thread waits on
  // the buffer's signals, the queue's and stop's; it never polls.
  bool restart = false;
  bool silenced_for_pause = false;
  const std::uint32_t any = bit(kSignalHalf0) | bit(kSignalHalf1) | bit(kSignalStopped) | bit(kSignalStopRequest);
  while (started) {
    if (stop_flag_) break;
    if (take_block()) {
      if (paused_) {
        // Dropped, but silence the buffer once instead of looping the last
        // 400 ms for the whole pause; playing resumes at offset 0.
        if (!silenced_for_pause) {
          write_silence();
          silenced_for_pause = true;
          restart = true;
        }
      } else if (restart) {
        restart = false;
        silenced_for_pause = false;
        write_half(0, pcm_bytes(), pcm_len_);
        // Only the jump to 0 counts from here on: it raises half 0, and the
        // next block goes into half 1.
        signals_.clear(bit(kSignalHalf0) | bit(kSignalHalf1));
        buffer_->set_position(0);
      } else {
        const int signal = signals_.wait_any(any);
        if (signal == kSignalHalf0) {
          write_half(1, pcm_bytes(), pcm_len_);
        } else if (signal == kSignalHalf1) {
          write_half(0, pcm_bytes(), pcm_len_);
        } else if (signal == kSignalStopRequest) {
          result = 0;
          break;
        }
        // Playback stopped under us: the block is dropped.
      }
    } else if (signals_.wait_all(bit(kSignalHalf0) | bit(kSignalHalf1), bit(kSignalStopRequest) | bit(kSignalBlock))) {
      write_silence();
      restart = true;
    }
    // Otherwise a block arrived before the cursor had been through both
    // halves: it is taken at once (no gap of silence for a block that is
    // only a little late), or the stop request ends the loop above.
  }
  thread_ended_ = true;
  return result;
}

}  // namespace media
