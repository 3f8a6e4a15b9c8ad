// Events in the manner the stream, audio and decode threads were designed
// around: a manual-reset event stays set until reset; an auto-reset event
// releases exactly one waiter and clears itself. Waiting has a time-out and a
// thread may wait for any one of several events.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace platform {

inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

class Event {
 public:
  enum class Reset { Manual, Auto };

  explicit Event(Reset reset, bool initially_set = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Any thread.
  void set();
  void reset();

  // Waits until the event is set or timeout_ms passed (kWaitForever: no
  // limit). True when the event was set; an auto-reset event is then clear
  // again. Any thread.
  [[nodiscard]] bool wait(std::uint32_t timeout_ms);

  // True when set, without waiting and without clearing an auto-reset event.
  bool is_set() const;

 private:
  friend int wait_any(std::span<Event* const> events, std::uint32_t timeout_ms);
  struct Waiter;

  // Takes the signal when set (clearing an auto-reset event); caller holds mutex_.
  bool consume_locked();

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
  const bool manual_;
  std::vector<Waiter*> waiters_;  // threads in wait_any on this event
};

// Waits until one of the events is set and returns its index (the lowest one
// when several are set; only that one is consumed), or -1 after timeout_ms.
// The events must outlive the call. Any thread.
[[nodiscard]] int wait_any(std::span<Event* const> events, std::uint32_t timeout_ms);

}  // namespace platform
