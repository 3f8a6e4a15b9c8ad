// Polling with a deadline, for tests that wait on another thread or process.
#pragma once

#include <chrono>
#include <thread>

namespace test_support {

// Calls done() every poll_ms until it holds (true) or timeout_ms has passed
// (false). done() is asked once more at the deadline, so a condition that
// came true during the last sleep is not reported as a time-out.
template <class Pred>
bool wait_until(Pred&& done, int timeout_ms, int poll_ms = 5) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(poll_ms));
  }
  return true;
}

}  // namespace test_support
