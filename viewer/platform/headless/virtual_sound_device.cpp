#include "viewer/platform/headless/virtual_sound_device.h"

#include <algorithm>
#include <chrono>

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
  std::vector<std::uint8_t> passed;
  advance_ns(ns, &passed);
  std::lock_guard lock(played_mutex_);
  played_.insert(played_.end(), passed.begin(), passed.end());
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

void VirtualSoundDevice::tick_loop() {
  using Clock = std::chrono::steady_clock;
  auto last = Clock::now();
  std::unique_lock stop_lock(stop_mutex_);
  while (!stop_changed_.wait_for(stop_lock, std::chrono::milliseconds(2), [this] { return stopping_; })) {
    const auto now = Clock::now();
    const std::int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - last).count();
    last = now;
    std::lock_guard lock(mutex_);
    for (VirtualSoundBuffer* b : buffers_) b->play_for_ns(ns);
  }
}

}  // namespace platform
