// The thread of a recording loop: it repeats one pass until told to stop,
// and stopping joins it, so no pass is ever cut off mid-write. Between
// passes the loop waits on its stop event, so a stop ends the wait at once
// and an idle loop sleeps instead of spinning.
#pragma once

#include <atomic>
#include <thread>
#include <utility>

#include "viewer/platform/event.h"

namespace record {

// Time between two passes of a recording loop: short while the loop has a
// file to keep writing (the arrival-to-write delay of its packets), long
// while it only watches for a window, a request or motion to begin.
inline constexpr int kBusyPassMs = 20;
inline constexpr int kIdlePassMs = 250;

class LoopThread {
 public:
  LoopThread() = default;
  LoopThread(const LoopThread&) = delete;
  LoopThread& operator=(const LoopThread&) = delete;
  ~LoopThread() { stop(); }

  // Starts repeating pass() on a thread of its own; does nothing while one
  // runs. Called from the thread that owns the loop.
  template <class Pass>
  void start(Pass pass) {
    if (thread_.joinable()) return;
    stop_.store(false);
    stop_event_.reset();
    thread_ = std::thread([this, pass = std::move(pass)]() mutable {
      while (!stop_.load()) pass();
    });
  }

  // Asks the loop to stop and joins it; idempotent.
  void stop() {
    stop_.store(true);
    stop_event_.set();
    if (thread_.joinable()) thread_.join();
  }

  // True once stop() was asked; a pass checks it between cameras.
  bool stopping() const { return stop_.load(); }
  // Set by stop(): what a pass waits on between its rounds.
  platform::Event& stop_event() { return stop_event_; }

 private:
  std::atomic<bool> stop_{false};
  platform::Event stop_event_{platform::Event::Reset::Manual};
  std::thread thread_;
};

}  // namespace record
