#include "viewer/platform/sound_device.h"

#include <chrono>

#include "viewer/platform/headless/virtual_sound_device.h"

namespace platform {

void SoundSignals::raise(int index) {
  {
    std::lock_guard lock(mutex_);
    raised_ |= 1u << index;
  }
  changed_.notify_all();
}

void SoundSignals::clear(std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  raised_ &= ~mask;
}

int SoundSignals::wait_any(std::uint32_t mask, int timeout_ms) {
  std::unique_lock lock(mutex_);
  auto ready = [&] { return (raised_ & mask) != 0; };
  if (timeout_ms < 0)
    changed_.wait(lock, ready);
  else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready))
    return -1;
  const int index = __builtin_ctz(raised_ & mask);
  raised_ &= ~(1u << index);
  return index;
}

bool SoundSignals::wait_all(std::uint32_t all_mask, std::uint32_t wake_mask) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return (raised_ & all_mask) == all_mask || (raised_ & wake_mask) != 0; });
  if ((raised_ & wake_mask) != 0) {
    raised_ &= ~(1u << __builtin_ctz(raised_ & wake_mask));
    return false;
  }
  raised_ &= ~all_mask;
  return true;
}

std::uint32_t SoundSignals::raised() const {
  std::lock_guard lock(mutex_);
  return raised_;
}

namespace {

struct DeviceSlot {
  std::mutex mutex;
  SoundDeviceFactory factory;
  std::unique_ptr<SoundDevice> device;
};

DeviceSlot& slot() {
  static DeviceSlot s;
  return s;
}

}  // namespace

void set_sound_device_factory(SoundDeviceFactory factory) {
  std::unique_ptr<SoundDevice> old;
  {
    DeviceSlot& s = slot();
    std::lock_guard lock(s.mutex);
    s.factory = std::move(factory);
    old = std::move(s.device);
  }
}

SoundDevice* sound_device() {
  DeviceSlot& s = slot();
  std::lock_guard lock(s.mutex);
  if (!s.device) {
    if (s.factory)
      s.device = s.factory();
    else
      s.device = std::make_unique<VirtualSoundDevice>();
  }
  return s.device.get();
}

void release_sound_device() {
  std::unique_ptr<SoundDevice> old;
  {
    DeviceSlot& s = slot();
    std::lock_guard lock(s.mutex);
    old = std::move(s.device);
  }
}

}  // namespace platform
