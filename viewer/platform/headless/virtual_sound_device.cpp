#include "viewer/platform/headless/virtual_sound_device.h"

#include <algorithm>
#include <chrono>

#include "viewer/platform/thread_name.h"

namespace platform {

VirtualSoundBuffer::VirtualSoundBuffer(VirtualSoundDevice* device, const PcmFormat& format, std::size_t bytes,
                                       bool capture)
    : RingSoundBuffer(format, bytes), device_(device), capture_(capture) {}

VirtualSoundBuffer::~VirtualSoundBuffer() { device_->forget(this); }

std::vector<std::uint8_t> VirtualSoundBuffer::played() const {
  std::lock_guard lock(played_mutex_);
  return played_;
}

void VirtualSoundBuffer::play_for_ns(std::int64_t ns) {
  if (!capture_) {
    advance_ns(ns, nullptr);
    return;
  }
  // Held across the advance: whoever a notification wakes and who then asks
  // what was played finds every byte up to that notification.
  std::lock_guard lock(played_mutex_);
  advance_ns(ns, &played_);
}

void VirtualSoundBuffer::set_position(std::size_t offset) {
  device_->catch_up();
  RingSoundBuffer::set_position(offset);
  device_->poke();
}

bool VirtualSoundBuffer::play_looping() {
  device_->catch_up();
  const bool ok = RingSoundBuffer::play_looping();
  device_->poke();
  return ok;
}

void VirtualSoundBuffer::set_notifications(SoundSignals* target, const std::vector<SoundNotification>& points) {
  device_->catch_up();
  RingSoundBuffer::set_notifications(target, points);
  device_->poke();
}

VirtualSoundDevice::VirtualSoundDevice(Options options) : options_(options) {
  if (!options_.manual_clock) ticker_ = std::thread([this] { tick_loop(); });
}

VirtualSoundDevice::~VirtualSoundDevice() {
  {
    std::lock_guard lock(stop_mutex_);
    stopping_ = true;
  }
  stop_changed_.notify_all();
  if (ticker_.joinable()) ticker_.join();
}

std::unique_ptr<SoundBuffer> VirtualSoundDevice::create_buffer(const PcmFormat& format, std::size_t bytes) {
  if (fail_buffers_ || format.block_align() <= 0 || format.sample_rate <= 0 || bytes == 0 ||
      bytes % static_cast<std::size_t>(format.block_align()) != 0)
    return nullptr;
  auto buffer = std::make_unique<VirtualSoundBuffer>(this, format, bytes, options_.capture);
  std::lock_guard lock(mutex_);
  buffers_.push_back(buffer.get());
  return buffer;
}

void VirtualSoundDevice::forget(VirtualSoundBuffer* buffer) {
  std::lock_guard lock(mutex_);
  buffers_.erase(std::remove(buffers_.begin(), buffers_.end(), buffer), buffers_.end());
}

std::vector<VirtualSoundBuffer*> VirtualSoundDevice::buffers() const {
  std::lock_guard lock(mutex_);
  return buffers_;
}

void VirtualSoundDevice::advance_ms(int ms) {
  std::lock_guard lock(mutex_);
  for (VirtualSoundBuffer* b : buffers_) b->play_for_ns(static_cast<std::int64_t>(ms) * 1'000'000);
}

void VirtualSoundDevice::catch_up() {
  if (options_.manual_clock) return;
  std::lock_guard lock(mutex_);
  catch_up_locked();
}

void VirtualSoundDevice::catch_up_locked() {
  const auto now = std::chrono::steady_clock::now();
  const std::int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_).count();
  last_ = now;
  for (VirtualSoundBuffer* b : buffers_) b->play_for_ns(ns);
}

void VirtualSoundDevice::poke() {
  if (options_.manual_clock) return;
  {
    std::lock_guard lock(stop_mutex_);
    poked_ = true;
  }
  stop_changed_.notify_all();
}

void VirtualSoundDevice::tick_loop() {
  platform::name_this_thread("sound-clock");
  // The cursors move in real time, but the thread only wakes when a
  // notification is due (or a buffer changed what is due): a sound card's
  // interrupts, not a polling loop. Between wakes a cursor reads as where
  // it was last moved to.
  constexpr std::int64_t kLongestSleepNs = 1'000'000'000;
  constexpr std::int64_t kPastDueNs = 100'000;  // wake just after the offset, never just before
  std::int64_t sleep_ns = kLongestSleepNs;
  std::unique_lock stop_lock(stop_mutex_);
  for (;;) {
    stop_changed_.wait_for(stop_lock, std::chrono::nanoseconds(sleep_ns), [this] { return stopping_ || poked_; });
    if (stopping_) break;
    poked_ = false;
    stop_lock.unlock();
    sleep_ns = kLongestSleepNs;
    {
      std::lock_guard lock(mutex_);
      catch_up_locked();
      for (VirtualSoundBuffer* b : buffers_) {
        const std::int64_t due = b->ns_to_next_notification();
        if (due >= 0) sleep_ns = std::min(sleep_ns, due + kPastDueNs);
      }
    }
    stop_lock.lock();
  }
}

}  // namespace platform
