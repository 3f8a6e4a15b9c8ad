// Sound output: one process-wide device and, per playing camera, a looping
// buffer that the device plays round and round while the camera's audio
// thread refills the part the play cursor has left.
//
// The model is a ring of PCM bytes with a play cursor. Writers put samples
// at an offset; the device reads at the cursor, wraps at the end and keeps
// going until stopped. A buffer reports the cursor reaching chosen offsets,
// and playback stopping, by raising signals in a SoundSignals the owner
// waits on. Back ends: Qt Multimedia (platform/qt) for real speakers and a
// virtual device (platform/headless) with a real-time cursor and no sound,
// used headless and in tests.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

// Linear PCM, interleaved, little-endian signed samples.
struct PcmFormat {
  int channels = 1;
  int sample_rate = 8000;
  int bits_per_sample = 16;

  int bytes_per_second() const { return sample_rate * channels * bits_per_sample / 8; }
  int block_align() const { return channels * bits_per_sample / 8; }
};

// Up to 32 auto-reset signals that one thread waits on: set by anyone,
// cleared by the wait that consumes them. A signal raised twice before it is
// consumed counts once.
class SoundSignals {
 public:
  void raise(int index);
  void clear(std::uint32_t mask);

  // Waits until one of the signals in mask is raised, clears it and returns
  // its index (the lowest when several are raised). timeout_ms < 0 waits
  // without limit; returns -1 on time-out.
  int wait_any(std::uint32_t mask, int timeout_ms = -1);

  // Waits until every signal in all_mask is raised and clears them; returns
  // true. Returns false, clearing only that one, as soon as a signal of
  // wake_mask is raised first: the way to interrupt the wait.
  bool wait_all(std::uint32_t all_mask, std::uint32_t wake_mask);

  // The raised signals, for tests.
  std::uint32_t raised() const;
  // How often a wait was woken, for tests: a signal the waiter is not
  // waiting for, or not yet all of them, wakes nobody.
  std::uint64_t wakeups() const;

 private:
  // Waits until the wait in progress is satisfied; false on time-out.
  bool wait_satisfied(std::unique_lock<std::mutex>& lock, int timeout_ms);
  bool satisfied() const {
    return (raised_ & any_mask_) != 0 || (all_mask_ != 0 && (raised_ & all_mask_) == all_mask_);
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::uint32_t raised_ = 0;
  // What the wait in progress waits for: any of any_mask_, or all of
  // all_mask_. Both 0 while nobody waits.
  std::uint32_t any_mask_ = 0;
  std::uint32_t all_mask_ = 0;
  std::uint64_t wakeups_ = 0;
};

// Where a buffer reports its cursor: on reaching `offset` (or, for
// kNotifyOnStop, when playback stops), raise signal `signal` of the set.
struct SoundNotification {
  static constexpr std::size_t kNotifyOnStop = static_cast<std::size_t>(-1);
  std::size_t offset;
  int signal;
};

enum class SoundWrite { Ok, Lost, Failed };

// A looping buffer of one camera. Every method may be called from any
// thread; calls are serialised inside.
class SoundBuffer {
 public:
  virtual ~SoundBuffer() = default;

  virtual std::size_t size() const = 0;

  // Copies len bytes to offset (offset + len must not pass the end; longer
  // writes are cut there). Lost: the device took the memory away; restore()
  // and write again. Failed: nothing was written.
  [[nodiscard]] virtual SoundWrite write(std::size_t offset, const std::uint8_t* data, std::size_t len) = 0;
  [[nodiscard]] virtual bool restore() = 0;

  // Moves the play cursor; a cursor started at or moved onto a notification
  // offset while playing has reached it.
  virtual void set_position(std::size_t offset) = 0;
  virtual std::size_t position() const = 0;

  // Starts playing round and round from the cursor; false when the device
  // cannot play.
  [[nodiscard]] virtual bool play_looping() = 0;
  virtual void stop() = 0;
  virtual bool playing() const = 0;

  // Attenuation in hundredths of a decibel: 0 full, -10000 silent. Values
  // outside that range are clamped.
  virtual void set_volume(int hundredths_db) = 0;
  virtual int volume() const = 0;

  // Replaces the notifications, raised into target, which must outlive the
  // buffer or the next call to set_notifications.
  virtual void set_notifications(SoundSignals* target, const std::vector<SoundNotification>& points) = 0;
};

// The sound output of the machine.
class SoundDevice {
 public:
  virtual ~SoundDevice() = default;
  // A silent, stopped buffer of `bytes` bytes (a multiple of the block
  // alignment) with the cursor at 0, or nullptr when the device cannot
  // make one.
  [[nodiscard]] virtual std::unique_ptr<SoundBuffer> create_buffer(const PcmFormat& format, std::size_t bytes) = 0;
};

// Makes the process-wide device; nullptr when there is no sound output.
using SoundDeviceFactory = std::function<std::unique_ptr<SoundDevice>()>;

// Installs the factory that sound_device() uses (the program installs the
// Qt one, tests a virtual device). Without one, a real-time virtual device
// is made: everything runs, nothing is heard. Releases any current device.
void set_sound_device_factory(SoundDeviceFactory factory);

// The process-wide device, made by the factory on the first call. When
// making it fails, nullptr is returned and the next call tries again. Any
// thread; concurrent first calls make one device.
SoundDevice* sound_device();

// Destroys the process-wide device. Every buffer must be gone already. Call
// once at the end of the program, after every camera has stopped.
void release_sound_device();

}  // namespace platform
