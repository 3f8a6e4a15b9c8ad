// The user-interface seams on Qt: questions as modal message boxes, notices
// shown one at a time without blocking anyone, and private messages posted
// to the main window, all on the thread that runs the Qt event loop.
//
// How a box looks is the program's choice (the skinned message box of the
// shell); the defaults are plain QMessageBoxes, so that this layer needs
// nothing above it.
//
// Notices: every notice the core posts (any thread) wakes this back end,
// which queues a call to the user-interface thread. There the waiting
// notices are shown one at a time, non-modally: the next one comes when the
// user has closed the one on screen. While a modal window is open (a dialog,
// a question) they are held back and shown after it closes, so nothing is
// lost, and the board never shows two boxes with the same text (identical
// notices are not even queued until the shown one is closed).
//
// Private messages go to a router object that lives as long as this back
// end, never to a window that may be gone; the router hands them to the
// main window's handler while one is set.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "viewer/platform/ui_seams.h"

class QObject;

namespace platform {

class QtUiBackend final : public UiBackend {
 public:
  // Asks modally; returns the answer.
  using AskFn = std::function<MsgAnswer(std::string_view text, std::string_view caption, MsgButtons buttons)>;
  // Shows a notice without blocking and calls closed() once the user has
  // closed it (on the user-interface thread).
  using ShowNoticeFn = std::function<void(const Notice& notice, std::function<void()> closed)>;
  using MessageFn = std::function<void(std::uint32_t msg, std::uintptr_t wparam, std::uintptr_t lparam)>;

  // Create on the user-interface thread, after the QApplication. Empty
  // functions use QMessageBox.
  explicit QtUiBackend(AskFn ask = {}, ShowNoticeFn show_notice = {});
  ~QtUiBackend() override;
  QtUiBackend(const QtUiBackend&) = delete;
  QtUiBackend& operator=(const QtUiBackend&) = delete;

  MsgAnswer ask(std::string_view text, std::string_view caption, MsgButtons buttons) override;
  void notices_waiting() override;
  void post_to_main_window(std::uint32_t msg, std::uintptr_t wparam, std::uintptr_t lparam) override;

  // Who gets the posted messages (user-interface thread); an empty function
  // drops them (no main window, or it is going away).
  void set_message_handler(MessageFn handler);

  // Shows the next waiting notice unless one is on screen or a modal window
  // is open (then it tries again shortly). User-interface thread.
  void show_next_notice();
  // A notice is on screen now.
  bool notice_on_screen() const { return on_screen_; }

 private:
  class Router;
  AskFn ask_;
  ShowNoticeFn show_notice_;
  MessageFn handler_;
  std::unique_ptr<Router> router_;
  bool on_screen_ = false;
  bool retry_armed_ = false;
};

// Installs a QtUiBackend for its lifetime (the constructing thread is the
// user-interface thread) and restores the built-in back end when it goes.
class ScopedQtUi {
 public:
  explicit ScopedQtUi(QtUiBackend::AskFn ask = {}, QtUiBackend::ShowNoticeFn show_notice = {});
  ~ScopedQtUi();
  ScopedQtUi(const ScopedQtUi&) = delete;
  ScopedQtUi& operator=(const ScopedQtUi&) = delete;
  QtUiBackend& get() { return backend_; }
  QtUiBackend* operator->() { return &backend_; }

 private:
  QtUiBackend backend_;
};

}  // namespace platform
