// The thread of a recording loop: it repeats one pass until told to stop,
// and stopping joins it, so no pass is ever cut off mid-write.
#pragma once

#include <atomic>
#include <thread>
#include <utility>

namespace record {

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
    thread_ = std::thread([this, pass = std::move(pass)]() mutable {
      while (!stop_.load()) pass();
    });
  }

  // Asks the loop to stop and joins it; idempotent.
  void stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }

  // True once stop() was asked; a pass checks it between cameras.
  bool stopping() const { return stop_.load(); }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace record
