#include "viewer/platform/event.h"

#include <algorithm>
#include <chrono>

namespace platform {

// A thread in wait_any registers one of these with every event it waits on,
// so that a set() on any of them wakes it. Lock order: event, then waiter.
struct Event::Waiter {
  std::mutex mutex;
  std::condition_variable cv;
  bool poked = false;
};

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadline_after(std::uint32_t timeout_ms) {
  return Clock::now() + std::chrono::milliseconds(timeout_ms);
}

}  // namespace

Event::Event(Reset reset, bool initially_set) : set_(initially_set), manual_(reset == Reset::Manual) {}

Event::~Event() = default;

void Event::set() {
  std::lock_guard lock(mutex_);
  set_ = true;
  if (manual_) {
    cv_.notify_all();
  } else {
    cv_.notify_one();
  }
  for (Waiter* w : waiters_) {
    std::lock_guard wl(w->mutex);
    w->poked = true;
    w->cv.notify_one();
  }
}

void Event::reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool Event::is_set() const {
  std::lock_guard lock(mutex_);
  return set_;
}

bool Event::consume_locked() {
  if (!set_) return false;
  if (!manual_) set_ = false;
  return true;
}

bool Event::wait(std::uint32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  if (timeout_ms == kWaitForever) {
    cv_.wait(lock, [&] { return set_; });
  } else if (!cv_.wait_until(lock, deadline_after(timeout_ms), [&] { return set_; })) {
    return false;
  }
  return consume_locked();
}

int wait_any(std::span<Event* const> events, std::uint32_t timeout_ms) {
  if (events.empty()) return -1;
  const auto deadline = deadline_after(timeout_ms == kWaitForever ? 0 : timeout_ms);
  Event::Waiter waiter;
  std::size_t registered = 0;
  int found = -1;

  for (;;) {
    {
      std::lock_guard wl(waiter.mutex);
      waiter.poked = false;
    }
    // Check each event under its own lock and stay registered with it, so a
    // set() between this check and the sleep below still pokes the waiter.
    for (std::size_t i = 0; i < events.size() && found < 0; ++i) {
      Event& e = *events[i];
      std::lock_guard lock(e.mutex_);
      if (e.consume_locked()) {
        found = static_cast<int>(i);
      } else if (i >= registered) {
        e.waiters_.push_back(&waiter);
        registered = i + 1;
      }
    }
    if (found >= 0) break;

    std::unique_lock wl(waiter.mutex);
    if (timeout_ms == kWaitForever) {
      waiter.cv.wait(wl, [&] { return waiter.poked; });
    } else if (!waiter.cv.wait_until(wl, deadline, [&] { return waiter.poked; })) {
      break;
    }
  }

  for (std::size_t i = 0; i < registered; ++i) {
    Event& e = *events[i];
    std::lock_guard lock(e.mutex_);
    std::erase(e.waiters_, &waiter);
  }
  return found;
}

}  // namespace platform
