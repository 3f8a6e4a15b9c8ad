// A user interface without a display: records every question, notice and
// post, and answers questions from a script. Used by tests and command-line
// tools.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "viewer/platform/ui_seams.h"

namespace platform {

class HeadlessUi final : public UiBackend {
 public:
  struct Shown {
    std::string text;
    std::string caption;
    MsgButtons buttons;
    bool notice = false;  // posted as a notice (else asked as a question)
  };
  struct Posted {
    std::uint32_t msg;
    std::uintptr_t wparam;
    std::uintptr_t lparam;
  };

  MsgAnswer ask(std::string_view text, std::string_view caption, MsgButtons buttons) override;
  // Records each waiting notice as shown. Unless notices are held, each is
  // closed at once, as if the user had clicked it away.
  void notices_waiting() override;
  void post_to_main_window(std::uint32_t msg, std::uintptr_t wparam, std::uintptr_t lparam) override;

  // The next questions answer these, in order; afterwards the first button.
  void script_answers(std::vector<MsgAnswer> answers);

  // Held notices stay on "screen" until close_notices(): identical ones
  // posted meanwhile are not shown again.
  void hold_notices(bool hold);
  void close_notices();

  std::vector<Shown> shown() const;
  // The texts of shown(), in order.
  std::vector<std::string> shown_texts() const;
  std::vector<Posted> posted() const;
  void clear();

  // Waits until at least n messages were shown (or posted); false on time-out.
  bool wait_shown(std::size_t n, int timeout_ms) const;
  bool wait_posted(std::size_t n, int timeout_ms) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<MsgAnswer> answers_;
  std::vector<Shown> shown_;
  std::vector<Posted> posted_;
  std::vector<std::uint64_t> held_;
  bool hold_ = false;
};

// Installs a HeadlessUi for the lifetime of this object (tests); the
// constructing thread is the user-interface thread.
class ScopedHeadlessUi {
 public:
  ScopedHeadlessUi() { set_ui_backend(&ui_); }
  ~ScopedHeadlessUi() { set_ui_backend(nullptr); }
  ScopedHeadlessUi(const ScopedHeadlessUi&) = delete;
  ScopedHeadlessUi& operator=(const ScopedHeadlessUi&) = delete;
  HeadlessUi* operator->() { return &ui_; }
  HeadlessUi& get() { return ui_; }

 private:
  HeadlessUi ui_;
};

}  // namespace platform
