#include "viewer/record/notifier.h"

#include <chrono>

#include "viewer/platform/ui_seams.h"

namespace record {

Notifier::Notifier() : thread_([this] { run(); }) {}

Notifier::~Notifier() { stop(); }

void Notifier::post(std::string text, std::string caption) {
  std::lock_guard lock(mutex_);
  if (stopping_) return;
  if (busy_ && showing_.text == text && showing_.caption == caption) return;
  for (const Message& m : queue_)
    if (m.text == text && m.caption == caption) return;
  queue_.push_back(Message{std::move(text), std::move(caption)});
  wake_.notify_all();
}

void Notifier::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
    wake_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

bool Notifier::wait_idle(int timeout_ms) {
  std::unique_lock lock(mutex_);
  return wake_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return queue_.empty() && !busy_; });
}

void Notifier::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) break;
    showing_ = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    (void)platform::message_box(showing_.text, showing_.caption, platform::MsgButtons::Ok);
    lock.lock();
    busy_ = false;
    wake_.notify_all();
  }
}

}  // namespace record
