// Units passed between a camera's threads: whole video frames, audio blocks
// and copies of data packets, each in a MediaFrame, queued in a FrameQueue.
//
// The stream thread is the only producer of every queue; each consumer (decode
// thread, audio thread, a recording thread) takes frames off its own queue and
// then owns them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace net {

// Stream bytes of the camera's ASF payloads, used as video frame markers.
inline constexpr int kMarkerVideo = 0x01;
inline constexpr int kMarkerVideoKey = 0x81;

class MediaFrame {
 public:
  MediaFrame() = default;
  MediaFrame(const MediaFrame&) = delete;
  MediaFrame& operator=(const MediaFrame&) = delete;

  // Copies length bytes of source, replacing any old data. Returns false when
  // source is missing or memory runs out (the frame is then left empty).
  [[nodiscard]] bool set(const std::uint8_t* source, std::uint32_t length, std::uint32_t time_ms, int marker);

  // Hands out the data without copying; the frame keeps ownership. Returns
  // false when the frame holds no data.
  [[nodiscard]] bool get(const std::uint8_t** data, std::uint32_t* length, std::uint32_t* time_ms,
                         int* marker = nullptr) const;

  // Plain accessors for the consumer that owns the frame.
  const std::uint8_t* data() const { return has_data_ ? data_.data() : nullptr; }
  std::uint32_t length() const { return length_; }
  std::uint32_t time() const { return time_; }
  int marker() const { return marker_; }

  // Tick (platform::tick_ms) at which the frame's last byte was taken from
  // the connection; 0 when unknown. Set by the producer before queueing.
  std::uint32_t arrival_tick() const { return arrival_tick_; }
  void set_arrival_tick(std::uint32_t tick) { arrival_tick_ = tick; }

 private:
  mutable std::mutex lock_;
  std::vector<std::uint8_t> data_;
  bool has_data_ = false;
  std::uint32_t length_ = 0;
  std::uint32_t time_ = 0;
  int marker_ = 0;
  std::uint32_t arrival_tick_ = 0;
};

// First-in-first-out queue that owns the frames it holds. One lock per queue;
// count() may be read without it by the producer deciding what to drop.
class FrameQueue {
 public:
  FrameQueue() = default;
  FrameQueue(const FrameQueue&) = delete;
  FrameQueue& operator=(const FrameQueue&) = delete;
  ~FrameQueue() { clear(); }

  // Called after every push, on the producer's thread, with no lock held:
  // how the consumer learns that a frame waits, instead of polling. Set once,
  // before the producer starts.
  void set_on_push(std::function<void()> on_push) { on_push_ = std::move(on_push); }

  void push_back(std::unique_ptr<MediaFrame> frame);

  // Removes and returns the front frame, or nullptr when the queue is empty.
  std::unique_ptr<MediaFrame> take_front();

  // Calls f on the front frame without removing it; false when empty. The
  // frame stays owned by the queue; f runs under the queue's lock and must
  // not call out to other locks.
  template <class F>
  bool peek_front(F&& f) {
    std::lock_guard lock(mutex_);
    if (frames_.empty()) return false;
    f(*frames_.front());
    return true;
  }

  std::size_t count() const { return count_.load(std::memory_order_acquire); }

  // Removes and destroys every frame.
  void clear();

 private:
  std::mutex mutex_;
  std::deque<std::unique_ptr<MediaFrame>> frames_;
  std::atomic<std::size_t> count_{0};
  std::function<void()> on_push_;
};

}  // namespace net
