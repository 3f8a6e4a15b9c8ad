// A sound device without speakers: buffers play in real time (or on a
// clock the test moves), raise their notifications like a sound card would,
// and can keep everything their cursor passes for the tests to inspect.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "viewer/platform/sound_device.h"
#include "viewer/platform/sound_ring.h"

namespace platform {

class VirtualSoundDevice;

class VirtualSoundBuffer final : public RingSoundBuffer {
 public:
  VirtualSoundBuffer(VirtualSoundDevice* device, const PcmFormat& format, std::size_t bytes, bool capture);
  ~VirtualSoundBuffer() override;

  // Every byte the cursor passed while playing, in order (when the device
  // captures).
  std::vector<std::uint8_t> played() const;

  // Plays ns nanoseconds (the device's clock).
  void play_for_ns(std::int64_t ns);

  // These change when the next notification is due: the device's clock
  // thread is told, so that it sleeps exactly until then.
  void set_position(std::size_t offset) override;
  bool play_looping() override;
  void set_notifications(SoundSignals* target, const std::vector<SoundNotification>& points) override;

 private:
  VirtualSoundDevice* device_;
  const bool capture_;
  mutable std::mutex played_mutex_;
  std::vector<std::uint8_t> played_;
};

class VirtualSoundDevice final : public SoundDevice {
 public:
  struct Options {
    bool manual_clock = false;  // the cursor moves only through advance_ms()
    bool capture = false;       // buffers keep what they play
  };
  VirtualSoundDevice() : VirtualSoundDevice(Options{}) {}
  explicit VirtualSoundDevice(Options options);
  ~VirtualSoundDevice() override;
  VirtualSoundDevice(const VirtualSoundDevice&) = delete;
  VirtualSoundDevice& operator=(const VirtualSoundDevice&) = delete;

  std::unique_ptr<SoundBuffer> create_buffer(const PcmFormat& format, std::size_t bytes) override;

  // Manual clock: plays ms milliseconds on every playing buffer.
  void advance_ms(int ms);
  // While set, create_buffer fails.
  void set_fail_buffers(bool fail) { fail_buffers_ = fail; }
  // The buffers alive now, oldest first; each stays valid while its owner
  // keeps it.
  std::vector<VirtualSoundBuffer*> buffers() const;

 private:
  friend class VirtualSoundBuffer;
  void forget(VirtualSoundBuffer* buffer);
  void tick_loop();
  // Moves every playing buffer up to now (real-time clock), so that a buffer
  // about to change starts from the present, not from the last wake.
  void catch_up();
  void catch_up_locked();  // mutex_ held
  // A buffer's next notification may have moved: the clock thread looks again.
  void poke();

  const Options options_;
  mutable std::mutex mutex_;  // the buffer list; taken before any buffer's own lock
  std::vector<VirtualSoundBuffer*> buffers_;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
  std::atomic<bool> fail_buffers_{false};
  std::mutex stop_mutex_;
  std::condition_variable stop_changed_;
  bool stopping_ = false;
  bool poked_ = false;
  std::thread ticker_;
};

}  // namespace platform
