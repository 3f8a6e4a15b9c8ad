#include "viewer/platform/headless/headless_ui.h"

#include <chrono>

namespace platform {

MsgAnswer HeadlessUi::ask(std::string_view text, std::string_view caption, MsgButtons buttons) {
  std::lock_guard lock(mutex_);
  shown_.push_back({std::string(text), std::string(caption), buttons, false});
  changed_.notify_all();
  if (!answers_.empty()) {
    MsgAnswer a = answers_.front();
    answers_.pop_front();
    return a;
  }
  return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
}

void HeadlessUi::notices_waiting() {
  while (std::optional<Notice> n = notices().take()) {
    bool close_now = false;
    {
      std::lock_guard lock(mutex_);
      shown_.push_back({n->text, n->caption, MsgButtons::Ok, true});
      if (hold_)
        held_.push_back(n->id);
      else
        close_now = true;
      changed_.notify_all();
    }
    if (close_now) notices().closed(n->id);
  }
}

void HeadlessUi::post_to_main_window(std::uint32_t msg, std::uintptr_t wparam, std::uintptr_t lparam) {
  std::lock_guard lock(mutex_);
  posted_.push_back({msg, wparam, lparam});
  changed_.notify_all();
}

void HeadlessUi::script_answers(std::vector<MsgAnswer> answers) {
  std::lock_guard lock(mutex_);
  answers_.assign(answers.begin(), answers.end());
}

void HeadlessUi::hold_notices(bool hold) {
  std::lock_guard lock(mutex_);
  hold_ = hold;
}

void HeadlessUi::close_notices() {
  std::vector<std::uint64_t> ids;
  {
    std::lock_guard lock(mutex_);
    ids.swap(held_);
  }
  for (std::uint64_t id : ids) notices().closed(id);
}

std::vector<HeadlessUi::Shown> HeadlessUi::shown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

std::vector<std::string> HeadlessUi::shown_texts() const {
  std::vector<std::string> out;
  for (const Shown& s : shown()) out.push_back(s.text);
  return out;
}

std::vector<HeadlessUi::Posted> HeadlessUi::posted() const {
  std::lock_guard lock(mutex_);
  return posted_;
}

void HeadlessUi::clear() {
  std::lock_guard lock(mutex_);
  shown_.clear();
  posted_.clear();
  answers_.clear();
}

bool HeadlessUi::wait_shown(std::size_t n, int timeout_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return shown_.size() >= n; });
}

bool HeadlessUi::wait_posted(std::size_t n, int timeout_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return posted_.size() >= n; });
}

}  // namespace platform
