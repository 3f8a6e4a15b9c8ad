#include "viewer/platform/sound_device.h"

#include <algorithm>
#include <chrono>

#include "viewer/platform/headless/virtual_sound_device.h"

namespace platform {

void SoundSignals::raise(int index) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    raised_ |= 1u << index;
    // A camera's audio thread waits for the play cursor most of the time,
    // while every block the stream queues raises a signal too: waking it
    // for those would cost two thread switches for nothing.
    wake = satisfied();
  }
  if (wake) changed_.notify_all();
}

bool SoundSignals::wait_satisfied(std::unique_lock<std::mutex>& lock, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  bool ok = true;
  while (!satisfied()) {
    if (timeout_ms < 0) {
      changed_.wait(lock);
    } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
      ok = satisfied();
      break;
    }
    ++wakeups_;
  }
  any_mask_ = 0;
  all_mask_ = 0;
  return ok;
}

void SoundSignals::clear(std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  raised_ &= ~mask;
}

int SoundSignals::wait_any(std::uint32_t mask, int timeout_ms) {
  std::unique_lock lock(mutex_);
  any_mask_ = mask;
  if (!wait_satisfied(lock, timeout_ms)) return -1;
  const int index = __builtin_ctz(raised_ & mask);
  raised_ &= ~(1u << index);
  return index;
}

bool SoundSignals::wait_all(std::uint32_t all_mask, std::uint32_t wake_mask) {
  std::unique_lock lock(mutex_);
  if (all_mask == 0) return true;  // nothing to wait for
  any_mask_ = wake_mask;
  all_mask_ = all_mask;
  (void)wait_satisfied(lock, -1);
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

std::uint64_t SoundSignals::wakeups() const {
  std::lock_guard lock(mutex_);
  return wakeups_;
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
