// The Qt back end of the user-interface seams, offscreen: notices from other
// threads shown one at a time and held while a modal window is open, and
// private messages reaching the main window's handler on the UI thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>

#include <thread>

#include "viewer/platform/qt/qt_ui_backend.h"

namespace platform {
namespace {

// Runs the event loop until done() holds or timeout_ms passes.
template <class Pred>
bool process_until(Pred done, int timeout_ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeout_ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

void process_for(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Shows nothing; remembers what it was asked to show and how to close it.
struct FakeScreen {
  std::vector<std::string> shown;
  std::vector<std::function<void()>> close;
  QtUiBackend::ShowNoticeFn fn() {
    return [this](const Notice& n, std::function<void()> closed) {
      shown.push_back(n.caption + ": " + n.text);
      close.push_back(std::move(closed));
    };
  }
};

TEST(QtUi, NoticesFromOtherThreadsComeOneAtATime) {
  FakeScreen screen;
  ScopedQtUi ui({}, screen.fn());
  std::thread camera([] {
    notify("cannot connect", "warning");
    notify("cannot connect", "warning");  // the same again: not stacked
    notify("disk full", "WARNING");
  });
  camera.join();
  ASSERT_TRUE(process_until([&] { return screen.shown.size() == 1; }, 3000));
  process_for(100);
  ASSERT_EQ(screen.shown.size(), 1u);  // the next waits until this one is closed
  EXPECT_EQ(screen.shown[0], "warning: cannot connect");
  EXPECT_TRUE(ui->notice_on_screen());

  // While it is on screen, the same text is not queued again.
  std::thread([] { notify("cannot connect", "warning"); }).join();
  screen.close[0]();
  ASSERT_TRUE(process_until([&] { return screen.shown.size() == 2; }, 3000));
  EXPECT_EQ(screen.shown[1], "WARNING: disk full");
  screen.close[1]();
  process_for(100);
  EXPECT_EQ(screen.shown.size(), 2u);
  EXPECT_FALSE(ui->notice_on_screen());

  // Once closed, the same text may come again.
  std::thread([] { notify("cannot connect", "warning"); }).join();
  ASSERT_TRUE(process_until([&] { return screen.shown.size() == 3; }, 3000));
  screen.close[2]();
}

TEST(QtUi, NoticesWaitWhileAModalWindowIsOpen) {
  FakeScreen screen;
  ScopedQtUi ui({}, screen.fn());
  QDialog dialog;
  dialog.setModal(true);
  dialog.show();
  ASSERT_EQ(QApplication::activeModalWidget(), &dialog);
  std::thread([] {
    for (int i = 0; i < 20; ++i) notify("recording stopped", "warning");
    notify("reconnecting", "");
  }).join();
  process_for(600);
  EXPECT_TRUE(screen.shown.empty());
  dialog.close();
  // Nothing was lost, and twenty identical notices made one box.
  ASSERT_TRUE(process_until([&] { return screen.shown.size() == 1; }, 3000));
  screen.close[0]();
  ASSERT_TRUE(process_until([&] { return screen.shown.size() == 2; }, 3000));
  screen.close[1]();
  process_for(300);
  EXPECT_EQ(screen.shown, (std::vector<std::string>{"warning: recording stopped", ": reconnecting"}));
}

TEST(QtUi, PostedMessagesReachTheHandlerOnTheUiThread) {
  ScopedQtUi ui;
  std::vector<std::uintptr_t> got;
  std::thread::id handled_on;
  ui->set_message_handler([&](std::uint32_t msg, std::uintptr_t, std::uintptr_t lparam) {
    EXPECT_EQ(msg, kMsgCameraRefused);
    got.push_back(lparam);
    handled_on = std::this_thread::get_id();
  });
  std::thread([] {
    post_to_main_window(kMsgCameraRefused, 0, 42);
    post_to_main_window(kMsgCameraRefused, 0, 43);
  }).join();
  ASSERT_TRUE(process_until([&] { return got.size() == 2; }, 3000));
  EXPECT_EQ(got, (std::vector<std::uintptr_t>{42, 43}));
  EXPECT_EQ(handled_on, std::this_thread::get_id());

  // Without a handler (the window is gone) posts are dropped.
  ui->set_message_handler({});
  std::thread([] { post_to_main_window(kMsgCameraRefused, 0, 44); }).join();
  process_for(100);
  EXPECT_EQ(got.size(), 2u);
}

TEST(QtUi, QuestionsOnTheUiThreadOnly) {
  std::vector<std::string> asked;
  ScopedQtUi ui(
      [&](std::string_view text, std::string_view, MsgButtons) {
        asked.emplace_back(text);
        return MsgAnswer::Cancel;
      },
      {});
  EXPECT_EQ(ask("delete?", "WARNING", MsgButtons::OkCancel), MsgAnswer::Cancel);
  MsgAnswer off_thread = MsgAnswer::Ok;
  std::thread([&] { off_thread = ask("never shown", "", MsgButtons::Ok); }).join();
  EXPECT_EQ(off_thread, MsgAnswer::Refused);
  EXPECT_EQ(asked, (std::vector<std::string>{"delete?"}));
}

}  // namespace
}  // namespace platform
