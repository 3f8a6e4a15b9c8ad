// The narrow ways in which core code reaches the user interface.
//
// Core code (streams, pipelines, recording) never touches a window and never
// waits for one. It has three ways out:
//   - a notice (text and caption) that any thread posts and that the user
//     interface shows on its own thread, while the poster goes on at once;
//   - a question (buttons -> answer), modal, which only the user-interface
//     thread may ask: a core thread that needs an answer would stall its
//     camera, and with it whoever waits for that camera;
//   - a private message posted to the main window (returns at once).
// The program installs its Qt back end at start; tests and tools install a
// HeadlessUi (headless/) that records everything and answers as scripted.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace platform {

// Private window messages of the main window.
inline constexpr std::uint32_t kMsgTrayNotify = 0x8001;     // tray icon -> main window
inline constexpr std::uint32_t kMsgCameraRefused = 0x8002;  // stream thread -> main window, lparam = Camera

enum class MsgButtons { Ok, OkCancel, YesNo };

// Answers of a question, with the values the program has always used.
// Refused: the question was asked from a thread that may not ask; nothing
// was shown.
enum class MsgAnswer : int { Refused = 0, Ok = 1, Cancel = 2, Yes = 6, No = 7 };

// One notice as the user interface shows it.
struct Notice {
  std::uint64_t id = 0;
  std::string text;
  std::string caption;
};

// The notices waiting to be shown and those on screen. Identical notices
// (same text and caption) are not stacked: while one is waiting or shown,
// posting it again does nothing, so a camera that fails the same way on
// every reconnection gives one box until the user closes it. Thread-safe.
class NoticeBoard {
 public:
  // Queues a notice; false when an identical one is waiting or shown.
  // Calls the wake-up (on the posting thread) after queueing. Any thread.
  bool post(std::string_view text, std::string_view caption);
  // The oldest waiting notice, which now counts as shown; nullopt when none
  // waits. The user interface's thread.
  std::optional<Notice> take();
  // The user closed a shown notice: an identical one may be posted again.
  void closed(std::uint64_t id);
  // Called after every accepted post; it must only schedule work (it runs on
  // whatever thread posted, with no lock of the board held).
  void set_wakeup(std::function<void()> wakeup);
  // Notices waiting, and notices shown and not yet closed (tests).
  std::size_t waiting() const;
  std::size_t shown() const;
  // Forgets everything (tests; a new back end).
  void reset();

 private:
  mutable std::mutex mutex_;
  std::vector<Notice> waiting_;
  std::vector<Notice> shown_;
  std::uint64_t next_id_ = 1;
  std::function<void()> wakeup_;
};

// What the user interface does for the core.
class UiBackend {
 public:
  virtual ~UiBackend() = default;

  // A modal question with no owner window; returns the answer. Called only
  // on the user-interface thread (ask() below refuses other threads).
  virtual MsgAnswer ask(std::string_view text, std::string_view caption, MsgButtons buttons) = 0;

  // Notices are waiting on notices(): show them on the user-interface
  // thread. Called on the posting thread; must return at once.
  virtual void notices_waiting() = 0;

  // Posts a private message to the main window and returns at once. Any
  // thread.
  virtual void post_to_main_window(std::uint32_t msg, std::uintptr_t wparam, std::uintptr_t lparam) = 0;
};

// Installs the process-wide back end (nullptr restores the built-in one,
// which answers every question with its first button, drops posts and
// closes notices at once). The calling thread becomes the user-interface
// thread. The back end must outlive every thread that may call it.
void set_ui_backend(UiBackend* backend);
UiBackend& ui();

// The thread that may ask questions. set_ui_backend() sets it; a program
// whose event loop runs elsewhere sets it explicitly.
void set_ui_thread(std::thread::id id);
bool on_ui_thread();

// The process-wide notice board.
NoticeBoard& notices();

// Posts a notice; returns at once. Any thread.
void notify(std::string_view text, std::string_view caption);

// Asks a question. On the user-interface thread: the back end's answer. On
// any other thread: nothing is shown, MsgAnswer::Refused is returned and the
// refusal is reported on stderr (a programming error, not a user's).
MsgAnswer ask(std::string_view text, std::string_view caption, MsgButtons buttons = MsgButtons::Ok);

// A message with only an OK button: asked (modal) on the user-interface
// thread, posted as a notice from any other. For code that both may run.
void tell(std::string_view text, std::string_view caption);

inline void post_to_main_window(std::uint32_t msg, std::uintptr_t wparam, std::uintptr_t lparam) {
  ui().post_to_main_window(msg, wparam, lparam);
}

}  // namespace platform
