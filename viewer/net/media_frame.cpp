#include "viewer/net/media_frame.h"

#include <cstring>
#include <new>

namespace net {

bool MediaFrame::set(const std::uint8_t* source, std::uint32_t length, std::uint32_t time_ms, int marker) {
  if (source == nullptr) return false;
  std::lock_guard lock(lock_);
  try {
    data_.resize(length);
  } catch (const std::bad_alloc&) {
    data_.clear();
    has_data_ = false;
    length_ = 0;
    return false;
  }
  if (length > 0) std::memcpy(data_.data(), source, length);
  has_data_ = true;
  length_ = length;
  time_ = time_ms;
  marker_ = marker;
  return true;
}

bool MediaFrame::get(const std::uint8_t** data, std::uint32_t* length, std::uint32_t* time_ms, int* marker) const {
  std::lock_guard lock(lock_);
  if (!has_data_) return false;
  if (data) *data = data_.data();
  if (length) *length = length_;
  if (time_ms) *time_ms = time_;
  if (marker) *marker = marker_;
  return true;
}

void FrameQueue::push_back(std::unique_ptr<MediaFrame> frame) {
  if (!frame) return;
  {
    std::lock_guard lock(mutex_);
    frames_.push_back(std::move(frame));
    count_.store(frames_.size(), std::memory_order_release);
  }
  if (on_push_) on_push_();
}

std::unique_ptr<MediaFrame> FrameQueue::take_front() {
  std::lock_guard lock(mutex_);
  if (frames_.empty()) return nullptr;
  std::unique_ptr<MediaFrame> f = std::move(frames_.front());
  frames_.pop_front();
  count_.store(frames_.size(), std::memory_order_release);
  return f;
}

void FrameQueue::clear() {
  std::deque<std::unique_ptr<MediaFrame>> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(frames_);
    count_.store(0, std::memory_order_release);
  }
  // Frames are destroyed outside the lock.
}

}  // namespace net
