#include "viewer/platform/sound_ring.h"

#include <algorithm>
#include <cstring>

namespace platform {

RingSoundBuffer::RingSoundBuffer(const PcmFormat& format, std::size_t bytes) : format_(format), ring_(bytes, 0) {}

SoundWrite RingSoundBuffer::write(std::size_t offset, const std::uint8_t* data, std::size_t len) {
  std::lock_guard lock(mutex_);
  if (lost_) return SoundWrite::Lost;
  if (data == nullptr || offset >= ring_.size()) return SoundWrite::Failed;
  len = std::min(len, ring_.size() - offset);
  std::memcpy(ring_.data() + offset, data, len);
  return SoundWrite::Ok;
}

bool RingSoundBuffer::restore() {
  std::lock_guard lock(mutex_);
  lost_ = false;
  return true;
}

void RingSoundBuffer::lose() {
  std::lock_guard lock(mutex_);
  lost_ = true;
}

void RingSoundBuffer::set_position(std::size_t offset) {
  std::lock_guard lock(mutex_);
  const std::size_t align = static_cast<std::size_t>(format_.block_align());
  cursor_ = std::min(offset, ring_.size() - align) / align * align;
  // Moved onto a notification offset while playing: it has been reached,
  // or a writer waiting for it would miss the turn of that half.
  if (playing_) reach(cursor_);
}

std::size_t RingSoundBuffer::position() const {
  std::lock_guard lock(mutex_);
  return cursor_;
}

bool RingSoundBuffer::play_looping() {
  std::lock_guard lock(mutex_);
  if (!playing_) {
    playing_ = true;
    pending_ns_ = 0;
    reach(cursor_);
  }
  return true;
}

void RingSoundBuffer::stop() {
  std::lock_guard lock(mutex_);
  if (!playing_) return;
  playing_ = false;
  reach(SoundNotification::kNotifyOnStop);
}

bool RingSoundBuffer::playing() const {
  std::lock_guard lock(mutex_);
  return playing_;
}

void RingSoundBuffer::set_volume(int hundredths_db) {
  std::lock_guard lock(mutex_);
  volume_ = std::clamp(hundredths_db, -10000, 0);
}

int RingSoundBuffer::volume() const {
  std::lock_guard lock(mutex_);
  return volume_;
}

void RingSoundBuffer::set_notifications(SoundSignals* target, const std::vector<SoundNotification>& points) {
  std::lock_guard lock(mutex_);
  signals_ = target;
  points_ = points;
}

std::vector<std::uint8_t> RingSoundBuffer::contents() const {
  std::lock_guard lock(mutex_);
  return ring_;
}

void RingSoundBuffer::reach(std::size_t offset) {
  if (signals_ == nullptr) return;
  for (const SoundNotification& p : points_)
    if (p.offset == offset) signals_->raise(p.signal);
}

std::int64_t RingSoundBuffer::ns_to_next_notification() const {
  std::lock_guard lock(mutex_);
  if (!playing_ || format_.sample_rate <= 0 || format_.block_align() <= 0) return -1;
  const std::size_t size = ring_.size();
  std::size_t nearest = 0;
  for (const SoundNotification& p : points_) {
    if (p.offset >= size) continue;
    const std::size_t distance = p.offset > cursor_ ? p.offset - cursor_ : p.offset + size - cursor_;
    if (nearest == 0 || distance < nearest) nearest = distance;
  }
  if (nearest == 0) return -1;
  constexpr std::int64_t kNsPerSecond = 1'000'000'000;
  const std::int64_t frames = static_cast<std::int64_t>(nearest / static_cast<std::size_t>(format_.block_align()));
  // Rounded up to the frame, less the time already played towards it.
  const std::int64_t ns = (frames * kNsPerSecond + format_.sample_rate - 1) / format_.sample_rate - pending_ns_;
  return ns > 0 ? ns : 0;
}

void RingSoundBuffer::advance_ns(std::int64_t ns, std::vector<std::uint8_t>* out) {
  std::lock_guard lock(mutex_);
  if (!playing_ || ns <= 0) return;
  constexpr std::int64_t kNsPerSecond = 1'000'000'000;
  pending_ns_ += ns;
  const std::int64_t frames = pending_ns_ * format_.sample_rate / kNsPerSecond;
  pending_ns_ -= frames * kNsPerSecond / format_.sample_rate;
  std::size_t left = static_cast<std::size_t>(frames) * static_cast<std::size_t>(format_.block_align());
  const std::size_t size = ring_.size();
  while (left > 0) {
    // Walk to the nearest notification ahead (or the end of the ring), so
    // that every offset passed raises its signal in playing order.
    std::size_t step = std::min(left, size - cursor_);
    for (const SoundNotification& p : points_) {
      if (p.offset >= size) continue;
      const std::size_t distance = p.offset > cursor_ ? p.offset - cursor_ : p.offset + size - cursor_;
      step = std::min(step, distance);
    }
    if (out != nullptr) out->insert(out->end(), ring_.begin() + cursor_, ring_.begin() + cursor_ + step);
    cursor_ = (cursor_ + step) % size;
    left -= step;
    reach(cursor_);
  }
}

}  // namespace platform
