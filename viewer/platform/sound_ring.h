// The part every sound back end shares: a ring of PCM bytes, a play cursor
// that time moves, and the notifications raised as the cursor passes their
// offsets. A back end derives from it, moves time (real or simulated) with
// advance_ns and does what it likes with the bytes the cursor passed: the
// virtual device keeps them, the Qt device hands them to the speakers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "viewer/platform/sound_device.h"

namespace platform {

class RingSoundBuffer : public SoundBuffer {
 public:
  RingSoundBuffer(const PcmFormat& format, std::size_t bytes);

  std::size_t size() const override { return ring_.size(); }
  SoundWrite write(std::size_t offset, const std::uint8_t* data, std::size_t len) override;
  bool restore() override;
  void set_position(std::size_t offset) override;
  std::size_t position() const override;
  bool play_looping() override;
  void stop() override;
  bool playing() const override;
  void set_volume(int hundredths_db) override;
  int volume() const override;
  void set_notifications(SoundSignals* target, const std::vector<SoundNotification>& points) override;

  // Plays ns nanoseconds: moves the cursor by whole sample frames (keeping
  // the remainder for the next call), raises every notification passed, in
  // order, and appends the bytes passed to *out when given. Does nothing
  // while stopped. Any thread.
  void advance_ns(std::int64_t ns, std::vector<std::uint8_t>* out);

  // Nanoseconds of playing until the cursor reaches its next notification
  // offset; -1 while stopped or without notifications. A back end sleeps
  // that long instead of moving the cursor in small steps. Any thread.
  std::int64_t ns_to_next_notification() const;

  // The ring as it is now, for tests.
  std::vector<std::uint8_t> contents() const;
  // Makes the following writes report Lost until restore(), as a device
  // that takes the memory away would.
  void lose();

 protected:
  const PcmFormat format_;

 private:
  void reach(std::size_t offset);  // mutex_ held

  mutable std::mutex mutex_;
  std::vector<std::uint8_t> ring_;
  std::size_t cursor_ = 0;
  std::int64_t pending_ns_ = 0;  // time not yet worth a whole sample frame
  bool playing_ = false;
  bool lost_ = false;
  int volume_ = 0;
  SoundSignals* signals_ = nullptr;
  std::vector<SoundNotification> points_;
};

}  // namespace platform
