// The narrow ways in which core code reaches the user interface.
//
// Core code (streams, pipelines, recording) never touches a window. It shows
// modal messages, posts private messages to the main window and sends a
// picture to a camera's view through these seams. The program installs its
// Qt back end at start; tests and tools install a HeadlessUi (headless/) that
// records everything and answers as the test scripts it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Private window messages of the main window and the camera views.
inline constexpr std::uint32_t kMsgTrayNotify = 0x8001;     // tray icon -> main window
inline constexpr std::uint32_t kMsgCameraRefused = 0x8002;  // stream thread -> main window, lparam = Camera
inline constexpr std::uint32_t kMsgPresentFrame = 0x8003;   // decode thread -> view, lparam = presentation record

enum class MsgButtons { Ok, OkCancel, YesNo };

// Answers of a message box, with the values the program has always used.
enum class MsgAnswer : int { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

// What the user interface does for the core. Every method may be called from
// any thread; an implementation marshals to its own user-interface thread.
class UiBackend {
 public:
  virtual ~UiBackend() = default;

  // Modal message box with no owner window. Blocks the calling thread until
  // the user answers; returns the answer.
  virtual MsgAnswer message_box(std::string_view text, std::string_view caption, MsgButtons buttons) = 0;

  // Posts a private message to the main window and returns at once.
  virtual void post_to_main_window(std::uint32_t msg, std::uintptr_t wparam, std::uintptr_t lparam) = 0;
};

// Installs the process-wide back end (nullptr restores the built-in one, which
// answers every message box with its first button and drops posts). The back
// end must outlive every thread that may call it.
void set_ui_backend(UiBackend* backend);
UiBackend& ui();

// Shorthands for the two calls core code makes.
inline MsgAnswer message_box(std::string_view text, std::string_view caption, MsgButtons buttons = MsgButtons::Ok) {
  return ui().message_box(text, caption, buttons);
}
inline void post_to_main_window(std::uint32_t msg, std::uintptr_t wparam, std::uintptr_t lparam) {
  ui().post_to_main_window(msg, wparam, lparam);
}

// Outcome of a synchronous send to a view.
enum class SendResult { Handled, TimedOut, NoTarget };

// A window that shows a camera's pictures (a cell of the main window or a
// pop-up window). The decode thread sends it each picture and waits for it to
// be drawn, at most timeout_ms; a view that does not answer in time is not
// waited for any longer, and the message may still be handled later, so the
// record it points to must stay valid for as long as the sender's object lives.
class View {
 public:
  virtual ~View() = default;
  virtual SendResult send_message(std::uint32_t msg, const void* lparam, std::uint32_t timeout_ms) = 0;
  // Asks the view to repaint the given area (view coordinates) from its own
  // back buffer; returns at once.
  virtual void invalidate(int left, int top, int right, int bottom) = 0;
};

}  // namespace platform
